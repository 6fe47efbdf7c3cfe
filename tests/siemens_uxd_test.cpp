// The Siemens UXD codec: keyword values, both count layouts, angle-intensity
// rows, the writer's header and tail, round trips, and the real files checked
// against xylib's xyconv.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "core/driver.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::fill_scan;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

constexpr float kAny = std::numeric_limits<float>::quiet_NaN();  // not checked

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// --- xyconv, the independent reader ------------------------------------------------

struct XyBlock {
    std::vector<double> x, y;
};

// The first block of what `xyconv -t uxd` reads, or nullopt without xyconv or
// when it refuses the file.
std::optional<XyBlock> xyconv_first_block(const std::filesystem::path& file) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string cmd = "xyconv -t uxd '" + file.string() + "' - 2>/dev/null";
    std::FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    XyBlock block;
    std::istringstream in(text);
    std::string line;
    int blocks = 0;
    while (std::getline(in, line)) {
        if (line.starts_with("### block")) {
            if (++blocks > 1) break;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        double x = 0, y = 0;
        if (std::sscanf(line.c_str(), "%lf %lf", &x, &y) == 2) {
            block.x.push_back(x);
            block.y.push_back(y);
        }
    }
    return block;
}

bool have_xyconv() {
    return std::system("command -v xyconv >/dev/null 2>&1") == 0;
}

// --- Keyword values -------------------------------------------------------------------

struct KeywordCase {
    const char* line;
    float PowderPattern::*field;
    float expected;
};

void PrintTo(const KeywordCase& c, std::ostream* os) {
    *os << "'" << c.line << "'";
}

class UxdKeywords : public ::testing::TestWithParam<KeywordCase> {};

TEST_P(UxdKeywords, ValueAfterTheFirstEqualsSign) {
    Bench b;
    b.r().two_theta_start = 0.0f;
    b.r().count_time = 0.0f;
    const std::string content = std::string(GetParam().line) + "\r\n_COUNTS\r\n";
    ASSERT_EQ(b.read(siemens_uxd_codec, content), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().*(GetParam().field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UxdKeywords,
    ::testing::Values(KeywordCase{"_START=10.000", &PowderPattern::two_theta_start, 10.0f},
                      KeywordCase{"_START = 10.000", &PowderPattern::two_theta_start, 10.0f},
                      // A value without a point is a whole number, not one of
                      // implied decimals (0.010 and 0.1 would misread the file).
                      KeywordCase{"_START=10", &PowderPattern::two_theta_start, 10.0f},
                      KeywordCase{"_STEPTIME=1", &PowderPattern::count_time, 1.0f},
                      KeywordCase{"_STEPSIZE = 5", &PowderPattern::two_theta_step, 5.0f},
                      KeywordCase{"_STEPTIME=1.0", &PowderPattern::count_time, 1.0f},
                      // Values are read whole: this writer's own layout, and long values.
                      KeywordCase{"_STEPTIME=  0.250", &PowderPattern::count_time, 0.25f},
                      KeywordCase{"_STEPTIME=738.065979", &PowderPattern::count_time, 738.066f},
                      KeywordCase{"_STEPSIZE=0.021811", &PowderPattern::two_theta_step, 0.021811f},
                      KeywordCase{"_WL1=1.540600", &PowderPattern::lambda1, 1.5406f},
                      KeywordCase{"_WLRATIO = 0.5", &PowderPattern::alpha_ratio, 0.5f},
                      KeywordCase{"_STARTTIME=5.5", &PowderPattern::two_theta_start, 5.5f},
                      // Lines that are not these keys change nothing.
                      KeywordCase{"_2THETA=12.000", &PowderPattern::two_theta_start, 0.0f},
                      KeywordCase{"_TIMESTARTED=14.0", &PowderPattern::two_theta_start, 0.0f},
                      KeywordCase{"_USER='R_START=9'", &PowderPattern::two_theta_start, 0.0f},
                      KeywordCase{"; _START=99", &PowderPattern::two_theta_start, 0.0f}));

struct TitleCase {
    std::string line;
    std::string expected;  // trailing blanks not shown
};

void PrintTo(const TitleCase& c, std::ostream* os) {
    *os << "'" << c.line << "'";
}

class UxdTitles : public ::testing::TestWithParam<TitleCase> {};

TEST_P(UxdTitles, TitleIsTheTextBetweenTheQuotes) {
    Bench b;
    b.r().set_title("Earlier");
    ASSERT_EQ(b.read(siemens_uxd_codec, GetParam().line + "\r\n_COUNTS\r\n"),
              ConversionStatus::done);
    EXPECT_EQ(b.r().title.size(), kTitleLength);
    EXPECT_EQ(trim_right(b.r().title), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UxdTitles,
    ::testing::Values(TitleCase{"_SAMPLE='Quartz'", "Quartz"},
                      TitleCase{"  _SAMPLE=\"Quartz\"  ", "Quartz"},
                      TitleCase{"_SAMPLE = Commander Sample ID", "Commander Sample ID"},
                      TitleCase{"_SAMPLE='O'Neil   run 2'", "O'Neil   run 2"},
                      TitleCase{"_SAMPLE=''", ""},
                      TitleCase{"_SAMPLE='" + std::string(70, 'x') + "'", std::string(60, 'x')},
                      TitleCase{"_SAMPLE_CHANGER_CODE=0", "Earlier"},
                      TitleCase{"_+SAMPLE='long text'", "Earlier"}));

// --- Data layouts -------------------------------------------------------------------

struct DataCase {
    const char* name;
    std::string body;  // what follows the start and step lines
    ConversionStatus status;
    int32_t count = 0;
    float first = kAny;  // intensity(1)
    float last = kAny;   // intensity(count)
    float start = kAny;
    float step = kAny;
    float end = kAny;
};

void PrintTo(const DataCase& c, std::ostream* os) {
    *os << c.name;
}

class UxdData : public ::testing::TestWithParam<DataCase> {};

TEST_P(UxdData, ReadsOrRefuses) {
    const DataCase& c = GetParam();
    Bench b;
    const std::string content = "_STEPSIZE=0.02\r\n_START=10.0\r\n" + c.body;
    ASSERT_EQ(b.read(siemens_uxd_codec, content, "scan.uxd"), c.status);
    if (c.status != ConversionStatus::done) return;
    const PowderPattern& r = b.r();
    EXPECT_EQ(r.point_count, c.count);
    if (!std::isnan(c.first)) {
        EXPECT_FLOAT_EQ(r.intensity(1), c.first);
    }
    if (!std::isnan(c.last)) {
        EXPECT_FLOAT_EQ(r.intensity(c.count), c.last);
    }
    if (!std::isnan(c.start)) {
        EXPECT_FLOAT_EQ(r.two_theta_start, c.start);
    }
    if (!std::isnan(c.step)) {
        EXPECT_FLOAT_EQ(r.two_theta_step, c.step);
    }
    if (!std::isnan(c.end)) {
        EXPECT_FLOAT_EQ(r.two_theta_end, c.end);
    }
}

std::string rows(double start, double step, int n, int decimals) {
    std::string s;
    char buf[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%.*f\t%d\r\n", decimals, start + i * step, 100 + i);
        s += buf;
    }
    return s;
}

using CS = ConversionStatus;
INSTANTIATE_TEST_SUITE_P(
    Layouts, UxdData,
    ::testing::Values(
        // Counted: this writer's 8-column fields with points, 8 to a line.
        DataCase{"counted_own_layout",
                 "_STEPCOUNT=10\r\n_COUNTS\r\n"
                 "    100.    200.    300.    400.    500.    600.    700.    800.\r\n"
                 "    900.   1000.\r\n",
                 CS::done, 10, 100.0f, 1000.0f, 10.0f, 0.02f, 10.18f},
        DataCase{"counted_ignores_values_past_the_count",
                 "_STEPCOUNT=3\r\n_COUNTS\r\n 1 2 3 4 5\r\n", CS::done, 3, 1.0f, 3.0f},
        // Bruker's converters: blank-separated counts in 10-column fields.
        DataCase{
            "counted_ten_column_fields",
            "_STEPCOUNT=10\r\n_COUNTS\r\n"
            "     1048      1162      1108      1163      1071      1057      1055       973\r\n"
            "     1000      1031\r\n",
            CS::done, 10, 1048.0f, 1031.0f},
        DataCase{"counted_blank_line_gives_no_points",
                 "_STEPCOUNT=4\r\n_COUNTS\r\n 1 2\r\n\r\n 3 4\r\n", CS::done, 4, 1.0f, 4.0f},
        DataCase{"counted_ends_early", "_STEPCOUNT=9\r\n_COUNTS\r\n 1 2 3\r\n", CS::premature_end},
        DataCase{"counted_comment_among_counts",
                 "_STEPCOUNT=9\r\n_COUNTS\r\n 1 2 3\r\n; note\r\n 4 5 6\r\n", CS::record_error},
        // Uncounted: every count up to the first line that is not numbers.
        DataCase{
            "uncounted_ten_column_fields",
            "_COUNTS\r\n"
            "      141       159       149       150       154       162       152       143\r\n"
            "      353       332       331\r\n",
            CS::done, 11, 141.0f, 331.0f, 10.0f, 0.02f, 10.2f},
        DataCase{"uncounted_touching_eight_column_fields", "_COUNTS\r\n1234567876543210\r\n",
                 CS::done, 2, 12345678.0f, 76543210.0f},
        DataCase{"uncounted_eight_column_integers",
                 "_COUNTS\r\n    1048    1162    1108    1163    1071    1057    1055     973\r\n"
                 "      31\r\n",
                 CS::done, 9, 1048.0f, 31.0f},
        DataCase{"uncounted_commas", "_COUNTS\r\n12.5,300, 7\r\n", CS::done, 3, 12.5f, 7.0f},
        DataCase{"uncounted_own_layout_with_points", "_COUNTS\r\n    100.    200.    300.\r\n",
                 CS::done, 3, 100.0f, 300.0f},
        DataCase{"uncounted_first_range_only",
                 "_COUNTS\r\n 1 2 3\r\n; (Data for Range number 2)\r\n_DRIVE='COUPLED'\r\n"
                 "_COUNTS\r\n 9 9\r\n",
                 CS::done, 3, 1.0f, 3.0f},
        DataCase{"uncounted_nothing_after_counts", "_COUNTS\r\n", CS::done, 0},
        DataCase{"uncounted_garbage_after_numbers", "_COUNTS\r\n 1 2\r\n 3 x4\r\n",
                 CS::record_error},
        DataCase{"no_counts_marker", "_SAMPLE='x'\r\n", CS::premature_end},
        // A comment quoting a key is not that key (this writer quotes the input path).
        DataCase{"comment_quotes_counts_key",
                 ";  converted from C:\\XRD\\QUARTZ_COUNTS.RAW\r\n_STEPCOUNT=2\r\n_COUNTS\r\n"
                 "    100.    200.\r\n",
                 CS::done, 2, 100.0f, 200.0f},
        // Angle-intensity rows.
        DataCase{"rows_tab_separated", "_2THETACOUNTS\r\n" + rows(5.0, 0.02, 4, 3), CS::done, 4,
                 100.0f, 103.0f, 5.0f, 0.02f, 5.06f},
        DataCase{"rows_marker_with_value_and_comment",
                 "_2THETACOUNTS = 1\r\n; 2THETA\tCnt2_D1\t\r\n93.000100\t10.312500\t\r\n"
                 "93.015427\t10.677080\t\r\n93.030754\t11.536460\t\r\n",
                 CS::done, 3, 10.3125f, 11.53646f, 93.0001f, 0.015327f, 93.030754f},
        DataCase{"rows_three_columns",
                 "_2THETACOUNTSTIME\r\n 10.0 5 1.0\r\n 10.1 6 1.0\r\n 10.2 7 1.0\r\n", CS::done, 3,
                 5.0f, 7.0f, 10.0f, 0.1f, 10.2f},
        DataCase{"rows_cps_first_range",
                 "_STEPTIME=2.0\r\n_2THETACPS\r\n   0.0000    351.67\r\n   5.0000    345.17\r\n"
                 "; (Data for Range number 2)\r\n_2THETACPS\r\n   0.0000    9.0\r\n",
                 CS::done, 2, 703.34f, 690.34f, 0.0f, 5.0f, 5.0f},
        // Angles printed with 3 decimals keep the 6-decimal step; fine steps survive.
        DataCase{"rows_step_from_rounded_angles",
                 "_2THETACOUNTS\r\n" + rows(3.0, 0.015592, 2374, 3), CS::done, 2374, 100.0f,
                 2473.0f, 3.0f, 0.015592f, 40.0f},
        DataCase{"rows_fine_step", "_2THETACOUNTS\r\n" + rows(2.0, 0.00125, 801, 5), CS::done, 801,
                 100.0f, 900.0f, 2.0f, 0.00125f, 3.0f},
        DataCase{"rows_single_row", "_2THETACOUNTS\r\n 7.5 12\r\n", CS::done, 1, 12.0f, 12.0f, 7.5f,
                 0.0f, 7.5f},
        DataCase{"rows_one_column", "_2THETACOUNTS\r\n 100\r\n 200\r\n", CS::record_error},
        DataCase{"rows_uneven_angles",
                 "_2THETACOUNTS\r\n 10.0 1\r\n 10.1 1\r\n 10.2 1\r\n 10.9 2\r\n", CS::done, 4, 1.0f,
                 2.0f, 10.0f, 0.3f, 10.9f},
        DataCase{"rows_equal_angles", "_2THETACOUNTS\r\n 10.0 1\r\n 10.0 1\r\n",
                 CS::record_error}));

// Ranges, scan axes, counts per second and counts that disagree with the header.
struct RangeCase {
    const char* name;
    std::string content;
    int32_t scan;
    bool any_axis;
    ConversionStatus status;
    int32_t points;      // on success
    float first;         // intensity(1), on success
    const char* phrase;  // in the reason, or on success in the warnings ("" for none)
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.name;
}

class UxdRanges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(UxdRanges, ReadOrRefuseWithReason) {
    const RangeCase& c = GetParam();
    Bench b;
    b.ws.options.scan = c.scan;
    b.ws.options.any_axis = c.any_axis;
    if (!b.read_as_expected(siemens_uxd_codec, c.content, "scan.uxd", c.status, c.phrase)) return;
    EXPECT_EQ(b.r().point_count, c.points);
    EXPECT_EQ(b.r().intensity(1), c.first);
}

std::string uxd_range(const std::string& drive, const std::string& data) {
    return "_DRIVE=" + drive + "\r\n_STEPTIME=0.5\r\n_STEPSIZE=0.02\r\n_START=10.0\r\n" + data;
}
const std::string kThreeCounts = "_STEPCOUNT=3\r\n_COUNTS\r\n 10 20 30\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, UxdRanges,
    ::testing::Values(
        RangeCase{"three_ranges",
                  uxd_range("'COUPLED'", kThreeCounts) +
                      uxd_range("'COUPLED'", "_STEPCOUNT=2\r\n_COUNTS\r\n 7 8\r\n") +
                      uxd_range("'COUPLED'", kThreeCounts),
                  1, false, ConversionStatus::done, 3, 10, "holds 3 ranges; range 1 converted"},
        RangeCase{"second_range_asked_for",
                  uxd_range("'COUPLED'", kThreeCounts) +
                      uxd_range("'COUPLED'", "_STEPCOUNT=2\r\n_COUNTS\r\n 7 8\r\n") +
                      uxd_range("'COUPLED'", kThreeCounts),
                  2, false, ConversionStatus::done, 2, 7, "holds 3 ranges; range 2 converted"},
        RangeCase{"x_y_file", "10.00 5\r\n10.02 6\r\n", 1, false, ConversionStatus::not_available,
                  0, 0, "not a UXD file"},
        RangeCase{"no_such_range", uxd_range("'COUPLED'", kThreeCounts), 2, false,
                  ConversionStatus::not_available, 0, 0, "holds 1 range; there is no range 2"},
        RangeCase{"unquoted_coupled_drive", uxd_range("COUPLED", kThreeCounts), 1, false,
                  ConversionStatus::done, 3, 10, ""},
        RangeCase{"phi_scan", uxd_range("'PHI'", kThreeCounts), 1, false,
                  ConversionStatus::not_available, 0, 0, "scans PHI (_DRIVE='PHI'), not 2theta"},
        RangeCase{"omega_rocking_curve", uxd_range("'OMEGA'", kThreeCounts), 1, false,
                  ConversionStatus::not_available, 0, 0, "scans OMEGA"},
        RangeCase{"phi_scan_any_axis", uxd_range("'PHI'", kThreeCounts), 1, true,
                  ConversionStatus::done, 3, 10, ""},
        RangeCase{"phi_range_then_coupled",
                  uxd_range("'CHI'", kThreeCounts) +
                      uxd_range("'COUPLED'", "_STEPCOUNT=2\r\n_COUNTS\r\n 7 8\r\n"),
                  1, false, ConversionStatus::done, 2, 7, "holds 2 ranges; range 2 converted"},
        RangeCase{"phi_range_asked_for",
                  uxd_range("'COUPLED'", kThreeCounts) + uxd_range("'PSI'", kThreeCounts), 2, false,
                  ConversionStatus::not_available, 0, 0, "range 2 scans PSI"},
        RangeCase{"counts_per_second",
                  uxd_range("'COUPLED'", "_2THETACPS\r\n10.00 100\r\n10.02 50.5\r\n"), 1, false,
                  ConversionStatus::done, 2, 50,
                  "converted to counts per step with the step time 0.5 s"},
        RangeCase{"counts_per_second_without_step_time",
                  "_START=10\r\n_2THETACPS\r\n10.00 100\r\n10.02 50.5\r\n", 1, false,
                  ConversionStatus::not_available, 0, 0, "no _STEPTIME"},
        RangeCase{"rows_half_a_step_off",
                  uxd_range("'COUPLED'", "_2THETACOUNTS\r\n10.00 1\r\n10.03 2\r\n10.04 3\r\n"), 1,
                  false, ConversionStatus::done, 3, 1,
                  "line 7: 2theta 10.03 is the first angle off one even grid"},
        RangeCase{"counts_fewer_than_announced",
                  uxd_range("'COUPLED'", "_STEPCOUNT=4\r\n_COUNTS\r\n 10 20 30\r\n") +
                      uxd_range("'COUPLED'", kThreeCounts),
                  1, false, ConversionStatus::record_error, 0, 0,
                  "line 8: the counts end after 3 of the 4"},
        RangeCase{"counts_more_than_announced",
                  uxd_range("'COUPLED'", "_STEPCOUNT=2\r\n_COUNTS\r\n 10 20\r\n 30\r\n"), 1, false,
                  ConversionStatus::done, 2, 10, "holds more counts than the 2"},
        RangeCase{"rows_fewer_than_announced",
                  uxd_range("'COUPLED'", "_STEPCOUNT=3\r\n_2THETACOUNTS\r\n10.00 1\r\n10.02 2\r\n"),
                  1, false, ConversionStatus::record_error, 0, 0, "the rows end after 2 of the 3"},
        RangeCase{"rows_more_than_announced",
                  uxd_range("'COUPLED'",
                            "_STEPCOUNT=2\r\n_2THETACOUNTS\r\n10.00 1\r\n10.02 2\r\n10.04 3\r\n"),
                  1, false, ConversionStatus::done, 2, 1, "holds more rows than the 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UxdRead, UncountedCountsOfAnotherProgram) {
    // 1003 counts written eight to a line in 8-column integer fields.
    std::string text = "_START=10.0\r\n_STEPSIZE=0.02\r\n_COUNTS\r\n";
    char buf[16];
    for (int i = 1; i <= 1003; ++i) {
        std::snprintf(buf, sizeof buf, "%8d", i);
        text += buf;
        if (i % 8 == 0 || i == 1003) text += "\r\n";
    }
    Bench b;
    b.r().point_count = 50;  // an earlier dataset's count must not make this read counted
    ASSERT_EQ(b.read(siemens_uxd_codec, text), ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, 1003);
    EXPECT_EQ(b.r().intensity(1003), 1003.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_end, 10.0f + 1002 * 0.02f);
}

TEST(UxdRead, PointLimit) {
    Bench b;
    b.input("_STEPCOUNT=100001\r\n_COUNTS\r\n");
    EXPECT_EQ(siemens_uxd_codec(b.ws, CodecMode::read), ConversionStatus::too_many_points);

    // Uncounted: stops at the limit, storing nothing beyond it.
    b.input("_COUNTS\r\n 1 2 3 4\r\n 5 6 7\r\n");
    b.r().max_points = 5;
    b.r().intensity(6) = -1.0f;
    EXPECT_EQ(siemens_uxd_codec(b.ws, CodecMode::read), ConversionStatus::too_many_points);
    EXPECT_EQ(b.r().intensity(6), -1.0f);

    b.input("_2THETACOUNTS\r\n 1 1\r\n 2 2\r\n 3 3\r\n");
    b.r().max_points = 2;
    EXPECT_EQ(siemens_uxd_codec(b.ws, CodecMode::read), ConversionStatus::too_many_points);
}

TEST(UxdRead, KeywordValueThatIsNoNumberIsReported) {
    Bench b;
    b.input("_SAMPLE='x'\r\n_START=ten\r\n_COUNTS\r\n", "/data/scan.uxd");
    b.memory_output();
    const auto result = run_conversion(b.ws, FormatId::siemens_uxd, FormatId::siemens_uxd);
    EXPECT_EQ(result.read_status, ConversionStatus::record_error);
    EXPECT_EQ(result.reason, "scan.uxd, line 2: the value of _START is not a number");
}

TEST(UxdRead, ReadErrorNamesTheLastLineRead) {
    Bench b;
    b.r().lines_read = 777;  // left by an earlier conversion
    b.input("_SAMPLE='x'\r\n_STEPCOUNT=16\r\n_COUNTS\r\n 1 2 3 4 5 6 7 8\r\n 9 bad\r\n");
    b.memory_output();
    run_conversion(b.ws, FormatId::siemens_uxd, FormatId::siemens_uxd);
    EXPECT_EQ(b.ui.last_failure(), "ERROR READING INPUT FILE AFTER LINE    4");
}

TEST(UxdRead, OneWavelengthClearsAlpha2) {
    Bench b;
    b.r().lambda2 = 1.54439f;  // from an earlier Cu dataset
    b.r().alpha_ratio = 0.5f;
    ASSERT_EQ(b.read(siemens_uxd_codec, "_WL1=1.30041\r\n_COUNTS\r\n"), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().lambda1, 1.30041f);
    EXPECT_EQ(b.r().lambda2, 0.0f);
    EXPECT_EQ(b.r().alpha_ratio, 0.0f);

    // A file that names no wavelength leaves all three as they are.
    b.r().lambda2 = 1.5f;
    ASSERT_EQ(b.read(siemens_uxd_codec, "_COUNTS\r\n"), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().lambda2, 1.5f);
}

// --- Writing ------------------------------------------------------------------------

void clear(PowderPattern& r) {
    r.lambda1 = r.lambda2 = r.alpha_ratio = 0.0f;
    r.two_theta_start = r.two_theta_end = r.two_theta_step = r.count_time = 0.0f;
    r.point_count = 0;
    r.set_title("");
    r.intensity.fill(0.0f);
}

void quartz(PowderPattern& r, int32_t n) {
    fill_scan(r, n, 10.0f, 0.02f);
    r.set_title("Quartz");
    r.lambda1 = 1.5406f;
    r.lambda2 = 0.0f;
    r.alpha_ratio = 0.0f;
    r.count_time = 1.0f;
}

TEST(UxdWrite, Header) {
    Bench b;
    quartz(b.r(), 1000);
    std::string text;
    b.ws.session().input_path = "C:\\DATA\\Q.RAW";
    ASSERT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::done);
    const auto lines = split_lines(text);
    const std::vector<std::string> head(lines.begin(), lines.begin() + 10);
    const std::vector<std::string> expected = {
        fixed_text(";  converted from C:\\DATA\\Q.RAW", 80),
        "_FILEVERSION=1",
        "_SAMPLE='Quartz'",
        "_WL1= 1.54060",
        "_DRIVE='COUPLED'",
        "_STEPTIME=  1.000",
        "_STEPSIZE= 0.0200",
        "_START= 10.000",
        "_STEPCOUNT= 1000",
        "_COUNTS",
    };
    EXPECT_EQ(head, expected);
    // 1000 points: 125 full lines, then one empty line.
    ASSERT_EQ(lines.size(), 10u + 125u + 1u);
    EXPECT_EQ(lines[134].size(), 64u);
    EXPECT_EQ(lines[135], "");
    EXPECT_TRUE(text.ends_with("\r\n"));
}

struct WriteCase {
    const char* name;
    void (*setup)(PowderPattern&);
    std::string path;
    std::vector<std::string> lines;  // each must be one of the written lines
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class UxdWriteLines : public ::testing::TestWithParam<WriteCase> {};

TEST_P(UxdWriteLines, WritesTheLines) {
    Bench b;
    quartz(b.r(), 20);
    GetParam().setup(b.r());
    b.ws.session().input_path = GetParam().path;
    std::string text;
    ASSERT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::done);
    const auto lines = split_lines(text);
    for (const auto& want : GetParam().lines)
        EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want << "\n" << text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UxdWriteLines,
    ::testing::Values(WriteCase{"path_with_blank",
                                [](PowderPattern&) {},
                                "C:\\My Data\\a.raw",
                                {fixed_text(";  converted from C:\\My ", 80)}},
                      WriteCase{
                          "long_path",
                          [](PowderPattern&) {},
                          "/archive/" + std::string(60, 'd') + "/a.raw",
                          {fixed_text(";  converted from /archive/" + std::string(53, 'd'), 80)}},
                      WriteCase{"title_whole",
                                [](PowderPattern& r) { r.set_title("Fe2O3   O'Neil"); },
                                "a.raw",
                                {"_SAMPLE='Fe2O3   O'Neil'"}},
                      WriteCase{"alpha2",
                                [](PowderPattern& r) {
                                    r.lambda2 = 1.54439f;
                                    r.alpha_ratio = 0.5f;
                                },
                                "a.raw",
                                {"_WL2= 1.54439", "_WLRATIO= 0.50000"}},
                      WriteCase{"fine_step",
                                [](PowderPattern& r) { r.two_theta_step = 0.00125f; },
                                "a.raw",
                                {"_STEPSIZE= 0.00125"}},
                      WriteCase{"six_decimal_step",
                                [](PowderPattern& r) { r.two_theta_step = 0.021811f; },
                                "a.raw",
                                {"_STEPSIZE= 0.021811"}},
                      WriteCase{"largest_dataset",
                                [](PowderPattern& r) { fill_scan(r, 100000, 5.0f, 0.001f); },
                                "a.raw",
                                {"_STEPCOUNT=100000", "_STEPSIZE= 0.0010"}}));

TEST(UxdWrite, LastLineOfAPartialRowHasNoEmptyLineAfterIt) {
    Bench b;
    quartz(b.r(), 1003);
    std::string text;
    ASSERT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::done);
    const auto lines = split_lines(text);
    EXPECT_EQ(lines.back().size(), 24u);
}

// Values wider than the fixed fields widen them: keyword lines take any width,
// and a line of counts with a wide one is separated by tabs. Each reads back.
TEST(UxdWrite, WideValuesWidenTheirFields) {
    struct Case {
        const char* name;
        void (*setup)(PowderPattern&);
        const char* line;  // a line of the output
    };
    const Case cases[] = {
        {"count", [](PowderPattern& r) { r.intensity(3) = 10000000.0f; }, "10000000."},
        {"start", [](PowderPattern& r) { r.two_theta_start = 1000.0f; }, "_START=1000.000"},
        {"step_time", [](PowderPattern& r) { r.count_time = 1000.0f; }, "_STEPTIME=1000.000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        quartz(b.r(), 20);
        c.setup(b.r());
        std::string text;
        ASSERT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::done);
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        Bench back;
        ASSERT_EQ(back.read(siemens_uxd_codec, text), ConversionStatus::done);
        EXPECT_EQ(back.r().two_theta_start, b.r().two_theta_start);
        EXPECT_EQ(back.r().count_time, b.r().count_time);
        for (int32_t i = 1; i <= 20; ++i) ASSERT_EQ(back.r().intensity(i), b.r().intensity(i)) << i;
    }
    // A value that is not a number is refused, naming it.
    Bench b;
    quartz(b.r(), 20);
    b.r().intensity(2) = std::numeric_limits<float>::quiet_NaN();
    std::string text;
    EXPECT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::too_large);
    EXPECT_NE(b.ws.failure_reason.find("not a number; UXD cannot hold it"), std::string::npos);
}

// --- Round trips ----------------------------------------------------------------------

struct RoundTripCase {
    const char* name;
    void (*setup)(PowderPattern&);
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class UxdRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(UxdRoundTrip, WriteReadWriteKeepsEverything) {
    Bench b;
    quartz(b.r(), 1000);
    GetParam().setup(b.r());
    const PowderPattern& r = b.r();
    const std::string title = r.title;
    const float lambda[3] = {r.lambda1, r.lambda2, r.alpha_ratio};
    const float start = r.two_theta_start, step = r.two_theta_step, time = r.count_time;
    const int32_t n = r.point_count;
    std::vector<float> counts(r.intensity.data(), r.intensity.data() + n);

    std::string first, second;
    b.ws.session().input_path = "scan.uxd";
    ASSERT_EQ(b.write(siemens_uxd_codec, first), ConversionStatus::done);
    clear(b.r());  // nothing may come from the record itself
    ASSERT_EQ(b.read(siemens_uxd_codec, first, "scan.uxd"), ConversionStatus::done);
    EXPECT_EQ(r.title, title);
    EXPECT_EQ(r.lambda1, lambda[0]);
    EXPECT_EQ(r.lambda2, lambda[1]);
    EXPECT_EQ(r.alpha_ratio, lambda[2]);
    EXPECT_EQ(r.two_theta_start, start);
    EXPECT_EQ(r.two_theta_step, step);
    EXPECT_EQ(r.count_time, time);
    ASSERT_EQ(r.point_count, n);
    EXPECT_TRUE(std::equal(counts.begin(), counts.end(), r.intensity.data()));
    ASSERT_EQ(b.write(siemens_uxd_codec, second), ConversionStatus::done);
    EXPECT_EQ(second, first);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, UxdRoundTrip,
    ::testing::Values(
        RoundTripCase{"plain", [](PowderPattern&) {}},
        RoundTripCase{"alpha2",
                      [](PowderPattern& r) {
                          r.lambda2 = 1.54439f;
                          r.alpha_ratio = 0.5f;
                      }},
        RoundTripCase{"partial_last_line",
                      [](PowderPattern& r) { fill_scan(r, 1003, 3.0f, 0.05f); }},
        RoundTripCase{"largest", [](PowderPattern& r) { fill_scan(r, 100000, 5.0f, 0.001f); }},
        RoundTripCase{"fine_step", [](PowderPattern& r) { fill_scan(r, 4000, 2.0f, 0.00125f); }},
        RoundTripCase{"six_decimal_step",
                      [](PowderPattern& r) { fill_scan(r, 3921, 4.5f, 0.021811f); }},
        RoundTripCase{"quarter_second", [](PowderPattern& r) { r.count_time = 0.25f; }},
        RoundTripCase{"full_title",
                      [](PowderPattern& r) {
                          r.set_title("'Quoted'   and  blanks " + std::string(40, '#'));
                      }},
        RoundTripCase{"single_point", [](PowderPattern& r) { fill_scan(r, 1, 10.0f, 0.02f); }},
        RoundTripCase{"zero_counts", [](PowderPattern& r) {
                          for (int i = 1; i <= r.point_count; ++i) r.intensity(i) = 0.0f;
                      }}));

// --- Files of other programs, and our files read by xyconv ---------------------------

TEST(UxdXyconv, ReadsOurFiles) {
    if (!have_xyconv()) GTEST_SKIP() << "xyconv absent";
    for (const auto& [n, step] : {std::pair{1003, 0.00125f}, std::pair{1000, 0.02f}}) {
        Bench b;
        quartz(b.r(), n);
        fill_scan(b.r(), n, 7.5f, step, 1000.0f);
        std::string text;
        ASSERT_EQ(b.write(siemens_uxd_codec, text), ConversionStatus::done);
        ScratchDir dir;
        write_file(dir / "ours.uxd", text);
        const auto block = xyconv_first_block(dir / "ours.uxd");
        ASSERT_TRUE(block.has_value());
        ASSERT_EQ(block->y.size(), static_cast<std::size_t>(n));
        for (int32_t i = 1; i <= n; ++i)
            ASSERT_EQ(block->y[i - 1], b.r().intensity(i)) << "point " << i;
        EXPECT_NEAR(block->x.back(), 7.5 + (n - 1) * static_cast<double>(step), 1e-4);
    }
}

// --- From end to end ------------------------------------------------------------------

TEST(UxdConversion, ToScintagArdEndsNotAvailableAfterTheRead) {
    Bench b;
    b.input("_SAMPLE='Quartz'\r\n_STEPSIZE=0.02\r\n_STEPCOUNT=2\r\n_COUNTS\r\n 1 2\r\n",
            "scan.uxd");
    b.memory_output();
    const auto result = run_conversion(b.ws, FormatId::siemens_uxd, FormatId::scintag_ard);
    EXPECT_EQ(result.read_status, ConversionStatus::done);
    EXPECT_EQ(b.ui.events(),
              (std::vector<std::string>{"dataset", "failure:THIS DATA FORMAT NOT YET AVAILABLE",
                                        "reset"}));
}

TEST(UxdConversion, ExampleIsOurWritersOutputAndConverts) {
    const std::filesystem::path example =
        std::filesystem::path(QELDA_SOURCE_DIR) / "examples/quartz.uxd";
    const std::string original = read_file(example);
    ASSERT_FALSE(original.empty());

    // Written again from what it holds, it comes out byte for byte.
    Bench b;
    ASSERT_EQ(b.read(siemens_uxd_codec, original), ConversionStatus::done);
    EXPECT_EQ(trim_right(b.r().title), "Quartz");
    b.ws.session().input_path = "quartz-scan.uxd";
    std::string again;
    ASSERT_EQ(b.write(siemens_uxd_codec, again), ConversionStatus::done);
    EXPECT_EQ(again, original);

    // The command line copies it: everything but the path comment survives.
    ScratchDir dir;
    const auto copy = dir / "quartz-copy.uxd";
    const std::string cmd = std::string("'") + QELDA_CONVERT_PATH + "' -q '" + example.string() +
                            "' '" + copy.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto a = split_lines(original), c = split_lines(read_file(copy));
    EXPECT_EQ(std::vector<std::string>(a.begin() + 1, a.end()),
              std::vector<std::string>(c.begin() + 1, c.end()));
}

}  // namespace
}  // namespace qelda
