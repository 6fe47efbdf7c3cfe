// Rigaku RAS files: text, read only. Between "*RAS_DATA_START" and
// "*RAS_DATA_END" come one or more scans, each a header and its rows:
//
//   *RAS_HEADER_START
//   *KEY "value"                   MEAS_SCAN_AXIS_X(_INTERNAL), MEAS_SCAN_START, _STOP, _STEP,
//   ...                            MEAS_SCAN_SPEED(_UNIT), MEAS_SCAN_UNIT_Y ("counts" or "cps"),
//                                  HW_XG_WAVE_LENGTH_ALPHA1, _ALPHA2, _BETA,
//                                  MEAS_COND_XG_WAVE_TYPE, FILE_SAMPLE, FILE_COMMENT
//   *RAS_HEADER_END
//   *RAS_INT_START
//   26.5000 51.4986 1.0000         angle, intensity, attenuation factor
//   *RAS_INT_END
#include "formats/rigaku_ras.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

#include "core/codec_guard.h"
#include "formats/codecs.h"

namespace qelda {

namespace {

bool next_line(std::string_view text, std::size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    const auto end = text.find('\n', pos);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    line = text.substr(pos, stop - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    return true;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

}  // namespace

bool parse_ras_rows(std::string_view text, int32_t first_line, InstrumentScan& scan,
                    std::string& why, int32_t* failed_line) {
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    const std::size_t limit = static_cast<std::size_t>(kPointCapacity) + 1;
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = first_line - 1;
    std::vector<double> row;
    std::vector<double> factors;
    bool attenuated = false;
    std::string bad;
    while (next_line(text, pos, line) && scan.counts.size() < limit) {
        ++line_no;
        if (trim(line).empty()) continue;
        row.clear();
        std::vector<int8_t> decimals;
        if (!parse_number_list(line, row, &decimals, 4, bad)) {
            why = "line " + std::to_string(line_no) + ": '" + bad + "' is not a number";
            if (failed_line != nullptr) *failed_line = line_no;
            return false;
        }
        if (row.size() < 2) {
            why = "line " + std::to_string(line_no) +
                  ": a data row holds an angle and an intensity, found '" +
                  std::string(trim(line).substr(0, 40)) + "'";
            if (failed_line != nullptr) *failed_line = line_no;
            return false;
        }
        const double factor = row.size() >= 3 ? row[2] : 1.0;
        scan.angles.push_back(row[0]);
        scan.decimals.push_back(decimals[0]);
        scan.counts.push_back(row[1] * factor);
        factors.push_back(factor);
        attenuated = attenuated || factor != 1.0;
    }
    if (attenuated) {
        // An intensity c read through an attenuator of factor f becomes c*f,
        // with the uncertainty sqrt(c)*f.
        scan.sigma.resize(scan.counts.size());
        for (std::size_t i = 0; i < scan.counts.size(); ++i)
            scan.sigma[i] =
                static_cast<float>(std::sqrt(std::fabs(scan.counts[i]) * std::fabs(factors[i])));
    }
    return true;
}

double rigaku_time_per_step(double speed, std::string_view unit, double step) noexcept {
    std::string folded;
    for (char c : trim(unit)) folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (!(speed > 0.0) || !std::isfinite(speed)) return 0.0;
    if (folded == "s" || folded == "sec" || folded == "sec." || folded == "seconds") return speed;
    const double per = folded.ends_with("/min")                             ? 60.0
                       : folded.ends_with("/s") || folded.ends_with("/sec") ? 1.0
                                                                            : 0.0;
    if (per == 0.0 || !std::isfinite(step) || step == 0.0) return 0.0;
    return std::fabs(step) / speed * per;
}

std::optional<Wavelengths> rigaku_wavelengths(std::string_view alpha1, std::string_view alpha2,
                                              std::string_view beta, std::string_view wave_type,
                                              const std::string& where,
                                              std::vector<std::string>& notes) {
    double a1 = 0, a2 = 0, b = 0;
    const std::string_view type = trim(wave_type);
    Wavelengths w;
    if ((type == "Kb" || type == "KB") && parse_number(trim(beta), b) && b > 0.0) {
        w.alpha1 = static_cast<float>(b);
        return w;
    }
    if (!parse_number(trim(alpha1), a1) || !(a1 > 0.0)) return std::nullopt;
    w.alpha1 = static_cast<float>(a1);
    if (type == "Ka1" || type == "KA1") return w;
    if (parse_number(trim(alpha2), a2) && a2 > a1) {
        w.alpha2 = static_cast<float>(a2);
        w.ratio = 0.5f;
        notes.push_back(where + " gives no intensity ratio of K-alpha2 to K-alpha1; 0.5 taken");
    }
    return w;
}

namespace {

using RasHeader = std::map<std::string, std::string, std::less<>>;

// A scan: its rows and the header that came last before them.
struct RasBlock {
    const RasHeader* header = nullptr;
    std::string_view rows;
    int32_t first_line = 0;
};

// No instrument writes this many scans into one file; the cap bounds memory.
constexpr std::size_t kMaxScans = 100000;

std::string_view value_of(const RasBlock& b, std::string_view key) {
    const auto it = b.header->find(key);
    return it == b.header->end() ? std::string_view{} : std::string_view(it->second);
}

// *KEY "value" as key and value; false for lines of another shape.
bool header_entry(std::string_view line, std::string& key, std::string& value) {
    if (line.empty() || line[0] != '*') return false;
    const auto space = line.find_first_of(" \t");
    key = std::string(line.substr(1, space == std::string_view::npos ? line.npos : space - 1));
    value.clear();
    if (space == std::string_view::npos) return true;
    std::string_view rest = trim(line.substr(space));
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
    value = std::string(rest);
    return true;
}

// The positions of the axes that stand still, from the numbered axis names and
// positions of the header. Omega is taken only beside a scan of 2theta alone:
// in a coupled scan it moves.
void fixed_angles(const RasBlock& b, std::string_view scan_axis, InstrumentScan& s) {
    std::string folded;
    for (const char c : scan_axis)
        if (c != '-' && c != ' ' && c != '_') folded += static_cast<char>(c | 0x20);
    const bool detector_only = folded == "2theta" || folded == "twotheta";
    constexpr int kAxes = 64;  // headers number some 40 axes
    for (int i = 0; i < kAxes; ++i) {
        const std::string n = std::to_string(i);
        const std::string_view name = trim(value_of(b, "MEAS_COND_AXIS_NAME-" + n));
        double v = 0;
        if (name.empty() || !parse_number(trim(value_of(b, "MEAS_COND_AXIS_POSITION-" + n)), v))
            continue;
        if (name == "Chi" && folded != "chi") s.chi = v;
        if (name == "Phi" && folded != "phi") s.phi = v;
        if (name == "Omega" && detector_only) s.omega = v;
    }
}

ConversionStatus load_block(const RasBlock& b, const std::string& where, InstrumentScan& s,
                            Workspace& ws) {
    s = InstrumentScan{};
    const std::string_view internal = trim(value_of(b, "MEAS_SCAN_AXIS_X_INTERNAL"));
    const std::string_view shown = trim(value_of(b, "MEAS_SCAN_AXIS_X"));
    s.axis = std::string(shown.empty() ? internal : shown);
    s.two_theta = is_two_theta_axis(internal.empty() ? shown : internal);
    parse_number(trim(value_of(b, "MEAS_SCAN_START")), s.start);
    parse_number(trim(value_of(b, "MEAS_SCAN_STOP")), s.stop);
    parse_number(trim(value_of(b, "MEAS_SCAN_STEP")), s.step);
    double speed = 0;
    parse_number(trim(value_of(b, "MEAS_SCAN_SPEED")), speed);
    s.count_time = rigaku_time_per_step(speed, value_of(b, "MEAS_SCAN_SPEED_UNIT"), s.step);
    s.per_second = trim(value_of(b, "MEAS_SCAN_UNIT_Y")) == "cps";
    s.wavelengths = rigaku_wavelengths(value_of(b, "HW_XG_WAVE_LENGTH_ALPHA1"),
                                       value_of(b, "HW_XG_WAVE_LENGTH_ALPHA2"),
                                       value_of(b, "HW_XG_WAVE_LENGTH_BETA"),
                                       value_of(b, "MEAS_COND_XG_WAVE_TYPE"), where, s.notes);
    s.title = std::string(trim(value_of(b, "FILE_SAMPLE")));
    if (s.title.empty()) s.title = std::string(trim(value_of(b, "FILE_COMMENT")));
    fixed_angles(b, internal.empty() ? shown : internal, s);
    s.measured_at = std::string(trim(value_of(b, "MEAS_SCAN_START_TIME")));
    std::string why;
    int32_t failed_line = 0;
    if (!parse_ras_rows(b.rows, b.first_line, s, why, &failed_line)) {
        // The headline counts the lines read before the one that failed.
        ws.record().lines_read = std::max(failed_line - 1, 0);
        return ws.fail(ConversionStatus::record_error, where + ", " + why);
    }
    return ConversionStatus::done;
}

ConversionStatus read_ras(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    std::string_view text = ws.input().bytes();
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    bool started = false;
    bool ended = false;
    while (!started && next_line(text, pos, line)) {
        ++line_no;
        if (trim(line).empty()) continue;
        if (trim(line) != "*RAS_DATA_START")
            return ws.fail(ConversionStatus::not_available,
                           file + " does not start with *RAS_DATA_START: not a Rigaku RAS file");
        started = true;
    }
    if (!started)
        return ws.fail(ConversionStatus::not_available, file + " is empty: not a Rigaku RAS file");

    std::vector<RasBlock> blocks;
    std::deque<RasHeader> headers(1);  // stable addresses as headers are added
    RasBlock current;
    std::string key, value;
    bool in_header = false;
    bool header_used = false;
    while (!ended && next_line(text, pos, line)) {
        ++line_no;
        const std::string_view t = trim(line);
        if (t == "*RAS_HEADER_START") {
            // A new header, unless the last one is empty and no scan uses it.
            if (!headers.back().empty() || header_used) headers.emplace_back();
            header_used = false;
            in_header = true;
        } else if (t == "*RAS_HEADER_END") {
            in_header = false;
        } else if (t == "*RAS_INT_START") {
            current.first_line = line_no + 1;
            const std::size_t begin = pos;
            std::size_t end = std::string_view::npos;
            while (next_line(text, pos, line)) {
                ++line_no;
                if (trim(line) == "*RAS_INT_END") {
                    end = static_cast<std::size_t>(line.data() - text.data());
                    break;
                }
            }
            if (end == std::string_view::npos)
                return ws.fail(ConversionStatus::premature_end,
                               file + " ends inside scan " + std::to_string(blocks.size() + 1) +
                                   " (no *RAS_INT_END after line " +
                                   std::to_string(current.first_line - 1) + ")");
            if (blocks.size() == kMaxScans)
                return ws.fail(ConversionStatus::record_error,
                               file + ", line " + std::to_string(current.first_line - 1) +
                                   ": more than " + std::to_string(kMaxScans) + " scans");
            current.rows = text.substr(begin, end - begin);
            current.header = &headers.back();
            header_used = true;
            blocks.push_back(current);
            in_header = false;
        } else if (t == "*RAS_DATA_END") {
            ended = true;
        } else if (in_header && header_entry(t, key, value)) {
            headers.back().insert_or_assign(key, value);
        }
    }
    if (!ended)
        return ws.fail(
            ConversionStatus::premature_end,
            file + " ends before *RAS_DATA_END (after line " + std::to_string(line_no) + ")");
    if (blocks.empty())
        return ws.fail(ConversionStatus::premature_end,
                       file + " holds no *RAS_INT_START block of data");
    const auto count = static_cast<int32_t>(blocks.size());
    return convert_scan(ws, count, [&](int32_t i, InstrumentScan& s) {
        return load_block(blocks[static_cast<std::size_t>(i)],
                          count == 1 ? file : file + ", scan " + std::to_string(i + 1), s, ws);
    });
}

}  // namespace

ConversionStatus rigaku_ras_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_ras(ws);
    });
}

}  // namespace qelda
