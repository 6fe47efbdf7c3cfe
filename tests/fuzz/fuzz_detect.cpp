// libFuzzer target for the content detector: any bytes give a guess whose
// format is one of its candidates (or none) and a reason.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/detect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace qelda;
    const ContentGuess g =
        detect_content(std::string_view(reinterpret_cast<const char*>(data), size));
    if (g.reason.empty()) __builtin_trap();
    if (g.format != FormatId::none && g.candidates.size() != 1) __builtin_trap();
    return 0;
}
