// The content signatures of the formats whose readers came after the first
// fourteen: each reader's file holds its own check, beside its reader, and
// formats/detect.cpp gathers them. A check is given the file's first bytes (up
// to 64 kB; a longer file is cut there) and returns why they look like its
// format ("begins with V3RD"), in lower case, or nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qelda {

using SignatureCheck = std::optional<std::string> (*)(std::string_view head);

// Signatures at the start of the file (binary formats).
std::optional<std::string> philips_rd_signature(std::string_view head);
std::optional<std::string> nexus_signature(std::string_view head);

// Marker lines.
std::optional<std::string> rigaku_dat_signature(std::string_view head);
std::optional<std::string> sietronics_cpi_signature(std::string_view head);

// Shapes of the lines.
std::optional<std::string> riet7_dat_signature(std::string_view head);
std::optional<std::string> csv_signature(std::string_view head);

}  // namespace qelda
