// The codec routines, one per format. Each sets its status on entry, reads
// (any mode but write) or writes, and never lets an exception out.
#pragma once

#include "core/workspace.h"

namespace qelda {

ConversionStatus ascii_xy_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus gsas_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus stoe_raw_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus siemens_uxd_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus scintag_ard_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus dbw_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus stoe_ascii_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus philips_udf_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus gsas_cif_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus xrdml_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus bruker_raw_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus bruker_brml_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus rigaku_ras_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus rigaku_rasx_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus xye_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus fxye_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus json_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus philips_rd_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus rigaku_dat_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus sietronics_cpi_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus riet7_dat_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus csv_codec(Workspace& ws, CodecMode mode) noexcept;
ConversionStatus nexus_codec(Workspace& ws, CodecMode mode) noexcept;

}  // namespace qelda
