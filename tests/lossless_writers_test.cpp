// What the writers make of values their fixed fields do not hold: the digits
// the value needs where the format allows them, a warning (or a refusal with
// its reason) where it does not. And the x-y reader's title, sigma and
// wavelength rules, each written and read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/decimals.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

TEST(Decimals, ShortestDecimalReadsBack) {
    struct Row {
        float value;
        const char* shortest;
        int32_t decimals;
    };
    const Row rows[] = {
        {36.198f, "36.198", 3},       {1234.0f, "1234", 0},    {0.013130283f, "0.013130283", 9},
        {1.540598f, "1.540598", 6},   {0.1f, "0.1", 1},        {-2.5f, "-2.5", 1},
        {16777216.0f, "16777216", 0}, {1e-7f, "0.0000001", 7},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(shortest_decimal(row.value), row.shortest);
        EXPECT_EQ(shortest_decimals(row.value), row.decimals) << row.shortest;
        EXPECT_TRUE(reads_back(row.value, row.decimals)) << row.shortest;
        if (row.decimals > 0) {
            EXPECT_FALSE(reads_back(row.value, row.decimals - 1)) << row.shortest;
        }
        EXPECT_EQ(decimals_to_read_back(row.value, 3, 12), std::max(3, row.decimals));
    }
    EXPECT_EQ(decimals_to_read_back(0.013130283f, 0, 5), -1);
    // A whole count raised by the driver's 0.001 is still the whole count.
    EXPECT_TRUE(is_whole_count(5.0f + 0.001f, 0.001f));
    EXPECT_EQ(whole_count(5.0f + 0.001f, 0.001f), 5.0);
    EXPECT_FALSE(is_whole_count(36.198f, 0.001f));
    EXPECT_EQ(value_text(2.55e8), "2.55e8");
}

// One scan of three points written by one writer.
struct WriteCase {
    const char* name;
    CodecRoutine codec;
    float start, step, lambda1, lambda2, ratio;
    float counts[3];
    const char* title;
    ConversionStatus status;
    std::vector<const char*> present;  // texts the output holds
    const char* said;                  // phrase of a warning or the reason; "" for none
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr auto kDone = ConversionStatus::done;
constexpr auto kTooLarge = ConversionStatus::too_large;

// clang-format off
const WriteCase kWrites[] = {
    // Fields that hold the value stay as they were.
    {"xy as before", ascii_xy_codec, 10.0f, 0.02f, 1.5405f, 1.5443f, 0.5f, {100, 101, 102},
     "Quartz", kDone, {"Quartz", "   10.000,   100.000\r\n", "   10.040,   102.000\r\n"}, ""},
    {"xy angles with their digits", ascii_xy_codec, 4.006565f, 0.01313f, 1.5405f, 1.5443f,
     0.5f, {36.198f, 10.3125f, 492.1f}, "", kDone,
     {"  4.006565,    36.198\r\n", ",   10.3125\r\n", ",   492.100\r\n"}, ""},
    {"xy numeric title behind #", ascii_xy_codec, 20.0f, 0.05f, 1.5405f, 1.5443f, 0.5f,
     {49, 50, 51}, "20.0 49", kDone, {"# 20.0 49"}, ""},
    {"gsas decimals within F8", gsas_codec, 10.0f, 0.02f, 1.5405f, 1.5443f, 0.5f,
     {36.198f, 1234.0f, 10.3125f}, "", kDone,
     {"  36.198", "   1234.", " 10.3125", "CONST   1000.00000   2.00000"}, ""},
    {"gsas angle beyond five decimals", gsas_codec, 4.006565f, 0.013130283f, 1.5405f, 1.5443f,
     0.5f, {1, 2, 3}, "", kDone, {" 400.65649 1.3130283 0.0 0.0 ESD"}, ""},
    {"gsas rounds what eight columns cannot hold", gsas_codec, 10.0f, 0.02f, 1.5405f, 1.5443f,
     0.5f, {123456.78f, 1, 2}, "", kDone, {"123456.8"},
     "GSAS holds eight columns: 1 intensity rounded to the decimals that fit"},
    {"gsas refuses a count beyond its columns", gsas_codec, 10.0f, 0.02f, 1.5405f, 1.5443f, 0.5f,
     {1, 2.55e8f, 3}, "", kTooLarge, {},
     "count 2.55e8 at point 2 does not fit GSAS's eight columns; x-y, xye or cif can hold it"},
    {"uxd keyword lines with their digits", siemens_uxd_codec, 37.0001f, 0.013130283f, 1.540598f,
     1.544426f, 0.514f, {36.198f, 7, 8}, "", kDone,
     {"_WL1=1.540598\r\n", "_WL2=1.544426\r\n", "_WLRATIO= 0.51400\r\n",
      "_STEPSIZE=0.013130283\r\n", "_START=37.0001\r\n", "  36.198      7.      8.\r\n"}, ""},
    {"uxd as before", siemens_uxd_codec, 10.0f, 0.02f, 1.5406f, 1.54439f, 0.5f, {1, 2, 3}, "",
     kDone, {"_WL1= 1.54060\r\n", "_STEPSIZE= 0.0200\r\n", "_START= 10.000\r\n"}, ""},
    {"stoe raw rounds counts", stoe_raw_codec, 10.0f, 0.02f, 1.5406f, 1.54439f, 0.5f,
     {10.5f, 2, 3}, "", kDone, {},
     "Stoe raw holds whole counts: 1 intensity rounded (largest change 0.5)"},
    {"stoe raw has no ratio", stoe_raw_codec, 10.0f, 0.02f, 1.5406f, 1.54439f, 0.514f, {1, 2, 3},
     "", kDone, {}, "Stoe raw holds no alpha2/alpha1 ratio: 0.514 not written"},
    {"dbw rounds counts", dbw_codec, 10.0f, 0.02f, 1.5406f, 1.54439f, 0.5f, {23694.5f, 2.25f, 3},
     "", kDone, {"  23695       2       3"},
     "DBW holds whole counts: 2 intensities rounded (largest change 0.5)"},
    {"dbw cuts a long title", dbw_codec, 10.0f, 0.02f, 1.5406f, 1.54439f, 0.5f, {1, 2, 3},
     "A title of fifty-five characters, longer than fifty....", kDone, {},
     "title cut to 50 characters"},
    {"dbw warns of angles beyond three decimals", dbw_codec, 4.006565f, 0.013130283f, 1.5406f,
     1.54439f, 0.5f, {1, 2, 3}, "", kDone, {"   4.007   0.013"},
     "DBW's header holds three decimals: 2theta start 4.006565 written as 4.007, step "
     "0.013130283 as 0.013"},
    {"dbw refuses a step that loses points", dbw_codec, 10.0f, 0.0004f, 1.5406f, 1.54439f, 0.5f,
     {1, 2, 3}, "", kTooLarge, {},
     "step 0.0004 from 10 does not give the same points from DBW's F8.3 header"},
};
// clang-format on

class Writers : public ::testing::TestWithParam<WriteCase> {};

TEST_P(Writers, HoldWhatTheyCanAndNameTheRest) {
    const WriteCase& c = GetParam();
    Bench b;
    testing::fill_scan(b.r(), 3, c.start, c.step);
    for (int i = 0; i < 3; ++i) b.r().intensity(i + 1) = c.counts[i];
    b.r().lambda1 = c.lambda1;
    b.r().lambda2 = c.lambda2;
    b.r().alpha_ratio = c.ratio;
    b.r().count_time = 1.0f;
    b.r().set_title(c.title);
    std::string written;
    ASSERT_EQ(b.write(c.codec, written), c.status) << b.ws.failure_reason;
    for (const char* text : c.present)
        EXPECT_NE(written.find(text), std::string::npos) << text << " in\n" << written;
    std::string all = b.ws.failure_reason;
    for (const auto& w : b.ws.warnings) all += "\n" + w;
    if (*c.said == '\0')
        EXPECT_EQ(all, "");
    else
        EXPECT_NE(all.find(c.said), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(Table, Writers, ::testing::ValuesIn(kWrites));

// x-y files as read: the title, sigma and wavelength they give.
struct XyCase {
    const char* name;
    const char* file_name;
    const char* content;
    bool no_sigma;
    const char* title;
    bool sigma;     // the third column was read as sigma
    float lambda1;  // 0: the prompt's answer (1.5405)
    float first_count;
};

void PrintTo(const XyCase& c, std::ostream* os) {
    *os << c.name;
}

const XyCase kXyReads[] = {
    {"first line is data: no title", "a.xy", "20.0 49\n20.05 50\n20.1 51\n", false, "", false, 0,
     49},
    {"title behind # of our writer", "a.xy",
     "# 20.0 49\n  20.000,    49.000\n  20.050,    50.000\n", false, "20.0 49", false, 0, 49},
    {"a plain title", "a.xy", "Quartz\n10 5\n10.02 6\n", false, "Quartz", false, 0, 5},
    {"xye reads sigma", "a.xye", "5.000 81.96 10.952\n5.004 71.25 10.284\n", false, "", true, 0,
     81.96f},
    {"xye without sigma when asked", "a.xye", "5.000 81.96 10.952\n5.004 71.25 10.284\n", true, "",
     false, 0, 81.96f},
    {"xye of two columns", "a.xye", "4.00 90.\n4.05 83.\n", false, "", false, 0, 90},
    {"header names esd", "a.dat", "# 2theta I esd\n5.0 81 9\n5.1 80 8.9\n", false, "2theta I esd",
     true, 0, 81},
    {"three columns without a word of sigma", "a.dat", "5.0 81 9\n5.1 80 8.9\n", false, "", false,
     0, 81},
    {"lone wavelength of an xye", "a.xye", "1.1294\n5.000 81.96 10.952\n5.004 71.25 10.284\n",
     false, "", true, 1.1294f, 81.96f},
    {"wavelength comment", "a.dat", "# Wavelength 0.589183\n10 5\n10.02 6\n", false,
     "Wavelength 0.589183", false, 0.589183f, 5},
    {"a word that only holds lam", "a.dat", "Flame 2.0\n10 5\n10.02 6\n", false, "Flame 2.0", false,
     0, 5},
};

class XyReads : public ::testing::TestWithParam<XyCase> {};

TEST_P(XyReads, TitleSigmaAndWavelength) {
    const XyCase& c = GetParam();
    Bench b;
    b.ws.options.no_sigma = c.no_sigma;
    ASSERT_EQ(b.read(ascii_xy_codec, c.content, c.file_name), ConversionStatus::done)
        << b.ws.failure_reason;
    EXPECT_EQ(std::string(trim_right(b.r().title)), c.title);
    EXPECT_EQ(b.r().sigma(1) != 0.0f, c.sigma);
    EXPECT_EQ(b.r().lambda1, c.lambda1 > 0 ? c.lambda1 : 1.5405f);
    EXPECT_EQ(b.ws.wavelength_origin == WavelengthOrigin::file, c.lambda1 > 0);
    EXPECT_EQ(b.r().intensity(1), c.first_count);
}

INSTANTIATE_TEST_SUITE_P(Table, XyReads, ::testing::ValuesIn(kXyReads));

// Every x-y file we write reads back, with or without a title line.
TEST(XyTitles, EveryTitleReadsBack) {
    for (const char* title : {"", "Quartz", "20.0 49", "1.5406", "12 34 56", "# a comment"}) {
        for (const bool with_title : {true, false}) {
            SCOPED_TRACE(std::string(title) + (with_title ? " written" : " not written"));
            Bench b;
            testing::fill_scan(b.r(), 20, 20.0f, 0.05f);
            b.r().set_title(title);
            b.answers().write_title = with_title;
            std::string written;
            ASSERT_EQ(b.write(ascii_xy_codec, written), ConversionStatus::done);
            Bench back;
            ASSERT_EQ(back.read(ascii_xy_codec, written, "back.dat"), ConversionStatus::done)
                << back.ws.failure_reason;
            EXPECT_EQ(back.r().point_count, 20);
            EXPECT_EQ(back.r().two_theta_start, 20.0f);
            EXPECT_EQ(back.r().intensity(1), b.r().intensity(1));
        }
    }
}

}  // namespace
}  // namespace qelda
