// libqelda over the conversion core: each call runs in a workspace of its own,
// with a scripted interaction that answers the prompts from the options.
#include "qelda/qelda.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <exception>
#include <utility>

#include "core/display_texts.h"
#include "core/driver.h"
#include "core/even_grid.h"
#include "core/interaction.h"
#include "core/pattern_options.h"
#include "core/prompts.h"
#include "core/stated_values.h"
#include "core/workspace.h"
#include "formats/detect.h"
#include "formats/file_names.h"
#include "formats/json_text.h"
#include "formats/registry.h"

namespace qelda::api {
namespace {

Error error_of(Status status, std::string message, std::string reason) {
    return {status, std::move(message), std::move(reason)};
}

Error invalid(std::string reason) {
    return error_of(Status::invalid_argument, "INVALID ARGUMENT", std::move(reason));
}

// The message as the failure dialog shows it, without the padding.
std::string shown_message(std::string_view message) {
    return std::string(trim_right(displayed_failure(message)));
}

// The system's error texts begin with a capital; reasons are lower case.
std::string lower_first(std::string_view text) {
    std::string s(text);
    if (s.size() > 1 && s[0] >= 'A' && s[0] <= 'Z' && s[1] >= 'a' && s[1] <= 'z')
        s[0] = static_cast<char>(s[0] + 32);
    return s;
}

// The prompts' answers and the read options, checked as the command line
// checks its options.
std::optional<Error> answers_for(const ReadOptions& o, ScriptedInteraction::Answers& answers,
                                 qelda::ReadOptions& read) {
    if (o.wavelengths && o.override_wavelengths)
        return invalid("wavelengths and override_wavelengths: give one of them");
    if (o.count_time && o.override_count_time)
        return invalid("count_time and override_count_time: give one of them");
    if (o.title && o.override_title) return invalid("title and override_title: give one of them");
    if (const auto& given = o.wavelengths ? o.wavelengths : o.override_wavelengths; given) {
        const auto& w = *given;
        std::string boxes[3];
        for (int i = 0; i < 3; ++i) {
            const auto text = box_text(w[i], 8);
            if (!text) return invalid("wavelengths: " + std::to_string(w[i]) + " does not fit");
            boxes[i] = *text;
        }
        if (!(w[0] > 0 && w[0] < 10))
            return invalid("wavelengths: alpha1 must be above 0 and below 10 Angstrom");
        if (!(w[1] == 0 || (w[1] > 0 && w[1] < 10)))
            return invalid(
                "wavelengths: alpha2 must be 0 (no second line) or above 0 and below 10");
        if (!(w[2] >= 0 && w[2] <= 1)) return invalid("wavelengths: the ratio must be from 0 to 1");
        answers.wavelengths = {boxes[0], boxes[1], boxes[2]};
        if (o.override_wavelengths)
            read.override_wavelengths = {static_cast<float>(w[0]), static_cast<float>(w[1]),
                                         static_cast<float>(w[2])};
    } else {
        answers.wavelengths.chosen = false;  // the defaults, which nobody chose
    }
    if (const auto& given = o.count_time ? o.count_time : o.override_count_time; given) {
        const auto text = box_text(*given, 10);
        if (!text || !(*given >= 0.001))
            return invalid("count_time: a number from 0.001 that fits ten columns is needed");
        answers.count_time = *text;
        if (o.override_count_time) read.override_count_time = static_cast<float>(*given);
    }
    answers.header_lines.clear();  // the number the x-y reader detects
    if (o.header_lines) {
        if (*o.header_lines < 0 || *o.header_lines > 99999)
            return invalid("header_lines: a whole number from 0 to 99999 is needed");
        answers.header_lines = std::to_string(*o.header_lines);
    }
    if (o.scan < 1) return invalid("scan: a whole number from 1 is needed");
    if (const auto& given = o.title ? o.title : o.override_title; given) {
        answers.title_given = true;
        answers.title = *given;
    }
    answers.read_sigma = o.read_sigma;
    read.wavelengths_given = o.wavelengths.has_value();
    read.title_given = o.title.has_value();
    read.count_time_given = o.count_time.has_value();
    read.override_title = o.override_title;
    read.scan = o.scan;
    read.any_axis = o.any_axis;
    read.keep_intensities = o.keep_intensities;
    return std::nullopt;
}

// A float of the record as the decimal number it was printed from: the
// shortest text that reads back as the same float, read as a double (1.5406f
// becomes 1.5406, not 1.5405999422). Whole numbers, most counts, go directly.
double decimal_of(float v) noexcept {
    if (v > -16777216.0f && v < 16777216.0f && v == static_cast<float>(static_cast<int32_t>(v)))
        return v;
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    double d = v;
    std::from_chars(buf, end, d);
    return d;
}

// Latin-1 bytes as UTF-8.
std::string utf8_of_latin1(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string utf8_text(std::string_view s) {
    return utf8_valid_prefix(s) == s.size() ? std::string(s) : utf8_of_latin1(s);
}

// The record's title as UTF-8, as the JSON writer gives it: a title cut to
// the record's length inside a character loses that character's bytes; any
// other title that is not UTF-8 is Latin-1. Both with a warning.
std::string title_text(Workspace& ws) {
    std::string_view title = trim_right(ws.record().title);
    const std::size_t valid = utf8_valid_prefix(title);
    if (valid == title.size()) return std::string(title);
    const auto lead = static_cast<unsigned char>(title[valid]);
    const std::size_t need = lead >= 0xF0 && lead <= 0xF4   ? 4
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 0;
    bool cut = title.size() == kTitleLength && need > 0 && title.size() - valid < need;
    for (std::size_t k = valid + 1; cut && k < title.size(); ++k)
        cut = (static_cast<unsigned char>(title[k]) & 0xC0) == 0x80;
    if (cut) {
        const std::size_t dropped = title.size() - valid;
        ws.warn("title cut inside a character at " + std::to_string(kTitleLength) + " bytes: its " +
                std::to_string(dropped) + (dropped == 1 ? " byte" : " bytes") + " dropped");
        return std::string(trim_right(title.substr(0, valid)));
    }
    ws.warn("title is not UTF-8: read as Latin-1");
    return utf8_of_latin1(title);
}

std::string_view format_name(FormatId id) {
    const FormatInfo* f = find_format(id);
    return f ? f->short_name : std::string_view();
}

Pattern pattern_of(Workspace& ws, const ConversionResult& result, FormatId format) {
    const PowderPattern& r = ws.record();
    Pattern p;
    // The pattern keeps the wavelengths, as the JSON writer's output does.
    const std::string file(file_name_part(ws.session().input_path));
    FormatInfo keeps{};
    keeps.holds_wavelengths = true;
    warn_assumed_wavelengths(ws, keeps, file);
    p.title = title_text(ws);
    warn_unused_title(ws, file);
    p.format = std::string(format_name(format));
    p.source = utf8_text(ws.session().input_path);
    p.lambda1 = decimal_of(r.lambda1);
    p.lambda2 = decimal_of(r.lambda2);
    p.alpha_ratio = decimal_of(r.alpha_ratio);
    for (const std::string& w : ws.warnings) p.warnings.push_back(utf8_text(w));
    Scan& s = p.scans.emplace_back();
    const auto n = static_cast<std::size_t>(std::clamp(r.point_count, 0, kPointCapacity));
    s.count_time = decimal_of(r.count_time);
    s.two_theta.resize(n);
    const double start = decimal_of(r.two_theta_start);
    const double step = decimal_of(r.two_theta_step);
    if (r.angles.size() == n)
        s.two_theta = r.angles;  // stated one by one, off an even grid
    else
        for (std::size_t i = 0; i < n; ++i) s.two_theta[i] = start + static_cast<double>(i) * step;
    const float* v = r.intensity.data();
    s.intensity.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.intensity[i] = decimal_of(v[i]);
    if (result.has_sigma) {
        const float* e = r.sigma.data();
        s.sigma.resize(n);
        for (std::size_t i = 0; i < n; ++i) s.sigma[i] = decimal_of(e[i]);
    }
    return p;
}

// Opens unit 1 through `open` and reads it in the format told by the options,
// or by `name` and `guess`.
template <class Open, class Guess>
ReadResult read_with(const ReadOptions& options, const std::string& name, Open open, Guess guess) {
    ReadResult out;
    ScriptedInteraction::Answers answers;
    qelda::ReadOptions read_options;
    if (auto e = answers_for(options, answers, read_options)) {
        out.error = std::move(*e);
        return out;
    }
    ScriptedInteraction ui(std::move(answers));
    Workspace ws(ui);
    ws.options = read_options;
    if (options.to_wavelength && !(*options.to_wavelength > 0.0 && *options.to_wavelength < 10.0)) {
        out.error = invalid("to_wavelength: a wavelength above 0 and below 10 angstrom is needed");
        return out;
    }
    if (options.resample && !(*options.resample >= 0.0 && *options.resample <= 180.0)) {
        out.error = invalid("resample: a step from 0 (the median step) to 180 degrees is needed");
        return out;
    }
    ws.pattern_options.to_wavelength = options.to_wavelength;
    ws.pattern_options.resample_step = options.resample;

    FormatId format = FormatId::none;
    if (!options.format.empty()) {
        const auto id = format_from_name(options.format);
        if (!id || !find_format(*id)->reads) {
            out.error = error_of(Status::unknown_format, "UNKNOWN FORMAT",
                                 "'" + options.format + "' is not an input format");
            return out;
        }
        format = *id;
    }
    if (!open(ws)) {
        out.error = error_of(Status::open_failed, kMsgOpenInput,
                             name + ": " + lower_first(ws.input().problem()));
        return out;
    }
    if (format == FormatId::none) {
        const FormatChoice choice = choose_input_format(name, guess);
        if (choice.format == FormatId::none) {
            ws.input().close();
            out.error = error_of(Status::unknown_format, "UNKNOWN FORMAT",
                                 name + ": cannot tell its format: " + choice.error);
            return out;
        }
        format = choice.format;
    }
    ConversionSession& session = ws.session();
    session.input_path = name;
    session.input_format = format;
    session.input_ready = true;
    const ConversionResult result = run_conversion(ws, format, FormatId::none);
    if (!result.succeeded()) {
        out.error = error_of(static_cast<Status>(result.read_status),
                             shown_message(result.failure_message), result.reason);
        return out;
    }
    out.pattern = pattern_of(ws, result, format);
    return out;
}

// Fills the record from a scan of the pattern; the reason when it cannot.
std::optional<Error> fill_record(Workspace& ws, const Pattern& p, const WriteOptions& o,
                                 std::vector<std::string>& warnings) {
    if (o.scan < 1 || static_cast<std::size_t>(o.scan) > p.scans.size())
        return invalid("the pattern holds " + std::to_string(p.scans.size()) + " scan" +
                       (p.scans.size() == 1 ? "" : "s") + "; scan " + std::to_string(o.scan) +
                       " asked for");
    const Scan& s = p.scans[static_cast<std::size_t>(o.scan - 1)];
    const std::size_t n = s.intensity.size();
    if (n == 0) return invalid("the scan holds no points");
    if (n > static_cast<std::size_t>(kPointCapacity))
        return error_of(Status::too_many_points,
                        std::string(kMsgTooManyPoints) + count_field(kPointCapacity),
                        "the scan holds " + std::to_string(n) + " points; a record holds " +
                            std::to_string(kPointCapacity));
    if (s.two_theta.size() != n)
        return invalid("the scan holds " + std::to_string(s.two_theta.size()) + " angles for " +
                       std::to_string(n) + " intensities");
    if (!s.sigma.empty() && s.sigma.size() != n)
        return invalid("the scan holds " + std::to_string(s.sigma.size()) + " sigmas for " +
                       std::to_string(n) + " intensities");
    auto fits = [](double v) { return std::isfinite(v) && std::fabs(v) <= FLT_MAX; };
    for (std::size_t i = 0; i < n; ++i) {
        const char* what = !fits(s.two_theta[i])                   ? "2theta"
                           : !fits(s.intensity[i])                 ? "intensity"
                           : !s.sigma.empty() && !fits(s.sigma[i]) ? "sigma"
                                                                   : nullptr;
        if (what)
            return invalid(std::string("the ") + what + " of point " + std::to_string(i + 1) +
                           " is not a number a record can hold");
    }
    for (const double v : {p.lambda1, p.lambda2, p.alpha_ratio, s.count_time})
        if (!fits(v)) return invalid("a wavelength, the ratio or the count time is not a number");
    const double start = s.two_theta.front();
    const double step = n > 1 ? (s.two_theta.back() - start) / static_cast<double>(n - 1) : 0.0;
    if (n > 1 && !(std::fabs(step) > 0))
        return invalid("the scan's first and last angles are the same");

    PowderPattern& r = ws.record();
    r.max_points = kPointCapacity;
    r.point_count = static_cast<int32_t>(n);
    r.lines_read = 0;
    r.lambda1 = static_cast<float>(p.lambda1);
    r.lambda2 = static_cast<float>(p.lambda2);
    r.alpha_ratio = static_cast<float>(p.alpha_ratio);
    if (p.title.size() > kTitleLength)
        warnings.push_back("the title is cut to its first " + std::to_string(kTitleLength) +
                           " characters");
    r.set_title(p.title);
    r.two_theta_start = static_cast<float>(start);
    r.two_theta_step = static_cast<float>(step);
    r.two_theta_end = static_cast<float>(s.two_theta.back());
    // Angles off one even grid go with the record; writers that hold a start
    // and a step only refuse it.
    r.angles.clear();
    if (first_off_grid(s.two_theta, {}, start, step)) {
        r.angles = s.two_theta;
        set_range_from_angles(r);
    }
    r.count_time = static_cast<float>(s.count_time);
    float* v = r.intensity.data();
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(s.intensity[i]);
    ws.has_sigma = false;
    if (!s.sigma.empty()) {
        float* e = r.sigma.data();
        for (std::size_t i = 0; i < n; ++i) e[i] = static_cast<float>(s.sigma[i]);
        ws.has_sigma = std::any_of(e, e + n, [](float x) { return x != 0.0f; });
    }
    return std::nullopt;
}

// Writes through unit 2, already open (`open` opens it); `take` receives the
// bytes of a memory unit.
template <class Open>
WriteResult write_with(const Pattern& p, std::string_view format_text, const WriteOptions& o,
                       Open open, std::string* take) {
    WriteResult out;
    const auto id = format_from_name(format_text);
    const FormatInfo* f = id ? find_format(*id) : nullptr;
    if (f == nullptr || !(f->writes || f->in_output_list)) {
        std::string reason = "'";  // appended: GCC 12 misreads "'" + string (-Wrestrict)
        reason.append(format_text).append("' is not an output format");
        out.error = error_of(Status::unknown_format, "UNKNOWN FORMAT", std::move(reason));
        return out;
    }
    ScriptedInteraction::Answers answers;
    answers.write_title = o.write_title;
    answers.write_sigma = o.write_sigma;
    answers.slit_correction = o.slit_correction;
    ScriptedInteraction ui(std::move(answers));
    Workspace ws(ui);
    const auto axis = axis_named(o.axis);
    if (!axis) {
        out.error = invalid("axis '" + o.axis + "': 2theta, d or q is needed");
        return out;
    }
    ws.pattern_options.axis = *axis;
    if (auto e = fill_record(ws, p, o, out.warnings)) {
        out.error = std::move(*e);
        return out;
    }
    ws.output().set_sync(o.sync);
    if (!open(ws)) {
        out.error =
            error_of(Status::open_failed, kMsgOpenOutput, lower_first(ws.output().commit_error()));
        return out;
    }
    ConversionSession& session = ws.session();
    session.input_path = p.source;
    session.input_format = format_from_name(p.format).value_or(FormatId::none);
    session.output_path = ws.output().path();
    session.output_format = f->id;
    session.input_ready = session.output_ready = true;

    ConversionStatus st = check_writer_holds(ws, *f, p.source);
    if (st == ConversionStatus::done) st = f->codec(ws, CodecMode::write);
    for (const std::string& w : ws.warnings) out.warnings.push_back(utf8_text(w));
    if (st == ConversionStatus::done) {
        if (take) *take = ws.output().content();
        if (!ws.output().close(/*keep=*/true)) st = ConversionStatus::record_error;
    } else {
        ws.output().close(/*keep=*/false);
    }
    if (st != ConversionStatus::done)
        out.error =
            error_of(static_cast<Status>(st), shown_message(failure_message_for(ws, st, true)),
                     failure_reason_for(ws, st, true));
    return out;
}

Detection detection_of(const FormatChoice& c) {
    Detection d;
    if (c.format != FormatId::none) d.format = std::string(format_name(c.format));
    d.how = c.how;
    d.error = c.error;
    return d;
}

// Nothing the core throws (memory, mostly) crosses the library's boundary.
template <class Result, class Call>
Result guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::exception& e) {
        Result r;
        r.error = error_of(Status::aborted, "ABORTED", e.what());
        return r;
    } catch (...) {
        Result r;
        r.error = error_of(Status::aborted, "ABORTED", "an unknown failure");
        return r;
    }
}

}  // namespace

std::string_view status_name(Status status) noexcept {
    switch (status) {
        case Status::done:
            return "done";
        case Status::record_error:
            return "record_error";
        case Status::too_many_points:
            return "too_many_points";
        case Status::premature_end:
            return "premature_end";
        case Status::not_available:
            return "not_available";
        case Status::too_large:
            return "too_large";
        case Status::aborted:
            return "aborted";
        case Status::open_failed:
            return "open_failed";
        case Status::unknown_format:
            return "unknown_format";
        case Status::invalid_argument:
            return "invalid_argument";
        case Status::uneven_grid:
            return "uneven_grid";
    }
    return "unknown";
}

ReadResult read(const std::string& path, const ReadOptions& options) {
    return guarded<ReadResult>([&] {
        return read_with(
            options, path, [&](Workspace& ws) { return ws.input().open(path) == Outcome::done; },
            [&] { return detect_file(path); });
    });
}

ReadResult read_bytes(std::string_view bytes, const ReadOptions& options) {
    return guarded<ReadResult>([&] {
        const std::string name = options.name.empty() ? "input" : options.name;
        return read_with(
            options, name,
            [&](Workspace& ws) {
                ws.input().open_bytes(std::string(bytes), name);
                return true;
            },
            [&] { return detect_content(bytes); });
    });
}

WriteResult write(const Pattern& pattern, std::string_view format, const std::string& path,
                  const WriteOptions& options) {
    return guarded<WriteResult>([&] {
        return write_with(
            pattern, format, options,
            [&](Workspace& ws) {
                return ws.output().open(path, /*create_now=*/false) == Outcome::done;
            },
            nullptr);
    });
}

WriteResult write_bytes(const Pattern& pattern, std::string_view format, std::string& bytes,
                        const WriteOptions& options) {
    bytes.clear();
    return guarded<WriteResult>([&] {
        return write_with(
            pattern, format, options,
            [&](Workspace& ws) {
                ws.output().open_memory("output");
                return true;
            },
            &bytes);
    });
}

Detection detect(const std::string& path) {
    try {
        return detection_of(choose_input_format(path, [&] { return detect_file(path); }));
    } catch (const std::exception& e) {
        return {{}, {}, e.what()};
    }
}

Detection detect_bytes(std::string_view bytes, std::string_view name) {
    try {
        return detection_of(choose_input_format(name, [&] { return detect_content(bytes); }));
    } catch (const std::exception& e) {
        return {{}, {}, e.what()};
    }
}

Detection output_format(std::string_view name) {
    const auto id = output_format_of_name(name);
    Detection d;
    if (id) {
        d.format = std::string(format_name(*id));
        d.how = "extension";
    } else {
        d.error = "the name '" + std::string(name) + "' names no output format";
    }
    return d;
}

std::vector<FormatEntry> formats() {
    std::vector<FormatEntry> out;
    for (const FormatInfo& f : qelda::formats())
        out.push_back({static_cast<int32_t>(f.id), std::string(f.short_name),
                       std::string(f.list_text), std::string(f.filter_pattern), f.reads, f.writes});
    return out;
}

}  // namespace qelda::api
