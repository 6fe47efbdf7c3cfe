// The units' dealings with Windows: files opened by their UTF-16 names, the
// output written to a temporary file beside the target and moved over it with
// MoveFileExW, which replaces an existing file in one step on NTFS.
// windows.h before the other system headers, which need its definitions.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "core/platform.h"
#include "core/units.h"
#include "core/units_os.h"

namespace qelda {

namespace units_os {

std::size_t page_size() noexcept {
    static const std::size_t page = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwPageSize > 0 ? static_cast<std::size_t>(info.dwPageSize) : std::size_t{4096};
    }();
    return page;
}

const char* last_of(const char* d, char c, std::size_t n) noexcept {
    while (n > 0)
        if (d[--n] == c) return d + n;
    return nullptr;
}

long read_at(int fd, char* buf, std::size_t n, std::size_t offset) noexcept {
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(n, std::size_t{1} << 30));
    if (!::ReadFile(h, buf, want, &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        errno = EIO;
        return -1;
    }
    return static_cast<long>(got);
}

// Every read says where it reads: a positioned read moves the file pointer.
long read_on(int fd, char* buf, std::size_t n, std::size_t offset) noexcept {
    return read_at(fd, buf, n, offset);
}

void give_back(char* begin, std::size_t n) noexcept {
    // Decommitted and committed again: the memory goes back, the addresses
    // stay, and the pages read as zeros.
    if (::VirtualFree(begin, n, MEM_DECOMMIT)) ::VirtualAlloc(begin, n, MEM_COMMIT, PAGE_READWRITE);
}

}  // namespace units_os

using units_os::page_ceil;

namespace {

// errno for what Windows said, so that reasons read as on other systems.
int errno_of(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_LOCK_VIOLATION:
        case ERROR_CURRENT_DIRECTORY:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

int open_wide(const std::string& path, int flags) noexcept {
    int fd = -1;
    const std::wstring w = platform::widen(path);
    const errno_t e = ::_wsopen_s(&fd, w.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                                  _S_IREAD | _S_IWRITE);
    if (e != 0) {
        errno = e;
        return -1;
    }
    return fd;
}

bool is_folder(const std::wstring& path) noexcept {
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// --- InputUnit ---------------------------------------------------------------

Outcome InputUnit::open(const std::string& path) {
    close();
    path_ = path;
    problem_.clear();
    const int fd = open_wide(path, _O_RDONLY);
    if (fd < 0) {
        problem_ =
            is_folder(platform::widen(path)) ? "is a folder, not a file" : std::strerror(errno);
        return Outcome::error;
    }
    struct _stat64 st {};
    const bool regular = ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
    if (!regular || static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        problem_ = (st.st_mode & _S_IFMT) == _S_IFDIR ? "is a folder, not a file"
                   : !regular                         ? "is not a regular file"
                              : "is larger than 1 GB; no scan comes near that";
        ::_close(fd);
        return Outcome::error;
    }
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > 0) {
        // Committed lazily by the system: pages cost memory once written.
        region_ = page_ceil(size_);
        void* p = ::VirtualAlloc(nullptr, region_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (p == nullptr) {
            problem_ = std::strerror(ENOMEM);
            ::_close(fd);
            region_ = 0;
            size_ = 0;
            return Outcome::error;
        }
        data_ = static_cast<char*>(p);
    }
    fd_ = fd;
    open_ = true;
    return Outcome::done;
}

void InputUnit::close() noexcept {
    if (region_ > 0) ::VirtualFree(data_, 0, MEM_RELEASE);
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
    region_ = 0;
    data_ = nullptr;
    owned_.clear();
    owned_.shrink_to_fit();
    size_ = loaded_ = released_ = pos_ = last_start_ = overlong_line_ = 0;
    counts_ = {};
    open_ = false;
}

// --- OutputUnit --------------------------------------------------------------

namespace {

constexpr std::string_view kTempMark = ".qelda-";
constexpr std::string_view kTempEnd = ".tmp";
constexpr std::size_t kMaxNameBytes = 255;

// Letters and digits of `text` (others become '_'), at most `max` of them.
std::string name_part(std::string_view text, std::size_t max) {
    std::string out;
    for (const char c : text) {
        if (out.size() == max) break;
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c != '-') out.push_back(plain ? c : '_');
    }
    return out;
}

}  // namespace

mode_t OutputUnit::new_file_mode() {
    // Windows gives a new file the folder's permissions; there is no mode.
    return static_cast<mode_t>(0666);
}

const std::string& OutputUnit::temporary_tag() {
    if (tag_.empty()) {
        char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = sizeof host;
        if (!::GetComputerNameA(host, &size)) host[0] = '\0';
        const std::string h = name_part(host, 32);
        // No boot or namespace identity: the "0"s say so, and such a tag never
        // matches a leftover.
        tag_ = (h.empty() ? std::string("0") : h) + "-0-0";
    }
    return tag_;
}

void OutputUnit::remove_leftovers(const std::string& dir) {
    // Leftovers of killed runs are not told apart from a running process's
    // files here (see temporary_tag): they are left alone.
    if (std::find(swept_dirs_.begin(), swept_dirs_.end(), dir) == swept_dirs_.end())
        swept_dirs_.push_back(dir);
}

bool OutputUnit::classify(bool& exists) {
    namespace fs = std::filesystem;
    target_ = path_;
    notice_.clear();
    exists = true;
    const std::wstring w = platform::widen(path_);
    // Looked at without following a link; devices (NUL, COM1) and pipes open
    // here too, though they have no attributes.
    const HANDLE h = ::CreateFileW(
        w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return fail("", errno_of(error));
        exists = false;
        fs::path dir = platform::to_path(target_).parent_path();
        if (dir.empty()) dir = ".";
        if (!is_folder(dir.native()))
            return fail("cannot create a file in " + platform::path_text(dir), ENOENT);
        kind_ = Kind::replaced;
        return true;
    }
    const DWORD type = ::GetFileType(h);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = type == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        kind_ = Kind::direct;
        return true;
    }
    if (!known) return fail("", EIO);
    const DWORD attrs = info.dwFileAttributes;
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!follow_links_) {
            commit_error_ = "is a symbolic link; links are not followed";
            return false;
        }
        const DWORD real_attrs = ::GetFileAttributesW(w.c_str());
        if (real_attrs == INVALID_FILE_ATTRIBUTES)
            return fail("the link leads nowhere", errno_of(::GetLastError()));
        if ((real_attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            commit_error_ = "is a symbolic link to something that is not a regular file";
            return false;
        }
        std::error_code ec;
        const fs::path real = fs::canonical(platform::to_path(path_), ec);
        if (ec) return fail("the link cannot be followed", ec.value());
        target_ = platform::path_text(real);
        if ((real_attrs & FILE_ATTRIBUTE_READONLY) != 0)
            return fail("leads to a read-only file", EACCES);
        kind_ = Kind::in_place;
        return true;
    }
    if ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        commit_error_ = "is a folder, not a file";
        return false;
    }
    if ((attrs & FILE_ATTRIBUTE_READONLY) != 0) return fail("is read-only", EACCES);
    if (info.nNumberOfLinks > 1) {
        const auto others = static_cast<unsigned long>(info.nNumberOfLinks - 1);
        notice_ = "has " + std::to_string(others) +
                  (others == 1 ? " other name (a hard link); it keeps"
                               : " other names (hard links); they keep") +
                  " the old content: the new file replaces this name only";
    }
    kind_ = Kind::replaced;
    return true;
}

Outcome OutputUnit::open(const std::string& path, bool create_now) {
    drop_temporary();
    path_ = path;
    content_.clear();
    overflowed_ = false;
    open_ = false;
    commit_error_.clear();
    bool exists = false;
    if (!classify(exists)) {
        write_failed_ = false;
        kind_ = Kind::memory;
        return Outcome::error;
    }
    if (create_now && !exists) {
        const int fd = open_wide(target_, _O_WRONLY | _O_CREAT);
        if (fd < 0) {
            fail("", errno);
            write_failed_ = false;
            return Outcome::error;
        }
        ::_close(fd);
    }
    open_ = true;
    return Outcome::done;
}

void OutputUnit::drop_temporary() noexcept {
    if (temp_fd_ >= 0) ::_close(temp_fd_);
    if (!temp_.empty()) ::_wunlink(platform::widen(temp_).c_str());
    temp_fd_ = -1;
    temp_.clear();
    write_failed_ = false;
    written_ = 0;
}

bool OutputUnit::write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        std::size_t chunk = std::min<std::size_t>(data.size(), std::size_t{1} << 30);
        if (fault_.error != 0) {
            if (written_ >= fault_.after) {
                errno = fault_.error;
                return false;
            }
            chunk = std::min(chunk, fault_.after - written_);
        }
        const int n = ::_write(fd, data.data(), static_cast<unsigned>(chunk));
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        written_ += static_cast<std::size_t>(n);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputUnit::create_temporary() {
    namespace fs = std::filesystem;
    const fs::path target = platform::to_path(target_);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    remove_leftovers(platform::path_text(dir));
    std::string rest(kTempMark);
    rest += temporary_tag();
    rest += '-';
    rest += std::to_string(::GetCurrentProcessId());
    rest += "-XXXXXX";
    rest += kTempEnd;
    std::string name = platform::path_text(target.filename());
    if (1 + name.size() + rest.size() > kMaxNameBytes) {
        name.resize(kMaxNameBytes > rest.size() + 1 ? kMaxNameBytes - rest.size() - 1 : 0);
        // Never half a character.
        while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
            name.pop_back();
        if (!name.empty() && (static_cast<unsigned char>(name.back()) & 0x80) != 0) name.pop_back();
    }
    // Six random letters make the name unpredictable; a name planted in the
    // folder only makes it pick another.
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    const std::size_t x = rest.size() - kTempEnd.size() - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = 0; i < 6; ++i)
            rest[x + i] = kLetters[random() % (sizeof kLetters - 1)];
        const std::string path = platform::path_text(dir / platform::to_path("." + name + rest));
        temp_fd_ = open_wide(path, _O_WRONLY | _O_CREAT | _O_EXCL);
        if (temp_fd_ >= 0) {
            temp_ = path;
            return true;
        }
        if (errno != EEXIST) break;
    }
    return fail("cannot create a file in " + platform::path_text(dir), errno);
}

bool OutputUnit::commit_replaced() {
    if (!flush()) return false;
    const std::wstring target = platform::widen(target_);
    const DWORD attrs = ::GetFileAttributesW(target.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0)
        return fail("is read-only", EACCES);
    if (sync_ && ::_commit(temp_fd_) != 0) return fail("", errno);
    const int fd = std::exchange(temp_fd_, -1);
    if (::_close(fd) != 0) return fail("", errno);
    const DWORD how = MOVEFILE_REPLACE_EXISTING | (sync_ ? MOVEFILE_WRITE_THROUGH : 0);
    if (!::MoveFileExW(platform::widen(temp_).c_str(), target.c_str(), how))
        return fail("cannot replace it", errno_of(::GetLastError()));
    temp_.clear();
    return true;
}

bool OutputUnit::commit_direct() {
    const int fd = open_wide(target_, _O_WRONLY);
    if (fd < 0) return fail("", errno);
    bool ok = write_all(fd, content_);
    int error = errno;
    if (::_close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    content_.clear();
    return ok || fail("", error);
}

bool OutputUnit::commit_in_place() {
    const int fd = open_wide(target_, _O_WRONLY);
    if (fd < 0) return fail("cannot write the file the link leads to", errno);
    int error = 0;
    if (!write_all(fd, content_) || ::_chsize_s(fd, static_cast<long long>(content_.size())) != 0 ||
        (sync_ && ::_commit(fd) != 0))
        error = errno;
    if (::_close(fd) != 0 && error == 0) error = errno;
    content_.clear();
    return error == 0 || fail("", error);
}

}  // namespace qelda
