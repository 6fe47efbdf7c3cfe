// The direct paths for numeric fields against the general routines they must
// match byte for byte, on generated values and fields; each also checks that
// the direct path served most of them, so that a path that always declines
// cannot pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/fields.h"
#include "core/record_io.h"
#include "core/units.h"

namespace qelda {
namespace {

std::vector<double> generated_values() {
    std::vector<double> v = {0.0,        -0.0,       0.125,       -0.125,    0.5,       2.5,
                             0.0005,     -0.0005,    0.00049,     -0.0004,   9.9995,    99.995,
                             999.9995,   9999.9995,  1e-300,      5e-324,    1e15,      4.5e15,
                             1e16,       1.8e16,     1e19,        1e300,     3.4e38,    16777216.0,
                             16777217.0, 16777215.5, -16777216.0, 8388608.5, 0.9999999, -9.5};
    std::mt19937_64 rng(19);
    // Exact binary fractions: many of them lie half-way at some decimal count.
    for (int k = -300; k <= 300; ++k) v.push_back(std::ldexp(k, -(std::abs(k) % 12)));
    // Floats around 2^24 and at every scale, as the writers get them.
    for (int k = -40; k <= 40; ++k) v.push_back(static_cast<float>(16777216.0 + k * 0.5));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-8, 9);
    for (int k = 0; k < 4000; ++k) {
        const double d = unit(rng) * std::pow(10.0, scale(rng));
        v.push_back(d);
        v.push_back(static_cast<float>(d));
    }
    // Just below and at the powers of ten where a field runs out of columns.
    for (int e = 0; e <= 9; ++e) {
        const double p = std::pow(10.0, e);
        for (double d : {p, std::nextafter(p, 0.0), p - 0.0005, p - 0.005, p - 0.05, -p})
            v.push_back(d);
    }
    return v;
}

TEST(FastFields, FormattingMatchesTheGeneralRoutine) {
    std::size_t direct = 0;
    std::size_t total = 0;
    for (const double value : generated_values()) {
        for (int32_t decimals = 0; decimals <= 10; ++decimals) {
            for (int32_t width : {1, 2, 3, 4, 5, 7, 8, 10, 12, 20, 30}) {
                std::string fast;
                std::string general;
                const bool fast_ok = append_real_field(fast, value, width, decimals);
                const bool general_ok = append_real_field_general(general, value, width, decimals);
                ASSERT_EQ(fast, general) << value << " F" << width << "." << decimals;
                ASSERT_EQ(fast_ok, general_ok) << value << " F" << width << "." << decimals;

                // Widened: the general result, or the plain digits where that
                // gave asterisks.
                char buf[kRealFieldRoom + 32];
                const char* end = format_real_field(buf, value, width, decimals, true);
                ++total;
                if (end == nullptr) continue;
                ++direct;
                const std::string expected = general_ok ? general : fixed_digits(value, decimals);
                ASSERT_EQ(std::string(static_cast<const char*>(buf), end), expected)
                    << value << " F" << width << "." << decimals << " widened";
            }
        }
    }
    EXPECT_GT(direct, total * 8 / 10);
}

TEST(FastFields, Halves) {
    struct Case {
        double value;
        int32_t width;
        int32_t decimals;
        const char* text;
    };
    for (const Case& c :
         {Case{0.125, 5, 2, " 0.13"}, Case{-0.125, 5, 2, "-0.13"}, Case{2.5, 3, 0, " 3."},
          Case{0.0625, 6, 3, " 0.063"}, Case{-0.0, 5, 2, " 0.00"}, Case{-0.001, 5, 2, "-0.00"},
          Case{0.5, 2, 1, ".5"}, Case{9.995, 4, 2, "9.99"}}) {
        char buf[kRealFieldRoom];
        const char* end = format_real_field(buf, c.value, c.width, c.decimals, false);
        ASSERT_NE(end, nullptr) << c.value;
        EXPECT_EQ(std::string(static_cast<const char*>(buf), end), c.text)
            << c.value << " F" << c.width << "." << c.decimals;
    }
}

TEST(FastFields, ParsingMatchesTheGeneralRoutine) {
    std::vector<std::string> fields = {"",
                                       "        ",
                                       "   12345",
                                       "-0",
                                       "  -  0",
                                       " 1 2 3",
                                       "1.",
                                       ".5",
                                       "+",
                                       ".",
                                       "-.",
                                       "1e5",
                                       "12D3",
                                       "1-3",
                                       "1+3",
                                       "1.2.3",
                                       "12345",
                                       "  -12.5  ",
                                       "123456789012345678",
                                       "0000001234",
                                       "00.000",
                                       "1\t2",
                                       "9007199254740993",
                                       "999999999999999",
                                       "-",
                                       "1 e 2",
                                       "+ 7",
                                       "abc",
                                       "0.0000000000000000000000001",
                                       "4.9e-324",
                                       "1E400",
                                       "-1E400",
                                       "12.",
                                       "  .  "};
    std::mt19937_64 rng(24);
    std::uniform_int_distribution<int64_t> count(-99999999, 99999999);
    std::uniform_int_distribution<int> point(0, 9);
    for (int k = 0; k < 5000; ++k) {
        const std::string digits = std::to_string(count(rng));
        const auto at = static_cast<std::size_t>(point(rng));
        std::string s(static_cast<std::size_t>(point(rng) % 4), ' ');
        s += digits.substr(0, at);
        if (at < digits.size() && digits[at] != '-') s += '.';
        s += digits.substr(std::min(at, digits.size()));
        fields.push_back(s);
    }
    // Count fields of 8 columns, some with a character changed.
    std::uniform_int_distribution<int> column(0, 7);
    const std::string odd = " -+.x/:0";
    for (int k = 0; k < 3000; ++k) {
        std::string s = std::to_string(count(rng) % (k % 2 ? 100000 : 100000000));
        s.insert(0, s.size() < 8 ? 8 - s.size() : 0, ' ');
        if (k % 3 == 0) s[static_cast<std::size_t>(column(rng))] = odd[k / 3 % odd.size()];
        fields.push_back(s.substr(s.size() - 8));
    }
    std::size_t plain = 0;
    std::size_t total = 0;
    for (const std::string& field : fields) {
        for (int32_t decimals : {0, 2, 3, 5, 25}) {
            double fast = 1.5;
            double general = 1.5;
            const FieldError e_fast = parse_real_field(field, decimals, fast);
            const FieldError e_general = parse_real_field_general(field, decimals, general);
            ASSERT_EQ(e_fast, e_general) << "'" << field << "' d=" << decimals;
            if (e_fast == FieldError::none) {
                ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(general))
                    << "'" << field << "' d=" << decimals;
            }
            double v = 0.0;
            plain += parse_plain_real_field(field, decimals, v);
            int64_t i_fast = 7;
            int64_t i_general = 7;
            ASSERT_EQ(parse_integer_field(field, i_fast),
                      parse_integer_field_general(field, i_general))
                << "'" << field << "'";
            ASSERT_EQ(i_fast, i_general) << "'" << field << "'";
            ++total;
        }
    }
    EXPECT_GT(plain, total * 7 / 10);
}

// Numbers through the layouts the writers use, with values that overflow,
// are not finite or land on halves: the direct engine writes the same line.
TEST(FastFields, WriteStatementsMatchTheGeneralEngine) {
    const char* layouts[] = {"(8F8.0)",
                             "(5(F8.0,F8.2))",
                             "(I7,7I8,1X,F8.3)",
                             "('BANK  1      ',I6,4X,I6,'  CONST',3X,2F10.5,' 0.0 0.0 ESD',9X)",
                             "(2X,F7.3,',',F10.3)",
                             "('_WL1=',F8.5,3X)",
                             "(I2,I3.2,I4)",
                             "(F5.1,2X,'|',I3,1X)",
                             "(3F8.3,/,I3)"};
    const std::vector<double> values = generated_values();
    std::size_t at = 0;
    for (const char* notation : layouts) {
        const Layout layout(notation);
        for (int k = 0; k < 1000; ++k) {
            std::vector<float> run(8);
            for (float& f : run) f = static_cast<float>(values[at++ % values.size()]);
            const double d = values[at++ % values.size()];
            const auto n = static_cast<long long>(values[at++ % values.size()]);
            const Value list[] = {n, d, std::span<const float>(run).first(k % 9)};
            ASSERT_TRUE(writes_directly(layout, list)) << notation;
            const TextResult fast =
                write_line(layout, {n, d, std::span<const float>(run).first(k % 9)});
            const TextResult general = write_line_general(layout, list);
            ASSERT_EQ(fast.text, general.text) << notation;
            ASSERT_EQ(fast.outcome, general.outcome) << notation << " " << general.text;
            ASSERT_EQ(fast.overflow, general.overflow) << notation << " " << general.text;
        }
    }
}

// Lines of count fields through the layouts the readers use, some of them
// spoilt: the direct engine gives the same outcome, values and report.
TEST(FastFields, ReadStatementsMatchTheGeneralEngine) {
    struct Case {
        const char* layout;
        std::size_t fields;
    };
    const Case cases[] = {{"(8F8.0)", 8},           {"(I7,7I8)", 8},       {"(7(I8,1X),I8)", 8},
                          {"(10F8.0)", 10},         {"(10(I2,F6.0))", 20}, {"(9X,10I7)", 10},
                          {"(10X,2F8.0)", 2},       {"(3F8.3)", 3},        {"(F9.4,1X,F9.4)", 2},
                          {"(' x=',F6.1,2X,I4)", 2}};
    std::mt19937_64 rng(8);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int64_t> count(0, 99999999);
    const std::string spoilers = "-+.,xE ";
    for (const Case& c : cases) {
        const Layout layout(c.layout);
        for (int k = 0; k < 400; ++k) {
            std::string line;
            while (line.size() < 100) {
                const std::string v = std::to_string(count(rng) % (k % 3 == 0 ? 100 : 100000));
                line.append(static_cast<std::size_t>(pick(rng) % 4), ' ');
                line.append(v, 0, v.size() - 1);
                if (pick(rng) < 10) line += '.';
                line += v.back();
            }
            if (k % 2 == 1) line[static_cast<std::size_t>(pick(rng))] = spoilers[k % 7];
            if (k % 5 == 0) line.resize(static_cast<std::size_t>(pick(rng)));
            std::vector<float> fast(c.fields, 7.0f);
            std::vector<float> general(c.fields, 7.0f);
            float first_fast = 7.0f;
            float first_general = 7.0f;
            // One float and a run after it, as some readers ask.
            const Target direct[] = {first_fast, std::span<float>(fast).subspan(1)};
            const Target reference[] = {first_general, std::span<float>(general).subspan(1)};
            ASSERT_TRUE(reads_directly(layout, direct)) << c.layout;

            InputUnit unit;
            unit.open_bytes(line + "\n", "x");
            std::string problem;
            const Outcome o_fast = read_record(unit, layout, direct);
            const Outcome o_general = read_text_general(line, layout, reference, &problem);
            ASSERT_EQ(o_fast, o_general) << c.layout << " '" << line << "'";
            EXPECT_EQ(unit.problem(), problem) << c.layout << " '" << line << "'";
            EXPECT_EQ(std::bit_cast<uint32_t>(first_fast), std::bit_cast<uint32_t>(first_general));
            for (std::size_t j = 1; j < c.fields; ++j)
                ASSERT_EQ(std::bit_cast<uint32_t>(fast[j]), std::bit_cast<uint32_t>(general[j]))
                    << c.layout << " '" << line << "' field " << j + 1;
        }
    }
}

}  // namespace
}  // namespace qelda
