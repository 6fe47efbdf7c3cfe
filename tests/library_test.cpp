// libqelda as a client sees it: reads, writes and detection through the public
// header only, each failure with its status and reason.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "qelda/qelda.h"
#include "tests/test_support.h"

namespace qa = qelda::api;
namespace fs = std::filesystem;
using qelda::testing::read_file;
using qelda::testing::ScratchDir;
using qelda::testing::write_file;

namespace {

const fs::path kExamples = fs::path(QELDA_SOURCE_DIR) / "examples";

qa::Pattern one_scan(std::vector<double> angles, std::vector<double> counts,
                     std::vector<double> sigma = {}) {
    qa::Pattern p;
    p.title = "made by a test";
    p.lambda1 = 1.5406;
    p.scans.push_back({std::move(angles), std::move(counts), std::move(sigma), 1.0});
    return p;
}

// The example files: every reader the library reaches through the format
// table, told by extension or content; the path and the bytes read alike.
TEST(Library, ReadsTheExamplesByPathAndByBytes) {
    struct Row {
        const char* file;
        const char* format;
    };
    const Row rows[] = {
        {"quartz.uxd", "uxd"}, {"quartz.gsa", "gsas"},       {"quartz.raw", "stoe-raw"},
        {"quartz.dat", "xy"},  {"quartz.asc", "stoe-ascii"}, {"quartz.dbw", "dbw"},
        {"quartz.ard", "ard"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = (kExamples / row.file).string();
        EXPECT_EQ(qa::detect(path).format, row.format);
        const qa::ReadResult r = qa::read(path);
        ASSERT_TRUE(r.ok()) << r.error.message << ": " << r.error.reason;
        EXPECT_EQ(r.pattern.format, row.format);
        ASSERT_EQ(r.pattern.scans.size(), 1u);
        const qa::Scan& s = r.pattern.scans[0];
        ASSERT_GT(s.intensity.size(), 1u);
        EXPECT_EQ(s.two_theta.size(), s.intensity.size());
        EXPECT_GT(s.two_theta[1], s.two_theta[0]);

        qa::ReadOptions named;
        named.name = row.file;
        const qa::ReadResult b = qa::read_bytes(read_file(path), named);
        ASSERT_TRUE(b.ok()) << b.error.reason;
        EXPECT_EQ(b.pattern.scans[0].intensity, s.intensity);
        EXPECT_EQ(b.pattern.scans[0].two_theta, s.two_theta);
        EXPECT_EQ(b.pattern.title, r.pattern.title);
    }
}

// What a read cannot do comes back as a status with a reason naming the cause.
TEST(Library, ReadFailuresCarryStatusAndReason) {
    auto opts = [](auto set) {
        qa::ReadOptions o;
        set(o);
        return o;
    };
    struct Row {
        const char* what;
        std::string bytes;  // empty: read the path "missing.uxd"
        qa::ReadOptions options;
        qa::Status status;
        const char* phrase;
    };
    const std::string xy = "10 1\n10.5 2\n11 3\n";
    const Row rows[] = {
        {"absent file", "", {}, qa::Status::open_failed, "missing.uxd"},
        {"not a UXD", "hello\n", opts([](auto& o) { o.name = "a.uxd"; }), qa::Status::not_available,
         "a.uxd"},
        {"unknown format name", xy, opts([](auto& o) { o.format = "nonesuch"; }),
         qa::Status::unknown_format, "nonesuch"},
        {"no extension, no signature", "1 2 3\n", {}, qa::Status::unknown_format, "format"},
        {"scan 0", xy, opts([](auto& o) { o.scan = 0; }), qa::Status::invalid_argument, "scan"},
        {"wavelength 12", xy, opts([](auto& o) {
             o.wavelengths = {{12.0, 0.0, 0.0}};
         }),
         qa::Status::invalid_argument, "alpha1"},
        {"ratio 2", xy, opts([](auto& o) {
             o.wavelengths = {{1.5, 1.6, 2.0}};
         }),
         qa::Status::invalid_argument, "ratio"},
        {"count time 0", xy, opts([](auto& o) { o.count_time = 0.0; }),
         qa::Status::invalid_argument, "count_time"},
        {"negative header lines", xy, opts([](auto& o) { o.header_lines = -1; }),
         qa::Status::invalid_argument, "header_lines"},
        {"x-y cut short", "10 1\n10.5\n", opts([](auto& o) { o.name = "cut.xy"; }),
         qa::Status::record_error, "cut.xy"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const qa::ReadResult r = row.bytes.empty() ? qa::read("missing.uxd", row.options)
                                                   : qa::read_bytes(row.bytes, row.options);
        EXPECT_EQ(r.error.status, row.status) << r.error.reason;
        EXPECT_NE(r.error.reason.find(row.phrase), std::string::npos) << r.error.reason;
        EXPECT_FALSE(r.error.message.empty());
    }
}

// The prompts of an x-y read are answered by the options.
TEST(Library, OptionsAnswerThePrompts) {
    qa::ReadOptions o;
    o.name = "scan.xy";
    o.title = "from options";
    o.count_time = 2.5;
    o.header_lines = 1;
    o.read_sigma = true;
    o.wavelengths = {{1.2, 0.0, 0.0}};
    const qa::ReadResult r = qa::read_bytes("x y e\n10 4 2\n10.5 9 3\n11 16 4\n", o);
    ASSERT_TRUE(r.ok()) << r.error.reason;
    EXPECT_EQ(r.pattern.title, "from options");
    EXPECT_EQ(r.pattern.lambda1, 1.2);
    EXPECT_EQ(r.pattern.lambda2, 0.0);
    const qa::Scan& s = r.pattern.scans[0];
    EXPECT_EQ(s.count_time, 2.5);
    EXPECT_EQ(s.intensity, (std::vector<double>{4, 9, 16}));
    EXPECT_EQ(s.sigma, (std::vector<double>{2, 3, 4}));
    EXPECT_EQ(s.two_theta, (std::vector<double>{10, 10.5, 11}));
}

// A pattern written and read back keeps its values (x-y with sigma keeps all
// of them); every writable format takes a read pattern.
TEST(Library, WrittenPatternsReadBack) {
    const qa::Pattern p = one_scan({10, 10.02, 10.04, 10.06}, {1, 2.5, 300, 4}, {1, 1.5, 17, 2});
    qa::WriteOptions with_sigma;
    with_sigma.write_sigma = true;
    std::string bytes;
    ASSERT_TRUE(qa::write_bytes(p, "xy", bytes, with_sigma).ok());
    qa::ReadOptions o;
    o.name = "back.xy";
    o.read_sigma = true;
    const qa::ReadResult back = qa::read_bytes(bytes, o);
    ASSERT_TRUE(back.ok()) << back.error.reason;
    EXPECT_EQ(back.pattern.title, p.title);
    EXPECT_EQ(back.pattern.scans[0].intensity, p.scans[0].intensity);
    EXPECT_EQ(back.pattern.scans[0].sigma, p.scans[0].sigma);
    EXPECT_EQ(back.pattern.scans[0].two_theta, p.scans[0].two_theta);

    const qa::ReadResult quartz = qa::read((kExamples / "quartz.uxd").string());
    ASSERT_TRUE(quartz.ok());
    ScratchDir dir;
    for (const qa::FormatEntry& f : qa::formats()) {
        if (!f.writes) continue;
        SCOPED_TRACE(f.name);
        const fs::path out = dir / ("out." + f.extension.substr(2));
        const qa::WriteResult w = qa::write(quartz.pattern, f.name, out.string());
        ASSERT_TRUE(w.ok()) << w.error.message << ": " << w.error.reason;
        if (!f.reads) continue;
        qa::ReadOptions as_written;
        as_written.format = f.name;
        const qa::ReadResult r = qa::read(out.string(), as_written);
        ASSERT_TRUE(r.ok()) << r.error.reason;
        EXPECT_EQ(r.pattern.scans[0].intensity, quartz.pattern.scans[0].intensity);
    }
}

// A pattern the formats cannot hold is refused before anything is written,
// and the file it would have replaced stays as it was.
TEST(Library, WriteRefusesWhatItCannotWriteAndLeavesTheFileAlone) {
    auto uneven = one_scan({10, 10.02, 10.1}, {1, 2, 3});
    auto short_angles = one_scan({10, 10.02}, {1, 2, 3});
    auto nan = one_scan({10, 10.02, 10.04}, {1, NAN, 3});
    auto huge = one_scan({10, 10.02, 10.04}, {1, 1e39, 3});
    auto empty = one_scan({}, {});
    auto many = one_scan(std::vector<double>(100001), std::vector<double>(100001));
    const auto quartz = one_scan({10, 10.02}, {1, 2});
    struct Row {
        const char* what;
        const qa::Pattern& pattern;
        const char* format;
        qa::Status status;
        const char* phrase;
    };
    const Row rows[] = {
        {"uneven grid", uneven, "gsas", qa::Status::uneven_grid, "--resample"},
        {"angles fewer than counts", short_angles, "gsas", qa::Status::invalid_argument, "angles"},
        {"NaN intensity", nan, "uxd", qa::Status::invalid_argument, "point 2"},
        {"beyond float", huge, "dbw", qa::Status::invalid_argument, "point 2"},
        {"no points", empty, "xy", qa::Status::invalid_argument, "no points"},
        {"100001 points", many, "xy", qa::Status::too_many_points, "100001"},
        {"format not writable", quartz, "ard", qa::Status::not_available, ""},
        {"no such format", quartz, "png", qa::Status::unknown_format, "png"},
    };
    ScratchDir dir;
    const fs::path target = dir / "kept.dat";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        write_file(target, "precious\n");
        const qa::WriteResult w = qa::write(row.pattern, row.format, target.string());
        EXPECT_EQ(w.error.status, row.status) << w.error.reason;
        EXPECT_NE(w.error.reason.find(row.phrase), std::string::npos) << w.error.reason;
        EXPECT_EQ(read_file(target), "precious\n");
    }
    // Formats that hold each angle take the uneven scan as it is.
    const qa::WriteResult each = qa::write(uneven, "xye", (dir / "uneven.xye").string());
    ASSERT_TRUE(each.ok()) << each.error.reason;
    const qa::ReadResult back = qa::read((dir / "uneven.xye").string());
    ASSERT_TRUE(back.ok()) << back.error.reason;
    EXPECT_EQ(back.pattern.scans[0].two_theta, (std::vector<double>{10, 10.02, 10.1}));
    const qa::WriteResult w = qa::write(quartz, "xy", (dir / "no/such/folder.dat").string());
    EXPECT_EQ(w.error.status, qa::Status::open_failed);
    EXPECT_FALSE(fs::exists(dir / "no"));
    qa::WriteOptions second;
    second.scan = 2;
    EXPECT_EQ(qa::write(quartz, "xy", target.string(), second).error.status,
              qa::Status::invalid_argument);
}

TEST(Library, TitleLongerThanTheRecordIsCutWithAWarning) {
    auto p = one_scan({10, 10.02}, {1, 2});
    p.title = std::string(70, 't');
    std::string bytes;
    const qa::WriteResult w = qa::write_bytes(p, "xy", bytes);
    ASSERT_TRUE(w.ok());
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_NE(w.warnings[0].find("60"), std::string::npos);
}

}  // namespace
