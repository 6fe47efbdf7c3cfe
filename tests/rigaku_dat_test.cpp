// Rigaku text exports built from their layout: a good file, and the ways a
// file can go wrong.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

std::string dat(std::string_view axis = "2 Theta / Theta", std::string_view count = "6",
                std::string_view rows = " 10, 20, 30, 40\r\n 50, 60\r\n",
                std::string_view end = "*END\r\n*EOF\r\n", std::string_view groups = "1") {
    return "*TYPE           =  Raw\r\n*SAMPLE         =  Quartz\r\n*GROUP_COUNT    =  " +
           std::string(groups) + "\r\n*SCAN_AXIS      =  " + std::string(axis) +
           "\r\n*XRAY_CHAR      =  K-ALPHA\r\n*WAVE_LENGTH1   =  1.54056\r\n"
           "*WAVE_LENGTH2   =  1.5444\r\n*SPEED_DIM      =  sec./step(FT)\r\n"
           "*YUNIT          =  counts\r\n\r\n*BEGIN\r\n*GROUP          =  0\r\n"
           "*START          =  10.0000\r\n*STOP           =  10.1000\r\n"
           "*STEP           =  0.0200\r\n*SPEED          =  2\r\n*COUNT          =  " +
           std::string(count) + "\r\n" + std::string(rows) + std::string(end);
}

TEST(RigakuDat, BuiltFiles) {
    struct Case {
        const char* what;
        std::string text;
        ConversionStatus status;
        const char* phrase;
    };
    const Case cases[] = {
        {"good", dat(), ConversionStatus::done, "no intensity ratio of K-alpha2"},
        {"cut inside the counts", dat("2 Theta / Theta", "6", " 10, 20, 30, 40\r\n", ""),
         ConversionStatus::premature_end, "ends inside group 1 (no *END after line 11)"},
        {"an omega scan", dat("Omega"), ConversionStatus::not_available,
         "holds an Omega scan, not a 2theta scan"},
        {"fewer counts than *COUNT", dat("2 Theta / Theta", "6", " 10, 20, 30, 40, 50\r\n"),
         ConversionStatus::record_error, "holds 5 counts; its *COUNT states 6"},
        {"*COUNT against the range", dat("2 Theta / Theta", "7", " 10, 20, 30, 40, 50, 60, 70\r\n"),
         ConversionStatus::record_error, "make 6 points; *COUNT states 7"},
        {"a word among the counts", dat("2 Theta / Theta", "6", " 10, 20, x, 40\r\n 50, 60\r\n"),
         ConversionStatus::record_error, "line 18: 'x' is not a number"},
        {"more groups stated than held",
         dat("2 Theta / Theta", "6", " 10, 20, 30, 40, 50, 60\r\n", "*END\r\n", "2"),
         ConversionStatus::premature_end, "holds 1 group; its *GROUP_COUNT states 2"},
        {"not this format", "*RAS_DATA_START\r\n", ConversionStatus::not_available,
         "does not begin with *TYPE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        if (!b.read_as_expected(rigaku_dat_codec, c.text, "scan.dat", c.status, c.phrase)) continue;
        EXPECT_EQ(b.r().point_count, 6);
        EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
        EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
        EXPECT_FLOAT_EQ(b.r().intensity(6), 60.0f);
        EXPECT_FLOAT_EQ(b.r().count_time, 2.0f);
        EXPECT_FLOAT_EQ(b.r().lambda2, 1.5444f);
        EXPECT_EQ(trim_right(b.r().title), "Quartz");
    }
}

}  // namespace
}  // namespace qelda
