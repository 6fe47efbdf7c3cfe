// The check the window runs on a prompt's number box before it closes: it
// must accept exactly what the prompt's layout reads.
#include <gtest/gtest.h>

#include <ostream>

#include "core/prompts.h"

namespace qelda {
namespace {

struct BoxCase {
    PromptBox box;
    const char* typed;
    bool reads;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << static_cast<int>(c.box) << " '" << c.typed << "'";
}

class PromptBoxReads : public ::testing::TestWithParam<BoxCase> {};

TEST_P(PromptBoxReads, MatchesTheLayout) {
    const BoxCase& c = GetParam();
    EXPECT_EQ(prompt_box_reads(c.box, c.typed), c.reads) << '"' << c.typed << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PromptBoxReads,
    ::testing::Values(BoxCase{PromptBox::wavelength, "1.5405", true},
                      BoxCase{PromptBox::wavelength, "", true},       // blank reads 0
                      BoxCase{PromptBox::wavelength, "15405", true},  // implied decimals
                      BoxCase{PromptBox::wavelength, "1.5e0", true},
                      BoxCase{PromptBox::wavelength, "abc", false},
                      BoxCase{PromptBox::wavelength, "1.5.4", false},
                      // Only the first eight columns count: the letter lies beyond them.
                      BoxCase{PromptBox::wavelength, "1.540500x", true},
                      BoxCase{PromptBox::wavelength, "1.54050x", false},
                      BoxCase{PromptBox::count_time, "0.0009", true},
                      BoxCase{PromptBox::count_time, "ten", false},
                      BoxCase{PromptBox::header_lines, "12", true},
                      BoxCase{PromptBox::header_lines, "-3", true},
                      BoxCase{PromptBox::header_lines, "1.5", false},
                      BoxCase{PromptBox::header_lines, "x", false},
                      BoxCase{PromptBox::header_lines, "12345x", true}));

}  // namespace
}  // namespace qelda
