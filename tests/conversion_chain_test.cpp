// Conversions chained through several formats keep every count and point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::fill_scan;

TEST(ConversionChain, UxdToGsasToXyKeepsEveryCount) {
    for (const int32_t n : {1, 10, 2459, 100000}) {
        SCOPED_TRACE(n);
        Bench b;
        fill_scan(b.r(), n, 4.98f, 0.04f);
        for (int32_t i = 1; i <= n; ++i) b.r().intensity(i) = std::trunc(b.r().intensity(i) * 37);
        const std::vector<float> counts(b.r().intensity.data(), b.r().intensity.data() + n);
        std::string uxd, gsas, xy;
        ASSERT_EQ(b.write(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.write(gsas_codec, gsas), ConversionStatus::done);
        ASSERT_EQ(b.read(gsas_codec, gsas), ConversionStatus::done);
        ASSERT_EQ(b.write(ascii_xy_codec, xy), ConversionStatus::done);
        b.answers().header_lines.assign(1, '1');  // the title line written above
        ASSERT_EQ(b.read(ascii_xy_codec, xy), ConversionStatus::done);
        ASSERT_EQ(b.r().point_count, n);
        EXPECT_NEAR(b.r().two_theta_start, 4.98f, 5e-4);
        for (int32_t i = 1; i <= n; ++i) ASSERT_EQ(b.r().intensity(i), counts[i - 1]) << i;
    }
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

TEST(ConversionChain, XyToUxdToXyKeepsAnglesAndIntensities) {
    Bench b;
    std::string xy;
    for (int i = 0; i < 1500; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%.3f %d.250\n", 10.0 + i * 0.02, 100 + i % 313);
        xy += line;
    }
    ASSERT_EQ(b.read(ascii_xy_codec, xy), ConversionStatus::done);
    std::vector<float> first(b.r().intensity.data(), b.r().intensity.data() + 1500);
    std::string uxd, back;
    ASSERT_EQ(b.write(siemens_uxd_codec, uxd), ConversionStatus::done);
    ASSERT_EQ(b.read(siemens_uxd_codec, uxd), ConversionStatus::done);
    b.answers().write_title = false;
    ASSERT_EQ(b.write(ascii_xy_codec, back), ConversionStatus::done);
    ASSERT_EQ(b.read(ascii_xy_codec, back), ConversionStatus::done);
    ASSERT_EQ(b.r().point_count, 1500);
    const auto lines = testing::lines_of(back);
    for (int i = 0; i < 1500; ++i) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%7.3f", 10.0 + i * 0.02);
        ASSERT_EQ(lines[static_cast<std::size_t>(i)].substr(2, 7), expected) << i;
        // UXD keeps the fraction of a count.
        ASSERT_EQ(b.r().intensity(i + 1), first[static_cast<std::size_t>(i)]) << i;
    }
}

TEST(ConversionChain, UxdToStoeRawToUxdKeepsEveryCount) {
    for (const int32_t n : {1, 8, 2751, 32767}) {
        SCOPED_TRACE(n);
        Bench b;
        fill_scan(b.r(), n, 5.0f, 0.015f);
        for (int32_t i = 1; i <= n; ++i) b.r().intensity(i) = std::trunc(b.r().intensity(i) * 911);
        const std::vector<float> counts(b.r().intensity.data(), b.r().intensity.data() + n);
        std::string uxd, raw, again;
        ASSERT_EQ(b.write(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, uxd), ConversionStatus::done);
        ASSERT_EQ(b.write(stoe_raw_codec, raw), ConversionStatus::done);
        ASSERT_EQ(b.read(stoe_raw_codec, raw), ConversionStatus::done);
        ASSERT_EQ(b.write(siemens_uxd_codec, again), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, again), ConversionStatus::done);
        ASSERT_EQ(b.r().point_count, n);
        for (int32_t i = 1; i <= n; ++i) ASSERT_EQ(b.r().intensity(i), counts[i - 1]) << i;
    }
}

}  // namespace
}  // namespace qelda
