#include "core/units.h"

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

#include "core/powder_pattern.h"

namespace qelda {

// --- InputUnit ---------------------------------------------------------------

namespace {

// The system's page size, asked once.
std::size_t page_size() noexcept {
    static const std::size_t page = [] {
        const long p = ::sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<std::size_t>(p) : std::size_t{4096};
    }();
    return page;
}

std::size_t page_floor(std::size_t n) noexcept {
    return n / page_size() * page_size();
}

std::size_t page_ceil(std::size_t n) noexcept {
    return (n + page_size() - 1) / page_size() * page_size();
}

// Line ends are looked for a short stretch at a time, with the C library's
// searches, so that a file without one kind of line end costs no more.
constexpr std::size_t kStretch = 256;

// The first line end in [from, limit), or limit.
std::size_t find_line_end(const char* d, std::size_t from, std::size_t limit) noexcept {
    while (from < limit) {
        const std::size_t stop = std::min(limit, from + kStretch);
        const auto* lf = static_cast<const char*>(std::memchr(d + from, '\n', stop - from));
        const std::size_t before = lf != nullptr ? static_cast<std::size_t>(lf - d) : stop;
        const auto* cr = static_cast<const char*>(std::memchr(d + from, '\r', before - from));
        if (cr != nullptr) return static_cast<std::size_t>(cr - d);
        if (lf != nullptr) return before;
        from = stop;
    }
    return limit;
}

// One past the last line end in [floor, to), or npos when there is none.
std::size_t find_line_start(const char* d, std::size_t floor, std::size_t to) noexcept {
    while (to > floor) {
        const std::size_t from = to - std::min(to - floor, kStretch);
        const auto* lf = static_cast<const char*>(::memrchr(d + from, '\n', to - from));
        const std::size_t after = lf != nullptr ? static_cast<std::size_t>(lf - d) + 1 : from;
        const auto* cr = static_cast<const char*>(::memrchr(d + after, '\r', to - after));
        if (cr != nullptr) return static_cast<std::size_t>(cr - d) + 1;
        if (lf != nullptr) return after;
        to = from;
    }
    return std::string_view::npos;
}

}  // namespace

InputUnit::~InputUnit() {
    close();
}

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

void InputUnit::open_bytes(std::string content, std::string name) {
    close();
    owned_ = std::move(content);
    path_ = std::move(name);
    data_ = owned_.data();
    size_ = loaded_ = owned_.size();
    open_ = true;
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

void InputUnit::set_window(std::size_t block, std::size_t keep_behind) noexcept {
    block_ = page_ceil(std::max<std::size_t>(block, 1));
    keep_behind_ = page_ceil(std::max<std::size_t>(keep_behind, 1));
}

bool InputUnit::read_span(std::size_t begin, std::size_t end) noexcept {
    while (begin < end) {
        const ssize_t n = ::pread(fd_, data_ + begin, end - begin, static_cast<off_t>(begin));
        if (n < 0 && errno == EINTR) continue;
        ++counts_.reads;
        if (n <= 0) return false;
        counts_.bytes += static_cast<std::size_t>(n);
        begin += static_cast<std::size_t>(n);
    }
    return true;
}

void InputUnit::load_through(std::size_t end) noexcept {
    end = std::min(end, size_);
    while (loaded_ < end && fd_ >= 0) {
        const std::size_t want = std::min(size_ - loaded_, std::max(block_, end - loaded_));
        const ssize_t n = ::read(fd_, data_ + loaded_, want);
        if (n < 0 && errno == EINTR) continue;
        ++counts_.reads;
        if (n <= 0) {
            // The file is shorter now than when it was opened: it ends here.
            size_ = loaded_;
            break;
        }
        counts_.bytes += static_cast<std::size_t>(n);
        loaded_ += static_cast<std::size_t>(n);
    }
}

void InputUnit::release_before(std::size_t keep) noexcept {
    if (region_ == 0) return;
    const std::size_t upto = page_floor(keep);
    if (upto <= released_ + block_) return;
    ::madvise(data_ + released_, upto - released_, MADV_DONTNEED);
    released_ = upto;
}

void InputUnit::restore_from(std::size_t from) noexcept {
    const std::size_t lo = page_floor(from);
    if (lo >= released_) return;
    // Pages given back read as zeros: a failed read leaves them so.
    read_span(lo, released_);
    released_ = lo;
}

std::string_view InputUnit::bytes() noexcept {
    if (!open_) return {};
    load_through(size_);
    restore_from(0);
    return {data_, size_};
}

std::string_view InputUnit::bytes_at(std::size_t offset, std::size_t length) noexcept {
    if (!open_ || offset >= size_) return {};
    std::size_t end = offset + std::min(length, size_ - offset);
    if (fd_ >= 0 && (offset < released_ || end > loaded_)) {
        // Only this part is read; the region keeps every byte at its offset.
        std::size_t begin = offset;
        if (offset >= released_ && offset < loaded_) begin = loaded_;
        if (!read_span(begin, end)) return {};
    }
    return {data_ + offset, end - offset};
}

void InputUnit::refuse_overlong_line() noexcept {
    // The line's number: line ends before it, CR LF counting once.
    std::size_t ends = 0;
    char prev = 0;
    auto count = [&](const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] == '\r' || (p[i] == '\n' && prev != '\r')) ++ends;
            prev = p[i];
        }
    };
    if (fd_ < 0) {
        count(data_, pos_);
    } else {
        // Through a small buffer, so that the pages given back stay so.
        char buf[1 << 14];
        for (std::size_t at = 0; at < pos_;) {
            const ssize_t n =
                ::pread(fd_, buf, std::min(sizeof buf, pos_ - at), static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            count(buf, static_cast<std::size_t>(n));
            at += static_cast<std::size_t>(n);
        }
    }
    overlong_line_ = ends + 1;
    problem_ = "line " + std::to_string(overlong_line_) + " is longer than 1 MB";
}

bool InputUnit::next_line(std::string_view& line) noexcept {
    if (!open_ || overlong_line_ > 0) return false;
    if (pos_ < released_) restore_from(pos_);  // a reader went back far
    load_through(pos_ + 1);
    if (pos_ >= size_) return false;
    std::size_t end = pos_;
    while (true) {
        end = find_line_end(data_, end, loaded_);
        if (end - pos_ > kMaxLineBytes) {
            refuse_overlong_line();
            return false;
        }
        if (end < loaded_ || loaded_ >= size_) break;
        load_through(loaded_ + block_);
    }
    line = std::string_view(data_ + pos_, end - pos_);
    last_start_ = pos_;
    if (end >= size_) {
        pos_ = size_;
    } else {
        if (data_[end] == '\r' && end + 1 >= loaded_) load_through(end + 2);
        pos_ =
            (data_[end] == '\r' && end + 1 < size_ && data_[end + 1] == '\n') ? end + 2 : end + 1;
    }
    if (last_start_ > keep_behind_) release_before(last_start_ - keep_behind_);
    return true;
}

void InputUnit::backspace() noexcept {
    if (!open_ || pos_ == 0) return;
    load_through(pos_);
    // Only the previous line is looked at: pages given back before it stay so.
    std::size_t end = pos_;  // one past the last character of the previous line
    const char last = at(end - 1);
    if (end == loaded_ && end == size_ && last != '\n' && last != '\r') {
        // The last line had no line end.
    } else if (last == '\n' && end >= 2 && at(end - 2) == '\r') {
        end -= 2;
    } else {
        end -= 1;
    }
    std::size_t start = end;
    while (true) {
        const std::size_t found = find_line_start(data_, released_, start);
        if (found != std::string_view::npos) {
            start = found;
            break;
        }
        start = std::min(start, released_);  // all present bytes before it looked at
        if (start == 0) break;
        restore_from(start - 1);
    }
    pos_ = start;
}

bool InputUnit::ends_with_line_end() noexcept {
    if (size_ == 0) return true;
    const std::string_view last = bytes_at(size_ - 1, 1);
    return last.size() == 1 && (last[0] == '\n' || last[0] == '\r');
}

std::string_view InputUnit::file_name() const noexcept {
    return file_name_part(path_);
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

OutputUnit::~OutputUnit() {
    drop_temporary();
}

bool OutputUnit::fail(std::string what, int error) {
    if (!what.empty()) what += ": ";
    what += std::strerror(error);
    commit_error_ = std::move(what);
    write_failed_ = true;
    return false;
}

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
        if (std::string_view(p + 1, last).find('-') != std::string_view::npos) continue;
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

void OutputUnit::open_memory(std::string name) {
    drop_temporary();
    path_ = std::move(name);
    content_.clear();
    commit_error_.clear();
    overflowed_ = false;
    kind_ = Kind::memory;
    open_ = true;
}

void OutputUnit::drop_temporary() noexcept {
    if (temp_fd_ >= 0) ::close(temp_fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_fd_ = -1;
    temp_.clear();
    write_failed_ = false;
    written_ = 0;
}

void OutputUnit::restart() noexcept {
    drop_temporary();
    content_.clear();
    overflowed_ = false;
}

void OutputUnit::append_line(std::string_view line) {
    content_.append(line);
    content_.append("\r\n");
    if (kind_ == Kind::replaced && content_.size() >= kFlushBytes) flush();
}

void OutputUnit::append_bytes(std::string_view bytes) {
    content_.append(bytes);
    if (kind_ == Kind::replaced && content_.size() >= kFlushBytes) flush();
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

bool OutputUnit::flush() {
    if (write_failed_) {
        content_.clear();
        return false;
    }
    if (temp_fd_ < 0 && !create_temporary()) {
        content_.clear();
        return false;
    }
    const bool ok = write_all(temp_fd_, content_);
    content_.clear();
    return ok || fail("", errno);
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

bool OutputUnit::commit() {
    if (!open_) {
        commit_error_ = "output unit not open";
        return false;
    }
    if (kind_ == Kind::memory) return true;
    if (!write_failed_) commit_error_.clear();
    const bool ok = kind_ == Kind::direct     ? commit_direct()
                    : kind_ == Kind::in_place ? commit_in_place()
                                              : commit_replaced();
    drop_temporary();
    return ok;
}

void OutputUnit::discard() noexcept {
    drop_temporary();
    content_.clear();
    overflowed_ = false;
}

bool OutputUnit::close(bool keep) {
    bool ok = true;
    if (open_ && keep) ok = commit();
    discard();
    open_ = false;
    return ok;
}

std::string_view OutputUnit::file_name() const noexcept {
    return file_name_part(path_);
}

}  // namespace qelda
