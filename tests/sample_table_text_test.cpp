// The real x-y, DBW and UDF files of the sample folder: what each one reads
// as (points, first and last angle, first and last count and sigma), or the
// reason it is refused; and, where xyconv is installed, that it reads the
// same points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace qelda {
namespace {

struct SampleCase {
    const char* path;
    CodecRoutine codec;
    bool sigma;  // x-y: read a third column
    ConversionStatus status;
    int32_t points;
    double x_first, x_last, y_first, y_last, s_first, s_last;
    const char* said;         // a phrase of the reason, or of the read's warning
    const char* xyconv_type;  // the same file under xyconv, or nullptr
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.path;
}

constexpr auto kDone = ConversionStatus::done;
constexpr auto kRefused = ConversionStatus::record_error;

const SampleCase kSamples[] = {
    // x-y, with the header lines the reader detects.
    {"xy/Ba6Co6.xye", ascii_xy_codec, false, kDone, 3120, 4.0, 159.95, 90, 74, 0, 0, "", "text"},
    {"xy/Example.xye", ascii_xy_codec, true, kDone, 9751, 5.0, 44.0, 81.96, 68.28, 10.952, 3.54, "",
     nullptr},  // xyconv takes the wavelength line for a point
    {"xy/LA_P-37cd_DUT-52(Zr)_act_EtOH.xyd", ascii_xy_codec, false, kDone, 2704, 5.0, 45.545, 1800,
     429, 0, 0, "", "text"},
    {"xy/LA_P37cd_DUT52Zr-Thermo-XRD-5-90-45min_25C_1.xy", ascii_xy_codec, false, kDone, 6474,
     5.00116514, 89.99348491, 90, 43, 0, 0, "", "text"},
    {"xy/PD-01-02(1).dat", ascii_xy_codec, false, kDone, 3945, 20.0, 84.9, 0, 2891, 0, 0, "",
     nullptr},
    {"xy/Tutorial_04.xye", ascii_xy_codec, false, kDone, 2701, 7.0, 61.0, 3690, 331, 0, 0, "",
     nullptr},
    {"xy/pesa.txt", ascii_xy_codec, false, kDone, 41, 4.2, 6.2, 0.7, 7.5, 0, 0, "", "text"},
    {"xy/qtzquin.asc", ascii_xy_codec, false, kDone, 301, 67.0, 70.0, 7, 11, 0, 0, "", "text"},
    {"xy/test_RampDown-00000.xye", ascii_xy_codec, true, kDone, 2500, 0.5, 6.79748, 2597.34011,
     2659.457021, 50.964106, 51.569924, "", "text"},
    {"xy/xy_text.txt", ascii_xy_codec, false, kDone, 4001, 20.0, 100.0, 49, 29, 0, 0, "", "text"},
    // Time of flight, refused for what its header says; angles off an even
    // grid, kept as stated: a neutron scan in two steps, and a hand-made file
    // stepping 0.02 then 0.01.
    {"xy/PG3_20254-2_10K.xye", ascii_xy_codec, true, ConversionStatus::not_available, 0, 0, 0, 0, 0,
     0, 0, "PG3_20254-2_10K.xye, line 3 states an x axis of time-of-flight", nullptr},
    {"xy/Cr2WO6_T4K.dat", ascii_xy_codec, true, kDone, 1749, 8.0, 128.694, 57.999, 69.357, 7.616,
     5.889, "Cr2WO6_T4K.dat, line 3: 2theta 8.175 is the first angle off one even grid", nullptr},
    {"xy/small.tsv", ascii_xy_codec, false, kDone, 5, 10.0, 10.06, 49.5, 21, 0, 0,
     "small.tsv, line 3: 2theta 10.04 is the first angle off one even grid", nullptr},
    // DBW files of other programs.
    {"dbws_like/hmt.dat", dbw_codec, false, kDone, 7751, 5.0, 160.0, 492, 505, 0, 0, "", "dbws"},
    {"dbws_like/si3n4r.dat", dbw_codec, false, kDone, 1700, 4.0, 139.92, 1471, 2225, 0, 0, "",
     "dbws"},
    {"dbws_like/Quinoli.dat", dbw_codec, false, kDone, 7361, 7.5, 36.94, 345.2, 196.7, 18.34, 13.64,
     "a line of sigmas after each line of intensities", nullptr},
    // UDF.
    {"udf/01H2W13.UDF", philips_udf_codec, false, kDone, 2901, 2.0, 60.0, 253, 174, 0, 0, "",
     "philips_udf"},
    {"udf/CHKMAG_1.UDF", philips_udf_codec, false, kDone, 2901, 2.0, 60.0, 202, 79, 0, 0, "",
     "philips_udf"},
    {"udf/ZEOLITE.UDF", philips_udf_codec, false, kDone, 1700, 2.0, 69.96, 467, 50, 0, 0, "",
     "philips_udf"},
    {"udf/sample1.udf", philips_udf_codec, false, kDone, 4649, 10.0, 102.96, 1048, 442, 0, 0, "",
     "philips_udf"},
    {"udf/sample2.udf", philips_udf_codec, false, kDone, 876, 5.0, 40.0, 665, 266, 0, 0, "",
     "philips_udf"},
    {"udf/sample1_from_philips_rd_dir.udf", philips_udf_codec, false, kRefused, 0, 0, 0, 0, 0, 0, 0,
     "line 233: the counts end after count 1696, but the angle range of the header (10 to 43.92 "
     "by 0.02) announces 1697",
     nullptr},
};

double near(double v) {
    return 2e-6 * std::max(1.0, std::fabs(v));
}

class TextSample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(TextSample, ReadsOrIsRefusedWithItsReason) {
    const SampleCase& c = GetParam();
    QELDA_SAMPLE_OR_SKIP(path, c.path);
    testing::Bench b;
    b.answers().read_sigma = c.sigma;  // header lines: the detected number
    ASSERT_EQ(b.read(c.codec, testing::read_file(path), path.filename().string()), c.status)
        << b.ws.failure_reason;
    const std::string said = b.ws.failure_reason + (b.ws.warnings.empty() ? "" : b.ws.warnings[0]);
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    if (c.status != kDone) return;
    const PowderPattern& r = b.r();
    ASSERT_EQ(r.point_count, c.points);
    EXPECT_NEAR(r.two_theta_start, c.x_first, near(c.x_first));
    // Angles stated off an even grid are kept; otherwise the grid's last angle.
    if (r.angles.empty())
        EXPECT_NEAR(r.two_theta_start + (c.points - 1) * static_cast<double>(r.two_theta_step),
                    c.x_last, 5e-4);
    else
        EXPECT_EQ(r.angles.back(), c.x_last);
    EXPECT_NEAR(r.intensity(1), c.y_first, near(c.y_first));
    EXPECT_NEAR(r.intensity(c.points), c.y_last, near(c.y_last));
    if (c.s_first != 0) {
        EXPECT_NEAR(r.sigma(1), c.s_first, near(c.s_first));
        EXPECT_NEAR(r.sigma(c.points), c.s_last, near(c.s_last));
    }
}

// The table is what xyconv reads from the same files.
TEST_P(TextSample, AgreesWithXyconv) {
    const SampleCase& c = GetParam();
    if (c.xyconv_type == nullptr) GTEST_SKIP() << "no xyconv reading to compare";
    QELDA_SAMPLE_OR_SKIP(path, c.path);
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) GTEST_SKIP() << "xyconv absent";
    const std::string command =
        std::string("xyconv -s -t ") + c.xyconv_type + " '" + path.string() + "' - 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::vector<double>> rows;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr) {
        if (buf[0] == '#') continue;
        std::vector<double> row;
        char* p = buf;
        char* end = nullptr;
        for (double v = std::strtod(p, &end); end != p; v = std::strtod(p, &end)) {
            row.push_back(v);
            p = end;
        }
        if (row.size() >= 2) rows.push_back(std::move(row));
    }
    ASSERT_EQ(::pclose(pipe), 0);
    ASSERT_EQ(static_cast<int32_t>(rows.size()), c.points);
    // xyconv reads hmt.dat's step ".0200" as 0; its DBW angles are not compared.
    if (std::string(c.xyconv_type) != "dbws") {
        EXPECT_NEAR(rows.front()[0], c.x_first, 1e-5);
        EXPECT_NEAR(rows.back()[0], c.x_last, 1e-5);
    }
    EXPECT_NEAR(rows.front()[1], c.y_first, 1e-5);
    EXPECT_NEAR(rows.back()[1], c.y_last, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Samples, TextSample, ::testing::ValuesIn(kSamples), [](const auto& info) {
    std::string name;
    for (const char ch : std::string(info.param.path))
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
});

}  // namespace
}  // namespace qelda
