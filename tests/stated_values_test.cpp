// What the file states and what the user states: options the file overrides
// are named as unused, --override-... options replace the file's values with a
// warning naming both, and wavelengths nobody chose are named when the output
// keeps them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

struct CliRun {
    int status;
    std::string out, err;
};

CliRun convert(std::vector<std::string> args) {
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

TEST(StatedValues, OptionsAgainstWhatTheFileStates) {
    const std::string examples = std::string(QELDA_SOURCE_DIR) + "/examples/";
    const std::string xy = examples + "quartz.dat";   // states no wavelength
    const std::string raw = examples + "quartz.raw";  // states 1.5406 and its count time
    struct Case {
        std::vector<std::string> args;  // before the input; the output is JSON on stdout
        std::string input;
        const char* in_json;  // nullptr: a usage error
        const char* warning;  // phrase on standard error, nullptr for no warning at all
    };
    const Case cases[] = {
        // Defaults nobody chose, into an output that keeps wavelengths.
        {{"--header-lines", "1"},
         xy,
         "\"lambda1\":1.5405,",
         "no wavelength in quartz.dat: Cu K\u03b1 1.5405 \u00c5 assumed (--wavelengths to give "
         "it)"},
        {{"--header-lines", "1", "--wavelengths", "1.5406,0,0"},
         xy,
         "\"lambda1\":1.5406,",
         nullptr},
        // The file states its own: the option is named as unused.
        {{"--wavelengths", "0.7093,0,0"},
         raw,
         "\"lambda1\":1.5406,",
         "--wavelengths ignored: quartz.raw states 1.5406"},
        {{"--override-wavelengths", "0.7093,0.71359,0.5"},
         raw,
         "\"lambda1\":0.7093,\"lambda2\":0.71359,\"alpha_ratio\":0.5,",
         "--override-wavelengths: quartz.raw states 1.5406"},
        {{"--override-wavelengths", "0.7093,0,0"},
         raw,
         "\"lambda1\":0.7093,\"lambda2\":0,",
         "0.7093 used instead"},
        {{"--override-title", "Quarz \xC3\xA4"},
         raw,
         "\"title\":\"Quarz \xC3\xA4\"",
         "; 'Quarz \xC3\xA4' used instead"},
        {{"--override-count-time", "2.5"}, raw, "\"count_time\":2.5,", "2.5 used instead"},
        {{"--count-time", "2.5"}, raw, "\"count_time\":", "--count-time ignored: quartz.raw"},
        {{"--title", "Mine"}, raw, "\"title\":\"", "--title ignored: quartz.raw states"},
        // x-y input takes all three from the prompts: nothing to say.
        {{"--header-lines", "1", "--override-title", "Mine", "--override-count-time", "3",
          "--override-wavelengths", "1.5406,0,0"},
         xy,
         "\"title\":\"Mine\"",
         nullptr},
        {{"--wavelengths", "1.5,0,0", "--override-wavelengths", "1.5,0,0"}, raw, nullptr, nullptr},
        {{"--title", "a", "--override-title", "b"}, raw, nullptr, nullptr},
        {{"--override-count-time", "0"}, raw, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-t", "json", c.input, "-"});
        const CliRun r = convert(args);
        const std::string what = c.args[0] + " " + c.args[1];
        if (c.in_json == nullptr) {
            EXPECT_EQ(r.status, 2) << what;
            continue;
        }
        ASSERT_EQ(r.status, 0) << what << r.err;
        EXPECT_NE(r.out.find(c.in_json), std::string::npos) << what << "\n" << r.out;
        if (c.warning == nullptr) {
            EXPECT_EQ(r.err.find("warning"), std::string::npos) << what << "\n" << r.err;
        } else {
            EXPECT_NE(r.err.find(c.warning), std::string::npos) << what << "\n" << r.err;
            // The JSON's own list holds it too, but for --title, which is known
            // unused only once the output is written.
            if (c.args[0] != "--title") {
                EXPECT_NE(r.out.find("\"warnings\":[\""), std::string::npos) << what;
            }
        }
    }
}

// Formats that keep no wavelength say nothing of the default.
TEST(StatedValues, NoWordOfTheDefaultWhereTheOutputKeepsNone) {
    testing::ScratchDir dir;
    const std::string xy = std::string(QELDA_SOURCE_DIR) + "/examples/quartz.dat";
    for (const char* to : {"xy", "gsas", "dbw"}) {
        const CliRun r = convert(
            {"-q", "--header-lines", "1", "-t", to, xy, (dir / (std::string("o.") + to)).string()});
        EXPECT_EQ(r.status, 0) << to << r.err;
        EXPECT_EQ(r.err.find("assumed"), std::string::npos) << to << r.err;
    }
    const CliRun uxd =
        convert({"-q", "--header-lines", "1", "-t", "uxd", xy, (dir / "o.uxd").string()});
    EXPECT_NE(uxd.err.find("assumed"), std::string::npos) << uxd.err;
}

}  // namespace
}  // namespace qelda
