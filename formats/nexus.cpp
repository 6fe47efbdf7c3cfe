// NeXus powder scans in HDF5 files (.nxs, .h5, .hdf5), through libhdf5. The
// file is opened from memory as a read-only image. (nexus_write.cpp writes
// them.)
//
//   /ENTRY                 NX_class NXentry, one a scan
//     definition           "NXxrd", "NXxrd_pan", "NXmonopd" or absent (older files)
//     title                the scan's title
//     DATA                 NX_class NXdata
//       @signal            name of the intensities (or a dataset carries signal=1)
//       @axes              name of the angles (or a dataset carries axis=1, or
//                          the intensities carry axes="two_theta")
//       two_theta | polar_angle [n]   @units "degree" (radians are turned into degrees)
//       counts | data | intensity [n]
//       errors | <signal>_errors [n]  uncertainties, where given
//     INSTRUMENT/...       wavelength, lambda, incident_wavelength or
//                          k_alpha_one / k_alpha_two / ratio_k_alphatwo_k_alphaone
//                          (Å, or nm with @units), or incident_energy (keV or eV),
//                          a few levels below the entry
//
// Only links inside the file are followed: an external link or a dataset
// stored outside the file is never opened. A file that is HDF5 but holds no
// such entry is refused with the groups it does hold.
//
// A build without libhdf5 (QELDA_WITH_HDF5 0: Windows, the web page) keeps the format's
// signature, so that such files are still told, and refuses to read them.
#if QELDA_WITH_HDF5
#include <hdf5.h>
#endif

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/nexus.h"
#include "formats/signatures.h"

namespace qelda {
#if QELDA_WITH_HDF5
namespace {

constexpr std::size_t kMaxChildren = 10000;
constexpr int kWavelengthDepth = 4;

// An HDF5 identifier closed by its own routine.
class Id {
  public:
    Id() = default;
    Id(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    Id(Id&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = H5I_INVALID_HID; }
    Id& operator=(Id&& o) noexcept {
        std::swap(id_, o.id_);
        std::swap(close_, o.close_);
        return *this;
    }
    Id(const Id&) = delete;
    ~Id() {
        if (id_ >= 0 && close_ != nullptr) close_(id_);
    }
    hid_t get() const noexcept { return id_; }
    explicit operator bool() const noexcept { return id_ >= 0; }

  private:
    hid_t id_ = H5I_INVALID_HID;
    herr_t (*close_)(hid_t) = nullptr;
};

std::string folded(std::string_view s) {
    std::string out;
    for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
}

// The first string of a string attribute or dataset's type and space.
std::string read_text(hid_t obj, bool attribute) {
    Id type(attribute ? H5Aget_type(obj) : H5Dget_type(obj), H5Tclose);
    Id space(attribute ? H5Aget_space(obj) : H5Dget_space(obj), H5Sclose);
    if (!type || !space) return {};
    const hssize_t n = H5Sget_simple_extent_npoints(space.get());
    if (n < 1 || n > 4096) return {};
    if (H5Tget_class(type.get()) == H5T_STRING) {
        if (H5Tis_variable_str(type.get()) > 0) {
            std::vector<char*> values(static_cast<std::size_t>(n), nullptr);
            Id mem(H5Tcopy(H5T_C_S1), H5Tclose);
            H5Tset_size(mem.get(), H5T_VARIABLE);
            H5Tset_cset(mem.get(), H5Tget_cset(type.get()));
            const herr_t ok =
                attribute ? H5Aread(obj, mem.get(), values.data())
                          : H5Dread(obj, mem.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
            std::string out = ok >= 0 && values[0] ? std::string(values[0]) : std::string();
            if (ok >= 0) H5Dvlen_reclaim(mem.get(), space.get(), H5P_DEFAULT, values.data());
            return out;
        }
        const std::size_t size = H5Tget_size(type.get());
        if (size == 0 || size > (std::size_t{1} << 20) / static_cast<std::size_t>(n)) return {};
        std::string buf(size * static_cast<std::size_t>(n), '\0');
        const herr_t ok = attribute
                              ? H5Aread(obj, type.get(), buf.data())
                              : H5Dread(obj, type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, buf.data());
        if (ok < 0) return {};
        buf.resize(size);
        const auto nul = buf.find('\0');
        if (nul != std::string::npos) buf.resize(nul);
        return std::string(trim(buf));
    }
    if (H5Tget_class(type.get()) == H5T_INTEGER || H5Tget_class(type.get()) == H5T_FLOAT) {
        std::vector<double> v(static_cast<std::size_t>(n));
        const herr_t ok =
            attribute ? H5Aread(obj, H5T_NATIVE_DOUBLE, v.data())
                      : H5Dread(obj, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
        return ok >= 0 ? number_text(v[0]) : std::string();
    }
    return {};
}

std::string attribute_text(hid_t obj, const char* name) {
    if (H5Aexists(obj, name) <= 0) return {};
    Id a(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose);
    return a ? read_text(a.get(), true) : std::string();
}

struct Child {
    std::string name;
    bool group = false;
};

// The children of a group reached through hard or soft links, in name order.
std::vector<Child> children(hid_t group) {
    std::vector<Child> out;
    H5G_info_t info;
    if (H5Gget_info(group, &info) < 0) return out;
    const hsize_t n = std::min<hsize_t>(info.nlinks, kMaxChildren);
    for (hsize_t i = 0; i < n; ++i) {
        const ssize_t len =
            H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, i, nullptr, 0, H5P_DEFAULT);
        if (len <= 0 || len > 4096) continue;
        std::string name(static_cast<std::size_t>(len) + 1, '\0');
        H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, i, name.data(), name.size(),
                           H5P_DEFAULT);
        name.resize(static_cast<std::size_t>(len));
        H5L_info_t link;
        if (H5Lget_info(group, name.c_str(), &link, H5P_DEFAULT) < 0) continue;
        if (link.type != H5L_TYPE_HARD && link.type != H5L_TYPE_SOFT) continue;
        if (H5Oexists_by_name(group, name.c_str(), H5P_DEFAULT) <= 0) continue;
        Id obj(H5Oopen(group, name.c_str(), H5P_DEFAULT), H5Oclose);
        if (!obj) continue;
        const H5I_type_t t = H5Iget_type(obj.get());
        if (t == H5I_GROUP || t == H5I_DATASET) out.push_back({name, t == H5I_GROUP});
    }
    return out;
}

Id open_group(hid_t parent, const std::string& name) {
    return Id(H5Gopen2(parent, name.c_str(), H5P_DEFAULT), H5Gclose);
}

Id open_dataset(hid_t parent, const std::string& name) {
    Id d(H5Dopen2(parent, name.c_str(), H5P_DEFAULT), H5Dclose);
    if (!d) return d;
    // Data kept in files outside this one are never read.
    Id plist(H5Dget_create_plist(d.get()), H5Pclose);
    if (!plist || H5Pget_external_count(plist.get()) != 0) return Id();
    return d;
}

// A one-dimensional numeric dataset (or one of shape n x 1) as doubles; false
// with `why` otherwise.
bool read_numbers(hid_t parent, const std::string& name, std::vector<double>& out,
                  std::string& why) {
    Id d = open_dataset(parent, name);
    if (!d) {
        why = "'" + name + "' cannot be read";
        return false;
    }
    Id type(H5Dget_type(d.get()), H5Tclose);
    const H5T_class_t cls = H5Tget_class(type.get());
    if (cls != H5T_INTEGER && cls != H5T_FLOAT) {
        why = "'" + name + "' holds no numbers";
        return false;
    }
    Id space(H5Dget_space(d.get()), H5Sclose);
    const int rank = H5Sget_simple_extent_ndims(space.get());
    hsize_t dims[H5S_MAX_RANK] = {};
    if (rank < 0 || H5Sget_simple_extent_dims(space.get(), dims, nullptr) < 0) {
        why = "'" + name + "' cannot be read";
        return false;
    }
    hsize_t n = 1, longest = 0;
    for (int i = 0; i < rank; ++i) {
        n *= dims[i];
        longest = std::max(longest, dims[i]);
    }
    if (rank > 1 && n != longest) {
        why = "'" + name + "' is a " + std::to_string(rank) + "-dimensional array";
        return false;
    }
    if (n > static_cast<hsize_t>(kPointCapacity) + 1) {
        why = "'" + name + "' holds " + std::to_string(n) + " values, more than can be held";
        return false;
    }
    out.assign(static_cast<std::size_t>(n), 0.0);
    if (n > 0 &&
        H5Dread(d.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) < 0) {
        why = "'" + name + "' cannot be read";
        return false;
    }
    return true;
}

double read_scalar(hid_t parent, const std::string& name) {
    std::vector<double> v;
    std::string why;
    return read_numbers(parent, name, v, why) && !v.empty() ? v[0] : InstrumentScan::kUnset;
}

bool has(const std::vector<Child>& list, std::string_view name, bool group) {
    for (const auto& c : list)
        if (c.name == name && c.group == group) return true;
    return false;
}

std::string first_name(std::string list) {
    for (char& c : list)
        if (c == ':' || c == ',' || c == '[' || c == ']' || c == '\'' || c == '"') c = ' ';
    const std::string_view t = trim(list);
    return std::string(t.substr(0, t.find(' ')));
}

// Where the scan of an entry lies: its NXdata group and the names of its
// intensities, angles and uncertainties.
struct DataPlace {
    std::string group;
    std::string signal, axis, errors;
};

std::optional<DataPlace> find_data(hid_t entry, const std::vector<Child>& entry_children) {
    for (const auto& c : entry_children) {
        if (!c.group) continue;
        Id g = open_group(entry, c.name);
        if (!g || attribute_text(g.get(), "NX_class") != "NXdata") continue;
        const auto list = children(g.get());
        DataPlace p;
        p.group = c.name;
        p.signal = first_name(attribute_text(g.get(), "signal"));
        if (!has(list, p.signal, false)) p.signal.clear();
        for (const auto& d : list) {
            if (d.group) continue;
            Id ds = open_dataset(g.get(), d.name);
            if (!ds) continue;
            if (p.signal.empty() && attribute_text(ds.get(), "signal") == "1") p.signal = d.name;
            if (p.axis.empty() && attribute_text(ds.get(), "axis") == "1") p.axis = d.name;
        }
        for (const char* n : {"counts", "data", "intensity"})
            if (p.signal.empty() && has(list, n, false)) p.signal = n;
        if (p.signal.empty()) continue;
        if (p.axis.empty()) {
            p.axis = first_name(attribute_text(g.get(), "axes"));
            if (!has(list, p.axis, false)) p.axis.clear();
        }
        if (p.axis.empty()) {
            Id ds = open_dataset(g.get(), p.signal);
            if (ds) p.axis = first_name(attribute_text(ds.get(), "axes"));
            if (!has(list, p.axis, false)) p.axis.clear();
        }
        for (const char* n : {"two_theta", "polar_angle", "2theta"})
            if (p.axis.empty() && has(list, n, false)) p.axis = n;
        if (p.axis.empty()) continue;
        for (const std::string& n : {p.signal + "_errors", std::string("errors")})
            if (p.errors.empty() && has(list, n, false)) p.errors = n;
        return p;
    }
    return std::nullopt;
}

// Wavelengths named below `group`, a few levels deep: the group's own datasets
// before those of its groups, the first found of each kind.
struct FoundWavelengths {
    double alpha1 = 0, alpha2 = 0, ratio = 0;
    bool from_energy = false;
};

void find_wavelengths(hid_t group, int depth, FoundWavelengths& w) {
    const auto list = children(group);
    auto value = [&](const std::string& name) {
        double v = read_scalar(group, name);
        Id ds = open_dataset(group, name);
        const std::string unit = ds ? folded(attribute_text(ds.get(), "units")) : std::string();
        if (unit == "nm" || unit == "nanometer" || unit == "nanometre") v *= 10.0;
        return std::isfinite(v) && v > 0.0 ? v : 0.0;
    };
    for (const auto& c : list) {
        if (c.group) continue;
        const std::string n = folded(c.name);
        if (w.alpha1 == 0 && (n == "wavelength" || n == "lambda" || n == "incident_wavelength" ||
                              n == "k_alpha_one"))
            w.alpha1 = value(c.name);
        if (w.alpha1 == 0 && n == "incident_energy") {
            // NXxrd states the beam's energy: lambda [Å] = hc / E.
            const double e = read_scalar(group, c.name);
            Id ds = open_dataset(group, c.name);
            const std::string unit = ds ? folded(attribute_text(ds.get(), "units")) : "";
            const double kev = unit == "kev" ? e : unit == "ev" ? e / 1000.0 : 0.0;
            if (std::isfinite(kev) && kev > 0.0) {
                w.alpha1 = 12.398419843320026 / kev;
                w.from_energy = true;
            }
        }
        if (w.alpha2 == 0 && n == "k_alpha_two") w.alpha2 = value(c.name);
        if (w.ratio == 0 && n == "ratio_k_alphatwo_k_alphaone") {
            const double r = read_scalar(group, c.name);
            w.ratio = std::isfinite(r) && r > 0.0 && r <= 1.0 ? r : 0.0;
        }
    }
    if (depth == 0) return;
    for (const auto& c : list)
        if (c.group && w.alpha1 == 0) {
            Id g = open_group(group, c.name);
            if (g) find_wavelengths(g.get(), depth - 1, w);
        }
}

std::string text_of(hid_t parent, const std::string& name) {
    Id d = open_dataset(parent, name);
    return d ? read_text(d.get(), false) : std::string();
}

struct Entry {
    std::string name;
    std::string definition;
    DataPlace place;
};

ConversionStatus load_entry(Workspace& ws, hid_t file, const Entry& e, const std::string& where,
                            InstrumentScan& s) {
    s = InstrumentScan{};
    Id entry = open_group(file, e.name);
    Id data = entry ? open_group(entry.get(), e.place.group) : Id();
    if (!data)
        return ws.fail(ConversionStatus::record_error, where + ": /" + e.name + " cannot be read");
    const std::string at = where + ", /" + e.name + "/" + e.place.group + "/";
    std::string why;
    std::vector<double> angles;
    if (!read_numbers(data.get(), e.place.signal, s.counts, why) ||
        !read_numbers(data.get(), e.place.axis, angles, why))
        return ws.fail(ConversionStatus::record_error, at + why.substr(1));
    if (angles.size() != s.counts.size())
        return ws.fail(ConversionStatus::record_error,
                       at + e.place.axis + " lists " + std::to_string(angles.size()) +
                           " angles for " + std::to_string(s.counts.size()) + " intensities in " +
                           e.place.signal);
    Id axis = open_dataset(data.get(), e.place.axis);
    const std::string long_name = axis ? attribute_text(axis.get(), "long_name") : std::string();
    const std::string unit = axis ? folded(attribute_text(axis.get(), "units")) : std::string();
    s.axis = e.place.axis;
    s.two_theta = is_two_theta_axis(e.place.axis) || e.place.axis == "polar_angle" ||
                  is_two_theta_axis(long_name);
    if (unit.starts_with("rad")) {
        for (double& a : angles) a *= 180.0 / std::numbers::pi;
        s.notes.push_back(at + e.place.axis + " is in radians; turned into degrees");
    } else if (!unit.empty() && !unit.starts_with("deg")) {
        return ws.fail(ConversionStatus::not_available,
                       at + e.place.axis + " is in '" + unit + "', not in degrees");
    }
    s.angles = std::move(angles);
    if (!e.place.errors.empty()) {
        std::vector<double> sigma;
        if (!read_numbers(data.get(), e.place.errors, sigma, why))
            return ws.fail(ConversionStatus::record_error, at + why.substr(1));
        if (sigma.size() != s.counts.size())
            return ws.fail(ConversionStatus::record_error,
                           at + e.place.errors + " holds " + std::to_string(sigma.size()) +
                               " uncertainties for " + std::to_string(s.counts.size()) +
                               " intensities");
        s.sigma.assign(sigma.begin(), sigma.end());
        ws.has_sigma = true;
    }
    FoundWavelengths w;
    find_wavelengths(entry.get(), kWavelengthDepth, w);
    if (w.alpha1 > 0.0) {
        Wavelengths lines;
        lines.alpha1 = static_cast<float>(w.alpha1);
        if (w.alpha2 > w.alpha1) {
            lines.alpha2 = static_cast<float>(w.alpha2);
            lines.ratio = static_cast<float>(w.ratio > 0.0 ? w.ratio : 0.5);
            if (w.ratio == 0.0)
                s.notes.push_back(where +
                                  " gives no intensity ratio of K-alpha2 to K-alpha1; 0.5 taken");
        }
        s.wavelengths = lines;
        if (w.from_energy)
            s.notes.push_back(where + " states the beam's energy; its wavelength " +
                              number_text(w.alpha1) + " Å taken from it");
    }
    // Seconds per step, where the entry states them (NXxrd_pan keeps them
    // with the configuration, some writers beside the data).
    for (const std::string& group : {std::string("experiment_config"), e.place.group}) {
        if (H5Lexists(entry.get(), group.c_str(), H5P_DEFAULT) <= 0) continue;
        Id g = open_group(entry.get(), group);
        if (!g || H5Lexists(g.get(), "count_time", H5P_DEFAULT) <= 0) continue;
        const double t = read_scalar(g.get(), "count_time");
        if (std::isfinite(t) && t > 0.0) {
            s.count_time = t;
            break;
        }
    }
    s.title = text_of(entry.get(), "title");
    if (s.title.empty()) {
        Id sample = open_group(entry.get(), "sample");
        if (sample) s.title = text_of(sample.get(), "name");
        if (sample && s.title.empty()) s.title = text_of(sample.get(), "sample_name");
    }
    return ConversionStatus::done;
}

ConversionStatus read_nexus(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    const std::string_view bytes = ws.input().bytes();
    if (!nexus_signature(bytes))
        return ws.fail(ConversionStatus::not_available,
                       file + " does not carry the HDF5 signature: not a NeXus file");
    const std::lock_guard<std::mutex> hold(hdf5_lock());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    // No filter plugin is ever loaded on a file's behalf.
    H5PLset_loading_state(0);
    // Read only, from a copy of the unit's bytes held by the core driver: no
    // file is opened, nothing is written. (libhdf5's image-opening helper with
    // its no-copy flags leaks its bookkeeping on every file.)
    Id fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    if (!fapl || H5Pset_fapl_core(fapl.get(), 1 << 16, false) < 0 ||
        H5Pset_file_image(fapl.get(), const_cast<char*>(bytes.data()), bytes.size()) < 0)
        return ws.fail(ConversionStatus::record_error, file + ": libhdf5 cannot take the file's " +
                                                           std::to_string(bytes.size()) + " bytes");
    Id h5(H5Fopen("qelda-nexus-input", H5F_ACC_RDONLY, fapl.get()), H5Fclose);
    if (!h5)
        return ws.fail(ConversionStatus::record_error,
                       file +
                           " carries the HDF5 signature but cannot be opened as HDF5 (cut "
                           "short or damaged)");
    Id root = open_group(h5.get(), "/");
    if (!root)
        return ws.fail(ConversionStatus::record_error, file + ": its root group cannot be read");

    std::vector<Entry> entries;
    std::string held;
    int listed = 0;
    bool any_entry = false;
    for (const auto& c : children(root.get())) {
        if (!c.group) continue;
        Id g = open_group(root.get(), c.name);
        if (!g) continue;
        const std::string cls = attribute_text(g.get(), "NX_class");
        if (listed < 20) {
            held += (listed ? ", /" : "/") + c.name + (cls.empty() ? "" : " (" + cls + ")");
        } else if (listed == 20) {
            held += ", ...";
        }
        ++listed;
        if (cls != "NXentry") continue;
        any_entry = true;
        const auto list = children(g.get());
        if (auto place = find_data(g.get(), list)) {
            Entry e{c.name, text_of(g.get(), "definition"), *place};
            entries.push_back(std::move(e));
        }
    }
    if (entries.empty()) {
        const std::string what = listed == 0 ? "holds no groups" : "holds the groups " + held;
        return ws.fail(ConversionStatus::not_available,
                       file + " is an HDF5 file with no " +
                           (any_entry ? "NXentry holding an NXdata group of intensities and angles"
                                      : "NeXus NXentry") +
                           "; it " + what);
    }
    const auto count = static_cast<int32_t>(entries.size());
    return convert_scan(ws, count, [&](int32_t i, InstrumentScan& s) {
        const Entry& e = entries[static_cast<std::size_t>(i)];
        return load_entry(ws, h5.get(), e, count == 1 ? file : file + ", entry " + e.name, s);
    });
}

}  // namespace
#endif

std::optional<std::string> nexus_signature(std::string_view head) {
    // The signature stands at 0, or after a user block of 512, 1024, 2048 ... bytes.
    constexpr std::string_view kHdf5 = "\x89HDF\r\n\x1a\n";
    for (std::size_t at = 0; at + kHdf5.size() <= head.size(); at = at == 0 ? 512 : at * 2)
        if (head.substr(at, kHdf5.size()) == kHdf5)
            return at == 0 ? std::string("begins with the HDF5 signature")
                           : "carries the HDF5 signature at byte " + std::to_string(at);
    return std::nullopt;
}

#if !QELDA_WITH_HDF5
namespace {
ConversionStatus read_nexus(Workspace& ws) {
    return ws.fail(ConversionStatus::not_available,
                   std::string(ws.input().file_name()) +
                       " is a NeXus (HDF5) file; this build has no HDF5 library (the Windows "
                       "and web builds have none) and cannot read it");
}
}  // namespace
#endif

std::mutex& hdf5_lock() noexcept {
    static std::mutex lock;
    return lock;
}

ConversionStatus nexus_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws,
                       [&] { return mode == CodecMode::write ? write_nexus(ws) : read_nexus(ws); });
}

}  // namespace qelda
