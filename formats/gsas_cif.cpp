// Not written yet: every direction answers "not available".
#include "formats/codecs.h"

namespace qelda {

ConversionStatus gsas_cif_codec(Workspace&, CodecMode) noexcept {
    return ConversionStatus::not_available;
}

}  // namespace qelda
