// What the file states and what the user states: options the file overrides
// are named as unused, --override-... options replace the file's values with a
// warning naming both, and wavelengths nobody chose are named when the output
// keeps them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::CliRun;

CliRun convert(std::vector<std::string> args) {
    return testing::run_cli(std::move(args));
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

namespace qelda {
namespace {

// The wavelength a GSAS header states is taken; without one the prompt asks.
TEST(StatedValues, GsasHeaderWavelengths) {
    const std::string bank = "BANK 1 2 2 CONS 1000 5 0 0 FXYE\n1000 10 3\n1005 11 3\n";
    struct Case {
        std::string header;  // the lines between the title and the BANK record
        float lambda1, lambda2, ratio;
        bool asked;
    };
    const Case cases[] = {
        {"# Calibrated wavelength = 0.413529 \n", 0.413529f, 0, 0, false},
        {"# Mean wavelength is:     0.589183\n# Extra PV 62: LambdaCalc, wavelength, "
         "\"0.590374463\", A\n",
         0.589183f, 0, 0, false},
        {"# Wavelength 1.5406\n", 1.5406f, 0, 0, false},
        {"# lambda = 1.54\n", 1.54f, 0, 0, false},
        {"Instrument parameters: Lam1 1.540598 Lam2 1.544426 I(L2)/I(L1) 0.514\n", 1.540598f,
         1.544426f, 0.514f, false},
        {"Instrument parameters: Lam 0.7093\n", 0.7093f, 0, 0, false},
        // A second line below the first is none, as in the prompt.
        {"Instrument parameters: Lam1 1.6 Lam2 1.5 I(L2)/I(L1) 0.5\n", 1.6f, 0, 0, false},
        // Not a statement: a file name, a wavelength out of range, no number.
        {"Instrument parameter file:bt1demo.ins\n", 1.5405f, 1.5443f, 0.5f, true},
        {"# wavelength = 42\n", 1.5405f, 1.5443f, 0.5f, true},
        {"# wavelength scan of the monochromator\n", 1.5405f, 1.5443f, 0.5f, true},
        {"", 1.5405f, 1.5443f, 0.5f, true},
    };
    for (const auto& c : cases) {
        testing::Bench b;
        ASSERT_EQ(b.read(gsas_codec, "title\n" + c.header + bank, "a.fxye"), ConversionStatus::done)
            << c.header << b.ws.failure_reason;
        EXPECT_EQ(b.r().lambda1, c.lambda1) << c.header;
        EXPECT_EQ(b.r().lambda2, c.lambda2) << c.header;
        EXPECT_EQ(b.r().alpha_ratio, c.ratio) << c.header;
        const auto& events = b.ui.events();
        EXPECT_EQ(std::find(events.begin(), events.end(), "wavelength") != events.end(), c.asked)
            << c.header;
        EXPECT_EQ(b.ws.wavelength_origin, c.asked ? WavelengthOrigin::user : WavelengthOrigin::file)
            << c.header;
    }
}

}  // namespace
}  // namespace qelda
