// Not written yet: every direction answers "not available".
#include "formats/codecs.h"

namespace qelda {

ConversionStatus stoe_raw_codec(Workspace&, CodecMode) noexcept {
    return ConversionStatus::not_available;
}

}  // namespace qelda
