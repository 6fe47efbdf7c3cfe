// The budgets of zip and XML input, with archives built to reach them: the
// total inflated per input, entries that overlap, members found by name in
// archives with many entries, XML refused by its size before it is read.
#include <gtest/gtest.h>

#include <unistd.h>

#include "formats/instrument_scan.h"
#include "formats/zip_archive.h"
#include "tests/test_support.h"
#include "tests/zip_fixture.h"

namespace qelda {
namespace {

using testing::make_zip;
using testing::put16;
using testing::put32;
using testing::ScratchDir;
using testing::ZipEntry;

std::uint32_t get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// One member listed `copies` times in the central directory under names of
// the same length ("m000.xml", "m001.xml", ...), all on one local header.
std::string one_member_many_entries(const std::string& data, int copies) {
    const std::string zip = make_zip({{"m000.xml", data, true}});
    const std::size_t end = zip.size() - 22;
    const std::size_t at = get32(zip, end + 16);
    const std::string entry = zip.substr(at, end - at);
    std::string out = zip.substr(0, at), directory;
    for (int i = 0; i < copies; ++i) {
        std::string e = entry;
        const std::string n = std::to_string(1000 + i).substr(1);
        e.replace(e.size() - 7, 3, n);  // "m" NNN ".xml"
        directory += e;
    }
    out += directory;
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, static_cast<std::uint32_t>(copies));
    put16(out, static_cast<std::uint32_t>(copies));
    put32(out, static_cast<std::uint32_t>(directory.size()));
    put32(out, static_cast<std::uint32_t>(at));
    put16(out, 0);
    return out;
}

TEST(ZipBudget, ArchivesBuiltToPassTheBudgets) {
    const std::string mb(1u << 20, '7');
    std::vector<ZipEntry> four;
    for (int i = 0; i < 4; ++i) {
        std::string name = "s";  // appended: GCC 12 misreads "s" + ... under -Wrestrict
        name += std::to_string(i);
        name += ".xml";
        four.push_back({name, mb, true});
    }
    ZipEntry understated{"s0.xml", mb, true};
    understated.declared_size = 1000;
    struct Case {
        const char* what;
        std::string zip;
        int reads;  // members read in their order, until one fails
        bool opens;
        int read_ok;  // reads that succeed
        ZipArchive::Error error;
        const char* phrase;
    };
    const Case cases[] = {
        {"one member listed 50 times", one_member_many_entries(mb, 50), 0, false, 0,
         ZipArchive::Error::damaged, "overlap"},
        {"one name twice", make_zip({{"a.xml", "1", false}, {"a.xml", "2", false}}), 0, false, 0,
         ZipArchive::Error::damaged, "names a.xml twice"},
        {"the fourth member passes the total", make_zip(four), 4, true, 3,
         ZipArchive::Error::too_large, "more than the 3 MB allowed for one input file"},
        {"a member above the member budget", make_zip({{"s0.xml", mb + "x", true}}), 1, true, 0,
         ZipArchive::Error::too_large, "more than the 1 MB allowed for one member"},
        {"a member that inflates past its stated size", make_zip({understated}), 1, true, 0,
         ZipArchive::Error::damaged, "damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZipArchive zip;
        zip.set_budgets(std::uint64_t{1} << 20, std::uint64_t{3} << 20);
        ASSERT_EQ(zip.open(c.zip), c.opens) << zip.error_text();
        int ok = 0;
        for (int i = 0; i < c.reads && i < static_cast<int>(zip.members().size()); ++i) {
            std::string out;
            if (!zip.read(zip.members()[static_cast<std::size_t>(i)], out)) break;
            EXPECT_EQ(out.size(), mb.size());
            ++ok;
        }
        EXPECT_EQ(ok, c.read_ok);
        EXPECT_EQ(zip.error(), c.error);
        EXPECT_NE(zip.error_text().find(c.phrase), std::string::npos) << zip.error_text();
    }
}

// Members are found through the index: every one of 20,000 members is read by
// name, the last as well as the first.
TEST(ZipBudget, ManyMembersAreFoundByName) {
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 20000; ++i)
        entries.push_back({"Data/m" + std::to_string(i) + ".txt", std::to_string(i), false});
    const std::string bytes = make_zip(entries);
    ZipArchive zip;
    ASSERT_TRUE(zip.open(bytes)) << zip.error_text();
    ASSERT_EQ(zip.members().size(), 20000u);
    for (int i = 19999; i >= 0; i -= 1) {
        std::string out;
        ASSERT_TRUE(zip.read("Data/m" + std::to_string(i) + ".txt", out)) << zip.error_text();
        ASSERT_EQ(out, std::to_string(i));
    }
}

// A large XRDML is refused by the size of the file, before it is read.
TEST(ZipBudget, XmlRefusedBeforeItIsRead) {
    ScratchDir dir;
    const auto path = dir / "big.xrdml";
    testing::write_file(path, "<?xml version=\"1.0\"?>\n<xrdMeasurements>");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kMaxXmlBytes + 1)), 0);  // sparse
    testing::Bench b;
    ASSERT_EQ(b.ws.input().open(path.string()), Outcome::done);
    EXPECT_EQ(xrdml_codec(b.ws, CodecMode::read), ConversionStatus::not_available);
    EXPECT_NE(b.ws.failure_reason.find("MB of XML allowed"), std::string::npos)
        << b.ws.failure_reason;
    EXPECT_LT(b.ws.input().io_counts().bytes, std::size_t{1} << 20);
}

}  // namespace
}  // namespace qelda
