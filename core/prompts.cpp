#include "core/prompts.h"

#include <charconv>
#include <cmath>
#include <string>

#include "core/powder_pattern.h"

namespace qelda {

const char* const kSlitWarning =
    "Warning: this renormalisation may invalidate the  "
    "counting statistics of your data. Assess all "
    "statistical measures of fit within GSAS with care!     ";

namespace {

// A typed title longer than the record holds is cut, with a warning.
void warn_if_cut(Workspace& ws, std::string_view typed) {
    if (trim_right(typed).size() > kTitleLength)
        ws.warn("title cut to " + std::to_string(kTitleLength) + " characters");
}

std::string box(std::string_view typed) {
    return fixed_text(typed, kPromptTextLength);
}

const Layout& layout_of(PromptBox box) {
    static const Layout kWavelength("(F8.5)");
    static const Layout kCountTime("(F10.0)");
    static const Layout kHeaderLines("(I5)");
    switch (box) {
        case PromptBox::count_time:
            return kCountTime;
        case PromptBox::header_lines:
            return kHeaderLines;
        case PromptBox::wavelength:
            break;
    }
    return kWavelength;
}

}  // namespace

bool prompt_box_reads(PromptBox which, std::string_view typed) {
    if (which == PromptBox::header_lines) {
        int32_t value = 0;
        return read_text(box(typed), layout_of(which), {value}) == Outcome::done;
    }
    float value = 0;
    return read_text(box(typed), layout_of(which), {value}) == Outcome::done;
}

void ask_wavelengths(Workspace& ws) {
    const Layout& kWavelength = layout_of(PromptBox::wavelength);
    const WavelengthEntries typed = ws.interaction().wavelength_prompt();
    PowderPattern& r = ws.record();
    float l1 = 0, l2 = 0, ratio = 0;
    read_text_or_abort(box(typed.alpha1), kWavelength, {l1}, "wavelength alpha1 box");
    read_text_or_abort(box(typed.alpha2), kWavelength, {l2}, "wavelength alpha2 box");
    read_text_or_abort(box(typed.ratio), kWavelength, {ratio}, "intensity ratio box");
    r.lambda1 = l1;
    r.lambda2 = l2;
    r.alpha_ratio = ratio;
    ws.wavelength_origin = typed.chosen ? WavelengthOrigin::user : WavelengthOrigin::assumed;
    if (r.lambda2 < r.lambda1) {
        r.lambda2 = 0.0f;
        r.alpha_ratio = 0.0f;
    }
}

XyInputChoice ask_xy_input(Workspace& ws, int32_t detected_header_lines) {
    static const Layout kTitle("(A60)");
    const Layout& kHeaderLines = layout_of(PromptBox::header_lines);
    const Layout& kCountTime = layout_of(PromptBox::count_time);
    PowderPattern& r = ws.record();
    const XyInputEntries typed =
        ws.interaction().xy_input_prompt(trim_right(r.title), detected_header_lines);
    ws.asked.xy_input = true;
    warn_if_cut(ws, typed.title);
    std::string title;
    int32_t header_lines = 0;
    float count_time = 0;
    read_text_or_abort(box(typed.title), kTitle, {TextRef{title, kTitleLength}}, "title box");
    read_text_or_abort(box(typed.header_lines), kHeaderLines, {header_lines}, "header lines box");
    read_text_or_abort(box(typed.count_time), kCountTime, {count_time}, "count time box");
    r.set_title(title);
    r.count_time = count_time < 0.001f ? 1.0f : count_time;
    return {header_lines, typed.read_sigma};
}

AsciiOutputChoice ask_ascii_output(Workspace& ws) {
    static const Layout kTitle("(A60)");
    PowderPattern& r = ws.record();
    const AsciiOutputEntries typed = ws.interaction().ascii_output_prompt(trim_right(r.title));
    ws.asked.ascii_output = true;
    if (typed.write_title) {
        warn_if_cut(ws, typed.title);
        std::string title;
        read_text_or_abort(box(typed.title), kTitle, {TextRef{title, kTitleLength}}, "title box");
        r.set_title(title);
    }
    return {typed.write_title, typed.write_sigma};
}

bool ask_slit_correction(Workspace& ws) {
    return ws.interaction().slit_prompt();
}

std::optional<std::string> box_text(double value, std::size_t width) {
    if (!std::isfinite(value)) return std::nullopt;
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    std::string s(buf, res.ptr);
    if (s.find('.') == std::string::npos) s += '.';
    if (s.size() <= width) return s;
    const std::size_t dot = s.find('.');
    if (dot + 1 > width) return std::nullopt;
    res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                        static_cast<int>(width - dot - 1));
    s.assign(buf, res.ptr);
    if (s.find('.') == std::string::npos) s += '.';
    if (s.size() > width) return std::nullopt;
    return s;
}

}  // namespace qelda
