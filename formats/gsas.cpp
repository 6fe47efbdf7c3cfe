// GSAS raw powder data with constant-wavelength binning ("GSAS cw data", *.gsa):
// a title record, one BANK record, then data records of ten 8-column fields.
//
// Read: the plain form, ten counts per record, each field a counter number in
// its first two columns and the count in its last six (" 1   220" is a count of
// 220 from counter 1), and the ESD form, five pairs of count and standard
// uncertainty per record. Written: always the ESD form, every record exactly 80
// characters, optionally renormalising variable-slit intensities first.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "core/codec_guard.h"
#include "core/fields.h"
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

// What the BANK record says, once it has been read.
struct Bank {
    int64_t point_count = 0;
    int64_t record_count = 0;  // negative counts read no records
    bool esd = false;          // pairs of count and uncertainty
    std::string_view start_word;
    std::string_view step_word;
};

enum class BankVerdict {
    constant,       // a constant-wavelength BANK record in a form we read
    not_available,  // no CONST, not a BANK record, or a data form we do not read
    unreadable,     // a CONST BANK record whose numbers cannot be read
};

bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t';
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

// Reads the BANK record as words: "BANK", bank number, point count, record count,
// the binning word, start and step in centidegrees, then the two other binning
// coefficients and the data form. Fields are separated by any number of blanks
// ("BANK 1 2919 292 CONST 1000 5 0 0" and "BANK  1    16001    3201 CONST ...").
// `upper` is the record in upper case; the returned views point into it.
BankVerdict read_bank(std::string_view upper, Bank& bank) noexcept {
    if (upper.find("CONST") == std::string_view::npos) return BankVerdict::not_available;
    std::array<std::string_view, 16> words;
    const std::size_t count = split_words(upper, words);
    // A record before the BANK record (a comment that mentions "constant").
    if (words[0] != "BANK") return BankVerdict::not_available;
    if (count < 5 || words[4] != "CONST") {
        // CONST binning with words missing before it, or another binning type.
        const auto shown = std::span(words).first(count);
        const bool has_const = std::find(shown.begin(), shown.end(), "CONST") != shown.end();
        return has_const ? BankVerdict::unreadable : BankVerdict::not_available;
    }
    // Data forms other than the plain and the ESD form would be misread as counts.
    for (std::size_t k = 5; k < count; ++k)
        if (words[k] == "ALT" || words[k] == "FXY" || words[k] == "FXYE")
            return BankVerdict::not_available;
    bank.esd = upper.find("ESD") != std::string_view::npos;
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

ConversionStatus read_gsas(Workspace& ws) {
    static const Layout kWorkLine("(A80)");
    static const Layout kEsdRecord("(10F8.0)");
    static const Layout kPlainRecord("(10(I2,F6.0))");

    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();

    r.lines_read = 0;
    // The title record is read whole and its leading blanks dropped: our writer
    // puts three blanks before the title, and without this every GSAS to GSAS
    // pass would shift the title right and lose its last three characters.
    std::string line;
    if (const Outcome o = read_record(in, kWorkLine, {TextRef{line, kRecordLength}});
        o != Outcome::done)
        return read_failure_status(o);
    ++r.lines_read;
    const auto first = line.find_first_not_of(' ');
    r.set_title(first == std::string::npos ? std::string_view{}
                                           : std::string_view(line).substr(first));

    if (const Outcome o = read_record(in, kWorkLine, {TextRef{line, kRecordLength}});
        o != Outcome::done)
        return read_failure_status(o);
    ++r.lines_read;
    for (char& c : line)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

    Bank bank;
    switch (read_bank(line, bank)) {
        case BankVerdict::not_available:
            return ConversionStatus::not_available;
        case BankVerdict::unreadable:
            return ConversionStatus::record_error;
        case BankVerdict::constant:
            break;
    }
    // A negative number of points is no count at all.
    if (bank.point_count < 0) return ConversionStatus::record_error;
    const int64_t limit = std::clamp<int64_t>(r.max_points, 0, kPointCapacity);
    if (bank.point_count > limit) return ConversionStatus::too_many_points;
    const int per_record = bank.esd ? kPairsPerRecord : kFieldsPerRecord;
    const int64_t records = std::max<int64_t>(bank.record_count, 0);
    // Records too few for the points would leave the last points unread.
    if (records < (bank.point_count + per_record - 1) / per_record)
        return ConversionStatus::record_error;

    double start = 0.0;
    double step = 0.0;
    if (bank.start_word.empty() || !read_number(bank.start_word, start) ||
        !read_number(bank.step_word, step))
        return ConversionStatus::record_error;

    r.point_count = static_cast<int32_t>(bank.point_count);
    r.two_theta_start = static_cast<float>(start / 100.0);
    r.two_theta_step = static_cast<float>(step / 100.0);
    r.two_theta_end = static_cast<float>(start / 100.0 + static_cast<double>(bank.point_count - 1) *
                                                             (step / 100.0));
    r.count_time = 0.0f;

    ask_wavelengths(ws);

    // Values past the last point fill the arrays only as far as they reach.
    std::array<float, kFieldsPerRecord> values{};
    std::array<int32_t, kFieldsPerRecord> counters{};
    const Target esd_target[] = {std::span<float>(values)};
    const auto plain =
        plain_targets(counters, values, std::make_index_sequence<2 * kFieldsPerRecord>{});
    const std::span<const Target> targets =
        bank.esd ? std::span<const Target>(esd_target) : std::span<const Target>(plain);

    for (int64_t rec = 0; rec < records; ++rec) {
        const Outcome o = read_record(in, bank.esd ? kEsdRecord : kPlainRecord, targets);
        if (o != Outcome::done) return read_failure_status(o);
        ++r.lines_read;
        const int64_t first = rec * per_record + 1;
        if (first > limit) continue;
        const int stored = static_cast<int>(std::min<int64_t>(per_record, limit - first + 1));
        const auto point = static_cast<int32_t>(first);
        if (bank.esd) {
            for (int k = 0; k < stored; ++k) {
                r.intensity(point + k) = values[static_cast<std::size_t>(2 * k)];
                r.sigma(point + k) = values[static_cast<std::size_t>(2 * k + 1)];
            }
        } else {
            for (int k = 0; k < stored; ++k)
                r.intensity(point + k) = values[static_cast<std::size_t>(k)];
        }
    }
    return ConversionStatus::done;
}

// The title as one record: control characters (a line end above all) would
// split or end the record, so they are written as blanks.
std::string printable_title(std::string_view title) {
    std::string out(title);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

ConversionStatus write_gsas(Workspace& ws) {
    static const Layout kTitle("('   ',A60)");
    static const Layout kBank("('BANK  1      ',I6,4X,I6,'  CONST',3X,2F10.5,' 0.0 0.0 ESD',9X)");
    static const Layout kPairs("(5(F8.0,F8.2))");
    static const Layout kWholeRecord("(A80)");

    OutputUnit& out = ws.output();
    out.restart();
    const bool renormalise = ask_slit_correction(ws);
    PowderPattern& r = ws.record();

    const int32_t n = std::max(r.point_count, 0);
    if (n > kPointCapacity) return ConversionStatus::record_error;
    // One record more than the pairs need when n is a multiple of five.
    const int32_t records = n / kPairsPerRecord + 1;

    auto put = [&](const TextResult& built) {
        if (built.outcome != Outcome::done) return ConversionStatus::record_error;
        if (built.overflow) return ConversionStatus::too_large;
        if (write_record(out, kWholeRecord, {built.text}) != Outcome::done)
            return ConversionStatus::record_error;
        return ConversionStatus::done;
    };

    ConversionStatus status = put(write_text(kRecordLength, kTitle, {printable_title(r.title)}));
    if (status != ConversionStatus::done) return status;

    const float start_centidegrees = 100.0f * r.two_theta_start;
    const float step_centidegrees = 100.0f * r.two_theta_step;
    status =
        put(write_text(kRecordLength, kBank, {n, records, start_centidegrees, step_centidegrees}));
    if (status != ConversionStatus::done) return status;

    std::array<float, 2 * kPairsPerRecord> pairs{};
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
        if (write_record(out, kPairs, {std::span<const float>(pairs)}) != Outcome::done)
            return ConversionStatus::record_error;
        if (out.overflowed()) return ConversionStatus::too_large;
    }
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus gsas_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws,
                       [&] { return mode == CodecMode::write ? write_gsas(ws) : read_gsas(ws); });
}

}  // namespace qelda
