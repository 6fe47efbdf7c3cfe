// The Bruker RAW reader: the real files against xyconv and against their UXD
// conversion, and built files for the choice of range, the scan axis and the
// wavelengths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::read_file;

// --- The real files ---------------------------------------------------------------

struct SampleCase {
    const char* file;
    int32_t points;
    float start, step, count_time;
    const char* title;
    double sum;  // of every count
    float first, last;
    const char* warning;  // "" for none
};

// Values of xyconv (version 3) and of the layout read by hand (version 4,
// which the packaged xyconv predates).
const SampleCase kSamples[] = {
    {"BT86.raw", 2374, 3.0f, 0.0155922f, 0.5f, "BT86", 918372, 187, 269, ""},
    {"Cu3Au-1.raw", 3901, 22.0f, 0.02f, 0.5f, "Cu3Au-1", 59299, 48, 11, ""},
    {"format1.raw", 101, 10.0f, 0.1f, 0.1f, "SampleID__", 873, 10, 9,
     "format1.raw holds 3 ranges; range 1 converted"},
    {"bruker_v4.raw", 4059, 37.0001f, 0.020454545f, 288.0f, "Cu-12%Ag_500C1700h_P5n5rpm1_RT",
     32881728, 7264, 7043, ""},
};

// Block `block` (from 0) of `xyconv -t bruker_raw`, as x and y; empty without xyconv.
std::vector<std::pair<double, double>> xyconv_block(const std::filesystem::path& file,
                                                    int block = 0) {
    std::vector<std::pair<double, double>> xy;
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) return xy;
    const std::string cmd = "xyconv -t bruker_raw '" + file.string() + "' - 2>/dev/null";
    std::FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return xy;
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
    if (::pclose(pipe) != 0) return {};
    std::istringstream in(text);
    int at = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("### block #")) at = std::atoi(line.c_str() + 11);
        double a = 0, b = 0;
        if (at == block && !line.starts_with("#") &&
            std::sscanf(line.c_str(), "%lf %lf", &a, &b) == 2)
            xy.emplace_back(a, b);
    }
    return xy;
}

TEST(BrukerRaw, SamplesReadAsTheIndependentReaderReadsThem) {
    QELDA_SAMPLE_OR_SKIP(dir, "bruker_raw");
    for (const auto& c : kSamples) {
        SCOPED_TRACE(c.file);
        Bench b;
        const auto path = dir / c.file;
        ASSERT_EQ(b.read(bruker_raw_codec, read_file(path), c.file), ConversionStatus::done)
            << b.ws.failure_reason;
        const PowderPattern& r = b.r();
        ASSERT_EQ(r.point_count, c.points);
        EXPECT_FLOAT_EQ(r.two_theta_start, c.start);
        EXPECT_FLOAT_EQ(r.two_theta_step, c.step);
        EXPECT_FLOAT_EQ(r.count_time, c.count_time);
        EXPECT_TRUE(r.title.starts_with(c.title)) << r.title;
        EXPECT_FLOAT_EQ(r.lambda1, 1.5406f);
        EXPECT_FLOAT_EQ(r.lambda2, 1.54439f);
        EXPECT_FLOAT_EQ(r.alpha_ratio, 0.5f);
        double sum = 0;
        for (int32_t k = 1; k <= r.point_count; ++k) sum += r.intensity(k);
        EXPECT_EQ(sum, c.sum);
        EXPECT_EQ(r.intensity(1), c.first);
        EXPECT_EQ(r.intensity(c.points), c.last);
        if (*c.warning)
            EXPECT_EQ(b.ws.warnings, std::vector<std::string>{c.warning});
        else
            EXPECT_TRUE(b.ws.warnings.empty());
        const auto xy = xyconv_block(path);
        if (xy.empty()) continue;
        ASSERT_EQ(xy.size(), static_cast<std::size_t>(c.points));
        for (int32_t k = 1; k <= c.points; ++k)
            ASSERT_EQ(r.intensity(k),
                      static_cast<float>(xy[static_cast<std::size_t>(k - 1)].second))
                << "point " << k;
    }
}

TEST(BrukerRaw, Bt86HoldsTheCountsOfItsUxdConversion) {
    QELDA_SAMPLE_OR_SKIP(raw, "bruker_raw/BT86.raw");
    QELDA_SAMPLE_OR_SKIP(uxd, "uxd/BT86_.UXD");
    Bench from_uxd;
    ASSERT_EQ(from_uxd.read(siemens_uxd_codec, read_file(uxd), "BT86_.UXD"),
              ConversionStatus::done);
    Bench from_raw;
    ASSERT_EQ(from_raw.read(bruker_raw_codec, read_file(raw), "BT86.raw"), ConversionStatus::done);
    const PowderPattern& u = from_uxd.r();
    const PowderPattern& r = from_raw.r();
    ASSERT_EQ(r.point_count, u.point_count);
    EXPECT_FLOAT_EQ(r.two_theta_start, u.two_theta_start);
    EXPECT_NEAR(r.two_theta_step, u.two_theta_step, 1e-6);  // the UXD prints 6 decimals
    EXPECT_FLOAT_EQ(r.count_time, u.count_time);
    EXPECT_FLOAT_EQ(r.lambda1, u.lambda1);
    EXPECT_FLOAT_EQ(r.lambda2, u.lambda2);
    for (int32_t k = 1; k <= r.point_count; ++k)
        ASSERT_EQ(r.intensity(k), u.intensity(k)) << "point " << k;
}

// --- Built files ------------------------------------------------------------------

void put_u32(std::string& s, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put_f32(std::string& s, std::size_t at, float v) {
    put_u32(s, at, std::bit_cast<uint32_t>(v));
}
void put_f64(std::string& s, std::size_t at, double v) {
    const auto u = std::bit_cast<uint64_t>(v);
    put_u32(s, at, static_cast<uint32_t>(u));
    put_u32(s, at + 4, static_cast<uint32_t>(u >> 32));
}

struct BuiltRange {
    uint32_t v3_type;     // scan type code of version 3
    const char* v4_type;  // scan type text of version 4
    double start;         // of the scanned axis
    std::vector<float> counts;
};

struct Tube {
    double alpha1 = 1.5406, alpha2 = 1.54439, ratio = 0.5;
};

std::string v3_file(const std::vector<BuiltRange>& ranges, Tube tube = {}) {
    std::string f(712, '\0');
    f.replace(0, 7, "RAW1.01");
    put_u32(f, 12, static_cast<uint32_t>(ranges.size()));
    f.replace(326, 5, "built");
    put_f64(f, 624, tube.alpha1);
    put_f64(f, 632, tube.alpha2);
    put_f64(f, 648, tube.ratio);
    for (const auto& r : ranges) {
        std::string h(304, '\0');
        put_u32(h, 0, 304);
        put_u32(h, 4, static_cast<uint32_t>(r.counts.size()));
        // The start goes to the field of the scanned axis; 2theta keeps another.
        put_f64(h, 16, r.v3_type <= 2 ? r.start : 99.0);
        if (r.v3_type == 5) put_f64(h, 32, r.start);
        put_f64(h, 176, 0.05);
        put_f32(h, 192, 2.0f);
        put_u32(h, 196, r.v3_type);
        put_u32(h, 252, 4);
        f += h;
        for (float c : r.counts) {
            f += std::string(4, '\0');
            put_f32(f, f.size() - 4, c);
        }
    }
    return f;
}

std::string v4_file(const std::vector<BuiltRange>& ranges, Tube tube = {}) {
    std::string f(61, '\0');
    f.replace(0, 7, "RAW4.00");
    std::string id(36 + 6, '\0');  // a named text: SAMPLEID
    put_u32(id, 0, 10);
    put_u32(id, 4, static_cast<uint32_t>(id.size()));
    id.replace(12, 8, "SAMPLEID");
    id.replace(36, 6, "v4 one");
    f += id;
    std::string hw(136, '\0');  // the tube
    put_u32(hw, 0, 30);
    put_u32(hw, 4, 136);
    put_f64(hw, 80, tube.alpha1);
    put_f64(hw, 88, tube.alpha2);
    put_f64(hw, 104, tube.ratio);
    f += hw;
    for (const auto& r : ranges) {
        std::string h(160 + 20, '\0');  // with one segment of its own
        put_u32(h, 0, 160);
        h.replace(32, std::string_view(r.v4_type).size(), r.v4_type);
        put_f64(h, 72, r.start);
        put_f64(h, 80, 0.05);
        put_u32(h, 88, static_cast<uint32_t>(r.counts.size()));
        put_f32(h, 92, 2.0f);
        put_u32(h, 136, 4);
        put_u32(h, 140, 20);
        put_u32(h, 160, 110);
        put_u32(h, 164, 20);
        f += h;
        for (float c : r.counts) {
            f += std::string(4, '\0');
            put_f32(f, f.size() - 4, c);
        }
    }
    return f;
}

const std::vector<BuiltRange> kPhiThen2Theta = {
    {5, "Phi Scan", 0.0, {1, 2, 3}},
    {0, "Locked Coupled", 20.0, {4, 5}},
    {2, "Detector Scan", 40.0, {6, 7, 8, 9}},
};
const std::vector<BuiltRange> kPhiOnly = {{5, "Phi Scan", 0.0, {1, 2, 3}}};

struct ChoiceCase {
    const char* what;
    const std::vector<BuiltRange>* ranges;
    int32_t scan;
    bool any_axis;
    ConversionStatus status;
    float start;           // of the converted range
    const char* expected;  // in the reason, or in the warnings
};

const ChoiceCase kChoices[] = {
    {"first 2theta range", &kPhiThen2Theta, 1, false, ConversionStatus::done, 20.0f,
     "scan.raw holds 3 ranges; range 2 converted"},
    {"range asked for", &kPhiThen2Theta, 3, false, ConversionStatus::done, 40.0f,
     "scan.raw holds 3 ranges; range 3 converted"},
    {"phi range asked for", &kPhiThen2Theta, 1, true, ConversionStatus::done, 0.0f,
     "range 1 scans phi, not 2theta"},
    {"range past the last", &kPhiThen2Theta, 4, false, ConversionStatus::not_available, 0,
     "scan.raw holds 3 ranges; there is no range 4"},
    {"phi scan alone", &kPhiOnly, 1, false, ConversionStatus::not_available, 0,
     "scan.raw: range 1 scans phi, not 2theta"},
};

TEST(BrukerRaw, RangeChoiceAndScanAxis) {
    for (const auto& c : kChoices) {
        for (int version : {3, 4}) {
            SCOPED_TRACE(std::string(c.what) + ", version " + std::to_string(version));
            Bench b;
            b.ws.options.scan = c.scan;
            b.ws.options.any_axis = c.any_axis;
            const std::string file = version == 3 ? v3_file(*c.ranges) : v4_file(*c.ranges);
            ASSERT_EQ(b.read(bruker_raw_codec, file, "scan.raw"), c.status) << b.ws.failure_reason;
            if (c.status != ConversionStatus::done) {
                EXPECT_NE(b.ws.failure_reason.find(c.expected), std::string::npos)
                    << b.ws.failure_reason;
                continue;
            }
            EXPECT_FLOAT_EQ(b.r().two_theta_start, c.start);
            const auto& ranges = *c.ranges;
            const auto& counts = ranges[c.start == 0 ? 0 : c.start == 20.0f ? 1 : 2].counts;
            ASSERT_EQ(b.r().point_count, static_cast<int32_t>(counts.size()));
            EXPECT_EQ(b.r().intensity(b.r().point_count), counts.back());
            std::string all;
            for (const auto& w : b.ws.warnings) all += w + "\n";
            EXPECT_NE(all.find(c.expected), std::string::npos) << all;
        }
    }
}

TEST(BrukerRaw, WavelengthsFromTheFileOrThePrompt) {
    struct Case {
        Tube tube;
        float lambda1, lambda2, ratio;
        bool asked;
    };
    const Case cases[] = {
        {{1.5406, 1.54439, 0.5}, 1.5406f, 1.54439f, 0.5f, false},
        {{0.70932, 0.0, 0.0}, 0.70932f, 0.0f, 0.0f, false},  // one line
        {{0.0, 0.0, 0.0}, 1.1f, 1.2f, 0.4f, true},           // none: the prompt asks
    };
    for (const auto& c : cases) {
        for (int version : {3, 4}) {
            Bench b;
            b.answers().wavelengths = {"1.1", "1.2", "0.4"};
            const std::vector<BuiltRange> one = {{0, "Locked Coupled", 10.0, {1, 2}}};
            const std::string file = version == 3 ? v3_file(one, c.tube) : v4_file(one, c.tube);
            ASSERT_EQ(b.read(bruker_raw_codec, file, "scan.raw"), ConversionStatus::done);
            EXPECT_FLOAT_EQ(b.r().lambda1, c.lambda1);
            EXPECT_FLOAT_EQ(b.r().lambda2, c.lambda2);
            EXPECT_FLOAT_EQ(b.r().alpha_ratio, c.ratio);
            const auto& ev = b.ui.events();
            EXPECT_EQ(std::find(ev.begin(), ev.end(), "wavelength") != ev.end(), c.asked);
        }
    }
}

TEST(BrukerRaw, RefusalsNameWhatTheyFound) {
    const std::vector<BuiltRange> one = {{0, "Locked Coupled", 10.0, {1, 2, 3}}};
    std::string nan_count = v3_file(one);
    put_f32(nan_count, nan_count.size() - 4, std::nanf(""));
    std::string wide_records = v3_file(one);
    put_u32(wide_records, 712 + 252, 12);
    std::string long_header = v3_file(one);
    put_u32(long_header, 712, 400);
    std::string v4_huge_segment = v4_file(one);
    put_u32(v4_huge_segment, 65, 0xFFFFFFF0u);
    struct Case {
        std::string content;
        ConversionStatus status;
        const char* reason;
    };
    const Case cases[] = {
        {"RAW_1.06Powdat" + std::string(600, '\0'), ConversionStatus::not_available,
         "not a Bruker RAW file"},
        {nan_count, ConversionStatus::record_error,
         "scan.raw, byte 1024: the count of point 3 of range 1 is not a number"},
        {wide_records, ConversionStatus::not_available, "stores 12 bytes per point"},
        {long_header, ConversionStatus::record_error, "byte 712: the header of range 1"},
        {v4_huge_segment, ConversionStatus::premature_end, "scan.raw, byte 61: the file ends"},
        {v3_file(one).substr(0, 1000), ConversionStatus::premature_end,
         "byte 712: the file ends before the header of range 1 (it has 1000 bytes)"},
        {v3_file(one).substr(0, 1022), ConversionStatus::premature_end,
         "byte 1016: the file ends before the 3 counts of range 1"},
    };
    for (const auto& c : cases) {
        Bench b;
        EXPECT_EQ(b.read(bruker_raw_codec, c.content, "scan.raw"), c.status) << c.reason;
        EXPECT_NE(b.ws.failure_reason.find(c.reason), std::string::npos) << b.ws.failure_reason;
    }
}

// Versions 1 and 2: two ranges, built as xylib reads them and checked against
// xyconv where it is installed.
std::string v1_file(bool repeat_magic) {
    std::string f = "RAW ";
    const BuiltRange ranges[] = {{0, "", 10.0, {1, 2, 3, 4}}, {0, "", 20.0, {5, 6, 7}}};
    for (int i = 0; i < 2; ++i) {
        if (i > 0 && repeat_magic) f += "RAW ";
        std::string h(152, '\0');
        put_u32(h, 0, static_cast<uint32_t>(ranges[i].counts.size()));
        put_f32(h, 4, 1.5f);
        put_f32(h, 8, i == 0 ? 0.05f : 0.1f);
        put_f32(h, 20, static_cast<float>(ranges[i].start));
        h.replace(36, 6, i == 0 ? "first " : "second");
        put_f32(h, 68, 1.5406f);
        put_f32(h, 72, 1.54439f);
        put_u32(h, 148, i == 0 ? 1 : 0);
        f += h;
        for (float c : ranges[i].counts) {
            f += std::string(4, '\0');
            put_f32(f, f.size() - 4, c);
        }
    }
    return f;
}

std::string v2_file() {
    std::string f(256, '\0');
    f.replace(0, 4, "RAW2");
    f[4] = 2;
    put_f32(f, 190, 1.5406f);
    put_f32(f, 194, 1.54439f);
    put_f32(f, 198, 0.5f);
    const BuiltRange ranges[] = {{0, "", 10.0, {1, 2, 3, 4}}, {0, "", 20.0, {5, 6, 7}}};
    for (int i = 0; i < 2; ++i) {
        std::string h(64, '\0');
        h[0] = 64;
        h[2] = static_cast<char>(ranges[i].counts.size());
        put_f32(h, 8, 1.5f);
        put_f32(h, 12, i == 0 ? 0.05f : 0.1f);
        put_f32(h, 16, static_cast<float>(ranges[i].start));
        f += h;
        for (float c : ranges[i].counts) {
            f += std::string(4, '\0');
            put_f32(f, f.size() - 4, c);
        }
    }
    return f;
}

TEST(BrukerRaw, VersionsOneAndTwoReadAsXyconvReadsThem) {
    testing::ScratchDir dir;
    struct Case {
        const char* what;
        std::string content;
        const char* title;  // of range 2
    };
    const Case cases[] = {
        {"v1", v1_file(true), "second"},
        {"v1, magic not repeated", v1_file(false), "second"},
        {"v2", v2_file(), ""},
    };
    for (const auto& c : cases) {
        for (int32_t scan : {1, 2}) {
            SCOPED_TRACE(std::string(c.what) + ", range " + std::to_string(scan));
            Bench b;
            b.ws.options.scan = scan;
            ASSERT_EQ(b.read(bruker_raw_codec, c.content, "old.raw"), ConversionStatus::done)
                << b.ws.failure_reason;
            const PowderPattern& r = b.r();
            EXPECT_EQ(r.point_count, scan == 1 ? 4 : 3);
            EXPECT_FLOAT_EQ(r.two_theta_start, scan == 1 ? 10.0f : 20.0f);
            EXPECT_FLOAT_EQ(r.count_time, 1.5f);
            EXPECT_FLOAT_EQ(r.lambda2, 1.54439f);
            EXPECT_FLOAT_EQ(r.alpha_ratio, 0.5f);
            if (scan == 2) {
                EXPECT_TRUE(r.title.starts_with(c.title)) << r.title;
            }
            std::string all;
            for (const auto& w : b.ws.warnings) all += w + "\n";
            EXPECT_NE(all.find("old.raw holds 2 ranges; range " + std::to_string(scan)),
                      std::string::npos);
            EXPECT_NE(all.find("does not state the scan axis"), std::string::npos);

            const auto path = dir / "old.raw";
            testing::write_file(path, c.content);
            const auto xy = xyconv_block(path, scan - 1);
            if (xy.empty()) continue;
            ASSERT_EQ(xy.size(), static_cast<std::size_t>(r.point_count));
            for (int32_t k = 1; k <= r.point_count; ++k) {
                EXPECT_NEAR(r.two_theta_start + (k - 1) * r.two_theta_step, xy[k - 1].first, 1e-5);
                EXPECT_EQ(r.intensity(k), static_cast<float>(xy[k - 1].second));
            }
        }
    }
}

}  // namespace
}  // namespace qelda
