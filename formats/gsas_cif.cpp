// Powder data from CIF files (written by gsas_cif_write.cpp). This is not a general CIF parser: the
// header is scanned line by line for a handful of data names (in their CIF 1
// and CIF 2 spellings), tested in a fixed order by a case-sensitive search of the
// line's first 60 columns; then the loop that holds the intensities is read, one
// value per loop packet, from the column that the loop's data names give it.
// Measured counts are preferred to processed intensities; a time-of-flight loop
// is refused. Every intensity loop counts as one powder data block: the first
// is converted unless another is asked for, and the file's count is reported.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/codec_guard.h"
#include "core/even_grid.h"
#include "core/fields.h"
#include "core/pattern_options.h"
#include "core/point_count.h"
#include "formats/codecs.h"
#include "formats/gsas_cif.h"

namespace qelda {
namespace {

constexpr std::size_t kWorkLength = 60;

// Data names in their CIF 1 spelling; CIF 2 (DDLm) files write a dot after the
// category ("_pd_meas.intensity_total").
constexpr std::string_view kTitleName = "_publ_section_title";
constexpr std::string_view kTitleName2 = "_publ.section_title";
constexpr std::string_view kWavelengthName = "_diffrn_radiation_wavelength";
constexpr std::string_view kWavelengthValueName2 = "_diffrn_radiation_wavelength.value";
constexpr std::string_view kWeightName = "_diffrn_radiation_wavelength_wt";
constexpr std::string_view kWeightName2 = "_diffrn_radiation_wavelength.wt";
constexpr std::string_view kRangeMinName = "_pd_meas_2theta_range_min";
constexpr std::string_view kRangeMaxName = "_pd_meas_2theta_range_max";
constexpr std::string_view kRangeIncName = "_pd_meas_2theta_range_inc";
constexpr std::string_view kRangeMinName2 = "_pd_meas.2theta_range_min";
constexpr std::string_view kRangeMaxName2 = "_pd_meas.2theta_range_max";
constexpr std::string_view kRangeIncName2 = "_pd_meas.2theta_range_inc";
// The intensity loop names the measured counts one of these ways, in order of
// preference; the processed intensities come last.
constexpr std::string_view kMeasuredNames[] = {"_pd_meas_intensity_total",
                                               "_pd_meas.intensity_total", "_pd_meas_counts_total",
                                               "_pd_meas.counts_total"};
constexpr std::string_view kProcessedNames[] = {"_pd_proc_intensity_total",
                                                "_pd_proc.intensity_total"};
// The angle of each point, where the loop gives it.
constexpr std::string_view kAngleNames[] = {"_pd_meas_2theta_scan", "_pd_meas.2theta_scan",
                                            "_pd_proc_2theta_corrected",
                                            "_pd_proc.2theta_corrected"};
constexpr std::string_view kTimeOfFlightNames[] = {
    "_pd_meas_time_of_flight", "_pd_meas.time_of_flight", "_pd_proc_time_of_flight",
    "_pd_proc.time_of_flight"};

// The data name of `names` that the work line holds, or an empty view.
template <std::size_t N>
std::string_view name_in(std::string_view work, const std::string_view (&names)[N]) noexcept {
    for (const std::string_view name : names)
        if (work.find(name) != std::string_view::npos) return name;
    return {};
}

bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    return text.substr(i);
}

bool starts_with_ignoring_case(std::string_view text, std::string_view word) noexcept {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// "loop_", "data_…", "save_…", "global_", "stop_": words that end a loop.
bool is_reserved_word(std::string_view trimmed) noexcept {
    return starts_with_ignoring_case(trimmed, "loop_") ||
           starts_with_ignoring_case(trimmed, "data_") ||
           starts_with_ignoring_case(trimmed, "save_") ||
           starts_with_ignoring_case(trimmed, "global_") ||
           starts_with_ignoring_case(trimmed, "stop_");
}

// A line whose first non-blank character is "#" is a comment.
bool is_comment(std::string_view trimmed) noexcept {
    return !trimmed.empty() && trimmed.front() == '#';
}

// Takes the next value of a line: values are separated by blanks, a quoted value
// runs to its closing quote, and a "#" outside a value starts a comment.
bool next_token(std::string_view& rest, std::string_view& token) noexcept {
    rest = skip_blanks(rest);
    if (rest.empty() || rest.front() == '#') {
        rest = {};
        return false;
    }
    std::size_t end = 0;
    const char quote = rest.front();
    if (quote == '\'' || quote == '"') {
        end = 1;
        while (end < rest.size() &&
               !(rest[end] == quote && (end + 1 == rest.size() || is_blank(rest[end + 1]))))
            ++end;
        end = std::min(end + 1, rest.size());
    } else {
        while (end < rest.size() && !is_blank(rest[end])) ++end;
    }
    token = rest.substr(0, end);
    rest = rest.substr(end);
    return true;
}

enum class NumberKind { value, unknown, invalid };

// A number as CIF writes it, without the uncertainty in parentheses after it
// ("5540(160)" is 5540; su_of reads the 160); "?" and "." stand for an
// unknown value.
NumberKind parse_number(std::string_view token, float& out) noexcept {
    if (token == "?" || token == ".") return NumberKind::unknown;
    const std::size_t paren = token.find('(');
    if (paren != std::string_view::npos) token = token.substr(0, paren);
    double value = 0.0;
    if (token.empty() || parse_real_field(token, 0, value) != FieldError::none ||
        !std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        return NumberKind::invalid;
    out = static_cast<float>(value);
    return NumberKind::value;
}

// The standard uncertainty that CIF writes in parentheses after a number, in
// units of the number's last printed digit: "36.1980(60165)" gives 6.0165,
// "5540(160)" 160, "1.25e3(4)" 40. Zero where none is written or where the
// parentheses hold anything but digits.
float su_of(std::string_view token) noexcept {
    const std::size_t open = token.find('(');
    if (open == std::string_view::npos || token.back() != ')') return 0.0f;
    const std::string_view digits = token.substr(open + 1, token.size() - open - 2);
    if (digits.empty() || digits.size() > 20 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0.0f;
    std::string_view number = token.substr(0, open);
    long exponent = 0;
    if (const std::size_t e = number.find_first_of("eE"); e != std::string_view::npos) {
        const std::string_view power = number.substr(e + 1);
        const char* first = power.data() + (!power.empty() && power.front() == '+');
        const auto [end, ec] = std::from_chars(first, power.data() + power.size(), exponent);
        if (ec != std::errc{} || end != power.data() + power.size() || std::labs(exponent) > 400)
            return 0.0f;
        number = number.substr(0, e);
    }
    const std::size_t dot = number.find('.');
    const long decimals =
        dot == std::string_view::npos ? 0 : static_cast<long>(number.size() - dot - 1);
    // The digits with their power of ten, parsed once, so that the uncertainty
    // is the float nearest to the decimal written.
    const std::string text = std::string(digits) + "e" + std::to_string(exponent - decimals);
    float su = 0.0f;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), su);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(su)) return 0.0f;
    return su;
}

// The input unit with the count of lines read, which a read error reports.
struct Reader {
    InputUnit& in;
    int32_t& lines_read;

    bool next(std::string_view& line) {
        if (!in.next_line(line)) return false;
        ++lines_read;
        return true;
    }
    void give_back() {
        in.backspace();
        --lines_read;
    }
};

// The data names of the loop being scanned, as the header scan meets them.
struct LoopNames {
    bool open = false;   // within the names that follow "loop_"
    int32_t serial = 0;  // counts the loops met
    std::vector<std::string_view> names;

    void add_names_of(std::string_view rest) {
        std::string_view token;
        while (next_token(rest, token)) {
            if (token.front() != '_') {
                open = false;  // the loop's values begin on this line
                return;
            }
            names.push_back(token);
        }
    }
    // Follows one (non-comment) line of the header scan.
    void follow(std::string_view trimmed) {
        if (trimmed.empty()) return;
        if (starts_with_ignoring_case(trimmed, "loop_")) {
            open = true;
            ++serial;
            names.clear();
            add_names_of(trimmed.substr(5));
        } else if (open && trimmed.front() == '_') {
            add_names_of(trimmed);
        } else {
            open = false;
        }
    }
    int32_t position_of(std::string_view a, std::string_view b = {}) const noexcept {
        for (std::size_t k = 0; k < names.size(); ++k)
            if (names[k] == a || (!b.empty() && names[k] == b)) return static_cast<int32_t>(k);
        return -1;
    }
    template <std::size_t N>
    int32_t position_of_any(const std::string_view (&wanted)[N]) const noexcept {
        for (const std::string_view name : wanted)
            if (const int32_t at = position_of(name); at >= 0) return at;
        return -1;
    }
};

// Reads the rest of a loop's data names: every line that begins with "_",
// whatever its prefix; blank and comment lines between them are passed over.
// The first other line is given back, so that it is read again as a value line.
bool read_remaining_names(Reader& reader, LoopNames& loop) {
    std::string_view line;
    for (;;) {
        if (!reader.next(line)) return false;
        const std::string_view trimmed = skip_blanks(line);
        if (trimmed.empty() || is_comment(trimmed)) continue;
        if (trimmed.front() != '_') {
            reader.give_back();
            loop.open = false;
            return true;
        }
        loop.open = true;
        loop.add_names_of(trimmed);
    }
}

// The values of a loop, one after another across its lines. The loop ends at a
// line that begins with a data name or a reserved word; that line is given back
// to the header scan.
class LoopValues {
  public:
    enum class Next { value, end_of_loop, end_of_file };

    explicit LoopValues(Reader& reader) : reader_(reader) {}

    Next next(std::string_view& value) {
        for (;;) {
            rest_ = skip_blanks(rest_);
            if (!rest_.empty() && (rest_.front() == '[' || rest_.front() == '{'))
                return skip_compound(value);
            if (next_token(rest_, value)) return Next::value;
            if (ended_) return Next::end_of_loop;
            std::string_view line;
            if (!reader_.next(line)) return Next::end_of_file;
            const std::string_view trimmed = skip_blanks(line);
            if (!trimmed.empty() && (trimmed.front() == '_' || is_reserved_word(trimmed))) {
                reader_.give_back();
                ended_ = true;
                return Next::end_of_loop;
            }
            rest_ = trimmed;
        }
    }

    // Reads one packet of `width` values and keeps those at two positions. A
    // packet cut short by the end of the loop is `partial`.
    Next packet(std::size_t width, int32_t want_a, std::string_view& a, int32_t want_b,
                std::string_view& b) {
        partial = false;
        for (std::size_t k = 0; k < width; ++k) {
            std::string_view value;
            const Next n = next(value);
            if (n != Next::value) {
                partial = k > 0 || cut_;
                return n;
            }
            if (static_cast<int32_t>(k) == want_a) a = value;
            if (static_cast<int32_t>(k) == want_b) b = value;
        }
        return Next::value;
    }
    bool partial = false;

  private:
    // Passes over a CIF 2.0 list "[...]" or table "{...}": nested ones, quoted
    // strings (triple-quoted too) and text fields within it, across lines. The
    // value given back is "[...]" or "{...}"; it is never a number.
    Next skip_compound(std::string_view& value) {
        value = rest_.front() == '[' ? kListValue : kTableValue;
        int depth = 0;
        std::string quote;  // the open quote, while within a quoted string
        bool text_field = false;
        bool first_line = true;
        std::string_view text = rest_;
        for (;;) {
            std::size_t i = 0;
            if (!first_line && quote.empty() && !text.empty() && text.front() == ';') {
                // A text field opens or closes at the start of a line.
                text_field = !text_field;
                i = text_field ? text.size() : 1;
            } else if (text_field) {
                i = text.size();
            }
            while (i < text.size()) {
                if (!quote.empty()) {
                    const auto close = text.find(quote, i);
                    if (close == std::string_view::npos) {
                        // A quoted string of one quote ends with its line.
                        if (quote.size() == 1) quote.clear();
                        break;
                    }
                    i = close + quote.size();
                    quote.clear();
                    continue;
                }
                const char c = text[i];
                if (c == '\'' || c == '"') {
                    const std::string triple(3, c);
                    quote = text.substr(i, 3) == triple ? triple : std::string(1, c);
                    i += quote.size();
                    continue;
                }
                if (c == '#' && (i == 0 || is_blank(text[i - 1]))) break;
                if (c == '[' || c == '{') ++depth;
                if ((c == ']' || c == '}') && --depth == 0) {
                    rest_ = text.substr(i + 1);
                    return Next::value;
                }
                ++i;
            }
            std::string_view line;
            if (!reader_.next(line)) {
                ended_ = true;
                cut_ = true;
                rest_ = {};
                return Next::end_of_file;
            }
            text = line;
            first_line = false;
        }
    }

    static constexpr std::string_view kListValue = "[...]";
    static constexpr std::string_view kTableValue = "{...}";

    Reader& reader_;
    std::string_view rest_;
    bool ended_ = false;
    bool cut_ = false;  // the file ended within a list or table
};

// What a data name's line gives for the name found at `name_end`.
enum class Found { value, nothing, invalid };

// The number that follows the data name on its line, wherever it stands; an
// uncertainty in parentheses is dropped. A longer name that merely begins
// with the one searched for, a missing value and "?" or "." give nothing.
Found value_after(std::string_view line, std::size_t name_end, float& out) {
    if (name_end < line.size() && !is_blank(line[name_end])) return Found::nothing;
    std::string_view rest = line.substr(std::min(name_end, line.size()));
    std::string_view token;
    if (!next_token(rest, token)) return Found::nothing;
    switch (parse_number(token, out)) {
        case NumberKind::value:
            return Found::value;
        case NumberKind::unknown:
            return Found::nothing;
        case NumberKind::invalid:
            break;
    }
    return Found::invalid;
}

// The first word after a data name, as a report quotes it.
std::string_view word_after(std::string_view line, std::size_t name_end) noexcept {
    std::string_view rest = skip_blanks(line.substr(std::min(name_end, line.size())));
    std::size_t end = 0;
    while (end < rest.size() && !is_blank(rest[end])) ++end;
    return rest.substr(0, end);
}

class CifReader {
  public:
    explicit CifReader(Workspace& ws)
        : ws_(ws),
          r_(ws.record()),
          reader_{ws.input(), ws.record().lines_read},
          file_(ws.input().file_name()) {}

    ConversionStatus read() {
        r_.lines_read = 0;
        work_.reserve(kWorkLength);
        const int32_t wanted = std::max<int32_t>(ws_.options.scan, 1);
        std::string_view line;
        while (reader_.next(line)) {
            const std::string_view trimmed = skip_blanks(line);
            // Comments match nothing: a commented-out loop is not data.
            if (is_comment(trimmed)) continue;
            if (starts_with_ignoring_case(trimmed, "data_")) {
                // The 2-theta range belongs to its data block.
                have_min_ = have_max_ = have_inc_ = false;
            }
            loop_.follow(trimmed);
            work_.assign(line.substr(0, std::min(line.size(), kWorkLength)));
            work_.resize(kWorkLength, ' ');

            // Each intensity loop is one powder data block; all are counted, the
            // one asked for is read.
            if (!name_in(work_, kMeasuredNames).empty() ||
                !name_in(work_, kProcessedNames).empty()) {
                if (loop_.serial == counted_loop_ && counted_loop_ != 0) continue;
                counted_loop_ = loop_.serial;
                if (++blocks_ != wanted) continue;
                if (const ConversionStatus s = read_intensity_loop(trimmed);
                    s != ConversionStatus::done)
                    return s;
                taken_ = true;
                continue;
            }
            // Nothing after the block converted may change the record.
            if (taken_) continue;

            ConversionStatus s = ConversionStatus::done;
            if (work_.find(kTitleName) != std::string::npos ||
                work_.find(kTitleName2) != std::string::npos) {
                s = read_title();
            } else if (const auto at = work_.find(kWavelengthName); at != std::string::npos) {
                const bool in_loop = loop_.open || work_.find("loop") != std::string::npos;
                std::size_t end = at + kWavelengthName.size();
                if (work_.compare(at, kWavelengthValueName2.size(), kWavelengthValueName2) == 0)
                    end = at + kWavelengthValueName2.size();
                s = in_loop ? read_wavelength_loop(trimmed) : read_single_wavelength(line, end);
            } else if (const auto [at, len] = find_either(kRangeMinName, kRangeMinName2);
                       at != std::string::npos) {
                s = read_range_value(line, at + len, r_.two_theta_start, have_min_);
            } else if (const auto [at, len] = find_either(kRangeMaxName, kRangeMaxName2);
                       at != std::string::npos) {
                s = read_range_value(line, at + len, r_.two_theta_end, have_max_);
            } else if (const auto [at, len] = find_either(kRangeIncName, kRangeIncName2);
                       at != std::string::npos) {
                s = read_range_value(line, at + len, r_.two_theta_step, have_inc_);
            }
            if (s != ConversionStatus::done) return s;
        }
        if (blocks_ == 0)
            return ws_.fail(ConversionStatus::not_available,
                            file_ +
                                " has no loop of _pd_meas_intensity_total, _pd_meas_counts_total "
                                "or _pd_proc_intensity_total: it holds no powder intensities");
        if (!taken_)
            return ws_.fail(ConversionStatus::not_available, file_ + " holds " + blocks_text() +
                                                                 "; there is no block " +
                                                                 std::to_string(wanted));
        ws_.scan.number = wanted;
        ws_.scan.count = blocks_;
        if (blocks_ > 1 && !ws_.options.all_scans)
            ws_.warn(file_ + " holds " + blocks_text() + "; block " + std::to_string(wanted) +
                     " converted");
        return ConversionStatus::done;
    }

  private:
    std::string blocks_text() const {
        return std::to_string(blocks_) +
               (blocks_ == 1 ? " powder data block" : " powder data blocks");
    }

    std::pair<std::size_t, std::size_t> find_either(std::string_view a,
                                                    std::string_view b) const noexcept {
        if (const auto at = work_.find(a); at != std::string::npos) return {at, a.size()};
        return {work_.find(b), b.size()};
    }

    // The title is the next line without its first character (the ";" that
    // opens a text field). A text field that opens on a line of its own gives
    // its first line instead, without leading blanks.
    ConversionStatus read_title() {
        std::string_view next;
        if (!reader_.next(next)) return ConversionStatus::premature_end;
        if (trim_right(next) == ";") {
            if (!reader_.next(next)) return ConversionStatus::premature_end;
            r_.set_title(skip_blanks(next).substr(0, kWorkLength - 1));
            return ConversionStatus::done;
        }
        r_.set_title(next.substr(std::min<std::size_t>(1, next.size()), kWorkLength - 1));
        return ConversionStatus::done;
    }

    ConversionStatus read_single_wavelength(std::string_view line, std::size_t name_end) {
        float value = 0.0f;
        switch (value_after(line, name_end, value)) {
            case Found::value:
                r_.lambda1 = value;
                r_.lambda2 = 0.0f;
                r_.alpha_ratio = 0.0f;
                return ConversionStatus::done;
            case Found::nothing:
                return ConversionStatus::done;
            case Found::invalid:
                break;
        }
        return value_error(word_after(line, name_end));
    }

    // A wavelength loop: the first packet gives lambda1, the second lambda2 and,
    // when the loop has a weight column, alpha_ratio (the weight of the second
    // line; 0.5 without one). A loop of one packet is a single wavelength.
    ConversionStatus read_wavelength_loop(std::string_view trimmed) {
        if (!loop_.open) {
            // "loop" on the line, but not where a loop begins: take its names.
            loop_.names.clear();
            loop_.add_names_of(starts_with_ignoring_case(trimmed, "loop_") ? trimmed.substr(5)
                                                                           : trimmed);
        }
        if (!read_remaining_names(reader_, loop_)) return ConversionStatus::premature_end;
        const int32_t wl_col = loop_.position_of(kWavelengthName, kWavelengthValueName2);
        const int32_t wt_col = loop_.position_of(kWeightName, kWeightName2);
        if (wl_col < 0) return ConversionStatus::done;  // a loop of other wavelength items

        LoopValues values(reader_);
        const std::size_t width = loop_.names.size();
        std::string_view wl, wt;
        switch (values.packet(width, wl_col, wl, wt_col, wt)) {
            case LoopValues::Next::value:
                break;
            case LoopValues::Next::end_of_loop:
                return ConversionStatus::done;  // names without values
            case LoopValues::Next::end_of_file:
                return ConversionStatus::premature_end;
        }
        float lambda1 = 0.0f;
        float weight1 = 1.0f;
        if (parse_number(wl, lambda1) != NumberKind::value) return value_error(wl);
        if (wt_col >= 0 && parse_number(wt, weight1) == NumberKind::invalid) return value_error(wt);

        wl = wt = {};
        switch (values.packet(width, wl_col, wl, wt_col, wt)) {
            case LoopValues::Next::value:
                break;
            case LoopValues::Next::end_of_loop:
                r_.lambda1 = lambda1;
                r_.lambda2 = 0.0f;
                r_.alpha_ratio = 0.0f;
                return ConversionStatus::done;
            case LoopValues::Next::end_of_file:
                return ConversionStatus::premature_end;
        }
        float lambda2 = 0.0f;
        if (parse_number(wl, lambda2) != NumberKind::value) return value_error(wl);
        float ratio = 0.5f;
        if (wt_col >= 0 && parse_number(wt, ratio) == NumberKind::invalid) return value_error(wt);
        float weight2 = ratio;

        // An emission profile of more lines (Cu K-alpha in five): alpha1 and alpha2
        // are the two heaviest, the ratio their weights' ratio.
        bool profile = false;
        for (;;) {
            wl = wt = {};
            if (values.packet(width, wl_col, wl, wt_col, wt) != LoopValues::Next::value) break;
            float lambda = 0.0f, weight = 0.0f;
            if (wt_col < 0 || parse_number(wl, lambda) != NumberKind::value ||
                parse_number(wt, weight) != NumberKind::value)
                continue;
            profile = true;
            if (weight > weight1) {
                lambda2 = lambda1;
                weight2 = weight1;
                lambda1 = lambda;
                weight1 = weight;
            } else if (weight > weight2) {
                lambda2 = lambda;
                weight2 = weight;
            }
        }
        if (profile && weight1 > 0.0f) ratio = weight2 / weight1;
        r_.lambda1 = lambda1;
        r_.lambda2 = lambda2;
        r_.alpha_ratio = ratio;
        return ConversionStatus::done;
    }

    ConversionStatus read_range_value(std::string_view line, std::size_t name_end, float& field,
                                      bool& have) {
        float value = 0.0f;
        switch (value_after(line, name_end, value)) {
            case Found::value:
                field = value;
                have = true;
                return ConversionStatus::done;
            case Found::nothing:
                return ConversionStatus::done;
            case Found::invalid:
                break;
        }
        return value_error(word_after(line, name_end));
    }

    // The intensity loop: its column of measured counts (or, failing those, of
    // processed intensities), placed on the block's 2theta range or on the
    // loop's own 2theta column, which must then lie on an even grid.
    ConversionStatus read_intensity_loop(std::string_view trimmed) {
        r_.count_time = 1.0f;
        if (!loop_.open) {
            loop_.names.clear();
            loop_.add_names_of(trimmed);
        }
        const int32_t name_line = r_.lines_read;
        if (!read_remaining_names(reader_, loop_)) return ConversionStatus::premature_end;
        if (const int32_t tof = loop_.position_of_any(kTimeOfFlightNames); tof >= 0)
            return ws_.fail(ConversionStatus::not_available,
                            file_ + " holds time-of-flight data (" +
                                std::string(loop_.names[static_cast<std::size_t>(tof)]) +
                                "); only constant-wavelength 2theta scans can be converted");
        const int32_t measured = loop_.position_of_any(kMeasuredNames);
        const int32_t processed = loop_.position_of_any(kProcessedNames);
        const int32_t column = measured >= 0 ? measured : processed;
        const int32_t angle_column = loop_.position_of_any(kAngleNames);
        // The names point into lines that reading the values may give back.
        const std::string processed_name =
            measured < 0 && processed >= 0
                ? std::string(loop_.names[static_cast<std::size_t>(processed)])
                : std::string();
        if (column < 0) {
            r_.lines_read = name_line;
            return ws_.fail(ConversionStatus::record_error,
                            file_ + ", line " + std::to_string(name_line) +
                                ": the loop names no intensity column of its own");
        }

        const std::string column_name(loop_.names[static_cast<std::size_t>(column)]);
        const std::string angle_name(
            angle_column >= 0 ? loop_.names[static_cast<std::size_t>(angle_column)] : "");

        // The points lie on the 2-theta range of this data block, or at the
        // angles of the loop's 2theta column.
        const bool have_range = have_min_ && have_max_ && have_inc_ && r_.two_theta_step > 0.0f;
        const int32_t count = have_range ? derived_point_count(r_.two_theta_start, r_.two_theta_end,
                                                               r_.two_theta_step)
                                         : 0;
        if (count < 1 && angle_column < 0) {
            r_.lines_read = name_line;
            return ws_.fail(ConversionStatus::record_error,
                            file_ + ", line " + std::to_string(name_line) +
                                ": the data block gives no usable 2theta range "
                                "(_pd_meas_2theta_range_min, _max and _inc) and the loop no "
                                "2theta column");
        }
        if (count > r_.max_points) {
            r_.point_count = count;
            return ConversionStatus::too_many_points;
        }
        const int32_t limit = count > 0 ? count : std::clamp(r_.max_points, 0, kPointCapacity);

        LoopValues values(reader_);
        const std::size_t width = loop_.names.size();
        float* const intensity = r_.intensity.data();
        std::vector<double> angles;
        std::vector<int8_t> decimals;
        std::string_view value, angle;
        int32_t got = 0;
        int32_t extra = 0;
        int32_t su_left_out = 0;
        LoopValues::Next next;
        while ((next = values.packet(width, column, value, angle_column, angle)) ==
               LoopValues::Next::value) {
            if (got >= limit) {
                if (count == 0) {
                    r_.point_count = got + 1;
                    return ConversionStatus::too_many_points;
                }
                ++extra;
                continue;
            }
            if (parse_number(value, intensity[got]) != NumberKind::value)
                return value_error(value, column_name);
            if (const float su = su_of(value); su > 0.0f) {
                if (ws_.options.no_sigma)
                    ++su_left_out;
                else
                    r_.sigma(got + 1) = su;  // 1-based, as the points are counted
            }
            if (angle_column >= 0) {
                float a = 0.0f;
                const std::size_t paren = angle.find('(');
                if (parse_number(angle, a) != NumberKind::value)
                    return value_error(angle, angle_name);
                double exact = 0.0;
                parse_real_field(angle.substr(0, paren), 0, exact);
                angles.push_back(exact);
                decimals.push_back(
                    static_cast<int8_t>(std::min(printed_decimals(angle.substr(0, paren)), 100)));
            }
            ++got;
        }
        if (values.partial && next == LoopValues::Next::end_of_file)
            return ws_.fail(ConversionStatus::premature_end,
                            file_ + " ends within the last row of its intensity loop");
        if (count > 0 && got < count) {
            if (next == LoopValues::Next::end_of_file)
                return ws_.fail(ConversionStatus::premature_end,
                                file_ + " ends after " + std::to_string(got) + " of the " +
                                    std::to_string(count) + " points that its 2theta range gives");
            return ws_.fail(ConversionStatus::record_error,
                            file_ + ", line " + std::to_string(r_.lines_read) +
                                ": the intensity loop ends after " + std::to_string(got) +
                                " of the " + std::to_string(count) +
                                " points that its 2theta range gives");
        }
        r_.point_count = got;
        if (extra > 0)
            ws_.warn(file_ + ": the intensity loop holds " + std::to_string(got + extra) +
                     " points where the 2theta range gives " + std::to_string(count) +
                     "; the last " + std::to_string(extra) + " were left out");
        if (angle_column >= 0 && got > 0) {
            double start = angles.front();
            double step = got > 1 ? (angles.back() - start) / static_cast<double>(got - 1) : 0.0;
            if (count > 0) {
                start = r_.two_theta_start;
                step = r_.two_theta_step;
            }
            const auto miss = first_off_grid(angles, decimals, start, step);
            if (miss && count == 0) {
                // No range is stated, only the angles: kept as stated.
                ws_.warn(off_grid_note(
                    file_ + ", point " + std::to_string(miss->index + 1) + " of the intensity loop",
                    angles[miss->index]));
                r_.angles = angles;
                set_range_from_angles(r_);
                start = r_.two_theta_start;
                step = r_.two_theta_step;
            } else if (miss)
                return ws_.fail(
                    ConversionStatus::record_error,
                    off_grid_reason(file_ + ", point " + std::to_string(miss->index + 1) +
                                        " of the intensity loop",
                                    angles[miss->index], miss->off, start, step));
            r_.two_theta_start = static_cast<float>(start);
            r_.two_theta_step = static_cast<float>(step);
            r_.two_theta_end = static_cast<float>(angles.back());
        }
        if (su_left_out > 0)
            ws_.warn(file_ + ": the uncertainties of " + std::to_string(su_left_out) +
                     " intensities were not read (--no-sigma)");
        if (measured < 0)
            ws_.warn(file_ + ": the intensities are processed (" + processed_name +
                     "), not measured counts");
        return ConversionStatus::done;
    }

    // A value on the line just read cannot be used: the report names the line
    // before it, the reason the line itself.
    ConversionStatus value_error(std::string_view text, std::string_view column = {}) {
        std::string reason = file_ + ", line " + std::to_string(r_.lines_read) + ": ";
        if (!text.empty() && (text.front() == '[' || text.front() == '{')) {
            reason += "a CIF 2.0 ";
            reason += text.front() == '[' ? "list" : "table";
            reason += " stands where a number is needed";
            if (!column.empty()) reason += " (column " + std::string(column) + ")";
        } else {
            reason += "'";
            reason += text;
            reason += "' is not a number";
        }
        --r_.lines_read;
        return ws_.fail(ConversionStatus::record_error, std::move(reason));
    }

    Workspace& ws_;
    PowderPattern& r_;
    Reader reader_;
    std::string file_;
    LoopNames loop_;
    std::string work_;
    int32_t blocks_ = 0;        // intensity loops met
    int32_t counted_loop_ = 0;  // the serial of the loop counted last
    bool taken_ = false;
    bool have_min_ = false;
    bool have_max_ = false;
    bool have_inc_ = false;
};

}  // namespace

ConversionStatus gsas_cif_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(
        ws, [&] { return mode == CodecMode::write ? write_powder_cif(ws) : CifReader(ws).read(); });
}

}  // namespace qelda
