// Every scan of a file: the scans the multi-scan samples hold (their count and
// each one's first angle, step and points), the metadata each carries, the
// numbered output names and the checks of their plan.
#include <gtest/gtest.h>

#include <cmath>

#include "app/convert_cli.h"
#include "core/batch_plan.h"
#include "core/scan_info.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

struct ScanShape {
    double first, step;
    int32_t points;
};

struct MultiScanCase {
    const char* path;
    FormatId format;
    bool any_axis;
    int32_t count;
    std::vector<ScanShape> scans;  // one per scan; a single entry stands for every scan
    double first_temperature = 0;  // kelvin, of scan 1 (0: not stated)
    double last_temperature = 0;   // of the last scan
};

const MultiScanCase kMultiScan[] = {
    // The same temperature series, from the instrument's own file and its UXD export.
    {"multi_scan/Temperature.brml",
     FormatId::bruker_brml,
     false,
     22,
     {{61.5, 0.01, 501}},
     313.1,
     373.2},
    {"multi_scan/Temperature.uxd",
     FormatId::siemens_uxd,
     false,
     22,
     {{61.5, 0.01, 501}},
     313.6949,
     373.15},
    {"multi_scan/Sin2Psi.brml", FormatId::bruker_brml, false, 18, {{38, 0.02, 251}}},
    {"ras/inas_layer_radial_002_004.ras",
     FormatId::rigaku_ras,
     false,
     2,
     {{26.5, 0.004, 1501}, {56, 0.004, 2501}}},
    // A pole figure: sixteen phi scans, read only with any axis allowed.
    {"uxd/ZnCuTi_Wal_50_5x5_PF_002_R.UXD", FormatId::siemens_uxd, true, 16, {{0, 5, 72}}},
    // Four powder histograms in one CIF.
    {"pdcif/ic0111177.cif",
     FormatId::gsas_cif,
     false,
     4,
     {{4.002, 0.003, 13333}, {0, 0, 5333}, {0, 0, 9333}, {0, 0, 12666}}},
};

TEST(AllScans, MultiScanSamplesScanByScan) {
    for (const MultiScanCase& c : kMultiScan) {
        SCOPED_TRACE(c.path);
        const auto path = testing::sample(c.path);
        if (!path) GTEST_SKIP() << "sample folder absent";
        const std::string bytes = testing::read_file(*path);
        for (int32_t k = 1; k <= c.count; ++k) {
            SCOPED_TRACE(k);
            Bench b;
            b.ws.options.scan = k;
            b.ws.options.any_axis = c.any_axis;
            b.ws.options.all_scans = true;
            ASSERT_EQ(b.read(find_format(c.format)->codec, bytes, "multi"), ConversionStatus::done)
                << b.ws.failure_reason;
            EXPECT_EQ(b.ws.scan.number, k);
            EXPECT_EQ(b.ws.scan.count, c.count);
            const ScanShape& want =
                c.scans[c.scans.size() == 1 ? 0 : static_cast<std::size_t>(k - 1)];
            EXPECT_EQ(b.r().point_count, want.points);
            if (want.step > 0) {
                EXPECT_NEAR(b.r().two_theta_start, want.first, 1e-4);
                EXPECT_NEAR(b.r().two_theta_step, want.step, 1e-6);
            }
            if (c.first_temperature > 0 && (k == 1 || k == c.count)) {
                ASSERT_TRUE(b.ws.scan.temperature.has_value());
                EXPECT_NEAR(*b.ws.scan.temperature,
                            k == 1 ? c.first_temperature : c.last_temperature, 1.0);
            }
        }
    }
}

// The BRML series and its UXD export hold the same counts, scan by scan.
TEST(AllScans, TemperatureSeriesAgreesWithItsUxdExport) {
    const auto brml = testing::sample("multi_scan/Temperature.brml");
    const auto uxd = testing::sample("multi_scan/Temperature.uxd");
    if (!brml || !uxd) GTEST_SKIP() << "sample folder absent";
    const std::string a_bytes = testing::read_file(*brml), b_bytes = testing::read_file(*uxd);
    for (const int32_t k : {1, 2, 11, 22}) {
        SCOPED_TRACE(k);
        Bench a, b;
        a.ws.options.scan = b.ws.options.scan = k;
        ASSERT_EQ(a.read(bruker_brml_codec, a_bytes, "t.brml"), ConversionStatus::done);
        ASSERT_EQ(b.read(siemens_uxd_codec, b_bytes, "t.uxd"), ConversionStatus::done);
        ASSERT_EQ(a.r().point_count, b.r().point_count);
        for (int32_t i = 1; i <= a.r().point_count; ++i)
            ASSERT_EQ(a.r().intensity(i), b.r().intensity(i)) << "point " << i;
    }
}

TEST(AllScans, NamesAndTitles) {
    struct NameCase {
        const char* output;
        int32_t number, count;
        const char* expected;
    };
    const NameCase names[] = {
        {"out/t.gsa", 3, 22, "out/t_03.gsa"},    {"t.gsa", 1, 1, "t_01.gsa"},
        {"t.gsa", 7, 150, "t_007.gsa"},          {"dir.v2/t", 2, 5, "dir.v2/t_02"},
        {"/x/.hidden", 10, 12, "/x/.hidden_10"}, {"a.b.xy", 4, 9, "a.b_04.xy"},
    };
    for (const auto& c : names)
        EXPECT_EQ(scan_output_name(c.output, c.number, c.count), c.expected);

    struct TitleCase {
        std::string title;
        int32_t number, count;
        std::string expected;
    };
    const TitleCase titles[] = {
        {"TiO2 series   ", 3, 22, "TiO2 series, scan 3 of 22"},
        {"", 1, 2, "scan 1 of 2"},
        {std::string(60, 'x'), 12, 22, std::string(45, 'x') + ", scan 12 of 22"},
    };
    for (const auto& c : titles) {
        const std::string t = scan_title(c.title, c.number, c.count, 60);
        EXPECT_EQ(t, c.expected);
        EXPECT_LE(t.size(), 60u);
    }
}

using testing::CliRun;
using testing::run_cli;

// Three UXD ranges, the second a phi scan.
const std::string kThreeRanges =
    "_FILEVERSION = 1\n_SAMPLE = 'series'\n_WL1 = 1.5406\n"
    "_DRIVE = 'COUPLED'\n_START = 10\n_STEPSIZE = 0.1\n_STEPCOUNT = 3\n_V4_TEMPERATURE = 300\n"
    "_COUNTS\n1 2 3\n"
    "_DRIVE = 'PHI'\n_START = 0\n_STEPSIZE = 5\n_STEPCOUNT = 2\n_COUNTS\n4 5\n"
    "_DRIVE = 'COUPLED'\n_START = 20\n_STEPSIZE = 0.1\n_STEPCOUNT = 2\n_KHI = 45\n"
    "_COUNTS\n6 7\n";

TEST(AllScans, CommandLineOutputsAndPlan) {
    testing::ScratchDir dir;
    const std::string d = dir.path().string();
    testing::write_file(dir / "s.uxd", kThreeRanges);
    testing::write_file(dir / "q.uxd", kThreeRanges);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> written;  // files that must exist afterwards
        const char* said;                  // in stderr or stdout
    };
    const Case cases[] = {
        {{"--all-scans", d + "/s.uxd", d + "/t.dat"},
         0,
         {d + "/t_01.dat", d + "/t_03.dat"},
         "2 converted, 0 failed, 1 skipped"},
        {{"--all-scans", "--any-axis", "-t", "json", "-o", d + "/j", d + "/s.uxd", d + "/q.uxd"},
         0,
         {d + "/j/s_01.json", d + "/j/s_02.json", d + "/j/q_03.json"},
         "6 converted"},
        {{"--all-scans", "--range", "2", d + "/s.uxd", d + "/t.dat"}, 2, {}, "exclude"},
        {{"--all-scans", "-", d + "/t.dat"}, 2, {}, "standard input"},
        // s.uxd's third output would be one of the inputs.
        {{"--all-scans", "-t", "uxd", "--ext", ".uxd", d + "/s_03.uxd", d + "/s.uxd"},
         2,
         {},
         "is the input"},
    };
    testing::write_file(dir / "s_03.uxd", kThreeRanges);
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        const CliRun r = run_cli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((r.err + r.out).find(c.said), std::string::npos) << r.err << r.out;
        for (const auto& f : c.written) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "t_02.dat")) << "the phi scan was skipped";
    const std::string json = testing::read_file(dir / "j/s_03.json");
    EXPECT_NE(json.find("series, scan 3 of 3"), std::string::npos) << json;
    // Each scan's own conditions, and no other scan's.
    EXPECT_NE(json.find("\"scan\":{\"number\":3,\"count\":3,\"axis\":\"COUPLED\",\"chi\":45,"),
              std::string::npos)
        << json;
    EXPECT_EQ(json.find("temperature"), std::string::npos) << json;
    const std::string first = testing::read_file(dir / "j/s_01.json");
    EXPECT_NE(first.find("\"temperature\":300,"), std::string::npos) << first;
    EXPECT_NE(testing::read_file(dir / "j/s_02.json").find("\"axis\":\"PHI\""), std::string::npos);

    // xye and CIF say the same in their headers.
    for (const char* to : {"xye", "cif"}) {
        ASSERT_EQ(run_cli({"--all-scans", "-q", "-t", to, "-o", d + "/h", d + "/s.uxd"}).status, 0);
        const std::string text = testing::read_file(dir / "h" / (std::string("s_01.") + to));
        EXPECT_NE(text.find("Scan 1 of 3: axis COUPLED; temperature 300 K"), std::string::npos)
            << text;
    }
    EXPECT_NE(testing::read_file(dir / "h/s_01.cif").find("_diffrn_ambient_temperature 300"),
              std::string::npos);
}

}  // namespace
}  // namespace qelda
