#include "app/convert_cli.h"

#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "core/display_texts.h"
#include "core/driver.h"
#include "core/workspace.h"
#include "formats/registry.h"

namespace qelda {
namespace {

constexpr const char* kVersion = "qelda-convert (QELDA) 2.01";

bool is_number(std::string_view text) {
    double value = 0;
    std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    text = text.substr(start, text.find_last_not_of(' ') - start + 1);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc{} && res.ptr == text.data() + text.size();
}

bool is_integer(std::string_view text) {
    long long value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && res.ec == std::errc{} && res.ptr == text.data() + text.size();
}

// Prints what the dialogs would show; failures go to stderr.
class CliInteraction : public ScriptedInteraction {
  public:
    CliInteraction(Answers answers, std::FILE* out, std::FILE* err, bool quiet)
        : ScriptedInteraction(std::move(answers)), out_(out), err_(err), quiet_(quiet) {}

    // The file that messages name: the input until the read has succeeded.
    void set_subject(std::string subject) { subject_ = std::move(subject); }

    void show_dataset_parameters(const PowderPattern& r,
                                 std::span<const std::string> warnings) override {
        ScriptedInteraction::show_dataset_parameters(r, warnings);
        for (const auto& w : warnings) fmt::print(err_, "qelda-convert: warning: {}\n", w);
        if (quiet_) return;
        const DatasetTexts t = dataset_texts(r);
        fmt::print(out_, "Title on File:   {}\n", trim_right(t.title));
        fmt::print(out_, "2theta start     {}\n", t.two_theta_start);
        fmt::print(out_, "2theta end       {}\n", t.two_theta_end);
        fmt::print(out_, "2theta step      {}\n", t.two_theta_step);
        fmt::print(out_, "No. steps        {}\n", t.point_count);
        fmt::print(out_, "Wavelengths      {} {}\n", t.lambda1, t.lambda2);
        fmt::print(out_, "Intensity ratio  {}\n", t.alpha_ratio);
    }
    void show_failure(std::string_view message, std::string_view reason) override {
        ScriptedInteraction::show_failure(message, reason);
        std::string line =
            "qelda-convert: " + subject_ + ": " + std::string(displayed_failure(message));
        if (!reason.empty()) line += ": " + std::string(reason);
        fmt::print(err_, "{}\n", line);
    }
    void show_success(const PowderPattern& r, const ConversionSession& s) override {
        ScriptedInteraction::show_success(r, s);
        if (quiet_) return;
        fmt::print(out_, "{}\n", success_count_text(r.point_count));
        fmt::print(out_, "From  {}\nTo    {}\n", file_name_part(s.input_path),
                   file_name_part(s.output_path));
    }

  private:
    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
    std::string subject_;
};

void append_json_number(std::string& out, float v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void append_json_string(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7f) {
            // Titles come from old instrument files in unknown code pages; keep
            // every byte, as a code point of the same number.
            out += fmt::format("\\u{:04x}", u);
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string record_json(const PowderPattern& r) {
    std::string out = "{\"title\":";
    append_json_string(out, r.title);
    const std::pair<const char*, float> scalars[] = {
        {"lambda1", r.lambda1},
        {"lambda2", r.lambda2},
        {"alpha_ratio", r.alpha_ratio},
        {"two_theta_start", r.two_theta_start},
        {"two_theta_end", r.two_theta_end},
        {"two_theta_step", r.two_theta_step},
        {"count_time", r.count_time},
    };
    for (const auto& [key, value] : scalars) {
        out += ",\"";
        out += key;
        out += "\":";
        append_json_number(out, value);
    }
    out += ",\"point_count\":" + std::to_string(r.point_count);
    const int32_t n = std::clamp(r.point_count, 0, kPointCapacity);
    for (const auto& [key, array] :
         {std::pair<const char*, const PointArray*>{"intensity", &r.intensity},
          std::pair<const char*, const PointArray*>{"sigma", &r.sigma}}) {
        out += ",\"";
        out += key;
        out += "\":[";
        for (int32_t i = 1; i <= n; ++i) {
            if (i > 1) out += ',';
            append_json_number(out, (*array)(i));
        }
        out += ']';
    }
    out += "}\n";
    return out;
}

// The window's rule, and for the command line also the names that x-y files
// usually carry (.xy, .xye, .xyd), which the window's table does not list.
FormatId format_of_file(std::string_view path, Direction direction) {
    const std::string_view chars = extension_chars(file_name_part(path));
    const FormatId id = detect_format(chars, direction);
    if (id != FormatId::none) return id;
    std::string upper(chars);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (upper == "XY" || upper == "XYE" || upper == "XYD") return FormatId::ascii_xy;
    return FormatId::none;
}

std::string formats_help() {
    std::string text = "Formats (short name, list text, extension, directions):\n";
    for (const auto& f : formats()) {
        const char* dir = f.writes ? "read, write" : "read";
        text +=
            fmt::format("  {:<11} {:<13} .{:<4} {}{}\n", f.short_name, f.list_text, f.extension,
                        dir, f.in_output_list && !f.writes ? " (writing not yet available)" : "");
    }
    text += "  json        (output only) the record as one JSON object\n";
    text +=
        "A FORMAT may also be given as its list text or its number 2-10. Without\n"
        "--from/--to the format comes from the three characters after the first\n"
        "'.' of the file name (.xy, .xye and .xyd are x-y files too).\n";
    return text;
}

}  // namespace

int run_convert_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    CLI::App app{"Converts a powder diffraction step scan between file formats.", "qelda-convert"};
    app.footer(formats_help());
    std::string input_path, output_path, from, to, wavelengths = "1.5405,1.5443,0.5";
    std::optional<std::string> title, count_time;
    std::string header_lines;  // empty: the reader detects them
    bool read_sigma = false, write_sigma = false, no_title = false, slit = false, quiet = false;
    app.add_option("INPUT", input_path, "input file")->required();
    app.add_option("OUTPUT", output_path, "output file ('-' writes json to standard output)")
        ->required();
    app.add_option("-f,--from", from, "input format");
    app.add_option("-t,--to", to, "output format, or json");
    app.add_option("--wavelengths", wavelengths,
                   "L1,L2,RATIO for formats that hold none (default 1.5405,1.5443,0.5)");
    app.add_option("--title", title, "title for x-y input and output");
    app.add_option("--count-time", count_time, "count time per step (x-y input; default 1.0)");
    app.add_option("--header-lines", header_lines, "header lines to skip in x-y input");
    app.add_flag("--read-sigma", read_sigma, "x-y input has a third column of sigma(I)");
    app.add_flag("--write-sigma", write_sigma, "write sigma(I) into x-y output");
    app.add_flag("--no-title", no_title, "write no title line into x-y output");
    app.add_flag("--slit-correction", slit, "renormalise variable-slit data for GSAS output");
    app.add_flag("-q,--quiet", quiet, "print nothing on success");
    app.set_version_flag("--version", kVersion);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fmt::print(out, "{}", app.help());
        return 0;
    } catch (const CLI::CallForVersion&) {
        fmt::print(out, "{}\n", kVersion);
        return 0;
    } catch (const CLI::ParseError& e) {
        fmt::print(err, "qelda-convert: {}\nRun with --help for usage.\n", e.what());
        return 2;
    }

    auto usage_error = [&](const std::string& what) {
        fmt::print(err, "qelda-convert: {}\nRun with --help for usage.\n", what);
        return 2;
    };

    ScriptedInteraction::Answers answers;
    {
        std::vector<std::string> parts;
        std::string_view rest = wavelengths;
        while (true) {
            const auto comma = rest.find(',');
            parts.emplace_back(rest.substr(0, comma));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (parts.size() != 3 || !is_number(parts[0]) || !is_number(parts[1]) ||
            !is_number(parts[2]))
            return usage_error("--wavelengths needs three numbers L1,L2,RATIO");
        answers.wavelengths = {parts[0], parts[1], parts[2]};
    }
    if (count_time && !is_number(*count_time)) return usage_error("--count-time needs a number");
    if (!header_lines.empty() && (!is_integer(header_lines) || std::stoll(header_lines) < 0 ||
                                  std::stoll(header_lines) > 99999))
        return usage_error("--header-lines needs a whole number from 0 to 99999");
    if (title) {
        answers.title_given = true;
        answers.title = *title;
    }
    answers.count_time = count_time.value_or("");
    answers.header_lines = header_lines;
    answers.read_sigma = read_sigma;
    answers.write_sigma = write_sigma;
    answers.write_title = !no_title;
    answers.slit_correction = slit;

    // Formats: named, or detected from the file names.
    FormatId input_format = FormatId::none;
    if (!from.empty()) {
        const auto id = format_from_name(from);
        if (!id) return usage_error("unknown input format '" + from + "'");
        input_format = *id;
    } else {
        input_format = format_of_file(input_path, Direction::input);
        if (input_format == FormatId::none)
            return usage_error("cannot tell the format of '" + input_path + "'; use --from");
    }
    bool json = false;
    FormatId output_format = FormatId::none;
    if (!to.empty()) {
        if (to == "json" || to == "JSON") {
            json = true;
        } else {
            const auto id = format_from_name(to);
            if (!id || !find_format(*id)->in_output_list)
                return usage_error("'" + to + "' is not an output format");
            output_format = *id;
        }
    } else {
        output_format = format_of_file(output_path, Direction::output);
        if (output_format == FormatId::none)
            return usage_error("cannot tell the format of '" + output_path + "'; use --to");
    }
    const bool to_stdout = output_path == "-";
    if (to_stdout && !json) return usage_error("'-' as OUTPUT needs --to json");

    CliInteraction ui(std::move(answers), out, err, quiet || (json && to_stdout));
    Workspace ws(ui);
    ConversionSession& session = ws.session();
    ui.set_subject(input_path);
    if (ws.input().open(input_path) != Outcome::done) {
        ui.show_failure(kMsgOpenInput, ws.input().problem());
        return 1;
    }
    if (to_stdout) {
        ws.output().open_memory("-");
    } else if (ws.output().open(output_path, /*create_now=*/false) != Outcome::done) {
        ui.set_subject(output_path);
        ui.show_failure(kMsgOpenOutput, ws.output().commit_error());
        return 1;
    }
    session.input_path = input_path;
    session.output_path = output_path;
    session.input_ready = session.output_ready = true;
    session.input_format = input_format;
    session.output_format = json ? FormatId::none : output_format;

    const ConversionResult result =
        run_conversion(ws, input_format, json ? FormatId::none : output_format);
    if (!result.succeeded()) return 1;
    if (json) {
        ws.output().restart();
        ws.output().append_bytes(record_json(ws.record()));
        if (to_stdout) {
            std::fwrite(ws.output().content().data(), 1, ws.output().content().size(), out);
            return std::fflush(out) == 0 ? 0 : 1;
        }
        if (!ws.output().close(true)) {
            ui.set_subject(output_path);
            ui.show_failure(kMsgWriteError, ws.output().commit_error());
            return 1;
        }
        if (!quiet) fmt::print(out, "{}\n", success_count_text(ws.record().point_count));
    }
    return 0;
}

}  // namespace qelda
