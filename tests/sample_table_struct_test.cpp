// The real GSAS, CIF, UXD, Stoe raw, Philips RD and Rigaku text files of the sample folder, each
// with what it must give: the values an independent reader (xylib's xyconv) or the file itself
// gives, or a refusal with its reason. None may read wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/driver.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// Where the expected values come from, beyond the numbers of the table.
enum class Oracle {
    file,        // the table's numbers, taken from the file by hand
    fxye,        // every row of the file: 2theta in centidegrees, intensity, esd
    xyconv_uxd,  // every point of xyconv's first block
    xyconv_cif,
    // xyconv's Philips RD reader keeps whole counts, up to one below ours (we
    // keep the fraction of value squared over 100), and cuts the point count down
    // when start, end and step make a hair less than a whole number of steps.
    xyconv_rd,
    xyconv_rigaku_dat,
};

struct Sample {
    const char* path;
    FormatId format;
    Oracle oracle;
    int32_t points;  // 0: refused
    float start, step, first, last;
    double sum;          // of the intensities; 0 when not checked
    const char* phrase;  // in the reason of a refusal, or in the warnings ("" none)
};

void PrintTo(const Sample& s, std::ostream* os) {
    *os << s.path;
}

struct Points {
    std::vector<double> x, y, e;
};

// The first block of what `xyconv -s -t TYPE` reads, or nullopt without xyconv.
std::optional<Points> xyconv_first_block(const std::filesystem::path& file, const char* type) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string cmd =
        std::string("xyconv -s -t ") + type + " '" + file.string() + "' - 2>/dev/null";
    std::FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    // The column titles follow the block line; xyconv puts the angle and the
    // intensity where the file has them.
    Points p;
    std::istringstream in(text);
    std::string line;
    int blocks = 0;
    std::size_t x_col = 0, y_col = 1;
    while (std::getline(in, line)) {
        if (line.starts_with("### block")) {
            if (++blocks > 1) break;
            if (!std::getline(in, line) || !line.starts_with("# ")) continue;
            std::vector<std::string> titles;
            std::istringstream t(line.substr(2));
            for (std::string title; t >> title;) titles.push_back(title);
            for (std::size_t k = titles.size(); k-- > 0;) {
                if (titles[k] == "meas_2theta" || titles[k] == "meas_2theta_scan") x_col = k;
                if (titles[k] == "meas_intensity_total" || titles[k] == "meas_counts_total")
                    y_col = k;
            }
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        std::vector<double> values;
        std::istringstream v(line);
        for (double d; v >> d;) values.push_back(d);
        if (values.size() > std::max(x_col, y_col)) {
            p.x.push_back(values[x_col]);
            p.y.push_back(values[y_col]);
        }
    }
    return p;
}

// The rows after the BANK record of an FXYE file, split by blanks.
Points fxye_rows(const std::string& text) {
    Points p;
    std::istringstream in(text);
    std::string line;
    bool data = false;
    while (std::getline(in, line)) {
        if (line.starts_with("BANK")) {
            if (data) break;
            data = true;
            continue;
        }
        double x = 0, y = 0, e = 0;
        if (data && std::sscanf(line.c_str(), "%lf %lf %lf", &x, &y, &e) == 3) {
            p.x.push_back(x / 100.0);
            p.y.push_back(y);
            p.e.push_back(e);
        }
    }
    return p;
}

class StructSamples : public ::testing::TestWithParam<Sample> {};

TEST_P(StructSamples, ReadRightOrRefusedWithReason) {
    const Sample& s = GetParam();
    QELDA_SAMPLE_OR_SKIP(path, s.path);
    Bench b;
    ASSERT_EQ(b.ws.input().open(path.string()), Outcome::done);
    const ConversionResult result = run_conversion(b.ws, s.format, FormatId::none);
    std::string warnings;
    for (const auto& w : result.warnings) warnings += w + "\n";
    if (s.points == 0) {
        EXPECT_FALSE(result.succeeded());
        EXPECT_NE(result.reason.find(s.phrase), std::string::npos) << result.reason;
        return;
    }
    ASSERT_EQ(result.read_status, ConversionStatus::done) << result.reason;
    EXPECT_NE(warnings.find(s.phrase), std::string::npos) << warnings;
    if (std::string_view(s.phrase).empty()) {
        EXPECT_EQ(warnings, "");
    }
    const PowderPattern& r = b.r();
    ASSERT_EQ(r.point_count, s.points);
    EXPECT_FLOAT_EQ(r.two_theta_start, s.start);
    EXPECT_FLOAT_EQ(r.two_theta_step, s.step);
    // The driver adds 0.001 to every point of a scan that holds a count below it.
    const auto near = [](double want) { return 0.0011 + std::fabs(want) * 1e-6; };
    EXPECT_NEAR(r.intensity(1), s.first, near(s.first));
    EXPECT_NEAR(r.intensity(s.points), s.last, near(s.last));
    if (s.sum != 0.0) {
        double sum = 0.0;
        for (int32_t i = 1; i <= r.point_count; ++i) sum += r.intensity(i);
        EXPECT_NEAR(sum, s.sum, s.sum * 1e-6 + 0.001 * r.point_count);
    }

    std::optional<Points> expected;
    switch (s.oracle) {
        case Oracle::file:
            return;
        case Oracle::fxye:
            expected = fxye_rows(testing::read_file(path));
            break;
        case Oracle::xyconv_uxd:
            expected = xyconv_first_block(path, "uxd");
            break;
        case Oracle::xyconv_cif:
            expected = xyconv_first_block(path, "pdcif");
            break;
        case Oracle::xyconv_rd:
            expected = xyconv_first_block(path, "philips_rd");
            break;
        case Oracle::xyconv_rigaku_dat:
            expected = xyconv_first_block(path, "rigaku_dat");
            break;
    }
    if (!expected) GTEST_SKIP() << "xyconv absent";
    const bool rd = s.oracle == Oracle::xyconv_rd;
    const auto compared = static_cast<int32_t>(expected->y.size());
    if (rd)
        ASSERT_TRUE(compared == r.point_count || compared + 1 == r.point_count) << compared;
    else
        ASSERT_EQ(compared, r.point_count);
    for (int32_t i = 1; i <= compared; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        if (rd)
            ASSERT_NEAR(r.intensity(i), expected->y[k], 1.001) << "point " << i;
        else
            ASSERT_NEAR(r.intensity(i), expected->y[k], near(expected->y[k])) << "point " << i;
        if (!expected->e.empty()) {
            ASSERT_FLOAT_EQ(r.sigma(i), static_cast<float>(expected->e[k])) << "point " << i;
        }
        // Each point stays at its angle, within the rounding of the file and less
        // than half a step.
        ASSERT_NEAR(r.two_theta_start + (i - 1) * double{r.two_theta_step}, expected->x[k],
                    std::min(0.006, std::fabs(double{r.two_theta_step}) / 2))
            << "point " << i;
    }
}

constexpr auto G = FormatId::gsas;
constexpr auto C = FormatId::gsas_cif;
constexpr auto U = FormatId::siemens_uxd;
constexpr auto S = FormatId::stoe_raw;
constexpr auto P = FormatId::philips_rd;
constexpr auto R = FormatId::rigaku_dat;
constexpr auto N = FormatId::nexus;
using O = Oracle;

INSTANTIATE_TEST_SUITE_P(
    Files, StructSamples,
    ::testing::Values(
        // GSAS: STD and ESD records, with the sums of their counts.
        Sample{"gsas/105870-pe-GaPO4_ed.gsas", G, O::file, 2250, 0.01f, 0.02f, 0, 354, 1354495,
               "more data than the BANK record announces"},
        Sample{"gsas/A_SI3N4.XRA", G, O::file, 5500, 10.0f, 0.02f, 77, 197, 916844, ""},
        Sample{"gsas/FAP.XRA", G, O::file, 5753, 15.0f, 0.02f, 609, 0, 1827364, ""},
        Sample{"gsas/PBSO4.CWN", G, O::file, 2919, 10.0f, 0.05f, 220, 450, 1097617,
               "more data than the BANK record announces"},
        Sample{"gsas/2amino.gda", G, O::file, 16001, 6.0f, 0.002f, 492.1f, 1772.1f, 13816143.4, ""},
        Sample{"gsas/Er2Ge2O7_op2112_Ge113_0p5K.gss", G, O::file, 2459, 2.025f, 0.05f, 786.91f,
               214.37f, 755879.26, ""},
        Sample{"gsas/LaMnO3_50k.gsas", G, O::file, 3296, 3.0f, 0.05f, 523, 681, 1410261, ""},
        Sample{"gsas/al2o3001.gsa", G, O::file, 3300, 3.0f, 0.05f, 119, 203, 479736, ""},
        Sample{"gsas/11bmb_6231.fxye", G, O::fxye, 49497, 0.5f, 0.001f, 387.774303f, 82.194347f, 0,
               ""},
        Sample{"gsas/11bmb_0842.fxye", G, O::fxye, 23699, 0.499f, 0.001f, 36.198f, 12.4583f, 0, ""},
        Sample{"gsas/11bmb_8341.fxye", G, O::fxye, 49498, 0.5f, 0.001f, 277.13177f, 49.859258f, 0,
               ""},
        Sample{"gsas/6719.dat", G, O::file, 0, 0, 0, 0, 0, 0, "time-of-flight data (TIME_MAP"},
        Sample{"gsas/sf6_190gsas.dat", G, O::file, 0, 0, 0, 0, 0, 0, "time-of-flight data (RALF"},
        // The BANK record announces 2415 points; the records hold 2395.
        Sample{"gsas/PrSrMnO.gda", G, O::file, 0, 0, 0, 0, 0, 0, "holds 5 of the 10 values"},
        // CIF: the first block as xyconv reads it.
        Sample{"pdcif/1517474.cif", C, O::xyconv_cif, 3296, 1.5f, 0.05f, 5540, 797, 0, ""},
        Sample{"pdcif/ic0111177.cif", C, O::xyconv_cif, 13333, 4.002f, 0.003f, 29, 49, 0,
               "holds 4 powder data blocks; block 1 converted"},
        Sample{"pdcif/single_one.cif", C, O::xyconv_cif, 13, 10.0f, 5.0f, 1, 1, 0, ""},
        // xyconv does not read CIF 2 names: the numbers are the file's.
        Sample{"pdcif/second_short.cif", C, O::file, 6313, 20.0f, 0.0142595f, 79, 20, 0,
               "intensities are processed (_pd_proc.intensity_total)"},
        Sample{"pdcif/NISI.cif", C, O::file, 0, 0, 0, 0, 0, 0, "time-of-flight"},
        Sample{"pdcif/ic034984fsi20030819_115442.cif", C, O::file, 0, 0, 0, 0, 0, 0,
               "time-of-flight"},
        Sample{"pdcif/1829.cif", C, O::file, 0, 0, 0, 0, 0, 0, "has no loop of"},
        // UXD: as xyconv reads the first range.
        Sample{"uxd/BT86_.UXD", U, O::xyconv_uxd, 2374, 3.0f, 0.015592f, 187, 269, 0, ""},
        Sample{"uxd/CDLY14F34.UXD", U, O::xyconv_uxd, 3921, 4.5f, 0.021811f, 162, 31, 0, ""},
        Sample{"uxd/ComPlat_input.uxd", U, O::xyconv_uxd, 327, 93.0001f, 0.015327f, 10.3125f,
               13.20312f, 0, ""},
        Sample{"uxd/PD-01-02(2).UXD", U, O::xyconv_uxd, 3945, 20.0f, 0.016455f, 2782, 2800, 0, ""},
        Sample{"uxd/sample1.uxd", U, O::xyconv_uxd, 4657, 10.0f, 0.02f, 1048, 434, 0, ""},
        Sample{"uxd/sample2.uxd", U, O::xyconv_uxd, 876, 4.98f, 0.04f, 665, 266, 0, ""},
        Sample{"uxd/sample3.uxd", U, O::xyconv_uxd, 3601, 3.99f, 0.02f, 2668, 622, 0, ""},
        Sample{"uxd/sample6.uxd", U, O::xyconv_uxd, 5801, 3.99f, 0.02f, 29285, 1039, 0, ""},
        Sample{"uxd/synchro.uxd", U, O::xyconv_uxd, 4157, 5.05f, 0.01f, 141, 340, 0, ""},
        Sample{"uxd/ZnCuTi_Wal_50_5x5_PF_002_R.UXD", U, O::file, 0, 0, 0, 0, 0, 0,
               "range 1 scans PHI (_DRIVE='PHI'), not 2theta"},
        // Stoe raw: the counts of its x-y export; Bruker RAW files are refused.
        Sample{"stoe_raw/LA_P-37cd_DUT-52(Zr)_act_EtOH.raw", S, O::file, 2704, 5.0f, 0.015f, 1800,
               429, 6154015, ""},
        Sample{"bruker_raw/BT86.raw", S, O::file, 0, 0, 0, 0, 0, 0, "is a Bruker RAW file"},
        Sample{"bruker_raw/Cu3Au-1.raw", S, O::file, 0, 0, 0, 0, 0, 0, "is a Bruker RAW file"},
        Sample{"bruker_raw/bruker_v4.raw", S, O::file, 0, 0, 0, 0, 0, 0, "is a Bruker RAW file"},
        Sample{"bruker_raw/format1.raw", S, O::file, 0, 0, 0, 0, 0, 0, "is a Bruker RAW file"},
        // Philips RD: value squared over 100; xyconv's whole counts.
        Sample{"philips_rd/BAUXITE.RD", P, O::xyconv_rd, 7251, 5.0f, 0.02f, 179.56f, 43.56f, 0, ""},
        Sample{"philips_rd/MANNITOL.RD", P, O::xyconv_rd, 4751, 5.0f, 0.02f, 196.0f, 148.84f, 0,
               ""},
        // Written by a converter: one word past the points, no ratio. Its last
        // point is that of rigaku_text/sample1r.dat (103.12), which xyconv drops.
        Sample{"philips_rd/SAMPLE1.RD", P, O::xyconv_rd, 4657, 10.0f, 0.02f, 1043.29f, 432.64f, 0,
               "holds 1 value past the 4657 its header states"},
        Sample{"philips_rd/Sample3.rd", P, O::xyconv_rd, 3602, 3.99f, 0.02f, 2662.56f, 1780.84f, 0,
               "no usable intensity ratio"},
        Sample{"rigaku_text/sample1r.dat", R, O::xyconv_rigaku_dat, 4657, 10.0f, 0.02f, 1048, 434,
               0, "names its intensity unit cps"},
        Sample{"rigaku_text/sample2r.dat", R, O::xyconv_rigaku_dat, 876, 5.0f, 0.04f, 665, 266, 0,
               "names its intensity unit cps"},
        Sample{"rigaku_text/sample3r.dat", R, O::xyconv_rigaku_dat, 3601, 4.0f, 0.02f, 2668, 622, 0,
               "names its intensity unit cps"},
        // NeXus 4 files of a neutron powder instrument, no definition named.
        Sample{"nexus/dmc01.h5", N, O::file, 400, 18.3f, 0.2f, 94, 105, 0, ""},
        Sample{"nexus/dmc02.h5", N, O::file, 400, 18.4f, 0.2f, 114, 116, 0, ""}));

}  // namespace
}  // namespace qelda
