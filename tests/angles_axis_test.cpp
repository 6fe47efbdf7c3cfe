// Angles as stated, and what is done to a pattern on the way through when
// asked: d and Q, another wavelength at equal d, an even grid by
// interpolation. Writers that hold a start and a step only refuse stated angles.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

#include "core/axis.h"
#include "core/driver.h"
#include "core/pattern_options.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::run_cli;
using testing::ScratchDir;

// The first column of every data line (lines that begin with a number).
std::vector<double> first_column(const std::string& text) {
    std::vector<double> out;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end_of_line = std::min(text.find('\n', from), text.size());
        const std::string line = text.substr(from, end_of_line - from);
        from = end_of_line + 1;
        const auto at = line.find_first_not_of(" \t");
        if (at == std::string::npos) continue;
        double v = 0;
        const auto end = line.find_first_of(" ,\t", at);
        const std::string_view field(line.data() + at,
                                     (end == std::string::npos ? line.size() : end) - at);
        if (std::from_chars(field.data(), field.data() + field.size(), v).ec == std::errc{} &&
            field.find_first_not_of("0123456789.-+eE") == std::string_view::npos)
            out.push_back(v);
    }
    return out;
}

TEST(Axis, DAndQAgainstHandComputedValues) {
    struct Case {
        double two_theta, lambda, d, q;
    } const cases[] = {
        {30, 1.5406, 2.97621066, 2.11113595},
        {90, 1.5406, 1.08936871, 5.76773067},
        {20, 0.7093, 2.04234795, 3.07645193},
        {150, 1.5406, 0.79747324, 7.87886662},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.two_theta);
        EXPECT_NEAR(axis_value(Axis::d, c.two_theta, c.lambda), c.d, 1e-7);
        EXPECT_NEAR(axis_value(Axis::q, c.two_theta, c.lambda), c.q, 1e-7);
        EXPECT_NEAR(*two_theta_of(Axis::d, c.d, c.lambda), c.two_theta, 1e-6);
        EXPECT_NEAR(*two_theta_of(Axis::q, c.q, c.lambda), c.two_theta, 1e-6);
    }
    EXPECT_FALSE(two_theta_of(Axis::d, 0.5, 1.5406)) << "below lambda/2 no angle reaches it";
    EXPECT_FALSE(two_theta_at_wavelength(120, 0.7093, 1.5406)) << "beyond 180 degrees";
}

// A record of `angles` with intensities 100, 200, ... and sigma 10, 20, ...
void fill(Bench& b, const std::vector<double>& angles, bool sigma = true) {
    PowderPattern& r = b.r();
    r.point_count = static_cast<int32_t>(angles.size());
    r.angles = angles;
    set_range_from_angles(r);
    r.lambda1 = 1.5406f;
    r.lambda2 = 1.5444f;
    r.alpha_ratio = 0.5f;
    for (int32_t i = 1; i <= r.point_count; ++i) {
        r.intensity(i) = 100.0f * static_cast<float>(i);
        if (sigma) r.sigma(i) = 10.0f * static_cast<float>(i);
    }
    b.ws.has_sigma = sigma;
}

TEST(PatternOptions, ResampleInterpolatesAndPropagatesSigma) {
    struct Case {
        std::vector<double> angles;
        double step;  // 0: auto
        int32_t points;
        float start, grid_step;
        std::vector<float> intensity, sigma;
    } const cases[] = {
        // 10, 10.1, 10.3, 10.4: the median step is 0.1; 10.2 lies halfway
        // between points 2 and 3, sigma sqrt(0.25*20^2 + 0.25*30^2).
        {{10, 10.1, 10.3, 10.4},
         0,
         5,
         10,
         0.1f,
         {100, 200, 250, 300, 400},
         {10, 20, 18.0277564f, 30, 40}},
        // A descending scan keeps its direction.
        {{20, 19.5, 19.25, 19}, 0.5, 3, 20, -0.5f, {100, 200, 400}, {10, 20, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angles.front());
        Bench b;
        fill(b, c.angles);
        b.ws.pattern_options.resample_step = c.step;
        ASSERT_EQ(apply_pattern_options(b.ws, "s.xy"), ConversionStatus::done)
            << b.ws.failure_reason;
        const PowderPattern& r = b.r();
        EXPECT_TRUE(r.angles.empty());
        ASSERT_EQ(r.point_count, c.points);
        EXPECT_FLOAT_EQ(r.two_theta_start, c.start);
        EXPECT_FLOAT_EQ(r.two_theta_step, c.grid_step);
        for (int32_t i = 1; i <= c.points; ++i) {
            EXPECT_NEAR(r.intensity(i), c.intensity[static_cast<std::size_t>(i - 1)], 1e-3) << i;
            EXPECT_NEAR(r.sigma(i), c.sigma[static_cast<std::size_t>(i - 1)], 1e-3) << i;
        }
        ASSERT_EQ(b.ws.warnings.size(), 1u);
        EXPECT_NE(b.ws.warnings[0].find("largest distance"), std::string::npos);
    }
    Bench out_of_order;
    fill(out_of_order, {10, 10.2, 10.1, 10.4});
    out_of_order.ws.pattern_options.resample_step = 0.1;
    EXPECT_EQ(apply_pattern_options(out_of_order.ws, "s.xy"), ConversionStatus::not_available);
    EXPECT_NE(out_of_order.ws.failure_reason.find("out of order"), std::string::npos);
}

TEST(PatternOptions, ToWavelengthThereAndBack) {
    Bench b;
    const std::vector<double> angles = {10, 30.5, 60, 90.25, 120, 150};
    fill(b, angles);
    b.ws.pattern_options.to_wavelength = 0.7093;
    ASSERT_EQ(apply_pattern_options(b.ws, "cu.xy"), ConversionStatus::done);
    PowderPattern& r = b.r();
    EXPECT_FLOAT_EQ(r.lambda1, 0.7093f);
    EXPECT_FLOAT_EQ(r.lambda2, 1.5444f * (0.7093f / 1.5406f));
    ASSERT_EQ(r.point_count, 6);
    // Equal d: sin(theta')/0.7093 = sin(theta)/1.5406.
    EXPECT_NEAR(r.angles[1],
                2 * std::asin(0.7093f / 1.5406f * std::sin(30.5 * M_PI / 360)) * 180 / M_PI, 1e-5);
    b.ws.pattern_options.to_wavelength = 1.5406;
    b.ws.warnings.clear();
    ASSERT_EQ(apply_pattern_options(b.ws, "mo.xy"), ConversionStatus::done);
    for (std::size_t i = 0; i < angles.size(); ++i)
        EXPECT_NEAR(r.angles[i], angles[i], 1e-4 * angles[i]) << i;

    // From Mo to Cu, the high angles pass 180 degrees: dropped, with a warning.
    Bench mo;
    fill(mo, {20, 40, 60, 80});
    mo.r().lambda1 = 0.7093f;
    mo.ws.pattern_options.to_wavelength = 1.5406;
    ASSERT_EQ(apply_pattern_options(mo.ws, "mo.xy"), ConversionStatus::done);
    EXPECT_EQ(mo.r().point_count, 2);
    EXPECT_FLOAT_EQ(mo.r().intensity(2), 200.0f);
    EXPECT_EQ(mo.r().intensity(3), 0.0f);
    EXPECT_NE(mo.ws.warnings[0].find("2 of 4 points dropped"), std::string::npos);
}

TEST(PatternOptions, WritersThatHoldStartAndStepRefuseStatedAngles) {
    const std::pair<FormatId, ConversionStatus> cases[] = {
        {FormatId::gsas, ConversionStatus::uneven_grid},
        {FormatId::stoe_raw, ConversionStatus::uneven_grid},
        {FormatId::siemens_uxd, ConversionStatus::uneven_grid},
        {FormatId::dbw, ConversionStatus::uneven_grid},
        {FormatId::ascii_xy, ConversionStatus::done},
        {FormatId::xye, ConversionStatus::done},
        {FormatId::fxye, ConversionStatus::done},
        {FormatId::gsas_cif, ConversionStatus::done},
        {FormatId::json, ConversionStatus::done},
    };
    for (const auto& [id, status] : cases) {
        const FormatInfo& f = *find_format(id);
        SCOPED_TRACE(f.short_name);
        Bench b;
        fill(b, {10, 10.1, 10.3});
        EXPECT_EQ(check_writer_holds(b.ws, f, "s.xy"), status);
        if (status != ConversionStatus::done) {
            EXPECT_NE(b.ws.failure_reason.find("--resample"), std::string::npos);
            EXPECT_EQ(
                failure_message_for(b.ws, status, true).rfind("ANGLES NOT ON AN EVEN GRID", 0), 0u);
        }
    }
}

TEST(AnglesAsStated, UnevenNeutronScanKeepsEveryAngleThroughXye) {
    QELDA_SAMPLE_OR_SKIP(path, "xy/Cr2WO6_T4K.dat");
    ScratchDir dir;
    const auto xye = dir / "cr.xye";
    const auto run = run_cli({"-q", path.string(), xye.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("kept as stated"), std::string::npos) << run.err;
    const std::vector<double> stated = first_column(testing::read_file(path));
    const std::vector<double> written = first_column(testing::read_file(xye));
    ASSERT_EQ(stated.size(), 1749u);
    ASSERT_EQ(written.size(), stated.size());
    for (std::size_t i = 0; i < stated.size(); ++i)
        ASSERT_EQ(static_cast<float>(written[i]), static_cast<float>(stated[i])) << i;

    // GSAS holds start and step: refused, pointing to --resample, which then works.
    const auto gsa = dir / "cr.gsa";
    const auto refused = run_cli({"-q", path.string(), gsa.string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("ANGLES NOT ON AN EVEN GRID"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(gsa));
    EXPECT_EQ(run_cli({"-q", "--resample", "auto", path.string(), gsa.string()}).status, 0);
}

TEST(AnglesAsStated, AxesOtherThanTwoThetaAreNamedAndNotReadBackAsAngles) {
    ScratchDir dir;
    std::string xy = "scan\n";
    for (int i = 0; i < 5; ++i)
        xy += std::to_string(20 + 10 * i) + " " + std::to_string(100 + i) + "\n";
    testing::write_file(dir / "s.xy", xy);
    struct Case {
        const char* axis;
        const char* out;
        const char* header;
        double first;
    } const cases[] = {
        {"d", "s_d.dat", "# axis d (\u00c5)", 1.5406 / (2 * std::sin(10 * M_PI / 180))},
        {"q", "s_q.xye", "# axis Q (1/\u00c5)", 4 * M_PI * std::sin(10 * M_PI / 180) / 1.5406},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.axis);
        const auto out = (dir / c.out).string();
        const auto run = run_cli(
            {"-q", "--wavelengths", "1.5406,0,0", "--axis", c.axis, (dir / "s.xy").string(), out});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string text = testing::read_file(out);
        EXPECT_NE(text.find(c.header), std::string::npos) << text;
        const std::vector<double> x = first_column(text);
        ASSERT_EQ(x.size(), 5u);
        EXPECT_NEAR(x[0], c.first, 1e-5);
        // Read back, the file is refused rather than taken for 2theta.
        const auto back = run_cli({"-q", out, (dir / "back.json").string()});
        EXPECT_EQ(back.status, 1);
        EXPECT_NE(back.err.find("states an x axis of"), std::string::npos) << back.err;
    }
    // GSAS holds 2theta only: a usage error before anything is read.
    EXPECT_EQ(run_cli({"--axis", "d", "-t", "gsas", (dir / "s.xy").string()}).status, 2);
}

// A header that says the x axis is time of flight refuses the file; a remark
// that only mentions it does not.
TEST(AnglesAsStated, HeaderLinesNamingTheAxis) {
    struct Case {
        const char* header;
        bool refused;
    } const cases[] = {
        {"' The X-axis unit is: Time-of-flight", true},
        {"# x unit: time of flight (us)", true},
        {"# axis d (\u00c5)", true},
        {"# axis Q (1/\u00c5)", true},
        {"# compare with the time-of-flight data of run 12", false},
        {"# axis 2theta (degrees)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        Bench b;
        const ConversionStatus s = b.read(find_format(FormatId::ascii_xy)->codec,
                                          std::string(c.header) + "\n10 1\n10.1 2\n10.2 3\n");
        EXPECT_EQ(s, c.refused ? ConversionStatus::not_available : ConversionStatus::done)
            << b.ws.failure_reason;
    }
}

TEST(AnglesAsStated, TimeOfFlightStaysRefused) {
    QELDA_SAMPLE_OR_SKIP(path, "xy/PG3_20254-2_10K.xye");
    ScratchDir dir;
    const auto run = run_cli({"-q", path.string(), (dir / "pg.xye").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("time-of-flight"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qelda
