// The few system calls under the units' reading, one set per system
// (units_posix.cpp, units_win32.cpp). Internal to the units.
#pragma once

#include <cstddef>

namespace qelda::units_os {

// The system's page size, asked once.
std::size_t page_size() noexcept;
inline std::size_t page_floor(std::size_t n) noexcept {
    return n / page_size() * page_size();
}
inline std::size_t page_ceil(std::size_t n) noexcept {
    return (n + page_size() - 1) / page_size() * page_size();
}

// The last `c` among the `n` bytes from `d`, or nullptr.
const char* last_of(const char* d, char c, std::size_t n) noexcept;
// Reads up to `n` bytes at `offset` without moving the file's position; the
// count, 0 at the end, -1 with errno set.
long read_at(int fd, char* buf, std::size_t n, std::size_t offset) noexcept;
// Reads on from where the last read_on stopped, which is `offset`.
long read_on(int fd, char* buf, std::size_t n, std::size_t offset) noexcept;
// Gives the pages of [begin, begin + n) back to the system; they read as
// zeros afterwards.
void give_back(char* begin, std::size_t n) noexcept;

}  // namespace qelda::units_os
