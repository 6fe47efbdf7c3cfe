// The field rules of formatted record I/O: output and input tables.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "core/record_io.h"

namespace qelda {
namespace {

struct OutputCase {
    const char* layout;
    double value;
    const char* expected;
};

void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.layout << " " << c.value;
}

class RealOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(RealOutput, FormatsField) {
    const auto& c = GetParam();
    const Layout layout(c.layout);
    EXPECT_EQ(write_line(layout, {c.value}).text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RealOutput,
    ::testing::Values(
        OutputCase{"(F8.3)", 0.5, "   0.500"}, OutputCase{"(F8.3)", -0.5, "  -0.500"},
        OutputCase{"(F8.3)", 123456.0, "********"}, OutputCase{"(F8.0)", 1234.0, "   1234."},
        OutputCase{"(F8.0)", 0.0, "      0."}, OutputCase{"(F5.2)", 0.125, " 0.13"},
        OutputCase{"(F8.0)", 2.5, "      3."}, OutputCase{"(F8.0)", -2.5, "     -3."},
        OutputCase{"(F8.0)", 3.5, "      4."},
        // 0.005f is stored as 0.00499999...: the exact value rounds down,
        // while the double 0.005 lies just above the half.
        OutputCase{"(F5.2)", static_cast<float>(0.005), " 0.00"},
        OutputCase{"(F5.2)", 0.005, " 0.01"},
        OutputCase{"(F5.2)", static_cast<float>(0.125), " 0.13"}, OutputCase{"(F4.3)", 0.5, ".500"},
        OutputCase{"(F5.3)", -0.5, "-.500"}, OutputCase{"(F4.3)", -0.5, "****"},
        OutputCase{"(F7.5)", 10.0, "*******"}, OutputCase{"(F7.5)", 1.5405, "1.54050"},
        OutputCase{"(F7.3)", 9999.9996, "*******"},
        OutputCase{"(F8.3)", 99.9995, "  99.999"},  // stored just below the half
        OutputCase{"(F10.3)", 1e300, "**********"}, OutputCase{"(F8.2)", NAN, "********"},
        OutputCase{"(F8.2)", INFINITY, "********"}));

struct IntCase {
    const char* layout;
    long long value;
    const char* expected;
};

void PrintTo(const IntCase& c, std::ostream* os) {
    *os << c.layout << " " << c.value;
}

class IntOutput : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntOutput, FormatsField) {
    const auto& c = GetParam();
    EXPECT_EQ(write_line(Layout(c.layout), {c.value}).text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IntOutput,
    ::testing::Values(IntCase{"(I2.2)", 5, "05"}, IntCase{"(I2)", 5, " 5"},
                      IntCase{"(I2.2)", 12, "12"}, IntCase{"(I5)", 100000, "*****"},
                      IntCase{"(I5)", -1234, "-1234"}, IntCase{"(I5)", -12345, "*****"},
                      IntCase{"(I3.3)", -5, "***"}, IntCase{"(I4.3)", -5, "-005"},
                      IntCase{"(I6)", 0, "     0"}));

TEST(TextOutput, WidthsAndWholeVariable) {
    EXPECT_EQ(write_line(Layout("(A3)"), {"abcdef"}).text, "abc");
    EXPECT_EQ(write_line(Layout("(A6)"), {"ab"}).text, "    ab");
    const std::string title(60, ' ');
    const auto line = write_line(Layout("(A60)"), {title}).text;
    EXPECT_EQ(line.size(), 60u);
    EXPECT_EQ(write_line(Layout("(A)"), {"x  "}).text, "x  ");
}

TEST(LayoutOutput, LiteralsSkipsAndQuotes) {
    EXPECT_EQ(write_line(Layout("(2X,F7.3,',',F10.3)"), {5.0, 1234.0}).text,
              "    5.000,  1234.000");
    EXPECT_EQ(write_line(Layout("('it''s',1X,I2)"), {7}).text, "it's  7");
    // A move at the end of a line adds nothing.
    EXPECT_EQ(write_line(Layout("(I2,9X)"), {7}).text, " 7");
    EXPECT_EQ(write_text(10, Layout("(I2,3X)"), {7}).text, " 7        ");
}

TEST(LayoutOutput, OverflowIsReported) {
    EXPECT_TRUE(write_line(Layout("(F8.3)"), {123456.0}).overflow);
    EXPECT_FALSE(write_line(Layout("(F8.3)"), {1234.0}).overflow);
}

TEST(LayoutOutput, TextBufferTooShortIsAnError) {
    EXPECT_EQ(write_text(3, Layout("(I5)"), {1}).outcome, Outcome::error);
}

TEST(LayoutParse, RejectsMalformed) {
    for (const char* bad : {"", "I5", "(I5", "(Q5)", "(F8)", "(I5 I5)", "('abc)", "(5'x')"})
        EXPECT_THROW(Layout{bad}, std::invalid_argument) << bad;
}

TEST(LayoutParse, UnrollsGroupsAndCounts) {
    const Layout l("(7(I8,1X),I8)");
    EXPECT_EQ(l.items().size(), 15u);
    EXPECT_EQ(l.reuse_start(), 0u);
    const Layout g("('x',5(F8.0,F8.2))");
    EXPECT_EQ(g.reuse_start(), 1u);
    EXPECT_EQ(Layout("(10I7)").items().size(), 10u);
}

struct RealInputCase {
    const char* layout;
    const char* text;
    double expected;
};

void PrintTo(const RealInputCase& c, std::ostream* os) {
    *os << c.layout << " '" << c.text << "'";
}

class RealInput : public ::testing::TestWithParam<RealInputCase> {};

TEST_P(RealInput, ReadsField) {
    const auto& c = GetParam();
    double v = -99;
    ASSERT_EQ(read_text(c.text, Layout(c.layout), {v}), Outcome::done) << c.text;
    EXPECT_DOUBLE_EQ(v, c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RealInput,
    ::testing::Values(
        RealInputCase{"(F8.3)", "    1234", 1.234}, RealInputCase{"(F8.3)", "      10", 0.010},
        RealInputCase{"(F5.1)", "    1", 0.1}, RealInputCase{"(F15.0)", "300", 300.0},
        RealInputCase{"(F8.3)", "  12.5  ", 12.5},
        RealInputCase{"(F15.0)", "5.000    123", 5.000123},
        RealInputCase{"(F8.0)", "        ", 0.0}, RealInputCase{"(F8.0)", "", 0.0},
        RealInputCase{"(F10.0)", "1.5E3", 1500.0}, RealInputCase{"(F10.0)", "1.5d-1", 0.15},
        RealInputCase{"(F10.0)", "1.5-2", 0.015}, RealInputCase{"(F10.0)", "1.5+2", 150.0},
        RealInputCase{"(F10.2)", "15E1", 1.5}, RealInputCase{"(F10.0)", "-.5", -0.5},
        RealInputCase{"(F10.0)", "+7.", 7.0}, RealInputCase{"(F10.0)", "1e-999", 0.0},
        RealInputCase{"(F8.5)", "15405", 0.15405},
        RealInputCase{"(F8.5)", "1.5405123456", 1.540512}));

TEST(RealInputErrors, InvalidFieldsFail) {
    for (const char* bad : {"abc", "1.2.3", "1e", "-", "1e999", "12x", "\t5", "1..", "e5"}) {
        double v = 42;
        EXPECT_EQ(read_text(bad, Layout("(F10.0)"), {v}), Outcome::error) << bad;
        EXPECT_EQ(v, 42) << "nothing is stored on failure: " << bad;
    }
    // A value beyond single precision cannot be stored into a float.
    float f = 0;
    EXPECT_EQ(read_text("1e39", Layout("(F10.0)"), {f}), Outcome::error);
}

TEST(RealInput, FourHundredDigits) {
    const std::string small = "1." + std::string(398, '0');
    double v = 0;
    ASSERT_EQ(read_text(small, Layout("(F400.0)"), {v}), Outcome::done);
    EXPECT_EQ(v, 1.0);
    const std::string fraction = "0." + std::string(397, '0') + "1";
    ASSERT_EQ(read_text(fraction, Layout("(F400.0)"), {v}), Outcome::done);
    EXPECT_EQ(v, 0.0);
    // Beyond any double: refused, never stored as infinity.
    const std::string huge = "1" + std::string(399, '0');
    EXPECT_EQ(read_text(huge, Layout("(F400.0)"), {v}), Outcome::error);
}

TEST(IntInput, BlanksSignsAndErrors) {
    const Layout i3("(I3)");
    int32_t v = 0;
    ASSERT_EQ(read_text("1 2", i3, {v}), Outcome::done);
    EXPECT_EQ(v, 12);
    ASSERT_EQ(read_text("   ", i3, {v}), Outcome::done);
    EXPECT_EQ(v, 0);
    ASSERT_EQ(read_text(" -7", i3, {v}), Outcome::done);
    EXPECT_EQ(v, -7);
    for (const char* bad : {"1.5", "abc", "--1", "+  "}) {
        v = 5;
        EXPECT_EQ(read_text(bad, i3, {v}), Outcome::error) << bad;
        EXPECT_EQ(v, 5);
    }
    EXPECT_EQ(read_text("99999999999", Layout("(I11)"), {v}), Outcome::error);
}

TEST(CommaFields, CommaEndsNumericField) {
    double a = 0, b = 0, c = -1;
    ASSERT_EQ(read_text("12.5,300", Layout("(2F15.0)"), {a, b}), Outcome::done);
    EXPECT_EQ(a, 12.5);
    EXPECT_EQ(b, 300);
    ASSERT_EQ(read_text("  5.000,  123.000,  11.091", Layout("(3F15.0)"), {a, b, c}),
              Outcome::done);
    EXPECT_EQ(a, 5.0);
    EXPECT_EQ(b, 123.0);
    EXPECT_DOUBLE_EQ(c, 11.091);
    ASSERT_EQ(read_text("  10.000,1234", Layout("(2F15.0)"), {a, b}), Outcome::done);
    EXPECT_EQ(a, 10.0);
    EXPECT_EQ(b, 1234.0);
    ASSERT_EQ(read_text("10.000", Layout("(3F15.0)"), {a, b, c}), Outcome::done);
    EXPECT_EQ(a, 10.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(c, 0.0);
    // An empty field ended at once by a comma is 0.
    ASSERT_EQ(read_text(",7", Layout("(2F15.0)"), {a, b}), Outcome::done);
    EXPECT_EQ(a, 0.0);
    EXPECT_EQ(b, 7.0);
    // Text fields are not ended by commas.
    std::string t;
    ASSERT_EQ(read_text("a,b", Layout("(A3)"), {TextRef{t, 3}}), Outcome::done);
    EXPECT_EQ(t, "a,b");
}

TEST(TextInput, WidthsAgainstVariableLength) {
    std::string t;
    ASSERT_EQ(read_text("abcdef", Layout("(A4)"), {TextRef{t, 6}}), Outcome::done);
    EXPECT_EQ(t, "abcd  ");
    ASSERT_EQ(read_text("abcdef", Layout("(A6)"), {TextRef{t, 2}}), Outcome::done);
    EXPECT_EQ(t, "ef");
    ASSERT_EQ(read_text("", Layout("(A60)"), {TextRef{t, 60}}), Outcome::done);
    EXPECT_EQ(t, std::string(60, ' '));
    ASSERT_EQ(read_text("xy", Layout("(A)"), {TextRef{t, 5}}), Outcome::done);
    EXPECT_EQ(t, "xy   ");
    ASSERT_EQ(read_text("abcd", Layout("(2X,A2)"), {TextRef{t, 2}}), Outcome::done);
    EXPECT_EQ(t, "cd");
}

TEST(EmptyLine, ReadsZerosAndBlanks) {
    float v[8];
    std::fill(std::begin(v), std::end(v), 9.0f);
    ASSERT_EQ(read_text("", Layout("(8F8.0)"), {std::span<float>(v)}), Outcome::done);
    for (float x : v) EXPECT_EQ(x, 0.0f);
}

}  // namespace
}  // namespace qelda
