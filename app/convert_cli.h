// The command-line converter, callable from tests without a process.
#pragma once

#include <cstdio>

namespace qelda {

// Runs `qelda-convert` with the given arguments; returns the exit status
// (0 converted, 1 conversion failed, 2 usage error).
int run_convert_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace qelda
