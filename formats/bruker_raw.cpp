// Bruker RAW binary scans, read only. Every number is little-endian and is
// assembled from its bytes; every offset is checked against the file's length
// before anything is read from it.
//
// Version 1 ("RAW "): ranges of a 152-byte header and the counts; a range after
// the first may repeat "RAW " before its header.
//   range header  0 u32 points, 4 f32 step time, 8 f32 step, 20 f32 2theta
//                 start, 36 sample name (32 chars), 68/72 f32 K-alpha1/2,
//                 148 u32 nonzero when another range follows
// Version 2 ("RAW2"): a 256-byte file header (4 u16 ranges, 190/194 f32
// K-alpha1/2, 198 f32 alpha2/alpha1 ratio), then ranges of a header (0 u16 its
// length, 2 u16 points, 8 f32 step time, 12 f32 step, 16 f32 2theta start, 46
// u16 temperature in kelvin, 65535 when none) and the counts. Neither version
// states the scan axis.
// Version 3 ("RAW1.01"): a 712-byte file header, then one block per range: a
// 304-byte range header, its supplementary records, and its counts.
//   file header   12 u32 ranges, 326 sample id (60 chars), 624/632 f64 K-alpha1
//                 and K-alpha2, 648 f64 alpha2/alpha1 ratio
//   range header  0 u32 header length (304), 4 u32 points, 8/16/24/32 f64
//                 theta/2theta/chi/phi start, 40/48/56 f64 x/y/z start, 144/152/160
//                 f64 aux1-3 start, 176 f64 step, 192 f32 step time, 196 u32 scan
//                 type, 212 f32 temperature in kelvin (-1 when none), 240 f64
//                 wavelength used, 252 u32 bytes per data record,
//                 256 u32 length of the supplementary records
// Version 4 ("RAW4.00"): from byte 61 a chain of segments (u32 type, u32 length
// including these 8 bytes): 10 a named text (name at +12, 24 chars; value from
// +36), 30 the tube (+80/+88 f64 K-alpha1/2, +104 f64 ratio), others skipped.
// A segment of type 0 or 160 is a range header of 160 bytes: +32 scan type (24
// chars), +72 f64 start, +80 f64 step, +88 u32 points, +92 f32 step time, +112
// f64 wavelength used, +136 u32 bytes per point, +140 u32 length of the range's
// own segments, which come before its counts. Ranges follow one another.
// Counts are float32, one per point, in counts per step.
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/prompts.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"

namespace qelda {
namespace {

constexpr std::size_t kV3FileHeader = 712;
constexpr std::size_t kV3RangeHeader = 304;
constexpr std::size_t kV4FirstSegment = 61;
constexpr std::size_t kV4RangeHeader = 160;

// The file's bytes, read only where the caller has checked that they exist.
struct Bytes {
    std::string_view b;

    bool has(std::size_t at, uint64_t n) const noexcept {
        return at <= b.size() && n <= b.size() - at;
    }
    uint32_t u16(std::size_t at) const noexcept {
        return static_cast<unsigned char>(b[at]) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8);
    }
    uint32_t u32(std::size_t at) const noexcept {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
        return v;
    }
    float f32(std::size_t at) const noexcept { return std::bit_cast<float>(u32(at)); }
    double f64(std::size_t at) const noexcept {
        const uint64_t v =
            static_cast<uint64_t>(u32(at)) | (static_cast<uint64_t>(u32(at + 4)) << 32);
        return std::bit_cast<double>(v);
    }
    // A text field: up to its first NUL, control characters as blanks, without
    // the blanks around it.
    std::string text(std::size_t at, std::size_t n) const {
        std::string s(b.substr(at, n));
        s = s.substr(0, s.find('\0'));
        for (char& c : s)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        const auto first = s.find_first_not_of(' ');
        if (first == std::string::npos) return {};
        return s.substr(first, s.find_last_not_of(' ') - first + 1);
    }
};

// One range as the file describes it.
struct Range {
    int32_t number = 0;      // 1-based
    std::size_t at = 0;      // byte offset of its header
    std::string axis;        // empty for a 2theta scan, else what it scans
    bool axis_start = true;  // false when the file keeps no start for that axis
    double start = 0.0;      // of the scanned axis
    double step = 0.0;
    uint32_t points = 0;
    float step_time = 0.0f;
    double used_lambda = 0.0;           // the wavelength the range was measured with
    std::optional<double> temperature;  // kelvin, where the range states one
    std::size_t data_at = 0;
    // Versions 1 and 2 keep these with each range.
    std::string title;
    bool own_tube = false;
    double alpha1 = 0.0, alpha2 = 0.0;
};

// Why the walk through the ranges stopped early.
struct Stop {
    ConversionStatus status;
    std::string reason;
};

std::string at_byte(std::string_view file, std::size_t at) {
    return std::string(file) + ", byte " + std::to_string(at);
}

// What version 3 scan types scan, and where their start is kept (0: not kept).
struct V3Type {
    uint32_t code;
    const char* axis;  // nullptr for 2theta
    std::size_t start_at;
};
constexpr V3Type kV3Types[] = {
    {0, nullptr, 16},    // locked coupled
    {1, nullptr, 16},    // unlocked coupled
    {2, nullptr, 16},    // detector scan
    {20, nullptr, 16},   // unlocked coupled, high resolution
    {129, nullptr, 16},  // position-sensitive detector, fixed
    {130, nullptr, 16},  // position-sensitive detector, moving
    {3, "theta (rocking curve)", 8},
    {4, "chi", 24},
    {5, "phi", 32},
    {6, "x", 40},
    {7, "y", 48},
    {8, "z", 56},
    {9, "aux1", 144},
    {10, "aux2", 152},
    {11, "aux3", 160},
    {12, "psi", 0},
    {13, "hkl", 0},
    {14, "reciprocal space", 0},
};

// The scan types of version 4 that step 2theta.
bool v4_two_theta(std::string_view type) {
    for (std::string_view t : {"Locked Coupled", "Unlocked Coupled", "Detector Scan",
                               "Coupled TwoTheta/Theta", "TwoTheta"})
        if (type == t) return true;
    return false;
}

// What a version 4 scan type that does not step 2theta scans.
std::string v4_axis(std::string_view type) {
    struct Known {
        std::string_view type, axis;
    };
    static constexpr Known kKnown[] = {{"Rocking Curve", "theta (rocking curve)"},
                                       {"Chi Scan", "chi"},
                                       {"Phi Scan", "phi"},
                                       {"Psi Scan", "psi"},
                                       {"X Scan", "x"},
                                       {"Y Scan", "y"},
                                       {"Z Scan", "z"}};
    for (const auto& k : kKnown)
        if (k.type == type) return std::string(k.axis);
    return "the axis of a '" + std::string(type) + "' scan";
}

class RawReader {
  public:
    explicit RawReader(Workspace& ws)
        : ws_(ws), file_(ws.input().file_name()), bytes_{ws.input().bytes()} {}

    ConversionStatus read() {
        const std::string_view b = bytes_.b;
        if (b.substr(0, 7) == "RAW1.01") return read_v3();
        if (b.substr(0, 7) == "RAW4.00") return read_v4();
        if (b.substr(0, 4) == "RAW ") return read_v1();
        if (b.substr(0, 4) == "RAW2") return read_v2();
        return ws_.fail(ConversionStatus::not_available,
                        file_ +
                            " does not begin with RAW1.01, RAW4.00, RAW2 or \"RAW \": not a Bruker "
                            "RAW file");
    }

  private:
    Workspace& ws_;
    std::string file_;
    Bytes bytes_;
    // Wavelengths of the file header.
    double alpha1_ = 0.0, alpha2_ = 0.0, ratio_ = 0.0;
    std::string title_;
    // The walk through the ranges.
    int32_t ranges_ = 0;
    std::optional<Range> chosen_;
    std::optional<Range> first_;  // range 1, for the reason when none is chosen

    // Versions that do not state the scan axis: said in a warning.
    int no_axis_version_ = 0;

    ConversionStatus fail(const Stop& stop) { return ws_.fail(stop.status, stop.reason); }

    Stop cut_short(std::size_t at, std::string_view what) const {
        return {ConversionStatus::premature_end, at_byte(file_, at) + ": the file ends before " +
                                                     std::string(what) + " (it has " +
                                                     std::to_string(bytes_.b.size()) + " bytes)"};
    }

    // Takes in the next range of the walk: counts it and keeps it when it is
    // the one to convert.
    void take(Range range) {
        ++ranges_;
        range.number = ranges_;
        if (range.number == 1) first_ = range;
        if (chosen_) return;
        const int32_t wanted = ws_.options.scan;
        const bool pick_first_2theta = wanted <= 1 && !ws_.options.any_axis;
        if (pick_first_2theta ? range.axis.empty() : range.number == wanted) chosen_ = range;
    }

    // Counts of the chosen range, wavelengths, title and the choice's warnings.
    ConversionStatus finish(const std::optional<Stop>& stop) {
        if (!chosen_) {
            if (stop) return fail(*stop);
            if (ranges_ == 0)
                return ws_.fail(ConversionStatus::premature_end, file_ + " holds no range");
            if (ws_.options.scan > ranges_)
                return ws_.fail(ConversionStatus::not_available,
                                file_ + " holds " + std::to_string(ranges_) +
                                    (ranges_ == 1 ? " range" : " ranges") + "; there is no range " +
                                    std::to_string(ws_.options.scan));
            return refuse_axis(*first_, ranges_ > 1 ? "no range is a 2theta scan; " : "");
        }
        const Range& r = *chosen_;
        if (!r.axis.empty() && !ws_.options.any_axis) return refuse_axis(r, "");
        if (!r.axis.empty() && !r.axis_start)
            return ws_.fail(ConversionStatus::not_available,
                            at_byte(file_, r.at) + ": range " + std::to_string(r.number) +
                                " scans " + r.axis + ", whose start the file does not keep");
        if (stop)
            ws_.warn(stop->reason + "; the ranges after range " + std::to_string(ranges_) +
                     " are not read");

        PowderPattern& rec = ws_.record();
        if (r.points > static_cast<uint32_t>(std::min(rec.max_points, kPointCapacity))) {
            rec.point_count = static_cast<int32_t>(std::min<uint32_t>(r.points, INT32_MAX));
            return ConversionStatus::too_many_points;
        }
        const auto n = static_cast<int32_t>(r.points);
        for (int32_t k = 1; k <= n; ++k) {
            const std::size_t at = r.data_at + static_cast<std::size_t>(k - 1) * 4;
            const float count = bytes_.f32(at);
            if (!std::isfinite(count))
                return ws_.fail(ConversionStatus::record_error,
                                at_byte(file_, at) + ": the count of point " + std::to_string(k) +
                                    " of range " + std::to_string(r.number) + " is not a number");
            rec.intensity(k) = count;
        }
        rec.point_count = n;
        rec.two_theta_start = static_cast<float>(r.start);
        rec.two_theta_step = static_cast<float>(r.step);
        rec.two_theta_end = static_cast<float>(r.start + r.step * (n > 0 ? n - 1 : 0));
        rec.count_time = r.step_time;
        rec.set_title(r.title.empty() ? title_ : r.title);
        if (r.own_tube) {
            alpha1_ = r.alpha1;
            alpha2_ = r.alpha2;
            // The range keeps no intensity ratio of the two lines.
            ratio_ = 0.5;
            if (std::isfinite(alpha2_) && alpha2_ > 0.0 && alpha2_ != alpha1_)
                ws_.warn(file_ + " holds no alpha2/alpha1 intensity ratio; 0.5 taken");
        }
        set_wavelengths(r);
        if (no_axis_version_ != 0)
            ws_.warn(file_ + " is a version " + std::to_string(no_axis_version_) +
                     " file, which does not state the scan axis; read as a 2theta scan");
        ws_.scan.number = r.number;
        ws_.scan.count = ranges_;
        ws_.scan.axis = r.axis;
        ws_.scan.temperature = r.temperature;
        if (ranges_ > 1 && !ws_.options.all_scans)
            ws_.warn(file_ + " holds " + std::to_string(ranges_) + " ranges; range " +
                     std::to_string(r.number) + " converted");
        if (!r.axis.empty())
            ws_.warn(file_ + ": range " + std::to_string(r.number) + " scans " + r.axis +
                     ", not 2theta; its angles are converted as they are");
        return ConversionStatus::done;
    }

    ConversionStatus refuse_axis(const Range& r, std::string_view prefix) {
        ws_.scan.axis_refused = true;
        ws_.scan.count = ranges_;
        return ws_.fail(ConversionStatus::not_available, file_ + ": " + std::string(prefix) +
                                                             "range " + std::to_string(r.number) +
                                                             " scans " + r.axis + ", not 2theta");
    }

    void set_wavelengths(const Range& r) {
        PowderPattern& rec = ws_.record();
        auto usable = [](double v) { return std::isfinite(v) && v > 0.0 && v < 100.0; };
        if (usable(alpha1_)) {
            rec.lambda1 = static_cast<float>(alpha1_);
            const bool doublet = usable(alpha2_) && usable(ratio_) && alpha2_ != alpha1_;
            rec.lambda2 = doublet ? static_cast<float>(alpha2_) : 0.0f;
            rec.alpha_ratio = doublet ? static_cast<float>(ratio_) : 0.0f;
        } else if (usable(r.used_lambda)) {
            rec.lambda1 = static_cast<float>(r.used_lambda);
            rec.lambda2 = 0.0f;
            rec.alpha_ratio = 0.0f;
        } else {
            ask_wavelengths(ws_);
        }
    }

    // Checks that `points` counts of `datum` bytes follow at `data_at`.
    std::optional<Stop> check_counts(const Range& r, uint32_t datum) const {
        if (datum != 4)
            return Stop{ConversionStatus::not_available,
                        at_byte(file_, r.at) + ": range " + std::to_string(ranges_ + 1) +
                            " stores " + std::to_string(datum) +
                            " bytes per point; only counts of 4 bytes can be read (what the " +
                            std::to_string(datum) + " bytes of a point hold is not known)"};
        if (!bytes_.has(r.data_at, uint64_t{r.points} * 4))
            return cut_short(r.data_at, "the " + std::to_string(r.points) + " counts of range " +
                                            std::to_string(ranges_ + 1));
        return std::nullopt;
    }

    ConversionStatus read_v1() {
        const Bytes& b = bytes_;
        no_axis_version_ = 1;
        std::optional<Stop> stop;
        std::size_t at = 4;
        for (;;) {
            if (ranges_ > 0 && b.has(at, 4) && b.b.substr(at, 4) == "RAW ") at += 4;
            const std::string which = "range " + std::to_string(ranges_ + 1);
            if (!b.has(at, 152)) {
                stop = cut_short(at, "the header of " + which);
                break;
            }
            Range r;
            r.at = at;
            r.points = b.u32(at);
            r.step_time = b.f32(at + 4);
            r.step = b.f32(at + 8);
            r.start = b.f32(at + 20);
            r.title = b.text(at + 36, 32);
            r.own_tube = true;
            r.alpha1 = b.f32(at + 68);
            r.alpha2 = b.f32(at + 72);
            const bool more = b.u32(at + 148) != 0;
            r.data_at = at + 152;
            if ((stop = check_counts(r, 4))) break;
            at = r.data_at + std::size_t{r.points} * 4;
            take(r);
            if (!more) break;
        }
        return finish(stop);
    }

    ConversionStatus read_v2() {
        const Bytes& b = bytes_;
        no_axis_version_ = 2;
        if (!b.has(0, 256)) return fail(cut_short(0, "its 256-byte header"));
        alpha1_ = b.f32(190);
        alpha2_ = b.f32(194);
        ratio_ = b.f32(198);
        const uint32_t announced = b.u16(4);
        std::optional<Stop> stop;
        std::size_t at = 256;
        for (uint32_t k = 0; k < announced && !stop; ++k) {
            const std::string which = "range " + std::to_string(ranges_ + 1);
            if (!b.has(at, 48)) {
                stop = cut_short(at, "the header of " + which);
                break;
            }
            const uint32_t length = b.u16(at);
            if (length < 48) {
                stop = Stop{ConversionStatus::record_error,
                            at_byte(file_, at) + ": the header of " + which +
                                " gives its length as " + std::to_string(length)};
                break;
            }
            Range r;
            r.at = at;
            r.points = b.u16(at + 2);
            r.step_time = b.f32(at + 8);
            r.step = b.f32(at + 12);
            r.start = b.f32(at + 16);
            // 65535 (and 0) where no temperature was recorded.
            if (const uint32_t kelvin = b.u16(at + 46); kelvin > 0 && kelvin < 65535)
                r.temperature = kelvin;
            if (!b.has(at, length)) {
                stop = cut_short(at, "the header of " + which);
                break;
            }
            r.data_at = at + length;
            if ((stop = check_counts(r, 4))) break;
            at = r.data_at + std::size_t{r.points} * 4;
            take(r);
        }
        return finish(stop);
    }

    ConversionStatus read_v3() {
        const Bytes& b = bytes_;
        if (!b.has(0, kV3FileHeader)) return fail(cut_short(0, "its 712-byte header"));
        title_ = b.text(326, 60);
        alpha1_ = b.f64(624);
        alpha2_ = b.f64(632);
        ratio_ = b.f64(648);
        const uint32_t announced = b.u32(12);

        std::optional<Stop> stop;
        std::size_t at = kV3FileHeader;
        for (uint32_t k = 0; k < announced && !stop; ++k) {
            stop = v3_range(at);
        }
        return finish(stop);
    }

    // Reads the range header at `at` and moves `at` past the range.
    std::optional<Stop> v3_range(std::size_t& at) {
        const Bytes& b = bytes_;
        const std::string which = "range " + std::to_string(ranges_ + 1);
        if (!b.has(at, kV3RangeHeader)) return cut_short(at, "the header of " + which);
        const uint32_t length = b.u32(at);
        if (length != kV3RangeHeader)
            return Stop{ConversionStatus::record_error,
                        at_byte(file_, at) + ": the header of " + which + " gives its length as " +
                            std::to_string(length) + "; 304 expected"};
        Range r;
        r.at = at;
        r.points = b.u32(at + 4);
        r.step = b.f64(at + 176);
        r.step_time = b.f32(at + 192);
        r.used_lambda = b.f64(at + 240);
        // -1 where no temperature was recorded.
        if (const float kelvin = b.f32(at + 212); kelvin > 0.0f && kelvin < 10000.0f)
            r.temperature = kelvin;
        const uint32_t type = b.u32(at + 196);
        const V3Type* known = nullptr;
        for (const auto& t : kV3Types)
            if (t.code == type) known = &t;
        if (known == nullptr) {
            r.axis = "an axis of unknown scan type " + std::to_string(type);
            r.axis_start = false;
        } else {
            r.axis = known->axis ? known->axis : "";
            r.axis_start = known->start_at != 0;
            if (r.axis_start) r.start = b.f64(at + known->start_at);
        }
        const uint32_t supplementary = b.u32(at + 256);
        if (!b.has(at + kV3RangeHeader, supplementary))
            return cut_short(at + kV3RangeHeader, "the supplementary records of " + which);
        r.data_at = at + kV3RangeHeader + supplementary;
        if (auto bad = check_counts(r, b.u32(at + 252))) return bad;
        at = r.data_at + std::size_t{r.points} * 4;
        take(r);
        return std::nullopt;
    }

    ConversionStatus read_v4() {
        const Bytes& b = bytes_;
        std::size_t at = kV4FirstSegment;
        std::optional<Stop> stop;
        // The file's segments, up to the first range.
        for (;;) {
            if (!b.has(at, 4)) {
                stop = cut_short(at, "its first range");
                break;
            }
            const uint32_t type = b.u32(at);
            if (type == 0 || type == kV4RangeHeader) break;
            if (!b.has(at, 8)) {
                stop = cut_short(at, "the segment that begins there");
                break;
            }
            const uint32_t length = b.u32(at + 4);
            if (length < 8) {
                stop = Stop{ConversionStatus::record_error,
                            at_byte(file_, at) + ": a segment of type " + std::to_string(type) +
                                " gives its length as " + std::to_string(length)};
                break;
            }
            if (!b.has(at, length)) {
                stop = cut_short(at, "the segment that begins there");
                break;
            }
            if (type == 10 && length >= 36 && b.text(at + 12, 24) == "SAMPLEID")
                title_ = b.text(at + 36, length - 36);
            if (type == 30 && length >= 112) {
                alpha1_ = b.f64(at + 80);
                alpha2_ = b.f64(at + 88);
                ratio_ = b.f64(at + 104);
            }
            at += length;
        }
        // The ranges, one after another; other segments between them are skipped.
        while (!stop && b.has(at, 4)) {
            const uint32_t type = b.u32(at);
            if (type == 0 || type == kV4RangeHeader) {
                stop = v4_range(at);
                continue;
            }
            if (!b.has(at, 8)) break;
            const uint32_t length = b.u32(at + 4);
            if (length < 8 || !b.has(at, length)) break;  // trailing bytes, not a segment
            at += length;
        }
        return finish(stop);
    }

    std::optional<Stop> v4_range(std::size_t& at) {
        const Bytes& b = bytes_;
        const std::string which = "range " + std::to_string(ranges_ + 1);
        if (!b.has(at, kV4RangeHeader)) return cut_short(at, "the header of " + which);
        Range r;
        r.at = at;
        const std::string type = b.text(at + 32, 24);
        if (!v4_two_theta(type)) r.axis = v4_axis(type);
        r.start = b.f64(at + 72);
        r.step = b.f64(at + 80);
        r.points = b.u32(at + 88);
        r.step_time = b.f32(at + 92);
        r.used_lambda = b.f64(at + 112);
        const uint32_t own = b.u32(at + 140);
        if (!b.has(at + kV4RangeHeader, own))
            return cut_short(at + kV4RangeHeader, "the segments of " + which);
        r.data_at = at + kV4RangeHeader + own;
        if (auto bad = check_counts(r, b.u32(at + 136))) return bad;
        at = r.data_at + std::size_t{r.points} * 4;
        take(r);
        return std::nullopt;
    }
};

}  // namespace

ConversionStatus bruker_raw_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        if (mode == CodecMode::write) return ConversionStatus::not_available;
        if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
            return big;
        return RawReader(ws).read();
    });
}

}  // namespace qelda
