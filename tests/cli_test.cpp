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
