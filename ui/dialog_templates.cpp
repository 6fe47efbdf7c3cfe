#include "ui/dialog_templates.h"

#include <array>

namespace qelda::ui {
namespace {

using K = ControlKind;
constexpr std::string_view kFont = "MS Sans Serif";
constexpr uint32_t kField = kSunken | kBorder;

constexpr ControlTemplate kMain[] = {
    {1000, K::group_box, "Input File", 10, 5, 230, 30},
    {id::input_name, K::static_text, "No file selected", 15, 15, 95, 14, kField},
    {id::input_select, K::push_button, "Select", 111, 15, 40, 14},
    {id::input_list, K::drop_down_list, "", 160, 16, 73, 75},
    {1005, K::group_box, "Output File", 10, 50, 230, 30},
    {id::output_name, K::static_text, "No file selected", 15, 59, 95, 14, kField},
    {id::output_select, K::push_button, "Select", 111, 59, 40, 14},
    {id::output_list, K::drop_down_list, "", 160, 60, 73, 75},
    {id::convert, K::push_button, "Convert", 29, 100, 50, 15, kDisabled},
    {id::reset, K::push_button, "Reset", 98, 100, 50, 15},
    {id::exit, K::push_button, "Exit", 167, 100, 50, 14},
    {1029, K::static_text, "Powder diffraction data file conversion", 56, 130, 141, 13, kCentered},
    {kNoId, K::icon, "110", 9, 125, 20, 20},
    {kNoId, K::icon, "133", 226, 126, 20, 20},
};

constexpr ControlTemplate kDataset[] = {
    {1011, K::static_text, "Title on File:", 5, 11, 42, 12},
    {id::title, K::static_text, "", 50, 10, 120, 20, kField},
    {1013, K::static_text, "2theta start", 5, 37, 36, 8},
    {id::start, K::static_text, "", 50, 35, 36, 13, kField},
    {1014, K::static_text, "2theta end", 5, 52, 35, 8},
    {id::end, K::static_text, "", 50, 50, 36, 13, kField},
    {1015, K::static_text, "2theta step", 5, 67, 36, 8},
    {id::step, K::static_text, "", 50, 65, 36, 13, kField},
    {1019, K::static_text, "No. steps", 100, 52, 31, 8},
    {id::steps, K::static_text, "", 135, 50, 35, 13, kField},
    {1021, K::static_text, "Wavelengths", 5, 87, 43, 8},
    {id::lambda1, K::static_text, "", 50, 85, 36, 13, kField},
    {id::lambda2, K::static_text, "", 90, 85, 36, 13, kField},
    {1025, K::static_text, "Intensity ratio", 5, 103, 42, 8},
    {id::ratio, K::static_text, "", 50, 100, 36, 13, kField},
    {id::ok, K::push_button, "OK", 120, 115, 50, 14, kDefaultButton},
    {kNoId, K::icon, "115", 146, 82, 20, 20},
};

constexpr ControlTemplate kFailure[] = {
    {id::message, K::static_text, "", 30, 15, 185, 25},
    {id::ok, K::push_button, "OK", 85, 50, 50, 14, kDefaultButton},
    {kNoId, K::icon, "116", 5, 18, 20, 20},
    {kNoId, K::icon, "110", 195, 50, 20, 20},
};

constexpr ControlTemplate kSuccess[] = {
    {id::count_line, K::static_text, "", 34, 12, 76, 10},
    {1022, K::static_text, "From", 9, 31, 17, 9},
    {1023, K::static_text, "To", 11, 48, 17, 9},
    {id::from_name, K::static_text, "", 35, 30, 70, 10},
    {id::to_name, K::static_text, "", 35, 48, 70, 10},
    {id::ok, K::push_button, "OK", 48, 70, 50, 14, kDefaultButton},
    {kNoId, K::icon, "114", 5, 7, 20, 20},
    {kNoId, K::icon, "110", 5, 65, 20, 20},
};

constexpr ControlTemplate kWavelength[] = {
    {1026, K::static_text, "Please input the following information:", 28, 15, 151, 9},
    {1027, K::static_text, "Wavelength alpha1:", 35, 33, 66, 8},
    {id::alpha1_box, K::edit, "1.5405", 105, 30, 40, 13, kAutoHScroll},
    {1028, K::static_text, "Wavelength alpha2:", 35, 48, 65, 8},
    {id::alpha2_box, K::edit, "1.5443", 105, 45, 40, 13, kAutoHScroll},
    {1031, K::static_text, "Intensity ratio alpha2/alpha1 | Input 0 if no alpha2", 10, 60, 92, 20},
    {id::ratio_box, K::edit, "0.5", 105, 60, 40, 13, kAutoHScroll},
    {id::ok, K::push_button, "OK", 70, 85, 50, 14, kDefaultButton},
    {kNoId, K::icon, "139", 5, 10, 20, 20},
};

constexpr ControlTemplate kXyInput[] = {
    {1030, K::static_text,
     "Please input the following information to enable the program to read the file", 27, 9, 120,
     18},
    {1031, K::static_text, "Title on File:", 5, 32, 42, 12},
    {id::xy_title_box, K::edit, "", 50, 31, 115, 20, kAutoHScroll},
    {1033, K::static_text, "Count time/step (secs):", 6, 57, 74, 12},
    {id::count_time_box, K::edit, "", 96, 56, 29, 12, kAutoHScroll},
    {1036, K::static_text, "Number of header lines to skip:", 5, 74, 100, 10},
    {id::header_lines_box, K::edit, "0", 105, 73, 20, 11, kAutoHScroll},
    {id::read_sigma_box, K::check_box, "", 5, 91, 10, 10},
    {1039, K::static_text, "Read sigma(I)", 20, 91, 47, 10},
    {id::ok, K::push_button, "OK", 66, 106, 50, 14, kDefaultButton},
    {kNoId, K::icon, "139", 5, 6, 20, 20},
};

constexpr ControlTemplate kSlit[] = {
    {1039, K::static_text,
     "GSAS assumes data has been collected with a set of fixed slits. If the data was collected "
     "with variable aperture slits, check the box and this program will perform an appropriate "
     "renormalisation of the intensities.",
     35, 5, 175, 35},
    {id::slit_box, K::check_box, "Perform intensity conversion", 10, 45, 135, 10},
    {id::slit_warning, K::static_text, "", 35, 60, 175, 25},
    {id::ok, K::push_button, "OK", 92, 95, 50, 14, kDefaultButton},
    {kNoId, K::icon, "139", 8, 10, 20, 20},
};

constexpr ControlTemplate kAsciiOutput[] = {
    {1045, K::static_text,
     "You can choose here what to write onto the ascii file you are creating.", 35, 6, 140, 20},
    {id::write_title_box, K::check_box, "Write title onto file:", 5, 36, 70, 10},
    {id::ascii_title_box, K::edit, "", 80, 35, 125, 12, kMultiline | kAutoHScroll},
    {id::write_sigma_box, K::check_box, "Write sigma(I) into file", 5, 55, 80, 10},
    {id::ok, K::push_button, "OK", 85, 75, 50, 14, kDefaultButton},
    {kNoId, K::icon, "113", 5, 5, 20, 20},
};

constexpr std::array<DialogTemplate, 8> kDialogs{{
    {kMainDialog, "QELDA 2.01   Powder Data File Convertor", 257, 156, kFont, 8,
     kCloseBox | kMinimizeBox, kMain},
    {kDatasetDialog, "QELDA 2.01: Dataset parameters", 186, 141, kFont, 8, kNoCloseBox, kDataset},
    {kFailureDialog, "QELDA 2.01: Conversion Failed", 222, 76, kFont, 8, kCloseBox, kFailure},
    {kSuccessDialog, "QELDA 2.01: Successful Conversion", 142, 95, kFont, 8, kCloseBox, kSuccess},
    {kWavelengthPrompt, "QELDA 2.01: Wavelength info", 186, 111, kFont, 8, kCloseBox, kWavelength},
    {kXyInputPrompt, "QELDA 2.01: X-Y ascii file input", 186, 126, kFont, 8, kCloseBox, kXyInput},
    {kSlitPrompt, "QELDA 2.01: Slit configuration", 222, 117, kFont, 8, kCloseBox, kSlit},
    {kAsciiOutputPrompt, "QELDA 2.01: Format Ascii output file", 217, 95, kFont, 8, kCloseBox,
     kAsciiOutput},
}};

}  // namespace

std::span<const DialogTemplate> dialog_templates() noexcept {
    return kDialogs;
}

const DialogTemplate* find_dialog_template(int id) noexcept {
    for (const auto& d : kDialogs)
        if (d.id == id) return &d;
    return nullptr;
}

}  // namespace qelda::ui
