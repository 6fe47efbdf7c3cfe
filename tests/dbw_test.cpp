// The DBW codec: header and data records, the point count, the angle labels,
// read failures and lines_read, refusals on writing, round trips, the sample
// file and the independent reader xyconv.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::fill_scan;
using testing::lines_of;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Intensities with fractions and a spread of magnitudes.
void fill_counts(PowderPattern& r) {
    for (int32_t i = 1; i <= r.point_count; ++i)
        r.intensity(i) = static_cast<float>((i * 7919) % 99991) + 0.75f;
}

// Writes the record of `b` as DBW; fails the test unless it is written.
std::string written(Bench& b) {
    std::string out;
    EXPECT_EQ(b.write(dbw_codec, out), ConversionStatus::done);
    return out;
}

// A DBW file: the header text, then `records` data records of counts 1, 2, 3 ...
std::string dbw_file(const std::string& header, int records) {
    static const Layout kRecord("(I7,7I8)");
    std::string s = header + "\r\n";
    for (int v = 0; v < 8 * records; v += 8)
        s += write_line(kRecord, {v + 1, v + 2, v + 3, v + 4, v + 5, v + 6, v + 7, v + 8}).text +
             "\r\n";
    return s;
}

TEST(DbwRead, HeaderRecordFillsRangeTitleAndAsksWavelengths) {
    Bench b;
    b.r().count_time = 5.0f;
    b.r().sigma(1) = 42.0f;
    b.r().set_title(std::string(60, 'x'));
    b.answers().wavelengths = {"1.54056", "0", "0"};
    const std::string title50 = "Quartz, Cu Ka, 40 kV 30 mA, divergence slit 1 deg.";  // 50 chars
    ASSERT_EQ(title50.size(), 50u);
    ASSERT_EQ(b.read(dbw_codec, dbw_file("  10.000   0.020  10.140  " + title50 + "EXTRA", 1)),
              ConversionStatus::done);
    const PowderPattern& r = b.r();
    EXPECT_EQ(r.two_theta_start, 10.0f);
    EXPECT_EQ(r.two_theta_step, 0.02f);
    EXPECT_EQ(r.two_theta_end, 10.14f);
    EXPECT_EQ(r.title, title50 + std::string(10, ' '));
    EXPECT_EQ(r.count_time, 0.0f);
    EXPECT_EQ(r.point_count, 8);
    EXPECT_EQ(r.intensity(1), 1.0f);
    EXPECT_EQ(r.intensity(8), 8.0f);
    EXPECT_EQ(r.sigma(1), 42.0f) << "the file holds no uncertainties";
    EXPECT_FLOAT_EQ(r.lambda1, 1.54056f);
    EXPECT_EQ(r.lambda2, 0.0f);
    EXPECT_EQ(b.ui.events(), std::vector<std::string>{"wavelength"});
}

TEST(DbwRead, PointCountFromHeader) {
    struct Case {
        const char* header;
        int32_t points;
    };
    const Case cases[] = {
        {"  10.000   0.020  80.000", 3501},  // 437 full records and one of five points
        {"   5.000   0.050 100.000", 1901},  // the quotient 1900.99997 keeps its last point
        {"   7.500   0.004  36.940", 7361}, {"  10.000   0.020  10.000", 1},
        {"  10.000   0.020  10.140", 8},    {"  80.000  -0.020  10.000", 3501},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const int records = c.points > 0 ? (c.points + 7) / 8 : 0;
        Bench b;
        ASSERT_EQ(b.read(dbw_codec, dbw_file(c.header, records)), ConversionStatus::done);
        EXPECT_EQ(b.r().point_count, c.points);
        if (c.points > 0) {
            EXPECT_EQ(b.r().intensity(c.points), static_cast<float>(c.points));
        }
    }
}

TEST(DbwRead, StopsAfterTheLastNeededRecord) {
    // 16 points: two records, and the junk line after them is never read.
    Bench b;
    EXPECT_EQ(b.read(dbw_codec, dbw_file("  10.000   0.020  10.300", 2) + "junk, not counts\r\n"),
              ConversionStatus::done);
    // The angle label and anything after column 63 are ignored.
    Bench labels;
    EXPECT_EQ(
        labels.read(dbw_codec,
                    "  10.000   0.020  10.140\n"
                    "      1       2       3       4       5       6       7       8 label?\n"),
        ConversionStatus::done);
    EXPECT_EQ(labels.r().intensity(8), 8.0f);
}

TEST(DbwRead, FailuresAndLinesRead) {
    struct Case {
        const char* name;
        std::string content;
        ConversionStatus status;
        int32_t lines_read;  // -1: left as it was
    };
    const std::string h12 = "  10.000   0.020  10.220\r\n";  // 12 points: two records
    const std::string h24 = "  10.000   0.020  10.460\r\n";  // 24 points: three records
    const std::string good = "      1       2       3       4       5       6       7       8\r\n";
    const std::string bad = "      1       2       x       4       5       6       7       8\r\n";
    const Case cases[] = {
        {"empty file", "", ConversionStatus::premature_end, -1},
        {"bad header", "  10.0x0   0.020  10.220\r\n", ConversionStatus::not_available, 0},
        {"end below start", "  10.000   0.020   9.000\r\n", ConversionStatus::record_error, 0},
        {"no step", "  10.000   0.000  80.000\r\n", ConversionStatus::record_error, 0},
        {"header only", h12, ConversionStatus::premature_end, -1},
        {"first record bad", h12 + bad + good, ConversionStatus::record_error, 1},
        {"third record bad", h24 + good + good + bad, ConversionStatus::record_error, 3},
        {"last partial record missing", h12 + good, ConversionStatus::premature_end, -1},
        {"bad count after the last point", h12 + good + good.substr(0, 55) + "      x8\r\n",
         ConversionStatus::record_error, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.r().lines_read = 99;
        EXPECT_EQ(b.read(dbw_codec, c.content), c.status);
        EXPECT_EQ(b.r().lines_read, c.lines_read < 0 ? 99 : c.lines_read);
        // A read error names the line after those read.
        if (c.status == ConversionStatus::record_error) {
            EXPECT_EQ(b.ws.failure_reason.rfind(
                          "input.dat, line " + std::to_string(c.lines_read + 1) + ": ", 0),
                      0u)
                << b.ws.failure_reason;
        }
    }
}

// Files of other refinement programs: blank-separated numbers of any width,
// sometimes with decimals, and records of sigmas after records of intensities.
TEST(DbwRead, FreeFormVariants) {
    struct Case {
        const char* name;
        std::string content;
        ConversionStatus status;
        std::vector<float> counts, sigmas;
        const char* title;
        const char* phrase;  // in the reason or the warning
    };
    const std::string h3 = "   1.000   0.100   1.200\r\n";  // a fixed header, 3 points
    const Case cases[] = {
        {"uneven header widths",
         "    5.0000     .0200    5.0400  HMT  powder\r\n492. 507.\r\n461.\r\n",
         ConversionStatus::done,
         {492, 507, 461},
         {},
         "HMT  powder",
         ""},
        // Eight-wide fields, ten to a line: not the I7,7I8 columns.
        {"ten to a line",
         h3 + "    1471    1394    1400\r\n",
         ConversionStatus::done,
         {1471, 1394, 1400},
         {},
         "",
         ""},
        {"counts with decimals",
         h3 + "   345.2   350.7   326.4\r\n",
         ConversionStatus::done,
         {345.2f, 350.7f, 326.4f},
         {},
         "",
         ""},
        {"numbers after the counts",
         h3 + "1 2 3 4 5\r\n",
         ConversionStatus::done,
         {1, 2, 3},
         {},
         "",
         "holds 2 numbers after its 3 counts; ignored"},
        {"sigma records",
         h3 + "  345.2  350.7\r\n  18.34  18.48\r\n  326.4\r\n  17.75\r\n",
         ConversionStatus::done,
         {345.2f, 350.7f, 326.4f},
         {18.34f, 18.48f, 17.75f},
         "",
         "a line of sigmas after each line of intensities"},
        {"twice the numbers, not in pairs",
         h3 + "1.5 2 3 4\r\n5 6\r\n",
         ConversionStatus::record_error,
         {},
         {},
         "",
         "their order is unknown"},
        {"fewer counts than announced",
         h3 + "1.5 2\r\n",
         ConversionStatus::premature_end,
         {},
         {},
         "",
         "ends after 2 of the 3 counts that its header announces (start 1, step 0.1, end 1.2)"},
        {"a word among the counts",
         h3 + "1.5 2\r\nthree\r\n",
         ConversionStatus::record_error,
         {},
         {},
         "",
         "line 3: 'three' is not a number; count 3 of 3 was expected"},
        {"not a DBW file",
         "<?xml version=\"1.0\"?>\r\n",
         ConversionStatus::not_available,
         {},
         {},
         "",
         "line 1: '<?xml' is not a number where the start, step and end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        ASSERT_EQ(b.read(dbw_codec, c.content), c.status) << b.ws.failure_reason;
        const std::string said =
            b.ws.failure_reason + (b.ws.warnings.empty() ? "" : b.ws.warnings.front());
        EXPECT_NE(said.find(c.phrase), std::string::npos) << said;
        if (c.status != ConversionStatus::done) continue;
        ASSERT_EQ(b.r().point_count, static_cast<int32_t>(c.counts.size()));
        for (std::size_t i = 0; i < c.counts.size(); ++i) {
            EXPECT_FLOAT_EQ(b.r().intensity(static_cast<int32_t>(i + 1)), c.counts[i]) << i;
            if (!c.sigmas.empty()) {
                EXPECT_FLOAT_EQ(b.r().sigma(static_cast<int32_t>(i + 1)), c.sigmas[i]) << i;
            }
        }
        if (*c.title) {
            EXPECT_EQ(trim_right(b.r().title), c.title);
        }
    }
}

TEST(DbwRead, TooManyPointsBeforeThePrompt) {
    Bench b;
    EXPECT_EQ(b.read(dbw_codec, "   0.000   0.001 200.000\r\n"), ConversionStatus::too_many_points);
    EXPECT_EQ(b.r().point_count, 200001);
    EXPECT_TRUE(b.ui.events().empty());
}

TEST(DbwWrite, RecordsOfEightWithZeroFillAndLabels) {
    for (const int32_t n : {3501, 16, 12}) {
        SCOPED_TRACE(n);
        Bench b;
        fill_scan(b.r(), n, 10.0f, 0.02f);
        fill_counts(b.r());
        const auto lines = lines_of(written(b));
        const std::size_t records = static_cast<std::size_t>((n + 7) / 8);
        ASSERT_EQ(lines.size(), records + 1);
        EXPECT_EQ(lines[0].size(), 76u);
        for (std::size_t r = 1; r < lines.size(); ++r) ASSERT_EQ(lines[r].size(), 72u);
        // First label at the eighth point less a truncation, then 0.159 a record.
        EXPECT_EQ(lines[1].substr(63), "   10.139");
        if (records >= 3) {
            EXPECT_EQ(lines[2].substr(63), "   10.298");
            EXPECT_EQ(lines[3].substr(63), "   10.457");
        }
        const std::string& last = lines.back();
        const int fill = n % 8 == 0 ? 0 : 8 - n % 8;
        for (int j = 8 - fill; j < 8; ++j)
            EXPECT_EQ(last.substr(7 + 8 * static_cast<std::size_t>(j - 1), 8), "       0") << j;
        if (fill == 0) {
            EXPECT_NE(last.substr(55, 8), "       0");
        }
    }
}

TEST(DbwWrite, HeaderTitleCutAndCountsRounded) {
    Bench b;
    fill_scan(b.r(), 8, 10.0f, 0.02f);
    b.r().set_title("0123456789012345678901234567890123456789012345678901234567890");
    const float counts[8] = {12.9f, -3.7f, 0.999f, -0.5f, 9999999.0f, 99999992.0f, -9999999.0f, 0};
    for (int i = 0; i < 8; ++i) b.r().intensity(i + 1) = counts[i];
    const auto lines = lines_of(written(b));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "  10.000   0.020  10.140  01234567890123456789012345678901234567890123456789");
    EXPECT_EQ(lines[1], "     13      -4       1      -1 999999999999992-9999999       0   10.139");
    EXPECT_EQ(b.ws.warnings,
              (std::vector<std::string>{
                  "title cut to 50 characters",
                  "DBW holds whole counts: 4 intensities rounded (largest change 0.5)"}));
}

TEST(DbwWrite, RefusesWhatTheFileCannotHold) {
    struct Case {
        const char* name;
        void (*setup)(PowderPattern&);
    };
    const Case cases[] = {
        {"first count over seven columns", [](PowderPattern& r) { r.intensity(9) = 1e7f; }},
        {"first count negative over seven", [](PowderPattern& r) { r.intensity(1) = -1e6f; }},
        {"other count over eight columns", [](PowderPattern& r) { r.intensity(2) = 1e8f; }},
        {"count in the last record", [](PowderPattern& r) { r.intensity(12) = -1e7f; }},
        {"beyond the int32 range", [](PowderPattern& r) { r.intensity(3) = 3e9f; }},
        {"far beyond", [](PowderPattern& r) { r.intensity(3) = -1e30f; }},
        {"not a number",
         [](PowderPattern& r) { r.intensity(4) = std::numeric_limits<float>::quiet_NaN(); }},
        {"infinite",
         [](PowderPattern& r) { r.intensity(4) = std::numeric_limits<float>::infinity(); }},
        {"start over F8.3", [](PowderPattern& r) { r.two_theta_start = 12345.0f; }},
        {"step finer than three decimals",
         [](PowderPattern& r) { fill_scan(r, 801, 10.0f, 0.0125f); }},
        {"end that does not match the points",
         [](PowderPattern& r) { r.two_theta_end = r.two_theta_start + 0.5f; }},
        {"more points than the arrays", [](PowderPattern& r) { r.point_count = 100001; }},
        {"descending scan", [](PowderPattern& r) { fill_scan(r, 12, 10.0f, -0.02f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        fill_scan(b.r(), 12, 10.0f, 0.02f);
        c.setup(b.r());
        std::string out;
        EXPECT_EQ(b.write(dbw_codec, out), ConversionStatus::too_large);
    }
}

TEST(DbwWrite, NoPointsWritesTheHeaderOnly) {
    for (const int32_t n : {-49, 0}) {
        Bench b;
        fill_scan(b.r(), 8, 10.0f, 0.02f);
        b.r().two_theta_end = 9.0f;
        b.r().point_count = n;
        EXPECT_EQ(lines_of(written(b)),
                  std::vector<std::string>{"  10.000   0.020   9.000" + std::string(52, ' ')});
    }
}

TEST(DbwWrite, FailedStatementIsAWriteError) {
    Bench b;
    fill_scan(b.r(), 8, 10.0f, 0.02f);
    EXPECT_EQ(dbw_codec(b.ws, CodecMode::write), ConversionStatus::record_error);  // unit 2 closed
}

// Write, read back, write again: every point and count comes back, and the
// second file equals the first.
TEST(DbwRoundTrip, RangesNotExactInBinary) {
    struct Case {
        float start, step;
        int32_t points;
    };
    const Case cases[] = {
        {10.0f, 0.02f, 3501}, {5.0f, 0.05f, 1901},    {7.5f, 0.004f, 7361}, {2.0f, 0.01f, 5801},
        {4.98f, 0.04f, 876},  {-3.3f, 0.03f, 97},     {0.1f, 0.1f, 1000},   {20.07f, 0.015f, 4000},
        {3.99f, 0.02f, 8},    {0.01f, 0.002f, 16001}, {60.0f, 0.05f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.step << " " << c.points);
        Bench w;
        fill_scan(w.r(), c.points, c.start, c.step);
        fill_counts(w.r());
        const std::string first = written(w);

        Bench r;
        ASSERT_EQ(r.read(dbw_codec, first), ConversionStatus::done);
        ASSERT_EQ(r.r().point_count, c.points);
        EXPECT_NEAR(r.r().two_theta_start, c.start, 5e-4);
        EXPECT_NEAR(r.r().two_theta_step, c.step, 5e-4);
        EXPECT_NEAR(r.r().two_theta_end, w.r().two_theta_end, 5e-4);
        for (int32_t i = 1; i <= c.points; ++i)
            ASSERT_EQ(r.r().intensity(i), std::round(w.r().intensity(i))) << i;
        EXPECT_EQ(written(r), first);
    }
}

TEST(DbwRoundTrip, UxdToDbwToUxdKeepsEveryCount) {
    struct Case {
        float start, step;
        int32_t points;
    };
    for (const Case& c :
         {Case{10.0f, 0.02f, 3501}, Case{5.0f, 0.05f, 1901}, Case{4.98f, 0.04f, 876},
          Case{7.5f, 0.004f, 7361}, Case{0.01f, 0.002f, 16001}, Case{20.07f, 0.015f, 4000}}) {
        SCOPED_TRACE(::testing::Message() << c.start << " " << c.step << " " << c.points);
        Bench b;
        fill_scan(b.r(), c.points, c.start, c.step);
        for (int32_t i = 1; i <= c.points; ++i) b.r().intensity(i) = std::trunc(b.r().intensity(i));
        std::vector<float> counts(b.r().intensity.data(), b.r().intensity.data() + c.points);
        std::string uxd, dbw, uxd_again;
        ASSERT_EQ(b.write(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.write(dbw_codec, dbw), ConversionStatus::done);
        ASSERT_EQ(b.read(dbw_codec, dbw), ConversionStatus::done);
        ASSERT_EQ(b.write(siemens_uxd_codec, uxd_again), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, uxd_again), ConversionStatus::done);
        ASSERT_EQ(b.r().point_count, c.points);
        EXPECT_NEAR(b.r().two_theta_start, c.start, 5e-4);
        EXPECT_NEAR(b.r().two_theta_step, c.step, 5e-6);
        for (int32_t i = 1; i <= c.points; ++i) ASSERT_EQ(b.r().intensity(i), counts[i - 1]) << i;
    }
}

TEST(DbwSample, ExampleReadsAndWritesBackByteForByte) {
    const std::string example = read_file(std::string(QELDA_SOURCE_DIR) + "/examples/quartz.dbw");
    ASSERT_FALSE(example.empty());
    Bench b;
    ASSERT_EQ(b.read(dbw_codec, example, "quartz.dbw"), ConversionStatus::done);
    EXPECT_GT(b.r().point_count, 1000);
    EXPECT_EQ(written(b), example);
}

// xyconv reads DBW as free-format numbers after the first line, so it takes
// each record's angle label for a ninth count.
TEST(DbwXyconv, IndependentReaderAgrees) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) GTEST_SKIP() << "xyconv absent";
    ScratchDir dir;
    Bench b;
    const int32_t n = 3501;
    fill_scan(b.r(), n, 10.0f, 0.02f);
    fill_counts(b.r());
    b.r().set_title("Quartz check");
    const auto path = dir / "scan.dbw";
    write_file(path, written(b));

    const std::string command = "xyconv -s -t dbws '" + path.string() + "' - 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        output.append(buf, got);
    ASSERT_EQ(::pclose(pipe), 0) << output;

    std::istringstream text(output);
    std::string line, block;
    std::vector<double> x, y;
    while (std::getline(text, line)) {
        if (line.rfind("### block #0 ", 0) == 0) block = line.substr(13);
        if (line.empty() || line[0] == '#') continue;
        double a = 0, v = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &a, &v), 2) << line;
        x.push_back(a);
        y.push_back(v);
    }
    EXPECT_EQ(block, "Quartz check");
    const std::size_t records = (n + 7) / 8;
    ASSERT_EQ(y.size(), 9 * records);
    EXPECT_NEAR(x[0], 10.0, 1e-6);
    EXPECT_NEAR(x[1] - x[0], 0.02, 1e-6);
    for (std::size_t r = 0; r < records; ++r) {
        for (std::size_t j = 0; j < 8; ++j) {
            const auto i = static_cast<int32_t>(8 * r + j + 1);
            const double expected = i <= n ? std::round(b.r().intensity(i)) : 0.0;
            ASSERT_EQ(y[9 * r + j], expected) << "point " << i;
        }
        EXPECT_NEAR(y[9 * r + 8], (10139 + 159 * static_cast<double>(r)) / 1000.0, 1e-9) << r;
    }
}

}  // namespace
}  // namespace qelda
