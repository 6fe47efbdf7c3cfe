// Damaged and hostile inputs, for every input format: each gives a status with
// its message or reads correctly; none crashes or stores past the arrays. The
// sanitizer run of the suite makes "none crashes" strict.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "tests/test_support.h"
#include "tests/zip_fixture.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Where real or example files of each input format live (for truncation).
struct FormatFiles {
    FormatId id;
    const char* sample_dir;  // under ../shared/samples, or ""
    const char* extension;   // of our examples/, or "" for none
};

const FormatFiles kFiles[] = {
    {FormatId::ascii_xy, "xy", ".dat"},
    {FormatId::gsas, "gsas", ".gsa"},
    {FormatId::stoe_raw, "stoe_raw", ".raw"},
    {FormatId::siemens_uxd, "uxd", ".uxd"},
    {FormatId::scintag_ard, "", ".ard"},
    {FormatId::dbw, "dbws_like", ".dbw"},
    {FormatId::stoe_ascii, "", ".asc"},
    {FormatId::philips_udf, "udf", ".udf"},
    {FormatId::gsas_cif, "pdcif", ".cif"},
    {FormatId::bruker_raw, "bruker_raw", ""},
    {FormatId::xrdml, "xrdml", ".xrdml"},
    {FormatId::bruker_brml, "brml", ".brml"},
    {FormatId::rigaku_ras, "ras", ".ras"},
    {FormatId::rigaku_rasx, "rasx", ".rasx"},
    {FormatId::philips_rd, "philips_rd", ""},
    {FormatId::rigaku_dat, "rigaku_text", ""},
    {FormatId::sietronics_cpi, "", ""},
    {FormatId::riet7_dat, "", ""},
    {FormatId::csv, "", ""},
    {FormatId::nexus, "nexus", ""},
};

bool acceptable(ConversionStatus s) {
    switch (s) {
        case ConversionStatus::done:
        case ConversionStatus::record_error:
        case ConversionStatus::too_many_points:
        case ConversionStatus::premature_end:
        case ConversionStatus::not_available:
        case ConversionStatus::aborted:
            return true;
        default:
            return false;
    }
}

// Reads `content` as `id`, then, when the read succeeded, runs every writer on
// the record, as a conversion to each output format would. One workspace serves
// many files, as in the program, where the record is never cleared.
void read_and_write_all(Bench& b, FormatId id, const std::string& content,
                        const std::string& what) {
    b.ui.clear_events();
    b.answers().read_sigma = content.size() % 2 == 1;
    const FormatInfo* f = find_format(id);
    ASSERT_NE(f, nullptr);
    b.r().sigma.fill(0.0f);
    const ConversionStatus s = b.read(f->codec, content, "hostile" + std::string(f->extension));
    ASSERT_TRUE(acceptable(s)) << f->list_text << " " << what << " status " << static_cast<int>(s);
    if (s == ConversionStatus::aborted) {
        EXPECT_FALSE(b.ws.abort_report.empty());
    }
    if (s != ConversionStatus::done) return;
    EXPECT_LE(b.r().point_count, b.r().max_points) << f->list_text << " " << what;
    for (const auto& w : formats()) {
        if (!(w.in_output_list || w.writes)) continue;
        std::string written;
        const ConversionStatus ws = b.write(w.codec, written);
        EXPECT_TRUE(ws == ConversionStatus::done || ws == ConversionStatus::not_available ||
                    ws == ConversionStatus::too_large || ws == ConversionStatus::record_error)
            << f->list_text << " -> " << w.list_text << " " << what;
    }
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

// A zip holding the members both zipped formats look for.
std::string zip_scan() {
    const std::string rows = "10.00 5 1\n10.02 6 1\n";
    return testing::make_zip({{"Experiment0/RawData0.xml", "<RawData/>", true},
                              {"Data0/Profile0.txt", rows, true},
                              {"Data0/MesurementConditions0.xml", "<MeasurementConditions/>"}});
}

// Members whose headers understate what they inflate to (8 MB each).
std::string zip_bomb() {
    testing::ZipEntry raw{"Experiment0/RawData0.xml", std::string(8u << 20, '<'), true};
    raw.declared_size = 100;
    testing::ZipEntry profile{"Data0/Profile0.txt", std::string(8u << 20, '1'), true};
    profile.declared_size = 100;
    return testing::make_zip({raw, profile, {"Data0/MesurementConditions0.xml", "<a/>"}});
}

std::string zip_declaring(std::uint64_t size) {
    testing::ZipEntry raw{"Experiment0/RawData0.xml", "<RawData/>", true};
    raw.declared_size = size - 1;
    testing::ZipEntry profile{"Data0/Profile0.txt", "1 2\n", true};
    profile.declared_size = size - 1;
    return testing::make_zip({raw, profile, {"Data0/MesurementConditions0.xml", "<a/>"}});
}

void put_u32(std::string& s, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Bruker RAW headers whose counts and lengths point far past the end of the file.
std::string bruker_v3_absurd() {
    std::string f("RAW1.01");
    f.resize(712 + 304 + 64, '\0');
    put_u32(f, 12, 0xFFFFFFFFu);         // ranges
    put_u32(f, 712, 304);                // range header length
    put_u32(f, 712 + 4, 0x7FFFFFFFu);    // points
    put_u32(f, 712 + 252, 4);            // bytes per point
    put_u32(f, 712 + 256, 0xFFFFFFF0u);  // supplementary records
    return f;
}
std::string bruker_v4_absurd() {
    std::string f("RAW4.00");
    f.resize(61 + 160 + 64, '\0');
    put_u32(f, 61, 160);  // a range header
    f.replace(61 + 32, 14, "Locked Coupled");
    put_u32(f, 61 + 88, 0xFFFFFFFFu);   // points
    put_u32(f, 61 + 136, 4);            // bytes per point
    put_u32(f, 61 + 140, 0xFFFFFFFFu);  // the range's own segments
    return f;
}

std::vector<std::pair<std::string, std::string>> hostile_contents() {
    const std::string digits400 = std::string(400, '7');
    std::string nested;
    for (int i = 0; i < 100000; ++i) nested += "<a>";
    return {
        {"bruker raw v3 absurd offsets", bruker_v3_absurd()},
        {"bruker raw v4 absurd offsets", bruker_v4_absurd()},
        {"empty", ""},
        {"binary", random_bytes(4096, 1)},
        {"binary-large", random_bytes(70000, 2)},
        {"long line", std::string(100000, '5') + "\n" + std::string(100000, ' ') + "\n"},
        {"nul and high bytes", std::string("1.0,\0\xff\xfe 2.0\n\x80\x81,\0\n", 17)},
        {"400 digits", digits400 + "," + digits400 + "\n" + digits400 + "\n"},
        {"huge exponents",
         "1e999,1e999\n-1e999 1D999\n_START=1e999\nBANK 1 1 1 CONST 1e999 1e999\n"},
        {"only newlines", std::string(5000, '\n')},
        {"only CRs", std::string(5000, '\r')},
        {"many blank numbers", std::string(20000, '0') + "\n"},
        {"truncated zip", zip_scan().substr(0, zip_scan().size() / 2)},
        {"zip bomb", zip_bomb()},
        {"zip member declared above 256 MB", zip_declaring(std::uint64_t{1} << 32)},
        {"XML that is not XRDML", "<?xml version=\"1.0\"?>\n<RawData><DataRoutes/></RawData>\n"},
        {"XML nested 100000 deep", "<xrdMeasurements>" + nested + "</xrdMeasurements>"},
        {"RAS rows without a header",
         "*RAS_DATA_START\n*RAS_INT_START\n1 2 3\n*RAS_INT_END\n"
         "*RAS_DATA_END\n"},
    };
}

TEST(HostileInput, EveryFormatSurvivesEveryHostileFile) {
    Bench b;
    for (const auto& f : kFiles)
        for (const auto& [what, content] : hostile_contents())
            read_and_write_all(b, f.id, content, what);
}

// Cuts the file after every line (at most ~300 cuts for large files); for Stoe
// raw at every 512-byte block; for Bruker raw at every 7th byte of the headers
// and every 509th after.
std::vector<std::size_t> cut_points(const std::string& content, FormatId id) {
    std::vector<std::size_t> cuts;
    if (id == FormatId::bruker_raw) {
        for (std::size_t at = 0; at < content.size(); at += at < 2048 ? 7 : 509) cuts.push_back(at);
        return cuts;
    }
    if (id == FormatId::stoe_raw || id == FormatId::bruker_brml || id == FormatId::rigaku_rasx ||
        id == FormatId::philips_rd || id == FormatId::nexus) {
        for (std::size_t at = 0; at < content.size(); at += 512) cuts.push_back(at);
        cuts.push_back(content.size() - 1);
        return cuts;
    }
    for (std::size_t i = 0; i < content.size(); ++i)
        if (content[i] == '\n') cuts.push_back(i + 1);
    if (cuts.size() > 300) {
        std::vector<std::size_t> thinned;
        const std::size_t stride = cuts.size() / 300 + 1;
        for (std::size_t k = 0; k < cuts.size(); k += stride) thinned.push_back(cuts[k]);
        // The first lines hold the headers: keep every one of them.
        for (std::size_t k = 0; k < 40 && k < cuts.size(); ++k) thinned.push_back(cuts[k]);
        cuts = thinned;
    }
    return cuts;
}

TEST(HostileInput, TruncatedFilesFailCleanly) {
    Bench b;
    std::size_t files = 0;
    for (const auto& f : kFiles) {
        std::vector<std::filesystem::path> paths;
        const auto examples = std::filesystem::path(QELDA_SOURCE_DIR) / "examples";
        if (std::filesystem::exists(examples))
            for (const auto& e : std::filesystem::directory_iterator(examples))
                if (*f.extension && e.path().extension() == f.extension) paths.push_back(e.path());
        if (*f.sample_dir) {
            if (auto dir = testing::sample(f.sample_dir))
                for (const auto& e : std::filesystem::directory_iterator(*dir))
                    if (std::filesystem::file_size(e.path()) < 400000) paths.push_back(e.path());
        }
        for (const auto& p : paths) {
            ++files;
            const std::string content = read_file(p);
            for (std::size_t cut : cut_points(content, f.id))
                read_and_write_all(b, f.id, content.substr(0, cut),
                                   p.filename().string() + " cut at " + std::to_string(cut));
        }
    }
    if (files == 0) GTEST_SKIP() << "no example or sample files found";
}

// Files whose cost grew faster than their size, read from real files through
// every input format: the bytes read from the file stay near the file's size
// (or near the part a reader needs), whatever the readers do with the lines.
// The time each takes is in bench/hostile.sh.
TEST(HostileInput, CostStaysLinearInTheSize) {
    ScratchDir dir;
    // Many small wavelength loops: each loop's end gives a line back.
    std::string loops = "data_f2\n";
    for (int i = 0; i < 30000; ++i)
        loops += "loop_\n_diffrn_radiation_wavelength_id\n_diffrn_radiation_wavelength\n1 1.5406\n";
    write_file(dir / "loops.cif", loops);
    // 1 GB of nothing: a file system hole.
    {
        std::ofstream(dir / "sparse.dat").close();
        std::filesystem::resize_file(dir / "sparse.dat", 1000000000);
    }
    struct Case {
        const char* file;
        std::size_t max_bytes_read;
    };
    const Case cases[] = {{"loops.cif", 2 * loops.size()}, {"sparse.dat", 4u << 20}};
    Bench b;
    for (const auto& c : cases) {
        for (const auto& f : kFiles) {
            // The Bruker raw and RAS readers still take the whole file at once;
            // XML and zip documents are bounded by their size limits instead.
            if (static_cast<int>(f.id) > static_cast<int>(FormatId::gsas_cif)) continue;
            ASSERT_EQ(b.ws.input().open((dir / c.file).string()), Outcome::done);
            b.r().max_points = kPointCapacity;
            const ConversionStatus s = find_format(f.id)->codec(b.ws, CodecMode::read);
            EXPECT_TRUE(acceptable(s)) << c.file << " as " << find_format(f.id)->list_text;
            EXPECT_LE(b.ws.input().io_counts().bytes, c.max_bytes_read)
                << c.file << " as " << find_format(f.id)->list_text;
            b.ws.input().close();
        }
    }
}

TEST(HostileInput, RegressionInputsFromFuzzing) {
    const auto root = std::filesystem::path(QELDA_SOURCE_DIR) / "tests/fuzz/regressions";
    if (!std::filesystem::exists(root)) GTEST_SKIP();
    Bench b;
    for (const auto& dir : std::filesystem::directory_iterator(root)) {
        const auto id = format_from_name(dir.path().filename().string());
        ASSERT_TRUE(id) << dir.path();
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            read_and_write_all(b, *id, read_file(e.path()), e.path().filename().string());
    }
}

}  // namespace
}  // namespace qelda
