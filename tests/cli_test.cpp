// The command-line converter: exit statuses, format choice, answers, json.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

struct CliRun {
    int status;
    std::string out, err;
};

CliRun run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), "qelda-convert");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = run_convert_cli(static_cast<int>(argv.size()), argv.data(), out, err);
    auto slurp = [](std::FILE* f) {
        std::string s;
        std::rewind(f);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
        return s;
    };
    return {status, slurp(out), slurp(err)};
}

TEST(Cli, HelpListsEveryFormat) {
    const CliRun r = run_cli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"Ascii x-y", "GSAS cw data", "Stoe raw", "Siemans uxd", "Scintag ard",
                             "DBW", "Stoe ascii", "Phillips udf", "GSAS cif"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name;
    EXPECT_EQ(run_cli({"--version"}).status, 0);
}

TEST(Cli, UsageErrorsExitTwo) {
    ScratchDir dir;
    const auto in = (dir / "scan.uxd").string();
    write_file(in, "x");
    const auto out = (dir / "out.dat").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {in},
        {"--wavelengths", "1.5,abc,0.5", in, out},
        {"--wavelengths", "1.5,1.6", in, out},
        {"--count-time", "fast", in, out},
        {"--header-lines", "two", in, out},
        {"-f", "nonsense", in, out},
        {"-t", "cif", in, out},
        {"--bogus", in, out},
        {(dir / "scan.xyz").string(), out},
        {in, (dir / "out.xyz").string()},
        {in, "-"},
    };
    for (const auto& args : cases) {
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back()) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(Cli, MissingInputAndUnwrittenFormat) {
    ScratchDir dir;
    const CliRun missing = run_cli({(dir / "none.uxd").string(), (dir / "o.dat").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("ERROR OPENING INPUT DATA FILE"), std::string::npos);
    // The conversion fails: no output file appears at all.
    EXPECT_FALSE(std::filesystem::exists(dir / "o.dat"));
}

TEST(Cli, FormatsByNameAndNumber) {
    ScratchDir dir;
    const auto in = (dir / "scan.bin").string();
    write_file(in, "");
    // "Scintag ard" cannot be written: the read happens first, then the message.
    for (const char* from : {"ard", "Scintag ard", "6"}) {
        const CliRun r = run_cli({"-f", from, "-t", "ard", in, (dir / "o.ard").string()});
        EXPECT_EQ(r.status, 1) << from;
        EXPECT_FALSE(r.err.empty());
    }
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

// Output safety and json, through a real codec (our example Stoe raw scan).
class CliWithExample : public ::testing::Test {
  protected:
    void SetUp() override {
        example = std::filesystem::path(QELDA_SOURCE_DIR) / "examples/quartz.raw";
        if (!std::filesystem::exists(example)) GTEST_SKIP() << "examples/quartz.raw absent";
    }
    std::filesystem::path example;
    ScratchDir dir;
};

TEST_F(CliWithExample, JsonHoldsTheRecordExactly) {
    const auto json = dir / "scan.json";
    const CliRun r = run_cli({"-q", "-t", "json", example.string(), json.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = read_file(json);
    for (const char* key :
         {"\"title\":", "\"lambda1\":", "\"lambda2\":", "\"alpha_ratio\":", "\"two_theta_start\":",
          "\"two_theta_end\":", "\"two_theta_step\":", "\"count_time\":", "\"point_count\":2751",
          "\"intensity\":[", "\"sigma\":["})
        EXPECT_NE(text.find(key), std::string::npos) << key;
    // The step 0.02 is printed so that it reads back as the same float.
    EXPECT_NE(text.find("\"two_theta_step\":0.02,"), std::string::npos);
    // Standard output as the target.
    const CliRun s = run_cli({"-t", "json", example.string(), "-"});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, text);
}

TEST_F(CliWithExample, OutputEqualToInputConverts) {
    const auto copy = dir / "same.raw";
    std::filesystem::copy_file(example, copy);
    const CliRun r = run_cli({"-q", copy.string(), copy.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const CliRun again = run_cli({"-q", "-t", "json", copy.string(), "-"});
    const CliRun orig = run_cli({"-q", "-t", "json", example.string(), "-"});
    EXPECT_EQ(again.out, orig.out);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(CliWithExample, FailedConversionLeavesOldFileAndNoTemporaries) {
    const auto target = dir / "keep.dat";
    write_file(target, "previous contents");
    // An input that ends early fails the read; the old output stays byte for byte.
    const auto cut = dir / "cut.raw";
    write_file(cut, read_file(example).substr(0, 700));
    const CliRun r = run_cli({cut.string(), target.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("UNEXPECTED END OF FILE"), std::string::npos);
    EXPECT_EQ(read_file(target), "previous contents");
    // An output folder that cannot hold the file.
    const CliRun nowhere = run_cli({example.string(), (dir / "no/such/folder/x.raw").string()});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("ERROR OPENING OUTPUT"), std::string::npos);
    EXPECT_NE(nowhere.err.find("No such file or directory"), std::string::npos) << nowhere.err;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".qelda-"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

// Every input format converts to every output format from the command line.
TEST(Cli, EveryInputToEveryOutput) {
    ScratchDir dir;
    const auto examples = std::filesystem::path(QELDA_SOURCE_DIR) / "examples";
    std::vector<std::pair<std::string, std::filesystem::path>> inputs;
    for (const char* name : {"quartz.dat", "quartz.gsa", "quartz.raw", "quartz.uxd", "quartz.dbw"})
        if (std::filesystem::exists(examples / name)) inputs.emplace_back(name, examples / name);
    // The read-only formats: small files in their layouts, and real samples.
    write_file(dir / "scan.ard",
               "Quartz standard\n  10.0000000  10.1000000   0.0200000  2.00000000"
               "              1.54060000\n\n   7   5   2\n  14   3   0\n\n\n"
               "              120.0    30.0\n              180.0    30.0\n"
               "              240.0    30.0\n              300.0    30.0\n"
               "              360.0    30.0\n              420.0    30.0\n");
    inputs.emplace_back("scan.ard", dir / "scan.ard");
    std::string asc = "Title  = Quartz standard\nWavelength: 1.540598\nRange 1\n  2Theta\n" +
                      std::string(33, ' ') + "   10.000   10.180    0.020\n\n\n" +
                      std::string(17, ' ') + "    5.0" + std::string(33, ' ') +
                      "    10\nIntensities\n  counts\n" + std::string(9, ' ');
    for (int j = 1; j <= 10; ++j) asc += "    1" + std::to_string(10 + j);
    write_file(dir / "scan.asc", asc + "\n");
    inputs.emplace_back("scan.asc", dir / "scan.asc");
    for (const char* rel : {"udf/sample2.udf", "pdcif/1517474.cif"})
        if (auto p = testing::sample(rel)) inputs.emplace_back(rel, *p);
    ASSERT_GE(inputs.size(), 2u);
    for (const auto& [name, path] : inputs) {
        for (const char* to : {"xy", "gsas", "stoe-raw", "uxd", "dbw"}) {
            const auto out = dir / (std::string("out-") + to);
            std::vector<std::string> args = {"-q", "-t", to, path.string(), out.string()};
            if (name == "quartz.dat") args.insert(args.begin(), {"--header-lines", "1"});
            const CliRun r = run_cli(args);
            EXPECT_EQ(r.status, 0) << name << " -> " << to << ": " << r.err;
            EXPECT_TRUE(std::filesystem::exists(out)) << name << " -> " << to;
        }
    }
}

TEST(Cli, XyFileNamesAreRecognised) {
    ScratchDir dir;
    write_file(dir / "a.xye", "10.0 100 10\n10.1 121 11\n");
    const CliRun r = run_cli({"-q", "--header-lines", "0", "--read-sigma", "--no-title",
                              (dir / "a.xye").string(), (dir / "b.dat").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "b.dat"), "   10.000,   100.000\r\n   10.100,   121.000\r\n");
}

}  // namespace
}  // namespace qelda
