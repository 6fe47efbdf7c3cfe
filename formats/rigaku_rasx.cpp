// Rigaku RASX files: read only. Not yet read; refused with their name.
#include "core/codec_guard.h"
#include "formats/codecs.h"

namespace qelda {

ConversionStatus rigaku_rasx_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        if (mode == CodecMode::write) return ConversionStatus::not_available;
        return ws.fail(
            ConversionStatus::not_available,
            std::string(ws.input().file_name()) + ": Rigaku RASX files cannot be read yet");
    });
}

}  // namespace qelda
