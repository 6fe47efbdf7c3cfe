// The units against what the system can throw at them: outputs that are not
// plain files, write failures of every kind, leftovers of killed processes, and
// input whose cost must stay linear however the readers move.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

bool make_device(const std::filesystem::path& p, mode_t kind, unsigned minor) {
    return ::mknod(p.c_str(), kind | 0666, makedev(1, minor)) == 0;
}

// Every kind of path an output may be given, and what becomes of it.
TEST(OutputUnit, EveryKindOfTarget) {
    struct Case {
        const char* what;
        std::function<bool(const std::filesystem::path&)> make;  // false: cannot here
        bool opens;
        bool commits;
        const char* error;  // in commit_error()
    };
    const Case cases[] = {
        {"null device", [](auto& p) { return make_device(p, S_IFCHR, 3); }, true, true, ""},
        {"full device", [](auto& p) { return make_device(p, S_IFCHR, 7); }, true, false,
         "No space left on device"},
        {"block device",
         [](auto& p) { return ::mknod(p.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0; }, false,
         false, "cannot take the output"},
        {"read-only file",
         [](auto& p) {
             write_file(p, "old");
             return ::chmod(p.c_str(), 0444) == 0;
         },
         false, false, "is read-only: Permission denied"},
        {"dangling link", [](auto& p) { return ::symlink("gone", p.c_str()) == 0; }, false, false,
         "is a symbolic link; links are not followed"},
        {"link to a file",
         [](auto& p) {
             write_file(p.string() + ".real", "old");
             return ::symlink("target.real", p.c_str()) == 0;
         },
         false, false, "is a symbolic link; links are not followed"},
        {"pipe without reader", [](auto& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, true, false,
         "is a pipe that nobody reads"},
        {"missing folder",
         [](auto& p) {
             std::filesystem::remove(p);
             return true;
         },
         false, false, "No such file or directory"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        auto target = dir / "target";
        if (std::string_view(c.what) == "missing folder") target = dir / "no/folder/target";
        if (!c.make(target)) {
            std::cout << "skipped (cannot make one here): " << c.what << "\n";
            continue;
        }
        struct stat before {};
        ::lstat(target.c_str(), &before);
        OutputUnit u;
        ASSERT_EQ(u.open(target.string(), false) == Outcome::done, c.opens) << c.what;
        if (c.opens) {
            u.append_line("1.0 2.0");
            EXPECT_EQ(u.close(true), c.commits) << c.what;
        }
        EXPECT_NE(u.commit_error().find(c.error), std::string::npos)
            << c.what << ": " << u.commit_error();
        // Nothing was replaced, and no temporary file is left.
        struct stat after {};
        ::lstat(target.c_str(), &after);
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        std::size_t entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            (void)e;
            ++entries;
        }
        EXPECT_LE(entries, std::string_view(c.what) == "link to a file" ? 2u : 1u) << c.what;
    }
}

TEST(OutputUnit, PipeIsWrittenDirectly) {
    ScratchDir dir;
    const auto pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    OutputUnit u;
    ASSERT_EQ(u.open(pipe.string(), true), Outcome::done);
    EXPECT_EQ(u.kind(), OutputUnit::Kind::direct);
    u.append_line("10.0 5");
    ASSERT_TRUE(u.close(true)) << u.commit_error();
    char buf[64];
    const ssize_t n = ::read(reader, buf, sizeof buf);
    ::close(reader);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "10.0 5\r\n");
    struct stat st {};
    ::lstat(pipe.c_str(), &st);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The write seam makes every write failure, root or not: the old file stays,
// no temporary file remains, and the cause is named.
TEST(OutputUnit, WriteFailuresKeepTheOldFileAndSayWhy) {
    struct Case {
        std::size_t output_bytes;
        std::size_t fail_after;
        int error;
        bool device;
    };
    const Case cases[] = {
        {100, 0, ENOSPC, false},      // at the commit's only write
        {200000, 40000, EIO, false},  // in a flush on the way
        {200000, 199999, EDQUOT, false},
        {100, 10, EPIPE, true},  // a device written directly
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const auto target = dir / "out.dat";
        if (c.device && !make_device(target, S_IFCHR, 3)) continue;
        if (!c.device) write_file(target, "previous");
        OutputUnit u;
        ASSERT_EQ(u.open(target.string(), false), Outcome::done);
        u.set_write_fault({c.fail_after, c.error});
        for (std::size_t n = 0; n < c.output_bytes; n += 10) u.append_line("12345678");
        EXPECT_FALSE(u.close(true));
        EXPECT_EQ(u.commit_error(), std::strerror(c.error));
        if (!c.device) {
            EXPECT_EQ(read_file(target), "previous");
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST(OutputUnit, TemporaryFileIsPrivateUntilTheRename) {
    ScratchDir dir;
    const mode_t old_mask = ::umask(027);
    OutputUnit u;
    ASSERT_EQ(u.open((dir / "new.dat").string(), false), Outcome::done);
    u.set_sync(true);
    for (int i = 0; i < 5000; ++i) u.append_line("12345678");  // flushed on the way
    std::filesystem::path temp;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) temp = e.path();
    struct stat st {};
    ASSERT_EQ(::stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << temp;
    ASSERT_TRUE(u.close(true)) << u.commit_error();
    ASSERT_EQ(::stat((dir / "new.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ::umask(old_mask);
}

// A file-backed unit with a small window gives the same lines as the same bytes
// in memory, whatever the order of reads, backspaces and jumps; going back a
// line re-reads only about that line.
TEST(InputUnit, FileBackedMatchesMemoryUnderRandomMoves) {
    ScratchDir dir;
    std::mt19937 gen(7);
    std::string content;
    for (int i = 0; i < 20000; ++i)
        content += "line " + std::to_string(i) + (i % 5 == 0 ? "\r\n" : i % 7 == 0 ? "\r" : "\n");
    write_file(dir / "in.txt", content);
    InputUnit file, memory;
    ASSERT_EQ(file.open((dir / "in.txt").string()), Outcome::done);
    file.set_window(4096, 8192);
    memory.open_bytes(content, "in.txt");
    std::string_view a, b;
    for (int step = 0; step < 100000; ++step) {
        const unsigned op = gen() % 100;
        if (op < 80) {
            ASSERT_EQ(file.next_line(a), memory.next_line(b)) << step;
            ASSERT_EQ(a, b) << step;
        } else if (op < 99) {
            file.backspace();
            memory.backspace();
        } else {
            const std::size_t to = memory.position() * (gen() % 4) / 4;
            file.set_position(to);
            memory.set_position(to);
        }
    }
    // Stepping back and forth at the end costs a line each, not the file.
    while (file.next_line(a)) {
    }
    const auto before = file.io_counts().bytes;
    for (int i = 0; i < 1000; ++i) {
        file.backspace();
        file.backspace();
        file.next_line(a);
    }
    EXPECT_LT(file.io_counts().bytes - before, 64u * 1024u);
    EXPECT_EQ(file.bytes(), content);
}

TEST(InputUnit, OverlongLineStopsReadingWithItsNumber) {
    const std::string huge(InputUnit::kMaxLineBytes + 1, 'x');
    for (const std::string& content :
         {"a\nb\n" + huge, "a\r\nb\r" + huge + "\n", "a\rb\n" + huge}) {
        InputUnit u;
        u.open_bytes(content, "big.xy");
        std::string_view line;
        ASSERT_TRUE(u.next_line(line));
        ASSERT_TRUE(u.next_line(line));
        EXPECT_FALSE(u.next_line(line));
        EXPECT_EQ(u.overlong_line(), 3u);
        EXPECT_FALSE(u.next_line(line));
    }
    // A line at the bound is read.
    InputUnit u;
    u.open_bytes(std::string(InputUnit::kMaxLineBytes, '1'), "ok.xy");
    std::string_view line;
    EXPECT_TRUE(u.next_line(line));
    // The driver turns the refusal into a read error naming the line.
    testing::Bench b;
    b.input("10 1\n" + huge, "big.xy");
    const ConversionResult r = run_conversion(b.ws, FormatId::ascii_xy, FormatId::gsas);
    EXPECT_EQ(r.read_status, ConversionStatus::record_error);
    EXPECT_EQ(r.reason, "big.xy, line 2 is longer than 1 MB; no scan has such lines");
}

TEST(InputUnit, BytesAtReadsOnlyWhatIsAsked) {
    ScratchDir dir;
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    write_file(dir / "scan.raw", content);
    InputUnit u;
    ASSERT_EQ(u.open((dir / "scan.raw").string()), Outcome::done);
    EXPECT_EQ(u.bytes_at(512 * 1000, 512), content.substr(512 * 1000, 512));
    EXPECT_EQ(u.bytes_at(content.size() - 10, 512), content.substr(content.size() - 10));
    EXPECT_EQ(u.bytes_at(content.size(), 1), "");
    EXPECT_EQ(u.io_counts().bytes, 522u);
}

}  // namespace
}  // namespace qelda
