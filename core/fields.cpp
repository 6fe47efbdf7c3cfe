#include "core/fields.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qelda {
namespace {

void append_asterisks(std::string& out, int32_t width) {
    out.append(static_cast<std::size_t>(width), '*');
}

// True when |value| lies exactly half-way between two multiples of 10^-decimals.
// value = M * 2^E with M a 53-bit integer; 2 * 10^d * value = M * 5^d * 2^(E+d+1)
// is an odd integer exactly when M has E+d+1 ... trailing zero bits as below.
bool is_exact_tie(double value, int32_t decimals) {
    if (value == 0.0 || decimals > 400) return false;
    int exponent = 0;
    const double mantissa = std::frexp(std::fabs(value), &exponent);
    const auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
    const int e = exponent - 53;
    const int k = -(e + decimals + 1);
    if (k < 0 || k >= 64) return false;
    return std::countr_zero(m) == k;
}

// Adds one unit in the last place to a digit string such as "12.34" or "9.99".
void increment_last_digit(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] == '.') continue;
        if (digits[i] == '9') {
            digits[i] = '0';
            continue;
        }
        ++digits[i];
        return;
    }
    digits.insert(digits.begin(), '1');
}

constexpr double kExactPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};

// |value| * 10^decimals rounded to a whole number, halves away from zero, worked
// out exactly on the binary value (M * 2^E) in 128-bit integers. False when the
// result would not fit 64 bits or decimals exceed 19; the slow path then serves.
bool scaled_magnitude(double magnitude, int32_t decimals, uint64_t& scaled) {
    if (decimals < 0 || decimals > 19) return false;
    if (magnitude == 0.0) {
        scaled = 0;
        return true;
    }
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    const int biased = static_cast<int>(bits >> 52) & 0x7ff;
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    using u128 = unsigned __int128;
    const u128 product = static_cast<u128>(mantissa) * kPow10[decimals];
    if (exponent >= 0) {
        if (exponent > 63 || (product >> (64 - exponent)) != 0) return false;
        scaled = static_cast<uint64_t>(product << exponent);
        return true;
    }
    const int shift = -exponent;
    if (shift >= 127) {  // the product lies below 2^117: less than half a unit
        scaled = 0;
        return true;
    }
    u128 whole = product >> shift;
    const u128 rest = product - (whole << shift);
    if (rest >= (static_cast<u128>(1) << (shift - 1))) ++whole;
    if ((whole >> 64) != 0) return false;
    scaled = static_cast<uint64_t>(whole);
    return true;
}

// |value| rounded to `decimals` places as "int.frac" (no sign); "int." when 0.
// Returns the length written into `out` (at least 48 characters), or 0 when the
// value needs the slow path.
std::size_t fast_magnitude_digits(double magnitude, int32_t decimals, char* out) {
    uint64_t scaled = 0;
    if (!scaled_magnitude(magnitude, decimals, scaled)) return 0;
    // Digits from the right, the point after `decimals` of them, and at least
    // one digit before the point.
    char buf[48];
    char* end = buf + sizeof buf;
    char* p = end;
    int32_t placed = 0;
    do {
        *--p = static_cast<char>('0' + scaled % 10);
        scaled /= 10;
        if (++placed == decimals) *--p = '.';
    } while (scaled != 0 || placed < decimals);
    if (*p == '.') *--p = '0';
    const auto len = static_cast<std::size_t>(end - p);
    std::memcpy(out, p, len);
    if (decimals == 0) {  // a whole number is written with a trailing point: "1234."
        out[len] = '.';
        return len + 1;
    }
    return len;
}

// The slow path for values beyond 64 bits once scaled, or more than 19 decimals.
std::string magnitude_digits(double magnitude, int32_t decimals) {
    char fast[48];
    if (const std::size_t n = fast_magnitude_digits(magnitude, decimals, fast); n > 0)
        return std::string(fast, n);
    char buf[512];
    const bool tie = is_exact_tie(magnitude, decimals);
    const int precision = tie ? decimals + 1 : decimals;
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed, precision);
    std::string digits;
    if (res.ec != std::errc{}) {
        // Far beyond any field width; the caller fills the field with asterisks.
        return std::string(sizeof buf, '9');
    }
    digits.assign(buf, res.ptr);
    if (tie) {
        digits.pop_back();  // the exact trailing 5
        if (!digits.empty() && digits.back() == '.') digits.pop_back();
        increment_last_digit(digits);
    }
    if (decimals == 0) digits.push_back('.');
    return digits;
}

// --- Direct paths -----------------------------------------------------------------
// The common fields, without strings or a second pass: they give the same bytes
// as the general routines above and hand everything else to them.

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the digits of `n` (at least one) leftwards from `p`; returns their start.
template <class U>
inline char* put_digits_left(char* p, U n) noexcept {
    while (n >= 100) {
        const auto pair = static_cast<std::size_t>(n % 100) * 2;
        n /= 100;
        *--p = kDigitPairs[pair + 1];
        *--p = kDigitPairs[pair];
    }
    if (n >= 10) {
        const auto pair = static_cast<std::size_t>(n) * 2;
        *--p = kDigitPairs[pair + 1];
        *--p = kDigitPairs[pair];
    } else {
        *--p = static_cast<char>('0' + n);
    }
    return p;
}

// Writes `n` / 10^D leftwards from `p` as "whole.fraction" ("whole." for D 0);
// returns the start, and whether the whole part is 0.
template <int D, class U>
inline char* put_fixed_left(char* p, U n, bool& whole_zero) noexcept {
    if constexpr (D > 0) {
        for (int k = D; k >= 2; k -= 2) {
            const auto pair = static_cast<std::size_t>(n % 100) * 2;
            n /= 100;
            *--p = kDigitPairs[pair + 1];
            *--p = kDigitPairs[pair];
        }
        if constexpr (D % 2 == 1) {
            *--p = static_cast<char>('0' + n % 10);
            n /= 10;
        }
    }
    *--p = '.';
    whole_zero = n == 0;
    return put_digits_left(p, n);
}

// Fw.D for a decimal count known when compiled (the divisions by powers of ten
// become multiplications). `bits` is the value's binary form, finite.
template <int D>
char* format_fixed(char* out, uint64_t bits, int32_t width, bool widen) noexcept {
    // |value| = m * 2^-shift; |value| * 10^D rounded half away from zero is
    // (m * 10^D) >> shift plus the bit just below, exactly as scaled_magnitude.
    const int biased = static_cast<int>(bits >> 52) & 0x7ff;
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    uint64_t scaled = 0;
    if (biased == 0) {
        if (m != 0) return nullptr;  // below the normal range
    } else {
        m |= uint64_t{1} << 52;
        const int shift = 1075 - biased;
        if (shift <= 0) return nullptr;  // 2^52 or more
        if constexpr (D <= 3) {
            // m * 10^D < 2^63: one 64-bit product; from a shift of 64 on, less
            // than half a unit.
            if (shift < 64) scaled = (((m * kPow10[D]) >> (shift - 1)) + 1) >> 1;
        } else if (shift < 85) {  // m * 10^D < 2^83, as above from a shift of 85
            using u128 = unsigned __int128;
            const u128 below = (static_cast<u128>(m) * kPow10[D]) >> (shift - 1);
            if ((below >> 63) != 0) return nullptr;
            scaled = (static_cast<uint64_t>(below) + 1) >> 1;
        }
    }
    const bool negative = (bits >> 63) != 0 && (bits << 1) != 0;  // -0 has no sign

    // The characters go right-aligned into 32 blanks (at most 19 digits, a sign,
    // a point and 9 decimals: 30), and from there into the field whole.
    constexpr std::size_t kSpan = 32;
    char buf[2 * kSpan];
    std::memset(buf, ' ', sizeof buf);
    char* const end = buf + kSpan;
    char* p = end;
    bool whole_zero = false;
    // Most fields hold fewer than ten digits: 32-bit divisions are cheaper.
    p = scaled <= 0xffffffffu ? put_fixed_left<D>(p, static_cast<uint32_t>(scaled), whole_zero)
                              : put_fixed_left<D>(p, scaled, whole_zero);
    if (negative) *--p = '-';
    auto len = static_cast<int32_t>(end - p);
    if (len > width) {
        if (whole_zero && len - 1 <= width) {
            // "0.5" goes to ".5" when the width leaves no room.
            if (negative) p[1] = '-';
            *p++ = ' ';
            --len;
        } else if (widen) {
            width = len;
        } else {
            return nullptr;  // asterisks: the general routine writes them
        }
    }
    if (width > static_cast<int32_t>(kSpan)) return nullptr;
    std::memcpy(out, end - width, kSpan);  // the field and scratch beyond it
    return out + width;
}

// An 8-column field of blanks then digits ("    1234", "12345678"), read eight
// characters at a time; false for anything else, including all blanks.
inline bool eight_column_digits(const char* field, uint64_t& value) noexcept {
    if constexpr (std::endian::native != std::endian::little) return false;
    uint64_t x = 0;
    std::memcpy(&x, field, 8);  // the first column in the lowest byte
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
    // 0x80 in every blank byte, exactly.
    const uint64_t t = x ^ (0x20 * kOnes);
    const uint64_t blanks = ~(((t & kLow7) + kLow7) | t | kLow7);
    const auto leading = static_cast<unsigned>(std::countr_zero(~blanks & kHigh)) / 8;
    if (leading >= 8 || (blanks >> (8 * leading)) != 0) return false;  // blanks after a digit
    x += blanks >> 3;                                                  // blanks become '0'
    if ((((x + 0x46 * kOnes) | (x - 0x30 * kOnes)) & kHigh) != 0) return false;
    x -= 0x30 * kOnes;
    x = (x * 10) + (x >> 8);
    x = ((x & 0x00ff00ff00ff00ffull) * 6553601) >> 16;
    value = ((x & 0x0000ffff0000ffffull) * 42949672960001ull) >> 32;
    return true;
}

}  // namespace

char* format_real_field(char* out, double value, int32_t width, int32_t decimals,
                        bool widen) noexcept {
    const auto bits = std::bit_cast<uint64_t>(value);
    if ((bits & 0x7ff0000000000000ull) == 0x7ff0000000000000ull) return nullptr;  // not finite
    switch (decimals) {
        case 0:
            return format_fixed<0>(out, bits, width, widen);
        case 1:
            return format_fixed<1>(out, bits, width, widen);
        case 2:
            return format_fixed<2>(out, bits, width, widen);
        case 3:
            return format_fixed<3>(out, bits, width, widen);
        case 4:
            return format_fixed<4>(out, bits, width, widen);
        case 5:
            return format_fixed<5>(out, bits, width, widen);
        case 6:
            return format_fixed<6>(out, bits, width, widen);
        case 7:
            return format_fixed<7>(out, bits, width, widen);
        case 8:
            return format_fixed<8>(out, bits, width, widen);
        case 9:
            return format_fixed<9>(out, bits, width, widen);
        default:
            return nullptr;
    }
}

char* format_integer_field(char* out, int64_t value, int32_t width, int32_t min_digits) noexcept {
    if (min_digits >= 0) return nullptr;
    char buf[24];
    char* const end = buf + sizeof buf;
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char* p = put_digits_left(end, magnitude);
    if (value < 0) *--p = '-';
    const auto len = static_cast<int32_t>(end - p);
    if (len > width) return nullptr;
    std::memset(out, ' ', static_cast<std::size_t>(width - len));
    std::memcpy(out + (width - len), p, static_cast<std::size_t>(len));
    return out + width;
}

bool append_real_field(std::string& out, double value, int32_t width, int32_t decimals) {
    if (width <= static_cast<int32_t>(kRealFieldRoom)) {
        char buf[kRealFieldRoom];
        if (const char* end = format_real_field(buf, value, width, decimals, false))
            return out.append(buf, static_cast<std::size_t>(end - buf)), true;
    }
    return append_real_field_general(out, value, width, decimals);
}

bool parse_plain_real_field(std::string_view field, int32_t decimals, double& value) noexcept {
    uint64_t count = 0;
    if (field.size() == 8 && decimals >= 0 && decimals <= 22 &&
        eight_column_digits(field.data(), count)) {
        value = static_cast<double>(count) / kExactPowers[decimals];
        return true;
    }
    const char* p = field.data();
    const char* const e = p + field.size();
    while (p < e && *p == ' ') ++p;
    if (p == e) {
        value = 0.0;
        return true;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Digits, then a point and digits; blanks only at the end. A blank between
    // digits, an exponent or anything else goes to the general routine.
    uint64_t m = 0;
    const char* const first = p;
    unsigned d = 0;
    while (p < e && (d = static_cast<unsigned>(*p - '0')) < 10) {
        m = m * 10 + d;
        ++p;
    }
    int32_t fraction = decimals;
    const char* point = nullptr;
    if (p < e && *p == '.') {
        point = p++;
        while (p < e && (d = static_cast<unsigned>(*p - '0')) < 10) {
            m = m * 10 + d;
            ++p;
        }
        fraction = static_cast<int32_t>(p - point - 1);
    }
    const char* const last = p;
    const auto digits = (last - first) - (point != nullptr ? 1 : 0);
    while (p < e && *p == ' ') ++p;
    if (p != e || digits == 0) return false;
    if (digits > 15) {
        // At most 15 significant digits: leading zeros do not count.
        const char* q = first;
        while (q < last && (*q == '0' || *q == '.')) ++q;
        if ((last - q) - (point != nullptr && point >= q ? 1 : 0) > 15) return false;
    }
    if (m == 0) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    if (fraction < 0 || fraction > 22) return false;
    // A mantissa below 2^53 and a power of ten up to 1e22 are both exact: one
    // division rounds correctly, as in the general routine.
    const double v = static_cast<double>(m) / kExactPowers[fraction];
    value = negative ? -v : v;
    return true;
}

FieldError parse_real_field(std::string_view field, int32_t decimals, double& value) {
    if (parse_plain_real_field(field, decimals, value)) return FieldError::none;
    return parse_real_field_general(field, decimals, value);
}

bool append_integer_field(std::string& out, int64_t value, int32_t width, int32_t min_digits) {
    char buf[32];
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude);
    std::string_view digits(buf, static_cast<std::size_t>(res.ptr - buf));
    std::size_t zeros = 0;
    if (min_digits >= 0 && digits.size() < static_cast<std::size_t>(min_digits))
        zeros = static_cast<std::size_t>(min_digits) - digits.size();
    if (min_digits == 0 && value == 0) digits = {};  // Iw.0 writes zero as blanks
    const std::size_t needed = (value < 0 ? 1 : 0) + zeros + digits.size();
    if (needed > static_cast<std::size_t>(width)) {
        append_asterisks(out, width);
        return false;
    }
    out.append(static_cast<std::size_t>(width) - needed, ' ');
    if (value < 0) out.push_back('-');
    out.append(zeros, '0');
    out.append(digits);
    return true;
}

std::string fixed_digits(double value, int32_t decimals) {
    std::string digits = magnitude_digits(std::fabs(value), decimals);
    if (value < 0) digits.insert(digits.begin(), '-');
    return digits;
}

bool append_real_field_general(std::string& out, double value, int32_t width, int32_t decimals) {
    if (!std::isfinite(value)) {
        append_asterisks(out, width);
        return false;
    }
    char fast[48];
    std::string slow;
    std::string_view digits;
    if (const std::size_t n = fast_magnitude_digits(std::fabs(value), decimals, fast); n > 0) {
        digits = std::string_view(fast, n);
    } else {
        slow = magnitude_digits(std::fabs(value), decimals);
        digits = slow;
    }
    const bool negative = value < 0;
    std::size_t needed = digits.size() + (negative ? 1 : 0);
    if (needed > static_cast<std::size_t>(width) && digits.size() > 1 && digits[0] == '0' &&
        digits[1] == '.') {
        digits.remove_prefix(1);  // the leading 0 goes when the width leaves no room
        --needed;
    }
    if (needed > static_cast<std::size_t>(width)) {
        append_asterisks(out, width);
        return false;
    }
    out.append(static_cast<std::size_t>(width) - needed, ' ');
    if (negative) out.push_back('-');
    out.append(digits);
    return true;
}

FieldError parse_integer_field(std::string_view field, int64_t& value) {
    if (uint64_t count = 0; field.size() == 8 && eight_column_digits(field.data(), count)) {
        value = static_cast<int64_t>(count);
        return FieldError::none;
    }
    return parse_integer_field_general(field, value);
}

FieldError parse_integer_field_general(std::string_view field, int64_t& value) {
    bool negative = false;
    bool seen_sign = false;
    bool seen_digit = false;
    uint64_t magnitude = 0;
    for (const char c : field) {
        if (c == ' ') continue;
        if ((c == '+' || c == '-') && !seen_sign && !seen_digit) {
            seen_sign = true;
            negative = c == '-';
            continue;
        }
        if (c < '0' || c > '9') return FieldError::invalid;
        seen_digit = true;
        if (magnitude > (std::numeric_limits<uint64_t>::max() - 9) / 10)
            return FieldError::out_of_range;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    }
    if (seen_sign && !seen_digit) return FieldError::invalid;
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return FieldError::out_of_range;
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return FieldError::none;
}

FieldError parse_real_field_general(std::string_view field, int32_t decimals, double& value) {
    // Gather the mantissa digits without the point, the count of digits after the
    // point, and the exponent; blanks are ignored everywhere in the field.
    // Significant digits beyond kKeep change nothing a double can hold; they are
    // dropped and counted, so that no field ever allocates.
    constexpr std::size_t kKeep = 80;
    char mantissa[kKeep + 32];
    std::size_t kept = 0;
    int64_t dropped = 0;
    bool negative = false;
    bool seen_point = false;
    bool seen_digit = false;
    bool any = false;
    int64_t fraction_digits = 0;
    int64_t exponent = 0;
    std::size_t i = 0;
    const std::size_t n = field.size();
    auto skip_blanks = [&] {
        while (i < n && field[i] == ' ') ++i;
    };
    skip_blanks();
    if (i < n && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        any = true;
        ++i;
    }
    for (; i < n; ++i) {
        const char c = field[i];
        if (c == ' ') continue;
        if (c >= '0' && c <= '9') {
            seen_digit = true;
            any = true;
            if (kept > 0 || c != '0') {
                if (kept < kKeep)
                    mantissa[kept++] = c;
                else
                    ++dropped;
            }
            if (seen_point) ++fraction_digits;
            continue;
        }
        if (c == '.' && !seen_point) {
            seen_point = true;
            any = true;
            continue;
        }
        break;
    }
    if (i < n) {
        // Exponent: E or D then an optionally signed integer, or a sign alone.
        char c = field[i];
        if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
            ++i;
            skip_blanks();
            c = i < n ? field[i] : ' ';
        }
        bool exp_negative = false;
        if (c == '+' || c == '-') {
            exp_negative = c == '-';
            ++i;
        }
        bool exp_digit = false;
        for (; i < n; ++i) {
            const char d = field[i];
            if (d == ' ') continue;
            if (d < '0' || d > '9') return FieldError::invalid;
            exp_digit = true;
            if (exponent < 100000000) exponent = exponent * 10 + (d - '0');
        }
        if (!exp_digit || !seen_digit) return FieldError::invalid;
        if (exp_negative) exponent = -exponent;
    }
    if (!any) {
        value = 0.0;
        return FieldError::none;
    }
    if (!seen_digit) return FieldError::invalid;
    if (!seen_point) fraction_digits = decimals;
    if (kept == 0) {
        value = negative ? -0.0 : 0.0;
        return FieldError::none;
    }
    // The digits stand before an implied point; scale by the decimal exponent.
    // Digits of the mantissa counted as the fraction are part of the mantissa string.
    const int64_t scale = exponent - fraction_digits + dropped;
    // Order of magnitude of the value, to tell overflow from underflow.
    const int64_t magnitude = static_cast<int64_t>(kept) - 1 + scale;
    if (magnitude > 400) return FieldError::out_of_range;
    if (magnitude < -400) {
        value = negative ? -0.0 : 0.0;
        return FieldError::none;
    }
    // Clinger's fast path: a mantissa below 2^53 and a power of ten up to 1e22 are
    // both exact in a double, so one multiplication or division rounds correctly.
    if (kept <= 15 && scale >= -22 && scale <= 22) {
        uint64_t m = 0;
        for (std::size_t k = 0; k < kept; ++k)
            m = m * 10 + static_cast<uint64_t>(mantissa[k] - '0');
        double v = static_cast<double>(m);
        v = scale >= 0 ? v * kExactPowers[scale] : v / kExactPowers[-scale];
        value = negative ? -v : v;
        return FieldError::none;
    }
    mantissa[kept++] = 'e';
    auto er = std::to_chars(mantissa + kept, mantissa + sizeof mantissa, scale);
    double parsed = 0.0;
    auto res = std::from_chars(mantissa, er.ptr, parsed);
    if (res.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return FieldError::out_of_range;
        parsed = 0.0;
    } else if (res.ec != std::errc{}) {
        return FieldError::invalid;
    }
    value = negative ? -parsed : parsed;
    return FieldError::none;
}

}  // namespace qelda
