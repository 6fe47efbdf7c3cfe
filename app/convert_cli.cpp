#include "app/convert_cli.h"

#include <fmt/core.h>

#include <cerrno>
#include <cstring>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/batch_plan.h"
#include "core/display_texts.h"
#include "core/driver.h"
#include "core/ordered_batch.h"
#include "core/platform.h"
#include "core/prompts.h"
#include "core/stated_values.h"
#include "core/workspace.h"
#include "formats/file_names.h"
#include "formats/registry.h"

namespace qelda {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVersion = "qelda-convert (QELDA) 2.01";
// Standard input is read whole into memory; a zip needs its end to be read.
constexpr std::size_t kMaxStdinBytes = std::size_t{256} << 20;

std::string_view short_name(FormatId id) {
    const FormatInfo* f = find_format(id);
    return f ? f->short_name : std::string_view("?");
}

// One line per message: a reason never breaks the "program: file: message" form.
std::string one_line(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
}

// The system's error texts begin with a capital; reasons are lower case.
std::string lower_first(std::string_view text) {
    std::string s(text);
    if (s.size() > 1 && s[0] >= 'A' && s[0] <= 'Z' && s[1] >= 'a' && s[1] <= 'z')
        s[0] = static_cast<char>(s[0] + 32);
    return s;
}

// Prints what the dialogs would show; failures and warnings go to stderr, each
// naming the file it concerns.
class CliInteraction : public ScriptedInteraction {
  public:
    CliInteraction(Answers answers, std::FILE* out, std::FILE* err)
        : ScriptedInteraction(std::move(answers)), out_(out), err_(err) {}

    // Dataset parameters and the success report on stdout (one file, not -q,
    // stdout not the output).
    bool verbose = false;
    // The file that messages name.
    std::string subject;
    int warnings_shown = 0;
    // The options a refusal may point to, and whether they were given.
    bool any_axis_given = false;
    bool range_given = false;
    std::string from_given;  // what --from said, or empty

    // The batch's progress line, redrawn in place (only on a terminal).
    void progress(std::string_view text) {
        fmt::print(err_, "\r{}\x1b[K", text);
        std::fflush(err_);
        progress_shown_ = true;
    }
    void end_progress() {
        if (!progress_shown_) return;
        fmt::print(err_, "\r\x1b[K");
        progress_shown_ = false;
    }
    void error_line(std::string_view text) {
        end_progress();
        fmt::print(err_, "qelda-convert: {}\n", one_line(text));
    }
    // Where the messages go: a lane of a parallel batch keeps each item's own
    // until the batch prints them in order.
    void set_error_stream(std::FILE* err) noexcept { err_ = err; }

    void show_dataset_parameters(const PowderPattern& r,
                                 std::span<const std::string> warnings) override {
        ScriptedInteraction::show_dataset_parameters(r, warnings);
        for (const auto& w : warnings) error_line(subject + ": warning: " + w);
        warnings_shown += static_cast<int>(warnings.size());
        if (!verbose) return;
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
        const std::string line = failure_line(subject, message, reason);
        if (hold_failures)
            held_failure = line;
        else
            error_line(line);
    }

    // "FILE: HEADLINE: reason", the reason without what the line already says
    // (the file's name, the line number of the headline). "THIS DATA FORMAT NOT
    // YET AVAILABLE" is said of any file a reader refuses: there the reason,
    // which says why, comes first. Refusals that an option lifts name it.
    std::string failure_line(std::string_view file, std::string_view message,
                             std::string_view reason) const {
        std::string headline = squeeze_blanks(displayed_failure(message));
        std::string why(reason);
        const std::string name(file_name_part(file));
        if (!name.empty() && why.starts_with(name + ": ")) why.erase(0, name.size() + 2);
        // "AFTER LINE 3" and a reason that begins "FILE, line 3: ".
        const std::string after_line = std::string(kMsgReadError) + " ";
        if (headline.starts_with(after_line) && !name.empty()) {
            const std::string at = name + ", line " + headline.substr(after_line.size());
            if (why.starts_with(at + ": ")) why.erase(0, at.size() + 2);
        }
        why = with_option_hint(why, headline == kMsgNotAvailable);
        if (why.empty()) return std::string(file) + ": " + headline;
        if (headline == kMsgNotAvailable)
            return std::string(file) + ": " + why + " (" + headline + ")";
        return std::string(file) + ": " + headline + ": " + why;
    }
    // With every scan of a file converted, a scan refused for its axis is
    // skipped with a warning: its failure is held until that is known.
    bool hold_failures = false;
    std::string held_failure;
    void show_success(const PowderPattern& r, const ConversionSession& s,
                      std::span<const std::string> warnings) override {
        ScriptedInteraction::show_success(r, s, warnings);
        for (const auto& w : warnings) error_line(subject + ": warning: " + w);
        warnings_shown += static_cast<int>(warnings.size());
        if (!verbose) return;
        fmt::print(out_, "{}\n", success_count_text(r.point_count));
        fmt::print(out_, "From  {}\nTo    {}\n", full_path(s.input_path), full_path(s.output_path));
    }

  private:
    static std::string squeeze_blanks(std::string_view text) {
        std::string s;
        for (const char c : text)
            if (c != ' ' || s.empty() || s.back() != ' ') s += c;
        return s;
    }
    static std::string full_path(std::string_view path) {
        if (path == "-" || path == "standard input") return std::string(path);
        std::error_code ec;
        const fs::path p = fs::absolute(platform::to_path(path), ec);
        return ec ? std::string(path) : platform::path_text(p.lexically_normal());
    }
    // Points a refusal that an option lifts to that option.
    std::string with_option_hint(std::string why, bool refused) const {
        if (!refused || why.empty()) return why;
        constexpr std::string_view kAxisAllowed = "unless any scan axis is allowed";
        if (const auto at = why.find(kAxisAllowed); at != std::string::npos)
            why.replace(at, kAxisAllowed.size(), "unless --any-axis is given");
        const bool axis = why.find("not a 2theta scan") != std::string::npos ||
                          why.find(", not 2theta") != std::string::npos;
        const bool several =
            why.find(" scans") != std::string::npos || why.find(" ranges") != std::string::npos;
        if (axis && !any_axis_given && why.find("--any-axis") == std::string::npos)
            why += "; --any-axis converts it as it stands";
        if (several && why.find("--range") == std::string::npos)
            why += range_given ? "; --range N chooses another" : "; --range N chooses one";
        if (!from_given.empty() && !axis && !several)
            why += "; it was read as " + from_given + " because --from says so";
        return why;
    }

    std::FILE* out_;
    std::FILE* err_;
    bool progress_shown_ = false;
};

std::optional<long long> parse_whole_number(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    long long v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || res.ec != std::errc{} || res.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

constexpr const char* kTryHelp = "Try 'qelda-convert --help' for more information.\n";

// The usage lines once, then what the program does.
class UsageFormatter : public CLI::Formatter {
  public:
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string) const override {
        return "Usage: qelda-convert [OPTION]... INPUT OUTPUT\n"
               "  or:  qelda-convert [OPTION]... INPUT... FOLDER\n"
               "  or:  qelda-convert -t FORMAT [-o DIR] [OPTION]... INPUT...\n"
               "  or:  qelda-convert --detect FILE...\n"
               "  or:  qelda-convert --list-formats\n" +
               app->get_description() + "\n";
    }
};

// Every format: short name, list text, directions, extensions.
std::string formats_list() {
    std::string text = "Formats (short name, list text, directions, extensions):\n";
    for (const auto& f : formats()) {
        std::string exts;
        for (const auto& rule : extension_rules())
            if (rule.format == f.id) exts += fmt::format(" .{}", rule.extension);
        // A format that shares its extension with another, told by content.
        if (exts.empty())
            for (char c : " " + std::string(f.filter_pattern))
                if (c != '*') exts += c;
        const char* dir = !f.available       ? "unavailable"
                          : !f.reads         ? "write"
                          : f.writes         ? "read, write"
                          : f.in_output_list ? "read (writing not yet available)"
                                             : "read";
        text += fmt::format("  {:<11} {:<18} {:<11}{}\n", f.short_name, f.list_text, dir, exts);
    }
    return text;
}

std::string formats_help() {
    std::string text = formats_list();
    for (const auto& f : formats())
        if (!f.available) {
            text +=
                "A format marked unavailable cannot be read by this build: it lacks the\n"
                "format's library (NeXus needs HDF5, which the Windows and web builds lack).\n";
            break;
        }
    text +=
        "A FORMAT may also be given as its list text or its number. Without --from\n"
        "the last extension of the name decides; the content decides when the\n"
        "extension names no format or a shared one (.raw .dat .asc .txt .ras).\n"
        "An OUTPUT named .xye .fxye .cif or .json is written in that format.\n\n"
        "Examples:\n"
        "  qelda-convert scan.uxd scan.gsa          one file (never onto itself, nor\n"
        "                                           over a file of the input's format\n"
        "                                           without --force)\n"
        "  qelda-convert -t xy -o out/ *.uxd        a batch into out/ (out/NAME.dat)\n"
        "  qelda-convert -t gsas *.raw              a batch, each output beside its input\n"
        "  qelda-convert -t xy *.udf *.uxd out/     a batch into the folder out/\n"
        "  qelda-convert -t uxd - - < a.raw > a.uxd standard input and output\n"
        "  qelda-convert --detect *.raw             the format of each file\n\n"
        "Exit status:\n"
        " 0  every file converted\n"
        " 1  at least one file could not be read, converted or written (a missing or\n"
        "    unreadable input, an unknown format, a refusal, --range beyond a file's\n"
        "    scans)\n"
        " 2  the command line itself is wrong (unknown option, bad value, conflicting\n"
        "    operands, a writer that does not exist)\n";
    return text;
}

// Reads all of `in`, up to the bound; nullopt (with the reason) beyond it.
std::optional<std::string> read_all(std::FILE* in, std::string& problem) {
    std::string data;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        if (data.size() + n > kMaxStdinBytes) {
            problem = "standard input holds more than 256 MB";
            return std::nullopt;
        }
        data.append(buf, n);
    }
    if (std::ferror(in)) {
        problem = "standard input cannot be read";
        return std::nullopt;
    }
    return data;
}

// A fresh record for the next file of a batch: what the last one set goes
// back to its start value; only the points it touched are cleared.
// The lanes of a batch: -j N, or as many as there are processors; never more
// than there are files. Where no memory stream exists, one.
int batch_lanes(int jobs, std::size_t files) {
#ifdef _WIN32
    (void)jobs;
    (void)files;
    return 1;
#else
    const int wanted = jobs > 0 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(wanted, 1)),
                                                  std::max<std::size_t>(files, 1)));
#endif
}

// The messages of one item of a parallel batch, kept in memory.
class MessageBuffer {
  public:
    MessageBuffer() = default;
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;
    ~MessageBuffer() { take(); }
    bool open() {
#ifdef _WIN32
        return false;
#else
        stream_ = ::open_memstream(&data_, &size_);
        return stream_ != nullptr;
#endif
    }
    std::FILE* stream() const noexcept {
        return stream_;
    }
    std::string take() {
        std::string text;
        if (stream_ != nullptr) {
            std::fclose(stream_);
            stream_ = nullptr;
            if (data_ != nullptr) text.assign(data_, size_);
        }
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
        return text;
    }

  private:
    std::FILE* stream_ = nullptr;
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

void reset_record(PowderPattern& r, bool read_succeeded) {
    if (read_succeeded)
        std::fill_n(r.intensity.data(), std::clamp(r.point_count, 0, kPointCapacity), 0.0f);
    else
        r.intensity.clear();
    r.lines_read = 0;
    r.lambda1 = r.lambda2 = r.alpha_ratio = 0.0f;
    r.set_title("");
    r.two_theta_start = r.two_theta_end = r.two_theta_step = r.count_time = 0.0f;
    r.point_count = 0;
}

struct OutputTarget {
    FormatId format = FormatId::none;
};

// Converts one input (already open on unit 1, its format known) to `output`
// ("-": standard output). True when the output was written.
struct Converter {
    Workspace& ws;
    CliInteraction& ui;
    std::FILE* out;

    ConversionResult last;

    bool run(const std::string& input, FormatId input_format, const std::string& output,
             OutputTarget target) {
        const bool to_stdout = output == "-";
        if (to_stdout) {
            ws.output().open_memory("-");
        } else if (ws.output().open(output, /*create_now=*/false) != Outcome::done) {
            ws.input().close();
            ui.subject = output;
            ui.show_failure(kMsgOpenOutput, lower_first(ws.output().commit_error()));
            return false;
        }
        ConversionSession& session = ws.session();
        session.input_path = input;
        session.output_path = output;
        session.input_ready = session.output_ready = true;
        session.input_format = input_format;
        session.output_format = target.format;

        // Standard output: the driver reads, the writer runs here, so that the
        // bytes can go to standard output before the unit closes.
        last = run_conversion(ws, input_format, to_stdout ? FormatId::none : target.format);
        if (!to_stdout || !last.succeeded()) return last.succeeded();
        OutputUnit& unit = ws.output();
        unit.restart();
        ws.abort_report.clear();
        ws.failure_reason.clear();
        const std::size_t read_warnings = ws.warnings.size();
        const FormatInfo& writer = *find_format(target.format);
        const std::string_view file = file_name_part(input);
        warn_assumed_wavelengths(ws, writer, file);
        const ConversionStatus st = writer.codec(ws, CodecMode::write);
        if (st != ConversionStatus::done) {
            unit.close(false);
            ui.subject = output;
            ui.show_failure(failure_message_for(ws, st, true), failure_reason_for(ws, st, true));
            return false;
        }
        warn_unused_title(ws, file);
        for (std::size_t i = read_warnings; i < ws.warnings.size(); ++i) {
            ui.error_line(ui.subject + ": warning: " + ws.warnings[i]);
            ++ui.warnings_shown;
            last.warnings.push_back(ws.warnings[i]);
        }
        if (to_stdout) {
            const std::string& bytes = unit.content();
            errno = 0;
            const bool ok = platform::write_bytes(out, bytes);
            const int error = errno;
            unit.close(false);
            if (!ok)
                ui.error_line("-: " + std::string(kMsgWriteError) + ": standard output: " +
                              (error != 0 ? std::strerror(error) : "the write failed"));
            return ok;
        }
        if (!unit.close(true)) {
            ui.subject = output;
            ui.show_failure(kMsgWriteError, failure_reason_for(ws, ConversionStatus::record_error,
                                                               /*writing=*/true));
            return false;
        }
        if (ui.verbose) fmt::print(out, "{}\n", success_count_text(ws.record().point_count));
        return true;
    }
};

std::string cannot_write(FormatId id) {
    std::string writable;
    for (const auto& f : formats())
        if (f.writes)
            writable += std::string(writable.empty() ? "" : ", ") + std::string(f.short_name);
    return "'" + std::string(short_name(id)) + "' (" + std::string(find_format(id)->list_text) +
           ") cannot be written; the output formats are " + writable;
}

ContentGuess guess_of_file(const std::string& path) {
    return detect_file(path);
}

// How many scans the file open on unit 1 holds: its reader reads scan 1 (of
// any axis) and tells the count; 1 when it does not tell or cannot read it.
int32_t count_scans(Workspace& ws, FormatId format) {
    const FormatInfo* reader = find_format(format);
    if (reader == nullptr) return 1;
    const ReadOptions kept = ws.options;
    ws.options.scan = 1;
    ws.options.any_axis = true;
    ws.clear_diagnostics();
    ws.record().max_points = kPointCapacity;
    const ConversionStatus s = reader->codec(ws, CodecMode::read);
    const int32_t count = s == ConversionStatus::done ? std::max(ws.scan.count, 1) : 1;
    ws.options = kept;
    ws.input().close();
    ws.clear_diagnostics();
    return count;
}

// Converts every scan of each input into its own output, numbered from the
// base name. The outputs are planned (and checked) before anything is written.
template <class OpenInput>
int convert_all_scans(Workspace& ws, CliInteraction& ui, Converter& converter,
                      const std::vector<BatchItem>& bases, OutputTarget target,
                      const ReadOptions& options, OpenInput& open_input, const std::string& out_dir,
                      bool no_clobber, bool quiet, std::FILE* out, std::FILE* err) {
    struct Scan {
        FormatId format;
        int32_t number;
    };
    std::vector<std::string> inputs;
    std::vector<BatchItem> items;
    std::vector<Scan> scans;
    for (const BatchItem& base : bases) {
        inputs.push_back(base.input);
        FormatChoice choice;
        if (const int status = open_input(base.input, choice); status != 0) return status;
        const int32_t count = count_scans(ws, choice.format);
        reset_record(ws.record(), false);
        for (int32_t k = 1; k <= count; ++k) {
            items.push_back({base.input, scan_output_name(base.output, k, count)});
            scans.push_back({choice.format, k});
        }
    }
    const BatchPlan plan = check_plan(inputs, items);
    if (!plan.ok()) {
        fmt::print(err, "qelda-convert: {}; nothing converted\n", one_line(plan.error));
        return 2;
    }
    if (no_clobber) {
        for (const auto& item : plan.items)
            if (fs::exists(item.output)) {
                fmt::print(err, "qelda-convert: {} exists; nothing converted (--no-clobber)\n",
                           item.output);
                return 2;
            }
    }
    if (!out_dir.empty()) {
        std::error_code ec;
        fs::create_directories(out_dir, ec);
        if (ec) {
            fmt::print(err, "qelda-convert: {}: the folder cannot be made: {}\n", out_dir,
                       ec.message());
            return 1;
        }
    }
    int converted = 0, failed = 0, skipped = 0;
    bool last_ok = true;
    ui.verbose = false;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const BatchItem& item = plan.items[i];
        reset_record(ws.record(), last_ok);
        ui.clear_events();
        ws.options = options;
        ws.options.scan = scans[i].number;
        ws.options.all_scans = true;
        FormatChoice choice;
        bool ok = open_input(item.input, choice) == 0;
        if (ok) {
            ui.hold_failures = true;
            ui.held_failure.clear();
            ok = converter.run(item.input, choice.format, item.output, target);
            ui.hold_failures = false;
            if (!ok && ws.scan.axis_refused) {
                ui.error_line(item.input + ": warning: scan " + std::to_string(scans[i].number) +
                              " skipped: " + converter.last.reason + " (--any-axis converts it)");
                ++ui.warnings_shown;
                ++skipped;
                last_ok = false;
                continue;
            }
            if (!ui.held_failure.empty()) ui.error_line(ui.held_failure);
        }
        last_ok = ok;
        ok ? ++converted : ++failed;
    }
    ws.options = options;
    if (!quiet || failed > 0)
        fmt::print(out, "{} converted, {} failed, {} skipped, {} warning{}\n", converted, failed,
                   skipped, ui.warnings_shown, ui.warnings_shown == 1 ? "" : "s");
    return failed > 0 ? 1 : 0;
}

}  // namespace

std::optional<double> parse_plain_number(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    double v = 0;
    const auto res =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (text.empty() || res.ec != std::errc{} || res.ptr != text.data() + text.size() ||
        !std::isfinite(v))
        return std::nullopt;
    return v;
}

int run_convert_cli(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                    std::FILE* err) {
    CLI::App app{"Converts powder diffraction step scans between file formats.", "qelda-convert"};
    app.formatter(std::make_shared<UsageFormatter>());
    app.footer(formats_help());
    std::vector<std::string> operands;
    std::string from, to, out_dir, ext;
    std::optional<std::string> title, count_time, header_lines, wavelengths, range;
    std::optional<std::string> override_wavelengths, override_title, override_count_time;
    bool read_sigma = false, write_sigma = false, no_title = false, slit = false, quiet = false;
    bool no_clobber = false, force = false, any_axis = false, keep = false, detect = false;
    app.add_option("FILE", operands,
                   "INPUT OUTPUT; or the inputs of a batch, then a folder if no -o;\n"
                   "'-' is standard input or output")
        ->type_name("");
    app.add_option("-f,--from", from, "input format (all inputs)")->type_name("FORMAT");
    app.add_option("-t,--to", to, "output format")->type_name("FORMAT");
    app.add_option("-o,--output-dir", out_dir, "batch: write the outputs into DIR")
        ->type_name("DIR");
    app.add_option("--ext", ext, "batch: the outputs' extension (default: the format's own)")
        ->type_name("EXT");
    bool keep_extension = false, numbered = false, list_formats = false;
    app.add_flag("--keep-extension", keep_extension,
                 "batch: keep the input's extension (a.udf gives a.udf.dat)");
    app.add_flag("--numbered", numbered,
                 "batch: a name already taken gets a number (a.dat, a-2.dat)");
    app.add_flag("-n,--no-clobber", no_clobber, "never replace an existing output");
    app.add_flag("--force", force, "replace an OUTPUT that holds a file of the input's format");
    bool follow_links = false;
    app.add_flag("--follow-links", follow_links,
                 "an OUTPUT that is a symbolic link: write the file it leads to, in place");
    app.add_option("--wavelengths", wavelengths,
                   "L1,L2,RATIO for formats that hold none (default 1.5405,1.5443,0.5)")
        ->type_name("L1,L2,RATIO");
    app.add_option("--title", title, "title for x-y input and output")->type_name("TITLE");
    app.add_option("--count-time", count_time, "count time per step (x-y input; default 1.0)")
        ->type_name("SECONDS");
    app.add_option("--override-wavelengths", override_wavelengths,
                   "L1,L2,RATIO replacing what the file states (with a warning)")
        ->type_name("L1,L2,RATIO");
    app.add_option("--override-title", override_title,
                   "title replacing the file's (with a warning)")
        ->type_name("TITLE");
    app.add_option("--override-count-time", override_count_time,
                   "count time per step replacing the file's (with a warning)")
        ->type_name("SECONDS");
    app.add_option("--header-lines", header_lines,
                   "header lines to skip in x-y input (default: detected)")
        ->type_name("N");
    app.add_flag("--read-sigma", read_sigma, "x-y input has a third column of sigma(I)");
    bool no_sigma = false;
    app.add_flag("--no-sigma", no_sigma,
                 "x-y input: do not read a third column as sigma(I) (.xye files are read with it)");
    app.add_flag("--write-sigma", write_sigma, "write sigma(I) into x-y output");
    app.add_flag("--no-title", no_title, "write no title line into x-y output");
    app.add_flag("--slit-correction", slit, "renormalise variable-slit data for GSAS output");
    app.add_option("--range", range, "convert scan N (1-based) of a file that holds several")
        ->type_name("N");
    bool all_scans = false;
    app.add_flag("--all-scans", all_scans,
                 "convert every scan of a file, one output each: NAME_01.EXT, NAME_02.EXT...");
    app.add_flag("--any-axis", any_axis, "convert a scan whose axis is not 2theta");
    app.add_flag("--keep-intensities", keep, "do not raise intensities below 0.001 by 0.001");
    std::optional<std::string> resample, axis, to_wavelength;
    app.add_option("--resample", resample,
                   "put the points on an even grid of STEP degrees (auto: the median step) by "
                   "linear interpolation")
        ->type_name("STEP|auto");
    app.add_option("--axis", axis, "x axis of x-y, xye, cif and json output: 2theta, d or q")
        ->type_name("2theta|d|q");
    app.add_option("--to-wavelength", to_wavelength,
                   "re-express the pattern at wavelength L (Angstrom) at equal d")
        ->type_name("L");
    app.add_flag("--detect", detect, "print the detected format of each FILE; convert nothing");
    app.add_flag("--list-formats", list_formats, "print every format and exit");
    app.add_flag("-q,--quiet", quiet, "print nothing but failures and warnings");
    bool sync = false;
    app.add_flag("--sync", sync, "flush each output file and its folder to the disk");
    int jobs = 0;
    app.add_option("-j,--jobs", jobs,
                   "batch: convert N files at once (default: the number of processors)")
        ->type_name("N")
        ->check(CLI::Range(1, 256));
    app.set_version_flag("--version", kVersion);
    // Every value placeholder that no option names says VALUE, never TEXT.
    app.get_formatter()->label("TEXT", "VALUE");
    app.get_formatter()->label("Positionals", "Operands");

    auto usage_error = [&](const std::string& what) {
        fmt::print(err, "qelda-convert: {}\n{}", one_line(what), kTryHelp);
        return 2;
    };
    // Nothing converted, on purpose (the output would replace what it must not).
    auto refusal = [&](const std::string& what) {
        fmt::print(err, "qelda-convert: {}\n", one_line(what));
        return 1;
    };

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fmt::print(out, "{}", app.help());
        return 0;
    } catch (const CLI::CallForVersion&) {
        fmt::print(out, "{}\n", kVersion);
        return 0;
    } catch (const CLI::ExtrasError& e) {
        // The first argument that is no option of ours.
        std::string what = e.what();
        for (int i = 1; i < argc; ++i) {
            const std::string_view a = argv[i];
            if (a == "--") break;
            if (a.size() > 1 && a[0] == '-' && what.find(std::string(a)) != std::string::npos)
                return usage_error((a[1] == '-' ? "unrecognized option '" : "invalid option -- '") +
                                   std::string(a[1] == '-' ? a : a.substr(1)) + "'");
        }
        return usage_error(what);
    } catch (const CLI::ParseError& e) {
        return usage_error(e.what());
    }
    if (list_formats) {
        fmt::print(out, "{}", formats_list());
        return 0;
    }
    if (operands.empty())
        return usage_error(detect ? "missing FILE operand" : "missing file operand");

    std::optional<FormatId> forced_input;
    if (!from.empty()) {
        forced_input = format_from_name(from);
        if (!forced_input) return usage_error("unknown input format '" + from + "'");
    }

    // Standard input, read once, whatever asks for it.
    std::optional<std::string> stdin_bytes;
    auto take_stdin = [&]() -> bool {
        if (stdin_bytes) return true;
        std::string problem;
        stdin_bytes = read_all(in, problem);
        if (!stdin_bytes) fmt::print(err, "qelda-convert: -: {}: {}\n", kMsgOpenInput, problem);
        return stdin_bytes.has_value();
    };
    auto choose = [&](const std::string& path) -> FormatChoice {
        if (forced_input) return {*forced_input, "--from", {}};
        if (path == "-")
            return choose_input_format("", [&] { return detect_content(*stdin_bytes); });
        return choose_input_format(path, [&] { return guess_of_file(path); });
    };

    if (detect) {
        bool all = true;
        for (const auto& path : operands) {
            if (path == "-" && !take_stdin()) return 1;
            if (path != "-") {
                // Only a file that can be read has a format.
                std::FILE* f = platform::open_file(path, "rb");
                std::error_code ec;
                if (f == nullptr || fs::is_directory(platform::to_path(path), ec)) {
                    const int error = errno;
                    if (f != nullptr) std::fclose(f);
                    fmt::print(err, "qelda-convert: {}: {}\n", path,
                               f != nullptr ? "is a folder" : std::strerror(error));
                    all = false;
                    continue;
                }
                std::fclose(f);
            }
            const FormatChoice c = choose(path);
            if (c.format == FormatId::none) {
                fmt::print(out, "{}: unknown: {}\n", path, c.error);
                all = false;
            } else {
                fmt::print(out, "{}: {} ({})\n", path, short_name(c.format), c.how);
            }
        }
        return all ? 0 : 1;
    }

    // Every number is a plain decimal number, checked against its range, and
    // handed to the prompt box as a text with a point, so that the box's
    // implied decimals never apply.
    ScriptedInteraction::Answers answers;
    if (wavelengths && override_wavelengths)
        return usage_error("--wavelengths and --override-wavelengths: give one of them");
    std::optional<std::array<float, 3>> wavelengths_override;
    if (const auto& given = override_wavelengths ? override_wavelengths : wavelengths; given) {
        std::vector<std::string> parts;
        std::string_view rest = *given;
        while (true) {
            const auto comma = rest.find(',');
            parts.emplace_back(rest.substr(0, comma));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        const std::string what =
            (override_wavelengths ? "--override-wavelengths " : "--wavelengths ") + *given + ": ";
        if (parts.size() != 3) return usage_error(what + "three numbers L1,L2,RATIO are needed");
        std::string boxes[3];
        double values[3];
        const char* names[3] = {"L1", "L2", "RATIO"};
        for (int i = 0; i < 3; ++i) {
            const auto v = parse_plain_number(parts[i]);
            const auto text = v ? box_text(*v, 8) : std::nullopt;
            if (!text) return usage_error(what + names[i] + " '" + parts[i] + "' is not a number");
            boxes[i] = *text;
            values[i] = *parse_plain_number(*text);
        }
        if (!(values[0] > 0 && values[0] < 10))
            return usage_error(what + "L1 must be above 0 and below 10 Angstrom");
        if (!(values[1] == 0 || (values[1] > 0 && values[1] < 10)))
            return usage_error(what + "L2 must be 0 (no second line) or above 0 and below 10");
        if (!(values[2] >= 0 && values[2] <= 1))
            return usage_error(what + "RATIO must be from 0 to 1");
        answers.wavelengths = {boxes[0], boxes[1], boxes[2]};
        if (override_wavelengths)
            wavelengths_override = {static_cast<float>(values[0]), static_cast<float>(values[1]),
                                    static_cast<float>(values[2])};
    } else {
        answers.wavelengths.chosen = false;  // the defaults, which nobody chose
    }
    if (count_time && override_count_time)
        return usage_error("--count-time and --override-count-time: give one of them");
    std::optional<float> count_time_override;
    if (const auto& given = override_count_time ? override_count_time : count_time; given) {
        const std::string what = override_count_time ? "--override-count-time " : "--count-time ";
        const auto v = parse_plain_number(*given);
        const auto text = v ? box_text(*v, 10) : std::nullopt;
        if (!text) return usage_error(what + *given + ": not a number that fits");
        if (!(*parse_plain_number(*text) >= 0.001))
            return usage_error(what + *given + ": must be 0.001 or more");
        answers.count_time = *text;
        if (override_count_time)
            count_time_override = static_cast<float>(*parse_plain_number(*text));
    }
    // Not given: left empty, so that the x-y reader finds the header lines.
    answers.header_lines.clear();
    if (header_lines) {
        const auto v = parse_whole_number(*header_lines);
        if (!v || *v < 0 || *v > 99999)
            return usage_error("--header-lines " + *header_lines +
                               ": a whole number from 0 to 99999 is needed");
        answers.header_lines = std::to_string(*v);
    }
    ReadOptions options;
    if (range) {
        const auto v = parse_whole_number(*range);
        if (!v || *v < 1 || *v > 1000000)
            return usage_error("--range " + *range + ": a whole number from 1 is needed");
        options.scan = static_cast<int32_t>(*v);
    }
    options.any_axis = any_axis;
    options.keep_intensities = keep;
    PatternOptions pattern;
    if (resample) {
        const auto v =
            *resample == "auto" ? std::optional<double>(0.0) : parse_plain_number(*resample);
        if (!v || !(*v >= 0.0 && *v <= 180.0) || (*resample != "auto" && !(*v > 0.0)))
            return usage_error("--resample " + *resample +
                               ": a step in degrees above 0, or auto, is needed");
        pattern.resample_step = *v;
    }
    if (axis) {
        const auto a = axis_named(*axis);
        if (!a) return usage_error("--axis " + *axis + ": 2theta, d or q is needed");
        pattern.axis = *a;
    }
    if (to_wavelength) {
        const auto v = parse_plain_number(*to_wavelength);
        if (!v || !(*v > 0.0 && *v < 10.0))
            return usage_error("--to-wavelength " + *to_wavelength +
                               ": a wavelength above 0 and below 10 Angstrom is needed");
        pattern.to_wavelength = *v;
    }
    options.no_sigma = no_sigma;
    if (title && override_title)
        return usage_error("--title and --override-title: give one of them");
    if (const auto& given = override_title ? override_title : title; given) {
        answers.title_given = true;
        answers.title = *given;
    }
    options.wavelengths_given = wavelengths.has_value();
    options.title_given = title.has_value();
    options.count_time_given = count_time.has_value();
    options.override_wavelengths = wavelengths_override;
    options.override_title = override_title;
    options.override_count_time = count_time_override;
    answers.read_sigma = read_sigma;
    answers.write_sigma = write_sigma;
    answers.write_title = !no_title;
    answers.slit_correction = slit;

    OutputTarget target;
    if (!to.empty()) {
        const auto id = format_from_name(to);
        const FormatInfo* f = id ? find_format(*id) : nullptr;
        if (f == nullptr || !(f->in_output_list || f->writes))
            return usage_error("'" + to + "' is not an output format");
        if (!f->writes) return usage_error(cannot_write(*id));
        target.format = *id;
        if (pattern.axis != Axis::two_theta && !f->holds_axis)
            return usage_error("--axis " + *axis + ": " + std::string(f->short_name) +
                               " holds 2theta only; d and q are written to xy, xye, cif and json");
    }
    if (out_dir == "-")
        return usage_error("-o -: a batch is written into a folder, not to standard output");
    if (keep_extension && numbered)
        return usage_error("--keep-extension and --numbered name the outputs in two ways");
    // A trailing folder takes the outputs, as cp takes its target: an existing
    // folder after two or more operands, or a name ending in '/' after one or more.
    if (out_dir.empty() && operands.size() >= 2 && operands.back() != "-") {
        std::error_code ec;
        const std::string& last = operands.back();
        const bool folder =
            fs::is_directory(platform::to_path(last), ec) ||
            (!last.empty() && platform::kSeparators.find(last.back()) != std::string_view::npos);
        if (folder && (operands.size() > 2 || !fs::exists(platform::to_path(last), ec))) {
            out_dir = last;
            operands.pop_back();
        }
    }
    if (!ext.empty() && ext[0] != '.') ext.insert(ext.begin(), '.');
    if (ext.find_first_of(platform::kSeparators) != std::string::npos)
        return usage_error("--ext " + ext + ": not a name");
    auto extension_of = [&](const OutputTarget& t) {
        return ext.empty() ? std::string(default_extension(t.format)) : ext;
    };

    CliInteraction ui(std::move(answers), out, err);
    ui.any_axis_given = any_axis;
    ui.range_given = range.has_value();
    if (forced_input) ui.from_given = short_name(*forced_input);
    Workspace ws(ui);
    ws.output().set_sync(sync);
    ws.output().set_follow_links(follow_links);
    ws.options = options;
    ws.pattern_options = pattern;
    Converter converter{ws, ui, out, {}};

    // Opens unit 1 on a file or standard input, and tells its format.
    auto open_input = [&](const std::string& path, FormatChoice& choice) -> int {
        ui.subject = path;
        if (path == "-") {
            if (!take_stdin()) return 1;
        } else if (ws.input().open(path) != Outcome::done) {
            ui.show_failure(kMsgOpenInput, lower_first(ws.input().problem()));
            return 1;
        }
        choice = choose(path);
        if (choice.format == FormatId::none) {
            ws.input().close();
            ui.error_line(path + ": cannot tell its format: " + choice.error);
            return 1;
        }
        if (path == "-") ws.input().open_bytes(std::move(*stdin_bytes), "standard input");
        return 0;
    };

    const bool batch = !out_dir.empty() || operands.size() > 2;
    if (all_scans) {
        if (range) return usage_error("--all-scans and --range exclude each other");
        for (const auto& path : operands)
            if (path == "-")
                return usage_error("--all-scans needs files, not standard input or output");
        // Each input with the name its outputs are numbered from.
        std::vector<BatchItem> bases;
        if (!batch) {
            if (operands.size() != 2)
                return usage_error("INPUT and OUTPUT are needed (or -t FORMAT -o DIR INPUT...)");
            std::string output = operands[1];
            if (fs::is_directory(output)) {
                if (to.empty())
                    return usage_error(output + " is a folder: give the format with --to");
                output = batch_output_name(operands[0], output, extension_of(target));
            } else if (to.empty()) {
                const auto id = output_format_of_name(output);
                if (!id)
                    return usage_error("cannot tell an output format from '" + output +
                                       "'; use --to");
                target.format = *id;
            }
            bases.push_back({operands[0], output});
        } else {
            if (to.empty()) return usage_error("a batch needs the output format: -t FORMAT");
            for (const auto& path : operands)
                bases.push_back({path, batch_output_name(path, out_dir, extension_of(target))});
        }
        return convert_all_scans(ws, ui, converter, bases, target, options, open_input, out_dir,
                                 no_clobber, quiet, out, err);
    }
    if (!batch) {
        if (operands.size() != 2)
            return usage_error("INPUT and OUTPUT are needed (or -t FORMAT -o DIR INPUT...)");
        const std::string& input = operands[0];
        std::string output = operands[1];
        if (output != "-" && fs::is_directory(platform::to_path(output))) {
            if (to.empty()) return usage_error(output + " is a folder: give the format with --to");
            if (input == "-") return usage_error("'-' as INPUT needs an OUTPUT file name");
            output = batch_output_name(input, output, extension_of(target));
        } else if (to.empty()) {
            if (output == "-") return usage_error("'-' as OUTPUT needs --to");
            const auto id = output_format_of_name(output);
            if (!id)
                return usage_error("cannot tell an output format from '" + output + "'; use --to");
            if (!find_format(*id)->writes) return usage_error(cannot_write(*id));
            target.format = *id;
        }
        // Nothing else on standard output when it carries the output.
        ui.verbose = !quiet && output != "-";
        FormatChoice choice;
        if (const int status = open_input(input, choice); status != 0) return status;
        if (output != "-") {
            std::error_code ec;
            const fs::path output_path = platform::to_path(output);
            const bool exists = fs::exists(output_path, ec);
            if (exists && input != "-" && same_file(input, output)) {
                ws.input().close();
                return refusal(output + " is the input " + input + " itself; nothing converted");
            }
            if (!follow_links && fs::is_symlink(fs::symlink_status(output_path, ec))) {
                ws.input().close();
                return refusal(output +
                               " is a symbolic link; not written (--follow-links writes the file "
                               "it leads to, in place)");
            }
            if (exists && no_clobber) {
                ws.input().close();
                return refusal(output + " exists; not replaced (--no-clobber)");
            }
            if (exists && !force && fs::is_regular_file(output_path, ec) &&
                choose_input_format(output, [&] { return guess_of_file(output); }).format ==
                    choice.format) {
                ws.input().close();
                return refusal(output + " exists and holds a " +
                               std::string(short_name(choice.format)) + " file, as " + input +
                               " does; not replaced (--force replaces it)");
            }
        }
        return converter.run(input, choice.format, output, target) ? 0 : 1;
    }

    // The batch: the plan is checked before anything is written.
    if (to.empty()) return usage_error("a batch needs the output format: -t FORMAT");
    for (const auto& path : operands)
        if (path == "-") return usage_error("'-' cannot be part of a batch");
    {
        std::error_code ec;
        const fs::path dir = platform::to_path(out_dir);
        if (!out_dir.empty() && fs::exists(dir, ec) && !fs::is_directory(dir, ec))
            return usage_error("-o " + out_dir + ": not a folder");
    }
    const BatchPlan plan = plan_batch(operands, out_dir, extension_of(target),
                                      keep_extension ? BatchNaming::keep_extension
                                      : numbered     ? BatchNaming::numbered
                                                     : BatchNaming::replace_extension);
    if (!plan.ok()) {
        std::string what = plan.error + "; nothing converted";
        // Two inputs onto one name: the options that name them apart.
        if (plan.error.find(" would both be written to ") != std::string::npos && !keep_extension)
            what +=
                " (--keep-extension keeps each input's extension in its output's name, "
                "--numbered numbers the names already taken)";
        return refusal(what);
    }
    if (no_clobber) {
        std::vector<std::string> existing;
        for (const auto& item : plan.items)
            if (fs::exists(platform::to_path(item.output))) existing.push_back(item.output);
        if (!existing.empty()) {
            std::string names = existing[0];
            for (std::size_t i = 1; i < existing.size() && i < 3; ++i) names += ", " + existing[i];
            if (existing.size() > 3) names += fmt::format(" and {} more", existing.size() - 3);
            return refusal(names + (existing.size() == 1 ? " exists" : " exist") +
                           "; nothing converted (--no-clobber)");
        }
    }
    if (!out_dir.empty()) {
        std::error_code ec;
        fs::create_directories(platform::to_path(out_dir), ec);
        if (ec) {
            fmt::print(err, "qelda-convert: {}: the folder cannot be made: {}\n", out_dir,
                       ec.message());
            return 1;
        }
    }
    const bool show_progress = !quiet && platform::is_terminal(err);
    auto next_draw = std::chrono::steady_clock::now();
    int converted = 0, failed = 0;
    const std::size_t total = plan.items.size();
    // Redrawn at most every 50 ms: a terminal is slower than a short conversion.
    auto draw_progress = [&](std::size_t i) {
        if (show_progress && std::chrono::steady_clock::now() >= next_draw) {
            ui.progress(fmt::format("[{}/{}] {}% {}", i + 1, total, (i * 100) / total,
                                    file_name_part(plan.items[i].input)));
            next_draw = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        }
    };
    const int lanes = batch_lanes(jobs, total);
    if (lanes <= 1) {
        bool last_ok = true;
        for (std::size_t i = 0; i < total; ++i) {
            const BatchItem& item = plan.items[i];
            draw_progress(i);
            reset_record(ws.record(), last_ok);
            ui.clear_events();
            FormatChoice choice;
            bool ok = open_input(item.input, choice) == 0;
            if (ok) ok = converter.run(item.input, choice.format, item.output, target);
            last_ok = ok;
            ok ? ++converted : ++failed;
        }
    } else {
        // Each lane converts with a workspace of its own; the messages of an
        // item are kept until every item before it has printed its own, so
        // that what is printed is what -j 1 prints.
        struct Lane {
            std::unique_ptr<CliInteraction> ui;
            std::unique_ptr<Workspace> ws;
            bool last_ok = true;
        };
        struct Done {
            std::string messages;
            bool ok = false;
            int warnings = 0;
        };
        std::vector<Lane> lane(static_cast<std::size_t>(lanes));
        for (Lane& l : lane) {
            l.ui = std::make_unique<CliInteraction>(ui.answers(), out, err);
            l.ui->any_axis_given = ui.any_axis_given;
            l.ui->range_given = ui.range_given;
            l.ui->from_given = ui.from_given;
            l.ws = std::make_unique<Workspace>(*l.ui);
            l.ws->output().set_sync(sync);
            l.ws->output().set_follow_links(follow_links);
            l.ws->options = options;
            l.ws->pattern_options = ws.pattern_options;
        }
        std::vector<Done> done(total);
        auto work = [&](std::size_t i, int id) {
            Lane& l = lane[static_cast<std::size_t>(id)];
            const BatchItem& item = plan.items[i];
            MessageBuffer buffer;
            if (!buffer.open()) {
                done[i].messages = "qelda-convert: " + item.input +
                                   ": not converted: no memory for its messages\n";
                return;
            }
            l.ui->set_error_stream(buffer.stream());
            const int before = l.ui->warnings_shown;
            try {
                reset_record(l.ws->record(), l.last_ok);
                l.ui->clear_events();
                l.ui->subject = item.input;
                FormatChoice choice;
                bool ok = false;
                if (l.ws->input().open(item.input) != Outcome::done) {
                    l.ui->show_failure(kMsgOpenInput, lower_first(l.ws->input().problem()));
                } else if (choice = choose(item.input); choice.format == FormatId::none) {
                    l.ws->input().close();
                    l.ui->error_line(item.input + ": cannot tell its format: " + choice.error);
                } else {
                    Converter c{*l.ws, *l.ui, out, {}};
                    ok = c.run(item.input, choice.format, item.output, target);
                }
                l.last_ok = ok;
                done[i].ok = ok;
            } catch (const std::exception& e) {
                l.ws->input().close();
                l.ws->output().close(false);
                l.ui->error_line(item.input + ": not converted: " + e.what());
                l.last_ok = false;
            }
            done[i].messages = buffer.take();
            done[i].warnings = l.ui->warnings_shown - before;
            l.ui->set_error_stream(err);
        };
        auto report = [&](std::size_t i) {
            if (!done[i].messages.empty()) {
                ui.end_progress();
                std::fwrite(done[i].messages.data(), 1, done[i].messages.size(), err);
            }
            ui.warnings_shown += done[i].warnings;
            done[i].ok ? ++converted : ++failed;
            done[i] = Done{};
            if (i + 1 < total) draw_progress(i + 1);
            return true;
        };
        if (total > 0) draw_progress(0);
        run_ordered(total, lanes, work, report);
    }
    ui.end_progress();
    // The failures have had their lines on standard error: -q prints nothing else.
    if (!quiet)
        fmt::print(out, "{} converted, {} failed, {} warning{}\n", converted, failed,
                   ui.warnings_shown, ui.warnings_shown == 1 ? "" : "s");
    return failed > 0 ? 1 : 0;
}

}  // namespace qelda
