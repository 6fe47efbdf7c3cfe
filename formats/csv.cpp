// Comma-separated exports of diffractometer programs (.csv), read only: a
// header row naming the columns, then one row a point.
//
//   2Theta,Intensity            "," separates, "." is the decimal point
//   10.00,123
//   10.02,131
//
//   Angle;Counts;ESD            ";" separates, "," may be the decimal point
//   10,00;123;11,1
//
// The first column holds the angle and must be named as 2theta ("2Theta",
// "2θ", "Pos. [°2Th.]", "Angle"); the intensity is the column named as one
// (Intensity, Counts, Cps, I), else the second; a column named as an
// uncertainty (ESD, Error, Sigma) gives sigma. Fields may be quoted.
#include <cmath>
#include <string>
#include <vector>

#include "core/codec_guard.h"
#include "core/even_grid.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/signatures.h"
#include "formats/text_lines.h"

namespace qelda {
namespace {

std::string folded(std::string_view s) {
    std::string out;
    for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
}

std::vector<std::string_view> fields_of(std::string_view line, char sep) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (true) {
        const auto cut = line.find(sep, at);
        std::string_view f =
            trim(line.substr(at, cut == std::string_view::npos ? line.npos : cut - at));
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"')
            f = trim(f.substr(1, f.size() - 2));
        out.push_back(f);
        if (cut == std::string_view::npos) break;
        at = cut + 1;
    }
    return out;
}

// A field as a number; with ";" separating, a comma is the decimal point.
bool field_number(std::string_view f, char sep, double& v) {
    if (sep != ';' || f.find(',') == std::string_view::npos) return parse_number(f, v);
    std::string t(f);
    for (char& c : t)
        if (c == ',') c = '.';
    return parse_number(t, v);
}

bool names_two_theta(std::string_view name) {
    const std::string n = folded(name);
    return is_two_theta_axis(name) || n.find("2\xce\xb8") != std::string::npos ||
           n.find("2th") != std::string::npos || n.starts_with("angle");
}

bool names_intensity(std::string_view name) {
    const std::string n = folded(name);
    return n.starts_with("intens") || n.starts_with("count") || n.starts_with("cps") || n == "i" ||
           n.starts_with("i (") || n.starts_with("i [");
}

bool names_sigma(std::string_view name) {
    const std::string n = folded(name);
    return n.starts_with("esd") || n.starts_with("error") || n.starts_with("sigma") ||
           n.starts_with("uncert") || n.starts_with("std");
}

bool names_any_column(std::string_view name) {
    const std::string n = folded(name);
    return names_two_theta(name) || names_intensity(name) || names_sigma(name) ||
           n.starts_with("omega") || n.starts_with("theta") || n.starts_with("chi") ||
           n.starts_with("phi") || n == "d" || n == "q" || n.starts_with("d-") ||
           n.starts_with("d (") || n.starts_with("q (");
}

char separator_of(std::string_view header) {
    return header.find(';') != std::string_view::npos ? ';' : ',';
}

ConversionStatus read_csv(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    std::string_view text = ws.input().bytes();
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    while (next_text_line(text, pos, line) && (++line_no, trim(line).empty())) {
    }
    const std::string_view header = trim(line);
    const char sep = separator_of(header);
    const auto names = fields_of(header, sep);
    double probe = 0;
    if (header.empty() || names.size() < 2 || field_number(names[0], sep, probe))
        return ws.fail(ConversionStatus::not_available,
                       file +
                           " does not open with a header row of column names separated by "
                           "',' or ';': not a CSV export");
    InstrumentScan s;
    s.axis = std::string(names[0]);
    s.two_theta = names_two_theta(names[0]);
    if (!s.two_theta)
        return ws.fail(ConversionStatus::not_available,
                       file + ": its first column is named '" +
                           std::string(names[0].substr(0, 40)) +
                           "', not 2theta; only 2theta scans are read from CSV exports");
    std::size_t y = 1;
    std::size_t e = 0;  // the uncertainties' column; 0 (the angle's) for none
    for (std::size_t k = names.size(); k-- > 1;) {
        if (names_intensity(names[k])) y = k;
        if (names_sigma(names[k])) e = k;
    }
    if (e == y) e = 0;
    s.per_second = folded(names[y]).starts_with("cps");
    const int32_t header_line = line_no;

    std::string cell;
    while (next_text_line(text, pos, line)) {
        ++line_no;
        if (trim(line).empty()) continue;
        if (s.counts.size() == static_cast<std::size_t>(kPointCapacity))
            return ConversionStatus::too_many_points;
        const auto f = fields_of(line, sep);
        if (f.size() != names.size())
            return ws.fail(ConversionStatus::record_error,
                           file + ", line " + std::to_string(line_no) + " holds " +
                               std::to_string(f.size()) + " fields; the header row (line " +
                               std::to_string(header_line) + ") names " +
                               std::to_string(names.size()) + " columns");
        double x = 0, v = 0, sigma = 0;
        for (std::size_t k : {std::size_t{0}, y}) {
            if (!field_number(f[k], sep, k == 0 ? x : v))
                return ws.fail(ConversionStatus::record_error,
                               file + ", line " + std::to_string(line_no) + ": '" +
                                   std::string(f[k].substr(0, 40)) + "' is not a number");
        }
        if (e != 0 && !field_number(f[e], sep, sigma))
            return ws.fail(ConversionStatus::record_error,
                           file + ", line " + std::to_string(line_no) + ": '" +
                               std::string(f[e].substr(0, 40)) + "' is not a number");
        s.angles.push_back(x);
        s.decimals.push_back(static_cast<int8_t>(std::min(printed_decimals(f[0]), 20)));
        s.counts.push_back(v);
        if (e != 0) s.sigma.push_back(static_cast<float>(sigma));
    }
    if (s.counts.empty())
        return ws.fail(ConversionStatus::premature_end,
                       file + " holds no rows after its header row (line " +
                           std::to_string(header_line) + ")");
    if (e != 0) ws.has_sigma = true;
    return convert_scan(ws, 1, [&](int32_t, InstrumentScan& out) {
        out = std::move(s);
        return ConversionStatus::done;
    });
}

}  // namespace

std::optional<std::string> csv_signature(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    while (next_text_line(head, pos, line) && (++line_no, trim(line).empty())) {
    }
    const std::string_view header = trim(line);
    if (header.find_first_of(",;") == std::string_view::npos) return std::nullopt;
    const char sep = separator_of(header);
    const auto names = fields_of(header, sep);
    bool known = false;
    double v = 0;
    for (auto n : names) {
        if (n.empty() || field_number(n, sep, v)) return std::nullopt;
        known = known || names_any_column(n);
    }
    if (names.size() < 2 || !known) return std::nullopt;
    int rows = 0;
    while (rows < 3 && next_text_line(head, pos, line)) {
        if (trim(line).empty()) continue;
        const auto f = fields_of(trim(line), sep);
        if (f.size() != names.size()) return std::nullopt;
        for (auto x : f)
            if (!field_number(x, sep, v)) return std::nullopt;
        ++rows;
    }
    if (rows < 2) return std::nullopt;
    return "line " + std::to_string(line_no) + " names the columns, separated by '" +
           std::string(1, sep) + "', rows of numbers follow";
}

ConversionStatus csv_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_csv(ws);
    });
}

}  // namespace qelda
