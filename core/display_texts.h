// The texts that the dataset, failure and success dialogs show, made through
// the same layouts for the window and the command line.
#pragma once

#include <string>
#include <string_view>

#include "core/powder_pattern.h"

namespace qelda {

struct DatasetTexts {
    std::string title;            // 60 characters
    std::string two_theta_start;  // F8.3
    std::string two_theta_end;    // F8.3
    std::string two_theta_step;   // F8.3
    std::string point_count;      // I5, in full when it needs more
    std::string lambda1;          // F7.5
    std::string lambda2;          // F7.5
    std::string alpha_ratio;      // F7.5
};

DatasetTexts dataset_texts(const PowderPattern& record);

// "  1000 Data converted": (2X,I5,' Data converted'), the count in full when it
// needs more than five columns.
std::string success_count_text(int32_t point_count);

// A failure message as the failure dialog shows it: up to its first run of
// five blanks (the whole message when it has none).
std::string_view displayed_failure(std::string_view failure_message) noexcept;

// I5, or the number in full when it does not fit.
std::string count_field(int64_t value, int width = 5);

}  // namespace qelda
