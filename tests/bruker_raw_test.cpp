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

// Bytes of a file under construction, numbers little-endian.
struct Buf {
    std::string s;
    Buf(std::size_t n, std::string_view magic = "") : s(n, '\0') {
        s.replace(0, magic.size(), magic);
    }
    Buf& u32(std::size_t at, uint64_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
    Buf& f32(std::size_t at, float v) { return u32(at, std::bit_cast<uint32_t>(v)); }
    Buf& f64(std::size_t at, double v) {
        const auto u = std::bit_cast<uint64_t>(v);
        return u32(at, u & 0xFFFFFFFFu).u32(at + 4, u >> 32);
    }
    Buf& text(std::size_t at, std::string_view t) {
        s.replace(at, t.size(), t);
        return *this;
    }
    Buf& append(const Buf& header, const std::vector<float>& counts) {
        s += header.s;
        for (float c : counts) f32((s += std::string(4, '\0')).size() - 4, c);
        return *this;
    }
};

struct BuiltRange {
    uint32_t v3_type;     // scan type code of version 3
    const char* v4_type;  // scan type text of version 4
    double start;         // of the scanned axis
    std::vector<float> counts;
    float temperature = -1.0f;  // kelvin, version 3; -1: none recorded
};

struct Tube {
    double alpha1 = 1.5406, alpha2 = 1.54439, ratio = 0.5;
};

std::string v3_file(const std::vector<BuiltRange>& ranges, Tube t = {}) {
    Buf f(712, "RAW1.01");
    f.u32(12, ranges.size()).text(326, "built").f64(624, t.alpha1).f64(632, t.alpha2);
    f.f64(648, t.ratio);
    for (const auto& r : ranges) {
        // The 2theta field holds 99 in a phi scan, whose start is in the phi field.
        Buf h(304);
        h.u32(0, 304).u32(4, r.counts.size()).f64(16, r.v3_type == 5 ? 99.0 : r.start);
        h.f64(32, r.start).f64(176, 0.05).f32(192, 2.0f).u32(196, r.v3_type).u32(252, 4);
        h.f32(212, r.temperature);
        f.append(h, r.counts);
    }
    return f.s;
}

std::string v4_file(const std::vector<BuiltRange>& ranges, Tube t = {}) {
    Buf f(61, "RAW4.00");
    f.append(Buf(42).u32(0, 10).u32(4, 42).text(12, "SAMPLEID").text(36, "v4 one"), {});
    f.append(Buf(136).u32(0, 30).u32(4, 136).f64(80, t.alpha1).f64(88, t.alpha2).f64(104, t.ratio),
             {});
    for (const auto& r : ranges) {
        Buf h(160 + 20);  // with one segment of its own
        h.u32(0, 160).text(32, r.v4_type).f64(72, r.start).f64(80, 0.05).u32(88, r.counts.size());
        h.f32(92, 2.0f).u32(136, 4).u32(140, 20).u32(160, 110).u32(164, 20);
        f.append(h, r.counts);
    }
    return f.s;
}

const std::vector<BuiltRange> kPhiThen2Theta = {
    {5, "Phi Scan", 0.0, {1, 2, 3}},
    {0, "Locked Coupled", 20.0, {4, 5}},
    {2, "Detector Scan", 40.0, {6, 7, 8, 9}},
};
const std::vector<BuiltRange> kPhiOnly = {{5, "Phi Scan", 0.0, {1, 2, 3}}};

std::string all_warnings(const Bench& b) {
    std::string all;
    for (const auto& w : b.ws.warnings) all.append(w).append("\n");
    return all;
}

TEST(BrukerRaw, RangeChoiceAndScanAxis) {
    struct Case {
        const char* what;
        const std::vector<BuiltRange>* ranges;
        int32_t scan;
        bool any_axis;
        ConversionStatus status;
        int converted;         // index of the converted range
        const char* expected;  // in the reason, or in the warnings
    };
    const Case cases[] = {
        {"first 2theta range", &kPhiThen2Theta, 1, false, ConversionStatus::done, 1,
         "scan.raw holds 3 ranges; range 2 converted"},
        {"range asked for", &kPhiThen2Theta, 3, false, ConversionStatus::done, 2,
         "scan.raw holds 3 ranges; range 3 converted"},
        {"phi range asked for", &kPhiThen2Theta, 1, true, ConversionStatus::done, 0,
         "range 1 scans phi, not 2theta"},
        {"range past the last", &kPhiThen2Theta, 4, false, ConversionStatus::not_available, 0,
         "scan.raw holds 3 ranges; there is no range 4"},
        {"phi scan alone", &kPhiOnly, 1, false, ConversionStatus::not_available, 0,
         "scan.raw: range 1 scans phi, not 2theta"},
    };
    for (const auto& c : cases) {
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
            const BuiltRange& want = (*c.ranges)[static_cast<std::size_t>(c.converted)];
            EXPECT_FLOAT_EQ(b.r().two_theta_start, static_cast<float>(want.start));
            ASSERT_EQ(b.r().point_count, static_cast<int32_t>(want.counts.size()));
            EXPECT_EQ(b.r().intensity(b.r().point_count), want.counts.back());
            EXPECT_NE(all_warnings(b).find(c.expected), std::string::npos) << all_warnings(b);
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
    const std::vector<BuiltRange> one = {{0, "Locked Coupled", 10.0, {1, 2}}};
    for (const auto& c : cases) {
        for (const std::string& file : {v3_file(one, c.tube), v4_file(one, c.tube)}) {
            Bench b;
            b.answers().wavelengths = {"1.1", "1.2", "0.4"};
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
    const std::string v3 = v3_file(one), v4 = v4_file(one);
    struct Case {
        std::string content;
        ConversionStatus status;
        const char* reason;
    };
    const Case cases[] = {
        {"RAW_1.06Powdat" + std::string(600, '\0'), ConversionStatus::not_available,
         "not a Bruker RAW file"},
        {Buf(0).text(0, v3).f32(v3.size() - 4, std::nanf("")).s, ConversionStatus::record_error,
         "scan.raw, byte 1024: the count of point 3 of range 1 is not a number"},
        {Buf(0).text(0, v3).u32(712 + 252, 12).s, ConversionStatus::not_available,
         "stores 12 bytes per point"},
        // No reader we could study documents what the 8 bytes of a point hold.
        {Buf(0).text(0, v4).u32(61 + 42 + 136 + 136, 8).s, ConversionStatus::not_available,
         "range 1 stores 8 bytes per point; only counts of 4 bytes can be read"},
        {Buf(0).text(0, v3).u32(712, 400).s, ConversionStatus::record_error,
         "byte 712: the header of range 1"},
        {Buf(0).text(0, v4).u32(65, 0xFFFFFFF0u).s, ConversionStatus::premature_end,
         "scan.raw, byte 61: the file ends"},
        {v3.substr(0, 1000), ConversionStatus::premature_end,
         "byte 712: the file ends before the header of range 1 (it has 1000 bytes)"},
        {v3.substr(0, 1022), ConversionStatus::premature_end,
         "byte 1016: the file ends before the 3 counts of range 1"},
    };
    for (const auto& c : cases) {
        Bench b;
        EXPECT_EQ(b.read(bruker_raw_codec, c.content, "scan.raw"), c.status) << c.reason;
        EXPECT_NE(b.ws.failure_reason.find(c.reason), std::string::npos) << b.ws.failure_reason;
    }
}

// Versions 1 and 2: two ranges (10 by 0.05, four counts; 20 by 0.1, three),
// built as xylib reads them and checked against xyconv where it is installed.
std::string v1_file(bool repeat_magic) {
    Buf f(4, "RAW ");
    for (int i = 0; i < 2; ++i) {
        if (i > 0 && repeat_magic) f.text(f.s.size(), "RAW ");
        Buf h(152);
        h.u32(0, i == 0 ? 4 : 3)
            .f32(4, 1.5f)
            .f32(8, i == 0 ? 0.05f : 0.1f)
            .f32(20, 10.0f * (i + 1));
        h.text(36, i == 0 ? "first" : "second").f32(68, 1.5406f).f32(72, 1.54439f).u32(148, 1 - i);
        f.append(h, i == 0 ? std::vector<float>{1, 2, 3, 4} : std::vector<float>{5, 6, 7});
    }
    return f.s;
}

std::string v2_file() {
    Buf f(256, "RAW2");
    f.u32(4, 2).f32(190, 1.5406f).f32(194, 1.54439f).f32(198, 0.5f);
    for (int i = 0; i < 2; ++i) {
        Buf h(64);
        h.u32(0, 64 | ((i == 0 ? 4 : 3) << 16)).f32(8, 1.5f).f32(12, i == 0 ? 0.05f : 0.1f);
        h.f32(16, 10.0f * (i + 1)).u32(46, i == 0 ? 65535 : 298);  // kelvin; 65535: none
        f.append(h, i == 0 ? std::vector<float>{1, 2, 3, 4} : std::vector<float>{5, 6, 7});
    }
    return f.s;
}

// Each range's temperature, where versions 2 and 3 record one, goes with its scan.
TEST(BrukerRaw, RangeTemperatures) {
    const std::vector<BuiltRange> series = {{0, "", 20.0, {1, 2}, -1.0f},
                                            {0, "", 20.0, {3, 4}, 313.5f}};
    const struct {
        std::string content;
        int32_t scan;
        std::optional<double> kelvin;
    } cases[] = {
        {v3_file(series), 1, std::nullopt},
        {v3_file(series), 2, 313.5},
        {v2_file(), 1, std::nullopt},
        {v2_file(), 2, 298},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 4) + ", range " + std::to_string(c.scan));
        Bench b;
        b.ws.options.scan = c.scan;
        ASSERT_EQ(b.read(bruker_raw_codec, c.content, "series.raw"), ConversionStatus::done)
            << b.ws.failure_reason;
        EXPECT_EQ(b.ws.scan.temperature, c.kelvin);
    }
}

TEST(BrukerRaw, VersionsOneAndTwoReadAsXyconvReadsThem) {
    testing::ScratchDir dir;
    const std::pair<std::string, const char*> cases[] = {
        {v1_file(true), "second"}, {v1_file(false), "second"}, {v2_file(), ""}};
    for (const auto& [content, title] : cases) {
        for (int32_t scan : {1, 2}) {
            SCOPED_TRACE(content.substr(0, 4) + ", range " + std::to_string(scan));
            Bench b;
            b.ws.options.scan = scan;
            ASSERT_EQ(b.read(bruker_raw_codec, content, "old.raw"), ConversionStatus::done)
                << b.ws.failure_reason;
            const PowderPattern& r = b.r();
            EXPECT_EQ(r.point_count, scan == 1 ? 4 : 3);
            EXPECT_FLOAT_EQ(r.two_theta_start, 10.0f * scan);
            EXPECT_FLOAT_EQ(r.count_time, 1.5f);
            EXPECT_FLOAT_EQ(r.lambda2, 1.54439f);
            EXPECT_FLOAT_EQ(r.alpha_ratio, 0.5f);
            if (scan == 2) {
                EXPECT_TRUE(r.title.starts_with(title)) << r.title;
            }
            const std::string warnings = all_warnings(b);
            EXPECT_NE(warnings.find("old.raw holds 2 ranges; range " + std::to_string(scan)),
                      std::string::npos);
            EXPECT_NE(warnings.find("does not state the scan axis"), std::string::npos);

            testing::write_file(dir / "old.raw", content);
            const auto xy = xyconv_block(dir / "old.raw", scan - 1);
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
