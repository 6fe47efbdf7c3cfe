// NeXus files built with h5py (the tests skip without it): the kinds of entry
// the reader takes, and the ways a file can go wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

const char* python_with_h5py() {
    for (const char* p : {"/usr/bin/python3", "python3"})
        if (std::system((std::string(p) + " -c 'import h5py' >/dev/null 2>&1").c_str()) == 0)
            return p;
    return nullptr;
}

// Python that writes the file `out` of each variant.
constexpr const char* kBuild = R"PY(
import sys, h5py, numpy as np
kind, out = sys.argv[1], sys.argv[2]
tt = 10 + 0.5 * np.arange(5)
counts = np.array([5, 6, 7, 8, 9], dtype='i4')
with h5py.File(out, 'w') as f:
    if kind == 'no_entry':
        f.create_group('calibration').attrs['NX_class'] = 'NXcollection'
        f.create_dataset('image', data=np.zeros((4, 4)))
        sys.exit(0)
    e = f.create_group('scan_1')
    e.attrs['NX_class'] = 'NXentry'
    e['definition'] = 'NXxrd_pan'
    e['title'] = 'Quartz'
    src = e.create_group('instrument').create_group('source')
    e['instrument'].attrs['NX_class'] = 'NXinstrument'
    src.attrs['NX_class'] = 'NXsource'
    src['k_alpha_one'] = 1.5406
    src['k_alpha_two'] = 1.54439
    src['ratio_k_alphatwo_k_alphaone'] = 0.5
    d = e.create_group('experiment_result')
    d.attrs['NX_class'] = 'NXdata'
    d.attrs['signal'] = 'intensity'
    if kind == 'no_data':
        d.attrs['NX_class'] = 'NXcollection'
    axis = 'omega' if kind == 'omega' else 'two_theta'
    d.attrs['axes'] = axis
    d[axis] = tt if kind != 'radians' else np.radians(tt)
    d[axis].attrs['units'] = 'rad' if kind == 'radians' else 'degree'
    d['intensity'] = counts[:4] if kind == 'disagree' else counts
    d['intensity_errors'] = np.sqrt(counts)
)PY";

TEST(Nexus, BuiltFiles) {
    const char* python = python_with_h5py();
    if (python == nullptr) GTEST_SKIP() << "no python3 with h5py";
    testing::ScratchDir dir;
    testing::write_file(dir / "build.py", kBuild);
    struct Case {
        const char* kind;
        ConversionStatus status;
        const char* phrase;
    };
    const Case cases[] = {
        {"good", ConversionStatus::done, ""},
        {"radians", ConversionStatus::done, "two_theta is in radians; turned into degrees"},
        {"omega", ConversionStatus::not_available, "holds an omega scan, not a 2theta scan"},
        {"disagree", ConversionStatus::record_error, "lists 5 angles for 4 intensities"},
        {"cut", ConversionStatus::record_error, "cannot be opened as HDF5"},
        {"no_data", ConversionStatus::not_available,
         "no NXentry holding an NXdata group of intensities and angles; it holds the groups "
         "/scan_1 (NXentry)"},
        {"no_entry", ConversionStatus::not_available,
         "with no NeXus NXentry; it holds the groups /calibration (NXcollection)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const auto file = dir / (std::string(c.kind) + ".nxs");
        const std::string kind = std::string(c.kind) == "cut" ? "good" : c.kind;
        ASSERT_EQ(std::system((std::string(python) + " '" + (dir / "build.py").string() + "' " +
                               kind + " '" + file.string() + "'")
                                  .c_str()),
                  0);
        std::string bytes = testing::read_file(file);
        if (std::string(c.kind) == "cut") bytes.resize(bytes.size() / 2);
        Bench b;
        if (!b.read_as_expected(nexus_codec, bytes, "scan.nxs", c.status, c.phrase)) continue;
        ASSERT_EQ(b.r().point_count, 5);
        EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
        EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.5f);
        EXPECT_FLOAT_EQ(b.r().intensity(5), 9.0f);
        EXPECT_FLOAT_EQ(b.r().sigma(5), 3.0f);
        EXPECT_FLOAT_EQ(b.r().lambda1, 1.5406f);
        EXPECT_FLOAT_EQ(b.r().lambda2, 1.54439f);
        EXPECT_FLOAT_EQ(b.r().alpha_ratio, 0.5f);
        EXPECT_EQ(trim_right(b.r().title), "Quartz");
    }
}

// What h5py finds in our output: the NXxrd_pan names and every value.
constexpr const char* kCheck = R"PY(
import sys, h5py, numpy as np
with h5py.File(sys.argv[1], 'r') as f:
    e = f['entry']
    assert e.attrs['NX_class'] == 'NXentry'
    assert e['definition'][()].decode() == 'NXxrd_pan'
    d = e['experiment_result']
    assert d.attrs['signal'] == 'intensity' and d.attrs['axes'] == 'two_theta'
    tt, y, s = d['two_theta'][()], d['intensity'][()], d['intensity_errors'][()]
    assert len(tt) == len(y) == len(s) == 3, (len(tt), len(y), len(s))
    assert np.float32(tt[0]) == np.float32(4.006565) and np.float32(tt[1] - tt[0]) == np.float32(0.013130283)
    assert list(y) == [np.float32(36.198), np.float32(0), np.float32(1e7)], y
    if sys.argv[2] == 'sigma':
        assert s[0] == np.float32(6.0165), s
    src = e['instrument/source']
    assert src['k_alpha_one'][()] == np.float32(1.540598)
    assert src['ratio_k_alphatwo_k_alphaone'][()] == np.float32(0.514)
)PY";

// Records written as NeXus: read back by our reader and by h5py with every
// value equal, and the same record gives the same bytes.
TEST(Nexus, WrittenAndReadBack) {
    struct Case {
        const char* what;
        bool sigma;
        const char* warning;  // about sigma, where one is due
    };
    const Case cases[] = {
        {"sigma", true, ""},
        {"no_sigma", false, "NeXus output: sigma(I) computed as sqrt(I) for every point"},
    };
    const char* python = python_with_h5py();
    testing::ScratchDir dir;
    if (python != nullptr) testing::write_file(dir / "check.py", kCheck);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string first, second;
        for (std::string* written : {&first, &second}) {
            Bench w;
            PowderPattern& r = w.r();
            r.set_title("Quartz, 40 kV");
            r.two_theta_start = 4.006565f;
            r.two_theta_step = 0.013130283f;
            r.point_count = 3;
            r.intensity(1) = 36.198f;
            r.intensity(2) = 0.0f;
            r.intensity(3) = 1e7f;
            if (c.sigma) {
                r.sigma(1) = 6.0165f;
                w.ws.has_sigma = true;
            }
            r.lambda1 = 1.540598f;
            r.lambda2 = 1.544426f;
            r.alpha_ratio = 0.514f;
            r.count_time = 19.2f;
            ASSERT_EQ(w.write(nexus_codec, *written), ConversionStatus::done);
            const auto& said = w.ws.warnings;
            EXPECT_EQ(std::any_of(said.begin(), said.end(),
                                  [&](const std::string& s) {
                                      return *c.warning && s.find(c.warning) != std::string::npos;
                                  }),
                      *c.warning != 0);
        }
        EXPECT_EQ(first, second) << "the same record gave different bytes";
        Bench b;
        ASSERT_EQ(b.read(nexus_codec, first, "back.nxs"), ConversionStatus::done)
            << b.ws.failure_reason;
        EXPECT_EQ(b.r().point_count, 3);
        EXPECT_EQ(b.r().two_theta_start, 4.006565f);
        EXPECT_EQ(b.r().two_theta_step, 0.013130283f);
        EXPECT_EQ(b.r().intensity(1), 36.198f);
        EXPECT_EQ(b.r().intensity(3), 1e7f);
        if (c.sigma) {
            EXPECT_EQ(b.r().sigma(1), 6.0165f);
        }
        EXPECT_EQ(b.r().lambda1, 1.540598f);
        EXPECT_EQ(b.r().lambda2, 1.544426f);
        EXPECT_EQ(b.r().alpha_ratio, 0.514f);
        EXPECT_EQ(trim_right(b.r().title), "Quartz, 40 kV");
        EXPECT_EQ(b.r().count_time, 19.2f);
        if (python == nullptr) continue;
        testing::write_file(dir / "out.nxs", first);
        EXPECT_EQ(std::system((std::string(python) + " '" + (dir / "check.py").string() + "' '" +
                               (dir / "out.nxs").string() + "' " + c.what)
                                  .c_str()),
                  0);
    }
}

}  // namespace
}  // namespace qelda
