// Every real file of the sample folder that reads, written in every output
// format of the table and read back: each value the format holds comes back
// equal in single precision, and each value it cannot hold as read is named in
// a warning of the write (or the write is refused with a reason). Prints the
// tally: pairs lossless, warned, refused with a reason, failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/decimals.h"
#include "formats/detect.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// What a read left in the record.
struct Scan {
    std::string title;
    float start = 0, step = 0, lambda1 = 0, lambda2 = 0, ratio = 0, count_time = 0;
    int32_t points = 0;
    std::vector<float> intensity, sigma;
    bool has_sigma = false;
};

Scan take(const Workspace& ws) {
    const PowderPattern& r = ws.record();
    Scan s;
    s.title = std::string(trim_right(r.title));
    s.title.erase(0, std::min(s.title.find_first_not_of(' '), s.title.size()));
    s.start = r.two_theta_start;
    s.step = r.two_theta_step;
    s.lambda1 = r.lambda1;
    s.lambda2 = r.lambda2;
    s.ratio = r.alpha_ratio;
    s.count_time = r.count_time;
    s.points = r.point_count;
    s.intensity.assign(r.intensity.data(), r.intensity.data() + r.point_count);
    s.sigma.assign(r.sigma.data(), r.sigma.data() + r.point_count);
    s.has_sigma =
        ws.has_sigma || std::any_of(s.sigma.begin(), s.sigma.end(), [](float v) { return v != 0; });
    return s;
}

void put(Workspace& ws, const Scan& s) {
    PowderPattern& r = ws.record();
    r.set_title(s.title);
    r.two_theta_start = s.start;
    r.two_theta_step = s.step;
    r.two_theta_end = static_cast<float>(s.start + (s.points - 1.0) * s.step);
    r.lambda1 = s.lambda1;
    r.lambda2 = s.lambda2;
    r.alpha_ratio = s.ratio;
    r.count_time = s.count_time;
    r.point_count = s.points;
    r.intensity.clear();
    r.sigma.clear();
    std::copy(s.intensity.begin(), s.intensity.end(), r.intensity.data());
    std::copy(s.sigma.begin(), s.sigma.end(), r.sigma.data());
    ws.has_sigma = s.has_sigma;
    ws.intensity_shift = 0.0f;
}

// The fields an output format holds, and the words its warnings name them by;
// `reader` reads the output back where the entry only writes.
struct Holds {
    FormatId id;
    bool angles, wavelengths, ratio, count_time, sigma, title;
    std::size_t title_length;
    FormatId reader;
};

constexpr Holds kHolds[] = {
    {FormatId::ascii_xy, true, false, false, false, false, true, 60, FormatId::ascii_xy},
    {FormatId::gsas, true, false, false, false, true, true, 60, FormatId::gsas},
    {FormatId::stoe_raw, true, true, true, true, false, true, 60, FormatId::stoe_raw},
    {FormatId::siemens_uxd, true, true, true, true, false, true, 60, FormatId::siemens_uxd},
    {FormatId::dbw, true, false, false, false, false, true, 50, FormatId::dbw},
    {FormatId::xye, true, false, false, false, true, false, 60, FormatId::ascii_xy},
    {FormatId::fxye, true, false, false, false, true, false, 60, FormatId::gsas},
    {FormatId::gsas_cif, true, true, false, false, true, false, 60, FormatId::gsas_cif},
    {FormatId::nexus, true, true, true, true, true, true, 1000, FormatId::nexus},
};

const Holds* holds_of(FormatId id) {
    for (const auto& h : kHolds)
        if (h.id == id) return &h;
    return nullptr;
}

bool said(const std::vector<std::string>& warnings, std::string_view word) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&](const std::string& w) { return w.find(word) != std::string::npos; });
}

// The losses of one pair that no warning names; empty when there are none.
std::vector<std::string> unnamed_losses(const Scan& in, const Scan& back, const Holds& h,
                                        const std::vector<std::string>& warnings) {
    std::vector<std::string> lost;
    auto check = [&](bool equal, std::string_view what, std::string_view word) {
        if (!equal && !said(warnings, word)) lost.emplace_back(what);
    };
    check(back.points == in.points, "point count", "points");
    if (back.points != in.points) return lost;
    if (h.angles) {
        check(back.start == in.start,
              "2theta start " + shortest_decimal(in.start) + " read as " +
                  shortest_decimal(back.start),
              "2theta");
        check(back.step == in.step,
              "step " + shortest_decimal(in.step) + " read as " + shortest_decimal(back.step),
              "step");
    }
    if (h.wavelengths) {
        check(back.lambda1 == in.lambda1, "lambda1", "wavelength");
        check(back.lambda2 == in.lambda2, "lambda2", "wavelength");
    }
    if (h.ratio && in.lambda2 != 0) check(back.ratio == in.ratio, "ratio", "ratio");
    if (h.count_time) check(back.count_time == in.count_time, "count time", "count time");
    if (h.title) {
        const std::string expected = in.title.substr(0, h.title_length);
        check(back.title == expected || in.title.size() > h.title_length,
              "title '" + in.title + "' read as '" + back.title + "'", "title");
        check(in.title.size() <= h.title_length, "title cut", "title cut");
    }
    int32_t first_bad = -1;
    for (int32_t i = 0; i < in.points && first_bad < 0; ++i)
        if (back.intensity[static_cast<std::size_t>(i)] !=
            in.intensity[static_cast<std::size_t>(i)])
            first_bad = i;
    if (first_bad >= 0)
        check(false,
              "intensity " + shortest_decimal(in.intensity[static_cast<std::size_t>(first_bad)]) +
                  " at point " + std::to_string(first_bad + 1) + " read as " +
                  shortest_decimal(back.intensity[static_cast<std::size_t>(first_bad)]),
              "intensit");
    if (in.has_sigma) {
        bool equal = h.sigma;
        for (int32_t i = 0; i < in.points && equal; ++i)
            equal =
                back.sigma[static_cast<std::size_t>(i)] == in.sigma[static_cast<std::size_t>(i)];
        // Writers name sigma by its letter or its name.
        if ((h.sigma || h.id == FormatId::ascii_xy) && !said(warnings, "sigma"))
            check(equal, "sigma", "\u03c3");
    }
    return lost;
}

// Every file under the folder, in a fixed order.
std::vector<std::filesystem::path> sample_files(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file() && e.path().filename() != "MANIFEST.tsv") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(RoundTrip, EverySampleThroughEveryWriter) {
    const auto folder = testing::sample("");
    if (!folder || !std::filesystem::is_directory(*folder)) GTEST_SKIP() << "no sample folder";
    int pairs = 0, lossless = 0, warned = 0, refused = 0, failed = 0, samples = 0;
    std::vector<std::string> failures;
    for (const auto& path : sample_files(*folder)) {
        const ContentGuess guess = detect_file(path.string());
        const FormatInfo* reader = find_format(guess.format);
        if (reader == nullptr || !reader->reads) continue;
        Bench b;
        b.ws.options.keep_intensities = true;
        b.ws.input().open(path.string());
        b.ws.session().input_path = path.string();
        b.ws.clear_diagnostics();
        b.ws.has_sigma = false;
        b.r().sigma.clear();
        if (reader->codec(b.ws, CodecMode::read) != ConversionStatus::done ||
            check_read(b.ws) != ConversionStatus::done)
            continue;
        ++samples;
        const Scan in = take(b.ws);
        const std::string name = path.lexically_relative(*folder).string();
        for (const FormatInfo& writer : formats()) {
            const Holds* h = holds_of(writer.id);
            if (!writer.writes || h == nullptr) continue;
            ++pairs;
            const std::string pair = name + " -> " + std::string(writer.short_name);
            Bench w;
            w.ws.options.keep_intensities = true;
            put(w.ws, in);
            w.ws.session().input_path = path.string();
            w.ws.clear_diagnostics();
            std::string written;
            const ConversionStatus s = w.write(writer.codec, written);
            if (s != ConversionStatus::done) {
                if (!w.ws.failure_reason.empty()) {
                    ++refused;
                } else {
                    ++failed;
                    failures.push_back(pair + ": refused without a reason");
                }
                continue;
            }
            const std::vector<std::string> warnings = w.ws.warnings;
            Bench r;
            r.ws.options.keep_intensities = true;
            r.answers().header_lines.clear();
            r.ws.clear_diagnostics();
            r.r().sigma.clear();
            // x-y output is read back as the user would: its σ column asked for
            // when it was written.
            if (writer.id == FormatId::ascii_xy) r.answers().read_sigma = false;
            const FormatInfo* back_reader = find_format(h->reader);
            if (r.read(back_reader->codec, written, "back." + std::string(writer.short_name)) !=
                ConversionStatus::done) {
                ++failed;
                failures.push_back(pair + ": does not read back: " + r.ws.failure_reason);
                continue;
            }
            Scan back = take(r.ws);
            if (writer.id == FormatId::ascii_xy && !in.has_sigma) back.has_sigma = false;
            const auto lost = unnamed_losses(in, back, *h, warnings);
            if (!lost.empty()) {
                ++failed;
                for (const auto& l : lost) failures.push_back(pair + ": " + l);
            } else if (warnings.empty()) {
                ++lossless;
            } else {
                ++warned;
            }
        }
    }
    std::printf(
        "round trip: %d samples read, %d pairs: %d lossless, %d warned, %d refused with a "
        "reason, %d failed\n",
        samples, pairs, lossless, warned, refused, failed);
    for (const auto& f : failures) ADD_FAILURE() << f;
}

}  // namespace
}  // namespace qelda
