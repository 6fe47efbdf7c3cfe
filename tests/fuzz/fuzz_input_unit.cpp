// The file-backed input unit against the same bytes in memory. The bytes go
// through a real file once per input (one file per process, rewritten each time;
// scripts/fuzz.sh removes it), repeated up to 12 kB and read with a
// window of a few pages, so that giving pages back and reading them again
// happens on small inputs too. A run of reads, moves back, jumps and block
// fetches, drawn from the input, must give the same bytes from both units.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/units.h"

namespace {

const std::string& scratch_file() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qelda-fuzz-" +
               std::to_string(::getpid()) + ".in";
    }();
    return path;
}

bool write_scratch(std::string_view content) {
    const int fd = ::open(scratch_file().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    while (ok && !content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        ok = n > 0;
        if (ok) content.remove_prefix(static_cast<std::size_t>(n));
    }
    return ::close(fd) == 0 && ok;
}

// splitmix64: the moves, from the input's own bytes.
struct Moves {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

void check(bool same) {
    if (!same) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using qelda::InputUnit;
    if (size < 2) return 0;
    const unsigned control = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string content;
    const std::size_t copies = (control & 0x10) != 0 ? 1 : 12 * 1024 / input.size() + 1;
    for (std::size_t i = 0; i < copies && content.size() < 12 * 1024; ++i) content += input;
    if (!write_scratch(content)) return 0;

    InputUnit file, memory;
    if (file.open(scratch_file()) != qelda::Outcome::done) __builtin_trap();
    file.set_window(4096 * (1 + (control & 1)), 4096 * (1 + ((control >> 1) & 1)));
    memory.open_bytes(content, "memory");
    Moves moves{0x5EED};
    for (unsigned char c : input.substr(0, 64)) moves.state = moves.state * 131 + c;

    std::string_view a, b;
    int ends = 0;
    // Every read or move back of a line costs about its length: the bytes looked
    // at stay a few times the content.
    std::size_t budget = 4 * content.size() + 4096;
    auto spend = [&](std::size_t n) { budget -= std::min(budget, n + 1); };
    for (int step = 0; step < 800 && ends < 4 && budget > 0; ++step) {
        const uint64_t op = moves.next() % 100;
        if (op < 75) {
            const bool got = file.next_line(a);
            check(got == memory.next_line(b));
            spend(a.size());
            if (got) {
                check(a == b);
            } else {
                ++ends;
            }
        } else if (op < 95) {
            file.backspace();
            memory.backspace();
            spend(a.size());
        } else if (op < 98) {
            const std::size_t to = memory.position() * (moves.next() % 8) / 8;
            file.set_position(to);
            memory.set_position(to);
        } else {
            const std::size_t at = moves.next() % (content.size() + 1);
            const std::size_t length = moves.next() % 8192;
            check(file.bytes_at(at, length) == memory.bytes_at(at, length));
            spend(length);
        }
        check(file.position() == memory.position());
    }
    check(file.overlong_line() == memory.overlong_line());
    check(file.bytes() == memory.bytes());
    return 0;
}
