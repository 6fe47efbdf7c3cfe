#include "formats/registry.h"

#include <array>
#include <charconv>

#include "formats/codecs.h"

namespace qelda {
namespace {

// NeXus needs libhdf5, which not every build has (Windows).
constexpr bool kWithHdf5 = QELDA_WITH_HDF5 != 0;

constexpr std::array<FormatInfo, 23> kFormats{{
    {FormatId::ascii_xy, "Ascii x-y", "DAT", "Ascii .dat", "*.dat", "xy", ascii_xy_codec, true,
     true, true, false, true, true, true},
    {FormatId::gsas, "GSAS cw data", "GSA", "GSAS cw data", "*.gsa", "gsas", gsas_codec, true, true,
     true},
    {FormatId::stoe_raw, "Stoe raw", "RAW", "Stoe raw", "*.raw", "stoe-raw", stoe_raw_codec, true,
     true, true, true},
    {FormatId::siemens_uxd, "Siemans uxd", "UXD", "Siemans uxd", "*.uxd", "uxd", siemens_uxd_codec,
     true, true, true, true},
    {FormatId::scintag_ard, "Scintag ard", "ARD", "Scintag Files", "*.ard", "ard",
     scintag_ard_codec, true, false, true},
    {FormatId::dbw, "DBW", "DBW", "DBW", "*.dbw", "dbw", dbw_codec, true, true, true},
    {FormatId::stoe_ascii, "Stoe ascii", "ASC", "Stoe Ascii", "*.asc", "stoe-ascii",
     stoe_ascii_codec, true, false, false},
    {FormatId::philips_udf, "Phillips udf", "UDF", "Phillips udf", "*.udf", "udf",
     philips_udf_codec, true, false, false},
    {FormatId::gsas_cif, "GSAS cif", "CIF", "GSAS cif", "*.cif", "cif", gsas_cif_codec, true, true,
     true, true, true, true, true},
    // Today's instrument files, read only.
    {FormatId::xrdml, "PANalytical xrdml", "XRD", "PANalytical xrdml", "*.xrdml", "xrdml",
     xrdml_codec, true, false, false},
    {FormatId::bruker_raw, "Bruker raw", "RAW", "Bruker raw", "*.raw", "bruker-raw",
     bruker_raw_codec, true, false, false},
    {FormatId::bruker_brml, "Bruker brml", "BRM", "Bruker brml", "*.brml", "brml",
     bruker_brml_codec, true, false, false},
    {FormatId::rigaku_ras, "Rigaku ras", "RAS", "Rigaku ras", "*.ras", "ras", rigaku_ras_codec,
     true, false, false},
    {FormatId::rigaku_rasx, "Rigaku rasx", "RAS", "Rigaku rasx", "*.rasx", "rasx",
     rigaku_rasx_codec, true, false, false},
    // Written only.
    {FormatId::xye, "Ascii xye", "XYE", "Ascii xye", "*.xye", "xye", xye_codec, false, true, true,
     true, true, true, true},
    {FormatId::fxye, "GSAS fxye", "FXY", "GSAS fxye", "*.fxye", "fxye", fxye_codec, false, true,
     true, true, true, true},
    {FormatId::json, "JSON", "JSN", "JSON record", "*.json", "json", json_codec, false, true, true,
     true, true, true, true},
    // Older instruments' files, read only.
    {FormatId::philips_rd, "Philips rd", "RD ", "Philips rd", "*.rd *.sd", "philips-rd",
     philips_rd_codec, true, false, false},
    {FormatId::rigaku_dat, "Rigaku dat", "DAT", "Rigaku dat", "*.dat *.asc", "rigaku-dat",
     rigaku_dat_codec, true, false, false},
    {FormatId::sietronics_cpi, "Sietronics cpi", "CPI", "Sietronics cpi", "*.cpi", "cpi",
     sietronics_cpi_codec, true, false, false},
    {FormatId::riet7_dat, "Riet7 dat", "DAT", "Riet7 dat", "*.dat", "riet7", riet7_dat_codec, true,
     false, false},
    {FormatId::csv, "CSV", "CSV", "CSV", "*.csv", "csv", csv_codec, true, false, false},
    {FormatId::nexus, "NeXus", "NXS", "NeXus", "*.nxs *.nx5 *.h5 *.hdf5", "nexus", nexus_codec,
     true, true, true, true, kWithHdf5, true},
}};

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

}  // namespace

std::span<const FormatInfo> formats() noexcept {
    return kFormats;
}

const FormatInfo* find_format(FormatId id) noexcept {
    for (const auto& f : kFormats)
        if (f.id == id) return &f;
    return nullptr;
}

FormatId detect_format(std::string_view three, Direction direction) noexcept {
    char folded[3] = {' ', ' ', ' '};
    for (std::size_t i = 0; i < 3 && i < three.size(); ++i) {
        const char c = three[i];
        // Every character above "Z" moves 32 codes down, as the original rule does.
        folded[i] = static_cast<unsigned char>(c) > 'Z' ? static_cast<char>(c - 32) : c;
    }
    const std::string_view key(folded, 3);
    for (const auto& f : kFormats) {
        if (direction == Direction::output && !f.in_output_list) continue;
        // The rule knows the nine formats of the lists' first entries; the
        // content tells the others apart.
        if (f.id > FormatId::gsas_cif) continue;
        if (f.extension == key) return f.id;
    }
    return FormatId::none;
}

std::string_view extension_chars(std::string_view path) noexcept {
    const auto dot = path.find('.');
    const std::string_view rest = dot == std::string_view::npos ? path : path.substr(dot + 1);
    return rest.substr(0, 3);
}

std::optional<FormatId> format_from_name(std::string_view name) noexcept {
    for (const auto& f : kFormats)
        if (equal_ignoring_case(name, f.short_name) || equal_ignoring_case(name, f.list_text))
            return f.id;
    int number = 0;
    auto res = std::from_chars(name.data(), name.data() + name.size(), number);
    if (res.ec == std::errc{} && res.ptr == name.data() + name.size() && number >= 2 &&
        find_format(static_cast<FormatId>(number)) != nullptr)
        return static_cast<FormatId>(number);
    return std::nullopt;
}

}  // namespace qelda
