// Not written yet: every direction answers "not available".
#include "formats/codecs.h"

namespace qelda {

ConversionStatus siemens_uxd_codec(Workspace&, CodecMode) noexcept {
    return ConversionStatus::not_available;
}

}  // namespace qelda
