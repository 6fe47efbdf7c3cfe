#include "formats/instrument_scan.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/even_grid.h"
#include "core/pattern_options.h"
#include "core/prompts.h"

namespace qelda {
std::string number_text(double v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
    return std::string(buf, res.ptr);
}

namespace {

std::string axis_phrase(const std::string& axis) {
    if (axis.empty()) return "a scan whose axis the file does not name";
    const char first = axis[0];
    const bool vowel = first == 'O' || first == 'o' || first == 'X' || first == 'A' ||
                       first == 'E' || first == 'I' || first == 'U';
    return std::string(vowel ? "an " : "a ") + axis + " scan";
}

constexpr const char* kOnlyTwoTheta =
    "; only 2theta scans are converted unless any scan axis is allowed";

// Stores a loaded scan in the record: angles from the listed positions (which
// must lie on an even grid) or from start and step, intensities per step, the
// count time, the wavelengths (asked for when the file names none) and the title.
ConversionStatus store_scan(Workspace& ws, const InstrumentScan& s, const std::string& where) {
    PowderPattern& r = ws.record();
    const std::size_t n = s.counts.size();
    if (n == 0) return ws.fail(ConversionStatus::premature_end, where + " holds no data points");
    if (n > static_cast<std::size_t>(std::min(r.max_points, kPointCapacity)))
        return ConversionStatus::too_many_points;
    if (!s.angles.empty() && s.angles.size() != n)
        return ws.fail(ConversionStatus::record_error,
                       where + " lists " + std::to_string(s.angles.size()) + " angles for " +
                           std::to_string(n) + " intensities");

    const double start = s.angles.empty() ? s.start : s.angles.front();
    double step = s.step;
    if (!std::isfinite(step)) {
        if (n == 1)
            step = 0.0;
        else if (!s.angles.empty())
            step = (s.angles.back() - s.angles.front()) / static_cast<double>(n - 1);
        else
            step = (s.stop - s.start) / static_cast<double>(n - 1);
    }
    if (!std::isfinite(start))
        return ws.fail(ConversionStatus::record_error, where + " states no start angle");
    if (!std::isfinite(step))
        return ws.fail(ConversionStatus::record_error, where + " states no step or end angle");
    bool stated_each = false;
    if (!s.angles.empty()) {
        if (const auto miss = first_off_grid(s.angles, s.decimals, start, step)) {
            // A stated step the angles do not follow contradicts them.
            if (std::isfinite(s.step))
                return ws.fail(ConversionStatus::record_error,
                               off_grid_reason(where + ", point " + std::to_string(miss->index + 1),
                                               s.angles[miss->index], miss->off, start, step));
            ws.warn(off_grid_note(where + ", point " + std::to_string(miss->index + 1),
                                  s.angles[miss->index]));
            stated_each = true;
        }
    }

    double scale = 1.0;
    if (s.per_second) {
        if (s.count_time > 0.0) {
            scale = s.count_time;
            ws.warn(where + " gives counts per second; multiplied by the counting time of " +
                    number_text(s.count_time) + " s per step");
        } else {
            ws.warn(where +
                    " gives counts per second and no counting time; kept as counts per second");
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto value = static_cast<float>(s.counts[i] * scale);
        if (!std::isfinite(value))
            return ws.fail(ConversionStatus::record_error,
                           where + ", point " + std::to_string(i + 1) + ": intensity " +
                               number_text(s.counts[i]) + " is too large to hold");
        const auto point = static_cast<int32_t>(i + 1);
        r.intensity(point) = value;
        r.sigma(point) = s.sigma.empty() ? 0.0f : static_cast<float>(s.sigma[i] * scale);
    }
    r.point_count = static_cast<int32_t>(n);
    r.two_theta_start = static_cast<float>(start);
    r.two_theta_step = static_cast<float>(step);
    r.two_theta_end = static_cast<float>(start + static_cast<double>(n - 1) * step);
    if (stated_each) {
        r.angles = s.angles;
        set_range_from_angles(r);
    }
    r.count_time = static_cast<float>(s.count_time);
    r.set_title(s.title);
    if (s.wavelengths) {
        r.lambda1 = s.wavelengths->alpha1;
        r.lambda2 = s.wavelengths->alpha2;
        r.alpha_ratio = s.wavelengths->alpha2 > 0.0f ? s.wavelengths->ratio : 0.0f;
    } else {
        ask_wavelengths(ws);
    }
    for (const std::string& note : s.notes) ws.warn(note);
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus convert_scan(Workspace& ws, int32_t count, const ScanLoader& load) {
    const std::string file(ws.input().file_name());
    if (count < 1) return ws.fail(ConversionStatus::premature_end, file + " holds no scan");
    const int32_t asked = std::max<int32_t>(ws.options.scan, 1);
    if (asked > count)
        return ws.fail(ConversionStatus::not_available, file + " holds " + std::to_string(count) +
                                                            (count == 1 ? " scan" : " scans") +
                                                            "; there is no scan " +
                                                            std::to_string(asked));

    ws.scan.count = count;
    InstrumentScan scan;
    int32_t chosen = asked - 1;
    if (asked > 1 || ws.options.any_axis) {
        const ConversionStatus s = load(chosen, scan);
        if (s != ConversionStatus::done) return s;
        ws.scan.axis_refused = !scan.two_theta && !ws.options.any_axis;
        if (ws.scan.axis_refused)
            return ws.fail(ConversionStatus::not_available,
                           file + ": scan " + std::to_string(asked) + " is " +
                               axis_phrase(scan.axis) + ", not a 2theta scan" + kOnlyTwoTheta);
    } else {
        std::string first_axis;
        chosen = -1;
        for (int32_t i = 0; i < count; ++i) {
            const ConversionStatus s = load(i, scan);
            if (s != ConversionStatus::done) return s;
            if (i == 0) first_axis = scan.axis;
            if (scan.two_theta) {
                chosen = i;
                break;
            }
        }
        if (chosen < 0) {
            ws.scan.axis_refused = true;
            if (count == 1)
                return ws.fail(ConversionStatus::not_available,
                               file + " holds " + axis_phrase(first_axis) + ", not a 2theta scan" +
                                   kOnlyTwoTheta);
            return ws.fail(ConversionStatus::not_available,
                           file + " holds " + std::to_string(count) +
                               " scans and none is a 2theta scan (scan 1 is " +
                               axis_phrase(first_axis) + ")" + kOnlyTwoTheta);
        }
    }

    ws.scan.number = chosen + 1;
    ws.scan.axis = scan.axis;
    ws.scan.omega = scan.omega;
    ws.scan.chi = scan.chi;
    ws.scan.phi = scan.phi;
    ws.scan.temperature = scan.temperature;
    ws.scan.measured_at = scan.measured_at;
    const std::string where = count == 1 ? file : file + ", scan " + std::to_string(chosen + 1);
    const ConversionStatus stored = store_scan(ws, scan, where);
    if (stored != ConversionStatus::done) return stored;
    if (count > 1 && !ws.options.all_scans)
        ws.warn(file + " holds " + std::to_string(count) + " scans; scan " +
                std::to_string(chosen + 1) + " converted");
    if (!scan.two_theta)
        ws.warn(where + " is " + axis_phrase(scan.axis) + "; its angles are stored as 2theta");
    return ConversionStatus::done;
}

bool is_two_theta_axis(std::string_view axis) noexcept {
    std::string folded;
    for (char c : axis) {
        if (c >= 'A' && c <= 'Z')
            folded += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            folded += c;
    }
    return folded == "gonio" || folded.find("2theta") != std::string::npos ||
           folded.find("twotheta") != std::string::npos;
}

bool parse_number(std::string_view text, double& value) noexcept {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text[0] == '+') return false;
    // from_chars would take "inf" and "nan"; a number starts with a digit, a
    // point or a minus sign.
    const char c = text[0] == '-' && text.size() > 1 ? text[1] : text[0];
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc{} && res.ptr == text.data() + text.size() && std::isfinite(value);
}

bool parse_number_list(std::string_view text, std::vector<double>& out,
                       std::vector<int8_t>* decimals, std::size_t limit, std::string& bad) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
            ++i;
        if (i == text.size()) break;
        std::size_t j = i;
        while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '\n' &&
               text[j] != '\r')
            ++j;
        const std::string_view token = text.substr(i, j - i);
        double v = 0.0;
        if (!parse_number(token, v)) {
            bad = std::string(token.substr(0, 40));
            return false;
        }
        if (out.size() >= limit) return true;
        out.push_back(v);
        if (decimals != nullptr)
            decimals->push_back(static_cast<int8_t>(std::min(printed_decimals(token), 20)));
        i = j;
    }
    return true;
}

std::string_view trim(std::string_view text) noexcept {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool parse_xml(std::string& text, pugi::xml_document& doc, std::string& why) {
    // What one element costs in the parsed tree, with its text node, at most.
    constexpr std::size_t kBytesPerMarkup = 128;
    if (text.size() > kMaxXmlBytes) {
        why = "its XML text holds " + std::to_string(text.size() >> 20) + " MB, more than the " +
              std::to_string(kMaxXmlBytes >> 20) + " MB of XML allowed for one scan";
        return false;
    }
    const auto markup = static_cast<std::size_t>(std::count(text.begin(), text.end(), '<'));
    if (markup * kBytesPerMarkup > 2 * text.size() + (std::size_t{64} << 20)) {
        why = "its XML holds " + std::to_string(markup) +
              " tags, too many to parse within the memory allowed";
        return false;
    }
    const pugi::xml_parse_result res =
        doc.load_buffer_inplace(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!res) {
        const auto at = static_cast<std::size_t>(std::max<std::ptrdiff_t>(res.offset, 0));
        const auto line =
            1 + std::count(text.begin(), text.begin() + std::min(at, text.size()), '\n');
        std::string what = res.description();
        if (!what.empty() && what[0] >= 'A' && what[0] <= 'Z')
            what[0] = static_cast<char>(what[0] + 32);
        why = "its XML is not well formed (line " + std::to_string(line) + ": " + what + ")";
        return false;
    }
    return true;
}

std::string_view local_name(pugi::xml_node node) noexcept {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child_named(pugi::xml_node node, std::string_view local) noexcept {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && local_name(c) == local) return c;
    return {};
}

pugi::xml_node descendant_named(pugi::xml_node node, std::string_view local) noexcept {
    // Walks the tree without recursion: files may nest deeply.
    pugi::xml_node cur = node.first_child();
    while (cur) {
        if (cur.type() == pugi::node_element && local_name(cur) == local) return cur;
        if (cur.first_child()) {
            cur = cur.first_child();
            continue;
        }
        while (cur && cur != node && !cur.next_sibling()) cur = cur.parent();
        if (!cur || cur == node) break;
        cur = cur.next_sibling();
    }
    return {};
}

std::string_view child_text(pugi::xml_node node, std::string_view local) noexcept {
    return trim(child_named(node, local).child_value());
}

ConversionStatus refuse_oversized(Workspace& ws) {
    if (ws.input().size() <= kMaxWholeFileBytes) return ConversionStatus::done;
    return ws.fail(ConversionStatus::not_available,
                   std::string(ws.input().file_name()) + " holds " +
                       std::to_string(ws.input().size() >> 20) +
                       " MB; files of this format above 256 MB are refused, no scan comes near it");
}

}  // namespace qelda
