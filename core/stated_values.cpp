#include "core/stated_values.h"

#include <charconv>
#include <string>

namespace qelda {

std::string float_text(float v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

namespace {

std::string wavelengths_text(float l1, float l2, float ratio) {
    if (l2 == 0.0f) return float_text(l1);
    return float_text(l1) + ", " + float_text(l2) + " (ratio " + float_text(ratio) + ")";
}

std::string quoted(std::string_view text) {
    const std::string_view t = trim_right(text);
    std::string q;
    q.reserve(t.size() + 2);
    q += '\'';
    q += t;
    q += '\'';
    return q;
}

}  // namespace

void apply_user_values(Workspace& ws, std::string_view file) {
    PowderPattern& r = ws.record();
    const ReadOptions& o = ws.options;
    const std::string name(file);
    // What the prompts asked is the user's already (the options answer them).
    const bool wavelengths_from_file = ws.wavelength_origin == WavelengthOrigin::file;

    if (o.override_wavelengths && wavelengths_from_file) {
        const auto& [l1, l2, ratio] = *o.override_wavelengths;
        const float new_l2 = l2 < l1 ? 0.0f : l2;
        const float new_ratio = l2 < l1 ? 0.0f : ratio;
        if (l1 != r.lambda1 || new_l2 != r.lambda2 || new_ratio != r.alpha_ratio)
            ws.warn("--override-wavelengths: " + name + " states " +
                    wavelengths_text(r.lambda1, r.lambda2, r.alpha_ratio) + "; " +
                    wavelengths_text(l1, new_l2, new_ratio) + " used instead");
        r.lambda1 = l1;
        r.lambda2 = new_l2;
        r.alpha_ratio = new_ratio;
        ws.wavelength_origin = WavelengthOrigin::user;
    } else if (o.wavelengths_given && !o.override_wavelengths && wavelengths_from_file) {
        ws.warn("--wavelengths ignored: " + name +
                (r.lambda1 > 0.0f ? " states " + float_text(r.lambda1)
                                  : " is read without wavelengths"));
    }

    if (o.override_title && !ws.asked.xy_input) {
        if (trim_right(r.title) != trim_right(*o.override_title))
            ws.warn("--override-title: " + name + " states " + quoted(r.title) + "; " +
                    quoted(*o.override_title) + " used instead");
        r.set_title(*o.override_title);
    }

    if (o.override_count_time && !ws.asked.xy_input) {
        if (r.count_time != *o.override_count_time)
            ws.warn("--override-count-time: " + name + " states " + float_text(r.count_time) +
                    "; " + float_text(*o.override_count_time) + " used instead");
        r.count_time = *o.override_count_time;
    } else if (o.count_time_given && !o.override_count_time && !ws.asked.xy_input) {
        ws.warn("--count-time ignored: " + name +
                (r.count_time > 0.0f ? " states " + float_text(r.count_time)
                                     : " is not an x-y file (--override-count-time sets it)"));
    }
}

void warn_assumed_wavelengths(Workspace& ws, const FormatInfo& writer, std::string_view file) {
    if (!writer.holds_wavelengths || ws.wavelength_origin != WavelengthOrigin::assumed) return;
    ws.warn("no wavelength in " + std::string(file) + ": Cu K\u03b1 " +
            float_text(ws.record().lambda1) + " \u00c5 assumed (--wavelengths to give it)");
}

void warn_unused_title(Workspace& ws, std::string_view file) {
    const ReadOptions& o = ws.options;
    if (!o.title_given || o.override_title || ws.asked.xy_input || ws.asked.ascii_output) return;
    ws.warn("--title ignored: " + std::string(file) + " states " + quoted(ws.record().title));
}

}  // namespace qelda
