#include "core/display_texts.h"

#include "core/fields.h"
#include "core/record_io.h"

namespace qelda {

std::string count_field(int64_t value, int width) {
    std::string out;
    if (!append_integer_field(out, value, width, -1)) {
        out.clear();
        append_integer_field(out, value, 20, -1);
        out.erase(0, out.find_first_not_of(' '));
    }
    return out;
}

DatasetTexts dataset_texts(const PowderPattern& r) {
    static const Layout kAngle("(F8.3)");
    static const Layout kWave("(F7.5)");
    DatasetTexts t;
    t.title = fixed_text(r.title, kTitleLength);
    t.two_theta_start = write_text(8, kAngle, {r.two_theta_start}).text;
    t.two_theta_end = write_text(8, kAngle, {r.two_theta_end}).text;
    t.two_theta_step = write_text(8, kAngle, {r.two_theta_step}).text;
    t.point_count = count_field(r.point_count);
    t.lambda1 = write_text(7, kWave, {r.lambda1}).text;
    t.lambda2 = write_text(7, kWave, {r.lambda2}).text;
    t.alpha_ratio = write_text(7, kWave, {r.alpha_ratio}).text;
    return t;
}

std::string success_count_text(int32_t point_count) {
    return "  " + count_field(point_count) + " Data converted";
}

std::string_view displayed_failure(std::string_view message) noexcept {
    const auto cut = message.find("     ");
    return cut == std::string_view::npos ? message : message.substr(0, cut);
}

}  // namespace qelda
