// The NeXus writer, beside the NeXus reader of nexus.cpp.
#pragma once

#include <mutex>

#include "core/workspace.h"

namespace qelda {

// Writes the record as one NXxrd_pan entry of an HDF5 file, built in memory.
ConversionStatus write_nexus(Workspace& ws);

// libhdf5 as Debian builds it is not thread-safe: every use of it, reading or
// writing, holds this lock, so that workspaces of a batch may run in threads.
std::mutex& hdf5_lock() noexcept;

}  // namespace qelda
