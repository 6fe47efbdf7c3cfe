// Stoe raw binary scans, read from unit 1 block by block; every number is
// assembled from its bytes, least significant first, so the files are the same
// on any host.
#include "formats/stoe_raw.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/layout.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr std::size_t kBlock = kStoeBlockSize;
// Where our files keep the range header (block 3, counted from 0), and where a
// file whose header names no plausible block is taken to keep it.
constexpr std::size_t kDefaultRangeHeader = 3 * kBlock;
constexpr int32_t kInt32CountsPerBlock = 128;
constexpr int32_t kInt16CountsPerBlock = 256;
static_assert(kInt32CountsPerBlock * 4 == kBlock && kInt16CountsPerBlock * 2 == kBlock);

// File header offsets.
constexpr std::size_t kTitleAt = 32;
constexpr std::size_t kTitleField = 72;
constexpr std::size_t kRadiationAt = 310;
constexpr std::size_t kLambda1At = 322;
constexpr std::size_t kLambda2At = 326;
constexpr std::size_t kTotalPointsAt = 466;
constexpr std::size_t kBlocksAt = 474;      // total blocks: data blocks + 4
constexpr std::size_t kBlocksCopyAt = 476;  // the same again
constexpr std::size_t kRangeBlockAt = 480;  // 1-based block of the range header
constexpr std::size_t kDataBlocksAt = 496;  // data blocks of the range
// Range header offsets, from the start of the range header.
constexpr std::size_t kPointCountAt = 34;   // int16, low 16 bits of the count
constexpr std::size_t kSampleWidthAt = 38;  // 0: int32 counts, else int16
constexpr std::size_t kStartAt = 44;        // real32 pairs: 2-theta, theta
constexpr std::size_t kEndAt = 52;
constexpr std::size_t kStepAt = 60;
constexpr std::size_t kCountTimeAt = 68;
constexpr std::size_t kMinCountAt = 120;
constexpr std::size_t kMaxCountAt = 124;

// --- Little-endian fields; callers have checked that the bytes exist ---------

uint32_t get_u16(std::string_view b, std::size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8);
}
int32_t get_i16(std::string_view b, std::size_t at) {
    return static_cast<int16_t>(static_cast<uint16_t>(get_u16(b, at)));
}
uint32_t get_u32(std::string_view b, std::size_t at) {
    return get_u16(b, at) | (get_u16(b, at + 2) << 16);
}
int32_t get_i32(std::string_view b, std::size_t at) {
    return static_cast<int32_t>(get_u32(b, at));
}
float get_f32(std::string_view b, std::size_t at) {
    return std::bit_cast<float>(get_u32(b, at));
}

void put_u16(std::string& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFFu);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFFu);
}
void put_i16(std::string& b, std::size_t at, int32_t v) {
    put_u16(b, at, static_cast<uint16_t>(v));
}
void put_i32(std::string& b, std::size_t at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    put_u16(b, at, u & 0xFFFFu);
    put_u16(b, at + 2, u >> 16);
}
void put_f32(std::string& b, std::size_t at, float v) {
    put_i32(b, at, static_cast<int32_t>(std::bit_cast<uint32_t>(v)));
}
// A text field of `length` bytes, blank-padded.
void put_text(std::string& b, std::size_t at, std::string_view text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) b[at + i] = i < text.size() ? text[i] : ' ';
}

// Other programs end the title with a NUL and leave whatever was in memory
// behind it; control characters would break the lines of a text output.
std::string title_text(std::string_view field) {
    std::string title(field.substr(0, field.find('\0')));
    for (char& c : title)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return title;
}

// The radiation code of the file header: chromium, cobalt and molybdenum K-alpha1
// lie far enough apart that at most one test holds; anything else counts as copper.
int32_t radiation_code(float lambda1) {
    if (std::fabs(lambda1 - 2.2896f) < 0.1f) return 6;
    if (std::fabs(lambda1 - 1.7889f) < 0.1f) return 4;
    if (std::fabs(lambda1 - 0.7093f) < 0.1f) return 2;
    return 3;
}

// A count staged from an intensity: rounded to a whole count (the tally
// notes what changed); false when it does not fit an int32 (or is not a number).
bool stage_count(float intensity, float shift, RoundingTally& tally, int32_t& count) {
    const double v = tally.take(intensity, shift);
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
    count = static_cast<int32_t>(v);
    return true;
}

}  // namespace

// What the first bytes say: Stoe files begin "RAW_" ("RAW_1.06Powdat"); Bruker
// RAW files, which share the extension, begin "RAW1.01", "RAW2", "RAW4.00" or
// "RAW ". The empty reason is a Stoe file.
std::string signature_problem(std::string_view file, const std::string& name) {
    if (file.starts_with("RAW_")) return {};
    for (const std::string_view bruker : {"RAW1.01", "RAW4.00", "RAW2", "RAW "})
        if (file.starts_with(bruker))
            return name + " is a Bruker RAW file (it begins '" + std::string(bruker) +
                   "'), not a Stoe raw file";
    return name + " is not a Stoe raw file: it does not begin with 'RAW_'";
}

ConversionStatus read_stoe_raw(Workspace& ws) {
    // Only the blocks the scan needs are read: the file header, the range
    // header and the data blocks up to the last point.
    InputUnit& in = ws.input();
    const std::size_t file_size = in.size();
    const std::string_view file = in.bytes_at(0, kBlock);  // the file header
    const std::string name(ws.input().file_name());
    const auto cut = [&](std::string_view what) {
        return ws.fail(
            ConversionStatus::premature_end,
            name + " ends at byte " + std::to_string(file_size) + ", within " + std::string(what));
    };
    if (file.size() < 4) return cut("its signature");
    if (const std::string problem = signature_problem(file, name); !problem.empty())
        return ws.fail(ConversionStatus::not_available, problem);
    if (file.size() < kBlock) return cut("its file header");

    // The file header names the block of the range header; files that name none
    // past the reserved blocks keep it in block 3. A named block that the file
    // does not reach means the file was cut short.
    const int32_t named_block = get_i16(file, kRangeBlockAt);
    const std::size_t range =
        named_block >= 4 ? static_cast<std::size_t>(named_block - 1) * kBlock : kDefaultRangeHeader;
    if (file_size < range + kBlock) return cut("its range header");
    const std::string_view range_header = in.bytes_at(range, kBlock);
    if (range_header.size() < kBlock) return cut("its range header");

    // The data blocks follow the range header. Their number is at 496; files
    // that leave it 0 give the total block count at 474 instead.
    const int32_t announced = get_i16(file, kDataBlocksAt);
    const int32_t data_blocks = announced > 0 ? announced : get_i16(file, kBlocksAt) - 4;
    const std::size_t data = range + kBlock;
    const std::size_t data_bytes =
        data_blocks > 0 ? static_cast<std::size_t>(data_blocks) * kBlock : 0;
    if (file_size - data < data_bytes)
        return cut("the " + std::to_string(data_blocks) + " data blocks that its header announces");

    PowderPattern& r = ws.record();
    r.lambda1 = get_f32(file, kLambda1At);
    r.lambda2 = get_f32(file, kLambda2At);
    if (r.lambda2 > 0.1f) r.alpha_ratio = 0.5f;
    r.set_title(title_text(file.substr(kTitleAt, kTitleLength)));
    r.two_theta_start = get_f32(range_header, kStartAt);
    r.two_theta_end = get_f32(range_header, kEndAt);
    r.two_theta_step = get_f32(range_header, kStepAt);
    r.count_time = get_f32(range_header, kCountTimeAt);

    // The count field holds the low 16 bits: read unsigned, a scan of more than
    // 32767 points keeps its true length instead of turning negative.
    static_assert(0xFFFF <= kPointCapacity);
    const auto n = static_cast<int32_t>(get_u16(range_header, kPointCountAt));
    r.point_count = n;

    const bool int16_counts = get_i16(range_header, kSampleWidthAt) != 0;
    const std::size_t width = int16_counts ? 2 : 4;
    const std::size_t stored = data_bytes / width;
    // Every point needs its count in the data blocks; the slots after the last
    // point of the last block are padding.
    if (stored < static_cast<std::size_t>(n))
        return ws.fail(ConversionStatus::record_error,
                       name + ": the range header announces " + std::to_string(n) +
                           " points, but its " + std::to_string(std::max(data_blocks, 0)) +
                           " data blocks hold " + std::to_string(stored) + " counts");
    const std::size_t wanted = static_cast<std::size_t>(n) * width;
    const std::string_view counts = in.bytes_at(data, wanted);
    if (counts.size() < wanted) return cut("its data blocks");
    for (int32_t k = 1; k <= n; ++k) {
        const auto slot = static_cast<std::size_t>(k - 1);
        const int32_t count = int16_counts ? get_i16(counts, slot * 2) : get_i32(counts, slot * 4);
        r.intensity(k) = static_cast<float>(count);
    }
    return ConversionStatus::done;
}

ConversionStatus write_stoe_raw(Workspace& ws) {
    const PowderPattern& r = ws.record();
    const int32_t n = r.point_count > 0 ? r.point_count : 0;
    // The point count and the block counts are int16 fields.

    if (n > kStoeMaxPoints)
        return ws.fail(ConversionStatus::too_large,
                       std::to_string(n) + " points do not fit Stoe raw's 16-bit point count (" +
                           std::to_string(kStoeMaxPoints) +
                           " at most); x-y, xye or cif can hold them");
    std::vector<int32_t> counts(static_cast<std::size_t>(n));
    RoundingTally tally;
    for (int32_t k = 1; k <= n; ++k)
        if (!stage_count(r.intensity(k), ws.intensity_shift, tally,
                         counts[static_cast<std::size_t>(k - 1)]))
            return ws.fail(ConversionStatus::too_large,
                           "count " + value_text(r.intensity(k)) + " at point " +
                               std::to_string(k) +
                               " does not fit Stoe raw's 32-bit counts; x-y, xye or cif can "
                               "hold it");
    if (const std::string w = tally.warning("Stoe raw"); !w.empty()) ws.warn(w);
    // The file keeps both wavelengths but no ratio: its readers take 0.5.
    if (r.lambda2 > 0.1f && r.alpha_ratio > 0.0f && r.alpha_ratio != 0.5f)
        ws.warn("Stoe raw holds no alpha2/alpha1 ratio: " + shortest_decimal(r.alpha_ratio) +
                " not written (read back as 0.5)");
    int32_t smallest = 0, largest = 0;
    if (n > 0) {
        smallest = largest = counts[0];
        for (const int32_t c : counts) {
            smallest = c < smallest ? c : smallest;
            largest = c > largest ? c : largest;
        }
    }

    const int32_t data_blocks = (n + kInt32CountsPerBlock - 1) / kInt32CountsPerBlock;
    std::string file((4 + static_cast<std::size_t>(data_blocks)) * kBlock, '\0');

    // Block 0: the file header.
    put_text(file, 0, "RAW_1.03", 8);
    put_text(file, 8, "UNKNOWN ", 8);
    put_text(file, 16, stoe_date_stamp(ws), 16);
    put_text(file, kTitleAt, r.title, kTitleField);
    put_text(file, 104, "", 200);
    put_i16(file, 306, 1000);
    put_i16(file, kRadiationAt, radiation_code(r.lambda1));
    put_i16(file, 312, 1);
    put_f32(file, kLambda1At, r.lambda1);
    put_f32(file, kLambda2At, r.lambda2);
    put_i16(file, 358, 2);
    put_i16(file, 360, 3);
    put_i16(file, 378, 1);
    put_text(file, 440, "", 16);
    put_text(file, 456, "", 6);
    put_i32(file, kTotalPointsAt, n);
    put_i16(file, 470, 1);
    put_i16(file, kBlocksAt, data_blocks + 4);
    put_i16(file, kBlocksCopyAt, data_blocks + 4);
    put_i16(file, kRangeBlockAt, 4);
    put_i16(file, kDataBlocksAt, data_blocks);

    // Blocks 1 and 2 stay zero; block 3: the range header.
    const std::size_t range = kDefaultRangeHeader;
    put_text(file, range, "??", 16);
    put_text(file, range + 16, "??", 16);
    put_i16(file, range + kPointCountAt, n);
    put_f32(file, range + kStartAt, r.two_theta_start);
    put_f32(file, range + kStartAt + 4, r.two_theta_start * 0.5f);
    put_f32(file, range + kEndAt, r.two_theta_end);
    put_f32(file, range + kEndAt + 4, r.two_theta_end * 0.5f);
    put_f32(file, range + kStepAt, r.two_theta_step);
    put_f32(file, range + kStepAt + 4, r.two_theta_step * 0.5f);
    put_f32(file, range + kCountTimeAt, r.count_time);
    put_i32(file, range + kMinCountAt, smallest);
    put_i32(file, range + kMaxCountAt, largest);

    // The data blocks: int32 counts, the slots after the last point left 0.
    const std::size_t data = range + kBlock;
    for (std::size_t i = 0; i < counts.size(); ++i) put_i32(file, data + i * 4, counts[i]);

    ws.output().restart();
    ws.output().append_bytes(file);
    return ConversionStatus::done;
}

std::string stoe_date_stamp(const Workspace& ws) {
    static const Layout kStamp("(I2,'-',A3,'-',I2,' ',I2.2,':',I2.2)");
    static constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    const LocalTime now = ws.local_time();
    const std::string_view month =
        now.month >= 1 && now.month <= 12
            ? kMonths.substr(static_cast<std::size_t>(now.month - 1) * 3, 3)
            : std::string_view("   ");
    const int year = (now.year % 100 + 100) % 100;
    return write_text(16, kStamp, {now.day, month, year, now.hour, now.minute}).text;
}

ConversionStatus stoe_raw_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(
        ws, [&] { return mode == CodecMode::write ? write_stoe_raw(ws) : read_stoe_raw(ws); });
}

}  // namespace qelda
