// The command-line converter: exit statuses, format choice, answers, json.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using testing::CliRun;
using testing::run_cli;

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
    write_file(dir / "scan.xyz", "x");
    const auto out = (dir / "out.dat").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {in},
        {"-f", "nonsense", in, out},
        {"-t", "xrdml", in, out},  // read only
        {"--bogus", in, out},
        {in, (dir / "out.xyz").string()},
        {in, "-"},
        {in, dir.path().string()},         // a folder as OUTPUT needs --to
        {in, in, in},                      // a batch needs -t
        {"-t", "xy", "-o", in, in},        // -o names a file
        {"-t", "xy", "-o", "d", in, "-"},  // no standard input in a batch
        {"--ext", "a/b", "-t", "xy", "-o", "d", in},
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
    // "Scintag ard" cannot be written: refused before the input is read.
    for (const char* from : {"ard", "Scintag ard", "6"}) {
        const CliRun r = run_cli({"-f", from, "-t", "ard", in, (dir / "o.ard").string()});
        EXPECT_EQ(r.status, 2) << from;
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
        example = examples / "quartz.raw";
        if (!std::filesystem::exists(example)) GTEST_SKIP() << "examples/quartz.raw absent";
    }
    const std::filesystem::path examples = std::filesystem::path(QELDA_SOURCE_DIR) / "examples";
    std::filesystem::path example;
    ScratchDir dir;
};

TEST_F(CliWithExample, JsonHoldsTheRecordExactly) {
    const auto json = dir / "scan.json";
    const CliRun r = run_cli({"-q", "-t", "json", example.string(), json.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = read_file(json);
    for (const char* key :
         {"\"format\":\"stoe-raw\"", "\"lambda1\":", "\"lambda2\":", "\"alpha_ratio\":",
          "\"two_theta_start\":", "\"two_theta_end\":", "\"two_theta_step\":", "\"count_time\":",
          "\"point_count\":2751", "\"warnings\":[]", "\"intensity\":["})
        EXPECT_NE(text.find(key), std::string::npos) << key;
    // The title without its padding; no sigma from a file that holds none.
    EXPECT_EQ(text.find(" \","), std::string::npos);
    EXPECT_EQ(text.find("\"sigma\""), std::string::npos);
    // The step 0.02 is printed so that it reads back as the same float.
    EXPECT_NE(text.find("\"two_theta_step\":0.02,"), std::string::npos);
    // Standard output as the target.
    const CliRun s = run_cli({"-t", "json", example.string(), "-"});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, text);
}

TEST_F(CliWithExample, JsonSigmaOnlyFromUncertaintiesAndIntensitiesKept) {
    write_file(dir / "a.xye", "10.0 0 1.5\n10.1 4 2\n");
    const std::string xye = (dir / "a.xye").string();
    const CliRun with = run_cli({"--header-lines", "0", "--read-sigma", "-t", "json", xye, "-"});
    EXPECT_NE(with.out.find("\"sigma\":[1.5,2]"), std::string::npos) << with.out;
    EXPECT_NE(with.out.find("\"intensity\":[0.001,4.001]"), std::string::npos) << with.out;
    // An .xye file's third column is sigma unless --no-sigma says otherwise.
    const CliRun read_by_default = run_cli({"--header-lines", "0", "-t", "json", xye, "-"});
    EXPECT_NE(read_by_default.out.find("\"sigma\":[1.5,2]"), std::string::npos)
        << read_by_default.out;
    const CliRun kept = run_cli(
        {"--header-lines", "0", "--keep-intensities", "--no-sigma", "-t", "json", xye, "-"});
    EXPECT_NE(kept.out.find("\"intensity\":[0,4]"), std::string::npos) << kept.out;
    EXPECT_EQ(kept.out.find("\"sigma\""), std::string::npos);
}

// Refusals leave every file as it was and exit 1; --force and a folder as
// OUTPUT write.
TEST_F(CliWithExample, OverwritesAreRefused) {
    const auto a = dir / "sample2.uxd", b = dir / "sample3.uxd", link = dir / "link.uxd";
    std::filesystem::copy_file(examples / "quartz.uxd", a);
    write_file(b, read_file(examples / "quartz.uxd") + "\n");
    std::filesystem::create_symlink(a, link);
    write_file(dir / "old.gsa", "old");
    std::filesystem::create_directory(dir / "into");
    const std::string A = a.string(), B = b.string(), gsa = (dir / "old.gsa").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* written;  // the file that changes, or nullptr
    };
    const Case cases[] = {
        {{A, B}, 1, nullptr},  // qelda-convert *.uxd over two UXD files
        {{A, A}, 1, nullptr},
        {{A, link.string()}, 1, nullptr},
        {{"-n", A, gsa}, 1, nullptr},
        {{"-t", "xy", A, B}, 1, nullptr},  // B still holds a UXD scan
        {{A, gsa}, 0, "old.gsa"},          // another format: replaced
        {{"-t", "xy", A, (dir / "into").string()}, 0, "into/sample2.dat"},
        {{"--force", A, B}, 0, "sample3.uxd"},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> before;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
            if (e.is_regular_file()) before[e.path().string()] = read_file(e.path());
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "-q");
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
        for (const auto& [path, content] : before) {
            if (c.written == nullptr || path != (dir / c.written).string()) {
                EXPECT_EQ(read_file(path), content) << path;
            }
        }
        if (c.written) {
            EXPECT_TRUE(std::filesystem::exists(dir / c.written)) << c.written;
            EXPECT_NE(before[(dir / c.written).string()], read_file(dir / c.written));
        } else {
            EXPECT_NE(r.err.find(c.args.back()), std::string::npos) << r.err;
        }
    }
}

// One process converts the batch with one workspace: each output equals what
// a conversion of that file alone writes, whatever came before it.
TEST_F(CliWithExample, BatchMatchesSingleConversions) {
    std::vector<std::string> inputs;
    for (const char* name : {"quartz.gsa", "quartz.raw", "quartz.uxd", "quartz.dbw"}) {
        // Distinct names, so that the outputs do not meet.
        inputs.push_back((dir / (std::string(name + 7) + name)).string());
        std::filesystem::copy_file(examples / name, inputs.back());
    }
    // An x-y file names no title: it must not take the one of the file before.
    inputs.insert(inputs.begin() + 2, (dir / "plain.xy").string());
    write_file(inputs[2], "10.0 5\n10.1 6\n");
    const std::vector<std::string> options = {"-t", "xy", "--write-sigma", "--header-lines", "0"};
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-j", "1", "-o", (dir / "o").string()});
    args.insert(args.end(), inputs.begin(), inputs.end());
    const CliRun r = run_cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "5 converted, 0 failed, 0 warnings\n");
    for (const auto& in : inputs) {
        const std::string name = std::filesystem::path(in).stem().string() + ".dat";
        const auto single = dir / ("single-" + name);
        std::vector<std::string> one = options;
        one.insert(one.end(), {"-q", in, single.string()});
        ASSERT_EQ(run_cli(one).status, 0);
        EXPECT_EQ(read_file(dir / "o" / name), read_file(single)) << in;
    }
}

// A batch on several lanes writes the same files and prints the same lines,
// in the same order, as one lane: failures, warnings and the summary.
TEST_F(CliWithExample, LanesChangeNothingButTheTime) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 12; ++i) {
        const char* ext = i % 4 == 1 ? ".uxd" : i % 4 == 2 ? ".xy" : ".raw";
        const auto name = dir / ("in" + std::to_string(i) + ext);
        if (i % 4 == 1)
            write_file(name, "_FILEVERSION=1\n_START= 10.0\n");  // fails
        else if (i % 4 == 2)
            write_file(name, "10.0 5\n10.1 " + std::to_string(i) + "\n");  // warns, as x-y
        else
            std::filesystem::copy_file(example, name);
        inputs.push_back(name.string());
    }
    std::map<std::string, CliRun> runs;
    for (const char* lanes : {"1", "3"}) {
        std::string out = "o";
        out += lanes;
        std::vector<std::string> args = {"-t", "uxd", "-j", lanes, "-o", (dir / out).string()};
        args.insert(args.end(), inputs.begin(), inputs.end());
        runs[lanes] = run_cli(args);
    }
    EXPECT_EQ(runs["3"].status, runs["1"].status);
    EXPECT_EQ(runs["3"].out, runs["1"].out);
    EXPECT_EQ(runs["3"].err, runs["1"].err);
    EXPECT_EQ(runs["1"].out, "9 converted, 3 failed, 3 warnings\n") << runs["1"].err;
    for (const auto& in : inputs) {
        const std::string name = std::filesystem::path(in).stem().string() + ".uxd";
        EXPECT_EQ(std::filesystem::exists(dir / "o1" / name),
                  std::filesystem::exists(dir / "o3" / name));
        if (std::filesystem::exists(dir / "o1" / name)) {
            EXPECT_EQ(read_file(dir / "o3" / name), read_file(dir / "o1" / name)) << name;
        }
    }
}

TEST_F(CliWithExample, BatchFailuresAndCollisions) {
    write_file(dir / "bad.uxd", "_FILEVERSION=1\n_START= 10.0\n");
    write_file(dir / "a.uxd", read_file(examples / "quartz.uxd"));
    std::filesystem::create_directory(dir / "b");
    write_file(dir / "b/a.uxd", read_file(examples / "quartz.uxd"));
    std::filesystem::copy_file(example, dir / "q.raw");
    const std::string a = (dir / "a.uxd").string(), bad = (dir / "bad.uxd").string();
    // Beside the inputs; the bad file fails with one line, the others convert.
    const CliRun r =
        run_cli({"-t", "gsas", a, bad, (dir / "q.raw").string(), (dir / "none.uxd").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.gsa"));
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.gsa"));
    EXPECT_EQ(r.out, "2 converted, 2 failed, 0 warnings\n");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("qelda-convert: " + bad + ": "), std::string::npos) << r.err;
    // Two inputs with one output name, an output that is an input, -n: nothing written.
    const std::string o = (dir / "o").string();
    const std::vector<std::vector<std::string>> refused = {
        {"-t", "xy", "-o", o, a, (dir / "b/a.uxd").string()},
        {"-t", "uxd", "--ext", ".uxd", a, bad, a},
        {"-t", "gsas", "-n", a, bad, bad},
        {"-t", "gsas", "-n", "-o", dir.path().string(), a},
    };
    for (const auto& args : refused) {
        const CliRun x = run_cli(args);
        EXPECT_EQ(x.status, 1) << x.err;
        EXPECT_FALSE(std::filesystem::exists(o));
        EXPECT_NE(x.err.find("nothing converted"), std::string::npos) << x.err;
    }
}

// "-" as INPUT reads standard input; "-" as OUTPUT writes any format there and
// nothing else.
TEST_F(CliWithExample, Pipes) {
    const auto file_out = dir / "q.dat";
    ASSERT_EQ(run_cli({"-q", "-t", "xy", example.string(), file_out.string()}).status, 0);
    // With --from, and told by its content.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-f", "stoe-raw", "-t", "xy", "-", "-"}, {"-t", "xy", "-", "-"}}) {
        const CliRun piped = run_cli(args, read_file(example));
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(piped.out, read_file(file_out));
    }
    const CliRun binary = run_cli({"-t", "stoe-raw", (examples / "quartz.uxd").string(), "-"});
    EXPECT_EQ(binary.status, 0);
    EXPECT_EQ(binary.out.substr(0, 4), "RAW_");
    // A failed read writes nothing to standard output.
    const CliRun cut =
        run_cli({"-f", "stoe-raw", "-t", "xy", "-", "-"}, read_file(example).substr(0, 700));
    EXPECT_EQ(cut.status, 1);
    EXPECT_TRUE(cut.out.empty());
    EXPECT_NE(cut.err.find("qelda-convert: -: UNEXPECTED END OF FILE"), std::string::npos);
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
            const auto out = dir / (std::filesystem::path(name).filename().string() + "-" + to);
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

namespace qelda {
namespace {

// Option values are plain decimal numbers with their ranges; the prompt boxes'
// implied decimals never apply to them.
TEST(Cli, NumbersAndRanges) {
    const auto xy = std::filesystem::path(QELDA_SOURCE_DIR) / "examples/quartz.dat";
    if (!std::filesystem::exists(xy)) GTEST_SKIP();
    struct Case {
        std::vector<std::string> options;
        const char* expected;  // in the json; nullptr: a usage error
    };
    const Case cases[] = {
        {{"--wavelengths", "2,0,0"}, "\"lambda1\":2,\"lambda2\":0,\"alpha_ratio\":0,"},
        {{"--wavelengths", "1.5406,1.5444,1"},
         "\"lambda1\":1.5406,\"lambda2\":1.5444,\"alpha_ratio\":1,"},
        {{"--wavelengths", "+1.5406,1.5444,1e-3"}, "\"alpha_ratio\":0.001,"},
        {{"--wavelengths", "0.7093,0.71359,0.5"}, "\"lambda2\":0.71359,"},
        {{"--count-time", "2"}, "\"count_time\":2,"},
        {{"--count-time", "1e3"}, "\"count_time\":1000,"},
        {{"--wavelengths", "-1.5,0,0"}, nullptr},
        {{"--wavelengths", "0,0,0"}, nullptr},
        {{"--wavelengths", "10,0,0"}, nullptr},
        {{"--wavelengths", "1.5,-0.1,0.5"}, nullptr},
        {{"--wavelengths", "1.5,1.6,1.01"}, nullptr},
        {{"--wavelengths", "1.5,abc,0.5"}, nullptr},
        {{"--wavelengths", "nan,0,0"}, nullptr},
        {{"--wavelengths", "1.5,1.6"}, nullptr},
        {{"--count-time", "0"}, nullptr},
        {{"--count-time", "inf"}, nullptr},
        {{"--count-time", "fast"}, nullptr},
        {{"--header-lines", "-1"}, nullptr},
        {{"--header-lines", "1.5"}, nullptr},
        {{"--range", "0"}, nullptr},
        {{"--range", "two"}, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        if (c.options[0] != "--header-lines") args.insert(args.end(), {"--header-lines", "1"});
        args.insert(args.end(), {"-t", "json", xy.string(), "-"});
        const CliRun r = run_cli(args);
        if (c.expected == nullptr) {
            EXPECT_EQ(r.status, 2) << c.options[1];
            // The message names the option and the value.
            EXPECT_NE(r.err.find(c.options[0] + " " + c.options[1]), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.status, 0) << c.options[1] << r.err;
            EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.options[1] << r.out;
        }
    }
}

ContentGuess guess(FormatId format, std::vector<FormatId> candidates = {}) {
    return {format, std::move(candidates), "test"};
}

// The last extension names the format; a shared one lets the content decide,
// and falls back on the extension's format when the content does not tell.
TEST(Cli, FormatOfANameAndItsContent) {
    using F = FormatId;
    struct Case {
        const char* name;
        ContentGuess content;
        F expected;  // none: refused, naming the candidates
        bool content_asked;
    };
    const Case cases[] = {
        {"quartz.raw.xy", guess(F::stoe_raw), F::ascii_xy, false},
        {"quartz.v2.gsa", guess(F::none), F::gsas, false},
        {"a.UXD", guess(F::none), F::siemens_uxd, false},
        {"run.fxye", guess(F::none), F::gsas, false},
        {"a.xrdml", guess(F::none), F::xrdml, false},
        {"a.raw", guess(F::bruker_raw, {F::bruker_raw}), F::bruker_raw, true},
        {"a.raw", guess(F::none), F::stoe_raw, true},
        {"a.dat", guess(F::dbw, {F::dbw}), F::dbw, true},
        {"a.ras", guess(F::rigaku_rasx, {F::rigaku_rasx}), F::rigaku_rasx, true},
        {"a.raw", guess(F::none, {F::stoe_raw, F::bruker_raw}), F::none, true},
        {"a.txt", guess(F::none), F::none, true},
        {"scan", guess(F::siemens_uxd, {F::siemens_uxd}), F::siemens_uxd, true},
        {"OLD.RD", guess(F::none), F::philips_rd, false},
        {"a.dat", guess(F::rigaku_dat, {F::rigaku_dat}), F::rigaku_dat, true},
        {"a.csv", guess(F::ascii_xy, {F::ascii_xy}), F::ascii_xy, true},
        {"a.csv", guess(F::none), F::csv, true},
        {"run.h5", guess(F::none), F::nexus, false},
    };
    for (const auto& c : cases) {
        bool asked = false;
        const FormatChoice choice = choose_input_format(c.name, [&] {
            asked = true;
            return c.content;
        });
        EXPECT_EQ(choice.format, c.expected) << c.name;
        EXPECT_EQ(asked, c.content_asked) << c.name;
        if (c.expected == F::none) {
            EXPECT_NE(choice.error.find("--from"), std::string::npos);
        }
        if (c.content.candidates.size() > 1) {
            EXPECT_NE(choice.error.find("stoe-raw or bruker-raw"), std::string::npos)
                << choice.error;
        }
    }
    EXPECT_EQ(output_format_of_name("q.raw.xy"), F::ascii_xy);
    EXPECT_EQ(output_format_of_name("q.RAW"), F::stoe_raw);
    EXPECT_EQ(output_format_of_name("q.xrdml"), std::nullopt);
    EXPECT_EQ(output_format_of_name("q.json"), F::json);
    // Read as x-y and GSAS files, written as such.
    EXPECT_EQ(output_format_of_name("q.xye"), F::xye);
    EXPECT_EQ(output_format_of_name("q.FXYE"), F::fxye);
    EXPECT_EQ(output_format_of_name("q.cif"), F::gsas_cif);
    EXPECT_EQ(output_format_of_name("q.nxs"), F::nexus);
}

TEST(Cli, DetectPrintsEachFormat) {
    ScratchDir dir;
    write_file(dir / "a.uxd", "x");
    write_file(dir / "b.txt", "x");
    // A shared extension: the content tells a Stoe raw file named .dat.
    const auto example = std::filesystem::path(QELDA_SOURCE_DIR) / "examples/quartz.raw";
    write_file(dir / "c.dat", read_file(example));
    const CliRun r = run_cli(
        {"--detect", (dir / "a.uxd").string(), (dir / "b.txt").string(), (dir / "c.dat").string()});
    EXPECT_EQ(r.status, 1);  // b.txt cannot be told
    EXPECT_NE(r.out.find("a.uxd: uxd (extension .uxd)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("b.txt: unknown: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("c.dat: stoe-raw (content: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

// The command line as a new user meets it: operands as cp takes them, usage
// texts, exit statuses (0 all converted, 1 a file not converted, 2 a wrong
// command line), and messages that say what happened and what to do.
TEST(Cli, AsANewUserMeetsIt) {
    const auto examples = std::filesystem::path(QELDA_SOURCE_DIR) / "examples";
    if (!std::filesystem::exists(examples / "quartz.uxd")) GTEST_SKIP() << "examples absent";
    struct Case {
        std::vector<std::string> args;  // "@" stands for the scratch folder
        int status;
        std::vector<std::string> in_out;         // texts standard output holds
        std::vector<std::string> in_err;         // texts standard error holds
        std::vector<std::string> not_in_output;  // on neither
        std::vector<std::string> written;        // files that exist afterwards
        std::vector<std::string> absent;         // files that do not
        bool stdout_full = false;                // standard output is /dev/full
    };
    const Case cases[] = {
        // A trailing folder takes the outputs, as cp takes its target.
        {{"-q", "-t", "xy", "@/a.uxd", "@/b.uxd", "@/out8"},
         0,
         {},
         {},
         {},
         {"out8/a.dat", "out8/b.dat"},
         {"a.dat", "b.dat"}},
        {{"-q", "-t", "xy", "@/a.uxd", "@/new9/"}, 0, {}, {}, {}, {"new9/a.dat"}, {"a.dat"}},
        {{"-t", "xy", "-o", "-", "@/a.uxd"}, 2, {}, {"-o -"}, {}, {}, {"a.dat"}},
        // The success names the output in full.
        {{"@/a.uxd", "@/a.gsa"}, 0, {"To    @/a.gsa\n", "From  @/a.uxd\n"}, {}, {}, {"a.gsa"}, {}},
        // Usage: once, no library placeholders.
        {{"--help"},
         0,
         {"Usage: qelda-convert [OPTION]... INPUT OUTPUT", "--list-formats",
          " 2  the command line itself is wrong"},
         {},
         {"TEXT", "OPERANDS", "REQUIRED", "Usage: qelda-convert [OPTIONS]"},
         {},
         {}},
        {{}, 2, {}, {"missing file operand", "Try 'qelda-convert --help'"}, {"OPERANDS"}, {}, {}},
        {{"--bogus", "@/a.uxd", "@/o.dat"},
         2,
         {},
         {"unrecognized option '--bogus'"},
         {"OPERANDS"},
         {},
         {"o.dat"}},
        {{"--list-formats"}, 0, {"stoe-raw", "Siemans uxd"}, {}, {"Usage"}, {}, {}},
        // --detect reads nothing it cannot open, and says so.
        {{"--detect", "@/none.uxd"},
         1,
         {},
         {"@/none.uxd: No such file or directory"},
         {"uxd ("},
         {},
         {}},
        // A writer that does not exist is refused before any input is read (a
        // missing input would otherwise be the failure).
        {{"-t", "ard", "@/none.uxd", "@/o.ard"}, 2, {}, {"cannot be written"}, {}, {}, {"o.ard"}},
        {{"@/none.uxd", "@/o.ard"}, 2, {}, {"cannot be written"}, {}, {}, {"o.ard"}},
        // Files that cannot be converted: 1.
        {{"@/none.uxd", "@/o.dat"}, 1, {}, {"ERROR OPENING INPUT DATA FILE"}, {}, {}, {"o.dat"}},
        {{"@/plain.txt", "@/o.dat"}, 1, {}, {"cannot tell its format"}, {}, {}, {"o.dat"}},
        {{"@/a.uxd", "@/a.uxd"}, 1, {}, {"itself"}, {}, {}, {}},
        // A wrong --from: the reason first, the headline after it, and --from named.
        {{"-f", "uxd", "@/plain.txt", "@/o.dat"},
         1,
         {},
         {"(THIS DATA FORMAT NOT YET AVAILABLE)", "--from"},
         {"o.dat: THIS"},
         {},
         {"o.dat"}},
        // The line of a read error once.
        {{"-f", "xy", "--header-lines", "0", "@/bad.xy", "@/o.gsa"},
         1,
         {},
         {"ERROR READING INPUT FILE AFTER LINE 2: "},
         {", line 2", "LINE    2"},
         {},
         {"o.gsa"}},
        // -q: the failures alone.
        {{"-q", "-t", "gsas", "@/a.uxd", "@/none.uxd", "@/b.uxd"},
         1,
         {},
         {"none.uxd"},
         {"converted,"},
         {"a.gsa", "b.gsa"},
         {}},
        // Names that meet: refused with the ways out; each way out works.
        {{"-t", "xy", "-o", "@/o", "@/s1.uxd", "@/s1.raw"},
         1,
         {},
         {"nothing converted", "--keep-extension", "--numbered"},
         {},
         {},
         {"o"}},
        {{"-q", "--keep-extension", "-t", "xy", "-o", "@/o", "@/s1.uxd", "@/s1.raw"},
         0,
         {},
         {},
         {},
         {"o/s1.uxd.dat", "o/s1.raw.dat"},
         {"o/s1.dat"}},
        {{"-q", "--numbered", "-t", "xy", "-o", "@/o", "@/s1.uxd", "@/s1.raw"},
         0,
         {},
         {},
         {},
         {"o/s1.dat", "o/s1-2.dat"},
         {}},
        {{"--numbered", "--keep-extension", "-t", "xy", "@/s1.uxd"},
         2,
         {},
         {"two ways"},
         {},
         {},
         {"s1.uxd.dat", "s1.dat"}},
        // A full standard output says why.
        {{"-t", "xy", "@/a.uxd", "-"},
         1,
         {},
         {"standard output: No space left on device"},
         {},
         {},
         {},
         true},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string root = dir.path().string();
        for (const char* name : {"a.uxd", "b.uxd", "s1.uxd"})
            std::filesystem::copy_file(examples / "quartz.uxd", dir / name);
        std::filesystem::copy_file(examples / "quartz.raw", dir / "s1.raw");
        std::filesystem::create_directory(dir / "out8");
        write_file(dir / "plain.txt", "hello\nthis is no scan\n");
        write_file(dir / "bad.xy", "10.0 5\n10.02 x7\n10.04 6\n");
        auto expand = [&](std::string s) {
            for (std::size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, root);
            return s;
        };
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(expand(a));
        CliRun r;
        if (c.stdout_full) {
            // A disk-full device of our own in the scratch folder, never the
            // machine's: the same device numbers as /dev/full.
            const std::string device = (dir / "full").string();
            if (::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) continue;
            std::FILE* full = std::fopen(device.c_str(), "w");
            if (full == nullptr) continue;
            args.insert(args.begin(), "qelda-convert");
            std::vector<const char*> argv;
            for (const auto& a : args) argv.push_back(a.c_str());
            std::FILE* err = std::tmpfile();
            r.status =
                run_convert_cli(static_cast<int>(argv.size()), argv.data(), stdin, full, err);
            std::fclose(full);
            std::rewind(err);
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, err)) > 0;)
                r.err.append(buf, n);
            std::fclose(err);
        } else {
            r = run_cli(args);
        }
        const std::string what = (c.args.empty() ? std::string("(none)") : c.args[0]) + " " +
                                 (c.args.size() > 1 ? c.args[1] : "") + "\nout: " + r.out +
                                 "\nerr: " + r.err;
        EXPECT_EQ(r.status, c.status) << what;
        for (const auto& t : c.in_out) EXPECT_NE(r.out.find(expand(t)), std::string::npos) << what;
        for (const auto& t : c.in_err) EXPECT_NE(r.err.find(expand(t)), std::string::npos) << what;
        for (const auto& t : c.not_in_output) {
            EXPECT_EQ(r.out.find(expand(t)), std::string::npos) << t << " in " << what;
            EXPECT_EQ(r.err.find(expand(t)), std::string::npos) << t << " in " << what;
        }
        for (const auto& f : c.written) EXPECT_TRUE(std::filesystem::exists(dir / f)) << f << what;
        for (const auto& f : c.absent) EXPECT_FALSE(std::filesystem::exists(dir / f)) << f << what;
        // "-o -" and the like never make a file or folder named "-".
        EXPECT_FALSE(std::filesystem::exists("-")) << what;
    }
}

}  // namespace
}  // namespace qelda
