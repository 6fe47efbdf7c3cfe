#include "core/units.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/powder_pattern.h"

namespace qelda {

// --- InputUnit ---------------------------------------------------------------

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
        const long page = ::sysconf(_SC_PAGESIZE);
        region_ = (size_ + static_cast<std::size_t>(page) - 1) / static_cast<std::size_t>(page) *
                  static_cast<std::size_t>(page);
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
    size_ = loaded_ = released_ = pos_ = last_start_ = 0;
    open_ = false;
}

void InputUnit::load_through(std::size_t end) noexcept {
    end = std::min(end, size_);
    while (loaded_ < end && fd_ >= 0) {
        const std::size_t want = std::min(size_ - loaded_, std::max(kBlock, end - loaded_));
        const ssize_t n = ::read(fd_, data_ + loaded_, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The file is shorter now than when it was opened: it ends here.
            size_ = loaded_;
            break;
        }
        loaded_ += static_cast<std::size_t>(n);
    }
}

void InputUnit::release_before(std::size_t keep) noexcept {
    if (region_ == 0) return;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t upto = keep / page * page;
    if (upto <= released_ + kBlock) return;
    ::madvise(data_ + released_, upto - released_, MADV_DONTNEED);
    released_ = upto;
}

void InputUnit::restore_released() noexcept {
    std::size_t done = 0;
    while (done < released_) {
        const ssize_t n = ::pread(fd_, data_ + done, released_ - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    released_ = 0;
}

std::string_view InputUnit::bytes() noexcept {
    if (!open_) return {};
    load_through(size_);
    if (released_ > 0) restore_released();
    return {data_, size_};
}

bool InputUnit::next_line(std::string_view& line) noexcept {
    if (!open_) return false;
    if (pos_ < released_) restore_released();  // a reader went back far
    load_through(pos_ + 1);
    if (pos_ >= size_) return false;
    std::size_t end = pos_;
    while (true) {
        while (end < loaded_ && data_[end] != '\n' && data_[end] != '\r') ++end;
        if (end < loaded_ || loaded_ >= size_) break;
        load_through(loaded_ + kBlock);
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
    if (last_start_ > kKeepBehind) release_before(last_start_ - kKeepBehind);
    return true;
}

void InputUnit::backspace() noexcept {
    if (!open_ || pos_ == 0) return;
    if (released_ > 0) restore_released();  // rare: readers step back once, early
    const std::string_view all(data_, loaded_);
    std::size_t end = pos_;  // one past the last character of the previous line
    if (end == all.size() && all[end - 1] != '\n' && all[end - 1] != '\r') {
        // The last line had no line end.
    } else if (all[end - 1] == '\n' && end >= 2 && all[end - 2] == '\r') {
        end -= 2;
    } else {
        end -= 1;
    }
    std::size_t start = end;
    while (start > 0 && all[start - 1] != '\n' && all[start - 1] != '\r') --start;
    pos_ = start;
}

std::string_view InputUnit::file_name() const noexcept {
    return file_name_part(path_);
}

// --- OutputUnit --------------------------------------------------------------

OutputUnit::~OutputUnit() {
    drop_temporary();
}

Outcome OutputUnit::open(const std::string& path, bool create_now) {
    drop_temporary();
    path_ = path;
    content_.clear();
    overflowed_ = false;
    memory_only_ = false;
    open_ = false;
    commit_error_.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        commit_error_ = "is a folder, not a file";
        return Outcome::error;
    }
    if (create_now) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            commit_error_ = std::strerror(errno);
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
    overflowed_ = false;
    memory_only_ = true;
    open_ = true;
}

void OutputUnit::drop_temporary() noexcept {
    if (temp_fd_ >= 0) ::close(temp_fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_fd_ = -1;
    temp_.clear();
    write_failed_ = false;
}

void OutputUnit::restart() noexcept {
    drop_temporary();
    content_.clear();
    overflowed_ = false;
}

void OutputUnit::append_line(std::string_view line) {
    content_.append(line);
    content_.append("\r\n");
    if (!memory_only_ && content_.size() >= kFlushBytes) flush();
}

void OutputUnit::append_bytes(std::string_view bytes) {
    content_.append(bytes);
    if (!memory_only_ && content_.size() >= kFlushBytes) flush();
}

bool OutputUnit::flush() {
    if (write_failed_) {
        content_.clear();
        return false;
    }
    if (temp_fd_ < 0) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path target(path_);
        // Replace the file a symbolic link points at, not the link.
        if (fs::is_symlink(target, ec)) {
            target = fs::canonical(target, ec);
            if (ec) {
                commit_error_ = "cannot resolve " + path_;
                write_failed_ = true;
                return false;
            }
        }
        fs::path dir = target.parent_path();
        if (dir.empty()) dir = ".";
        for (int attempt = 0; attempt < 100 && temp_fd_ < 0; ++attempt) {
            std::string name(".");
            name.append(target.filename().string());
            name.append(".qelda-");
            name.append(std::to_string(::getpid()));
            name.push_back('-');
            name.append(std::to_string(attempt));
            name.append(".tmp");
            const fs::path temp = dir / name;
            temp_fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (temp_fd_ >= 0) temp_ = temp.string();
            if (temp_fd_ < 0 && errno != EEXIST) break;
        }
        if (temp_fd_ < 0) {
            commit_error_ =
                std::string("cannot create a file in the output folder: ") + std::strerror(errno);
            write_failed_ = true;
            content_.clear();
            return false;
        }
        target_ = target.string();
    }
    std::size_t done = 0;
    while (done < content_.size()) {
        const ssize_t n = ::write(temp_fd_, content_.data() + done, content_.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            commit_error_ = std::string("cannot write the output file: ") + std::strerror(errno);
            write_failed_ = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    content_.clear();
    return !write_failed_;
}

bool OutputUnit::commit() {
    if (!open_) {
        commit_error_ = "output unit not open";
        return false;
    }
    if (memory_only_) return true;
    if (!write_failed_) commit_error_.clear();
    bool ok = flush();
    if (ok) {
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(temp_fd_, st.st_mode & 07777);
        const int fd = temp_fd_;
        temp_fd_ = -1;
        if (::close(fd) != 0) {
            commit_error_ = std::string("cannot write the output file: ") + std::strerror(errno);
            ok = false;
        } else if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            commit_error_ = std::string("cannot replace the output file: ") + std::strerror(errno);
            ok = false;
        } else {
            temp_.clear();
        }
    }
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
