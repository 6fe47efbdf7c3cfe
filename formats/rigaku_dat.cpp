// Rigaku text exports (RINT, Ultima, MiniFlex: .dat, .asc), read only. A file
// header of "*KEY = value" lines, then one group per scan, each a header of
// the same kind and the counts:
//
//   *TYPE           =  Raw              first line
//   *GROUP_COUNT    =  1                groups in the file
//   *SCAN_AXIS      =  2 Theta / Theta  (file or group header)
//   *XRAY_CHAR      =  K-ALPHA1         K-ALPHA, K-ALPHA1 or K-BETA
//   *WAVE_LENGTH1   =  1.54056          (Å)
//   *WAVE_LENGTH2   =  1.5444
//   *SPEED_DIM      =  sec./step(FT)    or deg./min.
//   *YUNIT          =  cps
//   *BEGIN                              a group
//   *START          =  10.0000
//   *STOP           =  103.1200
//   *STEP           =  0.0200
//   *SPEED          =  10
//   *COUNT          =  4657             points of the group
//    1048, 1162, 1108, 1163             counts, separated by commas
//   *END
//   *EOF
//
// Lines beginning with "#" are comments. The exports write the counts of each
// step under *YUNIT cps; the same measurements saved in other formats hold
// the same numbers as counts, so they are kept as the file gives them.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/rigaku_ras.h"
#include "formats/signatures.h"
#include "formats/text_lines.h"

namespace qelda {
namespace {

using Header = std::map<std::string, std::string, std::less<>>;

struct Group {
    Header header;
    std::vector<double> counts;
    int32_t begin_line = 0;
};

// No instrument writes this many groups into one file; the cap bounds memory.
constexpr std::size_t kMaxGroups = 10000;

std::string_view value_of(const Header& h, std::string_view key) {
    const auto it = h.find(key);
    return it == h.end() ? std::string_view{} : std::string_view(it->second);
}

// The group's value of a key, else the file's.
std::string_view lookup(const Group& g, const Header& file, std::string_view key) {
    const std::string_view v = value_of(g.header, key);
    return v.empty() ? value_of(file, key) : v;
}

ConversionStatus load_group(Workspace& ws, const Group& g, const Header& file,
                            const std::string& where, InstrumentScan& s) {
    s = InstrumentScan{};
    s.axis = std::string(trim(lookup(g, file, "SCAN_AXIS")));
    if (s.axis.empty()) s.axis = std::string(trim(lookup(g, file, "SCAN_MODE")));
    s.two_theta = is_two_theta_axis(s.axis);
    double count = 0;
    if (!parse_number(trim(lookup(g, file, "START")), s.start) ||
        !parse_number(trim(lookup(g, file, "STEP")), s.step) ||
        !parse_number(trim(lookup(g, file, "COUNT")), count))
        return ws.fail(ConversionStatus::record_error,
                       where + ": its header lacks a number among *START, *STEP and *COUNT");
    parse_number(trim(lookup(g, file, "STOP")), s.stop);
    if (count != static_cast<double>(g.counts.size()))
        return ws.fail(ConversionStatus::record_error,
                       where + " holds " + std::to_string(g.counts.size()) +
                           " counts; its *COUNT states " + number_text(count));
    if (std::isfinite(s.stop) && s.step != 0.0 && !g.counts.empty()) {
        const double by_range = (s.stop - s.start) / s.step + 1.0;
        if (std::fabs(by_range - count) > 0.01)
            return ws.fail(ConversionStatus::record_error,
                           where + ": *START " + number_text(s.start) + ", *STOP " +
                               number_text(s.stop) + " and *STEP " + number_text(s.step) +
                               " make " + number_text(by_range) + " points; *COUNT states " +
                               number_text(count));
    }
    s.counts = g.counts;

    double speed = 0;
    parse_number(trim(lookup(g, file, "SPEED")), speed);
    const std::string_view dim = trim(lookup(g, file, "SPEED_DIM"));
    const std::string_view unit = dim.starts_with("sec")                       ? "sec"
                                  : dim.find("/min") != std::string_view::npos ? "deg/min"
                                  : dim.find("/s") != std::string_view::npos   ? "deg/s"
                                                                               : "";
    s.count_time = rigaku_time_per_step(speed, unit, s.step);

    const std::string_view xray = trim(lookup(g, file, "XRAY_CHAR"));
    // K-beta alone: the file does not say which of its wavelengths is that line.
    if (xray != "K-BETA")
        s.wavelengths =
            rigaku_wavelengths(lookup(g, file, "WAVE_LENGTH1"), lookup(g, file, "WAVE_LENGTH2"), {},
                               xray == "K-ALPHA1" ? "Ka1" : "", where, s.notes);
    s.title = std::string(trim(value_of(file, "SAMPLE")));
    if (s.title.empty()) s.title = std::string(trim(value_of(file, "COMMENT")));
    if (trim(lookup(g, file, "YUNIT")) == "cps")
        s.notes.push_back(where +
                          " names its intensity unit cps (*YUNIT); the counts are kept as the "
                          "file gives them");
    return ConversionStatus::done;
}

ConversionStatus read_dat(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    std::string_view text = ws.input().bytes();
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    Header file_header;
    std::vector<Group> groups;
    bool begun = false, in_group = false, ended = false;
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    std::string bad;
    auto at_line = [&] { return file + ", line " + std::to_string(line_no); };
    while (!ended && next_text_line(text, pos, line)) {
        ++line_no;
        const std::string_view t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (!begun && !t.starts_with("*TYPE"))
            return ws.fail(ConversionStatus::not_available,
                           file + " does not begin with *TYPE: not a Rigaku text file");
        begun = true;
        if (t[0] == '*') {
            if (t.starts_with("*BEGIN")) {
                if (in_group)
                    return ws.fail(ConversionStatus::record_error,
                                   at_line() + ": *BEGIN inside a group (no *END after line " +
                                       std::to_string(groups.back().begin_line) + ")");
                if (groups.size() == kMaxGroups)
                    return ws.fail(
                        ConversionStatus::record_error,
                        at_line() + ": more than " + std::to_string(kMaxGroups) + " groups");
                groups.emplace_back();
                groups.back().begin_line = line_no;
                in_group = true;
            } else if (t.starts_with("*END")) {
                if (!in_group)
                    return ws.fail(ConversionStatus::record_error,
                                   at_line() + ": *END without *BEGIN");
                in_group = false;
            } else if (t.starts_with("*EOF")) {
                ended = true;
            } else {
                const auto eq = t.find('=');
                const std::string key(trim(t.substr(1, eq == t.npos ? t.npos : eq - 1)));
                const std::string value(eq == t.npos ? std::string_view{} : trim(t.substr(eq + 1)));
                Header& h = in_group ? groups.back().header : file_header;
                h.emplace(key, value);  // the first of repeated keys counts
            }
            continue;
        }
        if (!in_group)
            return ws.fail(ConversionStatus::record_error,
                           at_line() + ": counts outside a *BEGIN ... *END group");
        std::string row(t);
        for (char& c : row)
            if (c == ',') c = ' ';
        auto& counts = groups.back().counts;
        if (!parse_number_list(row, counts, nullptr, kPointCapacity + 1, bad))
            return ws.fail(ConversionStatus::record_error,
                           at_line() + ": '" + bad + "' is not a number");
        if (counts.size() > static_cast<std::size_t>(kPointCapacity))
            return ConversionStatus::too_many_points;
    }
    if (in_group)
        return ws.fail(ConversionStatus::premature_end,
                       file + " ends inside group " + std::to_string(groups.size()) +
                           " (no *END after line " + std::to_string(groups.back().begin_line) +
                           ")");
    if (groups.empty())
        return ws.fail(ConversionStatus::premature_end, file + " holds no *BEGIN group of data");
    double stated = 0;
    if (parse_number(trim(value_of(file_header, "GROUP_COUNT")), stated) &&
        stated != static_cast<double>(groups.size()))
        return ws.fail(!ended && stated > static_cast<double>(groups.size())
                           ? ConversionStatus::premature_end
                           : ConversionStatus::record_error,
                       file + " holds " + std::to_string(groups.size()) +
                           (groups.size() == 1 ? " group" : " groups") +
                           "; its *GROUP_COUNT states " + number_text(stated));
    const auto count = static_cast<int32_t>(groups.size());
    return convert_scan(ws, count, [&](int32_t i, InstrumentScan& s) {
        return load_group(ws, groups[static_cast<std::size_t>(i)], file_header,
                          count == 1 ? file : file + ", group " + std::to_string(i + 1), s);
    });
}

}  // namespace

std::optional<std::string> rigaku_dat_signature(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    const auto first = head.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || !head.substr(first).starts_with("*TYPE"))
        return std::nullopt;
    if (head.find("*BEGIN") == std::string_view::npos && head.size() < 64 * 1024)
        return std::nullopt;
    return "begins with *TYPE and holds *BEGIN groups";
}

ConversionStatus rigaku_dat_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_dat(ws);
    });
}

}  // namespace qelda
