// The one powder pattern record and the file selection of a conversion.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace qelda {

// Capacity of the two point arrays; the Convert action gives `max_points` this value.
inline constexpr int32_t kPointCapacity = 100000;
inline constexpr std::size_t kTitleLength = 60;

// A fixed array of kPointCapacity float32 entries, indexed from point 1. The
// storage is allocated zeroed once and never resized; pages the scan never
// reaches are never touched, so a short scan costs no memory for the rest.
class PointArray {
  public:
    PointArray() : values_(static_cast<float*>(std::calloc(kPointCapacity, sizeof(float)))) {
        if (values_ == nullptr) throw std::bad_alloc();
    }
    PointArray(const PointArray&) = delete;
    PointArray& operator=(const PointArray&) = delete;

    // Writable access marks the entries up to `point` as possibly written.
    float& operator()(int32_t point) noexcept {
        assert(point >= 1 && point <= kPointCapacity);
        touched_ = std::max(touched_, point);
        return values_.get()[point - 1];
    }
    float operator()(int32_t point) const noexcept {
        assert(point >= 1 && point <= kPointCapacity);
        return values_.get()[point - 1];
    }
    float* data() noexcept {
        touched_ = kPointCapacity;
        return values_.get();
    }
    const float* data() const noexcept { return values_.get(); }
    static constexpr int32_t size() noexcept { return kPointCapacity; }
    void fill(float value) noexcept {
        std::fill_n(values_.get(), kPointCapacity, value);
        touched_ = value == 0.0f ? 0 : kPointCapacity;
    }
    // Sets every entry to 0. Only entries that may have been written are looked
    // at, and only those not 0 already are written: an array never written
    // costs nothing, not even a read of its pages.
    void clear() noexcept {
        float* v = values_.get();
        for (int32_t i = 0; i < touched_; ++i)
            if (v[i] != 0.0f) v[i] = 0.0f;
        touched_ = 0;
    }

  private:
    struct Free {
        void operator()(float* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<float[], Free> values_;
    int32_t touched_ = 0;  // entries 1..touched_ may be other than 0
};

// Pads or cuts a text to exactly `length` characters.
inline std::string fixed_text(std::string_view text, std::size_t length) {
    std::string out(text.substr(0, length));
    out.resize(length, ' ');
    return out;
}

// Text without its trailing blanks.
inline std::string_view trim_right(std::string_view text) noexcept {
    const auto last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// The dataset record. Fields keep their declared order; the record lives for the
// whole run and is never cleared between conversions. Allocate it once (it holds
// the two 100000-entry arrays) and hand the one instance around.
struct PowderPattern {
    int32_t max_points = 0;
    int32_t lines_read = 0;
    float lambda1 = 0.0f;
    float lambda2 = 0.0f;
    float alpha_ratio = 0.0f;
    std::string title = std::string(kTitleLength, ' ');  // always 60 characters, blank-padded
    float two_theta_start = 0.0f;
    float two_theta_end = 0.0f;
    float two_theta_step = 0.0f;
    float count_time = 0.0f;
    int32_t point_count = 0;
    PointArray intensity;
    PointArray sigma;
    // The angle of each point, in degrees, where the file states angles that do
    // not lie on one even grid (or a transformation moved them off it). Empty:
    // point i lies at two_theta_start + (i-1)*two_theta_step. When set, it
    // holds point_count angles, and start, end and step are the first, the
    // last and their mean spacing.
    std::vector<double> angles;

    void set_title(std::string_view text) { title = fixed_text(text, kTitleLength); }
};

// 1-based position of a format in the format lists.
enum class FormatId : int32_t {
    none = 1,
    ascii_xy = 2,
    gsas = 3,
    stoe_raw = 4,
    siemens_uxd = 5,
    scintag_ard = 6,
    dbw = 7,
    stoe_ascii = 8,
    philips_udf = 9,
    gsas_cif = 10,
    // Input only, beyond the output list.
    xrdml = 11,
    bruker_raw = 12,
    bruker_brml = 13,
    rigaku_ras = 14,
    rigaku_rasx = 15,
    // Output only.
    xye = 16,
    fxye = 17,
    json = 18,
    // Input only, older instruments' files.
    philips_rd = 20,
    rigaku_dat = 21,
    sietronics_cpi = 23,
    riet7_dat = 24,
    csv = 25,
    nexus = 26,
};

// What a codec routine is asked to do; every value other than write reads.
enum class CodecMode : int32_t { read = 1, write = 2 };

// What a codec routine leaves for the driver.
enum class ConversionStatus : int32_t {
    done = 0,
    record_error = 2,     // a record could not be read / the output could not be written
    too_many_points = 3,  // more points than max_points
    premature_end = 4,    // the input ended before the data were complete
    not_available = 5,    // format or variant not available
    too_large = 6,        // the dataset does not fit the output format
    aborted = 7,          // a statement without outcomes failed; the report is in the workspace
    uneven_grid = 11,     // the output format holds start and step only, the record each angle
};

// The main dialog's file selection.
struct ConversionSession {
    FormatId input_format = static_cast<FormatId>(0);
    FormatId output_format = static_cast<FormatId>(0);
    bool input_ready = false;
    bool output_ready = false;
    std::string input_path;   // full path of the input file
    std::string output_path;  // full path of the output file
};

// The part of a path after its last folder separator.
inline std::string_view file_name_part(std::string_view path) noexcept {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace qelda
