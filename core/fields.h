// The rules for one numeric field: formatting (Iw, Iw.m, Fw.d) and reading.
// No locale is involved anywhere: numbers go through std::to_chars/from_chars.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qelda {

// Appends `value` as Iw (min_digits < 0) or Iw.m. Returns false when the value
// does not fit and the field was filled with asterisks instead.
bool append_integer_field(std::string& out, int64_t value, int32_t width, int32_t min_digits);

// Appends `value` as Fw.d, rounded on its exact binary value with halves away
// from zero. Returns false when it does not fit (or is not finite) and the field
// was filled with asterisks instead.
bool append_real_field(std::string& out, double value, int32_t width, int32_t decimals);

// `value` rounded to `decimals` places, halves away from zero, as plain digits
// with a point ("-12.346", "1234." for decimals 0); no width, never asterisks.
std::string fixed_digits(double value, int32_t decimals);

enum class FieldError { none, invalid, out_of_range };

// Reads an integer field (blanks already allowed anywhere; all blank is 0).
FieldError parse_integer_field(std::string_view field, int64_t& value);

// Reads a real field under Fw.d: optional sign, digits with at most one point,
// optional exponent (E or D with an optional sign, or a sign alone). Without a
// point the last `decimals` digits are the fraction. Blanks are ignored.
FieldError parse_real_field(std::string_view field, int32_t decimals, double& value);

// Room `format_real_field` needs at `out` beyond a narrower width.
inline constexpr std::size_t kRealFieldRoom = 48;

// Writes `value` as Fw.d straight into `out` (room for max(width,
// kRealFieldRoom) characters) and returns the end of what it wrote: exactly the
// bytes append_real_field appends. Where those would be asterisks, `widen`
// writes the digits of fixed_digits instead, as wide as they need. Returns
// nullptr, having written nothing of use, for what it leaves to the general
// routines: a value that is not finite, of 2^52 or more, below the normal
// range, beyond 64 bits once scaled, more than 9 decimals, or (without
// `widen`) too wide for the field.
char* format_real_field(char* out, double value, int32_t width, int32_t decimals,
                        bool widen) noexcept;

// Writes `value` as Iw straight into `out` (room for max(width, 32)): the bytes
// append_integer_field appends. Returns nullptr for what it leaves to that
// routine: Iw.m forms, and values too wide for the field.
char* format_integer_field(char* out, int64_t value, int32_t width, int32_t min_digits) noexcept;

// The general routines behind append_real_field and parse_real_field, kept as
// the reference the direct paths must match byte for byte. The direct parse
// returns false for a field it leaves to the general routine: anything but
// blanks, one leading sign, digits and one point, more than 15 significant
// digits, or more than 22 decimals. Fields of 8 columns holding blanks and then
// digits are read eight characters at a time.
bool append_real_field_general(std::string& out, double value, int32_t width, int32_t decimals);
FieldError parse_integer_field_general(std::string_view field, int64_t& value);
FieldError parse_real_field_general(std::string_view field, int32_t decimals, double& value);
bool parse_plain_real_field(std::string_view field, int32_t decimals, double& value) noexcept;

}  // namespace qelda
