// NeXus output: one NXxrd_pan entry in an HDF5 file, the form research data
// systems ingest. Our reader (nexus.cpp) and h5py read it back:
//
//   /entry                       NX_class NXentry
//     definition                 "NXxrd_pan"
//     title                      the record's title
//     data_file                  the file converted, and its format
//     experiment_config          NX_class NXcollection
//       count_time               seconds per step (where the record has one)
//     experiment_result          NX_class NXdata, @signal "intensity", @axes "two_theta"
//       two_theta [n]            float64, @units "degree": start + i * step
//       intensity [n]            float32, the counts as held
//       intensity_errors [n]     float32, sigma from the file or sqrt(I), said so
//     instrument                 NX_class NXinstrument
//       source                   NX_class NXsource
//         k_alpha_one, k_alpha_two   float32, @units "angstrom"
//         ratio_k_alphatwo_k_alphaone
//
// The file is built in memory (the core driver, no backing store) and goes to
// the output unit whole, so an output is never half-written. Objects carry no
// time stamps: the same record gives the same bytes.
#if QELDA_WITH_HDF5
#include <hdf5.h>
#endif

#include <string>
#include <vector>

#include "core/stated_values.h"
#include "formats/nexus.h"
#include "formats/registry.h"
#include "formats/text_points.h"

namespace qelda {

#if !QELDA_WITH_HDF5
ConversionStatus write_nexus(Workspace& ws) {
    return ws.fail(ConversionStatus::not_available,
                   "this build has no HDF5 library (none is built for Windows) and cannot write "
                   "NeXus");
}
#else
namespace {

// An HDF5 identifier closed by its own routine.
class Handle {
  public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    Handle(Handle&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = H5I_INVALID_HID; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&&) = delete;
    ~Handle() {
        if (id_ >= 0) close_(id_);
    }
    hid_t get() const noexcept { return id_; }
    explicit operator bool() const noexcept { return id_ >= 0; }

  private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

class Builder {
  public:
    Builder()
        : fapl_(H5Pcreate(H5P_FILE_ACCESS), H5Pclose),
          gcpl_(H5Pcreate(H5P_GROUP_CREATE), H5Pclose),
          dcpl_(H5Pcreate(H5P_DATASET_CREATE), H5Pclose),
          file_(open(), H5Fclose) {}

    bool ok() const noexcept { return ok_ && file_; }
    hid_t file() const noexcept { return file_.get(); }

    Handle group(hid_t parent, const char* name, const char* nx_class) {
        Handle g(H5Gcreate2(parent, name, H5P_DEFAULT, gcpl_.get(), H5P_DEFAULT), H5Gclose);
        if (!g) ok_ = false;
        text_attribute(g.get(), "NX_class", nx_class);
        return g;
    }

    void text_attribute(hid_t obj, const char* name, const std::string& value) {
        if (obj < 0) return;
        Handle type = text_type();
        Handle space(H5Screate(H5S_SCALAR), H5Sclose);
        Handle a(H5Acreate2(obj, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT),
                 H5Aclose);
        const char* text = value.c_str();
        if (!a || H5Awrite(a.get(), type.get(), &text) < 0) ok_ = false;
    }

    void text(hid_t parent, const char* name, const std::string& value) {
        if (parent < 0) return;
        Handle type = text_type();
        Handle space(H5Screate(H5S_SCALAR), H5Sclose);
        Handle d(H5Dcreate2(parent, name, type.get(), space.get(), H5P_DEFAULT, dcpl_.get(),
                            H5P_DEFAULT),
                 H5Dclose);
        const char* text = value.c_str();
        if (!d || H5Dwrite(d.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, &text) < 0)
            ok_ = false;
    }

    // A dataset of `n` values, stored as `file_type`, given as `memory_type`;
    // a scalar where n is 0. Its units, where given.
    void numbers(hid_t parent, const char* name, hid_t file_type, hid_t memory_type,
                 const void* values, hsize_t n, const char* units = nullptr) {
        if (parent < 0) return;
        Handle space(n == 0 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr), H5Sclose);
        Handle d(
            H5Dcreate2(parent, name, file_type, space.get(), H5P_DEFAULT, dcpl_.get(), H5P_DEFAULT),
            H5Dclose);
        if (!d || H5Dwrite(d.get(), memory_type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values) < 0)
            ok_ = false;
        if (units != nullptr) text_attribute(d.get(), "units", units);
    }

    void scalar(hid_t parent, const char* name, float value, const char* units = nullptr) {
        numbers(parent, name, H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, &value, 0, units);
    }

    // The whole file's bytes, or empty on failure.
    std::string image() {
        if (!ok() || H5Fflush(file_.get(), H5F_SCOPE_GLOBAL) < 0) return {};
        const ssize_t size = H5Fget_file_image(file_.get(), nullptr, 0);
        if (size <= 0) return {};
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (H5Fget_file_image(file_.get(), bytes.data(), bytes.size()) != size) return {};
        return bytes;
    }

  private:
    hid_t open() {
        // In memory only; no time stamps, so that equal records give equal bytes.
        if (!fapl_ || !gcpl_ || !dcpl_ || H5Pset_fapl_core(fapl_.get(), 1 << 16, false) < 0 ||
            H5Pset_obj_track_times(gcpl_.get(), false) < 0 ||
            H5Pset_obj_track_times(dcpl_.get(), false) < 0) {
            ok_ = false;
            return H5I_INVALID_HID;
        }
        return H5Fcreate("qelda-nexus-output", H5F_ACC_TRUNC, H5P_DEFAULT, fapl_.get());
    }

    // Strings of variable length in UTF-8, as h5py writes them: what NeXus
    // tools read as text rather than as bytes.
    static Handle text_type() {
        Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(type.get(), H5T_VARIABLE);
        H5Tset_cset(type.get(), H5T_CSET_UTF8);
        return type;
    }

    Handle fapl_, gcpl_, dcpl_;
    bool ok_ = true;
    Handle file_;
};

}  // namespace

ConversionStatus write_nexus(Workspace& ws) {
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    const PowderPattern& r = ws.record();
    if (const ConversionStatus s = check_finite(ws, "NeXus"); s != ConversionStatus::done) return s;
    const auto n = static_cast<std::size_t>(std::min(r.point_count, kPointCapacity));

    std::vector<double> angles(n);
    for (std::size_t i = 0; i < n; ++i) angles[i] = angle_at(r, static_cast<int32_t>(i));
    std::vector<float> errors(n);
    WrittenSigma sigma(ws);
    for (std::size_t i = 0; i < n; ++i) errors[i] = sigma(static_cast<int32_t>(i));

    const std::string_view source = file_name_part(ws.session().input_path);
    const FormatInfo* from = find_format(ws.session().input_format);
    const std::string origin =
        (source.empty() ? std::string("an unnamed input") : std::string(source)) +
        (from ? " (" + std::string(from->list_text) + ")" : "");

    std::string bytes;
    {
        const std::lock_guard<std::mutex> hold(hdf5_lock());
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        Builder b;
        {
            Handle entry = b.group(b.file(), "entry", "NXentry");
            b.text(entry.get(), "definition", "NXxrd_pan");
            b.text(entry.get(), "title", title_line(ws, "NeXus"));
            b.text(entry.get(), "data_file", origin);
            if (r.count_time > 0.0f) {
                Handle config = b.group(entry.get(), "experiment_config", "NXcollection");
                b.scalar(config.get(), "count_time", r.count_time, "s");
            }
            {
                Handle data = b.group(entry.get(), "experiment_result", "NXdata");
                b.text_attribute(data.get(), "signal", "intensity");
                b.text_attribute(data.get(), "axes", "two_theta");
                b.numbers(data.get(), "two_theta", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, angles.data(),
                          n, "degree");
                b.numbers(data.get(), "intensity", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT,
                          r.intensity.data(), n, "counts");
                b.numbers(data.get(), "intensity_errors", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT,
                          errors.data(), n, "counts");
            }
            if (r.lambda1 > 0.0f) {
                Handle instrument = b.group(entry.get(), "instrument", "NXinstrument");
                Handle tube = b.group(instrument.get(), "source", "NXsource");
                b.scalar(tube.get(), "k_alpha_one", r.lambda1, "angstrom");
                if (r.lambda2 > 0.0f) {
                    b.scalar(tube.get(), "k_alpha_two", r.lambda2, "angstrom");
                    b.scalar(tube.get(), "ratio_k_alphatwo_k_alphaone", r.alpha_ratio);
                }
            }
        }
        bytes = b.image();
    }
    if (bytes.empty())
        return ws.fail(ConversionStatus::record_error,
                       "the NeXus file could not be built in memory (libhdf5 refused it)");
    sigma.warn(ws, "NeXus");
    out.append_bytes(bytes);
    return ConversionStatus::done;
}
#endif

}  // namespace qelda
