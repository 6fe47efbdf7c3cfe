// The ASCII x-y codec: data lines in every separation, blank lines, short and
// long files, the derived step, the writer's lines, round trips, and the real
// x-y samples read as xyconv reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/convert_cli.h"
#include "core/driver.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

constexpr float kUnchecked = -99999.0f;  // a sigma the case does not check

ConversionStatus read_xy(Bench& b, std::string content, std::string header_lines = "0",
                         bool read_sigma = false) {
    b.answers().header_lines = std::move(header_lines);
    b.answers().read_sigma = read_sigma;
    return b.read(ascii_xy_codec, std::move(content));
}

// Ten data lines "5.00 100" ... "5.18 109" after one title line.
std::string ten_lines() {
    std::string s = "title\n";
    for (int k = 0; k < 10; ++k)
        s += std::to_string(5 + k / 50.0).substr(0, 4) + " " + std::to_string(100 + k) + "\n";
    return s;
}

struct ReadCase {
    const char* name;
    std::string content;
    const char* header_lines;
    bool read_sigma;
    ConversionStatus status;
    int32_t points;
    float start, end, step;
    float first_y, last_y;
    float first_sigma;  // kUnchecked: not checked
    int32_t lines_read;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class XyRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(XyRead, Reads) {
    const ReadCase& c = GetParam();
    Bench b;
    const ConversionStatus status = read_xy(b, c.content, c.header_lines, c.read_sigma);
    ASSERT_EQ(status, c.status) << b.ws.abort_report;
    const PowderPattern& r = b.r();
    EXPECT_EQ(r.lines_read, c.lines_read);
    EXPECT_EQ(r.point_count, c.points);
    if (status != ConversionStatus::done) return;
    EXPECT_FLOAT_EQ(r.two_theta_start, c.start);
    EXPECT_FLOAT_EQ(r.two_theta_end, c.end);
    EXPECT_FLOAT_EQ(r.two_theta_step, c.step);
    EXPECT_FLOAT_EQ(r.intensity(1), c.first_y);
    EXPECT_FLOAT_EQ(r.intensity(c.points), c.last_y);
    if (c.first_sigma != kUnchecked) {
        EXPECT_FLOAT_EQ(r.sigma(1), c.first_sigma);
    }
}

using S = ConversionStatus;

INSTANTIATE_TEST_SUITE_P(
    Lines, XyRead,
    ::testing::Values(
        ReadCase{"our_own_commas",
                 "    5.000,  1234.000,    35.128\r\n    5.020,  1300.000,    36.056\r\n", "0",
                 true, S::done, 2, 5.0f, 5.02f, 0.02f, 1234.0f, 1300.0f, 35.128f, 2},
        // "5.000 1234.0" is 5 and 1234, not one field 5.0001234.
        ReadCase{"blank_separated", "5.000 1234.0\n5.020 1300.0\n", "0", false, S::done, 2, 5.0f,
                 5.02f, 0.02f, 1234.0f, 1300.0f, kUnchecked, 2},
        ReadCase{"tab_separated", "5.0\t1234\t35.1\n5.02\t1300\t36\n", "0", true, S::done, 2, 5.0f,
                 5.02f, 0.02f, 1234.0f, 1300.0f, 35.1f, 2},
        ReadCase{"commas_with_blanks", "5.0 , 1234 ,35.128\n5.02,1300,36\n", "0", true, S::done, 2,
                 5.0f, 5.02f, 0.02f, 1234.0f, 1300.0f, 35.128f, 2},
        ReadCase{"single_point", "10.000 7\n", "0", false, S::done, 1, 10.0f, 10.0f, 0.0f, 7.0f,
                 7.0f, kUnchecked, 1},
        ReadCase{"empty_value_between_commas", "5.0,,35\n", "0", true, S::done, 1, 5.0f, 5.0f, 0.0f,
                 0.0f, 0.0f, 35.0f, 1},
        ReadCase{"leading_comma", " ,300\n", "0", false, S::done, 1, 0.0f, 0.0f, 0.0f, 300.0f,
                 300.0f, kUnchecked, 1},
        ReadCase{"values_past_column_60", "5.0" + std::string(70, ' ') + "1234\n", "0", false,
                 S::done, 1, 5.0f, 5.0f, 0.0f, 1234.0f, 1234.0f, kUnchecked, 1},
        ReadCase{"exponents_and_whole_numbers", "5E0 1.5D2\n6 300\n", "0", false, S::done, 2, 5.0f,
                 6.0f, 1.0f, 150.0f, 300.0f, kUnchecked, 2},
        ReadCase{"extra_columns_ignored", "5.0 1 2 not-read\n", "0", false, S::done, 1, 5.0f, 5.0f,
                 0.0f, 1.0f, 1.0f, kUnchecked, 1},
        ReadCase{"blank_lines_skipped", "\n5.0 1\n   \n\t\n5.1 2\n\n", "0", false, S::done, 2, 5.0f,
                 5.1f, 0.1f, 1.0f, 2.0f, kUnchecked, 6},
        ReadCase{"bare_carriage_returns", "5.0\t1\r5.1\t2\r5.2\t3", "0", false, S::done, 3, 5.0f,
                 5.2f, 0.1f, 1.0f, 3.0f, kUnchecked, 3},
        ReadCase{"header_lines_skipped", "Title\n2theta I\n5.0 1\n5.1 2\n", "2", false, S::done, 2,
                 5.0f, 5.1f, 0.1f, 1.0f, 2.0f, kUnchecked, 4},
        ReadCase{"negative_header_count_skips_none", "5.0 1\n5.1 2\n", "-3", false, S::done, 2,
                 5.0f, 5.1f, 0.1f, 1.0f, 2.0f, kUnchecked, 2},
        ReadCase{"exactly_ten_lines", ten_lines(), "1", false, S::done, 10, 5.0f, 5.18f, 0.02f,
                 100.0f, 109.0f, kUnchecked, 11},
        ReadCase{"three_lines", "5.0 1\n5.1 2\n5.2 3\n", "0", false, S::done, 3, 5.0f, 5.2f, 0.1f,
                 1.0f, 3.0f, kUnchecked, 3},
        // Files without a data line: status 4, and the program goes on.
        ReadCase{"empty_file", "", "0", false, S::premature_end, 0, 0, 0, 0, 0, 0, 0, 0},
        ReadCase{"header_only", "title\n", "1", false, S::premature_end, 0, 0, 0, 0, 0, 0, 0, 1},
        ReadCase{"ends_within_header", "a\nb\n", "5", false, S::premature_end, 0, 0, 0, 0, 0, 0, 0,
                 2},
        ReadCase{"only_blank_lines_after_header", "t\n\n  \n", "1", false, S::premature_end, 0, 0,
                 0, 0, 0, 0, 0, 3},
        // A bad line is a read error naming that line, wherever it stands.
        ReadCase{"bad_line_after_ten_points", ten_lines() + "\n5.20 abc\n5.22 1\n", "1", false,
                 S::record_error, 0, 0, 0, 0, 0, 0, 0, 13},
        ReadCase{"tab_in_old_style_line_is_no_error", ten_lines() + "5.20\t7\n", "1", false,
                 S::done, 11, 5.0f, 5.2f, 0.02f, 100.0f, 7.0f, kUnchecked, 12},
        ReadCase{"bad_line_among_first_ten", "5.0 1\n5.1 x\n", "0", false, S::record_error, 0, 0, 0,
                 0, 0, 0, 0, 2},
        ReadCase{"title_read_as_data", "Quartz scan\n5.0 1\n", "0", false, S::record_error, 0, 0, 0,
                 0, 0, 0, 0, 1},
        ReadCase{"not_a_float", "5.0 1e39\n", "0", false, S::record_error, 0, 0, 0, 0, 0, 0, 0, 1},
        // Detected header lines: our own title, a lone wavelength, "#" and
        // "'" lines, column titles; "#" lines among the data are comments.
        ReadCase{"detects_title", "Quartz\n5.0,1\n5.1,2\n", "", false, S::done, 2, 5.0f, 5.1f, 0.1f,
                 1.0f, 2.0f, kUnchecked, 3},
        ReadCase{"detects_wavelength_and_titles",
                 "1.5406\n# scan\n' more\n2theta I sigma\n5 1 1\n5.1 2 1\n# gap\n5.2 3 1\n", "",
                 true, S::done, 3, 5.0f, 5.2f, 0.1f, 1.0f, 3.0f, 1.0f, 8},
        ReadCase{"detects_no_header", "5 1\n5.1 2\n", "", false, S::done, 2, 5.0f, 5.1f, 0.1f, 1.0f,
                 2.0f, kUnchecked, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Each refusal names the file, the line and what was wrong there.
TEST(XyRead, FailureReasons) {
    struct Case {
        std::string content;
        const char* header_lines;
        bool sigma;
        const char* reason;
    };
    const Case cases[] = {
        {ten_lines() + "5.20 NaN\n", "1", false,
         "input.dat, line 12: 'NaN' is not a number (column 2)"},
        {"5.0 1 1\n5.1 2 x\n", "0", true, "input.dat, line 2: 'x' is not a number (column 3)"},
        {"5.0 1\n5.1\n", "0", false,
         "input.dat, line 2: 1 value where 2 (2theta, intensity) are expected"},
        {"5.0 1\n5.1 2\n", "0", true,
         "input.dat, line 1: 2 values where 3 (2theta, intensity, sigma) are expected"},
    };
    for (const Case& c : cases) {
        Bench b;
        EXPECT_EQ(read_xy(b, c.content, c.header_lines, c.sigma), ConversionStatus::record_error)
            << c.reason;
        EXPECT_EQ(b.ws.failure_reason.substr(0, std::string(c.reason).size()), c.reason);
    }
}

// Half a step off, and an uneven grid whose last angle fits: every angle kept
// as stated, with a warning naming the first off the grid.
TEST(XyRead, AnglesOffAnEvenGridKeptAsStated) {
    struct Case {
        std::string content;
        std::vector<double> angles;
        const char* said;
    } const cases[] = {
        {"5.00 1\n5.10 1\n5.25 1\n5.30 1\n",
         {5.0, 5.1, 5.25, 5.3},
         "input.dat, line 3: 2theta 5.25 is the first angle off one even grid"},
        {"1 1\n2 1\n4 1\n8 1\n16 1\n",
         {1, 2, 4, 8, 16},
         "input.dat, line 2: 2theta 2 is the first angle off one even grid"},
    };
    for (const Case& c : cases) {
        Bench b;
        ASSERT_EQ(read_xy(b, c.content, "0", false), ConversionStatus::done) << c.said;
        EXPECT_EQ(b.r().angles, c.angles);
        EXPECT_EQ(b.r().point_count, static_cast<int32_t>(c.angles.size()));
        EXPECT_FLOAT_EQ(b.r().two_theta_end, static_cast<float>(c.angles.back()));
        ASSERT_EQ(b.ws.warnings.size(), 1u);
        EXPECT_EQ(b.ws.warnings[0].rfind(c.said, 0), 0u) << b.ws.warnings[0];
    }
}

// Angles printed rounded (3 decimals of a 0.015592 step) and a descending scan
// lie on their grid.
TEST(XyRead, RoundedAndDescendingAnglesRead) {
    std::string rounded, descending;
    char buf[64];
    for (int k = 0; k < 500; ++k) {
        std::snprintf(buf, sizeof buf, "%.3f %d\n", 10.0 + k * 0.015592, k);
        rounded += buf;
        std::snprintf(buf, sizeof buf, "%.2f %d\n", 60.0 - k * 0.02, k);
        descending += buf;
    }
    Bench b;
    ASSERT_EQ(read_xy(b, rounded), ConversionStatus::done) << b.ws.failure_reason;
    EXPECT_EQ(b.r().point_count, 500);
    Bench d;
    ASSERT_EQ(read_xy(d, descending), ConversionStatus::done) << d.ws.failure_reason;
    EXPECT_FLOAT_EQ(d.r().two_theta_step, -0.02f);
}

// The first line, cut to 60 characters, is offered as the title before the
// wavelengths are asked for.
TEST(XyRead, FirstLineOfferedAsTitle) {
    const std::string first = "Quartz scan from the old diffractometer" + std::string(40, '-');
    Bench b;
    ASSERT_EQ(read_xy(b, first + "\n5.0 1\n", "1"), ConversionStatus::done);
    EXPECT_EQ(b.ui.events(), (std::vector<std::string>{"xy_input", "wavelength"}));
    EXPECT_EQ(b.r().title, first.substr(0, kTitleLength));
}

TEST(XyRead, SigmaLeftAloneWithoutThirdColumn) {
    Bench b;
    b.r().sigma(1) = 7.0f;
    ASSERT_EQ(read_xy(b, "5.0 1 2\n"), ConversionStatus::done);
    EXPECT_EQ(b.r().sigma(1), 7.0f);
}

TEST(XyRead, PointLimit) {
    struct Case {
        int32_t limit, lines;
        ConversionStatus status;
        int32_t points;
    };
    for (const Case c :
         {Case{5, 5, S::done, 5}, Case{5, 6, S::too_many_points, 5},
          Case{kPointCapacity, kPointCapacity, S::done, kPointCapacity},
          Case{kPointCapacity, kPointCapacity + 1, S::too_many_points, kPointCapacity}}) {
        std::string content;
        for (int32_t k = 0; k < c.lines; ++k) content += "1 " + std::to_string(k % 1000) + "\n";
        Bench b;
        b.answers().header_lines = "0";
        b.input(std::move(content));
        b.r().max_points = c.limit;
        EXPECT_EQ(ascii_xy_codec(b.ws, CodecMode::read), c.status) << c.limit << " " << c.lines;
        EXPECT_EQ(b.r().point_count, c.points);
    }
}

// The step is rounded to four decimals where that keeps the last angle.
TEST(XyRead, DerivedStep) {
    struct Case {
        const char* name;
        int32_t points;
        double start, end;
        float step;
    };
    const Case cases[] = {
        {"thousand_lines", 1000, 10.0, 29.98, 0.02f},
        {"printed_with_three_decimals", 2704, 5.0, 45.545, 0.015f},
        // Five decimals hold the step closer than the four it would be rounded to.
        {"five_decimals_hold_the_step", 2, 0.0, 0.15625, 0.15625f},
        {"negative_five_decimals_hold_the_step", 2, 0.15625, 0.0, -0.15625f},
        // Four decimals would move the last angle by 0.18 degrees.
        {"five_decimal_step_kept", 3945, 20.0, 84.9, static_cast<float>(64.9 / 3944)},
        {"synchrotron_step_kept", 2500, 0.5, 6.79748,
         static_cast<float>((static_cast<double>(6.79748f) - 0.5) / 2499)},
    };
    for (const Case& c : cases) {
        std::string content;
        for (int32_t k = 0; k < c.points; ++k) {
            const double x =
                k == c.points - 1 ? c.end : c.start + k * (c.end - c.start) / (c.points - 1);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.5f,%d\n", x, k);
            content += buf;
        }
        Bench b;
        ASSERT_EQ(read_xy(b, content), ConversionStatus::done) << c.name;
        EXPECT_FLOAT_EQ(b.r().two_theta_step, c.step) << c.name;
        EXPECT_FLOAT_EQ(b.r().two_theta_end, static_cast<float>(c.end)) << c.name;
        EXPECT_EQ(b.r().point_count, c.points) << c.name;
    }
}

// --- Writing ------------------------------------------------------------------

struct Point {
    float y, sigma;
};

struct WriteCase {
    const char* name;
    float start, step;
    std::vector<Point> points;
    bool write_title, write_sigma;
    std::string expected;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class XyWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(XyWrite, Writes) {
    const WriteCase& c = GetParam();
    Bench b;
    b.r().set_title("Quartz");
    b.r().two_theta_start = c.start;
    b.r().two_theta_step = c.step;
    b.r().point_count = static_cast<int32_t>(c.points.size());
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        b.r().intensity(static_cast<int32_t>(i + 1)) = c.points[i].y;
        b.r().sigma(static_cast<int32_t>(i + 1)) = c.points[i].sigma;
    }
    b.answers().write_title = c.write_title;
    b.answers().write_sigma = c.write_sigma;
    std::string written;
    ASSERT_EQ(b.write(ascii_xy_codec, written), ConversionStatus::done);
    EXPECT_EQ(written, c.expected);
    EXPECT_EQ(b.ui.events(), std::vector<std::string>{"ascii_output"});
}

const std::string kTitleLine = "Quartz" + std::string(54, ' ') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, XyWrite,
    ::testing::Values(
        WriteCase{
            "title_and_sigma",
            5.0f,
            0.02f,
            {{1234.0f, 35.128f}, {0.5f, 0.001f}},
            true,
            true,
            kTitleLine + "    5.000,  1234.000,    35.128\r\n    5.020,     0.500,     0.001\r\n"},
        WriteCase{"no_title_no_sigma",
                  5.0f,
                  0.02f,
                  {{1234.0f, 35.128f}},
                  false,
                  false,
                  "    5.000,  1234.000\r\n"},
        // A sigma below 0.001 falls back to the square root of a positive
        // intensity, else to 1.
        WriteCase{"sigma_fallback",
                  10.0f,
                  0.5f,
                  {{100.0f, 0.0f}, {2.0f, 0.0009f}, {0.0f, 0.0f}, {-4.0f, -1.0f}},
                  false,
                  true,
                  "   10.000,   100.000,    10.000\r\n   10.500,     2.000,     1.414\r\n"
                  "   11.000,     0.000,     1.000\r\n   11.500,    -4.000,     1.000\r\n"},
        // Values too wide for F7.3 and F10.3 are written as wide as they need.
        WriteCase{"wide_values",
                  1234.5f,
                  -1000.0f,
                  {{1000000.0f, 12345678.0f}, {-100000.0f, 1.0f}, {999999.9f, 1.0f}},
                  false,
                  true,
                  "  1234.500,1000000.000,12345678.000\r\n  234.500,-100000.000,     1.000\r\n"
                  "  -765.500,999999.875,     1.000\r\n"},
        WriteCase{"no_points_only_title", 5.0f, 0.02f, {}, true, true, kTitleLine}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XyWrite, AnglesFromStartAndStep) {
    Bench b;
    testing::fill_scan(b.r(), 1000, 10.0f, 0.02f);
    b.answers().write_title = false;
    std::string written;
    ASSERT_EQ(b.write(ascii_xy_codec, written), ConversionStatus::done);
    EXPECT_EQ(written.substr(written.size() - 22), "   29.980,   130.000\r\n");
}

TEST(XyWrite, NonFiniteValuesRefused) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float start, step, y, sigma;
    };
    for (const Case c : {Case{5.0f, 0.02f, std::nanf(""), 1.0f}, Case{5.0f, 0.02f, inf, 1.0f},
                         Case{5.0f, 0.02f, 1.0f, inf}, Case{std::nanf(""), 0.02f, 1.0f, 1.0f},
                         Case{3e38f, 3e38f, 1.0f, 1.0f}}) {
        Bench b;
        b.r().two_theta_start = c.start;
        b.r().two_theta_step = c.step;
        b.r().point_count = 2;
        b.r().intensity(1) = b.r().intensity(2) = c.y;
        b.r().sigma(1) = b.r().sigma(2) = c.sigma;
        b.answers().write_sigma = true;
        std::string written;
        EXPECT_EQ(b.write(ascii_xy_codec, written), ConversionStatus::too_large)
            << c.start << " " << c.y << " " << c.sigma;
    }
}

// A file written with or without sigma and title reads back the same to three
// decimals.
TEST(XyRoundTrip, WriteThenRead) {
    for (const bool sigma : {false, true}) {
        for (const bool title : {false, true}) {
            Bench w;
            testing::fill_scan(w.r(), 2000, 4.5f, 0.015f);
            w.r().set_title("Round trip");
            for (int32_t i = 1; i <= 2000; ++i) {
                w.r().intensity(i) = 0.37f * static_cast<float>(i) + 12.5f;
                w.r().sigma(i) = std::sqrt(w.r().intensity(i)) + 0.25f;
            }
            w.answers().write_title = title;
            w.answers().write_sigma = sigma;
            std::string written;
            ASSERT_EQ(w.write(ascii_xy_codec, written), ConversionStatus::done);

            Bench r;
            ASSERT_EQ(read_xy(r, written, title ? "1" : "0", sigma), ConversionStatus::done);
            SCOPED_TRACE(std::string(sigma ? "sigma" : "no sigma") + (title ? ", title" : ""));
            if (title) {
                EXPECT_EQ(r.r().title, w.r().title);
            }
            EXPECT_EQ(r.r().point_count, 2000);
            EXPECT_FLOAT_EQ(r.r().two_theta_start, 4.5f);
            EXPECT_FLOAT_EQ(r.r().two_theta_step, 0.015f);
            EXPECT_NEAR(r.r().two_theta_end, 4.5 + 1999 * 0.015, 5e-4);
            for (int32_t i = 1; i <= 2000; ++i) {
                ASSERT_NEAR(r.r().intensity(i), w.r().intensity(i), 5e-4) << i;
                if (sigma) {
                    ASSERT_NEAR(r.r().sigma(i), w.r().sigma(i), 5e-4) << i;
                }
            }
        }
    }
}

// The example shipped with the sources was written by this writer: reading it
// and writing it again gives the same bytes.
TEST(XyRoundTrip, ExampleFileRewritesItself) {
    const auto path = std::filesystem::path(QELDA_SOURCE_DIR) / "examples" / "quartz.dat";
    ASSERT_TRUE(std::filesystem::exists(path));
    const std::string original = read_file(path);
    Bench b;
    ASSERT_EQ(read_xy(b, original, "1"), ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, 1001);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
    std::string written;
    ASSERT_EQ(b.write(ascii_xy_codec, written), ConversionStatus::done);
    EXPECT_EQ(written, original);
}

// The command line converts a real three-column file end to end, finding its
// header line (a lone wavelength) by itself.
TEST(XySamples, CommandLineDetectsHeaderAndKeepsSigma) {
    QELDA_SAMPLE_OR_SKIP(path, "xy/Example.xye");
    ScratchDir dir;
    const std::string out = (dir / "out.dat").string();
    const std::string in = path.string();
    const char* argv[] = {"qelda-convert", "-q",      "-f",      "xy",       "--read-sigma",
                          "--write-sigma", "--title", "Example", in.c_str(), out.c_str()};
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(run_convert_cli(static_cast<int>(std::size(argv)), argv, sink, sink), 0);
    std::fclose(sink);
    const std::string written = read_file(out);
    EXPECT_EQ(written.substr(0, 62), "Example" + std::string(53, ' ') + "\r\n");
    EXPECT_EQ(written.substr(62, 33), "    5.000,    81.960,    10.952\r\n");
    EXPECT_EQ(written.substr(written.size() - 33), "   44.000,    68.280,     3.540\r\n");
}

}  // namespace
}  // namespace qelda
