// Sietronics CPI, Riet7-style .dat and CSV exports built from their layouts:
// good files, and the ways a file can go wrong. Where xyconv reads the format,
// the good files are also read by it and must agree point by point.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

struct Case {
    const char* what;
    std::string text;
    ConversionStatus status;
    const char* phrase;
};

// The intensities xyconv reads from `text` as format `type`; empty without xyconv.
std::vector<double> xyconv_counts(const std::string& text, const char* type) {
    if (std::system("command -v xyconv >/dev/null 2>&1") != 0) return {};
    testing::ScratchDir dir;
    const auto in = dir / "in.txt";
    testing::write_file(in, text);
    const std::string cmd =
        std::string("xyconv -t ") + type + " '" + in.string() + "' - 2>/dev/null";
    std::FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
    std::vector<double> y;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream v(line);
        double a = 0, b = 0;
        if (v >> a >> b) y.push_back(b);
    }
    return y;
}

// Reads each case; the good ones must hold `points` points from 10 in steps of
// 0.5, their last intensity `last`, and agree with xyconv when `type` is given.
void check(CodecRoutine codec, const Case* cases, std::size_t n, const char* name, const char* type,
           int32_t points, float last) {
    for (std::size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        Bench b;
        if (!b.read_as_expected(codec, c.text, name, c.status, c.phrase)) continue;
        ASSERT_EQ(b.r().point_count, points);
        EXPECT_FLOAT_EQ(b.r().two_theta_start, 10.0f);
        EXPECT_FLOAT_EQ(b.r().two_theta_step, 0.5f);
        EXPECT_FLOAT_EQ(b.r().intensity(points), last);
        if (type == nullptr) continue;
        const auto y = xyconv_counts(c.text, type);
        if (y.empty()) continue;
        ASSERT_EQ(static_cast<int32_t>(y.size()), points);
        for (int32_t p = 1; p <= points; ++p)
            EXPECT_FLOAT_EQ(b.r().intensity(p), static_cast<float>(y[p - 1]));
    }
}

TEST(StepTextReaders, SietronicsCpi) {
    auto cpi = [](std::string end, std::string counts) {
        return "SIETRONICS XRD SCAN\r\n10.00\r\n" + end +
               "\r\n0.50\r\nCu\r\n1.54056\r\n1-1-1900\r\n0.600\r\nQuartz standard\r\n"
               "SCANDATA\r\n" +
               counts;
    };
    const Case cases[] = {
        {"good", cpi("11.50", "100\r\n200\r\n300\r\n400\r\n"), ConversionStatus::done, ""},
        {"decimal commas in the header", cpi("11,50", "100\r\n200\r\n300\r\n400\r\n"),
         ConversionStatus::done, ""},
        {"cut short", cpi("11.50", "100\r\n200\r\n300\r\n"), ConversionStatus::premature_end,
         "holds 3 of the 4 counts"},
        {"more counts than the range", cpi("11.50", "1\r\n2\r\n3\r\n4\r\n5\r\n"),
         ConversionStatus::record_error, "line 15: more counts than the 4"},
        {"end off the step grid", cpi("11.70", "1\r\n"), ConversionStatus::record_error,
         "do not make a whole number of steps"},
        {"two numbers a line", cpi("11.50", "1 2\r\n"), ConversionStatus::record_error,
         "a data line holds one count"},
        {"no SCANDATA", "SIETRONICS XRD SCAN\r\n10\r\n11.5\r\n0.5\r\nCu\r\n",
         ConversionStatus::premature_end, "has no SCANDATA line"},
        {"another format", "RAW_1", ConversionStatus::not_available, "not a Sietronics CPI"},
    };
    check(sietronics_cpi_codec, cases, std::size(cases), "scan.cpi", "cpi", 4, 400.0f);
}

TEST(StepTextReaders, Riet7Dat) {
    const std::string head = "Quartz, Cu K-alpha\r  10.000  0.500  13.500\r";
    const Case cases[] = {
        {"good, CR line ends", head + " 1 2 3 4 5\r 6 7 8\r", ConversionStatus::done, ""},
        {"good, LF line ends and notes after the counts",
         "Quartz, Cu K-alpha\n  10.000  0.500  13.500\n 1 2 3 4 5 6 7 8\n\nDMC 2005 run 12\n",
         ConversionStatus::done, ""},
        {"cut short", head + " 1 2 3 4 5\r", ConversionStatus::premature_end,
         "holds 5 of the 8 counts that line 2 states"},
        {"more counts on the last line", head + " 1 2 3 4 5\r 6 7 8 9\r",
         ConversionStatus::record_error, "line 4: more counts than the 8"},
        {"a word among the counts", head + " 1 2 x 4 5\r", ConversionStatus::record_error,
         "line 3: 'x' is not a number"},
        {"no start, step and end", "Quartz\rnothing here\r", ConversionStatus::not_available,
         "opens with start, step and end"},
    };
    check(riet7_dat_codec, cases, std::size(cases), "scan.dat", "riet7", 8, 8.0f);
}

TEST(StepTextReaders, Csv) {
    const Case cases[] = {
        {"comma separated", "2Theta,Intensity\n10.0,5\n10.5,6\n11.0,7\n", ConversionStatus::done,
         ""},
        {"semicolons and decimal commas", "Angle;Counts\r\n10,0;5\r\n10,5;6\r\n11,0;7,0\r\n",
         ConversionStatus::done, ""},
        {"quoted names, intensity in the third column",
         "\"Pos. [\xc2\xb0"
         "2Th.]\",\"Omega\",\"Intensity [counts]\"\n10,3,5\n10.5,3,6\n11,3,7\n",
         ConversionStatus::done, ""},
        {"an omega scan", "Omega,Intensity\n10,5\n10.5,6\n", ConversionStatus::not_available,
         "first column is named 'Omega', not 2theta"},
        {"a short row", "2Theta,Intensity\n10.0,5\n10.5\n", ConversionStatus::record_error,
         "line 3 holds 1 fields; the header row (line 1) names 2 columns"},
        {"a word among the counts", "2Theta,Intensity\n10.0,5\n10.5,many\n",
         ConversionStatus::record_error, "line 3: 'many' is not a number"},
        {"uneven angles", "2Theta,Intensity\n10.0,5\n10.25,6\n11.0,7\n", ConversionStatus::done,
         "kept as stated"},
        {"no header row", "10.0,5\n10.5,6\n", ConversionStatus::not_available,
         "header row of column names"},
        {"a header and no rows", "2Theta,Intensity\n\n", ConversionStatus::premature_end,
         "holds no rows"},
    };
    check(csv_codec, cases, std::size(cases), "scan.csv", nullptr, 3, 7.0f);
}

}  // namespace
}  // namespace qelda
