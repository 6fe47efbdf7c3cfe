// Format detection by content: every real file and every example is told as
// its own format, and files that fit two formats name both.
#include <gtest/gtest.h>

#include "formats/detect.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;

std::string describe(const ContentGuess& g) {
    std::string s = "format " + std::to_string(static_cast<int>(g.format)) + ", candidates";
    for (auto c : g.candidates) s.append(" ").append(std::to_string(static_cast<int>(c)));
    return s.append(": ").append(g.reason);
}

TEST(Detect, EverySampleAndExampleIsToldAsItsOwnFormat) {
    struct Folder {
        const char* dir;
        FormatId id;
    };
    const Folder kFolders[] = {
        {"xy", FormatId::ascii_xy},           {"gsas", FormatId::gsas},
        {"stoe_raw", FormatId::stoe_raw},     {"uxd", FormatId::siemens_uxd},
        {"dbws_like", FormatId::dbw},         {"udf", FormatId::philips_udf},
        {"pdcif", FormatId::gsas_cif},        {"xrdml", FormatId::xrdml},
        {"bruker_raw", FormatId::bruker_raw}, {"brml", FormatId::bruker_brml},
        {"ras", FormatId::rigaku_ras},        {"rasx", FormatId::rigaku_rasx},
        {"philips_rd", FormatId::philips_rd}, {"rigaku_text", FormatId::rigaku_dat},
        {"nexus", FormatId::nexus},
    };
    std::size_t files = 0;
    for (const auto& f : kFolders) {
        const auto dir = testing::sample(f.dir);
        if (!dir) continue;
        for (const auto& e : std::filesystem::directory_iterator(*dir)) {
            ++files;
            const ContentGuess g = detect_file(e.path().string());
            EXPECT_EQ(g.format, f.id) << e.path().filename() << ": " << describe(g);
        }
    }
    const auto examples = std::filesystem::path(QELDA_SOURCE_DIR) / "examples";
    for (const auto& e : std::filesystem::directory_iterator(examples)) {
        std::string ext = e.path().extension().string().substr(1);
        for (auto& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        FormatId expected = detect_format(ext, Direction::input);
        if (ext == "RAW") expected = FormatId::stoe_raw;  // the examples are ours
        ++files;
        EXPECT_EQ(detect_file(e.path().string()).format, expected) << e.path().filename();
    }
    EXPECT_GT(files, 0u);
}

// A zip archive of stored members with these names and contents.
std::string zip_of(const std::vector<std::string>& names, bool with_directory = true) {
    auto u16 = [](std::string& s, uint32_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::string& s, uint32_t v) {
        u16(s, v & 0xFFFF);
        u16(s, v >> 16);
    };
    std::string z, dir;
    for (const auto& n : names) {
        const auto at = static_cast<uint32_t>(z.size());
        z += "PK\x03\x04";
        z += std::string(14, '\0');
        u32(z, 3);  // compressed size
        u32(z, 3);
        u16(z, static_cast<uint32_t>(n.size()));
        u16(z, 0);
        z += n + "abc";
        dir += "PK\x01\x02";
        dir += std::string(24, '\0');
        u16(dir, static_cast<uint32_t>(n.size()));
        dir += std::string(12, '\0');
        u32(dir, at);
        dir += n;
    }
    if (!with_directory) return z;
    const auto dir_at = static_cast<uint32_t>(z.size());
    z += dir + "PK\x05\x06" + std::string(6, '\0');
    u16(z, static_cast<uint32_t>(names.size()));
    u32(z, static_cast<uint32_t>(dir.size()));
    u32(z, dir_at);
    u16(z, 0);
    return z;
}

TEST(Detect, BuiltContents) {
    const std::string uxd_lines = "_FILEVERSION=1\n_START=10\n_COUNTS\n 1 2 3\n";
    const std::string xy_rows = "10.0 5\n10.1 6\n10.2 7\n10.3 8\n";
    struct Case {
        const char* what;
        std::string content;
        FormatId format;
        std::vector<FormatId> candidates;
        const char* reason;  // a part of the reason
    };
    const Case cases[] = {
        {"brml zip",
         zip_of({"Experiment0/MeasurementContainer.xml", "Experiment0/RawData0.xml"}),
         FormatId::bruker_brml,
         {FormatId::bruker_brml},
         "holding Experiment0/RawData0.xml"},
        {"rasx zip without its directory",
         zip_of({"Data0/Profile0.txt"}, false),
         FormatId::rigaku_rasx,
         {FormatId::rigaku_rasx},
         "Data0/Profile0.txt"},
        {"zip of both",
         zip_of({"Data0/Profile0.txt", "Experiment0/RawData1.xml"}),
         FormatId::none,
         {FormatId::bruker_brml, FormatId::rigaku_rasx},
         "cannot tell brml (a zip archive holding Experiment0/RawData1.xml) from rasx"},
        {"zip of neither", zip_of({"word/document.xml"}), FormatId::none, {}, "neither"},
        {"uxd and gsas",
         uxd_lines + "BANK 1 3 1 CONST 1000 2 0 0\n",
         FormatId::none,
         {FormatId::siemens_uxd, FormatId::gsas},
         "cannot tell uxd (line 1 begins with _FILEVERSION) from gsas (line 5 is a BANK record)"},
        {"cif and udf",
         "data_x\n_pd_meas_2theta_scan\nRawScan\n",
         FormatId::none,
         {FormatId::philips_udf, FormatId::gsas_cif},
         "cannot tell udf"},
        {"ard header",
         "Quartz\n  10.0000000  20.0000000   0.0200000   2.00000000            1.54060000\n\n   7  "
         " 5   2\n  14   3   0\n\n\n    10.000   120.0    30.0\n",
         FormatId::scintag_ard,
         {FormatId::scintag_ard},
         "line 2 holds start, end and step"},
        {"stoe ascii",
         "Title  = Quartz\nRange 1\n a\n b\n c\n d\nIntensities\n\n 1 2 3\n",
         FormatId::stoe_ascii,
         {FormatId::stoe_ascii},
         "line 2 names Range 1"},
        {"xy with a title",
         "Quartz scan\n" + xy_rows,
         FormatId::ascii_xy,
         {FormatId::ascii_xy},
         "from line 2 on, 4 lines"},
        {"xml of another kind",
         "<?xml version=\"1.0\"?>\n<root/>\n",
         FormatId::none,
         {},
         "names no XRDMeasurement"},
        {"prose",
         "Dear colleague,\nplease find the scan attached.\n",
         FormatId::none,
         {},
         "no signature"},
        {"empty", "", FormatId::none, {}, "empty"},
    };
    for (const auto& c : cases) {
        const ContentGuess g = detect_content(c.content);
        EXPECT_EQ(g.format, c.format) << c.what << ": " << describe(g);
        EXPECT_EQ(g.candidates, c.candidates) << c.what << ": " << describe(g);
        EXPECT_NE(g.reason.find(c.reason), std::string::npos) << c.what << ": " << g.reason;
    }
}

}  // namespace
}  // namespace qelda
