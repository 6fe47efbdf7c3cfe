// Powder data from CIF files as GSAS writes them, input only. This is not a
// general CIF parser: the header is scanned line by line for a handful of data
// names, tested in a fixed order by a case-sensitive search of the line's first
// 60 columns; then the loop that holds the measured intensities is read, one
// count per loop packet, from the column that the loop's data names give it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "core/point_count.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr std::size_t kWorkLength = 60;

constexpr std::string_view kTitleName = "_publ_section_title";
constexpr std::string_view kWavelengthName = "_diffrn_radiation_wavelength";
constexpr std::string_view kWeightName = "_diffrn_radiation_wavelength_wt";
constexpr std::string_view kRangeMinName = "_pd_meas_2theta_range_min";
constexpr std::string_view kRangeMaxName = "_pd_meas_2theta_range_max";
constexpr std::string_view kRangeIncName = "_pd_meas_2theta_range_inc";
// GSAS names the measured counts either way.
constexpr std::string_view kIntensityName = "_pd_meas_intensity_total";
constexpr std::string_view kCountsName = "_pd_meas_counts_total";

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

// A number as CIF writes it: an uncertainty in parentheses after it is dropped
// ("5540(160)" is 5540); "?" and "." stand for an unknown value.
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
    bool open = false;  // within the names that follow "loop_"
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

    // Reads one packet of `width` values and keeps those at two positions.
    Next packet(std::size_t width, int32_t want_a, std::string_view& a, int32_t want_b,
                std::string_view& b) {
        for (std::size_t k = 0; k < width; ++k) {
            std::string_view value;
            const Next n = next(value);
            if (n != Next::value) return n;
            if (static_cast<int32_t>(k) == want_a) a = value;
            if (static_cast<int32_t>(k) == want_b) b = value;
        }
        return Next::value;
    }

  private:
    Reader& reader_;
    std::string_view rest_;
    bool ended_ = false;
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

class CifReader {
  public:
    explicit CifReader(Workspace& ws)
        : r_(ws.record()), reader_{ws.input(), ws.record().lines_read} {}

    ConversionStatus read() {
        r_.lines_read = 0;
        work_.reserve(kWorkLength);
        std::string_view line;
        for (;;) {
            if (!reader_.next(line)) return ConversionStatus::premature_end;
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

            ConversionStatus s = ConversionStatus::done;
            if (work_.find(kTitleName) != std::string::npos) {
                s = read_title();
            } else if (const auto at = work_.find(kWavelengthName); at != std::string::npos) {
                const bool in_loop = loop_.open || work_.find("loop") != std::string::npos;
                s = in_loop ? read_wavelength_loop(trimmed)
                            : read_single_wavelength(line, at + kWavelengthName.size());
            } else if (const auto at = work_.find(kRangeMinName); at != std::string::npos) {
                s = read_range_value(line, at + kRangeMinName.size(), r_.two_theta_start,
                                     have_min_);
            } else if (const auto at = work_.find(kRangeMaxName); at != std::string::npos) {
                s = read_range_value(line, at + kRangeMaxName.size(), r_.two_theta_end, have_max_);
            } else if (const auto at = work_.find(kRangeIncName); at != std::string::npos) {
                s = read_range_value(line, at + kRangeIncName.size(), r_.two_theta_step, have_inc_);
            } else if (work_.find(kIntensityName.substr(1)) != std::string::npos ||
                       work_.find(kCountsName.substr(1)) != std::string::npos) {
                return read_intensity_loop(trimmed);
            }
            if (s != ConversionStatus::done) return s;
        }
    }

  private:
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
        return value_error();
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
        const int32_t wl_col = loop_.position_of(kWavelengthName);
        const int32_t wt_col = loop_.position_of(kWeightName);
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
        if (parse_number(wl, lambda1) != NumberKind::value) return value_error();
        r_.lambda1 = lambda1;

        wl = wt = {};
        switch (values.packet(width, wl_col, wl, wt_col, wt)) {
            case LoopValues::Next::value:
                break;
            case LoopValues::Next::end_of_loop:
                r_.lambda2 = 0.0f;
                r_.alpha_ratio = 0.0f;
                return ConversionStatus::done;
            case LoopValues::Next::end_of_file:
                return ConversionStatus::premature_end;
        }
        float lambda2 = 0.0f;
        if (parse_number(wl, lambda2) != NumberKind::value) return value_error();
        float ratio = 0.5f;
        if (wt_col >= 0 && parse_number(wt, ratio) == NumberKind::invalid) return value_error();
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
        return value_error();
    }

    ConversionStatus read_intensity_loop(std::string_view trimmed) {
        r_.count_time = 1.0f;
        if (!loop_.open) {
            loop_.names.clear();
            loop_.add_names_of(trimmed);
        }
        // The points lie on the 2-theta range of this data block; without a
        // usable one there is nothing to place the counts on.
        const int32_t count =
            have_min_ && have_max_ && have_inc_ && r_.two_theta_step > 0.0f
                ? derived_point_count(r_.two_theta_start, r_.two_theta_end, r_.two_theta_step)
                : 0;
        if (count < 1) return ConversionStatus::record_error;
        r_.point_count = count;
        if (count > r_.max_points) return ConversionStatus::too_many_points;

        if (!read_remaining_names(reader_, loop_)) return ConversionStatus::premature_end;
        const int32_t column = loop_.position_of(kIntensityName, kCountsName);
        if (column < 0) return ConversionStatus::record_error;

        LoopValues values(reader_);
        const std::size_t width = loop_.names.size();
        float* const intensity = r_.intensity.data();
        std::string_view value, unused;
        for (int32_t i = 0; i < count; ++i) {
            switch (values.packet(width, column, value, -1, unused)) {
                case LoopValues::Next::value:
                    break;
                case LoopValues::Next::end_of_loop:
                case LoopValues::Next::end_of_file:
                    return ConversionStatus::premature_end;
            }
            if (parse_number(value, intensity[i]) != NumberKind::value) return value_error();
        }
        return ConversionStatus::done;
    }

    // A value on the line just read cannot be used: the report names the line
    // before it.
    ConversionStatus value_error() {
        --r_.lines_read;
        return ConversionStatus::record_error;
    }

    PowderPattern& r_;
    Reader reader_;
    LoopNames loop_;
    std::string work_;
    bool have_min_ = false;
    bool have_max_ = false;
    bool have_inc_ = false;
};

}  // namespace

ConversionStatus gsas_cif_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : CifReader(ws).read();
    });
}

}  // namespace qelda
