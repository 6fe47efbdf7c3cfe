// The readers of today's instrument files: XRDML, BRML, RAS and RASX. Real
// files must read with the values of an independent reader (xyconv) or their
// own numbers; synthetic files cover the choice among scans, refused axes,
// attenuation, counts per second, listed angles and missing wavelengths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "formats/zip_archive.h"
#include "tests/test_support.h"
#include "tests/zip_fixture.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::make_zip;
using testing::ZipEntry;

CodecRoutine codec_of(FormatId id) {
    return find_format(id)->codec;
}

bool has_text(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& t : texts)
        if (t.find(part) != std::string::npos) return true;
    return false;
}

// ---- real files -----------------------------------------------------------

struct SampleCase {
    const char* path;
    FormatId format;
    int32_t scan;
    int32_t points;
    double first, last;
    float first_count, last_count;
    const char* warning;  // part of a warning, or ""
};

const SampleCase kSamples[] = {
    {"xrdml/empyrean.xrdml", FormatId::xrdml, 1, 196, 30.05, 41.75, 8, 6, ""},
    {"xrdml/XRD-918-16_10.xrdml", FormatId::xrdml, 1, 5027, 4.00656514, 69.99936587, 1305, 171, ""},
    // <counts> with beamAttenuationFactors: 2theta-omega, one point through the attenuator.
    {"xrdml/m54313_om2th_10.xrdml", FormatId::xrdml, 1, 1800, 26.025, 79.995, 0, 0, ""},
    {"brml/23-012-AG_2thomegascan_long.brml", FormatId::bruker_brml, 1, 2001, 44, 48, 3, 2, ""},
    {"ras/inas_layer_radial_002_004.ras", FormatId::rigaku_ras, 1, 1501, 26.5, 32.5, 51.4986f,
     34.9946f, "holds 2 scans; scan 1 converted"},
    {"ras/inas_layer_radial_002_004.ras", FormatId::rigaku_ras, 2, 2501, 56, 66, 23.9509f,
     107.0164f, "holds 2 scans; scan 2 converted"},
    {"rasx/TwoTheta_scan_powder.rasx", FormatId::rigaku_rasx, 1, 2726, 10, 119, 170.553543f,
     13.8521061f, ""},
};

TEST(InstrumentScans, SamplesReadWithTheirOwnNumbers) {
    if (!testing::sample("xrdml")) GTEST_SKIP() << "sample folder absent";
    for (const SampleCase& c : kSamples) {
        SCOPED_TRACE(std::string(c.path) + " scan " + std::to_string(c.scan));
        QELDA_SAMPLE_OR_SKIP(path, c.path);
        Bench b;
        b.ws.options.scan = c.scan;
        ASSERT_EQ(b.read(codec_of(c.format), testing::read_file(path), path.filename().string()),
                  ConversionStatus::done)
            << b.ws.failure_reason;
        const PowderPattern& r = b.r();
        EXPECT_EQ(r.point_count, c.points);
        EXPECT_NEAR(r.two_theta_start, c.first, 1e-5);
        EXPECT_NEAR(r.two_theta_end, c.last, 1e-4);
        EXPECT_FLOAT_EQ(r.intensity(1), c.first_count);
        EXPECT_FLOAT_EQ(r.intensity(c.points), c.last_count);
        EXPECT_GT(r.lambda1, 1.5f);  // every one is a copper tube
        EXPECT_TRUE(b.ui.events().empty()) << "no prompt: the files name their wavelengths";
        if (*c.warning) {
            EXPECT_TRUE(has_text(b.ws.warnings, c.warning));
        }
    }
}

// Attenuated points: stored multiplied by their factor, with sqrt(raw)*factor
// as the uncertainty.
TEST(InstrumentScans, SamplePointsThroughTheAttenuatorAreScaledUp) {
    struct Spot {
        const char* path;
        FormatId format;
        int32_t point;
        float count, sigma;
    };
    const Spot spots[] = {
        {"xrdml/m54313_om2th_10.xrdml", FormatId::xrdml, 1337, 1877.0f * 188.0f,
         std::sqrt(1877.0f) * 188.0f},
        // Stored already multiplied by the absorber factor 8.3.
        {"brml/23-012-AG_2thomegascan_long.brml", FormatId::bruker_brml, 896, 213600.5f,
         std::sqrt(213600.5f * 8.3f)},
    };
    for (const Spot& s : spots) {
        QELDA_SAMPLE_OR_SKIP(path, s.path);
        Bench b;
        ASSERT_EQ(b.read(codec_of(s.format), testing::read_file(path)), ConversionStatus::done);
        EXPECT_FLOAT_EQ(b.r().intensity(s.point), s.count) << s.path;
        EXPECT_NEAR(b.r().sigma(s.point), s.sigma, 0.01f * s.sigma) << s.path;
        EXPECT_FLOAT_EQ(b.r().sigma(1), std::sqrt(b.r().intensity(1))) << s.path;
    }
}

// xyconv (Debian libxy-bin) reads XRDML <intensities>: every point must agree.
// The BRML files and the RAW files written from the same measurements read
// alike, point by point.
TEST(InstrumentScans, BrmlReadsAsItsRawTwin) {
    for (const std::string name : {"BaZrS3", "SbI3"}) {
        SCOPED_TRACE(name);
        const auto brml_path = testing::sample("brml/" + name + ".brml");
        const auto raw_path = testing::sample("bruker_raw/" + name + ".raw");
        if (!brml_path || !raw_path) GTEST_SKIP() << "sample folder absent";
        Bench a, b;
        ASSERT_EQ(
            a.read(codec_of(FormatId::bruker_brml), testing::read_file(*brml_path), name + ".brml"),
            ConversionStatus::done)
            << a.ws.failure_reason;
        ASSERT_EQ(
            b.read(codec_of(FormatId::bruker_raw), testing::read_file(*raw_path), name + ".raw"),
            ConversionStatus::done)
            << b.ws.failure_reason;
        ASSERT_EQ(a.r().point_count, b.r().point_count);
        EXPECT_NEAR(a.r().two_theta_start, b.r().two_theta_start, 1e-5);
        EXPECT_NEAR(a.r().two_theta_step, b.r().two_theta_step, 1e-7);
        for (int32_t i = 1; i <= a.r().point_count; ++i)
            ASSERT_EQ(a.r().intensity(i), b.r().intensity(i)) << "point " << i;
    }
}

TEST(InstrumentScans, XrdmlAgreesWithXyconvPointByPoint) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xyconv";
    testing::ScratchDir dir;
    for (const char* rel : {"xrdml/empyrean.xrdml", "xrdml/XRD-918-16_10.xrdml"}) {
        QELDA_SAMPLE_OR_SKIP(path, rel);
        const auto out = dir / "oracle.xy";
        ASSERT_EQ(std::system(("xyconv -t xrdml '" + path.string() + "' '" + out.string() +
                               "' >/dev/null 2>&1")
                                  .c_str()),
                  0);
        Bench b;
        ASSERT_EQ(b.read(xrdml_codec, testing::read_file(path)), ConversionStatus::done);
        std::ifstream in(out);
        std::string line;
        int32_t i = 0;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            ++i;
            double x = 0, y = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &x, &y), 2);
            ASSERT_LE(i, b.r().point_count);
            const double angle = b.r().two_theta_start + (i - 1) * double(b.r().two_theta_step);
            ASSERT_NEAR(angle, x, 2e-5) << rel << " point " << i;
            ASSERT_EQ(b.r().intensity(i), static_cast<float>(y)) << rel << " point " << i;
        }
        EXPECT_EQ(i, b.r().point_count) << rel;
    }
}

// ---- synthetic files --------------------------------------------------------

const std::string kCu =
    "<usedWavelength><kAlpha1>1.5405980</kAlpha1><kAlpha2>1.5444260</kAlpha2>"
    "<ratioKAlpha2KAlpha1>0.5000</ratioKAlpha2KAlpha1></usedWavelength>";

std::string xrdml(const std::vector<std::string>& scans, const std::string& wavelength = kCu,
                  const std::string& version = "1.5") {
    std::string s =
        "<?xml version=\"1.0\"?>\n<xrdMeasurements xmlns=\"http://www.xrdml.com/"
        "XRDMeasurement/" +
        version + "\"><sample><id>S1</id><name>quartz</name></sample>" + "<xrdMeasurement>" +
        wavelength;
    for (const auto& scan : scans) s += scan;
    return s + "</xrdMeasurement></xrdMeasurements>\n";
}

std::string xscan(const std::string& axis, const std::string& positions,
                  const std::string& values) {
    return "<scan scanAxis=\"" + axis + "\"><dataPoints>" + positions +
           "<commonCountingTime>0.5</commonCountingTime>" + values + "</dataPoints></scan>";
}

std::string from_to(const std::string& axis, const std::string& a, const std::string& b) {
    return "<positions axis=\"" + axis + "\" unit=\"deg\"><startPosition>" + a +
           "</startPosition><endPosition>" + b + "</endPosition></positions>";
}

std::string listed(const std::string& axis, const std::string& list) {
    return "<positions axis=\"" + axis + "\"><listPositions>" + list +
           "</listPositions></positions>";
}

const std::string kFive = "<intensities unit=\"counts\">5 6 7</intensities>";
const std::string kTwoTheta = xscan("2Theta", from_to("2Theta", "10", "10.2"), kFive);
const std::string kPhi = xscan("Phi", from_to("Phi", "0", "90"), kFive);

std::string ras_block(const std::string& axis, const std::string& rows,
                      const std::string& extra = "") {
    return "*RAS_HEADER_START\r\n*FILE_SAMPLE \"quartz\"\r\n*MEAS_SCAN_AXIS_X \"" + axis +
           "\"\r\n*MEAS_SCAN_AXIS_X_INTERNAL \"" + axis +
           "\"\r\n*MEAS_SCAN_STEP \"0.02\"\r\n*HW_XG_WAVE_LENGTH_ALPHA1 \"1.540593\"\r\n"
           "*HW_XG_WAVE_LENGTH_ALPHA2 \"1.544414\"\r\n*MEAS_COND_XG_WAVE_TYPE \"Ka1\"\r\n" +
           extra + "*RAS_HEADER_END\r\n*RAS_INT_START\r\n" + rows + "*RAS_INT_END\r\n";
}

std::string ras(const std::string& blocks, const std::string& end = "*RAS_DATA_END\r\n") {
    return "*RAS_DATA_START\r\n" + blocks + end;
}

const std::string kRows = "20.00 10 1\r\n20.02 12 1\r\n20.04 14 1\r\n";

std::string raw_data(const std::string& axis_id, const std::string& datums) {
    return "<?xml version=\"1.0\"?><RawData><DataRoutes><DataRoute RouteFlag=\"Measured\">"
           "<ScanInformation><TimePerStep>2</TimePerStep><ScanAxes><ScanAxisInfo AxisId=\"" +
           axis_id + "\" VisibleName=\"" + axis_id +
           "\"><Start>30</Start><Stop>30.1</Stop><Increment>0.05</Increment></ScanAxisInfo>"
           "</ScanAxes></ScanInformation>" +
           datums +
           "</DataRoute></DataRoutes><FixedInformation><Instrument><Tube>"
           "<WaveLengthAlpha1 Value=\"1.5406\"/><WaveLengthAlpha2 Value=\"1.54439\"/>"
           "<WaveLengthRatio Value=\"0.5\"/></Tube></Instrument></FixedInformation></RawData>";
}

// A coupled TwoTheta/Theta scan of an older version: its axes are known by
// AxisName alone, Theta listed first; `views` gives the columns of a Datum.
std::string coupled_by_name(const std::string& datums, const std::string& views) {
    return "<?xml version=\"1.0\"?><RawData><DataRoutes><DataRoute RouteFlag=\"Measured\">"
           "<ScanInformation><TimePerStep>2</TimePerStep><ScanAxes>"
           "<ScanAxisInfo AxisName=\"Theta\"><Start>15</Start><Stop>15.05</Stop>"
           "<Increment>0.025</Increment></ScanAxisInfo>"
           "<ScanAxisInfo AxisName=\"TwoTheta\"><Start>30</Start><Stop>30.1</Stop>"
           "<Increment>0.05</Increment></ScanAxisInfo>"
           "</ScanAxes></ScanInformation>" +
           views + datums +
           "</DataRoute></DataRoutes><FixedInformation><Instrument><Tube>"
           "<WaveLengthAlpha1 Value=\"1.5406\"/></Tube></Instrument></FixedInformation>"
           "</RawData>";
}

// Datum columns: time, 2theta, theta, counts.
const std::string kTwoThetaSecondViews =
    "<DataViews><RawDataView Start=\"0\" Length=\"1\" LogicName=\"MeasuredTime\"/>"
    "<RawDataView Start=\"1\" Length=\"2\"><Varying LogicName=\"ScanAxes\">"
    "<FieldDefinitions FieldName=\"TwoTheta\" AxisName=\"TwoTheta\"/>"
    "<FieldDefinitions FieldName=\"Theta\" AxisName=\"Theta\"/></Varying></RawDataView>"
    "<RawDataView Start=\"3\" Length=\"1\"><Recording><Unit Base=\"Counts\"/></Recording>"
    "</RawDataView></DataViews>";

// time, absorption factor, 2theta, theta, counts
const std::string kDatums =
    "<Datum>2,1,30,15,100</Datum><Datum>2,1,30.05,15.025,110</Datum>"
    "<Datum>2,1,30.1,15.05,120</Datum>";

std::string brml(const std::vector<std::string>& raw) {
    std::vector<ZipEntry> entries{{"experimentCollection.xml", "<ExperimentCollection/>"}};
    for (std::size_t i = 0; i < raw.size(); ++i)
        entries.push_back({"Experiment0/RawData" + std::to_string(i) + ".xml", raw[i], true});
    return make_zip(entries);
}

std::string rasx(const std::string& axis, const std::string& wave_type) {
    const std::string conditions =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><MeasurementConditions>"
        "<GeneralInformation><SampleName>quartz</SampleName></GeneralInformation>"
        "<HWConfigurations><XrayGenerator><WaveType>" +
        wave_type +
        "</WaveType><WavelengthKalpha1>1.540593</WavelengthKalpha1>"
        "<WavelengthKalpha2>1.544414</WavelengthKalpha2></XrayGenerator></HWConfigurations>"
        "<ScanInformation><AxisName>" +
        axis +
        "</AxisName><Start>20</Start><Stop>20.04</Stop><Step>0.02</Step><Speed>1</Speed>"
        "<SpeedUnit>deg/min</SpeedUnit><IntensityUnit>counts</IntensityUnit></ScanInformation>"
        "</MeasurementConditions>";
    return make_zip({{"root.xml", "<Root/>"},
                     {"Data0/Profile0.txt",
                      "\xEF\xBB\xBF"
                      "20.0000\t10\t1\r\n20.0200\t12\t1\r\n"
                      "20.0400\t14\t1\r\n",
                      true},
                     {"Data0/MesurementConditions0.xml", conditions, true}});
}

struct Case {
    const char* what;
    FormatId format;
    std::string content;
    int32_t scan;
    bool any_axis;
    ConversionStatus status;
    const char* expect;  // part of the reason on failure, of a warning on success
    int32_t points = 0;
    double first = 0, last = 0;
    float first_count = 0, last_count = 0;
    bool asks_wavelength = false;
};

std::vector<Case> synthetic_cases() {
    using S = ConversionStatus;
    const FormatId X = FormatId::xrdml, B = FormatId::bruker_brml, R = FormatId::rigaku_ras,
                   RX = FormatId::rigaku_rasx;
    return {
        {"xrdml: the first 2theta scan, after a Phi scan", X, xrdml({kPhi, kTwoTheta}), 1, false,
         S::done, "holds 2 scans; scan 2 converted", 3, 10, 10.2, 5, 7},
        {"xrdml: any axis takes scan 1 as it is", X, xrdml({kPhi, kTwoTheta}), 1, true, S::done,
         "stored as 2theta", 3, 0, 90, 5, 7},
        {"xrdml: a Phi scan alone is refused", X, xrdml({kPhi}), 1, false, S::not_available,
         "holds a Phi scan, not a 2theta scan"},
        {"xrdml: scan 2 asked, it is Phi", X, xrdml({kTwoTheta, kPhi}), 2, false, S::not_available,
         "scan 2 is a Phi scan"},
        {"xrdml: no scan 3", X, xrdml({kTwoTheta, kPhi}), 3, false, S::not_available,
         "there is no scan 3"},
        {"xrdml: Gonio scan from listed angles", X,
         xrdml({xscan("Gonio", listed("2Theta", "10.000 10.101 10.199"), kFive)}), 1, false,
         S::done, "", 3, 10, 10.199, 5, 7},
        {"xrdml: listed angles off the even grid", X,
         xrdml({xscan("2Theta", listed("2Theta", "10.00 10.10 10.30"), kFive)}), 1, false, S::done,
         "kept as stated", 3, 10, 10.3, 5, 7},
        {"xrdml: counts times the attenuation factors", X,
         xrdml({xscan("2Theta-Omega", from_to("2Theta", "10", "10.2"),
                      "<beamAttenuationFactors>1 1 10</beamAttenuationFactors>"
                      "<counts unit=\"counts\">5 6 7</counts>")}),
         1, false, S::done, "", 3, 10, 10.2, 5, 70},
        {"xrdml: counts per second times the counting time", X,
         xrdml({xscan("2Theta", from_to("2Theta", "10", "10.2"),
                      "<intensities unit=\"counts/s\">5 6 8</intensities>")}),
         1, false, S::done, "counts per second", 3, 10, 10.2, 2.5, 4},
        {"xrdml: no wavelength in the file: the prompt asks", X, xrdml({kTwoTheta}, ""), 1, false,
         S::done, "", 3, 10, 10.2, 5, 7, true},
        {"xrdml: version 3.0", X, xrdml({kTwoTheta}, kCu, "3.0"), 1, false, S::not_available,
         "versions 1.0 to 2.1"},
        {"xrdml: XML of another kind", X, "<?xml version=\"1.0\"?><RawData/>", 1, false,
         S::not_available, "not an XRDML file"},
        {"xrdml: not XML", X, "2theta counts\n10 5\n", 1, false, S::not_available,
         "not well formed"},
        {"ras: the first 2theta scan, after a Phi scan", R,
         ras(ras_block("Phi", kRows) + ras_block("TwoThetaTheta", kRows)), 1, false, S::done,
         "holds 2 scans; scan 2 converted", 3, 20, 20.04, 10, 14},
        {"ras: a Chi scan alone is refused", R, ras(ras_block("Chi", kRows)), 1, false,
         S::not_available, "holds a Chi scan"},
        {"ras: counts per second at 2 deg/min by 0.02", R,
         ras(ras_block("TwoTheta", kRows,
                       "*MEAS_SCAN_UNIT_Y \"cps\"\r\n*MEAS_SCAN_SPEED \"2\"\r\n"
                       "*MEAS_SCAN_SPEED_UNIT \"deg/min\"\r\n")),
         1, false, S::done, "0.6 s per step", 3, 20, 20.04, 6, 8.4f},
        {"ras: intensities times the attenuation", R,
         ras(ras_block("TwoTheta", "20.00 10 1\r\n20.02 12 1\r\n20.04 14 5\r\n")), 1, false,
         S::done, "", 3, 20, 20.04, 10, 70},
        {"ras: both alpha lines and no ratio", R,
         ras(ras_block("TwoTheta", kRows, "*MEAS_COND_XG_WAVE_TYPE \"Ka\"\r\n")), 1, false, S::done,
         "0.5 taken", 3, 20, 20.04, 10, 14},
        {"ras: a row that is not a number", R,
         ras(ras_block("TwoTheta", "20.00 10 1\r\n20.02 x12 1\r\n")), 1, false, S::record_error,
         "line 13: 'x12' is not a number"},
        {"ras: cut before *RAS_DATA_END", R, ras(ras_block("TwoTheta", kRows), ""), 1, false,
         S::premature_end, "ends before *RAS_DATA_END"},
        {"brml: the first 2theta scan, after a Phi scan", B,
         brml({raw_data("Phi", kDatums), raw_data("TwoTheta", kDatums)}), 1, false, S::done,
         "holds 2 scans; scan 2 converted", 3, 30, 30.1, 100, 120},
        {"brml: a Phi scan alone is refused", B, brml({raw_data("Phi", kDatums)}), 1, false,
         S::not_available, "holds a Phi scan"},
        {"brml: a zip of something else", B, make_zip({{"a.txt", "hello"}}), 1, false,
         S::not_available, "without Experiment0/RawData0.xml"},
        {"brml: a datum angle off the grid", B,
         brml(
             {raw_data("TwoTheta", "<Datum>2,1,30,15,100</Datum><Datum>2,1,30.09,15,110</Datum>")}),
         1, false, S::record_error, "off the even grid"},
        {"brml: axes named by AxisName only, the coupled scan read on TwoTheta", B,
         brml({coupled_by_name(kDatums, "")}), 1, false, S::done, "", 3, 30, 30.1, 100, 120},
        {"brml: AxisName in the DataViews too", B,
         brml({coupled_by_name("<Datum>2,30,15,100</Datum><Datum>2,30.05,15.025,110</Datum>"
                               "<Datum>2,30.1,15.05,120</Datum>",
                               kTwoThetaSecondViews)}),
         1, false, S::done, "", 3, 30, 30.1, 100, 120},
        {"rasx: a 2theta scan of both alpha lines", RX, rasx("TwoTheta", "Ka"), 1, false, S::done,
         "0.5 taken", 3, 20, 20.04, 10, 14},
        {"rasx: an Omega scan is refused", RX, rasx("Omega", "Ka1"), 1, false, S::not_available,
         "holds an Omega scan"},
    };
}

TEST(InstrumentScans, SyntheticFiles) {
    for (const Case& c : synthetic_cases()) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.answers().wavelengths = {"1.5406", "1.5444", "0.5"};
        b.ws.options.scan = c.scan;
        b.ws.options.any_axis = c.any_axis;
        const ConversionStatus s = b.read(codec_of(c.format), c.content, "scan.dat");
        ASSERT_EQ(s, c.status) << b.ws.failure_reason;
        if (s != ConversionStatus::done) {
            EXPECT_NE(b.ws.failure_reason.find(c.expect), std::string::npos) << b.ws.failure_reason;
            EXPECT_EQ(b.ws.failure_reason.rfind("scan.dat", 0), 0u) << "names the file";
            continue;
        }
        if (*c.expect) {
            EXPECT_TRUE(has_text(b.ws.warnings, c.expect));
        }
        const PowderPattern& r = b.r();
        EXPECT_EQ(r.point_count, c.points);
        EXPECT_NEAR(r.two_theta_start, c.first, 1e-5);
        EXPECT_NEAR(r.two_theta_end, c.last, 1e-4);
        EXPECT_FLOAT_EQ(r.intensity(1), c.first_count);
        EXPECT_FLOAT_EQ(r.intensity(c.points), c.last_count);
        EXPECT_EQ(has_text(b.ui.events(), "wavelength"), c.asks_wavelength);
        EXPECT_GT(r.lambda1, 1.5f);
    }
}

// ---- the zip reader -----------------------------------------------------------

TEST(ZipArchive, RefusesWhatCannotBeReadSafely) {
    const std::string text = "20.00 10 1\n";
    const std::string good = make_zip({{"a.txt", text, true}});
    ZipEntry bomb{"a.txt", std::string(4u << 20, '0'), true};
    bomb.declared_size = 1000;  // inflates to 4 MB; the header says 1000 bytes
    ZipEntry huge{"a.txt", text, true};
    huge.declared_size = (std::uint64_t{300} << 20);
    ZipEntry locked{"a.txt", text, false};
    locked.flags = 1;
    std::string bad_crc = make_zip({{"a.txt", text, false}});
    bad_crc[30 + 5] ^= 1;  // a byte of the stored data

    struct Z {
        const char* what;
        std::string zip;
        bool opens;
        ZipArchive::Error read_error;
    };
    const Z cases[] = {
        {"good", good, true, ZipArchive::Error::none},
        {"not a zip", "hello", false, ZipArchive::Error::not_zip},
        {"cut short", good.substr(0, good.size() - 10), false, ZipArchive::Error::damaged},
        {"header understates the size", make_zip({bomb}), true, ZipArchive::Error::damaged},
        {"declared size above 256 MB", make_zip({huge}), true, ZipArchive::Error::too_large},
        {"encrypted", make_zip({locked}), true, ZipArchive::Error::unsupported},
        {"data do not match the checksum", bad_crc, true, ZipArchive::Error::damaged},
    };
    for (const Z& c : cases) {
        SCOPED_TRACE(c.what);
        ZipArchive zip;
        ASSERT_EQ(zip.open(c.zip), c.opens) << zip.error_text();
        if (!c.opens) continue;
        std::string out;
        EXPECT_EQ(zip.read("a.txt", out), c.read_error == ZipArchive::Error::none);
        EXPECT_EQ(zip.error(), c.read_error) << zip.error_text();
        if (c.read_error == ZipArchive::Error::none)
            EXPECT_EQ(out, text);
        else
            EXPECT_TRUE(out.empty());
        EXPECT_FALSE(zip.read("b.txt", out));
        EXPECT_EQ(zip.error(), ZipArchive::Error::missing);
    }
}

}  // namespace
}  // namespace qelda
