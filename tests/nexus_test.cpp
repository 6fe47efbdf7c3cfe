// NeXus files built with h5py (the tests skip without it): the kinds of entry
// the reader takes, and the ways a file can go wrong.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qelda
