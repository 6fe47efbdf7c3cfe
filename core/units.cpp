// What the units do the same on every system: lines, blocks, the output's
// buffer. Opening, reading and replacing files is in units_posix.cpp or
// units_win32.cpp, whichever the build's system takes.
#include "core/units.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/powder_pattern.h"
#include "core/units_os.h"

namespace qelda {

// --- InputUnit ---------------------------------------------------------------

namespace {

using units_os::page_ceil;
using units_os::page_floor;

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
        const auto* lf = units_os::last_of(d + from, '\n', to - from);
        const std::size_t after = lf != nullptr ? static_cast<std::size_t>(lf - d) + 1 : from;
        const auto* cr = units_os::last_of(d + after, '\r', to - after);
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

void InputUnit::open_bytes(std::string content, std::string name) {
    close();
    owned_ = std::move(content);
    path_ = std::move(name);
    data_ = owned_.data();
    size_ = loaded_ = owned_.size();
    open_ = true;
}

void InputUnit::set_window(std::size_t block, std::size_t keep_behind) noexcept {
    block_ = page_ceil(std::max<std::size_t>(block, 1));
    keep_behind_ = page_ceil(std::max<std::size_t>(keep_behind, 1));
}

bool InputUnit::read_span(std::size_t begin, std::size_t end) noexcept {
    while (begin < end) {
        const long n = units_os::read_at(fd_, data_ + begin, end - begin, begin);
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
        const long n = units_os::read_on(fd_, data_ + loaded_, want, loaded_);
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
    units_os::give_back(data_ + released_, upto - released_);
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
            const long n = units_os::read_at(fd_, buf, std::min(sizeof buf, pos_ - at), at);
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

namespace {}  // namespace

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

void OutputUnit::open_memory(std::string name) {
    drop_temporary();
    path_ = std::move(name);
    content_.clear();
    commit_error_.clear();
    overflowed_ = false;
    kind_ = Kind::memory;
    open_ = true;
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
