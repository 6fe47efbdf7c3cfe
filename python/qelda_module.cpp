// The Python module's native part, qelda._qelda: libqelda's types and calls.
// The arrays a pattern hands out are views of its own vectors (no copy); the
// pattern stays alive as long as any of them does.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <tuple>
#include <utility>

#include "qelda/qelda.h"

namespace py = pybind11;
namespace qa = qelda::api;

namespace {

py::array_t<double> view(std::vector<double>& values, py::handle owner) {
    return py::array_t<double>({static_cast<py::ssize_t>(values.size())}, {sizeof(double)},
                               values.data(), owner);
}

std::vector<double> values_of(const py::array_t<double, py::array::forcecast>& a,
                              const char* what) {
    if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be one-dimensional");
    const auto n = static_cast<std::size_t>(a.shape(0));
    std::vector<double> v(n);
    const auto r = a.unchecked<1>();
    for (std::size_t i = 0; i < n; ++i) v[i] = r(static_cast<py::ssize_t>(i));
    return v;
}

qa::Scan& first_scan(qa::Pattern& p) {
    if (p.scans.empty()) throw py::value_error("the pattern holds no scan");
    return p.scans.front();
}

py::object sigma_of(qa::Scan& s, py::handle owner) {
    if (s.sigma.empty()) return py::none();
    return view(s.sigma, owner);
}

void set_sigma(qa::Scan& s, const py::object& value) {
    if (value.is_none()) {
        s.sigma.clear();
        return;
    }
    s.sigma = values_of(value.cast<py::array_t<double, py::array::forcecast>>(), "sigma");
}

py::tuple error_tuple(const qa::Error& e) {
    return py::make_tuple(std::string(qa::status_name(e.status)), static_cast<int>(e.status),
                          e.message, e.reason);
}

}  // namespace

PYBIND11_MODULE(_qelda, m) {
    m.doc() = "libqelda: read, write and recognise powder diffraction step scans";

    py::class_<qa::Scan>(m, "Scan")
        .def(py::init<>())
        .def_property(
            "two_theta",
            [](py::object self) { return view(self.cast<qa::Scan&>().two_theta, self); },
            [](qa::Scan& s, const py::array_t<double, py::array::forcecast>& a) {
                s.two_theta = values_of(a, "two_theta");
            })
        .def_property(
            "intensity",
            [](py::object self) { return view(self.cast<qa::Scan&>().intensity, self); },
            [](qa::Scan& s, const py::array_t<double, py::array::forcecast>& a) {
                s.intensity = values_of(a, "intensity");
            })
        .def_property(
            "sigma", [](py::object self) { return sigma_of(self.cast<qa::Scan&>(), self); },
            set_sigma)
        .def_readwrite("count_time", &qa::Scan::count_time)
        .def("__len__", [](const qa::Scan& s) { return s.intensity.size(); });

    py::class_<qa::Pattern>(m, "Pattern")
        .def(py::init<>())
        .def_readwrite("title", &qa::Pattern::title)
        .def_readwrite("format", &qa::Pattern::format)
        .def_readwrite("source", &qa::Pattern::source)
        .def_readwrite("lambda1", &qa::Pattern::lambda1)
        .def_readwrite("lambda2", &qa::Pattern::lambda2)
        .def_readwrite("alpha_ratio", &qa::Pattern::alpha_ratio)
        .def_readwrite("warnings", &qa::Pattern::warnings)
        .def_property(
            "wavelengths",
            [](const qa::Pattern& p) {
                return py::make_tuple(p.lambda1, p.lambda2, p.alpha_ratio);
            },
            [](qa::Pattern& p, const std::tuple<double, double, double>& w) {
                std::tie(p.lambda1, p.lambda2, p.alpha_ratio) = w;
            })
        .def("__repr__",
             [](const qa::Pattern& p) {
                 const std::size_t n = p.scans.empty() ? 0 : p.scans.front().intensity.size();
                 return "<qelda.Pattern '" + p.title + "' (" + p.format + "), " +
                        std::to_string(p.scans.size()) + " scan(s), " + std::to_string(n) +
                        " points>";
             })
        // The scans, as objects that refer into the pattern.
        .def_property_readonly(
            "scans",
            [](py::object self) {
                auto& p = self.cast<qa::Pattern&>();
                py::list out;
                for (auto& s : p.scans)
                    out.append(py::cast(&s, py::return_value_policy::reference_internal, self));
                return out;
            })
        .def("_set_scans",
             [](qa::Pattern& p, const std::vector<qa::Scan>& scans) { p.scans = scans; })
        // The first scan's values, as most files hold one.
        .def_property_readonly("two_theta",
                               [](py::object self) {
                                   return view(first_scan(self.cast<qa::Pattern&>()).two_theta,
                                               self);
                               })
        .def_property_readonly("intensity",
                               [](py::object self) {
                                   return view(first_scan(self.cast<qa::Pattern&>()).intensity,
                                               self);
                               })
        .def_property_readonly(
            "sigma",
            [](py::object self) { return sigma_of(first_scan(self.cast<qa::Pattern&>()), self); })
        .def_property_readonly("count_time",
                               [](qa::Pattern& p) { return first_scan(p).count_time; });

    py::class_<qa::ReadOptions>(m, "ReadOptions")
        .def(py::init<>())
        .def_readwrite("format", &qa::ReadOptions::format)
        .def_readwrite("name", &qa::ReadOptions::name)
        .def_readwrite("scan", &qa::ReadOptions::scan)
        .def_readwrite("any_axis", &qa::ReadOptions::any_axis)
        .def_readwrite("keep_intensities", &qa::ReadOptions::keep_intensities)
        .def_readwrite("wavelengths", &qa::ReadOptions::wavelengths)
        .def_readwrite("title", &qa::ReadOptions::title)
        .def_readwrite("count_time", &qa::ReadOptions::count_time)
        .def_readwrite("header_lines", &qa::ReadOptions::header_lines)
        .def_readwrite("read_sigma", &qa::ReadOptions::read_sigma)
        .def_readwrite("override_wavelengths", &qa::ReadOptions::override_wavelengths)
        .def_readwrite("override_title", &qa::ReadOptions::override_title)
        .def_readwrite("override_count_time", &qa::ReadOptions::override_count_time)
        .def_readwrite("to_wavelength", &qa::ReadOptions::to_wavelength)
        .def_readwrite("resample", &qa::ReadOptions::resample);

    py::class_<qa::WriteOptions>(m, "WriteOptions")
        .def(py::init<>())
        .def_readwrite("write_title", &qa::WriteOptions::write_title)
        .def_readwrite("write_sigma", &qa::WriteOptions::write_sigma)
        .def_readwrite("slit_correction", &qa::WriteOptions::slit_correction)
        .def_readwrite("sync", &qa::WriteOptions::sync)
        .def_readwrite("scan", &qa::WriteOptions::scan)
        .def_readwrite("axis", &qa::WriteOptions::axis);

    // Each returns (pattern or None, error tuple or None); the package raises.
    m.def("read_path", [](const std::string& path, const qa::ReadOptions& options) {
        qa::ReadResult r;
        {
            py::gil_scoped_release unlocked;
            r = qa::read(path, options);
        }
        if (!r.ok()) return py::make_tuple(py::none(), error_tuple(r.error));
        return py::make_tuple(py::cast(std::move(r.pattern)), py::none());
    });
    m.def("read_bytes", [](const py::bytes& data, const qa::ReadOptions& options) {
        char* buffer = nullptr;
        py::ssize_t length = 0;
        if (PYBIND11_BYTES_AS_STRING_AND_SIZE(data.ptr(), &buffer, &length) != 0)
            throw py::error_already_set();
        qa::ReadResult r;
        {
            py::gil_scoped_release unlocked;
            r = qa::read_bytes(std::string_view(buffer, static_cast<std::size_t>(length)), options);
        }
        if (!r.ok()) return py::make_tuple(py::none(), error_tuple(r.error));
        return py::make_tuple(py::cast(std::move(r.pattern)), py::none());
    });
    m.def("write_path", [](const qa::Pattern& p, const std::string& format, const std::string& path,
                           const qa::WriteOptions& options) {
        qa::WriteResult r;
        {
            py::gil_scoped_release unlocked;
            r = qa::write(p, format, path, options);
        }
        return py::make_tuple(r.warnings, r.ok() ? py::object(py::none()) : error_tuple(r.error));
    });
    m.def("write_bytes",
          [](const qa::Pattern& p, const std::string& format, const qa::WriteOptions& options) {
              qa::WriteResult r;
              std::string bytes;
              {
                  py::gil_scoped_release unlocked;
                  r = qa::write_bytes(p, format, bytes, options);
              }
              return py::make_tuple(py::bytes(bytes), r.warnings,
                                    r.ok() ? py::object(py::none()) : error_tuple(r.error));
          });
    m.def("detect_path", [](const std::string& path) {
        const qa::Detection d = qa::detect(path);
        return py::make_tuple(d.format, d.how, d.error);
    });
    m.def("detect_bytes", [](const py::bytes& data, const std::string& name) {
        const std::string bytes = data;
        const qa::Detection d = qa::detect_bytes(bytes, name);
        return py::make_tuple(d.format, d.how, d.error);
    });
    m.def("output_format_of_name",
          [](const std::string& name) { return qa::output_format(name).format; });
    m.def("formats", [] {
        py::list out;
        for (const auto& f : qa::formats())
            out.append(py::make_tuple(f.id, f.name, f.list_text, f.extension, f.reads, f.writes));
        return out;
    });
}
