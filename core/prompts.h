// The rules of the four prompts: the core asks the interaction for the texts of
// the prompt's boxes and reads them through the prompt's layouts into the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/workspace.h"

namespace qelda {

// Sets lambda1, lambda2 and alpha_ratio; a second wavelength below the first
// means a single line (lambda2 and alpha_ratio become 0). Sets the workspace's
// wavelength origin to `user`, or `assumed` when nobody chose the entries.
void ask_wavelengths(Workspace& ws);

struct XyInputChoice {
    int32_t header_lines = 0;
    bool read_sigma = false;
};
// Sets title and count_time (below 0.001 it becomes 1.0). The header lines box
// starts with `detected_header_lines`.
XyInputChoice ask_xy_input(Workspace& ws, int32_t detected_header_lines = 0);

struct AsciiOutputChoice {
    bool write_title = true;
    bool write_sigma = false;
};
// Sets title only when the title box is ticked.
AsciiOutputChoice ask_ascii_output(Workspace& ws);

// True when the variable-slit renormalisation is asked for.
bool ask_slit_correction(Workspace& ws);

// Box texts are read back as 100-character texts.
inline constexpr std::size_t kPromptTextLength = 100;

// The number boxes of the prompts, each read back through its own layout.
enum class PromptBox {
    wavelength,    // (F8.5): alpha1, alpha2 and the intensity ratio
    count_time,    // (F10.0)
    header_lines,  // (I5)
};
// True when the typed text reads as a number under the box's layout, as the
// prompt will read it. The window refuses to close a prompt on a box that does
// not, so that a typing slip is corrected instead of ending the conversion.
bool prompt_box_reads(PromptBox box, std::string_view typed);

// The text a prompt box of `width` columns reads back as `value`: fixed
// notation with a point (so that no implied decimals apply), rounded to fit.
// nullopt when the value is not a number or cannot fit.
std::optional<std::string> box_text(double value, std::size_t width);

// The slit prompt's warning, 150 characters in three pieces.
extern const char* const kSlitWarning;

}  // namespace qelda
