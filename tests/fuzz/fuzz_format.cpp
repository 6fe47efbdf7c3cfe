// One libFuzzer target per input format: the bytes are the input file; the
// real driver reads them through the scripted interaction, then every writer
// writes the record to a scratch folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/driver.h"
#include "core/interaction.h"
#include "core/workspace.h"
#include "formats/registry.h"

#ifndef QELDA_FUZZ_FORMAT
#error "QELDA_FUZZ_FORMAT names the input format"
#endif

namespace {

const std::filesystem::path& scratch_dir() {
    static const std::filesystem::path dir = [] {
        auto d =
            std::filesystem::temp_directory_path() / ("qelda-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace qelda;
    const auto input_format = static_cast<FormatId>(QELDA_FUZZ_FORMAT);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (int out = 2; out <= 7; ++out) {
        ScriptedInteraction ui;
        // Alternate the prompt answers so that both paths of every choice run.
        ui.answers().read_sigma = (size % 2) == 1;
        // "" takes the number of header lines the reader detects.
        ui.answers().header_lines = (size % 3) == 0 ? "1" : (size % 3) == 1 ? "0" : "";
        ui.answers().write_sigma = out % 2 == 0;
        ui.answers().slit_correction = (size % 5) == 0;
        Workspace ws(ui);
        ws.input().open_bytes(bytes, "fuzz.in");
        const auto target = scratch_dir() / ("out" + std::to_string(out));
        ws.output().open(target.string(), true);
        ws.session().input_path = "fuzz.in";
        ws.session().output_path = target.string();
        ws.session().input_ready = ws.session().output_ready = true;
        const ConversionResult result =
            run_conversion(ws, input_format, static_cast<FormatId>(out));
        if (result.read_status != ConversionStatus::done) break;  // every writer sees the same read
        const PowderPattern& r = ws.record();
        if (r.point_count > r.max_points) __builtin_trap();  // a reader stored past its limit
    }
    return 0;
}
