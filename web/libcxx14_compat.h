// What the C++ library of Debian's emscripten (libc++ 14) lacks, for the web
// build only: std::to_chars and std::from_chars for float and double (it has
// them for integers alone) and std::bit_cast. Force-included there (cmake/emscripten.cmake); the results
// follow the standard's rules (shortest round trip, or printf's with a
// precision), so the page writes what the native converter writes.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace qelda_web {

inline std::to_chars_result put(char* first, char* last, const std::string& s) {
    if (static_cast<std::size_t>(last - first) < s.size()) return {last, std::errc::value_too_large};
    std::memcpy(first, s.data(), s.size());
    return {first + s.size(), std::errc{}};
}

inline std::string printed(const char* format, int precision, double v) {
    char buf[512];
    const int n = std::snprintf(buf, sizeof buf, format, precision, v);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, precision, v);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

// The shortest digits that read back as `v` (positive, finite, not zero), and
// the decimal exponent of the first.
template <typename T>
void shortest_digits(T v, std::string& digits, int& exponent) {
    const int most = sizeof(T) == 4 ? 9 : 17;
    for (int p = 1; p <= most; ++p) {
        const std::string e = printed("%.*e", p - 1, static_cast<double>(v));
        const T back = sizeof(T) == 4 ? static_cast<T>(std::strtof(e.c_str(), nullptr))
                                      : static_cast<T>(std::strtod(e.c_str(), nullptr));
        if (back == v || p == most) {
            const auto at = e.find('e');
            digits.clear();
            for (std::size_t i = 0; i < at; ++i)
                if (e[i] != '.') digits += e[i];
            exponent = std::atoi(e.c_str() + at + 1);
            return;
        }
    }
}

// A whole number is written with all its digits, exactly, as the standard's
// fixed form has it.
inline std::string fixed_of(const std::string& d, int e, double exact) {
    const int p = static_cast<int>(d.size());
    if (e >= p - 1) return printed("%.*f", 0, exact);
    if (e >= 0) return d.substr(0, static_cast<std::size_t>(e + 1)) + "." + d.substr(static_cast<std::size_t>(e + 1));
    return "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + d;
}

inline std::string scientific_of(const std::string& d, int e) {
    std::string s = d.substr(0, 1);
    if (d.size() > 1) s += "." + d.substr(1);
    char ex[8];
    std::snprintf(ex, sizeof ex, "e%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
    return s + ex;
}

// 0: plain (the shorter of fixed and scientific, fixed on a tie).
template <typename T>
std::to_chars_result shortest(char* first, char* last, T v, int how) {
    if (std::isnan(v)) return put(first, last, std::signbit(v) ? "-nan" : "nan");
    if (std::isinf(v)) return put(first, last, v < 0 ? "-inf" : "inf");
    std::string sign = std::signbit(v) ? "-" : "";
    const T a = std::fabs(v);
    std::string d = "0";
    int e = 0;
    if (a != 0) shortest_digits(a, d, e);
    const std::string f = fixed_of(d, e, static_cast<double>(a)), s = scientific_of(d, e);
    const std::chars_format fmt = static_cast<std::chars_format>(how);
    if (fmt == std::chars_format::fixed) return put(first, last, sign + f);
    if (fmt == std::chars_format::scientific) return put(first, last, sign + s);
    if (fmt == std::chars_format::general) {
        // %g's choice at its default precision, with the shortest digits.
        const bool sci = e < -4 || e >= 6;
        return put(first, last, sign + (sci ? s : f));
    }
    return put(first, last, sign + (f.size() <= s.size() ? f : s));
}

inline std::to_chars_result precise(char* first, char* last, double v, std::chars_format fmt, int precision) {
    const char* format = fmt == std::chars_format::fixed        ? "%.*f"
                         : fmt == std::chars_format::scientific ? "%.*e"
                                                                : "%.*g";
    return put(first, last, printed(format, precision, v));
}

template <typename T>
std::from_chars_result parse(const char* first, const char* last, T& value, std::chars_format fmt) {
    const char* p = first;
    if (p < last && *p == '-') ++p;
    const char* digits = p;
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    while (p < last && is_digit(*p)) ++p;
    bool any = p > digits;
    if (p < last && *p == '.') {
        const char* after = ++p;
        while (p < last && is_digit(*p)) ++p;
        any = any || p > after;
    }
    if (!any) {
        // inf, infinity, nan
        std::string rest(digits, static_cast<std::size_t>(std::min<std::ptrdiff_t>(last - digits, 8)));
        for (auto& c : rest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t n = rest.rfind("infinity", 0) == 0 ? 8 : rest.rfind("inf", 0) == 0 ? 3 : rest.rfind("nan", 0) == 0 ? 3 : 0;
        if (n == 0) return {first, std::errc::invalid_argument};
        p = digits + n;
    } else if (fmt != std::chars_format::fixed && p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q < last && (*q == '+' || *q == '-')) ++q;
        const char* exp_digits = q;
        while (q < last && is_digit(*q)) ++q;
        if (q > exp_digits) p = q;
    } else if (fmt == std::chars_format::scientific) {
        return {first, std::errc::invalid_argument};
    }
    const std::string text(first, p);
    errno = 0;
    const T v = sizeof(T) == 4 ? static_cast<T>(std::strtof(text.c_str(), nullptr))
                               : static_cast<T>(std::strtod(text.c_str(), nullptr));
    if (errno == ERANGE && (std::isinf(v) || v == 0)) return {p, std::errc::result_out_of_range};
    value = v;
    return {p, std::errc{}};
}

}  // namespace qelda_web

namespace std {

#ifndef __cpp_lib_bit_cast
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    return __builtin_bit_cast(To, from);
}
#endif

inline to_chars_result to_chars(char* f, char* l, double v) { return qelda_web::shortest(f, l, v, 0); }
inline to_chars_result to_chars(char* f, char* l, float v) { return qelda_web::shortest(f, l, v, 0); }
inline to_chars_result to_chars(char* f, char* l, double v, chars_format fmt) {
    return qelda_web::shortest(f, l, v, static_cast<int>(fmt));
}
inline to_chars_result to_chars(char* f, char* l, float v, chars_format fmt) {
    return qelda_web::shortest(f, l, v, static_cast<int>(fmt));
}
inline to_chars_result to_chars(char* f, char* l, double v, chars_format fmt, int precision) {
    return qelda_web::precise(f, l, v, fmt, precision);
}
inline to_chars_result to_chars(char* f, char* l, float v, chars_format fmt, int precision) {
    return qelda_web::precise(f, l, static_cast<double>(v), fmt, precision);
}
inline from_chars_result from_chars(const char* f, const char* l, double& v,
                                    chars_format fmt = chars_format::general) {
    return qelda_web::parse(f, l, v, fmt);
}
inline from_chars_result from_chars(const char* f, const char* l, float& v,
                                    chars_format fmt = chars_format::general) {
    return qelda_web::parse(f, l, v, fmt);
}

}  // namespace std
