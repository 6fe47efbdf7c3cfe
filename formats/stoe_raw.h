// Stoe raw binary scans: 512-byte blocks, little-endian numbers.
//
// Block 0 is the file header (title, wavelengths, block counts), blocks 1 and 2
// are reserved, and the range header of the one scan range follows at the block
// that the file header names (block 3 in the files we write); the data blocks
// of int32 (or int16) counts come right after the range header.
#pragma once

#include <cstddef>
#include <string>

#include "core/workspace.h"

namespace qelda {

inline constexpr std::size_t kStoeBlockSize = 512;
// The point count and the block counts are int16 fields.
inline constexpr int32_t kStoeMaxPoints = 32767;

// Reads unit 1 (only the blocks the scan needs) into the record.
ConversionStatus read_stoe_raw(Workspace& ws);
// Writes the record to unit 2; refuses what the format cannot hold.
ConversionStatus write_stoe_raw(Workspace& ws);
// The 16-character header stamp of the workspace's local time, such as
// " 5-JUL- 2 21:01 ".
std::string stoe_date_stamp(const Workspace& ws);

}  // namespace qelda
