// The dialog templates 101-108 as data: for every control its id, kind, text,
// position and size in dialog units, and style flags. One builder
// (ui/dialog_builder.h) turns a template into a window; nothing else knows
// where a control sits.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qelda::ui {

// The id of controls that no code addresses (labels of fixed text, icons).
inline constexpr int kNoId = -1;

enum class ControlKind : uint8_t {
    group_box,
    static_text,
    push_button,
    drop_down_list,
    edit,
    check_box,
    icon,  // text: the icon resource number, e.g. "110"
};

// Control style flags.
enum ControlStyle : uint32_t {
    kPlain = 0,
    kDisabled = 1u << 0,       // starts disabled
    kDefaultButton = 1u << 1,  // the default push button (Enter presses it)
    kSunken = 1u << 2,         // static with a sunken edge
    kBorder = 1u << 3,         // static with a thin border
    kCentered = 1u << 4,       // static text centred
    kMultiline = 1u << 5,      // edit of several lines
    kAutoHScroll = 1u << 6,    // edit scrolls sideways as the text grows
};

// Dialog style flags.
enum DialogStyle : uint32_t {
    kNoCloseBox = 0,
    kCloseBox = 1u << 0,
    kMinimizeBox = 1u << 1,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view text;
    int x, y, cx, cy;  // dialog units
    uint32_t style = kPlain;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    int cx, cy;  // client area, dialog units
    std::string_view font_family;
    int font_points;
    uint32_t style;
    std::span<const ControlTemplate> controls;
};

// The main dialog, the dataset, failure and success dialogs, and the prompts.
enum DialogId : int {
    kMainDialog = 101,
    kDatasetDialog = 102,
    kFailureDialog = 103,
    kSuccessDialog = 104,
    kWavelengthPrompt = 105,
    kXyInputPrompt = 106,
    kSlitPrompt = 107,
    kAsciiOutputPrompt = 108,
};

// Control ids that the code addresses, by dialog.
namespace id {
inline constexpr int ok = 1;
inline constexpr int exit = 3;
// 101
inline constexpr int input_name = 1010;
inline constexpr int input_select = 1001;
inline constexpr int input_list = 1002;
inline constexpr int output_name = 1008;
inline constexpr int output_select = 1006;
inline constexpr int output_list = 1007;
inline constexpr int convert = 1009;
inline constexpr int reset = 1004;
// 102
inline constexpr int title = 1012;
inline constexpr int start = 1016;
inline constexpr int end = 1017;
inline constexpr int step = 1018;
inline constexpr int steps = 1020;
inline constexpr int lambda1 = 1022;
inline constexpr int lambda2 = 1023;
inline constexpr int ratio = 1024;
// 103
inline constexpr int message = 1020;
// 104
inline constexpr int count_line = 1021;
inline constexpr int from_name = 1024;
inline constexpr int to_name = 1025;
// 105
inline constexpr int alpha1_box = 1029;
inline constexpr int alpha2_box = 1030;
inline constexpr int ratio_box = 1032;
// 106
inline constexpr int xy_title_box = 1034;
inline constexpr int count_time_box = 1035;
inline constexpr int header_lines_box = 1037;
inline constexpr int read_sigma_box = 1038;
// 107
inline constexpr int slit_box = 1040;
inline constexpr int slit_warning = 1041;
// 108
inline constexpr int write_title_box = 1042;
inline constexpr int ascii_title_box = 1043;
inline constexpr int write_sigma_box = 1044;
}  // namespace id

// Every template, in id order.
std::span<const DialogTemplate> dialog_templates() noexcept;
// The template with this id, or nullptr.
const DialogTemplate* find_dialog_template(int id) noexcept;

}  // namespace qelda::ui
