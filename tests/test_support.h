// Shared helpers for the tests: a workspace with scripted answers, in-memory
// units, sample files and scratch folders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/driver.h"
#include "core/interaction.h"
#include "core/workspace.h"
#include "formats/codecs.h"
#include "formats/registry.h"

namespace qelda::testing {

// A workspace answering prompts from `answers`, with helpers to feed unit 1
// from bytes and to collect unit 2 in memory.
struct Bench {
    ScriptedInteraction ui;
    Workspace ws{ui};

    Bench() { ws.record().max_points = kPointCapacity; }
    PowderPattern& r() { return ws.record(); }
    ScriptedInteraction::Answers& answers() { return ui.answers(); }

    // Opens unit 1 on `content` (named `name` in reports).
    void input(std::string content, std::string name = "input.dat");
    // Opens unit 2 in memory.
    void memory_output(std::string name = "output.dat") {
        ws.output().open_memory(std::move(name));
        ws.session().output_path = name;
        ws.session().output_ready = true;
    }
    // Runs a codec in read mode on `content`.
    ConversionStatus read(CodecRoutine codec, std::string content, std::string name = "input.dat");
    // Runs a codec in read mode on `content` and checks the status, and that
    // `phrase` stands in the reason or the warnings (that nothing is said when
    // it is empty). True when the read succeeded as expected, so that the
    // caller goes on to check the record.
    bool read_as_expected(CodecRoutine codec, std::string content, std::string name,
                          ConversionStatus status, std::string_view phrase);
    // Runs a codec in write mode and returns what it wrote (empty on failure).
    ConversionStatus write(CodecRoutine codec, std::string& written) {
        memory_output();
        const ConversionStatus s = codec(ws, CodecMode::write);
        written = ws.output().content();
        return s;
    }
};

// Path of a sample under ../shared/samples, or nullopt when absent.
std::optional<std::filesystem::path> sample(const std::string& relative);
// Skips the test when a sample is missing.
#define QELDA_SAMPLE_OR_SKIP(var, rel)                                 \
    auto var##_opt = ::qelda::testing::sample(rel);                    \
    if (!var##_opt) GTEST_SKIP() << "sample folder absent: " << (rel); \
    const std::filesystem::path var = *var##_opt

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, std::string_view content);

// A fresh folder, removed at the end of the test.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// The lines of a written file, without their CR LF.
std::vector<std::string> lines_of(const std::string& text);

// Fills the record with a simple scan: n points from start by step.
void fill_scan(PowderPattern& r, int32_t n, float start, float step, float base = 100.0f);

// What qelda-convert, run in this process on `args` (without the program's
// name) and `stdin_bytes`, returned and printed.
struct CliRun {
    int status;
    std::string out, err;
};
CliRun run_cli(std::vector<std::string> args, std::string_view stdin_bytes = {});

}  // namespace qelda::testing
