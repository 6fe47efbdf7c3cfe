// Scintag ARD reader: files built by hand in the column layout of the format.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

struct ArdFile {
    std::string title = "Quartz standard";
    float start = 10.0f, end = 10.1f, step = 0.02f, count_time = 2.0f, lambda1 = 1.5406f;
    std::string date = "   7   5   2";
    std::string time = "  14   3   0";
    int points = -1;  // data lines written; -1: as many as the range gives (6)

    std::string text() const {
        char scan[80];
        std::snprintf(scan, sizeof scan, "%12.7f%12.7f%12.7f%12.8f%12s%12.8f", start, end, step,
                      count_time, "", lambda1);
        std::string s = title + "\n" + scan + "\n\n" + date + "\n" + time + "\n\n\n";
        for (int i = 0; i < (points < 0 ? 6 : points); ++i) {
            char line[40];
            std::snprintf(line, sizeof line, "%10s%8.1f%8.1f", "", 60.0 * (2 + i % 10), 30.0);
            s += std::string(line) + "\n";
        }
        return s;
    }
};

TEST(ScintagArd, HeaderTitleDateTimeAndCountsPerMinute) {
    Bench b;
    ArdFile f;
    f.title = std::string(30, 'T') + "cut here";  // only 30 columns are the title
    ASSERT_EQ(b.read(scintag_ard_codec, f.text()), ConversionStatus::done);
    EXPECT_EQ(b.r().title, std::string(30, 'T') + " Date:07-05-02  Time: 14: 3   ");
    EXPECT_EQ(b.r().point_count, 6);
    EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
    EXPECT_FLOAT_EQ(b.r().two_theta_end, 10.1f);
    EXPECT_FLOAT_EQ(b.r().count_time, 2.0f);
    // 120 counts per minute for 2 s per step are 4 counts; 30 per minute are 1.
    EXPECT_FLOAT_EQ(b.r().intensity(1), 4.0f);
    EXPECT_FLOAT_EQ(b.r().intensity(6), 14.0f);
    EXPECT_FLOAT_EQ(b.r().sigma(1), 1.0f);
    EXPECT_FLOAT_EQ(b.r().sigma(6), 1.0f);

    f.date = "  12  11  99";
    f.time = "   9   5  59";
    ASSERT_EQ(b.read(scintag_ard_codec, f.text()), ConversionStatus::done);
    EXPECT_EQ(b.r().title.substr(30), " Date:12-11-99  Time:  9: 5   ");
}

TEST(ScintagArd, CopperGetsAlpha2OtherAnodesASingleLine) {
    struct Case {
        float lambda1, lambda2, ratio;
    };
    for (const Case c : {Case{1.5406f, 1.54434f, 0.5f}, Case{1.5418f, 1.54434f, 0.5f},
                         Case{1.7890f, 0.0f, 0.0f}, Case{0.0f, 0.0f, 0.0f}}) {
        Bench b;
        b.r().lambda2 = 9.0f;  // left by an earlier dataset
        b.r().alpha_ratio = 9.0f;
        ArdFile f;
        f.lambda1 = c.lambda1;
        ASSERT_EQ(b.read(scintag_ard_codec, f.text()), ConversionStatus::done);
        EXPECT_FLOAT_EQ(b.r().lambda1, c.lambda1);
        EXPECT_FLOAT_EQ(b.r().lambda2, c.lambda2) << c.lambda1;
        EXPECT_FLOAT_EQ(b.r().alpha_ratio, c.ratio) << c.lambda1;
    }
}

TEST(ScintagArd, PointCountKeepsTheLastPointAndTheLimit) {
    struct Case {
        float start, end, step;
        ConversionStatus status;
        int32_t count;
    };
    for (const Case c : {Case{10.0f, 80.0f, 0.02f, ConversionStatus::done, 3501},
                         Case{5.0f, 100.0f, 0.05f, ConversionStatus::done, 1901},
                         Case{20.0f, 20.0f, 0.02f, ConversionStatus::done, 1},
                         Case{0.0f, 999.99f, 0.01f, ConversionStatus::done, 100000},
                         Case{0.0f, 1000.0f, 0.01f, ConversionStatus::too_many_points, 100001}}) {
        Bench b;
        ArdFile f;
        f.start = c.start, f.end = c.end, f.step = c.step, f.points = c.count;
        EXPECT_EQ(b.read(scintag_ard_codec, f.text()), c.status) << c.end;
        EXPECT_EQ(b.r().point_count, c.count);
        if (c.status == ConversionStatus::done) {
            EXPECT_FLOAT_EQ(b.r().intensity(c.count), 2.0f * (2 + (c.count - 1) % 10));
        }
    }
}

TEST(ScintagArd, FailuresAndTheLineTheyName) {
    const std::string good = ArdFile{}.text();
    auto replace_line = [&](int line, const std::string& with) {
        std::string s = good;
        std::size_t at = 0;
        for (int i = 1; i < line; ++i) at = s.find('\n', at) + 1;
        return s.replace(at, s.find('\n', at) - at, with);
    };
    ArdFile zero_step, backwards;
    zero_step.step = 0.0f;
    backwards.start = 20.0f;
    struct Case {
        std::string name, text;
        ConversionStatus status;
        int32_t lines_read;  // checked for status 2
    };
    const Case cases[] = {
        {"empty", "", ConversionStatus::premature_end, 0},
        {"header cut after line 5", good.substr(0, good.find("\n\n\n") + 1),
         ConversionStatus::premature_end, 0},
        {"last point missing", ArdFile{.points = 5}.text(), ConversionStatus::premature_end, 0},
        {"scan line", replace_line(2, "  10.0000000  ten"), ConversionStatus::not_available, 1},
        {"date", replace_line(4, "   7   May"), ConversionStatus::not_available, 3},
        {"third point", replace_line(10, "          120.0   x"), ConversionStatus::record_error, 9},
        {"step 0", zero_step.text(), ConversionStatus::record_error, 1},
        {"end before start", backwards.text(), ConversionStatus::record_error, 1},
    };
    for (const Case& c : cases) {
        Bench b;
        b.r().lines_read = 999;
        EXPECT_EQ(b.read(scintag_ard_codec, c.text), c.status) << c.name;
        if (c.status == ConversionStatus::record_error) {
            EXPECT_EQ(b.r().lines_read, c.lines_read) << c.name;
        }
    }
}

// Files of another kind, and points that disagree with the range.
TEST(ScintagArd, ChecksOfTheRead) {
    ArdFile extra;
    extra.points = 8;
    std::string blank_rate = ArdFile{}.text();
    blank_rate.replace(blank_rate.rfind("   420.0"), 8, std::string(8, ' '));
    struct Case {
        const char* name;
        std::string text;
        ConversionStatus status;
        const char* said;  // the reason, or the warning of a read
    };
    const Case cases[] = {
        {"an x-y export", "10.00 123\n10.02 125\n10.04 127\n", ConversionStatus::not_available,
         "scan.ard, line 2: columns 1-36 do not hold start, end and step: not a Scintag ARD file"},
        {"points after the range", extra.text(), ConversionStatus::done,
         "scan.ard holds 2 more points after the 6 that the range 10 to 10.1 by 0.02 announces; "
         "ignored"},
        {"a point without its rate", blank_rate, ConversionStatus::record_error,
         "scan.ard, line 13: no count rate in columns 11-18 for point 6 of the 6 that the range 10 "
         "to 10.1 by 0.02 announces"},
        {"cut short", ArdFile{.points = 5}.text(), ConversionStatus::premature_end,
         "scan.ard ends after point 5 of the 6 that the range 10 to 10.1 by 0.02 announces"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        EXPECT_EQ(b.read(scintag_ard_codec, c.text, "scan.ard"), c.status);
        EXPECT_EQ(c.status == ConversionStatus::done ? b.ws.warnings.at(0) : b.ws.failure_reason,
                  c.said);
    }
}

TEST(ScintagArd, ReadsThenRefusesToWrite) {
    Bench b;
    b.input(ArdFile{}.text(), "scan.ard");
    b.memory_output("scan.out");
    const auto result = run_conversion(b.ws, FormatId::scintag_ard, FormatId::scintag_ard);
    EXPECT_EQ(result.read_status, ConversionStatus::done);
    EXPECT_EQ(result.write_status, ConversionStatus::not_available);
    EXPECT_EQ(b.ui.events(),
              (std::vector<std::string>{"dataset", "failure:THIS DATA FORMAT NOT YET AVAILABLE",
                                        "reset"}));
}

}  // namespace
}  // namespace qelda
