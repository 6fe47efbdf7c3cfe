// GSAS CIF reader: the header scan, the wavelength loop, the intensity loop
// found by name, the refusals, then the real files (point counts and first and
// last intensities as xyconv reads the first data block).
#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// A data name with its value starting at `column` (GSAS writes column 40).
std::string item(const std::string& name, const std::string& value, std::size_t column = 40) {
    std::string line = name;
    line.resize(std::max(line.size() + 1, column - 1), ' ');
    return line + value + "\n";
}

std::string range(const std::string& min, const std::string& max, const std::string& inc,
                  std::size_t column = 40) {
    return item("_pd_meas_2theta_range_min", min, column) +
           item("_pd_meas_2theta_range_max", max, column) +
           item("_pd_meas_2theta_range_inc", inc, column);
}

const std::string kTitle = "data_test_publ\n_publ_section_title\n;Quartz standard\n;\n";
const std::string kWavelength = item("_diffrn_radiation_wavelength", "1.5406");
const std::string kGsasNames =
    "loop_\n"
    "      _pd_meas_intensity_total\n"
    "      _pd_proc_ls_weight\n"
    "      _pd_proc_intensity_bkg_calc\n"
    "      _pd_calc_intensity_total\n";
const std::string kGsasRows =
    "    29(8)         0.01632     32.5    0.0\n"
    "    39(8)         0.01403     32.5    0.0\n"
    "    36(8)         0.01465     32.4    0.0\n"
    "    22(7)         0.01845     32.4    0.0\n"
    "    51(10)        0.01004     48.7    2.1\n";
const std::string kFiveSteps = range("5.0", "5.4", "0.1");
const std::string kTrailer = "_pd_meas_number_of_points              5\n";

// A file as GSAS writes it: five points from 5.0 by 0.1.
std::string gsas_file(const std::string& header = kWavelength + kFiveSteps,
                      const std::string& loop = kGsasNames + kGsasRows) {
    return kTitle + "data_test_p_01\n" + header + "\n" + loop + kTrailer;
}

TEST(GsasCif, ReadsAFileAsGsasWritesIt) {
    Bench b;
    b.r().count_time = 7.0f;
    b.r().sigma(1) = 3.0f;
    ASSERT_EQ(b.read(gsas_cif_codec, gsas_file()), ConversionStatus::done);
    const PowderPattern& r = b.r();
    EXPECT_EQ(trim_right(r.title), "Quartz standard");
    EXPECT_FLOAT_EQ(r.lambda1, 1.5406f);
    EXPECT_FLOAT_EQ(r.lambda2, 0.0f);
    EXPECT_FLOAT_EQ(r.alpha_ratio, 0.0f);
    EXPECT_FLOAT_EQ(r.two_theta_start, 5.0f);
    EXPECT_FLOAT_EQ(r.two_theta_end, 5.4f);
    EXPECT_FLOAT_EQ(r.two_theta_step, 0.1f);
    EXPECT_FLOAT_EQ(r.count_time, 1.0f);
    ASSERT_EQ(r.point_count, 5);
    const float expected[] = {29, 39, 36, 22, 51};
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(r.intensity(i), expected[i - 1]) << i;
    EXPECT_EQ(r.sigma(1), 8.0f);  // the uncertainty in parentheses: 29(8)
}

// Files that read, and the five intensities they give.
struct ReadCase {
    const char* name;
    std::string content;
    float first;
    float last;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class CifReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CifReads, FiveIntensities) {
    const ReadCase& c = GetParam();
    Bench b;
    ASSERT_EQ(b.read(gsas_cif_codec, c.content), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().two_theta_start, 5.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.1f);
    ASSERT_EQ(b.r().point_count, 5);
    EXPECT_EQ(b.r().intensity(1), c.first);
    EXPECT_EQ(b.r().intensity(5), c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CifReads,
    ::testing::Values(
        ReadCase{"gsas_columns", gsas_file(), 29, 51},
        // Other programs put the value elsewhere on the line.
        ReadCase{"values_at_column_34", gsas_file(kWavelength + range("5.0", "5.4", "0.1", 34)), 29,
                 51},
        ReadCase{"values_with_uncertainty", gsas_file(range("5.00(1)", "5.40(1)", "0.1000(5)")), 29,
                 51},
        ReadCase{"value_past_column_60", gsas_file(range("5.0", "5.4", "0.1", 62)), 29, 51},
        ReadCase{"tabs_between_name_and_value",
                 gsas_file("_pd_meas_2theta_range_min\t5.0\n_pd_meas_2theta_range_max\t5.4\n"
                           "_pd_meas_2theta_range_inc\t0.1\n"),
                 29, 51},
        // The intensity column found by name, wherever it stands.
        ReadCase{"two_theta_column_first",
                 gsas_file(kFiveSteps,
                           "loop_\n _pd_meas_2theta_scan\n"
                           " _pd_meas_intensity_total\n"
                           "5.0 29(8)\n5.1 39(8)\n5.2 36(8)\n"
                           "5.3 22(7)\n5.4 51(10)\n"),
                 29, 51},
        ReadCase{"counts_total",
                 gsas_file(kFiveSteps,
                           "loop_\n _pd_proc_ls_weight\n _pd_meas_counts_total\n"
                           "0.1 29\n0.1 39\n0.1 36\n0.1 22\n0.1 51\n"),
                 29, 51},
        // A value without an uncertainty is read as it stands.
        ReadCase{"no_parentheses",
                 gsas_file(kFiveSteps,
                           "loop_\n _pd_meas_intensity_total\n"
                           "29.5\n39\n36\n22\n1.23456789E+05(3)\n"),
                 29.5f, 123456.789f},
        // Every data name of the loop is skipped, whatever its prefix.
        ReadCase{"calc_name_first",
                 gsas_file(kFiveSteps,
                           "loop_\n _pd_meas_intensity_total\n"
                           " _pd_calc_intensity_total\n _pd_proc_ls_weight\n"
                           "29(8) 1 2\n39(8) 1 2\n36(8) 1 2\n22(7) 1 2\n"
                           "51(10) 1 2\n"),
                 29, 51},
        // Loop values may run over several lines, with comments and blank lines.
        ReadCase{
            "packets_across_lines",
            gsas_file(kFiveSteps, kGsasNames + "29(8) 0.1\n 1 2 39(8) # comment\n 0.1 1 2\n\n"
                                               "36(8) 0.1 1 2 22(7) 0.1 1 2 51(10) 0.1 1 '2 3'\n"),
            29, 51},
        // A commented-out loop is not data; the real one after it is.
        ReadCase{"commented_loop_first",
                 gsas_file(kFiveSteps, "#loop_\n#      _pd_meas_intensity_total\n#  1(1)\n" +
                                           kGsasNames + kGsasRows),
                 29, 51}),
    [](const auto& info) { return std::string(info.param.name); });

// Files that are refused, with the status and the line the report names.
struct RefusalCase {
    const char* name;
    std::string content;
    ConversionStatus status;
    int lines_read;  // -1: not checked
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class CifRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CifRefusals, GiveTheirStatus) {
    const RefusalCase& c = GetParam();
    Bench b;
    // A usable range from an earlier conversion is never used.
    b.r().two_theta_start = 1.0f;
    b.r().two_theta_end = 2.0f;
    b.r().two_theta_step = 0.5f;
    EXPECT_EQ(b.read(gsas_cif_codec, c.content), c.status);
    if (c.lines_read >= 0) {
        EXPECT_EQ(b.r().lines_read, c.lines_read);
    }
}

// kTitle is four lines and "data_test_p_01" the fifth. A refusal for the range
// names the line of the intensity data name; one for a value names the line
// before the value's.
INSTANTIATE_TEST_SUITE_P(
    Files, CifRefusals,
    ::testing::Values(
        RefusalCase{"no_intensity_loop", kTitle + kWavelength + kFiveSteps,
                    ConversionStatus::not_available, 8},
        RefusalCase{"only_a_commented_loop",
                    gsas_file(kFiveSteps, "#loop_\n#      _pd_meas_intensity_total\n#  1(1)\n"),
                    ConversionStatus::not_available, -1},
        RefusalCase{"no_range", gsas_file(kWavelength), ConversionStatus::record_error, 9},
        RefusalCase{"no_step",
                    gsas_file(item("_pd_meas_2theta_range_min", "5.0") +
                              item("_pd_meas_2theta_range_max", "5.4")),
                    ConversionStatus::record_error, 10},
        RefusalCase{"zero_step", gsas_file(range("5.0", "5.4", "0.0")),
                    ConversionStatus::record_error, 11},
        RefusalCase{"end_below_start", gsas_file(range("5.4", "5.0", "0.1")),
                    ConversionStatus::record_error, 11},
        RefusalCase{"unknown_range", gsas_file(range("?", "?", "?")),
                    ConversionStatus::record_error, 11},
        // Data names are case-sensitive.
        RefusalCase{"only_capitals",
                    gsas_file("_PD_MEAS_2THETA_RANGE_MIN 5.0\n"
                              "_PD_MEAS_2THETA_RANGE_MAX 5.4\n"
                              "_PD_MEAS_2THETA_RANGE_INC 0.1\n"),
                    ConversionStatus::record_error, 11},
        // A name reaching past column 60 is not seen.
        RefusalCase{"name_past_column_60",
                    gsas_file(item("_pd_meas_2theta_range_min", "5.0") +
                              item("_pd_meas_2theta_range_max", "5.4") + std::string(40, ' ') +
                              "_pd_meas_2theta_range_inc 0.1\n"),
                    ConversionStatus::record_error, 11},
        // The range belongs to its data block.
        RefusalCase{"range_of_an_earlier_block",
                    kTitle + kFiveSteps + "data_test_p_02\n" + kGsasNames + kGsasRows,
                    ConversionStatus::record_error, 10},
        RefusalCase{"bad_range_value", gsas_file(range("5.0", "five", "0.1")),
                    ConversionStatus::record_error, 6},
        RefusalCase{"bad_intensity",
                    gsas_file(kFiveSteps, kGsasNames + "29(8) 1 2 3\n39(8) 1 2 3\nabc 1 2 3\n"),
                    ConversionStatus::record_error, 16},
        RefusalCase{"unknown_intensity",
                    gsas_file(kFiveSteps, kGsasNames + "29(8) 1 2 3\n? 1 2 3\n"),
                    ConversionStatus::record_error, 15},
        RefusalCase{"no_intensity_column",
                    gsas_file(kFiveSteps,
                              "loop_\n _pd_proc_intensity_total_x\n"
                              " _pd_meas_intensity_total_x\n1 2\n"),
                    ConversionStatus::record_error, -1},
        RefusalCase{"fewer_rows_then_a_name",
                    gsas_file(kFiveSteps, kGsasNames + "29(8) 1 2 3\n39(8) 1 2 3\n"),
                    ConversionStatus::record_error, -1},
        RefusalCase{"fewer_rows_then_a_loop",
                    gsas_file(kFiveSteps, kGsasNames + "29(8) 1 2 3\n39(8) 1 2 3\nloop_\n"),
                    ConversionStatus::record_error, -1},
        RefusalCase{"fewer_rows_then_the_end",
                    kTitle + kFiveSteps + kGsasNames + "29(8) 1 2 3\n39(8) 1 2 3\n",
                    ConversionStatus::premature_end, -1},
        RefusalCase{"half_a_last_packet",
                    kTitle + kFiveSteps + kGsasNames + "29(8) 1 2 3\n39(8) 1 2 3\n36(8) 1\n",
                    ConversionStatus::premature_end, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Other programs' loops, several blocks and time of flight, with their reasons.
struct VariantCase {
    const char* name;
    std::string content;
    int32_t scan;
    ConversionStatus status;
    int32_t points;            // on success
    float first, start, step;  // on success
    const char* phrase;        // in the reason, or on success in the warnings ("" for none)
};

void PrintTo(const VariantCase& c, std::ostream* os) {
    *os << c.name;
}

class CifVariants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(CifVariants, ReadOrRefuseWithReason) {
    const VariantCase& c = GetParam();
    Bench b;
    b.ws.options.scan = c.scan;
    if (!b.read_as_expected(gsas_cif_codec, c.content, "scan.cif", c.status, c.phrase)) return;
    EXPECT_EQ(b.r().point_count, c.points);
    EXPECT_EQ(b.r().intensity(1), c.first);
    EXPECT_FLOAT_EQ(b.r().two_theta_start, c.start);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, c.step);
}

const std::string kThreeRows = "10 1\n20 2\n30 3\n";
std::string block(const std::string& name, const std::string& header, const std::string& loop) {
    return "data_" + name + "\n" + header + loop;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CifVariants,
    ::testing::Values(
        VariantCase{
            "cif2_measured",
            block("a",
                  "_pd_meas.2theta_range_min 5.0\n_pd_meas.2theta_range_max 5.2\n"
                  "_pd_meas.2theta_range_inc 0.1\n",
                  "loop_\n\t_pd_meas.intensity_total\n\t_pd_calc.intensity_total\n" + kThreeRows),
            1, ConversionStatus::done, 3, 10, 5.0f, 0.1f, ""},
        VariantCase{
            "counts_total",
            block("a", range("5.0", "5.2", "0.1"),
                  "loop_\n _pd_meas_counts_total\n _pd_calc_intensity_total\n" + kThreeRows),
            1, ConversionStatus::done, 3, 10, 5.0f, 0.1f, ""},
        VariantCase{
            "processed_only",
            block("a", range("5.0", "5.2", "0.1"),
                  "loop_\n _pd_proc_intensity_total\n _pd_calc_intensity_total\n" + kThreeRows),
            1, ConversionStatus::done, 3, 10, 5.0f, 0.1f, "intensities are processed"},
        VariantCase{
            "time_of_flight",
            block("a", "",
                  "loop_ _pd_meas_time_of_flight\n _pd_meas_intensity_total\n" + kThreeRows),
            1, ConversionStatus::not_available, 0, 0, 0, 0,
            "time-of-flight data (_pd_meas_time_of_flight)"},
        VariantCase{"no_intensity_loop", block("a", range("5.0", "5.2", "0.1"), ""), 1,
                    ConversionStatus::not_available, 0, 0, 0, 0, "has no loop of"},
        VariantCase{
            "two_blocks",
            block("a", range("5.0", "5.2", "0.1"), kGsasNames + kGsasRows.substr(0, 126)) +
                block("b", range("7.0", "7.1", "0.1"), kGsasNames + "5(1) 0 0 0\n6(1) 0 0 0\n"),
            1, ConversionStatus::done, 3, 29, 5.0f, 0.1f,
            "holds 2 powder data blocks; block 1 converted"},
        VariantCase{
            "two_blocks_second",
            block("a", range("5.0", "5.2", "0.1"), kGsasNames + kGsasRows.substr(0, 126)) +
                block("b", range("7.0", "7.1", "0.1"), kGsasNames + "5(1) 0 0 0\n6(1) 0 0 0\n"),
            2, ConversionStatus::done, 2, 5, 7.0f, 0.1f,
            "holds 2 powder data blocks; block 2 converted"},
        VariantCase{"no_such_block",
                    block("a", range("5.0", "5.2", "0.1"), kGsasNames + kGsasRows.substr(0, 126)),
                    2, ConversionStatus::not_available, 0, 0, 0, 0, "there is no block 2"},
        VariantCase{"angle_column_without_range",
                    block("a", "",
                          "loop_\n\t_pd_meas_2theta_scan\n\t_pd_meas_intensity_total\n"
                          "10.000 5\n10.014 6\n10.029 7\n10.043 8\n"),
                    1, ConversionStatus::done, 4, 5, 10.0f, 0.014333333f, ""},
        VariantCase{"angle_column_half_a_step_off",
                    block("a", "",
                          "loop_\n\t_pd_meas_2theta_scan\n\t_pd_meas_intensity_total\n"
                          "10.00 5\n10.15 6\n10.20 7\n10.30 8\n"),
                    1, ConversionStatus::done, 4, 5, 10.0f, 0.1f,
                    "point 2 of the intensity loop: 2theta 10.15 is the first angle off one even "
                    "grid; every angle is kept as stated"},
        VariantCase{"angle_column_off_the_range",
                    block("a", range("5.0", "5.2", "0.1"),
                          "loop_\n_pd_meas_2theta_scan\n_pd_meas_intensity_total\n"
                          "5.0 1\n5.1 2\n5.3 3\n"),
                    1, ConversionStatus::record_error, 0, 0, 0, 0,
                    "2theta 5.3 is off the even grid"},
        // CIF 2.0 lists and tables: skipped in columns the reader does not use,
        // across lines, nested, with brackets in quoted strings and text fields.
        VariantCase{"cif2_list_in_an_unused_column",
                    block("a", range("5.0", "5.2", "0.1"),
                          "loop_\n _pd_meas.intensity_total\n _pd_proc.ls_weight\n"
                          "10 [1 2]\n20 [ 3 '4]' ]\n30 {'a':[5 6] \"b\":'''x]'''}\n"),
                    1, ConversionStatus::done, 3, 10, 5.0f, 0.1f, ""},
        VariantCase{"cif2_list_across_lines",
                    block("a", range("5.0", "5.2", "0.1"),
                          "loop_\n _pd_proc.ls_weight\n _pd_meas.intensity_total\n"
                          "[1\n 2 # a ] comment\n 3] 10\n[\n;\ntext ] field\n;\n] 20\n"
                          "[[1] [2]] 30\n_pd_meas_number_of_points 3\n"),
                    1, ConversionStatus::done, 3, 10, 5.0f, 0.1f, ""},
        VariantCase{"cif2_list_in_the_intensity_column",
                    block("a", range("5.0", "5.2", "0.1"),
                          "loop_\n _pd_meas.intensity_total\n _pd_proc.ls_weight\n"
                          "10 1\n[20 21] 2\n30 3\n"),
                    1, ConversionStatus::record_error, 0, 0, 0, 0,
                    "line 9: a CIF 2.0 list stands where a number is needed (column "
                    "_pd_meas.intensity_total)"},
        VariantCase{"cif2_table_in_the_angle_column",
                    block("a", "",
                          "loop_\n_pd_meas.2theta_scan\n_pd_meas.intensity_total\n"
                          "5.0 1\n{'v':5.1} 2\n"),
                    1, ConversionStatus::record_error, 0, 0, 0, 0,
                    "a CIF 2.0 table stands where a number is needed"},
        VariantCase{"cif2_list_never_closed",
                    block("a", range("5.0", "5.2", "0.1"),
                          "loop_\n _pd_meas.intensity_total\n _pd_proc.ls_weight\n"
                          "10 1\n20 2\n30 [3\n"),
                    1, ConversionStatus::premature_end, 0, 0, 0, 0, "ends within the last row"},
        VariantCase{"more_rows_than_the_range",
                    block("a", range("5.0", "5.1", "0.1"),
                          "loop_\n _pd_meas_intensity_total\n10\n20\n30\n40\n"),
                    1, ConversionStatus::done, 2, 10, 5.0f, 0.1f, "the last 2 were left out"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GsasCif, PointCountKeepsTheLastPoint) {
    // 5 to 100 by 0.05: 1901 points, although the single-precision quotient
    // falls just short of 1900.
    std::string rows;
    for (int i = 1; i <= 1901; ++i) rows += std::to_string(i) + "(1)\n";
    Bench b;
    ASSERT_EQ(b.read(gsas_cif_codec, gsas_file(range("5.0", "100.0", "0.05"),
                                               "loop_\n _pd_meas_intensity_total\n" + rows)),
              ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, 1901);
    EXPECT_EQ(b.r().intensity(1901), 1901.0f);
}

TEST(GsasCif, TooManyPointsIsThePointCount) {
    Bench b;
    ASSERT_EQ(b.read(gsas_cif_codec, gsas_file(range("0.0", "100000.0", "1.0"))),
              ConversionStatus::too_many_points);
    EXPECT_EQ(b.r().point_count, 100001);
}

// Wavelength items in place of the single one; the record starts from 9s so
// that untouched fields show.
struct WavelengthCase {
    const char* name;
    std::string items;
    float lambda1;
    float lambda2;
    float ratio;
};

void PrintTo(const WavelengthCase& c, std::ostream* os) {
    *os << c.name;
}

class CifWavelengths : public ::testing::TestWithParam<WavelengthCase> {};

TEST_P(CifWavelengths, Read) {
    const WavelengthCase& c = GetParam();
    Bench b;
    b.r().lambda1 = b.r().lambda2 = b.r().alpha_ratio = 9.0f;
    ASSERT_EQ(b.read(gsas_cif_codec, gsas_file(c.items + kFiveSteps)), ConversionStatus::done);
    EXPECT_FLOAT_EQ(b.r().lambda1, c.lambda1);
    EXPECT_FLOAT_EQ(b.r().lambda2, c.lambda2);
    EXPECT_FLOAT_EQ(b.r().alpha_ratio, c.ratio);
    EXPECT_EQ(b.r().point_count, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Items, CifWavelengths,
    ::testing::Values(
        WavelengthCase{"single", kWavelength, 1.5406f, 0.0f, 0.0f},
        WavelengthCase{"single_at_column_30", item("_diffrn_radiation_wavelength", "1.5406(1)", 30),
                       1.5406f, 0.0f, 0.0f},
        WavelengthCase{"loop_with_weights",
                       "loop_ _diffrn_radiation_wavelength\n"
                       "      _diffrn_radiation_wavelength_wt\n"
                       "      _diffrn_radiation_type\n"
                       "      _diffrn_radiation_wavelength_id\n"
                       "                      1.5406    1.0       K\\a~1~ 1\n"
                       "                      1.5444    0.5       K\\a~2~ 2\n",
                       1.5406f, 1.5444f, 0.5f},
        WavelengthCase{"weight_of_the_second_line",
                       "loop_ _diffrn_radiation_wavelength\n"
                       "      _diffrn_radiation_wavelength_wt\n"
                       "  1.5406 1.0\n  1.5444 0.25\n",
                       1.5406f, 1.5444f, 0.25f},
        WavelengthCase{"loop_without_weights",
                       "loop_ _diffrn_radiation_wavelength\n"
                       "      _diffrn_radiation_wavelength_id\n"
                       "  1.5406 1\n  1.5444 2\n",
                       1.5406f, 1.5444f, 0.5f},
        WavelengthCase{"loop_of_one_line",
                       "loop_ _diffrn_radiation_wavelength\n"
                       "      _diffrn_radiation_wavelength_wt\n"
                       "  1.5406 1.0\n",
                       1.5406f, 0.0f, 0.0f},
        // "loop_" on a line of its own, the wavelength not the first name.
        WavelengthCase{"names_after_loop_line",
                       "loop_\n"
                       "\t_diffrn_radiation_wavelength_id\n"
                       "\t_diffrn_radiation_type\n"
                       "\t_diffrn_radiation_wavelength\n"
                       "\t_diffrn_radiation_wavelength_wt\n"
                       "  1 'Cu K\\a~1~'  1.540500(5)  1.0\n"
                       "  2 'Cu K\\a~2~'  1.544300(5)  0.5\n",
                       1.5405f, 1.5443f, 0.5f},
        // Other names that begin like the wavelength's are not it.
        WavelengthCase{"longer_names", "_diffrn_radiation_wavelength_id 1\n", 9.0f, 9.0f, 9.0f},
        WavelengthCase{"cif2_single", "_diffrn_radiation_wavelength.value 1.5\n", 1.5f, 0.0f, 0.0f},
        WavelengthCase{"cif2_loop",
                       "loop_\n_diffrn_radiation_wavelength.id\n"
                       "_diffrn_radiation_wavelength.value\n0 1.5405\n1 1.5443\n",
                       1.5405f, 1.5443f, 0.5f},
        // An emission profile: the two heaviest lines are alpha1 and alpha2.
        WavelengthCase{"cif2_five_line_profile",
                       "loop_\n_diffrn_radiation_wavelength.id\n_diffrn_radiation_wavelength.wt\n"
                       "_diffrn_radiation_wavelength.value\n0 0.5691 1.5405960\n"
                       "1 0.0159 1.5347530\n2 0.0762 1.5410580\n3 0.2517 1.5444100\n"
                       "4 0.0871 1.5447210\n",
                       1.540596f, 1.54441f, 0.2517f / 0.5691f},
        WavelengthCase{"unknown", item("_diffrn_radiation_wavelength", "?"), 9.0f, 9.0f, 9.0f}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GsasCif, TitleLines) {
    struct Case {
        std::string after_name;
        const char* title;
    };
    const Case cases[] = {
        {";Quartz standard\n;\n", "Quartz standard"},
        // The first character is always dropped.
        {"xQuartz\n", "Quartz"},
        {std::string(";") + std::string(70, 'a') + "\n", ""},
        // A text field that opens on a line of its own.
        {";\n  Comprehensive study\n;\n", "Comprehensive study"},
    };
    for (const Case& c : cases) {
        Bench b;
        ASSERT_EQ(b.read(gsas_cif_codec, "_publ_section_title\n" + c.after_name +
                                             gsas_file().substr(kTitle.size())),
                  ConversionStatus::done);
        if (std::string_view(c.title).empty()) {
            EXPECT_EQ(b.r().title, std::string(59, 'a') + " ");
        } else {
            EXPECT_EQ(trim_right(b.r().title), c.title);
        }
    }
}

}  // namespace
}  // namespace qelda
