// The units' dealings with a POSIX system: opening and reading the input,
// the temporary file, its rename over the target, devices, pipes and sockets.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

#include "core/units.h"
#include "core/units_os.h"

namespace qelda {

namespace units_os {

// The system's page size, asked once.
std::size_t page_size() noexcept {
    static const std::size_t page = [] {
        const long p = ::sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<std::size_t>(p) : std::size_t{4096};
    }();
    return page;
}

const char* last_of(const char* d, char c, std::size_t n) noexcept {
    return static_cast<const char*>(::memrchr(d, c, n));
}

long read_at(int fd, char* buf, std::size_t n, std::size_t offset) noexcept {
    return static_cast<long>(::pread(fd, buf, n, static_cast<off_t>(offset)));
}

long read_on(int fd, char* buf, std::size_t n, std::size_t /*offset*/) noexcept {
    return static_cast<long>(::read(fd, buf, n));
}

void give_back(char* begin, std::size_t n) noexcept {
    ::madvise(begin, n, MADV_DONTNEED);
}

}  // namespace units_os

using units_os::page_ceil;

// --- InputUnit ---------------------------------------------------------------

Outcome InputUnit::open(const std::string& path) {
    close();
    path_ = path;
    // Non-blocking, so that a named pipe chosen by mistake cannot hang the open;
    // anything but a regular file is refused right after.
    problem_.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        problem_ = std::strerror(errno);
        return Outcome::error;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        problem_ = S_ISDIR(st.st_mode)    ? "is a folder, not a file"
                   : !S_ISREG(st.st_mode) ? "is not a regular file"
                                          : "is larger than 1 GB; no scan comes near that";
        ::close(fd);
        return Outcome::error;
    }
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ > 0) {
        // Address space only: pages are touched as blocks are read into them.
        region_ = page_ceil(size_);
        void* p = ::mmap(nullptr, region_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) {
            problem_ = std::strerror(errno);
            ::close(fd);
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
    if (region_ > 0) ::munmap(data_, region_);
    if (fd_ >= 0) ::close(fd_);
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

// The first line of a small system file, or "".
std::string first_line_of(const char* path) {
    std::string line;
    if (std::FILE* f = std::fopen(path, "re")) {
        char buf[256];
        if (std::fgets(buf, sizeof buf, f) != nullptr) line = buf;
        std::fclose(f);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// Letters and digits of `text` (others become '_'), at most `max` of them; "-"
// separates the parts of a temporary name, so it never appears in one.
std::string name_part(std::string_view text, std::size_t max) {
    std::string out;
    for (const char c : text) {
        if (out.size() == max) break;
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c != '-') out.push_back(plain ? c : '_');  // the boot id's dashes are dropped
    }
    return out;
}

int connect_socket(const std::string& path) noexcept {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

}  // namespace

mode_t OutputUnit::new_file_mode() {
    // 0666 less the umask, read without changing it, once for the unit's life.
    if (new_mode_ < 0) {
        mode_t mask = 022;
        const std::string status = [] {
            std::string text;
            if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
                char line[256];
                while (std::fgets(line, sizeof line, f) != nullptr)
                    if (std::strncmp(line, "Umask:", 6) == 0) text = line + 6;
                std::fclose(f);
            }
            return text;
        }();
        if (!status.empty()) mask = static_cast<mode_t>(std::strtoul(status.c_str(), nullptr, 8));
        new_mode_ = static_cast<int>(0666 & ~mask);
    }
    return static_cast<mode_t>(new_mode_);
}

const std::string& OutputUnit::temporary_tag() {
    if (tag_.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
        std::string h = name_part(host, 32);
        std::string boot = name_part(first_line_of("/proc/sys/kernel/random/boot_id"), 32);
        struct stat ns {};
        const bool has_ns = ::stat("/proc/self/ns/pid", &ns) == 0;
        // An unknown part is "0": such a tag never matches a leftover.
        tag_ = (h.empty() ? std::string("0") : h) + "-" + (boot.empty() ? std::string("0") : boot) +
               "-" + (has_ns ? std::to_string(ns.st_ino) : std::string("0"));
    }
    return tag_;
}

void OutputUnit::remove_leftovers(const std::string& dir) {
    if (std::find(swept_dirs_.begin(), swept_dirs_.end(), dir) != swept_dirs_.end()) return;
    swept_dirs_.push_back(dir);
    const std::string& tag = temporary_tag();
    // A tag with an unknown part cannot tell our leftovers from others'.
    if (tag.starts_with("0-") || tag.find("-0-") != std::string::npos || tag.ends_with("-0"))
        return;
    const std::string mark = std::string(kTempMark) + tag + "-";
    const std::time_t now = std::time(nullptr);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 2 || name[0] != '.' || !name.ends_with(kTempEnd)) continue;
        const auto at = name.rfind(mark);
        if (at == std::string::npos) continue;
        // What follows the tag: "PID-RANDOM.tmp".
        const char* first = name.data() + at + mark.size();
        const char* last = name.data() + name.size() - kTempEnd.size();
        long pid = 0;
        const auto [p, err] = std::from_chars(first, last, pid);
        if (err != std::errc() || p == last || *p != '-' || pid <= 0 || pid == ::getpid()) continue;
        if (std::string_view(p + 1, static_cast<std::size_t>(last - (p + 1))).find('-') !=
            std::string_view::npos)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        if (now - st.st_mtime < kLeftoverAgeSeconds) continue;
        ::unlink(it->path().c_str());
    }
}

bool OutputUnit::classify(bool& exists) {
    namespace fs = std::filesystem;
    target_ = path_;
    notice_.clear();
    exists = true;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0) {
        if (errno != ENOENT) return fail("", errno);
        exists = false;
    } else if (S_ISLNK(st.st_mode)) {
        if (!follow_links_) {
            commit_error_ = "is a symbolic link; links are not followed";
            return false;
        }
        // The file the link leads to is written in place: it keeps its owner,
        // its mode and its other names, and nothing is renamed over it.
        if (::stat(path_.c_str(), &st) != 0) return fail("the link leads nowhere", errno);
        if (!S_ISREG(st.st_mode)) {
            commit_error_ = "is a symbolic link to something that is not a regular file";
            return false;
        }
        std::error_code ec;
        const fs::path real = fs::canonical(path_, ec);
        if (ec) return fail("the link cannot be followed", ec.value());
        target_ = real.string();
        if (::access(target_.c_str(), W_OK) != 0) return fail("leads to a read-only file", errno);
        if ((st.st_mode & 0222) == 0) return fail("leads to a read-only file", EACCES);
        kind_ = Kind::in_place;
        return true;
    }
    if (!exists) {
        fs::path dir = fs::path(target_).parent_path();
        if (dir.empty()) dir = ".";
        if (::access(dir.c_str(), W_OK | X_OK) != 0)
            return fail("cannot create a file in " + dir.string(), errno);
        kind_ = Kind::replaced;
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        commit_error_ = "is a folder, not a file";
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        // Root may write anything: a file that nobody may write stays refused.
        if (::access(target_.c_str(), W_OK) != 0) return fail("is read-only", errno);
        if ((st.st_mode & 0222) == 0) return fail("is read-only", EACCES);
        if (st.st_nlink > 1) {
            const auto others = static_cast<unsigned long>(st.st_nlink - 1);
            notice_ = "has " + std::to_string(others) +
                      (others == 1 ? " other name (a hard link); it keeps"
                                   : " other names (hard links); they keep") +
                      " the old content: the new file replaces this name only";
        }
        kind_ = Kind::replaced;
        return true;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        if (::access(target_.c_str(), W_OK) != 0) return fail("cannot be written", errno);
        kind_ = Kind::direct;
        return true;
    }
    commit_error_ =
        "is neither a file nor a character device, a pipe or a socket; it cannot take the "
        "output";
    return false;
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
        const int fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            fail("", errno);
            write_failed_ = false;
            return Outcome::error;
        }
        ::close(fd);
    }
    open_ = true;
    return Outcome::done;
}

void OutputUnit::drop_temporary() noexcept {
    if (temp_fd_ >= 0) ::close(temp_fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_fd_ = -1;
    temp_.clear();
    write_failed_ = false;
    written_ = 0;
}

bool OutputUnit::write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        std::size_t chunk = data.size();
        if (fault_.error != 0) {
            if (written_ >= fault_.after) {
                errno = fault_.error;
                return false;
            }
            chunk = std::min(chunk, fault_.after - written_);
        }
        const ssize_t n = ::write(fd, data.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written_ += static_cast<std::size_t>(n);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputUnit::create_temporary() {
    namespace fs = std::filesystem;
    const fs::path target(target_);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    remove_leftovers(dir.string());
    // mkstemp's six random letters make the name unpredictable; a name
    // planted in the folder only makes it pick another.
    std::string rest(kTempMark);
    rest += temporary_tag();
    rest += '-';
    rest += std::to_string(::getpid());
    rest += "-XXXXXX";
    rest += kTempEnd;
    std::string name = target.filename().string();
    if (1 + name.size() + rest.size() > kMaxNameBytes)
        name.resize(kMaxNameBytes > rest.size() + 1 ? kMaxNameBytes - rest.size() - 1 : 0);
    std::string leaf(".");
    leaf += name;
    leaf += rest;
    std::string path = (dir / leaf).string();
    // Readable by the owner only until it gets the target's mode.
    temp_fd_ = ::mkostemps(path.data(), static_cast<int>(kTempEnd.size()), O_CLOEXEC);
    if (temp_fd_ < 0) return fail("cannot create a file in " + dir.string(), errno);
    temp_ = std::move(path);
    return true;
}

bool OutputUnit::commit_replaced() {
    if (!flush()) return false;
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && S_ISREG(st.st_mode)) {
        if (::access(target_.c_str(), W_OK) != 0) return fail("is read-only", errno);
        if ((st.st_mode & 0222) == 0) return fail("is read-only", EACCES);
    }
    const mode_t mode = exists && S_ISREG(st.st_mode) ? st.st_mode & 07777 : new_file_mode();
    if (::fchmod(temp_fd_, mode) != 0) return fail("", errno);
    if (sync_ && ::fsync(temp_fd_) != 0) return fail("", errno);
    const int fd = std::exchange(temp_fd_, -1);
    if (::close(fd) != 0) return fail("", errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return fail("cannot replace it", errno);
    temp_.clear();
    if (sync_) {
        std::filesystem::path dir = std::filesystem::path(target_).parent_path();
        if (dir.empty()) dir = ".";
        const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd < 0) return fail("", errno);
        const bool synced = ::fsync(dfd) == 0;
        const int error = errno;
        ::close(dfd);
        if (!synced) return fail("", error);
    }
    return true;
}

bool OutputUnit::commit_direct() {
    struct stat st {};
    const bool socket = ::stat(target_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    // Opened without waiting: a pipe that nobody reads fails at once (ENXIO)
    // instead of blocking for ever; the writes then wait as usual.
    const int fd = socket ? connect_socket(target_)
                          : ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENXIO && ::stat(target_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
            return fail("is a pipe that nobody reads", ENXIO);
        return fail("", errno);
    }
    if (!socket) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            const int e = errno;
            ::close(fd);
            return fail("", e);
        }
    }
    bool ok = write_all(fd, content_);
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    content_.clear();
    return ok || fail("", error);
}

bool OutputUnit::commit_in_place() {
    // The file checked at open, still a regular file under the same name.
    const int fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) return fail("cannot write the file the link leads to", errno);
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (!write_all(fd, content_) ||
             ::ftruncate(fd, static_cast<off_t>(content_.size())) != 0 ||
             (sync_ && ::fsync(fd) != 0))
        error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    content_.clear();
    return error == 0 || fail("", error);
}

}  // namespace qelda
