// The system's side of paths, standard streams and the command line: one
// implementation per system (platform_posix.cpp, platform_win32.cpp). Paths are
// UTF-8 text everywhere in QELDA; only these functions and the units turn them
// into what the system takes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qelda::platform {

// The characters that end a folder name in a path.
#ifdef _WIN32
inline constexpr std::string_view kSeparators = "/\\";
#else
inline constexpr std::string_view kSeparators = "/";
#endif

#ifdef _WIN32
// UTF-8 to UTF-16 and back, as Windows' wide calls take names.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
#endif

// A path from UTF-8 text, and its text back in UTF-8.
std::filesystem::path to_path(std::string_view utf8);
std::string path_text(const std::filesystem::path& path);

// A path's text as the file system compares names: unchanged on POSIX, in
// lower case on Windows, whose file systems ignore the case of names.
std::string name_key(std::string path);

// The program's arguments in UTF-8 (on Windows taken from the wide command
// line, whatever the console's code page).
std::vector<std::string> utf8_arguments(int argc, char** argv);
// Standard input in binary (a scan piped in arrives unchanged) and a console
// that shows UTF-8.
void prepare_standard_streams();

// fopen for a UTF-8 path.
std::FILE* open_file(const std::string& path, const char* mode);
bool is_terminal(std::FILE* stream);
// Writes `bytes` as they are, no line ends translated; false when the write fails.
bool write_bytes(std::FILE* stream, std::string_view bytes);

// What tells two names of one existing file (device and inode, or volume and
// file index), or nullopt when the file cannot be looked at.
std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path);

}  // namespace qelda::platform
