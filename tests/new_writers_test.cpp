// The xye, FXYE and CIF writers: what they write reads back through our own
// readers as the same single-precision values, and independent readers
// (xyconv, gemmi, PyCifRW) read it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// A scan whose numbers need every digit: the start and step of a PANalytical
// scan, counts of a synchrotron file, and uncertainties from the file or none.
struct Scan {
    const char* what;
    float start, step;
    std::vector<float> counts;
    std::vector<float> sigmas;  // empty: the file gave none
    float lambda1, lambda2, ratio;
    const char* title;
};

const Scan kScans[] = {
    {"panalytical",
     4.006565f,
     0.013130283f,
     {36.198f, 10.3125f, 492.1f, 0.5f, 7.0f},
     {},
     1.540598f,
     1.544426f,
     0.5f,
     "Quartz 4-5 deg"},
    {"synchrotron",
     0.5f,
     0.001f,
     {387.774303f, 413.94119f, 1e-05f, 2.55e8f},
     {28.806587f, 29.782814f, 0.01f, 16000.5f},
     0.413529f,
     0.0f,
     0.0f,
     "11-BM quartz"},
    {"whole counts", 10.0f, 0.02f, {120, 121, 0, 5000}, {}, 1.5406f, 0.0f, 0.0f, ""},
    {"descending", 90.0f, -0.05f, {3, 2, 1}, {1.5f, 1.25f, 1.0f}, 0.7093f, 0.71359f, 0.5f, "down"},
};

void load(Bench& b, const Scan& s) {
    PowderPattern& r = b.r();
    const auto n = static_cast<int32_t>(s.counts.size());
    testing::fill_scan(r, n, s.start, s.step);
    for (int32_t i = 0; i < n; ++i) r.intensity(i + 1) = s.counts[static_cast<std::size_t>(i)];
    for (std::size_t i = 0; i < s.sigmas.size(); ++i)
        r.sigma(static_cast<int32_t>(i) + 1) = s.sigmas[i];
    b.ws.has_sigma = !s.sigmas.empty();
    r.lambda1 = s.lambda1;
    r.lambda2 = s.lambda2;
    r.alpha_ratio = s.ratio;
    r.count_time = 1.5f;
    r.set_title(s.title);
    b.ws.session().input_path = "/data/scan one.xrdml";
    b.ws.session().input_format = FormatId::xrdml;
}

float expected_sigma(const Scan& s, std::size_t i) {
    if (!s.sigmas.empty() && s.sigmas[i] > 0.0f) return s.sigmas[i];
    return s.counts[i] > 0.0f ? std::sqrt(s.counts[i]) : 1.0f;
}

struct Writer {
    const char* name;
    CodecRoutine write;
    CodecRoutine read_back;
    const char* file;  // what the reader is told the file is called
    bool wavelengths;  // our reader takes them back
    bool sigma;        // our reader takes sigma back
};

const Writer kWriters[] = {
    {"xye", xye_codec, ascii_xy_codec, "back.xye", false, true},
    {"fxye", fxye_codec, gsas_codec, "back.fxye", true, true},
    {"cif", gsas_cif_codec, gsas_cif_codec, "back.cif", true, false},
};

TEST(NewWriters, ValuesReadBackAsTheSameFloats) {
    for (const Writer& w : kWriters) {
        for (const Scan& s : kScans) {
            const std::string what = std::string(w.name) + " " + s.what;
            Bench out;
            load(out, s);
            std::string text;
            const bool fxye = w.write == fxye_codec;
            if (fxye && s.step < 0.0f) {
                // GSAS's CONS binning ascends: refused, naming formats that can hold it.
                EXPECT_EQ(out.write(w.write, text), ConversionStatus::too_large) << what;
                EXPECT_NE(out.ws.failure_reason.find("xye or cif"), std::string::npos);
                continue;
            }
            ASSERT_EQ(out.write(w.write, text), ConversionStatus::done) << what;
            // A sigma computed is said; one from the file is not.
            const bool computed = s.sigmas.empty();
            bool warned = false;
            for (const auto& m : out.ws.warnings) warned |= m.find("sqrt(I)") != std::string::npos;
            EXPECT_EQ(warned, computed) << what;

            Bench in;
            in.answers().read_sigma = true;
            in.answers().header_lines.clear();
            ASSERT_EQ(in.read(w.read_back, text, w.file), ConversionStatus::done)
                << what << ": " << in.ws.failure_reason << "\n"
                << text;
            const PowderPattern& r = in.r();
            ASSERT_EQ(r.point_count, static_cast<int32_t>(s.counts.size())) << what;
            EXPECT_EQ(r.two_theta_start, s.start) << what;
            if (s.step > 0.0f && w.write != xye_codec) {
                EXPECT_EQ(r.two_theta_step, s.step) << what;
            } else {
                // The x-y reader and a CIF loop of angles derive the step from
                // the angles (the x-y reader rounds it while the last angle
                // stays within a quarter step).
                const int32_t last = r.point_count - 1;
                EXPECT_NEAR(r.two_theta_start + last * r.two_theta_step,
                            s.start + static_cast<double>(last) * s.step, std::fabs(s.step) / 4)
                    << what;
            }
            for (std::size_t i = 0; i < s.counts.size(); ++i) {
                const auto p = static_cast<int32_t>(i) + 1;
                EXPECT_EQ(r.intensity(p), s.counts[i]) << what << " point " << p;
                if (w.sigma) {
                    EXPECT_EQ(r.sigma(p), expected_sigma(s, i)) << what << " point " << p;
                }
            }
            if (w.wavelengths) {
                EXPECT_EQ(r.lambda1, s.lambda1) << what;
                EXPECT_EQ(r.lambda2, s.lambda2) << what;
                EXPECT_EQ(r.alpha_ratio, s.ratio) << what;
            }
        }
    }
}

// Text the writers print as it stands: headers other programs rely on.
TEST(NewWriters, HeadersOtherProgramsRead) {
    struct Case {
        CodecRoutine write;
        const char* line;  // a whole line of the output
    };
    const Case cases[] = {
        {xye_codec, "# Quartz 4-5 deg"},
        {xye_codec, "# Wavelength 1.540598 Angstrom (alpha1)"},
        {xye_codec, "# Converted from scan one.xrdml (PANalytical xrdml)"},
        {xye_codec, "4.006565 36.198 6.0164776"},
        {fxye_codec, "Quartz 4-5 deg"},
        {fxye_codec, "Instrument parameters: Lam1 1.540598 Lam2 1.544426 I(L2)/I(L1) 0.5"},
        {fxye_codec, "BANK 1 5 5 CONS 400.6565 1.3130283 0 0 FXYE"},
        {fxye_codec, "400.6565 36.198 6.0164776"},
        {gsas_cif_codec, "data_scanone"},
        {gsas_cif_codec, "_pd_meas_number_of_points 5"},
        {gsas_cif_codec, "_pd_meas_2theta_range_min 4.006565"},
        {gsas_cif_codec, "_pd_meas_2theta_range_inc 0.013130283"},
        {gsas_cif_codec, "_pd_meas_intensity_total"},
        {gsas_cif_codec, "36.1980000(60164776)"},
        {gsas_cif_codec, "2 1.544426 0.5"},
    };
    for (const auto& c : cases) {
        Bench b;
        load(b, kScans[0]);
        std::string text;
        ASSERT_EQ(b.write(c.write, text), ConversionStatus::done);
        const auto lines = testing::lines_of(text);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end()) << c.line << "\n"
                                                                              << text;
    }
}

// GSAS-II takes a "#" line with a lower-case q for a scan in Q: such texts
// go into a /* */ line.
TEST(NewWriters, XyeKeepsQOutOfHashLines) {
    Bench b;
    load(b, kScans[0]);
    b.r().set_title("quartz");
    b.ws.session().input_path = "q.raw";
    std::string text;
    ASSERT_EQ(b.write(xye_codec, text), ConversionStatus::done);
    for (const auto& line : testing::lines_of(text))
        if (!line.empty() && line[0] == '#') {
            EXPECT_EQ(line.find('q'), std::string::npos) << line;
        }
    EXPECT_NE(text.find("/* quartz */"), std::string::npos) << text;
}

TEST(NewWriters, UnwritableRecordsAreRefused) {
    for (const Writer& w : kWriters) {
        Bench b;
        load(b, kScans[0]);
        b.r().intensity(2) = std::nanf("");
        std::string text;
        EXPECT_EQ(b.write(w.write, text), ConversionStatus::too_large) << w.name;
        EXPECT_NE(b.ws.failure_reason.find("point 2"), std::string::npos) << b.ws.failure_reason;
        Bench empty;
        EXPECT_EQ(empty.write(w.write, text), ConversionStatus::record_error) << w.name;
    }
}

// Independent readers. Each runs as a program on a file we wrote; a reader
// that is not installed skips the test.
class Oracle : public ::testing::Test {
  protected:
    std::string write(CodecRoutine codec, const char* name, int scan = 0) {
        Bench b;
        load(b, kScans[scan]);
        std::string text;
        EXPECT_EQ(b.write(codec, text), ConversionStatus::done);
        const auto path = dir / name;
        testing::write_file(path, text);
        return path.string();
    }
    static std::string run(const std::string& command, int& status) {
        std::string out;
        std::FILE* p = ::popen(command.c_str(), "r");
        if (p == nullptr) {
            status = -1;
            return out;
        }
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        const int raw = ::pclose(p);
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return out;
    }
    testing::ScratchDir dir;
};

// xyconv's numbers: the rows of its output after its comment lines.
std::vector<std::vector<double>> rows_of(const std::string& text) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream values(line);
        std::vector<double> row;
        double v;
        while (values >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

TEST_F(Oracle, XyconvReadsOurXyeAndCif) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) GTEST_SKIP() << "xyconv absent";
    const Scan& s = kScans[1];
    struct Target {
        CodecRoutine codec;
        const char* name;
        const char* type;
    };
    for (const Target& t :
         {Target{xye_codec, "x.xye", "text"}, Target{gsas_cif_codec, "x.cif", "pdcif"}}) {
        const CodecRoutine codec = t.codec;
        const char* name = t.name;
        const char* type = t.type;
        const std::string path = write(codec, name, 1);
        int status = 0;
        const std::string out =
            run("xyconv -t " + std::string(type) + " " + path + " - 2>&1", status);
        ASSERT_EQ(status, 0) << out;
        const auto rows = rows_of(out);
        ASSERT_EQ(rows.size(), s.counts.size()) << out;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_GE(rows[i].size(), 2u) << out;
            const double x = s.start + static_cast<double>(i) * s.step;
            EXPECT_NEAR(rows[i][0], x, 1e-5) << name << out;
            EXPECT_NEAR(rows[i][1], s.counts[i], 1e-6 * std::fabs(s.counts[i]) + 1e-5) << name;
        }
    }
}

TEST_F(Oracle, CifParsersReadOurCif) {
    const std::string path = write(gsas_cif_codec, "scan.cif");
    const char* checks[] = {
        // gemmi: the block, its number of points and the loop's length.
        "import sys, gemmi\n"
        "b = gemmi.cif.read_file(sys.argv[1]).sole_block()\n"
        "n = int(b.find_value('_pd_meas_number_of_points'))\n"
        "col = b.find_loop('_pd_meas_intensity_total')\n"
        "assert len(col) == n == 5, (len(col), n)\n"
        "assert b.find_value('_pd_meas_2theta_range_min') == '4.006565'\n",
        // PyCifRW, strict CIF 1.1 syntax.
        "import sys, CifFile\n"
        "cf = CifFile.ReadCif(sys.argv[1])\n"
        "b = cf[cf.keys()[0]]\n"
        "assert int(b['_pd_meas_number_of_points']) == len(b['_pd_meas_intensity_total']) == 5\n"
        "assert b['_diffrn_radiation_wavelength'][1] == '1.544426'\n",
    };
    const char* modules[] = {"gemmi", "CifFile"};
    // Debian's modules belong to Debian's python, whatever else the path finds first.
    const std::string python =
        std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    for (int k = 0; k < 2; ++k) {
        int status = 0;
        run(python + " -c 'import " + modules[k] + "' 2>/dev/null", status);
        if (status != 0) {
            std::printf("python module %s absent: skipped\n", modules[k]);
            continue;
        }
        const auto script = dir / "check.py";
        testing::write_file(script, checks[k]);
        const std::string out = run(python + " " + script.string() + " " + path + " 2>&1", status);
        EXPECT_EQ(status, 0) << modules[k] << ": " << out;
    }
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

// Control characters cannot stand in a text line (CIF forbids them): they are
// written as blanks, and said so where they stood inside the title.
TEST(NewWriters, TitlesWithControlCharacters) {
    struct Case {
        std::string title;
        const char* line;  // the xye title line
        bool warned;
    };
    const Case cases[] = {
        {std::string("PD-01-02\0\0\0\0", 12), "# PD-01-02", false},
        {"a\tb\x7f"
         "c",
         "# a b c", true},
    };
    for (const auto& c : cases) {
        for (const CodecRoutine codec : {xye_codec, fxye_codec, gsas_cif_codec}) {
            testing::Bench b;
            testing::fill_scan(b.r(), 3, 10.0f, 0.02f);
            b.r().set_title(c.title);
            std::string text;
            ASSERT_EQ(b.write(codec, text), ConversionStatus::done);
            EXPECT_EQ(text.find('\0'), std::string::npos);
            EXPECT_EQ(text.find('\t'), std::string::npos);
            bool warned = false;
            for (const auto& w : b.ws.warnings) warned |= w.find("control") != std::string::npos;
            EXPECT_EQ(warned, c.warned) << c.line;
            if (codec == xye_codec) {
                EXPECT_EQ(testing::lines_of(text).front(), c.line);
            }
        }
    }
}

}  // namespace
}  // namespace qelda
