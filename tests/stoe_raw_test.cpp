// Stoe raw binary scans: block arithmetic, header offsets, the two count forms,
// the date stamp, the range-header pointer of real files, cut files, refused
// datasets, and the real sample against its x-y export.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "formats/stoe_raw.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::fill_scan;

constexpr std::size_t kRange = 1536;  // the range header of our files
constexpr std::size_t kData = 2048;

int32_t le16(const std::string& b, std::size_t at) {
    return static_cast<int16_t>(static_cast<uint16_t>(
        static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8));
}
int32_t le32(const std::string& b, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
    return static_cast<int32_t>(v);
}
float lef(const std::string& b, std::size_t at) {
    return std::bit_cast<float>(le32(b, at));
}
void set16(std::string& b, std::size_t at, int32_t v) {
    b.at(at) = static_cast<char>(v & 0xFF);
    b.at(at + 1) = static_cast<char>((v >> 8) & 0xFF);
}

// What the writer makes of the bench's record.
std::string written(Bench& b) {
    std::string out;
    EXPECT_EQ(b.write(stoe_raw_codec, out), ConversionStatus::done);
    return out;
}

// A file of `n` points whose counts are 1000 + point number.
std::string scan_file(int32_t n) {
    Bench b;
    fill_scan(b.r(), n, 10.0f, 0.02f);
    for (int32_t k = 1; k <= n; ++k) b.r().intensity(k) = static_cast<float>(1000 + k);
    return written(b);
}

// --- Writing -----------------------------------------------------------------

struct BlockCase {
    int32_t points;
    std::size_t file_size;
    int32_t total_blocks;  // offsets 474 and 476
    int32_t data_blocks;   // offset 496
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.points << " points";
}

class StoeRawBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(StoeRawBlocks, BlockArithmetic) {
    const BlockCase c = GetParam();
    const std::string f = scan_file(c.points);
    ASSERT_EQ(f.size(), c.file_size);
    EXPECT_EQ(le16(f, 474), c.total_blocks);
    EXPECT_EQ(le16(f, 476), c.total_blocks);
    EXPECT_EQ(le16(f, 496), c.data_blocks);
    EXPECT_EQ(le16(f, 480), 4);
    for (std::size_t at = 482; at < 496; at += 2) EXPECT_EQ(le16(f, at), 0) << at;
    for (std::size_t at = 498; at < 512; at += 2) EXPECT_EQ(le16(f, at), 0) << at;
    EXPECT_EQ(le32(f, 466), c.points);
    EXPECT_EQ(le16(f, kRange + 34), c.points);
    for (int32_t k = 1; k <= c.points; ++k)
        ASSERT_EQ(le32(f, kData + 4 * static_cast<std::size_t>(k - 1)), 1000 + k) << k;
    for (std::size_t at = kData + 4 * static_cast<std::size_t>(c.points); at < f.size(); ++at)
        ASSERT_EQ(f[at], '\0') << "slot after the last point at " << at;
}

INSTANTIATE_TEST_SUITE_P(Points, StoeRawBlocks,
                         ::testing::Values(BlockCase{0, 2048, 4, 0}, BlockCase{1, 2560, 5, 1},
                                           BlockCase{128, 2560, 5, 1}, BlockCase{129, 3072, 6, 2},
                                           BlockCase{32767, 2048 + 256 * 512, 260, 256}));

TEST(StoeRawWrite, HeaderFieldsAtTheirOffsets) {
    Bench b;
    fill_scan(b.r(), 3, 12.5f, 0.04f);
    b.r().intensity(1) = 40.9f;
    b.r().intensity(2) = -7.5f;
    b.r().intensity(3) = 90.0f;
    b.r().set_title("Quartz standard");
    b.r().lambda1 = 1.5406f;
    b.r().lambda2 = 1.5444f;
    b.r().count_time = 2.5f;
    b.ws.local_time = [] { return LocalTime{5, 7, 2002, 21, 1}; };
    const std::string f = written(b);

    EXPECT_EQ(f.substr(0, 32), "RAW_1.03UNKNOWN  5-JUL- 2 21:01 ");
    EXPECT_EQ(f.substr(32, 72), fixed_text("Quartz standard", 72));
    EXPECT_EQ(f.substr(104, 200), std::string(200, ' '));
    EXPECT_EQ(f.substr(440, 22), std::string(22, ' '));
    EXPECT_EQ(f.substr(kRange, 32), fixed_text("??", 16) + fixed_text("??", 16));
    EXPECT_EQ(f.substr(512, 1024), std::string(1024, '\0'));

    const std::pair<std::size_t, int32_t> int16s[] = {
        {304, 0},         {306, 1000},      {308, 0},         {310, 3},        {312, 1},
        {314, 0},         {358, 2},         {360, 3},         {376, 0},        {378, 1},
        {470, 1},         {472, 0},         {478, 0},         {474, 5},        {476, 5},
        {kRange + 32, 0}, {kRange + 34, 3}, {kRange + 36, 0}, {kRange + 38, 0}};
    for (const auto& [at, v] : int16s) EXPECT_EQ(le16(f, at), v) << "int16 at " << at;
    const std::pair<std::size_t, float> reals[] = {
        {322, 1.5406f},       {326, 1.5444f},        {330, 0.0f},          {kRange + 44, 12.5f},
        {kRange + 48, 6.25f}, {kRange + 52, 12.58f}, {kRange + 56, 6.29f}, {kRange + 60, 0.04f},
        {kRange + 64, 0.02f}, {kRange + 68, 2.5f},   {kRange + 72, 0.0f}};
    for (const auto& [at, v] : reals) EXPECT_FLOAT_EQ(lef(f, at), v) << "real32 at " << at;
    EXPECT_EQ(le32(f, kRange + 120), -8) << "smallest count";
    EXPECT_EQ(le32(f, kRange + 124), 90) << "largest count";
    EXPECT_EQ(le32(f, kData), 41);
}

struct RadiationCase {
    float lambda1;
    int32_t code;
};

void PrintTo(const RadiationCase& c, std::ostream* os) {
    *os << "lambda1 " << c.lambda1;
}

class StoeRawRadiation : public ::testing::TestWithParam<RadiationCase> {};

TEST_P(StoeRawRadiation, CodeFromLambda1) {
    Bench b;
    fill_scan(b.r(), 1, 10.0f, 0.02f);
    b.r().lambda1 = GetParam().lambda1;
    EXPECT_EQ(le16(written(b), 310), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Lines, StoeRawRadiation,
                         ::testing::Values(RadiationCase{1.5406f, 3}, RadiationCase{1.7890f, 4},
                                           RadiationCase{0.7107f, 2}, RadiationCase{2.2897f, 6},
                                           RadiationCase{1.69f, 4}, RadiationCase{1.68f, 3},
                                           RadiationCase{0.0f, 3}));

struct StampCase {
    LocalTime now;
    const char* stamp;
};

void PrintTo(const StampCase& c, std::ostream* os) {
    *os << "'" << c.stamp << "'";
}

class StoeRawDateStamp : public ::testing::TestWithParam<StampCase> {};

TEST_P(StoeRawDateStamp, DayMonthYearHourMinute) {
    Bench b;
    b.ws.local_time = [t = GetParam().now] { return t; };
    EXPECT_EQ(stoe_date_stamp(b.ws), GetParam().stamp);
}

INSTANTIATE_TEST_SUITE_P(Dates, StoeRawDateStamp,
                         ::testing::Values(StampCase{{5, 7, 2002, 21, 1}, " 5-JUL- 2 21:01 "},
                                           StampCase{{31, 12, 1999, 0, 0}, "31-DEC-99 00:00 "},
                                           StampCase{{1, 1, 2010, 9, 5}, " 1-JAN-10 09:05 "},
                                           StampCase{{29, 2, 2024, 23, 59}, "29-FEB-24 23:59 "},
                                           StampCase{{12, 13, 2000, 12, 0}, "12-   - 0 12:00 "}));

// Datasets the format cannot hold are refused, and nothing is written.
TEST(StoeRawWrite, RefusesWhatTheFormatCannotHold) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const float bad : {3.0e9f, -3.0e9f, 2147483648.0f, nan, inf}) {
        Bench b;
        fill_scan(b.r(), 10, 10.0f, 0.02f);
        b.r().intensity(10) = bad;
        std::string out;
        EXPECT_EQ(b.write(stoe_raw_codec, out), ConversionStatus::too_large) << bad;
        EXPECT_TRUE(out.empty());
    }
    Bench b;
    fill_scan(b.r(), 32768, 10.0f, 0.001f);
    std::string out;
    EXPECT_EQ(b.write(stoe_raw_codec, out), ConversionStatus::too_large);
    EXPECT_TRUE(out.empty());
}

// --- Reading -----------------------------------------------------------------

TEST(StoeRawRead, RoundTripRoundsIntensities) {
    Bench b;
    fill_scan(b.r(), 6, 5.0f, 0.015f);
    const float in[] = {12.9f, -3.7f, 0.0f, 123456.75f, 2147483520.0f, -2147483648.0f};
    for (int32_t k = 1; k <= 6; ++k) b.r().intensity(k) = in[k - 1];
    b.r().set_title("round trip");
    b.r().lambda1 = 0.7093f;
    b.r().lambda2 = 0.71359f;
    b.r().count_time = 10.0f;
    const std::string f = written(b);

    Bench c;
    c.r().alpha_ratio = 0.3f;
    c.r().sigma(1) = 7.0f;
    c.r().intensity(7) = 55.0f;
    ASSERT_EQ(c.read(stoe_raw_codec, f), ConversionStatus::done);
    EXPECT_EQ(c.r().title, b.r().title);
    EXPECT_EQ(c.r().lambda1, 0.7093f);
    EXPECT_EQ(c.r().lambda2, 0.71359f);
    EXPECT_EQ(c.r().alpha_ratio, 0.5f);
    EXPECT_EQ(c.r().two_theta_start, 5.0f);
    EXPECT_EQ(c.r().two_theta_end, b.r().two_theta_end);
    EXPECT_EQ(c.r().two_theta_step, 0.015f);
    EXPECT_EQ(c.r().count_time, 10.0f);
    ASSERT_EQ(c.r().point_count, 6);
    const float expected[] = {13.0f, -4.0f, 0.0f, 123457.0f, 2147483520.0f, -2147483648.0f};
    EXPECT_EQ(b.ws.warnings, std::vector<std::string>{"Stoe raw holds whole counts: 3 "
                                                      "intensities rounded (largest change 0.3)"});
    for (int32_t k = 1; k <= 6; ++k) EXPECT_EQ(c.r().intensity(k), expected[k - 1]) << k;
    EXPECT_EQ(c.r().sigma(1), 7.0f) << "sigma is not stored";
    EXPECT_EQ(c.r().intensity(7), 55.0f);
}

TEST(StoeRawRead, AlphaRatioSetOnlyByASecondWavelength) {
    const std::pair<float, float> cases[] = {{0.0f, 0.37f}, {0.1f, 0.37f}, {1.5444f, 0.5f}};
    for (const auto& [lambda2, ratio] : cases) {
        Bench b;
        fill_scan(b.r(), 2, 10.0f, 0.02f);
        b.r().lambda2 = lambda2;
        Bench c;
        c.r().alpha_ratio = 0.37f;
        ASSERT_EQ(c.read(stoe_raw_codec, written(b)), ConversionStatus::done);
        EXPECT_EQ(c.r().alpha_ratio, ratio) << lambda2;
    }
}

TEST(StoeRawRead, Int16CountsKeepTheirSign) {
    std::string f = scan_file(300);  // 3 int32 blocks: room for 768 int16 counts
    set16(f, kRange + 38, 1);
    for (std::size_t k = 1; k <= 300; ++k) set16(f, kData + 2 * (k - 1), static_cast<int>(k));
    set16(f, kData + 2 * 9, 0xFFFE);
    set16(f, kData + 2 * 256, 0x7FFF);  // point 257, first slot of the second block
    set16(f, kData + 2 * 299, 0x8000);
    Bench c;
    ASSERT_EQ(c.read(stoe_raw_codec, f), ConversionStatus::done);
    ASSERT_EQ(c.r().point_count, 300);
    EXPECT_EQ(c.r().intensity(1), 1.0f);
    EXPECT_EQ(c.r().intensity(10), -2.0f);
    EXPECT_EQ(c.r().intensity(256), 256.0f);
    EXPECT_EQ(c.r().intensity(257), 32767.0f);
    EXPECT_EQ(c.r().intensity(300), -32768.0f);
}

// A file laid out as other programs write it: the range header at the block
// that offset 480 names, the data blocks right after it, the data block count
// at 496 and something else at 474.
std::string moved_range_header(int32_t points, int32_t block) {
    std::string f = scan_file(points);
    f.insert(kRange, static_cast<std::size_t>(block - 4) * 512, '\0');
    set16(f, 480, block);
    set16(f, 474, 22);
    set16(f, 476, 538);
    return f;
}

TEST(StoeRawRead, RangeHeaderPointerAndBlockCounts) {
    struct Case {
        const char* what;
        std::string file;
    };
    std::vector<Case> cases;
    cases.push_back({"block 5", moved_range_header(200, 5)});
    cases.push_back({"block 40", moved_range_header(200, 40)});
    std::string f = scan_file(200);
    set16(f, 480, 0);
    cases.push_back({"no block named", f});
    set16(f, 480, 2);
    cases.push_back({"reserved block named", f});
    f = scan_file(200);
    set16(f, 496, 0);
    cases.push_back({"only the total at 474", f});
    f = scan_file(200);
    f.replace(0, 8, "RAW_1.06");
    set16(f, 496, 3);
    f += std::string(512, '\x7F');  // counts after the last point are discarded
    cases.push_back({"other version, one block more", f});
    for (const Case& c : cases) {
        Bench b;
        ASSERT_EQ(b.read(stoe_raw_codec, c.file), ConversionStatus::done) << c.what;
        ASSERT_EQ(b.r().point_count, 200) << c.what;
        EXPECT_EQ(b.r().two_theta_start, 10.0f) << c.what;
        for (int32_t k = 1; k <= 200; ++k)
            ASSERT_EQ(b.r().intensity(k), static_cast<float>(1000 + k)) << c.what << k;
    }
}

// The signature, and points that the data blocks do not cover.
TEST(StoeRawRead, RefusesOtherFilesAndMissingCounts) {
    struct Case {
        const char* what;
        std::string file;
        ConversionStatus status;
        const char* phrase;
    };
    std::vector<Case> cases;
    for (const char* bruker : {"RAW1.01", "RAW4.00", "RAW2", "RAW "}) {
        std::string f = scan_file(10);
        f.replace(0, 8, std::string(bruker) + std::string(8 - std::string(bruker).size(), '\0'));
        cases.push_back(
            {bruker, f, ConversionStatus::not_available, "is a Bruker RAW file (it begins '"});
    }
    cases.push_back({"other first bytes", "PK\x03\x04" + scan_file(10).substr(4),
                     ConversionStatus::not_available, "not a Stoe raw file"});
    std::string f = scan_file(300).substr(0, kData + 512);
    set16(f, 496, 1);
    cases.push_back({"more points than the blocks hold", f, ConversionStatus::record_error,
                     "announces 300 points, but its 1 data blocks hold 128 counts"});
    for (const Case& c : cases) {
        Bench b;
        EXPECT_EQ(b.read(stoe_raw_codec, c.file, "scan.raw"), c.status) << c.what;
        EXPECT_NE(b.ws.failure_reason.find(c.phrase), std::string::npos)
            << c.what << ": " << b.ws.failure_reason;
    }
}

TEST(StoeRawRead, TitleEndsAtNulAndLosesControlCharacters) {
    std::string f = scan_file(1);
    f.replace(32, 20, std::string("A\r\nB\tC\0ds\0ads\0", 15) + "xxxxx");
    Bench b;
    ASSERT_EQ(b.read(stoe_raw_codec, f), ConversionStatus::done);
    EXPECT_EQ(b.r().title, fixed_text("A  B C", 60));
}

// A file cut anywhere before its end fails cleanly and leaves the record alone.
void expect_cut_files_fail(const std::string& f, std::size_t stride) {
    Bench b;
    b.r().point_count = 17;
    for (std::size_t size = 0; size < f.size(); size += stride) {
        ASSERT_EQ(b.read(stoe_raw_codec, f.substr(0, size)), ConversionStatus::premature_end)
            << "cut at " << size;
        ASSERT_EQ(b.r().point_count, 17);
    }
    ASSERT_EQ(b.read(stoe_raw_codec, f), ConversionStatus::done);
}

TEST(StoeRawRead, CutFilesEndPrematurely) {
    expect_cut_files_fail(scan_file(300), 1);
    expect_cut_files_fail(moved_range_header(300, 9), 1);
}

// --- Real files ----------------------------------------------------------------

// The counts of an x-y export: one "angle count" pair per line.
std::vector<std::pair<double, double>> parse_xy(const std::string& text) {
    std::vector<std::pair<double, double>> points;
    const char* p = text.data();
    const char* end = p + text.size();
    auto number = [&](double& v) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) ++p;
        const auto r = std::from_chars(p, end, v);
        if (r.ec != std::errc()) return false;
        p = r.ptr;
        return true;
    };
    double x = 0, y = 0;
    while (number(x) && number(y)) points.emplace_back(x, y);
    return points;
}

const char* const kSampleRaw = "stoe_raw/LA_P-37cd_DUT-52(Zr)_act_EtOH.raw";

TEST(StoeRawSample, ReadsTheCountsOfItsXyExport) {
    QELDA_SAMPLE_OR_SKIP(raw, kSampleRaw);
    QELDA_SAMPLE_OR_SKIP(xyd, "xy/LA_P-37cd_DUT-52(Zr)_act_EtOH.xyd");
    Bench b;
    ASSERT_EQ(b.read(stoe_raw_codec, testing::read_file(raw)), ConversionStatus::done);
    const PowderPattern& r = b.r();
    EXPECT_EQ(trim_right(r.title), "LA_P-37cd_DUT-52(Zr)_act_EtOH");
    EXPECT_NEAR(r.lambda1, 1.5406, 1e-5);
    EXPECT_NEAR(r.lambda2, 1.54439, 1e-5);
    EXPECT_EQ(r.alpha_ratio, 0.5f);
    EXPECT_FLOAT_EQ(r.two_theta_start, 5.0f);
    EXPECT_FLOAT_EQ(r.two_theta_end, 45.545f);
    EXPECT_FLOAT_EQ(r.two_theta_step, 0.015f);
    ASSERT_EQ(r.point_count, 2704);

    const auto xy = parse_xy(testing::read_file(xyd));
    ASSERT_EQ(xy.size(), 2704u);
    for (int32_t k = 1; k <= 2704; ++k) {
        const auto& [angle, count] = xy[static_cast<std::size_t>(k - 1)];
        ASSERT_NEAR(angle, r.two_theta_start + (k - 1) * double{r.two_theta_step}, 5e-4) << k;
        ASSERT_EQ(r.intensity(k), count) << "point " << k;
    }
}

TEST(StoeRawSample, CutAtAnyBlockEndsPrematurely) {
    QELDA_SAMPLE_OR_SKIP(raw, kSampleRaw);
    expect_cut_files_fail(testing::read_file(raw), 512);
}

// The example file is our writer's own: reading and writing it again gives the
// same bytes, apart from the date stamp.
TEST(StoeRawExample, RewritesToTheSameBytes) {
    const std::string f =
        testing::read_file(std::string(QELDA_SOURCE_DIR) + "/examples/quartz.raw");
    Bench b;
    ASSERT_EQ(b.read(stoe_raw_codec, f), ConversionStatus::done);
    EXPECT_GT(b.r().point_count, 1000);
    const std::string again = written(b);
    ASSERT_EQ(again.size(), f.size());
    EXPECT_EQ(again.substr(0, 16), f.substr(0, 16));
    EXPECT_TRUE(again.substr(32) == f.substr(32));
}

}  // namespace
}  // namespace qelda
