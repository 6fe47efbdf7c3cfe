// The GSAS constant-wavelength codec: the BANK record in its real spellings, the
// plain and ESD records, the writer's records and uncertainties, and the real
// files in the sample folder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/driver.h"
#include "formats/codecs.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::fill_scan;
using testing::lines_of;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// A file of a title, a BANK record and data records, with CR LF line ends.
std::string gsas_file(const std::string& bank, const std::vector<std::string>& records,
                      const std::string& title = "Quartz") {
    std::string out = title + "\r\n" + bank + "\r\n";
    for (const auto& rec : records) out += rec + "\r\n";
    return out;
}

const std::string kPlain12a =
    " 1   220 1   214 1   219 1   224 1   198 1   229 1   224 1   216 1   202 1   229";
const std::string kPlain12b =
    " 1   202 1   215       0       0       0       0       0       0       0       0";
const std::string kEsd1 =
    "   100.0    10.0   200.0    14.1   300.0    17.3   400.0    20.0   500.0    22.4";

struct ReadCase {
    const char* name;
    std::string content;
    ConversionStatus status;
    int32_t lines_read;  // checked when >= 0
    int32_t points;      // checked on success
    bool prompted;       // the wavelength prompt was shown
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class GsasRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(GsasRead, StatusLinesAndPoints) {
    const ReadCase& c = GetParam();
    Bench b;
    b.r().lines_read = -7;
    EXPECT_EQ(b.read(gsas_codec, c.content), c.status);
    if (c.lines_read >= 0) {
        EXPECT_EQ(b.r().lines_read, c.lines_read);
    }
    if (c.status == ConversionStatus::done) {
        EXPECT_EQ(b.r().point_count, c.points);
    }
    const bool prompted = !b.ui.events().empty() && b.ui.events().front() == "wavelength";
    EXPECT_EQ(prompted, c.prompted);
}

INSTANTIATE_TEST_SUITE_P(
    Bank, GsasRead,
    ::testing::Values(
        // Spacings of real files: single blanks, and wide fields after "BANK  1".
        ReadCase{"single_blanks", gsas_file("BANK 1 12 2 CONST 1000 5 0 0", {kPlain12a, kPlain12b}),
                 ConversionStatus::done, 4, 12, true},
        ReadCase{"wide_fields",
                 gsas_file("BANK  1       12       2 CONST    1000.00      5.00 0 0 STD",
                           {kPlain12a, kPlain12b}),
                 ConversionStatus::done, 4, 12, true},
        ReadCase{"lower_case", gsas_file("bank 1 5 1 const 1000 5 0 0 esd", {kEsd1}),
                 ConversionStatus::done, 3, 5, true},
        ReadCase{"mixed_case", gsas_file("Bank 1 5 1 Const 1000 5 0 0 Esd", {kEsd1}),
                 ConversionStatus::done, 3, 5, true},
        ReadCase{"no_const", gsas_file("BANK 1 2720 680 RALF 82585. 66. 82585. 0.00080 ALT", {}),
                 ConversionStatus::not_available, 2, 0, false},
        ReadCase{
            "record_before_bank",
            gsas_file("# constant wavelength, see below", {"BANK 1 5 1 CONST 1000 5 ESD", kEsd1}),
            ConversionStatus::done, 4, 5, true},
        ReadCase{"const_with_alt_form", gsas_file("BANK 1 5 2 CONST 1000 5 0 0 ALT", {}),
                 ConversionStatus::not_available, 2, 0, false},
        ReadCase{"nothing_after_const", gsas_file("BANK 1 5 1 CONST", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"one_number_after_const", gsas_file("BANK 1 5 1 CONST 1000", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"step_not_a_number", gsas_file("BANK 1 5 1 CONST 1000 x5 ESD", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"record_count_missing", gsas_file("BANK 1 5 CONST 1000 5 0 0 ESD", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"point_count_not_a_number", gsas_file("BANK 1 5a 1 CONST 1000 5 ESD", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"negative_point_count", gsas_file("BANK 1 -5 1 CONST 1000 5 ESD", {kEsd1}),
                 ConversionStatus::record_error, 2, 0, false},
        // Three records cannot hold 20 pairs: the last points would be stale values.
        ReadCase{"records_too_few", gsas_file("BANK 1 20 3 CONST 1000 5 ESD", {}),
                 ConversionStatus::record_error, 2, 0, false},
        ReadCase{"max_points", gsas_file("BANK 1 100000 20000 CONST 1000 5 ESD", {}),
                 ConversionStatus::premature_end, 2, 0, true},
        ReadCase{"max_points_plus_one", gsas_file("BANK 1 100001 20001 CONST 1000 5 ESD", {}),
                 ConversionStatus::too_many_points, 2, 0, false},
        ReadCase{"points_beyond_64_bits",
                 gsas_file("BANK 1 99999999999999999999999 2 CONST 1000 5 ESD", {}),
                 ConversionStatus::too_many_points, 2, 0, false},
        ReadCase{"zero_points", gsas_file("BANK 1 0 0 CONST 1000 5 ESD", {}),
                 ConversionStatus::done, 2, 0, true},
        ReadCase{"empty_file", "", ConversionStatus::premature_end, 0, 0, false},
        ReadCase{"title_only", "Quartz\r\n", ConversionStatus::not_available, 1, 0, false},
        ReadCase{"data_ends_early", gsas_file("BANK 1 12 3 CONST 1000 5 ESD", {kEsd1, kEsd1}),
                 ConversionStatus::premature_end, 4, 0, true},
        ReadCase{"letter_in_data",
                 gsas_file("BANK 1 12 3 CONST 1000 5 ESD", {kEsd1, "   100.0    1O.0"}),
                 ConversionStatus::record_error, 3, 0, true},
        ReadCase{"letter_in_counter",
                 gsas_file("BANK 1 12 2 CONST 1000 5", {kPlain12a, " x   202"}),
                 ConversionStatus::record_error, 3, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Plain records holding the counts 1, 2, ... n, with counter number 1.
std::vector<std::string> counting_records(int32_t n) {
    std::vector<std::string> out;
    for (int32_t first = 1; first <= n; first += 10) {
        std::string rec;
        for (int32_t i = first; i < first + 10; ++i) {
            const std::string count = std::to_string(i <= n ? i : 0);
            rec += " 1" + std::string(6 - count.size(), ' ') + count;
        }
        out.push_back(rec);
    }
    return out;
}

// Six-column windows would read 12919 points and 19292 records from the first
// spelling, and 3576 records from the second.
TEST(GsasRead, BankSpacingsOfRealFiles) {
    struct Case {
        const char* bank;
        int32_t points;
    };
    for (const Case& c : {Case{"BANK 1 2919 292 CONST 1000 5 0 0", 2919},
                          Case{"BANK 1  5753  576 CONST 1500 2 0 0 STD", 5753},
                          Case{"BANK  1    16001    1601 CONST     600.00      0.20 0 0", 16001}}) {
        Bench b;
        ASSERT_EQ(b.read(gsas_codec, gsas_file(c.bank, counting_records(c.points))),
                  ConversionStatus::done)
            << c.bank;
        EXPECT_EQ(b.r().point_count, c.points);
        EXPECT_EQ(b.r().lines_read, 2 + (c.points + 9) / 10);
        EXPECT_EQ(b.r().intensity(1), 1.0f);
        EXPECT_EQ(b.r().intensity(c.points), static_cast<float>(c.points));
    }
}

TEST(GsasRead, BankNumbersAndEnd) {
    Bench b;
    ASSERT_EQ(b.read(gsas_codec, gsas_file("BANK 1 12 2 CONST 1000 5 0 0", {kPlain12a, kPlain12b})),
              ConversionStatus::done);
    EXPECT_EQ(trim_right(b.r().title), "Quartz");
    EXPECT_EQ(b.r().two_theta_start, 10.0f);
    EXPECT_EQ(b.r().two_theta_step, 0.05f);
    EXPECT_EQ(b.r().two_theta_end, 10.55f);
    EXPECT_EQ(b.r().count_time, 0.0f);
    EXPECT_EQ(b.r().lambda1, 1.5405f);
}

// The variants of real files: lines before the BANK record, other binnings and
// data forms, several banks, and counts that disagree with the BANK record.
struct VariantCase {
    const char* name;
    std::string content;
    int32_t scan;
    ConversionStatus status;
    int32_t points;      // on success
    float last, sigma;   // intensity and sigma of the last point, on success
    const char* phrase;  // in the reason, or on success in the warnings ("" for none)
};

void PrintTo(const VariantCase& c, std::ostream* os) {
    *os << c.name;
}

class GsasVariants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(GsasVariants, ReadOrRefuseWithReason) {
    const VariantCase& c = GetParam();
    Bench b;
    b.ws.options.scan = c.scan;
    if (!b.read_as_expected(gsas_codec, c.content, "scan.gsa", c.status, c.phrase)) return;
    EXPECT_EQ(b.r().point_count, c.points);
    EXPECT_EQ(b.r().intensity(c.points), c.last);
    EXPECT_EQ(b.r().sigma(c.points), c.sigma);
}

const std::string kFxyeBank = "BANK 1 3 3 CONS 1000.0 5.0 0 0 FXYE";

INSTANTIATE_TEST_SUITE_P(
    Files, GsasVariants,
    ::testing::Values(
        VariantCase{"instrument_parameter_line",
                    gsas_file("Instrument parameter file:bt1demo.ins",
                              {"BANK  1 5 1 CONST 300.00 5.00 0 0 ESD", kEsd1}),
                    1, ConversionStatus::done, 5, 500, 22.4f, ""},
        VariantCase{"comments_and_time_map_before_bank",
                    gsas_file("# a comment",
                              {"TIME_MAP 1 7 1 0 2 1 4", "BANK 1 5 1 CONST 1000 5 ESD", kEsd1}),
                    1, ConversionStatus::done, 5, 500, 22.4f, ""},
        VariantCase{"no_bank_record", gsas_file("# only comments", {"    100.0"}), 1,
                    ConversionStatus::not_available, 0, 0, 0, "has no BANK record"},
        VariantCase{"time_map", gsas_file("BANK 1 7550 755 TIME_MAP 1 STD 00000000", {}), 1,
                    ConversionStatus::not_available, 0, 0, 0, "time-of-flight data (TIME_MAP"},
        VariantCase{"ralf", gsas_file("BANK 1 2720 680 RALF 82585. 66. 82585. 0.0008 ALT", {}), 1,
                    ConversionStatus::not_available, 0, 0, 0, "time-of-flight data (RALF"},
        VariantCase{"slog", gsas_file("BANK 1 100 20 SLOG 1000 20000 0.001 0 FXYE", {}), 1,
                    ConversionStatus::not_available, 0, 0, 0, "time-of-flight data (SLOG"},
        VariantCase{"alt_under_const", gsas_file("BANK 1 5 2 CONST 1000 5 0 0 ALT", {}), 1,
                    ConversionStatus::not_available, 0, 0, 0, "ALT form"},
        VariantCase{"fxye",
                    gsas_file(kFxyeBank, {"1000.0 10 1.5", " 1005.0  20  2.5", "1010.0 30 3.5"}), 1,
                    ConversionStatus::done, 3, 30, 3.5f, ""},
        VariantCase{"fxy",
                    gsas_file("BANK 1 3 3 CONST 1000 5 0 0 FXY", {"1000 10", "1005 20", "1010 30"}),
                    1, ConversionStatus::done, 3, 30, 0, ""},
        VariantCase{"fxye_half_step_off",
                    gsas_file(kFxyeBank, {"1000.0 10 1", "1007.5 20 2", "1010.0 30 3"}), 1,
                    ConversionStatus::done, 3, 30, 3,
                    "line 4: 2theta 10.075 is the first angle off one even grid"},
        VariantCase{"fxye_rounded_angles",
                    gsas_file("BANK 1 3 3 CONS 1000.0 3.3333 0 0 FXYE",
                              {"1000.0 10 1", "1003.3 20 2", "1006.7 30 3"}),
                    1, ConversionStatus::done, 3, 30, 3, ""},
        VariantCase{"fxye_rows_fewer", gsas_file(kFxyeBank, {"1000.0 10 1", "1005.0 20 2"}), 1,
                    ConversionStatus::premature_end, 0, 0, 0, "with 2 of the 3 points"},
        VariantCase{"fxye_row_without_esd", gsas_file(kFxyeBank, {"1000.0 10 1", "1005.0 20"}), 1,
                    ConversionStatus::record_error, 0, 0, 0, "line 4: the line holds 2 values"},
        VariantCase{"fxye_not_a_number", gsas_file(kFxyeBank, {"1000.0 10 1", "1005.0 NaN 2"}), 1,
                    ConversionStatus::record_error, 0, 0, 0, "'NaN' is not a number"},
        VariantCase{
            "fxye_rows_more",
            gsas_file(kFxyeBank, {"1000.0 10 1", "1005.0 20 2", "1010.0 30 3", "1015.0 40 4"}), 1,
            ConversionStatus::done, 3, 30, 3, "more data than the BANK record announces"},
        VariantCase{"esd_record_short",
                    gsas_file("BANK 1 10 2 CONST 1000 5 ESD", {kEsd1, "   100.0    10.0"}), 1,
                    ConversionStatus::record_error, 0, 0, 0, "holds 2 of the 10 values"},
        VariantCase{
            "two_banks_first",
            gsas_file("BANK 1 5 1 CONST 1000 5 ESD", {kEsd1, "BANK 2 3 3 CONS 1000 5 0 0 FXYE",
                                                      "1000 1 1", "1005 2 1", "1010 3 1"}),
            1, ConversionStatus::done, 5, 500, 22.4f, "holds 2 banks; bank 1 converted"},
        VariantCase{
            "two_banks_second",
            gsas_file("BANK 1 5 1 CONST 1000 5 ESD", {kEsd1, "BANK 2 3 3 CONS 1000 5 0 0 FXYE",
                                                      "1000 1 1", "1005 2 1", "1010 3 1"}),
            2, ConversionStatus::done, 3, 3, 1, "holds 2 banks; bank 2 converted"},
        VariantCase{"no_such_bank", gsas_file("BANK 1 5 1 CONST 1000 5 ESD", {kEsd1}), 2,
                    ConversionStatus::not_available, 0, 0, 0, "holds 1 bank; there is no bank 2"},
        VariantCase{"descending", gsas_file("BANK 1 5 1 CONST 1000 -5 ESD", {kEsd1}), 1,
                    ConversionStatus::done, 5, 500, 22.4f, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Plain fields are a counter number in two columns and a count in six: " 1   220".
TEST(GsasRead, PlainCountsWithoutCounterNumbers) {
    Bench b;
    b.r().sigma(1) = 42.0f;
    b.r().intensity(13) = 77.0f;
    ASSERT_EQ(b.read(gsas_codec, gsas_file("BANK 1 12 2 CONST 1000 5 0 0",
                                           {kPlain12a, " 3  1.5 3   215     7.5 0   200"})),
              ConversionStatus::done);
    const float expected[] = {220, 214, 219, 224, 198, 229, 224, 216, 202, 229, 1.5f, 215};
    for (int32_t i = 1; i <= 12; ++i) EXPECT_EQ(b.r().intensity(i), expected[i - 1]) << i;
    // The last record's values past the last point are stored too; sigma is untouched.
    EXPECT_EQ(b.r().intensity(13), 7.5f);
    EXPECT_EQ(b.r().intensity(14), 200.0f);
    EXPECT_EQ(b.r().sigma(1), 42.0f);
}

// The writer's records: 80 characters each, title, BANK and pairs padded with zeros.
TEST(GsasWrite, RecordsForTenAndTwelvePoints) {
    struct Case {
        int32_t n;
        std::size_t records;
        std::string bank, last;
    };
    const std::string zero_pair = "      0.    0.00";
    const std::string bank_end = "  CONST    500.00000   2.00000 0.0 0.0 ESD         ";
    for (const Case& c :
         {Case{10, 3, "BANK  1          10         3" + bank_end,
               zero_pair + zero_pair + zero_pair + zero_pair + zero_pair},
          Case{12, 3, "BANK  1          12         3" + bank_end,
               "    111.   10.54    112.   10.58" + zero_pair + zero_pair + zero_pair}}) {
        Bench b;
        fill_scan(b.r(), c.n, 5.0f, 0.02f);
        b.r().set_title("Quartz SRM 1878b");
        // Values left past the last point by an earlier dataset are not written.
        for (int32_t i = c.n + 1; i <= 15; ++i) b.r().intensity(i) = b.r().sigma(i) = 999.0f;
        std::string written;
        ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
        const auto lines = lines_of(written);
        ASSERT_EQ(lines.size(), 2 + c.records) << c.n;
        for (const auto& line : lines) EXPECT_EQ(line.size(), 80u) << line;
        EXPECT_EQ(lines[0], "   Quartz SRM 1878b" + std::string(61, ' '));
        EXPECT_EQ(lines[1], c.bank);
        EXPECT_EQ(lines[2].substr(0, 16), "    101.   10.05");
        EXPECT_EQ(lines.back(), c.last) << c.n;
        EXPECT_EQ(b.ui.events(), std::vector<std::string>{"slit"});
    }
}

// Written and read back: counts, uncertainties, start, step and point count.
TEST(GsasWrite, RoundTrip) {
    for (const int32_t n : {1, 5, 10, 12, 2459}) {
        Bench b;
        fill_scan(b.r(), n, 2.025f, 0.05f);
        // A title that fills all 60 columns keeps every character.
        b.r().set_title("Quartz 0.3 mm capillary, Cu Ka1, 40 kV 40 mA, 2 s/step, run 7");
        for (int32_t i = 1; i <= n; ++i)
            b.r().sigma(i) = static_cast<float>(i % 500) / 4.0f + 0.25f;
        std::string written;
        ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
        Bench back;
        ASSERT_EQ(back.read(gsas_codec, written), ConversionStatus::done) << n;
        EXPECT_EQ(back.r().title, b.r().title);
        EXPECT_EQ(back.r().point_count, n);
        EXPECT_EQ(back.r().two_theta_start, 2.025f);
        EXPECT_EQ(back.r().two_theta_step, 0.05f);
        EXPECT_EQ(back.r().lines_read, 2 + n / 5 + 1);
        for (int32_t i = 1; i <= n; ++i) {
            ASSERT_EQ(back.r().intensity(i), b.r().intensity(i)) << n << " " << i;
            ASSERT_EQ(back.r().sigma(i), b.r().sigma(i)) << n << " " << i;
        }
    }
}

// 100000 points: 20001 records with room for 100005 values; the five past the
// last point are neither written from nor read into anything past the arrays.
TEST(GsasWrite, FullArraysRoundTrip) {
    Bench b;
    fill_scan(b.r(), kPointCapacity, 5.0f, 0.001f);
    for (int32_t i = 1; i <= kPointCapacity; ++i)
        b.r().sigma(i) = static_cast<float>(i % 1000) / 4.0f + 1.0f;
    std::string written;
    ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
    const auto lines = lines_of(written);
    ASSERT_EQ(lines.size(), 2u + 20001u);
    EXPECT_EQ(lines[1].substr(0, 29), "BANK  1      100000     20001");
    std::string padding;
    for (int k = 0; k < 5; ++k) padding += "      0.    0.00";
    EXPECT_EQ(lines.back(), padding);
    Bench back;
    ASSERT_EQ(back.read(gsas_codec, written), ConversionStatus::done);
    EXPECT_EQ(back.r().point_count, kPointCapacity);
    EXPECT_EQ(back.r().lines_read, 2 + 20001);
    for (int32_t i = 1; i <= kPointCapacity; ++i) {
        ASSERT_EQ(back.r().intensity(i), b.r().intensity(i)) << i;
        ASSERT_EQ(back.r().sigma(i), b.r().sigma(i)) << i;
    }
}

// The uncertainty written beside each count: sigma when >= 0.001, else the square
// root of a count above 0.001, else 1. Counts that are not whole keep the
// decimals they need.
TEST(GsasWrite, UncertaintyRules) {
    struct Case {
        float intensity, sigma;
        const char* written;
    };
    const Case cases[] = {
        {100.0f, 0.001f, "    100.    0.00"},      {100.0f, 0.0009f, "    100.   10.00"},
        {100.0f, 5.555f, "    100.    5.55"},      {0.001f, 0.0f, "   0.001    1.00"},
        {0.0011f, 0.0f, "  0.0011    0.03"},       {0.0f, 0.0f, "      0.    1.00"},
        {-50.0f, 0.0f, "    -50.    1.00"},        {1294.5f, 0.0f, "  1294.5   35.98"},
        {9999999.0f, 3162.0f, "9999999. 3162.00"}, {2.5f, 2.345f, "     2.5    2.35"},
    };
    for (const Case& c : cases) {
        Bench b;
        b.r().point_count = 1;
        b.r().intensity(1) = c.intensity;
        b.r().sigma(1) = c.sigma;
        std::string written;
        ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done) << c.intensity;
        EXPECT_EQ(lines_of(written)[2].substr(0, 16), c.written) << c.intensity << " " << c.sigma;
    }
    // A count the driver raised by 0.001 is written as the whole count it was.
    Bench b;
    b.r().point_count = 1;
    b.r().intensity(1) = 0.001f;
    b.ws.intensity_shift = 0.001f;
    std::string written;
    ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
    EXPECT_EQ(lines_of(written)[2].substr(0, 16), "      0.    1.00");
}

// Variable-slit renormalisation: count and uncertainty divided by 5 sin(theta);
// nothing divided where sin(theta) <= 0.
TEST(GsasWrite, SlitRenormalisation) {
    struct Case {
        float two_theta, intensity, sigma;
        const char* written;
    };
    const Case cases[] = {
        {30.0f, 1294.0f, 0.0f, "999.9264   27.80"},    // f = 5 sin 15 deg = 1.294
        {30.0f, 1294.0f, 12.94f, "999.9264   10.00"},  // sigma decided before the division
        {90.0f, 3535.5f, 0.0f, "999.9904   16.82"},    // f = 5 sin 45 deg
        {0.0f, 1294.0f, 0.0f, "   1294.   35.97"},     // 2-theta 0: left as it is
        {-5.0f, 1294.0f, 0.0f, "   1294.   35.97"},
    };
    for (const Case& c : cases) {
        Bench b;
        b.answers().slit_correction = true;
        b.r().point_count = 1;
        b.r().two_theta_start = c.two_theta;
        b.r().two_theta_step = 0.02f;
        b.r().intensity(1) = c.intensity;
        b.r().sigma(1) = c.sigma;
        std::string written;
        ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
        EXPECT_EQ(lines_of(written)[2].substr(0, 16), c.written) << c.two_theta;
        EXPECT_TRUE(std::isfinite(b.r().intensity(1)));
    }
}

// Values that do not fit their fields refuse the write instead of writing asterisks.
TEST(GsasWrite, TooWideIsRefused) {
    struct Case {
        const char* name;
        float start, intensity, sigma;
    };
    for (const Case& c :
         {Case{"count", 5.0f, 10000000.0f, 1.0f}, Case{"negative_count", 5.0f, -1000000.0f, 1.0f},
          Case{"sigma", 5.0f, 100.0f, 100000.0f}, Case{"not_a_number", 5.0f, std::nanf(""), 1.0f},
          Case{"start_centidegrees", 100.0f, 100.0f, 1.0f}}) {
        Bench b;
        fill_scan(b.r(), 7, c.start, 0.02f);
        b.r().intensity(6) = c.intensity;
        b.r().sigma(6) = c.sigma;
        std::string written;
        EXPECT_EQ(b.write(gsas_codec, written), ConversionStatus::too_large) << c.name;
    }
}

TEST(GsasWrite, FailedWriteKeepsTheOldFile) {
    ScratchDir dir;
    const auto source = dir / "in.gsa";
    const auto target = dir / "out.gsa";
    write_file(source, gsas_file("BANK 1 5 1 CONST 1000 5 ESD",
                                 {"10000000    10.0   200.0    14.1   300.0    17.3   400.0"
                                  "    20.0   500.0    22.4"}));
    write_file(target, "precious");
    Bench b;
    ASSERT_EQ(b.ws.input().open(source.string()), Outcome::done);
    ASSERT_EQ(b.ws.output().open(target.string(), true), Outcome::done);
    const auto result = run_conversion(b.ws, FormatId::gsas, FormatId::gsas);
    EXPECT_EQ(result.write_status, ConversionStatus::too_large);
    EXPECT_EQ(b.ui.last_failure(), "DATA TOO LARGE FOR OUTPUT FORMAT");
    EXPECT_EQ(read_file(target), "precious");
}

// A line end in the title would split the title record and shift every record after it.
TEST(GsasWrite, TitleStaysOneRecord) {
    Bench b;
    fill_scan(b.r(), 3, 5.0f, 0.02f);
    b.r().set_title(std::string("Quartz\r\nBANK 9\0x", 16));
    std::string written;
    ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
    const auto lines = lines_of(written);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 20), "   Quartz  BANK 9 x ");
    Bench back;
    ASSERT_EQ(back.read(gsas_codec, written), ConversionStatus::done);
    EXPECT_EQ(back.r().point_count, 3);
}

// --- Real files ----------------------------------------------------------------

// A real plain file written in our ESD form and read back keeps every count.
TEST(GsasSamplesRoundTrip, PlainFileThroughOurWriter) {
    QELDA_SAMPLE_OR_SKIP(path, "gsas/PBSO4.CWN");
    Bench b;
    ASSERT_EQ(b.read(gsas_codec, read_file(path)), ConversionStatus::done);
    std::string written;
    ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
    Bench back;
    ASSERT_EQ(back.read(gsas_codec, written), ConversionStatus::done);
    ASSERT_EQ(back.r().point_count, 2919);
    EXPECT_EQ(back.r().two_theta_start, b.r().two_theta_start);
    EXPECT_EQ(back.r().two_theta_step, b.r().two_theta_step);
    for (int32_t i = 1; i <= 2919; ++i) {
        ASSERT_EQ(back.r().intensity(i), b.r().intensity(i)) << i;
        ASSERT_NEAR(back.r().sigma(i), std::sqrt(b.r().intensity(i)), 0.005) << i;
    }
}

// A descending scan: GSAS binning runs upwards and refuses it; UXD and Stoe raw
// state start and step and keep it.
TEST(DescendingScan, RefusedOrKept) {
    struct Case {
        CodecRoutine codec;
        ConversionStatus status;
    };
    for (const Case& c : {Case{gsas_codec, ConversionStatus::too_large},
                          Case{siemens_uxd_codec, ConversionStatus::done},
                          Case{stoe_raw_codec, ConversionStatus::done}}) {
        Bench b;
        fill_scan(b.r(), 5, 40.0f, -0.02f);
        std::string written;
        ASSERT_EQ(b.write(c.codec, written), c.status);
        if (c.status != ConversionStatus::done) {
            EXPECT_NE(b.ws.failure_reason.find("descends"), std::string::npos);
            continue;
        }
        Bench back;
        ASSERT_EQ(back.read(c.codec, written), ConversionStatus::done);
        EXPECT_EQ(back.r().point_count, 5);
        EXPECT_FLOAT_EQ(back.r().two_theta_start, 40.0f);
        EXPECT_FLOAT_EQ(back.r().two_theta_step, -0.02f);
    }
}

// The example in the source tree is what our writer makes of its own data.
TEST(GsasExample, WriterReproducesIt) {
    const std::string file =
        read_file(std::filesystem::path(QELDA_SOURCE_DIR) / "examples" / "quartz.gsa");
    Bench b;
    ASSERT_EQ(b.read(gsas_codec, file), ConversionStatus::done);
    EXPECT_EQ(b.r().point_count, 401);
    EXPECT_EQ(b.r().two_theta_start, 20.0f);
    EXPECT_EQ(b.r().two_theta_step, 0.02f);
    std::string written;
    ASSERT_EQ(b.write(gsas_codec, written), ConversionStatus::done);
    // The title record gains three leading blanks on every pass; the rest is identical.
    EXPECT_EQ(written.substr(written.find("\r\n")), file.substr(file.find("\r\n")));
}

}  // namespace
}  // namespace qelda
