#include "formats/file_names.h"

#include <utility>

#include "formats/registry.h"

namespace qelda {
namespace {

constexpr ExtensionRule kExtensionRules[] = {
    {"xy", FormatId::ascii_xy, false},      {"xye", FormatId::ascii_xy, false},
    {"xyd", FormatId::ascii_xy, false},     {"dat", FormatId::ascii_xy, true},
    {"txt", FormatId::none, true},          {"gsa", FormatId::gsas, false},
    {"gss", FormatId::gsas, false},         {"gsas", FormatId::gsas, false},
    {"gda", FormatId::gsas, false},         {"xra", FormatId::gsas, false},
    {"fxye", FormatId::gsas, false},        {"fxy", FormatId::gsas, false},
    {"raw", FormatId::stoe_raw, true},      {"uxd", FormatId::siemens_uxd, false},
    {"ard", FormatId::scintag_ard, false},  {"dbw", FormatId::dbw, false},
    {"asc", FormatId::stoe_ascii, true},    {"udf", FormatId::philips_udf, false},
    {"cif", FormatId::gsas_cif, false},     {"xrdml", FormatId::xrdml, false},
    {"brml", FormatId::bruker_brml, false}, {"ras", FormatId::rigaku_ras, true},
    {"rasx", FormatId::rigaku_rasx, false}, {"rd", FormatId::philips_rd, false},
    {"sd", FormatId::philips_rd, false},    {"cpi", FormatId::sietronics_cpi, false},
    {"csv", FormatId::csv, true},           {"nxs", FormatId::nexus, false},
    {"nx5", FormatId::nexus, false},        {"h5", FormatId::nexus, false},
    {"hdf5", FormatId::nexus, false},
};

// An output name's extension that names a written format other than the
// reader's (.xye and .fxye are read as x-y and GSAS files, written as such).
constexpr std::pair<std::string_view, FormatId> kOutputExtensions[] = {
    {"xye", FormatId::xye},
    {"fxye", FormatId::fxye},
    {"cif", FormatId::gsas_cif},
    {"json", FormatId::json},
};

const ExtensionRule* rule_for(std::string_view ext) {
    for (const auto& rule : kExtensionRules)
        if (rule.extension == ext) return &rule;
    return nullptr;
}

std::string_view short_name_of(FormatId id) {
    const FormatInfo* f = find_format(id);
    return f ? f->short_name : std::string_view("?");
}

}  // namespace

std::span<const ExtensionRule> extension_rules() noexcept {
    return kExtensionRules;
}

// The extension a batch gives each output format.
std::string_view default_extension(FormatId id) {
    switch (id) {
        case FormatId::ascii_xy:
            return ".dat";
        case FormatId::gsas:
            return ".gsa";
        case FormatId::stoe_raw:
            return ".raw";
        case FormatId::siemens_uxd:
            return ".uxd";
        case FormatId::scintag_ard:
            return ".ard";
        case FormatId::dbw:
            return ".dbw";
        case FormatId::gsas_cif:
            return ".cif";
        case FormatId::xye:
            return ".xye";
        case FormatId::fxye:
            return ".fxye";
        case FormatId::nexus:
            return ".nxs";
        default:
            return ".json";
    }
}

std::string last_extension(std::string_view path) {
    const std::string_view name = file_name_part(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext;
}

FormatChoice choose_input_format(std::string_view name,
                                 const std::function<ContentGuess()>& content) {
    const std::string ext = last_extension(name);
    const ExtensionRule* rule = rule_for(ext);
    if (rule && !rule->shared) return {rule->format, "extension ." + ext, {}};
    const ContentGuess guess = content();
    if (guess.format != FormatId::none) return {guess.format, "content: " + guess.reason, {}};
    if (guess.candidates.size() > 1) {
        std::string names;
        for (std::size_t i = 0; i < guess.candidates.size(); ++i)
            names += std::string(i == 0                             ? ""
                                 : i + 1 == guess.candidates.size() ? " or "
                                                                    : ", ") +
                     std::string(short_name_of(guess.candidates[i]));
        std::string error = "its content could be " + names;
        if (!guess.reason.empty()) error += " (" + guess.reason + ")";
        return {FormatId::none, {}, error + "; use --from"};
    }
    if (rule && rule->format != FormatId::none)
        return {rule->format, "extension ." + ext + "; " + guess.reason, {}};
    std::string error = ext.empty() ? "its name has no extension"
                                    : "the extension ." + ext + " names no format of its own";
    if (!guess.reason.empty()) error += " and " + guess.reason;
    return {FormatId::none, {}, error + "; use --from"};
}

std::optional<FormatId> output_format_of_name(std::string_view name) {
    const std::string ext = last_extension(name);
    const ExtensionRule* rule = rule_for(ext);
    FormatId id = rule ? rule->format : FormatId::none;
    for (const auto& [extension, format] : kOutputExtensions)
        if (extension == ext) id = format;
    const FormatInfo* f = find_format(id);
    if (f == nullptr || !(f->in_output_list || f->writes)) return std::nullopt;
    return id;
}

}  // namespace qelda
