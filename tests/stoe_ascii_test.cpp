// Stoe ASCII reader: exports built by hand, marker by marker.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// A "Range 1" block: the marker line and the five lines after it.
// The end angle agrees with the points (10 by 0.02).
std::string range_block(int32_t points, const char* marker = "Range 1") {
    char angles[64], count[80];
    const double end = points > 0 ? 10.0 + 0.02 * (points - 1) : 10.48;
    std::snprintf(angles, sizeof angles, "%33s%9.3f%9.3f%9.3f", "", 10.0, end, 0.02);
    std::snprintf(count, sizeof count, "%17s%7.1f%33s%6d", "", 5.0, "", points);
    return std::string(marker) + "\n  2Theta  begin  end  step\n" + angles + "\n\n\n" + count +
           "\n";
}

// The "Intensities" line, the line after it and ceil(points / 10) count lines
// holding 101, 102, ... (ten to a line, the last one full).
std::string counts_block(int32_t points) {
    std::string s = "Intensities\n  counts\n";
    for (int32_t i = 0; i < points; i += 10) {
        s += std::string(9, ' ');
        for (int32_t j = 1; j <= 10; ++j) {
            char field[16];
            std::snprintf(field, sizeof field, "%7d", 100 + i + j);
            s += field;
        }
        s += "\n";
    }
    return s;
}

std::string export_file(int32_t points, const std::string& header = "") {
    return "Title  = Quartz standard\nWavelength: 1.540598\n" + header + range_block(points) +
           counts_block(points);
}

TEST(StoeAscii, ReadsRangeAndCountsTenToALine) {
    Bench b;
    b.r().lambda2 = 1.5443f;
    b.r().alpha_ratio = 0.5f;
    b.r().intensity(26) = -7.0f;
    ASSERT_EQ(b.read(stoe_ascii_codec, export_file(25) + "Title  = after the counts\n"),
              ConversionStatus::done);
    EXPECT_EQ(b.r().title, fixed_text("Quartz standard", 60));
    EXPECT_FLOAT_EQ(b.r().lambda1, 1.540598f);
    EXPECT_EQ(b.r().lambda2, 0.0f);
    EXPECT_EQ(b.r().alpha_ratio, 0.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_end, 10.48f);
    EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
    EXPECT_FLOAT_EQ(b.r().count_time, 5.0f);
    EXPECT_EQ(b.r().point_count, 25);
    EXPECT_EQ(b.r().intensity(1), 101.0f);
    EXPECT_EQ(b.r().intensity(25), 125.0f);
    EXPECT_EQ(b.r().intensity(26), -7.0f) << "counts after the last point are dropped";

    // A "Range 10" line starts a range block too.
    ASSERT_EQ(b.read(stoe_ascii_codec, range_block(3, "Range 10") + counts_block(3)),
              ConversionStatus::done);
    EXPECT_EQ(b.r().intensity(3), 103.0f);
    EXPECT_EQ(b.r().title, fixed_text("Quartz standard", 60)) << "no title line: kept";
}

// The markers, the range and the counts must agree; each refusal says why.
TEST(StoeAscii, ChecksOfTheRead) {
    const std::string blank9(9, ' ');
    struct Case {
        const char* name;
        std::string text;
        ConversionStatus status;
        const char* said;  // the reason, or the warning of a read
    } cases[] = {
        {"an x-y export", "10.00 123\n10.02 125\n", ConversionStatus::not_available,
         "scan.asc has no 'Range 1' or 'Intensities' line: not a Stoe ASCII export"},
        {"range without counts", range_block(3), ConversionStatus::premature_end,
         "scan.asc ends without its 'Intensities' line"},
        {"range and points disagree",
         export_file(25).replace(export_file(25).find("   10.480"), 9, "   10.500"),
         ConversionStatus::record_error,
         "scan.asc, line 8: 25 points, but the range 10 to 10.5 by 0.02 holds 26"},
        {"a blank count field", range_block(3) + "Intensities\n\n" + blank9 + "      1\n",
         ConversionStatus::record_error,
         "scan.asc, line 9: the counts end after count 1 of the 3 that the range announces"},
        {"counts after the points", range_block(8) + counts_block(8), ConversionStatus::done,
         "scan.asc holds 2 counts after the 8 that the range announces; ignored"},
        {"file cut in the counts", range_block(25) + counts_block(20),
         ConversionStatus::premature_end,
         "scan.asc ends after count 20 of the 25 that the range announces"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        EXPECT_EQ(b.read(stoe_ascii_codec, c.text, "scan.asc"), c.status);
        EXPECT_EQ(c.status == ConversionStatus::done ? b.ws.warnings.at(0) : b.ws.failure_reason,
                  c.said);
    }
}

TEST(StoeAscii, TitleColumns) {
    const std::string long_text(48, 'x');  // columns 10-57
    struct Case {
        std::string line, title;
    } cases[] = {
        {"Title  = Quartz standard", "Quartz standard"},
        {"Title   = Quartz standard", ""},  // three blanks begin in column 6
        {"Title: Quartz standard", "artz standard"},
        {"Sample  Title: Quartz", "itle: Quartz"},
        {"Title  = " + long_text, long_text},
        {"Title  = " + long_text + "x", ""},          // no run of three blanks
        {"Title  = Quartz   Intensities", "Quartz"},  // the first marker wins
    };
    for (const Case& c : cases) {
        Bench b;
        ASSERT_EQ(b.read(stoe_ascii_codec, c.line + "\n" + export_file(5).substr(25)),
                  ConversionStatus::done)
            << c.line;
        EXPECT_EQ(b.r().title, fixed_text(c.title, 60)) << c.line;
    }
}

TEST(StoeAscii, WavelengthField) {
    struct Case {
        std::string line;
        ConversionStatus status;
        float lambda1;
    } cases[] = {
        {"Wavelength: 1.540598", ConversionStatus::done, 1.540598f},
        {"Wavelength=1.540598", ConversionStatus::done, 0.540598f},  // field from column 13
        // Far right: columns past 60 are blanks, so the number is cut or absent.
        {std::string(44, ' ') + "Wavelength: 1.540598", ConversionStatus::done, 1.54f},
        {std::string(50, ' ') + "Wavelength: 1.5", ConversionStatus::done, 0.0f},
        {"Title Wavelength: 1.5", ConversionStatus::done, 9.0f},  // a title line
        {"Wavelength: Cu Ka1", ConversionStatus::aborted, 9.0f},
    };
    for (const Case& c : cases) {
        Bench b;
        b.r().lambda1 = 9.0f;
        b.r().lambda2 = 1.5443f;
        EXPECT_EQ(
            b.read(stoe_ascii_codec, c.line + "\n" + range_block(5) + counts_block(5), "scan.asc"),
            c.status)
            << c.line;
        EXPECT_FLOAT_EQ(b.r().lambda1, c.lambda1) << c.line;
        if (c.lambda1 != 9.0f) {
            EXPECT_EQ(b.r().lambda2, 0.0f) << c.line;
        }
    }
    Bench b;
    b.read(stoe_ascii_codec, "Wavelength: Cu Ka1\n", "scan.asc");
    EXPECT_EQ(b.ws.abort_report, "input conversion error, unit 1, file scan.asc");
    EXPECT_EQ(b.ws.failure_reason, "scan.asc, line 1: 'Cu Ka1' after 'Wavelength' is not a number");
}

TEST(StoeAscii, FailuresAndTheLineTheyName) {
    const std::string good = export_file(25);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        return s.replace(s.find(from), from.size(), to);
    };
    struct Case {
        std::string name, text;
        ConversionStatus status;
        int32_t lines_read;  // checked for status 2
    } cases[] = {
        {"empty", "", ConversionStatus::not_available, 0},
        {"no counts", good.substr(0, good.find("Intensities")), ConversionStatus::premature_end, 0},
        {"range block cut", "Range 1\n\n\n\n", ConversionStatus::premature_end, 0},
        {"counts cut", good.substr(0, good.rfind('\n', good.find("    121")) + 1),
         ConversionStatus::premature_end, 0},
        {"angle", with("10.480", "10.4x0"), ConversionStatus::record_error, 4},
        {"count time", with("    5.0", "    5.x"), ConversionStatus::record_error, 7},
        {"a count", with("    112", "    1x2"), ConversionStatus::record_error, 11},
        {"counts before a range", "Title  = x\nIntensities\n" + counts_block(5),
         ConversionStatus::record_error, 1},
        {"no points", export_file(0), ConversionStatus::record_error, 7},
        {"negative points", export_file(-3), ConversionStatus::record_error, 7},
        {"one point", export_file(1), ConversionStatus::done, 0},
        {"100000 points", export_file(100000), ConversionStatus::done, 0},
        {"100001 points", range_block(100001), ConversionStatus::too_many_points, 0},
    };
    for (const Case& c : cases) {
        Bench b;
        b.r().point_count = 5;  // left by an earlier dataset
        b.r().lines_read = 999;
        EXPECT_EQ(b.read(stoe_ascii_codec, c.text), c.status) << c.name;
        if (c.status == ConversionStatus::record_error) {
            EXPECT_EQ(b.r().lines_read, c.lines_read) << c.name;
        }
        if (c.status == ConversionStatus::done) {
            EXPECT_EQ(b.r().intensity(b.r().point_count), 100.0f + b.r().point_count) << c.name;
        }
    }
}

TEST(StoeAscii, WriteModeIsNotAvailable) {
    Bench b;
    std::string written;
    EXPECT_EQ(b.write(stoe_ascii_codec, written), ConversionStatus::not_available);
    EXPECT_TRUE(written.empty());
}

}  // namespace
}  // namespace qelda
