// windows.h before the other system headers, which need its definitions.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include "core/platform.h"

namespace qelda::platform {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              n);
    return wide;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                              n, nullptr, nullptr);
    return utf8;
}

std::filesystem::path to_path(std::string_view utf8) {
    return std::filesystem::path(widen(utf8));
}

std::string path_text(const std::filesystem::path& path) {
    return narrow(path.native());
}

std::string name_key(std::string path) {
    std::wstring wide = widen(path);
    if (!wide.empty()) ::CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return narrow(wide);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) args.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

void prepare_standard_streams() {
    // A scan piped in must arrive byte for byte; messages keep the text mode,
    // which ends their lines with CR LF.
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

std::FILE* open_file(const std::string& path, const char* mode) {
    return ::_wfopen(widen(path).c_str(), widen(mode).c_str());
}

bool is_terminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

bool write_bytes(std::FILE* stream, std::string_view bytes) {
    // A converted file goes out as it is: its lines end as its format says.
    if (std::fflush(stream) != 0) return false;
    const int fd = ::_fileno(stream);
    const int mode = ::_setmode(fd, _O_BINARY);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
                    std::fflush(stream) == 0;
    if (mode != -1) ::_setmode(fd, mode);
    return ok;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> file_identity(const std::string& path) {
    const HANDLE h = ::CreateFileW(widen(path).c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!ok) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace qelda::platform
