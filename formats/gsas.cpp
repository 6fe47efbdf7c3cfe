// GSAS raw powder data with constant-wavelength binning ("GSAS cw data", *.gsa):
// a title record, lines the reader passes over ("#" comments, "Instrument
// parameter file:", TIME_MAP records), then one BANK record per bank, each
// followed by its data. A wavelength that the header before the first bank
// states (a comment that names it, or the instrument-parameter line as our
// FXYE writer gives it) is taken; without one the wavelengths are asked for.
//
// Read: the bank asked for (the first by default; a file of several banks says
// which one was converted). Under CONST (or CONS) binning, the plain form, ten
// counts per record, each field a counter number in its first two columns and
// the count in its last six (" 1   220" is a count of 220 from counter 1); the
// ESD form, five pairs of count and standard uncertainty per record; and the
// FXY and FXYE forms, one point per line (2theta in centidegrees, intensity and,
// for FXYE, its uncertainty), whose angles must lie on the BANK record's grid.
// Time-of-flight binnings and the ALT form are refused. Written: always the ESD
// form, every record exactly 80 characters, optionally renormalising
// variable-slit intensities first.
#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/even_grid.h"
#include "core/fields.h"
#include "core/pattern_options.h"
#include "core/prompts.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr std::size_t kRecordLength = 80;
constexpr int kFieldsPerRecord = 10;
constexpr int kPairsPerRecord = 5;

// Below this an uncertainty is not used as it stands (single precision, as the
// values it is compared with).
constexpr float kSmall = 0.001f;
// Degrees of 2θ to radians of θ, held in single precision as the writer uses it.
constexpr float kHalfDegreeToRadian = 0.008726646f;

// The data forms of a BANK record.
enum class DataForm { plain, esd, alt, fxy, fxye };

// What the BANK record says, once it has been read.
struct Bank {
    int64_t point_count = 0;
    int64_t record_count = 0;  // negative counts read no records
    DataForm form = DataForm::plain;
    std::string_view binning;
    std::string_view start_word;
    std::string_view step_word;
};

enum class BankVerdict {
    constant,        // a constant-wavelength BANK record
    time_of_flight,  // TIME_MAP, RALF, SLOG or LOG6 binning
    other_binning,   // a binning word this reader does not know
    unreadable,      // a BANK record whose words cannot be read
};

bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    return s.substr(i);
}

// Splits the work line into blank-separated words; at most `words.size()` are kept.
std::size_t split_words(std::string_view line, std::span<std::string_view> words) noexcept {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < line.size() && count < words.size()) {
        while (i < line.size() && is_blank(line[i])) ++i;
        const std::size_t begin = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        if (i > begin) words[count++] = line.substr(begin, i - begin);
    }
    return count;
}

// A line that begins with the word "BANK", in any case.
bool is_bank_line(std::string_view line) noexcept {
    line = skip_blanks(line);
    if (line.size() < 4) return false;
    for (std::size_t i = 0; i < 4; ++i)
        if ((line[i] & ~0x20) != "BANK"[i]) return false;
    return line.size() == 4 || is_blank(line[4]);
}

// A whole number; one too long for 64 bits stands for the largest of its sign, so
// that an absurd point count is refused as too many points.
bool read_count(std::string_view word, int64_t& value) noexcept {
    switch (parse_integer_field(word, value)) {
        case FieldError::none:
            return true;
        case FieldError::out_of_range:
            value = word.front() == '-' ? std::numeric_limits<int64_t>::min()
                                        : std::numeric_limits<int64_t>::max();
            return true;
        case FieldError::invalid:
            break;
    }
    return false;
}

bool read_number(std::string_view word, double& value) noexcept {
    return parse_real_field(word, 0, value) == FieldError::none && std::isfinite(value);
}

std::string number_text(double v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
    return std::string(buf, res.ptr);
}

// "'1.2.3' is not a number (value 2)"
std::string not_a_number(std::string_view word, std::size_t position) {
    std::string out = "'";
    out += word;
    out += "' is not a number (value ";
    out += std::to_string(position);
    out += ')';
    return out;
}

// Reads the BANK record as words: "BANK", bank number, point count, record count,
// the binning word, start and step in centidegrees, then the two other binning
// coefficients and the data form. Fields are separated by any number of blanks
// ("BANK 1 2919 292 CONST 1000 5 0 0" and "BANK  1    16001    3201 CONST ...").
// `upper` is the record in upper case; the returned views point into it.
BankVerdict read_bank(std::string_view upper, Bank& bank) noexcept {
    std::array<std::string_view, 16> words;
    const std::size_t count = split_words(upper, words);
    const auto shown = std::span(words).first(count);
    constexpr std::string_view kTimeOfFlight[] = {"TIME_MAP", "RALF", "SLOG", "LOG6"};
    for (std::size_t k = 1; k < count; ++k) {
        const std::string_view w = words[k];
        const bool tof = std::find(std::begin(kTimeOfFlight), std::end(kTimeOfFlight), w) !=
                         std::end(kTimeOfFlight);
        if (!tof && w != "CONST" && w != "CONS") continue;
        bank.binning = w;
        // Bank number, point count and record count stand before the binning.
        if (k != 4) return BankVerdict::unreadable;
        if (tof) return BankVerdict::time_of_flight;
        break;
    }
    if (bank.binning.empty()) {
        if (count < 5) return BankVerdict::unreadable;
        bank.binning = words[4];
        return BankVerdict::other_binning;
    }
    // The data form is a word of its own after the coefficients; without one, "ESD"
    // anywhere on the record means pairs.
    bank.form = upper.find("ESD") != std::string_view::npos ? DataForm::esd : DataForm::plain;
    for (const std::string_view w : shown.subspan(5)) {
        if (w == "STD") bank.form = DataForm::plain;
        if (w == "ESD") bank.form = DataForm::esd;
        if (w == "ALT") bank.form = DataForm::alt;
        if (w == "FXY") bank.form = DataForm::fxy;
        if (w == "FXYE") bank.form = DataForm::fxye;
    }
    if (!read_count(words[2], bank.point_count) || !read_count(words[3], bank.record_count))
        return BankVerdict::unreadable;
    if (count >= 7) {
        bank.start_word = words[5];
        bank.step_word = words[6];
    }
    return BankVerdict::constant;
}

// The targets of one plain record: counter number and count, ten times.
template <std::size_t... K>
std::array<Target, sizeof...(K)> plain_targets(std::array<int32_t, kFieldsPerRecord>& counters,
                                               std::array<float, kFieldsPerRecord>& counts,
                                               std::index_sequence<K...>) {
    return {{(K % 2 == 0 ? Target(counters[K / 2]) : Target(counts[K / 2]))...}};
}

// Wavelengths a header line states: the instrument-parameter line as our FXYE
// writer gives it ("Instrument parameters: Lam1 1.5405 Lam2 1.5443
// I(L2)/I(L1) 0.5", or "Lam 0.589183"), or a comment that names one ("# Mean
// wavelength is: 0.589183", "# Calibrated wavelength = 0.413529", "# Wavelength
// 1.5406", "# lambda = 1.54"). lambda1 stays 0 when the line states none.
struct StatedWavelengths {
    float lambda1 = 0.0f;
    float lambda2 = 0.0f;
    float ratio = 0.0f;
};

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

// A plausible wavelength in Angstrom, alone in its word (a unit may follow
// after a blank).
bool wavelength_word(std::string_view word, float& value) noexcept {
    double v = 0.0;
    if (word.empty() || !read_number(word, v) || !(v > 0.0 && v < 10.0)) return false;
    value = static_cast<float>(v);
    return true;
}

StatedWavelengths stated_wavelengths(std::string_view line, bool instrument_line) noexcept {
    StatedWavelengths s;
    std::array<std::string_view, 12> words;
    if (instrument_line) {
        const std::size_t count = split_words(line.substr(line.find(':') + 1), words);
        for (std::size_t k = 0; k + 1 < count; ++k) {
            const std::string_view key = words[k];
            const std::string_view value = words[k + 1];
            if (equal_ignoring_case(key, "Lam") || equal_ignoring_case(key, "Lam1")) {
                wavelength_word(value, s.lambda1);
            } else if (equal_ignoring_case(key, "Lam2")) {
                wavelength_word(value, s.lambda2);
            } else if (equal_ignoring_case(key, "I(L2)/I(L1)")) {
                double v = 0.0;
                if (read_number(value, v) && v >= 0.0 && v <= 1.0) s.ratio = static_cast<float>(v);
            }
        }
        // As the wavelength prompt has it: a second line below the first is none.
        if (s.lambda1 == 0.0f || s.lambda2 < s.lambda1) s.lambda2 = s.ratio = 0.0f;
        return s;
    }
    std::string lower(line.substr(0, std::min<std::size_t>(line.size(), 200)));
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    for (const std::string_view key :
         {std::string_view("wavelength"), std::string_view("lambda")}) {
        const auto at = lower.find(key);
        if (at == std::string::npos) continue;
        std::string_view rest = std::string_view(line).substr(at + key.size());
        // "= 0.41", ": 0.41", "is: 0.41"
        const std::size_t count = split_words(rest, words);
        std::size_t k = 0;
        while (k < count && (words[k] == "=" || words[k] == ":" || words[k] == "is:" ||
                             words[k] == "is" || words[k] == "(A)" || words[k] == "(Angstrom)"))
            ++k;
        if (k < count && !words[k].empty() && (words[k].front() == '=' || words[k].front() == ':'))
            words[k].remove_prefix(1);
        if (k < count && wavelength_word(words[k], s.lambda1)) return s;
    }
    return s;
}

class GsasReader {
  public:
    explicit GsasReader(Workspace& ws)
        : ws_(ws), r_(ws.record()), in_(ws.input()), file_(ws.input().file_name()) {}

    ConversionStatus read() {
        static const Layout kWorkLine("(A80)");
        r_.lines_read = 0;
        // The title record is read whole and its leading blanks dropped: our writer
        // puts three blanks before the title, and without this every GSAS to GSAS
        // pass would shift the title right and lose its last three characters.
        std::string title;
        if (const Outcome o = read_record(in_, kWorkLine, {TextRef{title, kRecordLength}});
            o != Outcome::done)
            return o == Outcome::end_of_file
                       ? ws_.fail(ConversionStatus::premature_end, file_ + " is empty")
                       : read_failure_status(o);
        ++r_.lines_read;
        const auto first = title.find_first_not_of(' ');
        r_.set_title(first == std::string::npos ? std::string_view{}
                                                : std::string_view(title).substr(first));

        if (const ConversionStatus s = find_bank(); s != ConversionStatus::done) return s;
        std::string line;
        if (const Outcome o = read_record(in_, kWorkLine, {TextRef{line, kRecordLength}});
            o != Outcome::done)
            return read_failure_status(o);
        ++r_.lines_read;
        for (char& c : line)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

        Bank bank;
        switch (read_bank(line, bank)) {
            case BankVerdict::time_of_flight:
                return ws_.fail(ConversionStatus::not_available,
                                file_ + " holds time-of-flight data (" + std::string(bank.binning) +
                                    " binning); only constant-wavelength 2theta scans can be "
                                    "converted");
            case BankVerdict::other_binning:
                return ws_.fail(ConversionStatus::not_available,
                                at_line() + ": the BANK record's binning '" +
                                    std::string(bank.binning) +
                                    "' is not CONST; only constant-wavelength 2theta scans can "
                                    "be converted");
            case BankVerdict::unreadable:
                return bank_error(
                    "does not give the bank number, point count and record count "
                    "before its binning");
            case BankVerdict::constant:
                break;
        }
        if (bank.form == DataForm::alt)
            return ws_.fail(ConversionStatus::not_available,
                            at_line() +
                                ": the data are in the ALT form, which this reader does not "
                                "read (it reads STD, ESD, FXY and FXYE)");
        // A negative number of points is no count at all.
        if (bank.point_count < 0) return bank_error("announces a negative number of points");
        const int64_t limit = std::clamp<int64_t>(r_.max_points, 0, kPointCapacity);
        if (bank.point_count > limit) return ConversionStatus::too_many_points;
        const bool rows = bank.form == DataForm::fxy || bank.form == DataForm::fxye;
        const int per_record = bank.form == DataForm::esd ? kPairsPerRecord : kFieldsPerRecord;
        const int64_t records = std::max<int64_t>(bank.record_count, 0);
        // Records too few for the points would leave the last points unread.
        if (!rows && records < (bank.point_count + per_record - 1) / per_record)
            return bank_error("announces " + std::to_string(bank.point_count) + " points in " +
                              std::to_string(records) + " records of " +
                              std::to_string(per_record));

        double start = 0.0;
        double step = 0.0;
        if (bank.start_word.empty() || !read_number(bank.start_word, start) ||
            !read_number(bank.step_word, step))
            return bank_error("gives no start and step after " + std::string(bank.binning));
        start_ = start;
        step_ = step;

        r_.point_count = static_cast<int32_t>(bank.point_count);
        r_.two_theta_start = static_cast<float>(start / 100.0);
        r_.two_theta_step = static_cast<float>(step / 100.0);
        r_.two_theta_end = static_cast<float>(
            start / 100.0 + static_cast<double>(bank.point_count - 1) * (step / 100.0));
        r_.count_time = 0.0f;

        if (stated_.lambda1 > 0.0f) {
            r_.lambda1 = stated_.lambda1;
            r_.lambda2 = stated_.lambda2;
            r_.alpha_ratio = stated_.ratio;
        } else {
            ask_wavelengths(ws_);
        }

        const ConversionStatus s = rows ? read_rows(bank.form == DataForm::fxye)
                                        : read_records(bank.form == DataForm::esd, records);
        if (s != ConversionStatus::done) return s;
        warn_about_lines_after();
        ws_.scan.number = wanted_;
        ws_.scan.count = banks_;
        if (banks_ > 1 && !ws_.options.all_scans)
            ws_.warn(file_ + " holds " + std::to_string(banks_) + " banks; bank " +
                     std::to_string(wanted_) + " converted");
        return ConversionStatus::done;
    }

  private:
    std::string at_line() const { return file_ + ", line " + std::to_string(r_.lines_read); }

    // As the BANK record's own line is named in the report, it counts as read.
    ConversionStatus bank_error(const std::string& what) {
        return ws_.fail(ConversionStatus::record_error, at_line() + ": the BANK record " + what);
    }

    // The error of the line after the last one read.
    ConversionStatus line_error(ConversionStatus status, const std::string& what) {
        return ws_.fail(status,
                        file_ + ", line " + std::to_string(r_.lines_read + 1) + ": " + what);
    }

    // The lines after the title up to the BANK record of the bank asked for are
    // passed over ("#" comments, "Instrument parameter file:", TIME_MAP records);
    // every BANK record of the file is counted.
    ConversionStatus find_bank() {
        wanted_ = std::max<int32_t>(ws_.options.scan, 1);
        const std::size_t after_title = in_.position();
        std::size_t bank_at = after_title;
        int32_t bank_line = 0;
        int32_t line_number = r_.lines_read;
        std::string_view line;
        for (;;) {
            const std::size_t at = in_.position();
            if (!in_.next_line(line)) break;
            ++line_number;
            if (!is_bank_line(line)) {
                if (banks_ == 0 && stated_.lambda1 == 0.0f) {
                    // The header before the first bank: its first wavelength.
                    const bool instrument = line_number == r_.lines_read + 1 && line.size() > 4 &&
                                            equal_ignoring_case(line.substr(0, 4), "inst") &&
                                            line.find(':') != std::string_view::npos;
                    if (instrument || line.starts_with('#'))
                        stated_ = stated_wavelengths(line, instrument);
                }
                continue;
            }
            if (++banks_ == wanted_) {
                bank_at = at;
                bank_line = line_number - 1;
            }
        }
        if (banks_ == 0)
            return ws_.fail(ConversionStatus::not_available,
                            file_ +
                                " has no BANK record after its title: not a GSAS raw data "
                                "file");
        if (wanted_ > banks_)
            return ws_.fail(ConversionStatus::not_available,
                            file_ + " holds " + std::to_string(banks_) + " bank" +
                                (banks_ == 1 ? "" : "s") + "; there is no bank " +
                                std::to_string(wanted_));
        in_.set_position(bank_at);
        r_.lines_read = bank_line;
        return ConversionStatus::done;
    }

    // STD and ESD records of ten 8-column fields. Every field that holds a value of
    // a point must be there: a short or empty record means a value is missing.
    ConversionStatus read_records(bool esd, int64_t records) {
        static const Layout kEsdRecord("(10F8.0)");
        static const Layout kPlainRecord("(10(I2,F6.0))");
        const int per_record = esd ? kPairsPerRecord : kFieldsPerRecord;
        const int64_t n = r_.point_count;
        std::array<float, kFieldsPerRecord> values{};
        std::array<int32_t, kFieldsPerRecord> counters{};
        const Target esd_target[] = {std::span<float>(values)};
        const auto plain =
            plain_targets(counters, values, std::make_index_sequence<2 * kFieldsPerRecord>{});
        const std::span<const Target> targets =
            esd ? std::span<const Target>(esd_target) : std::span<const Target>(plain);

        for (int64_t rec = 0; rec < records; ++rec) {
            const int64_t first = rec * per_record + 1;
            const int due = static_cast<int>(std::clamp<int64_t>(n - first + 1, 0, per_record));
            std::string_view line;
            if (!in_.next_line(line)) return ended_early(first - 1);
            in_.backspace();
            const int fields_due = esd ? 2 * due : due;
            int present = 0;
            for (int k = 0; k < fields_due; ++k) {
                const auto at = static_cast<std::size_t>(8 * k);
                if (at < line.size() &&
                    line.substr(at, 8).find_first_not_of(" \t") != std::string_view::npos)
                    ++present;
            }
            if (present < fields_due)
                return line_error(ConversionStatus::record_error,
                                  "the record holds " + std::to_string(present) + " of the " +
                                      std::to_string(fields_due) + " values of points " +
                                      std::to_string(first) + "-" +
                                      std::to_string(first + due - 1) + " of the " +
                                      std::to_string(n) + " that the BANK record announces");
            const Outcome o = read_record(in_, esd ? kEsdRecord : kPlainRecord, targets);
            if (o != Outcome::done) return read_failure_status(o);
            ++r_.lines_read;
            // The values past the last point are stored as far as the arrays reach.
            const int64_t limit = std::clamp<int64_t>(r_.max_points, 0, kPointCapacity);
            if (first > limit) continue;
            const int stored = static_cast<int>(std::min<int64_t>(per_record, limit - first + 1));
            const auto point = static_cast<int32_t>(first);
            for (int k = 0; k < stored; ++k) {
                if (esd) {
                    r_.intensity(point + k) = values[static_cast<std::size_t>(2 * k)];
                    r_.sigma(point + k) = values[static_cast<std::size_t>(2 * k + 1)];
                } else {
                    r_.intensity(point + k) = values[static_cast<std::size_t>(k)];
                }
            }
        }
        return ConversionStatus::done;
    }

    ConversionStatus ended_early(int64_t points_read) {
        return ws_.fail(ConversionStatus::premature_end,
                        file_ + " ends after line " + std::to_string(r_.lines_read) + ", with " +
                            std::to_string(points_read) + " of the " +
                            std::to_string(r_.point_count) +
                            " points that its BANK record announces");
    }

    // FXY and FXYE: one point to a line, 2theta in centidegrees, the intensity and
    // (FXYE) its uncertainty, separated by blanks. The angles must lie on the grid
    // of the BANK record's start and step.
    ConversionStatus read_rows(bool with_esd) {
        const int32_t n = r_.point_count;
        const std::size_t wanted_values = with_esd ? 3 : 2;
        std::vector<double> angles;
        std::vector<int8_t> decimals;
        std::vector<int32_t> line_numbers;
        angles.reserve(static_cast<std::size_t>(n));
        decimals.reserve(static_cast<std::size_t>(n));
        line_numbers.reserve(static_cast<std::size_t>(n));
        std::string_view line;
        for (int32_t i = 1; i <= n;) {
            if (!in_.next_line(line)) return ended_early(i - 1);
            if (skip_blanks(line).empty()) {
                ++r_.lines_read;
                continue;
            }
            if (is_bank_line(line)) {
                in_.backspace();
                return line_error(ConversionStatus::record_error,
                                  "the next bank begins after " + std::to_string(i - 1) +
                                      " of the " + std::to_string(n) +
                                      " points that the BANK record announces");
            }
            std::array<std::string_view, 4> words;
            const std::size_t count = split_words(line, words);
            if (count < wanted_values)
                return line_error(ConversionStatus::record_error,
                                  "the line holds " + std::to_string(count) + " values where " +
                                      (with_esd ? "FXYE rows hold 3" : "FXY rows hold 2"));
            double v[3] = {};
            for (std::size_t k = 0; k < wanted_values; ++k)
                if (!read_number(words[k], v[k]) || std::fabs(v[k]) > FLT_MAX)
                    return line_error(ConversionStatus::record_error,
                                      not_a_number(words[k], k + 1));
            ++r_.lines_read;
            angles.push_back(v[0]);
            decimals.push_back(static_cast<int8_t>(std::min(printed_decimals(words[0]), 100)));
            line_numbers.push_back(r_.lines_read);
            r_.intensity(i) = static_cast<float>(v[1]);
            if (with_esd) r_.sigma(i) = static_cast<float>(v[2]);
            ++i;
        }
        if (const auto miss = first_off_grid(angles, decimals, start_, step_)) {
            // Each line states its angle: kept as stated.
            const int32_t at = line_numbers[miss->index];
            ws_.warn(
                off_grid_note(file_ + ", line " + std::to_string(at), angles[miss->index] / 100.0));
            r_.angles.resize(angles.size());
            for (std::size_t k = 0; k < angles.size(); ++k) r_.angles[k] = angles[k] / 100.0;
            set_range_from_angles(r_);
        }
        return ConversionStatus::done;
    }

    // Lines after the announced data, other than blank lines and the next bank,
    // are values the BANK record does not count: they are left out.
    void warn_about_lines_after() {
        std::string_view line;
        int32_t number = r_.lines_read;
        while (in_.next_line(line)) {
            ++number;
            if (skip_blanks(line).empty()) continue;
            if (!is_bank_line(line))
                ws_.warn(file_ + ", line " + std::to_string(number) +
                         ": more data than the BANK record announces (" +
                         std::to_string(r_.point_count) + " points); the rest was left out");
            return;
        }
    }

    Workspace& ws_;
    PowderPattern& r_;
    InputUnit& in_;
    std::string file_;
    int32_t banks_ = 0;
    int32_t wanted_ = 1;
    StatedWavelengths stated_;  // what the header states, if anything
    double start_ = 0.0;        // centidegrees, as the BANK record gives them
    double step_ = 0.0;
};

// The title as one record: control characters (a line end above all) would
// split or end the record, so they are written as blanks.
std::string printable_title(std::string_view title) {
    std::string out(title);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

// An angle of the BANK record in centidegrees: F10.5 when that reads back as
// the same angle in degrees, else with the decimals it needs (wider when they
// do not fit ten columns). `spare` is the room left at the record's end.
std::string bank_angle(float degrees, std::size_t& spare) {
    const float centidegrees = 100.0f * degrees;
    std::string field;
    append_real_field(field, centidegrees, 10, 5);
    auto reads_as_degrees = [&](std::string_view text) {
        double v = 0.0;
        return parse_real_field(text, 0, v) == FieldError::none &&
               static_cast<float>(v / 100.0) == degrees;
    };
    if (!std::isfinite(degrees) || reads_as_degrees(field)) return field;
    for (int32_t d = 6; d <= 9; ++d) {
        std::string digits = fixed_digits(static_cast<double>(degrees) * 100.0, d);
        if (!reads_as_degrees(digits)) continue;
        if (digits.size() + 1 > 10 + spare) break;
        const std::size_t width = std::max<std::size_t>(10, digits.size() + 1);
        spare -= width - 10;
        return std::string(width - digits.size(), ' ') + digits;
    }
    return field;
}

// A count in the eight columns of the ESD form: "1234." for a whole count (or
// one the driver raised by its shift), else with the decimals it needs, or as
// many as fit. Sets `exact` false when what is written does not read back as
// the value; returns false when not even the whole number fits.
bool append_gsas_value(std::string& out, float value, bool whole, int32_t least, bool& exact) {
    exact = true;
    if (whole) return append_real_field(out, value, 8, least);
    const int32_t needed = decimals_to_read_back(value, least, 7);
    std::string field;
    if (needed >= 0 && append_real_field(field, value, 8, needed)) {
        out += field;
        return true;
    }
    exact = false;
    for (int32_t d = needed >= 0 ? needed - 1 : 7; d >= least; --d) {
        field.clear();
        if (append_real_field(field, value, 8, d)) {
            out += field;
            return true;
        }
    }
    return append_real_field(out, value, 8, least);
}

ConversionStatus write_gsas(Workspace& ws) {
    static const Layout kTitle("('   ',A60)");
    static const Layout kBank("('BANK  1      ',I6,4X,I6,'  CONST',3X,2F10.5,' 0.0 0.0 ESD',9X)");
    static const Layout kWholeRecord("(A80)");

    OutputUnit& out = ws.output();
    out.restart();
    PowderPattern& r = ws.record();
    const int32_t n = std::max(r.point_count, 0);
    if (n > kPointCapacity) return ConversionStatus::record_error;
    // The BANK record's binning runs upwards from its start.
    if (n > 1 && r.two_theta_step < 0.0f)
        return ws.fail(ConversionStatus::too_large,
                       std::string(out.file_name()) + ": the scan descends (step " +
                           number_text(r.two_theta_step) +
                           "); GSAS constant-wavelength files hold ascending scans only");
    const bool renormalise = ask_slit_correction(ws);
    // One record more than the pairs need when n is a multiple of five.
    const int32_t records = n / kPairsPerRecord + 1;

    auto put = [&](const TextResult& built) {
        if (built.outcome != Outcome::done) return ConversionStatus::record_error;
        if (built.overflow) return ConversionStatus::too_large;
        if (write_record(out, kWholeRecord, {built.text}) != Outcome::done)
            return ConversionStatus::record_error;
        return ConversionStatus::done;
    };

    const std::string title = printable_title(r.title);
    if (title != r.title) ws.warn("title: control characters written as blanks");
    ConversionStatus status = put(write_text(kRecordLength, kTitle, {title}));
    if (status != ConversionStatus::done) return status;

    const float start_centidegrees = 100.0f * r.two_theta_start;
    const float step_centidegrees = 100.0f * r.two_theta_step;
    TextResult bank =
        write_text(kRecordLength, kBank, {n, records, start_centidegrees, step_centidegrees});
    if (bank.outcome == Outcome::done && !bank.overflow) {
        // Angles that F10.5 centidegrees do not hold take the decimals they
        // need, out of the blanks that end the record.
        std::size_t spare = 9;
        const std::string start_field = bank_angle(r.two_theta_start, spare);
        const std::string step_field = bank_angle(r.two_theta_step, spare);
        constexpr std::size_t kAnglesAt = 39;
        std::string text = bank.text.substr(0, kAnglesAt) + start_field + step_field +
                           bank.text.substr(kAnglesAt + 20);
        text.resize(kRecordLength);
        bank.text = std::move(text);
    }
    if (bank.overflow)
        return ws.fail(ConversionStatus::too_large,
                       "2theta start " + value_text(r.two_theta_start) + " or step " +
                           value_text(r.two_theta_step) +
                           " does not fit the BANK record's ten columns of centidegrees; x-y, "
                           "xye or cif can hold it");
    status = put(bank);
    if (status != ConversionStatus::done) return status;

    const float shift = ws.intensity_shift;
    const bool stated_sigma = ws.has_sigma;
    int32_t inexact = 0;
    double largest_change = 0.0;
    int32_t inexact_sigma = 0;
    std::array<float, 2 * kPairsPerRecord> pairs{};
    std::string line;
    line.reserve(kRecordLength);
    for (int32_t rec = 0; rec < records; ++rec) {
        for (int k = 0; k < kPairsPerRecord; ++k) {
            const int32_t i = rec * kPairsPerRecord + k + 1;
            float count = 0.0f;
            float s = 0.0f;
            if (i <= n) {
                count = r.intensity(i);
                const float sigma = r.sigma(i);
                s = sigma >= kSmall ? sigma : count > kSmall ? std::sqrt(count) : 1.0f;
                if (renormalise) {
                    const float two_theta =
                        r.two_theta_start + static_cast<float>(i - 1) * r.two_theta_step;
                    const float sin_theta = std::sin(two_theta * kHalfDegreeToRadian);
                    // At 2θ = 0 (or below) there is nothing to divide by.
                    if (sin_theta > 0.0f) {
                        const float f = 5.0f * sin_theta;
                        count /= f;
                        s /= f;
                        r.intensity(i) = count;
                    }
                }
            }
            pairs[static_cast<std::size_t>(2 * k)] = count;
            pairs[static_cast<std::size_t>(2 * k + 1)] = s;
        }
        line.clear();
        for (int k = 0; k < kPairsPerRecord; ++k) {
            const int32_t i = rec * kPairsPerRecord + k + 1;
            const float count = pairs[static_cast<std::size_t>(2 * k)];
            const float s = pairs[static_cast<std::size_t>(2 * k + 1)];
            const bool real = i <= n;
            bool exact = true;
            if (!append_gsas_value(line, count, !real || is_whole_count(count, shift), 0, exact))
                return ws.fail(ConversionStatus::too_large,
                               "count " + value_text(count) + " at point " + std::to_string(i) +
                                   " does not fit GSAS's eight columns; x-y, xye or cif can "
                                   "hold it");
            if (!exact) {
                ++inexact;
                double back = 0.0;
                parse_real_field(std::string_view(line).substr(line.size() - 8), 0, back);
                largest_change = std::max(largest_change, std::fabs(back - count));
            }
            // Uncertainties the file gave keep their digits; those computed
            // here as the square root of the count keep two decimals.
            const bool given = real && stated_sigma && r.sigma(i) >= kSmall;
            if (!append_gsas_value(line, s, !given, 2, exact))
                return ws.fail(ConversionStatus::too_large,
                               "sigma " + value_text(s) + " at point " + std::to_string(i) +
                                   " does not fit GSAS's eight columns; x-y, xye or cif can "
                                   "hold it");
            if (!exact) ++inexact_sigma;
        }
        if (write_record(out, kWholeRecord, {line}) != Outcome::done)
            return ConversionStatus::record_error;
        if (out.overflowed()) return ConversionStatus::too_large;
    }
    if (inexact > 0)
        ws.warn("GSAS holds eight columns: " + std::to_string(inexact) +
                (inexact == 1 ? " intensity" : " intensities") +
                " rounded to the decimals that fit (largest change " + change_text(largest_change) +
                ")");
    if (inexact_sigma > 0)
        ws.warn("GSAS holds eight columns: " + std::to_string(inexact_sigma) +
                " \u03c3 values of the file rounded to the decimals that fit");
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus gsas_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(
        ws, [&] { return mode == CodecMode::write ? write_gsas(ws) : GsasReader(ws).read(); });
}

}  // namespace qelda
