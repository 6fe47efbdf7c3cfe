// JSON: the record as one object (title, the format read, wavelengths, scan,
// warnings, intensities and, when the file gave them, uncertainties), for
// scripts. Written only. Strings are UTF-8: a text that is not valid UTF-8 is
// taken as Latin-1 and said so.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/json_text.h"
#include "formats/registry.h"
#include "formats/text_points.h"

namespace qelda {

namespace {

// Length of the UTF-8 sequence that starts at `s[i]` (RFC 3629: no overlong
// forms, no surrogates, nothing past U+10FFFF), or 0 when none does.
std::size_t utf8_sequence(std::string_view s, std::size_t i) noexcept {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

void append_escaped(std::string& out, unsigned char u) {
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[u >> 4];
    out += kHex[u & 0xF];
}

}  // namespace

std::size_t utf8_valid_prefix(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t n = utf8_sequence(s, i);
        if (n == 0) break;
        i += n;
    }
    return i;
}

bool append_json_string(std::string& out, std::string_view s) {
    const bool utf8 = utf8_valid_prefix(s) == s.size();
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            append_escaped(out, u);
        } else if (u < 0x80 || utf8) {
            out += c;
        } else if (u < 0xA0) {
            append_escaped(out, u);  // Latin-1's C1 controls
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    out += '"';
    return utf8;
}

void append_json_number(std::string& out, float v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    char* end;
    // Counts are mostly whole numbers: print them as integers, without the
    // shortest-float search.
    if (v > -16777216.0f && v < 16777216.0f && v == static_cast<float>(static_cast<int32_t>(v)) &&
        !(v == 0.0f && std::signbit(v)))
        end = std::to_chars(buf, buf + sizeof buf, static_cast<int32_t>(v)).ptr;
    else
        end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    out.append(buf, end);
}

namespace {

void append_json_array(std::string& out, const char* key, const PointArray& a, int32_t n) {
    out += ",\"";
    out += key;
    out += "\":[";
    for (int32_t i = 1; i <= n; ++i) {
        if (i > 1) out += ',';
        append_json_number(out, a(i));
    }
    out += ']';
}

// True when what follows the first `valid` bytes is the start of one UTF-8
// character that the end of the text cut short.
bool cut_inside_character(std::string_view s, std::size_t valid) noexcept {
    if (valid >= s.size()) return false;
    const auto c = static_cast<unsigned char>(s[valid]);
    const std::size_t need = c >= 0xF0 && c <= 0xF4   ? 4
                             : c >= 0xE0 && c <= 0xEF ? 3
                             : c >= 0xC2 && c <= 0xDF ? 2
                                                      : 0;
    if (need == 0 || s.size() - valid >= need) return false;
    for (std::size_t k = valid + 1; k < s.size(); ++k)
        if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80) return false;
    return true;
}

// The title as the record holds it, without its padding. A title cut to the
// record's 60 bytes inside a UTF-8 character loses that character's first
// bytes, with a warning, rather than turning the whole title into Latin-1.
std::string_view json_title(Workspace& ws) {
    std::string_view title = trim_right(ws.record().title);
    const std::size_t valid = utf8_valid_prefix(title);
    if (title.size() == kTitleLength && cut_inside_character(title, valid)) {
        const std::size_t dropped = title.size() - valid;
        ws.warn("title cut inside a character at " + std::to_string(kTitleLength) + " bytes: its " +
                std::to_string(dropped) + (dropped == 1 ? " byte" : " bytes") + " dropped");
        title = trim_right(title.substr(0, valid));
    } else if (valid < title.size()) {
        ws.warn("title is not UTF-8: read as Latin-1");
    }
    return title;
}

// The scan of a file of several, with what its file states of it:
// "scan":{"number":3,"count":22,"axis":"COUPLED","chi":-0.17,"temperature":313.69,...}.
void append_scan(std::string& out, const ScanInfo& scan, float count_time) {
    const int32_t number = std::max(scan.number, 1);
    out += ",\"scan\":{\"number\":" + std::to_string(number);
    out += ",\"count\":" + std::to_string(std::max(scan.count, number));
    if (!scan.axis.empty()) {
        out += ",\"axis\":";
        append_json_string(out, scan.axis);
    }
    const std::pair<const char*, const std::optional<double>*> values[] = {
        {"omega", &scan.omega},
        {"chi", &scan.chi},
        {"phi", &scan.phi},
        {"temperature", &scan.temperature},
    };
    for (const auto& [key, value] : values) {
        if (!value->has_value() || !std::isfinite(**value)) continue;
        char buf[32];
        const auto res = std::to_chars(buf, buf + sizeof buf, **value);
        out += ",\"";
        out += key;
        out += "\":";
        out.append(buf, res.ptr);
    }
    if (!scan.measured_at.empty()) {
        out += ",\"measured_at\":";
        append_json_string(out, scan.measured_at);
    }
    out += ",\"count_time\":";
    append_json_number(out, count_time);
    out += '}';
}

ConversionStatus write_json(Workspace& ws) {
    OutputUnit& unit = ws.output();
    if (!unit.is_open()) return ConversionStatus::record_error;
    const PowderPattern& r = ws.record();
    const std::string_view title = json_title(ws);
    const FormatInfo* read_format = find_format(ws.session().input_format);
    const int32_t n = std::clamp(r.point_count, 0, kPointCapacity);

    std::string out;
    out.reserve(512 + static_cast<std::size_t>(n) * (ws.has_sigma ? 20 : 10));
    out += "{\"title\":";
    append_json_string(out, title);
    out += ",\"format\":";
    append_json_string(out, read_format ? read_format->short_name : std::string_view("?"));
    const std::pair<const char*, float> scalars[] = {
        {"lambda1", r.lambda1},
        {"lambda2", r.lambda2},
        {"alpha_ratio", r.alpha_ratio},
        {"two_theta_start", r.two_theta_start},
        {"two_theta_end", r.two_theta_end},
        {"two_theta_step", r.two_theta_step},
        {"count_time", r.count_time},
    };
    for (const auto& [key, value] : scalars) {
        out += ",\"";
        out += key;
        out += "\":";
        append_json_number(out, value);
    }
    out += ",\"point_count\":" + std::to_string(r.point_count);
    if (ws.options.all_scans) append_scan(out, ws.scan, r.count_time);
    out += ",\"warnings\":[";
    for (std::size_t i = 0; i < ws.warnings.size(); ++i) {
        if (i > 0) out += ',';
        // Warnings quote file names and file text; those that are not UTF-8
        // are shown as Latin-1 too, without a warning about a warning.
        append_json_string(out, ws.warnings[i]);
    }
    out += ']';
    // Angles stated one by one, or another axis: the x of every point.
    if (per_point_x(ws)) {
        const Axis axis = ws.pattern_options.axis;
        if (axis != Axis::two_theta) {
            out += ",\"axis\":";
            append_json_string(out, axis_label(axis));
            out += ",\"axis_unit\":";
            append_json_string(out, axis_unit(axis));
        }
        out += axis == Axis::d ? ",\"d\":[" : axis == Axis::q ? ",\"q\":[" : ",\"two_theta\":[";
        for (int32_t i = 0; i < n; ++i) {
            if (i > 0) out += ',';
            append_json_number(out, point_x(ws, i));
        }
        out += ']';
    }
    append_json_array(out, "intensity", r.intensity, n);
    if (ws.has_sigma) append_json_array(out, "sigma", r.sigma, n);
    out += "}\n";
    unit.append_bytes(out);
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus json_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        if (mode == CodecMode::write) return write_json(ws);
        return ws.fail(ConversionStatus::not_available, "JSON is written, not read");
    });
}

}  // namespace qelda
