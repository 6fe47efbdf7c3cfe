// Philips RD files built from their layout: good V3 and V5 files, and the ways
// a file can go wrong.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

struct Rd {
    std::string magic = "V3RD";
    double step = 0.02, start = 10.0, end = 10.06;
    double a1 = 1.5406, a2 = 1.54439, ratio = 0.5;
    std::vector<uint16_t> values = {100, 200, 300, 400};
    std::string sample = "Quartz";

    std::string bytes() const {
        const std::size_t data = magic == "V5RD" ? 810 : 250;
        std::string b(data, '\0');
        b.replace(0, 4, magic);
        auto put = [&](std::size_t at, double v) {
            const auto u = std::bit_cast<uint64_t>(v);
            for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
        };
        put(94, a1);
        put(102, a2);
        put(110, ratio);
        b.replace(146, sample.size(), sample);
        put(214, step);
        put(222, start);
        put(230, end);
        for (uint16_t v : values) {
            b += static_cast<char>(v & 0xFF);
            b += static_cast<char>(v >> 8);
        }
        return b;
    }
};

TEST(PhilipsRd, BuiltFiles) {
    struct Case {
        const char* what;
        Rd rd;
        ConversionStatus status;
        const char* phrase;
    };
    Rd v5;
    v5.magic = "V5RD";
    Rd extra;
    extra.values.push_back(7);
    Rd cut;
    cut.values.pop_back();
    Rd uneven;
    uneven.end = 10.07;
    Rd backwards;
    backwards.end = 9.0;
    Rd no_step;
    no_step.step = 0.0;
    Rd blank_ratio;
    blank_ratio.ratio = 6e-154;
    Rd huge;
    huge.end = 10.0 + 0.02 * 200000;
    const Case cases[] = {
        {"V3", Rd{}, ConversionStatus::done, ""},
        {"V5", v5, ConversionStatus::done, ""},
        {"a value past the stated points", extra, ConversionStatus::done,
         "holds 1 value past the 4 its header states; ignored"},
        {"cut inside the counts", cut, ConversionStatus::premature_end,
         "holds 3 of the 4 values its header states"},
        {"end off the step grid", uneven, ConversionStatus::record_error,
         "do not make a whole number of steps"},
        {"end before start", backwards, ConversionStatus::record_error, "no usable scan"},
        {"no step", no_step, ConversionStatus::record_error, "no usable scan"},
        {"a blank ratio", blank_ratio, ConversionStatus::done, "no usable intensity ratio"},
        {"more points than can be held", huge, ConversionStatus::too_many_points,
         "more than can be held"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        if (!b.read_as_expected(philips_rd_codec, c.rd.bytes(), "scan.rd", c.status, c.phrase))
            continue;
        EXPECT_EQ(b.r().point_count, 4);
        EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
        EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.02f);
        // Ten times the square root of the counts is kept.
        EXPECT_FLOAT_EQ(b.r().intensity(1), 100.0f);
        EXPECT_FLOAT_EQ(b.r().intensity(4), 1600.0f);
        EXPECT_FLOAT_EQ(b.r().lambda1, 1.5406f);
        EXPECT_FLOAT_EQ(b.r().lambda2, 1.54439f);
        EXPECT_FLOAT_EQ(b.r().alpha_ratio, 0.5f);
        EXPECT_EQ(trim_right(b.r().title), "Quartz");
    }
    // Cut inside the header, and a file of another kind.
    Bench b;
    b.read_as_expected(philips_rd_codec, Rd{}.bytes().substr(0, 240), "scan.rd",
                       ConversionStatus::premature_end,
                       "ends inside its header (240 of 250 bytes)");
    b.read_as_expected(philips_rd_codec, "RAW1.01 something", "scan.rd",
                       ConversionStatus::not_available, "not a Philips RD file");
}

}  // namespace
}  // namespace qelda
