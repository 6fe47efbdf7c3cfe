// One libFuzzer target per input format. One workspace serves every input, as
// in the program: the bytes are read once by the format's reader (unit 1 in
// memory), then every writer writes the record into memory (one input in 16
// makes a whole conversion into a real file instead). Between inputs only
// what the previous input can have touched is reset, so that an input costs what
// its conversion costs, not the clearing of the 100000-entry arrays.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/driver.h"
#include "core/interaction.h"
#include "core/workspace.h"
#include "formats/registry.h"

#ifndef QELDA_FUZZ_FORMAT
#error "QELDA_FUZZ_FORMAT names the input format"
#endif

namespace {

using namespace qelda;

struct Harness {
    ScriptedInteraction ui;
    Workspace ws{ui};
    // Entries of the point arrays that the last input can have written: a reader
    // stores at most one value per input byte, or up to the count it states.
    int32_t touched = 0;
};

Harness& harness() {
    static Harness h;
    return h;
}

const std::string& scratch_output() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qelda-fuzz-" +
               std::to_string(::getpid()) + ".out";
    }();
    return path;
}

void reset(Harness& h) {
    PowderPattern& r = h.ws.record();
    const auto n = static_cast<std::size_t>(std::clamp(h.touched, 0, kPointCapacity));
    std::memset(r.intensity.data(), 0, n * sizeof(float));
    std::memset(r.sigma.data(), 0, n * sizeof(float));
    r.max_points = kPointCapacity;
    r.lines_read = 0;
    r.lambda1 = r.lambda2 = r.alpha_ratio = 0.0f;
    r.set_title("");
    r.two_theta_start = r.two_theta_end = r.two_theta_step = r.count_time = 0.0f;
    r.point_count = 0;
    h.ws.abort_report.clear();
    h.ws.clear_diagnostics();
    h.ws.options = {};
    h.ui.clear_events();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Harness& h = harness();
    reset(h);
    Workspace& ws = h.ws;
    // Alternate the prompt answers with the input, so that both paths of every
    // choice run.
    auto& answers = h.ui.answers();
    answers.read_sigma = (size % 2) == 1;
    // "" takes the number of header lines the reader detects.
    answers.header_lines = (size % 3) == 0 ? "1" : (size % 3) == 1 ? "0" : "";
    answers.slit_correction = (size % 5) == 0;

    const auto input_format = static_cast<FormatId>(QELDA_FUZZ_FORMAT);
    const FormatInfo* reader = find_format(input_format);
    if (reader == nullptr) __builtin_trap();
    ws.input().open_bytes(std::string(reinterpret_cast<const char*>(data), size), "fuzz.in");
    ws.session().input_path = "fuzz.in";
    ws.session().input_ready = true;

    // One input in 16 (by its bytes) makes a whole conversion, as the program
    // does, into a real file: the driver and the file output stay fuzzed too.
    unsigned mix = static_cast<unsigned>(size);
    for (std::size_t i = 0; i < size && i < 32; ++i) mix = mix * 31 + data[i];
    if (mix % 16 == 0) {
        const FormatId output = static_cast<FormatId>(2 + mix / 16 % 6);
        ws.output().open(scratch_output(), true);
        ws.session().output_path = scratch_output();
        ws.session().output_ready = true;
        const ConversionResult result = run_conversion(ws, input_format, output);
        h.touched = kPointCapacity;  // the driver's own steps touch the whole record
        if (result.read_status == ConversionStatus::done &&
            ws.record().point_count > ws.record().max_points)
            __builtin_trap();
        return 0;
    }
    ConversionStatus status = reader->codec(ws, CodecMode::read);
    if (status == ConversionStatus::done) status = check_read(ws);
    PowderPattern& r = ws.record();
    h.touched = static_cast<int32_t>(
        std::max<std::size_t>(size + 1, static_cast<std::size_t>(std::max(r.point_count, 0))) &
        0x7fffffff);
    (void)failure_message_for(ws, status, false);
    (void)failure_reason_for(ws, status, false);
    ws.input().close();
    if (status != ConversionStatus::done) return 0;
    if (r.point_count > r.max_points) __builtin_trap();  // a reader stored past its limit
    raise_low_intensities(r);

    for (const FormatInfo& writer : formats()) {
        if (!writer.in_output_list) continue;
        answers.write_sigma = (static_cast<int>(writer.id) % 2) == 0;
        ws.output().open_memory("fuzz.out");
        ws.session().output_path = "fuzz.out";
        ws.session().output_ready = true;
        const ConversionStatus written = writer.codec(ws, CodecMode::write);
        (void)failure_message_for(ws, written, true);
        (void)failure_reason_for(ws, written, true);
        ws.output().close(written == ConversionStatus::done);
    }
    return 0;
}
