// The CIF writer, beside the CIF reader of gsas_cif.cpp.
#pragma once

#include "core/workspace.h"

namespace qelda {

// Writes the record as a powder CIF (IUCr powder dictionary): one data block.
ConversionStatus write_powder_cif(Workspace& ws);

}  // namespace qelda
