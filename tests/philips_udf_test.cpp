// Philips UDF reader: header columns, the point count, the count lines and the
// ways a file can fall short, then the real files (point counts and first and
// last counts as xyconv reads them).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// Counts as a UDF file writes them: "%8d," fields, eight to a line, and a "/"
// after the last one.
std::string count_lines(const std::vector<int>& counts) {
    std::string out;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        char field[16];
        std::snprintf(field, sizeof field, "%8d", counts[k]);
        out += field;
        if (k + 1 == counts.size())
            out += "/\r\n";
        else
            out += (k % 8 == 7) ? "\r\n" : ",";
    }
    return out;
}

std::vector<int> ramp(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i) v.push_back(100 + i);
    return v;
}

// A header with the given angle lines, then "RawScan" and the counts.
std::string udf(const std::string& angles, const std::vector<int>& counts,
                const std::string& extra = "") {
    return "SampleIdent,Standard,/\r\n"
           "LabdaAlpha1, 1.54060,/\r\n"
           "LabdaAlpha2, 1.54439,/\r\n"
           "RatioAlpha21, 0.50000,/\r\n" +
           angles + "ScanStepTime,    1.00,/\r\n" + extra + "RawScan\r\n" + count_lines(counts);
}

std::string range(const char* start, const char* end, const char* step) {
    return std::string("DataAngleRange,") + start + "," + end + ",/\r\nScanStepSize," + step +
           ",/\r\n";
}

TEST(PhilipsUdf, WriteModeIsNotAvailable) {
    Bench b;
    std::string written;
    EXPECT_EQ(b.write(philips_udf_codec, written), ConversionStatus::not_available);
    EXPECT_TRUE(written.empty());
}

TEST(PhilipsUdf, ReadsHeaderAndCounts) {
    Bench b;
    const auto counts = ramp(20);
    ASSERT_EQ(b.read(philips_udf_codec, udf(range("   2.0000", "   2.3800", "   0.020"), counts)),
              ConversionStatus::done);
    const PowderPattern& r = b.r();
    EXPECT_EQ(trim_right(r.title), "Standard");
    EXPECT_FLOAT_EQ(r.lambda1, 1.5406f);
    EXPECT_FLOAT_EQ(r.lambda2, 1.54439f);
    EXPECT_FLOAT_EQ(r.alpha_ratio, 0.5f);
    EXPECT_FLOAT_EQ(r.two_theta_start, 2.0f);
    EXPECT_FLOAT_EQ(r.two_theta_end, 2.38f);
    EXPECT_FLOAT_EQ(r.two_theta_step, 0.02f);
    EXPECT_FLOAT_EQ(r.count_time, 1.0f);
    ASSERT_EQ(r.point_count, 20);
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(r.intensity(i), 100.0f + static_cast<float>(i));
    EXPECT_EQ(r.lines_read, 2);  // the full count lines
}

// One header line and the field it sets, read from fixed columns.
struct HeaderCase {
    const char* line;
    const char* title;  // expected title, or nullptr
    float count_time;   // expected count_time, or 0
    float lambda1;      // expected lambda1, or 0
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << "'" << c.line << "'";
}

class UdfHeaderLine : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(UdfHeaderLine, SetsItsField) {
    const HeaderCase& c = GetParam();
    Bench b;
    b.r().set_title("previous");
    b.r().count_time = 9.0f;
    b.r().lambda1 = 9.0f;
    // The tested line comes after the standard ones, so what it sets wins.
    const std::string file =
        udf(range("   2.0000", "   2.1400", "   0.020"), ramp(8), std::string(c.line) + "\r\n");
    ASSERT_EQ(b.read(philips_udf_codec, file), ConversionStatus::done);
    if (c.title) {
        EXPECT_EQ(b.r().title, fixed_text(c.title, kTitleLength));
    }
    if (c.count_time != 0.0f) {
        EXPECT_FLOAT_EQ(b.r().count_time, c.count_time);
    }
    if (c.lambda1 != 0.0f) {
        EXPECT_FLOAT_EQ(b.r().lambda1, c.lambda1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Columns, UdfHeaderLine,
    ::testing::Values(HeaderCase{"SampleIdent,Quartz,/", "Quartz", 0, 0},
                      HeaderCase{"SampleIdent,Quartz", "", 0, 0},
                      HeaderCase{"SampleIdent,/", "", 0, 0},
                      HeaderCase{"SampleIdent, Sample1,/", " Sample1", 0, 0},
                      // The keyword is found anywhere, the columns count from column 1.
                      HeaderCase{"xSampleIdent,Quartz,/", ",Quartz", 0, 0},
                      // Keywords are case-sensitive.
                      HeaderCase{"sampleident,Quartz,/", "Standard", 0, 0},
                      // The value after the comma, whole numbers as written:
                      // a fixed column would drop the "1" of 12.5, implied
                      // decimals would make 1 s 0.001 s.
                      HeaderCase{"ScanStepTime,   2.00,/", nullptr, 2.0f, 0},
                      HeaderCase{"ScanStepTime,12.5,/", nullptr, 12.5f, 0},
                      HeaderCase{"ScanStepTime, 1,/", nullptr, 1.0f, 0},
                      HeaderCase{"LabdaAlpha1,1.5406,/", nullptr, 0, 1.5406f},
                      // A decimal comma where the columns hold no point.
                      HeaderCase{"LabdaAlpha1, 1,54060,/", nullptr, 0, 1.5406f},
                      // A value is read whole, past the old eight columns.
                      HeaderCase{"LabdaAlpha1, 1.5405981,/", nullptr, 0, 1.5405981f}));

TEST(PhilipsUdf, StepIsReadWhole) {
    Bench b;
    ASSERT_EQ(b.read(philips_udf_codec, udf(range("   2.0000", "   2.1750", "    0.025"), ramp(8))),
              ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.025f);
    EXPECT_EQ(b.r().point_count, 8);
}

TEST(PhilipsUdf, StepWithoutCommaUsesColumns15To21) {
    Bench b;
    ASSERT_EQ(b.read(philips_udf_codec, udf("DataAngleRange,   2.0000,   2.1400,/\r\n"
                                            "ScanStepSize    0.020\r\n",
                                            ramp(8))),
              ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
    EXPECT_EQ(b.r().point_count, 8);
}

TEST(PhilipsUdf, DecimalCommasInTheAngleRange) {
    Bench b;
    ASSERT_EQ(b.read(philips_udf_codec, udf(range("  10,0000", "  10,1400", "   0,020"), ramp(8))),
              ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_end, 10.14f);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
}

// Point counts from the angles, the last point kept.
struct CountCase {
    const char* start;
    const char* end;
    const char* step;
    int points;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.start << " to " << c.end << " by " << c.step;
}

class UdfPointCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(UdfPointCount, FromTheAngles) {
    const CountCase& c = GetParam();
    Bench b;
    ASSERT_EQ(b.read(philips_udf_codec, udf(range(c.start, c.end, c.step), ramp(c.points))),
              ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, c.points);
    EXPECT_EQ(b.r().intensity(c.points), 100.0f + static_cast<float>(c.points));
}

INSTANTIATE_TEST_SUITE_P(Angles, UdfPointCount,
                         ::testing::Values(CountCase{"   2.0000", "   3.0000", "   0.100", 11},
                                           CountCase{"   5.0000", " 100.0000", "   0.050", 1901},
                                           CountCase{"   5.0000", " 120.0000", "   0.020", 5751},
                                           CountCase{"   7.0000", "   7.0000", "   0.020", 1}));

// Files that cannot be read, and what they leave.
struct FailureCase {
    const char* name;
    std::string content;
    ConversionStatus status;
    int lines_read;  // -1: not checked
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UdfFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UdfFailure, GivesItsStatus) {
    const FailureCase& c = GetParam();
    Bench b;
    b.r().lines_read = 77;
    // A usable range and step from an earlier conversion are never used.
    b.r().two_theta_start = 1.0f;
    b.r().two_theta_end = 2.0f;
    b.r().two_theta_step = 0.5f;
    EXPECT_EQ(b.read(philips_udf_codec, c.content), c.status);
    if (c.lines_read >= 0) {
        EXPECT_EQ(b.r().lines_read, c.lines_read);
    }
}

const std::string kRange16 = range("   2.0000", "   2.3000", "   0.020");  // 16 points

INSTANTIATE_TEST_SUITE_P(
    Files, UdfFailure,
    ::testing::Values(
        FailureCase{"no_raw_scan", "SampleIdent,Quartz,/\r\nrawscan\r\n",
                    ConversionStatus::premature_end, 77},
        // Fewer counts than the angle range announces: refused naming the line.
        FailureCase{"counts_end_early", udf(kRange16, ramp(12)), ConversionStatus::record_error,
                    10},
        // A complete last line needs nothing after it.
        FailureCase{"complete_last_line", udf(kRange16, ramp(16)), ConversionStatus::done, 2},
        FailureCase{"announced_17_holds_16",
                    udf(range("   2.0000", "   2.3200", "   0.020"), ramp(16)) + "/\r\n",
                    ConversionStatus::record_error, 11},
        FailureCase{"dos_end_mark",
                    udf(range("   2.0000", "   2.3200", "   0.020"), ramp(16)) + "\x1a",
                    ConversionStatus::record_error, 11},
        FailureCase{"file_cut_after_full_lines",
                    udf(range("   2.0000", "   2.3200", "   0.020"), ramp(16)),
                    ConversionStatus::premature_end, 2},
        FailureCase{"bad_count_field",
                    udf(kRange16, ramp(8)) + "     1x1,       2,       3,       4,       5,"
                                             "       6,       7,       8\r\n",
                    ConversionStatus::record_error, 10},
        FailureCase{"no_angle_range", udf("ScanStepSize,   0.020,/\r\n", ramp(8)),
                    ConversionStatus::record_error, 7},
        FailureCase{"no_step", udf("DataAngleRange,   2.0000,   2.1400,/\r\n", ramp(8)),
                    ConversionStatus::record_error, 7},
        FailureCase{"zero_step", udf(range("   2.0000", "   2.1400", "   0.000"), ramp(8)),
                    ConversionStatus::record_error, 8},
        FailureCase{"negative_step", udf(range("   2.0000", "   2.1400", "  -0.020"), ramp(8)),
                    ConversionStatus::record_error, 8},
        FailureCase{"end_below_start", udf(range("   3.0000", "   2.0000", "   0.020"), ramp(8)),
                    ConversionStatus::record_error, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PhilipsUdf, TooManyPointsStopsBeforeTheCounts) {
    // 0 to 100000 by 1: one point more than the record holds.
    Bench b;
    b.r().lines_read = 77;
    ASSERT_EQ(
        b.read(philips_udf_codec,
               "DataAngleRange,   0.0000, 100000.0,/\r\nScanStepSize,   1.000,/\r\nRawScan\r\n"),
        ConversionStatus::too_many_points);
    EXPECT_EQ(b.r().point_count, 100001);
    EXPECT_EQ(b.r().lines_read, 77);
}

TEST(PhilipsUdf, CountsBeyondThoseAnnouncedAreIgnoredWithAWarning) {
    // 20 points: two full lines and four fields of the third; the two counts
    // after them are ignored, and nothing after the "/" is looked at.
    Bench b;
    std::string file = udf(range("   2.0000", "   2.3800", "   0.020"), ramp(22));
    file += "not a count line\r\n";
    ASSERT_EQ(b.read(philips_udf_codec, file), ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, 20);
    EXPECT_EQ(b.r().intensity(20), 120.0f);
    EXPECT_EQ(b.ws.warnings,
              std::vector<std::string>{
                  "input.dat holds 2 counts after the 20 that its angle range announces; ignored"});
}

// "DataAngleRange" as two comma-separated numbers of any width.
TEST(PhilipsUdf, AngleRangeVariants) {
    struct Case {
        const char* line;
        ConversionStatus status;
        float start, end;
        const char* reason;
    };
    const Case cases[] = {
        {"DataAngleRange,   5.01234,   5.15234,/", ConversionStatus::done, 5.01234f, 5.15234f, ""},
        {"DataAngleRange,5.01234,5.15234,/", ConversionStatus::done, 5.01234f, 5.15234f, ""},
        {"DataAngleRange,  105.01234,  105.15234,/", ConversionStatus::done, 105.01234f, 105.15234f,
         ""},
        {"DataAngleRange,   5.01234,/", ConversionStatus::record_error, 0, 0,
         "input.dat, line 5: DataAngleRange holds no start and end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Bench b;
        const std::string file =
            "SampleIdent,Standard,/\r\nLabdaAlpha1, 1.54060,/\r\n"
            "LabdaAlpha2, 1.54439,/\r\nRatioAlpha21, 0.50000,/\r\n" +
            std::string(c.line) + "\r\nScanStepSize,   0.020,/\r\nRawScan\r\n" +
            count_lines(ramp(8));
        ASSERT_EQ(b.read(philips_udf_codec, file), c.status) << b.ws.failure_reason;
        EXPECT_EQ(b.ws.failure_reason, c.reason);
        if (c.status != ConversionStatus::done) continue;
        EXPECT_FLOAT_EQ(b.r().two_theta_start, c.start);
        EXPECT_FLOAT_EQ(b.r().two_theta_end, c.end);
        EXPECT_EQ(b.r().point_count, 8);
    }
}

TEST(PhilipsUdf, WavelengthsKeptOrCleared) {
    const std::string no_second = "LabdaAlpha1, 1.54060,/\r\nRatioAlpha21, 0.50000,/\r\n" +
                                  range("   2.0000", "   2.1400", "   0.020") + "RawScan\r\n" +
                                  count_lines(ramp(8));
    Bench b;
    b.r().lambda2 = 1.6f;
    ASSERT_EQ(b.read(philips_udf_codec, no_second), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().lambda2, 1.6f);  // kept from before
    EXPECT_FLOAT_EQ(b.r().alpha_ratio, 0.5f);
    b.r().lambda2 = 0.0f;
    ASSERT_EQ(b.read(philips_udf_codec, no_second), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().alpha_ratio, 0.0f);  // no second line: no ratio
}

TEST(PhilipsUdf, UnreadableHeaderValueAbortsWithReport) {
    Bench b;
    EXPECT_EQ(b.read(philips_udf_codec, "ScanStepTime,  abc,/\r\nRawScan\r\n"),
              ConversionStatus::aborted);
    EXPECT_NE(b.ws.abort_report.find("input conversion error"), std::string::npos);
    EXPECT_EQ(b.ws.failure_reason, "input.dat, line 1: 'abc' is not a number (ScanStepTime)");
}

}  // namespace
}  // namespace qelda
