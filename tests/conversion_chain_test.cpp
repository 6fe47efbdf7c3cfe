// Conversions chained through several formats keep every count and point.
#include <gtest/gtest.h>

#include <cmath>

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
        b.answers().header_lines = "1";  // the title line written above
        ASSERT_EQ(b.read(ascii_xy_codec, xy), ConversionStatus::done);
        ASSERT_EQ(b.r().point_count, n);
        EXPECT_NEAR(b.r().two_theta_start, 4.98f, 5e-4);
        for (int32_t i = 1; i <= n; ++i) ASSERT_EQ(b.r().intensity(i), counts[i - 1]) << i;
    }
}

}  // namespace
}  // namespace qelda
