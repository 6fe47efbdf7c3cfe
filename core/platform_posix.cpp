#include <sys/stat.h>
#include <unistd.h>

#include "core/platform.h"

namespace qelda::platform {

std::filesystem::path to_path(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string path_text(const std::filesystem::path& path) {
    return path.string();
}

std::string name_key(std::string path) {
    return path;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void prepare_standard_streams() {}

std::FILE* open_file(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool is_terminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

bool write_bytes(std::FILE* stream, std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
           std::fflush(stream) == 0;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>{st.st_dev, st.st_ino};
}

}  // namespace qelda::platform
