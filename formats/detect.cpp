// Format detection by content. Three kinds of evidence, tried in this order,
// and the first kind that finds anything decides:
//   1. a signature at the start: "RAW_" Stoe raw, "RAW1.01"/"RAW4.00"/"RAW2"/
//      "RAW " Bruker raw, a zip archive (told by its member names), an XML
//      document (XRDML when it names the XRDMeasurement namespace), and the
//      start signatures kept beside the later readers (formats/signatures.h);
//   2. marker lines: "*RAS_DATA_START", UXD keys, "RawScan", a "BANK" record,
//      "data_" with "_pd_" tags, the "Range 1" and "Intensities" lines, and
//      the later readers' marker checks;
//   3. the shape of the lines: the Scintag ARD header, the DBW header record
//      (start, step, end) followed by rows of counts, the later readers' shape
//      checks (a title over start, step and end; a CSV header row), and, when
//      none fits, columns of two or three numbers (x-y).
// Where two formats of the deciding kind match, the guess names both and no
// format.
#include "formats/detect.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <span>

#include "formats/registry.h"
#include "formats/signatures.h"

namespace qelda {
namespace {

constexpr std::size_t kHeadBytes = 64 * 1024;
constexpr uint64_t kZipBound = uint64_t{256} << 20;
constexpr std::size_t kMaxLines = 4000;
constexpr std::size_t kMaxZipNames = 10000;

struct Finding {
    FormatId id;
    std::string why;
};

struct ReaderCheck {
    FormatId id;
    SignatureCheck check;
};

// The checks kept beside the readers of the later formats, by kind of evidence.
constexpr ReaderCheck kStartSignatures[] = {
    {FormatId::philips_rd, philips_rd_signature},
    {FormatId::nexus, nexus_signature},
};
constexpr ReaderCheck kMarkerSignatures[] = {
    {FormatId::rigaku_dat, rigaku_dat_signature},
    {FormatId::sietronics_cpi, sietronics_cpi_signature},
};
constexpr ReaderCheck kShapeSignatures[] = {
    {FormatId::riet7_dat, riet7_dat_signature},
    {FormatId::csv, csv_signature},
};

void run_checks(std::span<const ReaderCheck> checks, std::string_view head,
                std::vector<Finding>& found) {
    for (const auto& c : checks)
        if (auto why = c.check(head)) found.push_back({c.id, std::move(*why)});
}

std::string short_name(FormatId id) {
    const FormatInfo* f = find_format(id);
    return f ? std::string(f->short_name) : std::string("?");
}

ContentGuess decide(const std::vector<Finding>& found, std::string nothing) {
    ContentGuess g;
    if (found.empty()) {
        g.reason = std::move(nothing);
        return g;
    }
    for (const auto& f : found) g.candidates.push_back(f.id);
    if (found.size() == 1) {
        g.format = found[0].id;
        g.reason = found[0].why;
        return g;
    }
    g.reason = "cannot tell ";
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (i > 0) g.reason += i + 1 == found.size() ? " from " : ", ";
        g.reason += short_name(found[i].id) + " (" + found[i].why + ")";
    }
    return g;
}

bool starts_with(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

uint32_t le(std::string_view b, std::size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

// --- Zip archives: the member names stand uncompressed in the central
// directory at the end and in the local header before each member. ----------

std::vector<std::string> zip_names(std::string_view z) {
    std::vector<std::string> names;
    // The end-of-directory record: 22 bytes and a comment of up to 65535.
    std::optional<std::size_t> end;
    if (z.size() >= 22)
        for (std::size_t at = z.size() - 22;; --at) {
            if (starts_with(z.substr(at), "PK\x05\x06")) {
                end = at;
                break;
            }
            if (at == 0 || z.size() - at > 22 + 65535) break;
        }
    if (end) {
        const uint32_t size = le(z, *end + 12, 4);
        std::size_t at = le(z, *end + 16, 4);
        if (at <= *end && size <= *end - at) {
            const std::size_t stop = at + size;
            while (at + 46 <= stop && starts_with(z.substr(at), "PK\x01\x02") &&
                   names.size() < kMaxZipNames) {
                const std::size_t n = le(z, at + 28, 2);
                const std::size_t skip = n + le(z, at + 30, 2) + le(z, at + 32, 2);
                if (skip > stop - at - 46) break;
                names.emplace_back(z.substr(at + 46, n));
                at += 46 + skip;
            }
            if (!names.empty()) return names;
        }
    }
    // No usable directory (a cut archive): the local headers, one after another.
    std::size_t at = 0;
    while (at + 30 <= z.size() && starts_with(z.substr(at), "PK\x03\x04") &&
           names.size() < kMaxZipNames) {
        const std::size_t n = le(z, at + 26, 2);
        if (n > z.size() - at - 30) break;
        names.emplace_back(z.substr(at + 30, n));
        const uint64_t next = uint64_t{at} + 30 + n + le(z, at + 28, 2) + le(z, at + 18, 4);
        if (next <= at + 30 || next > z.size()) break;
        at = static_cast<std::size_t>(next);
    }
    return names;
}

ContentGuess detect_zip(std::string_view z) {
    const auto names = zip_names(z);
    std::vector<Finding> found;
    for (const auto& n : names)
        if (starts_with(n, "Experiment0/RawData") && n.ends_with(".xml")) {
            found.push_back({FormatId::bruker_brml, "a zip archive holding " + n});
            break;
        }
    for (const auto& n : names)
        if (n == "Data0/Profile0.txt" || n == "Data0/MesurementConditions0.xml") {
            found.push_back({FormatId::rigaku_rasx, "a zip archive holding " + n});
            break;
        }
    return decide(found, names.empty()
                             ? "a zip archive whose member names cannot be read"
                             : "a zip archive holding neither Experiment0/RawData*.xml nor "
                               "Data0/Profile0.txt");
}

// --- Lines and numbers -----------------------------------------------------------

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size() && lines.size() < kMaxLines) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at < text.size() && text[at] == '\n') ++at;
    }
    return lines;
}

std::string_view trim_left(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view{} : s.substr(first);
}

std::optional<double> number(std::string_view t) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    double v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc{} || res.ptr != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool integer(std::string_view t) {
    long v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    return res.ec == std::errc{} && res.ptr == t.data() + t.size();
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto start = line.find_first_not_of(" \t,;", at);
        if (start == std::string_view::npos) break;
        auto end = line.find_first_of(" \t,;", start);
        if (end == std::string_view::npos) end = line.size();
        out.push_back(line.substr(start, end - start));
        at = end;
    }
    return out;
}

// The numbers of a line made of numbers only; nullopt when anything else is on it.
std::optional<std::vector<double>> numbers(std::string_view line) {
    std::vector<double> out;
    for (auto t : tokens(line)) {
        const auto v = number(t);
        if (!v) return std::nullopt;
        out.push_back(*v);
    }
    return out;
}

std::string line_no(std::size_t index) {
    return "line " + std::to_string(index + 1);
}

// --- Marker lines -----------------------------------------------------------------

std::vector<Finding> marker_findings(const std::vector<std::string_view>& lines) {
    std::vector<Finding> found;
    std::optional<std::size_t> uxd, udf, bank, data, pd, range, intensities;
    std::string uxd_key;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view l = lines[i];
        if (!uxd)
            for (std::string_view key : {"_COUNTS", "_2THETA", "_DRIVE", "_CPS", "_FILEVERSION"})
                if (starts_with(l, key)) {
                    uxd = i;
                    uxd_key = key;
                    break;
                }
        if (!udf && starts_with(l, "RawScan")) udf = i;
        if (!bank && starts_with(l, "BANK")) {
            const auto rest = trim_left(l.substr(4));
            if (rest.size() < l.size() - 4 && !rest.empty() && rest[0] >= '0' && rest[0] <= '9')
                bank = i;
        }
        if (!data && starts_with(l, "data_")) data = i;
        if (!pd && starts_with(trim_left(l), "_pd_")) pd = i;
        const std::string_view work = l.substr(0, 60);
        if (!range && work.find("Range 1") != std::string_view::npos) range = i;
        if (!intensities && work.find("Intensities") != std::string_view::npos) intensities = i;
    }
    if (!lines.empty() && starts_with(lines[0], "*RAS_DATA_START"))
        found.push_back({FormatId::rigaku_ras, "begins with *RAS_DATA_START"});
    if (uxd) found.push_back({FormatId::siemens_uxd, line_no(*uxd) + " begins with " + uxd_key});
    if (udf) found.push_back({FormatId::philips_udf, line_no(*udf) + " begins with RawScan"});
    if (bank) found.push_back({FormatId::gsas, line_no(*bank) + " is a BANK record"});
    if (data && pd)
        found.push_back({FormatId::gsas_cif,
                         line_no(*data) + " begins with data_ and " + line_no(*pd) + " with _pd_"});
    if (range && intensities)
        found.push_back({FormatId::stoe_ascii, line_no(*range) + " names Range 1 and " +
                                                   line_no(*intensities) + " Intensities"});
    return found;
}

// --- Shapes -----------------------------------------------------------------------

// Scintag ARD: a title, then start, end and step among five numbers, a line, a
// date and a time of three integers each, two lines, and rows of numbers.
std::optional<Finding> ard_shape(const std::vector<std::string_view>& lines) {
    if (lines.size() < 8) return std::nullopt;
    const auto scan = numbers(lines[1]);
    if (!scan || scan->size() != 5) return std::nullopt;
    const double start = (*scan)[0], end = (*scan)[1], step = (*scan)[2];
    if (!(start < end && step > 0 && step <= end - start)) return std::nullopt;
    for (std::size_t i : {3u, 4u}) {
        const auto t = tokens(lines[i]);
        if (t.size() != 3) return std::nullopt;
        for (auto x : t)
            if (!integer(x)) return std::nullopt;
    }
    const auto row = numbers(lines[7]);
    if (!row || row->size() < 2) return std::nullopt;
    return Finding{FormatId::scintag_ard,
                   "line 2 holds start, end and step, lines 4 and 5 a date and a time"};
}

// DBW: start, step and end opening the first line, then rows of four or more counts.
std::optional<Finding> dbw_shape(const std::vector<std::string_view>& lines) {
    if (lines.size() < 2) return std::nullopt;
    const auto head = tokens(lines[0]);
    if (head.size() < 3) return std::nullopt;
    const auto start = number(head[0]), step = number(head[1]), end = number(head[2]);
    if (!start || !step || !end || !(*start<*end&& * step> 0 && *step <= *end - *start))
        return std::nullopt;
    const double intervals = (*end - *start) / *step;
    if (std::fabs(intervals - std::round(intervals)) > 1e-3 * std::max(1.0, intervals))
        return std::nullopt;
    const auto counts = numbers(lines[1]);
    if (!counts || counts->size() < 4) return std::nullopt;
    return Finding{FormatId::dbw, "line 1 opens with start, step and end of " +
                                      std::to_string(static_cast<long>(std::round(intervals)) + 1) +
                                      " points, line 2 holds counts"};
}

// x-y: after any header lines, lines of two or three numbers (blank lines aside).
std::optional<Finding> xy_shape(const std::vector<std::string_view>& lines, bool cut) {
    // A head cut inside a line leaves that line out.
    const std::size_t usable = cut && !lines.empty() ? lines.size() - 1 : lines.size();
    auto row = [&](std::size_t i) {
        const auto v = numbers(lines[i]);
        return v && (v->size() == 2 || v->size() == 3);
    };
    std::size_t first = 0;
    while (first < usable && !(row(first) && (first + 1 >= usable || row(first + 1)))) ++first;
    if (first >= usable) return std::nullopt;
    std::size_t rows = 0, others = 0;
    for (std::size_t i = first; i < usable; ++i) {
        if (trim_left(lines[i]).empty()) continue;
        if (row(i))
            ++rows;
        else
            ++others;
    }
    // Trailing text after the rows is allowed in a small measure.
    if (rows < 2 || others * 20 > rows) return std::nullopt;
    return Finding{FormatId::ascii_xy, "from line " + std::to_string(first + 1) + " on, " +
                                           std::to_string(rows) +
                                           " lines hold two or three numbers each"};
}

}  // namespace

ContentGuess detect_content(std::string_view bytes) {
    const bool cut = bytes.size() > kHeadBytes;
    std::string_view b = bytes;

    // Signatures.
    if (starts_with(b, "PK\x03\x04") || starts_with(b, "PK\x05\x06")) return detect_zip(b);
    struct Magic {
        std::string_view text;
        FormatId id;
        std::string_view what;
    };
    static constexpr Magic kMagic[] = {
        {"RAW_", FormatId::stoe_raw, ""},
        {"RAW1.01", FormatId::bruker_raw, " (version 3)"},
        {"RAW4.00", FormatId::bruker_raw, " (version 4)"},
        {"RAW2", FormatId::bruker_raw, " (version 2)"},
        {"RAW ", FormatId::bruker_raw, " (version 1)"},
    };
    for (const auto& m : kMagic)
        if (starts_with(b, m.text))
            return decide(
                {{m.id, "begins with '" + std::string(m.text) + "'" + std::string(m.what)}}, {});
    std::vector<Finding> started;
    run_checks(kStartSignatures, b.substr(0, kHeadBytes), started);
    if (!started.empty()) return decide(started, {});

    b = b.substr(0, kHeadBytes);
    if (starts_with(b, "\xEF\xBB\xBF")) b.remove_prefix(3);
    const auto lead = b.find_first_not_of(" \t\r\n");
    const std::string_view text =
        lead == std::string_view::npos ? std::string_view{} : b.substr(lead);
    if (starts_with(text, "<?xml") || starts_with(text, "<xrdMeasurements")) {
        if (text.find("XRDMeasurement") != std::string_view::npos)
            return decide({{FormatId::xrdml, "an XML document of the XRDMeasurement namespace"}},
                          {});
        return decide({}, "an XML document that names no XRDMeasurement namespace");
    }

    const auto lines = split_lines(b);
    auto found = marker_findings(lines);
    run_checks(kMarkerSignatures, b, found);
    if (!found.empty()) return decide(found, {});

    for (const auto& shape : {ard_shape(lines), dbw_shape(lines)})
        if (shape) found.push_back(*shape);
    run_checks(kShapeSignatures, b, found);
    if (found.empty())
        if (auto xy = xy_shape(lines, cut)) found.push_back(*xy);
    return decide(found, b.empty() ? "the file is empty"
                                   : "no signature, marker line or column layout of a known "
                                     "format");
}

ContentGuess detect_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ContentGuess g;
        g.reason = "cannot open " + std::string(file_name_part(path));
        return g;
    }
    std::string bytes(kHeadBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (starts_with(bytes, "PK\x03\x04") || starts_with(bytes, "PK\x05\x06")) {
        // A zip needs its end, where the directory of its members is kept.
        in.clear();
        in.seekg(0, std::ios::end);
        const auto size = static_cast<uint64_t>(in.tellg());
        if (size > kZipBound) {
            ContentGuess g;
            g.reason = "a zip archive of " + std::to_string(size) + " bytes, past the 256 MB bound";
            return g;
        }
        bytes.assign(static_cast<std::size_t>(size), '\0');
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    return detect_content(bytes);
}

}  // namespace qelda
