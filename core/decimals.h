// The digits a value needs: the shortest decimal that reads back as the same
// single-precision value, and the checks the writers make with it before they
// choose how many decimals a field gets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qelda {

// The shortest plain decimal (no exponent) that reads back as `value`:
// "36.198", "1234", "0.013130283". "nan" or "inf" for what is not finite.
std::string shortest_decimal(float value);

// Decimals of shortest_decimal(value): 0 for a whole number.
int32_t shortest_decimals(float value) noexcept;

// True when `value` rounded to `decimals` places (as an Fw.d field rounds it)
// reads back as the same single-precision value.
bool reads_back(float value, int32_t decimals);

// The fewest decimals from `at_least` up to `at_most` with which `value` reads
// back; -1 when none of them does.
int32_t decimals_to_read_back(float value, int32_t at_least, int32_t at_most);

// True for a whole number, or a whole number raised by `shift` in single
// precision (the driver raises every intensity by 0.001 when one is below it).
bool is_whole_count(float value, float shift) noexcept;

// The whole count a value stands for: `value` less `shift`, rounded (halves
// away from zero).
double whole_count(float value, float shift) noexcept;

// The counts a format holds as whole numbers: each one rounded, and what the
// rounding changed, for the warning.
struct RoundingTally {
    int32_t changed = 0;
    double largest = 0.0;
    // The whole count for `value` (a count raised by `shift` goes back to the
    // whole count it was, unchanged); notes a change for any other value.
    double take(float value, float shift) noexcept;
    // "DBW holds whole counts: 23694 intensities rounded (largest change 0.5)";
    // empty when nothing changed.
    std::string warning(std::string_view format) const;
};

// How much a value changed, to six significant digits ("0.3", "0.0049609").
std::string change_text(double change);

// A value as a warning names it: the shortest decimal, or with an exponent
// beyond a million ("2.55e8").
std::string value_text(double value);

}  // namespace qelda
