// What the output unit does with paths that someone else may have prepared:
// links, hard links, pipes nobody reads, planted temporary names, leftovers of
// other machines and containers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;
namespace fs = std::filesystem;

ino_t inode_of(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Every kind of prepared output path, with links followed or not: what is
// written where, and what is said.
TEST(OutputSafety, PreparedPaths) {
    struct Case {
        const char* what;
        bool follow;
        std::function<void(const ScratchDir&)> make;  // makes "out" (and what it needs)
        bool written;                                 // the commit succeeds
        const char* phrase;    // in commit_error() when refused, in notice() otherwise
        const char* new_file;  // the file that holds the new content, or nullptr
        const char* old_file;  // a file that must keep "old", or nullptr
    };
    auto file_and_link = [](const ScratchDir& d) {
        fs::create_directory(d / "else");
        write_file(d / "else/victim.dat", "old");
        fs::create_hard_link(d / "else/victim.dat", d / "else/second.dat");
        fs::create_symlink("else/victim.dat", d / "out");
    };
    const Case cases[] = {
        {"link, not followed", false, file_and_link, false, "is a symbolic link", nullptr,
         "else/victim.dat"},
        {"link, followed", true, file_and_link, true, "", "else/second.dat", nullptr},
        {"link to a read-only file", true,
         [&](const ScratchDir& d) {
             file_and_link(d);
             fs::permissions(d / "else/victim.dat", fs::perms::owner_read);
         },
         false, "read-only", nullptr, "else/victim.dat"},
        {"link to a folder", true,
         [](const ScratchDir& d) {
             fs::create_directory(d / "else");
             fs::create_symlink("else", d / "out");
         },
         false, "not a regular file", nullptr, nullptr},
        {"link to a pipe", true,
         [](const ScratchDir& d) {
             ::mkfifo((d / "fifo").c_str(), 0600);
             fs::create_symlink("fifo", d / "out");
         },
         false, "not a regular file", nullptr, nullptr},
        {"hard link", false,
         [](const ScratchDir& d) {
             write_file(d / "out", "old");
             fs::create_hard_link(d / "out", d / "other");
         },
         true, "other name (a hard link); it keeps the old content", "out", "other"},
        {"pipe without reader", false,
         [](const ScratchDir& d) { ::mkfifo((d / "out").c_str(), 0600); }, false,
         "is a pipe that nobody reads", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        c.make(dir);
        const fs::path out = dir / "out";
        const ino_t link_inode = inode_of(out);
        const ino_t target_inode = c.new_file ? inode_of(dir / c.new_file) : 0;
        OutputUnit u;
        u.set_follow_links(c.follow);
        bool ok = u.open(out.string(), false) == Outcome::done;
        if (ok) {
            u.append_line("new");
            ok = u.close(true);
        }
        EXPECT_EQ(ok, c.written) << c.what << ": " << u.commit_error();
        const std::string& said = c.written ? u.notice() : u.commit_error();
        EXPECT_NE(said.find(c.phrase), std::string::npos) << c.what << ": " << said;
        if (c.new_file) {
            EXPECT_EQ(read_file(dir / c.new_file), "new\r\n") << c.what;
        }
        if (c.old_file) {
            EXPECT_EQ(read_file(dir / c.old_file), "old") << c.what;
        }
        if (c.follow && c.written) {
            // Written in place: the link stays a link, the file keeps its inode.
            EXPECT_EQ(inode_of(out), link_inode) << c.what;
            EXPECT_TRUE(fs::is_symlink(out)) << c.what;
            EXPECT_EQ(inode_of(dir / c.new_file), target_inode) << c.what;
        }
        // No temporary file is left anywhere.
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            EXPECT_EQ(e.path().filename().string().find(".qelda-"), std::string::npos)
                << c.what << ": " << e.path();
    }
}

// Leftover temporary files: only ours by host, boot and PID namespace, of a
// process that is gone, and old enough, are removed.
TEST(OutputSafety, LeftoversOfOthersAreKept) {
    ScratchDir dir;
    OutputUnit probe;
    const std::string tag = probe.temporary_tag();
    if (tag.starts_with("0-") || tag.find("-0-") != std::string::npos || tag.ends_with("-0"))
        GTEST_SKIP() << "host, boot id or PID namespace unknown here: " << tag;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child), alive = std::to_string(::getppid());
    const auto first = tag.find('-'), last = tag.rfind('-');
    const std::string host = tag.substr(0, first), boot = tag.substr(first + 1, last - first - 1),
                      ns = tag.substr(last + 1);
    struct Case {
        std::string name;
        bool old;
        bool removed;
    };
    const Case cases[] = {
        {".out.dat.qelda-" + tag + "-" + dead + "-a1B2c3.tmp", true, true},
        {".out.dat.qelda-" + tag + "-" + dead + "-a1B2c4.tmp", false, false},  // young
        {".out.dat.qelda-" + tag + "-" + alive + "-a1B2c5.tmp", true, false},  // running
        {".out.dat.qelda-x" + host + "-" + boot + "-" + ns + "-" + dead + "-abcdef.tmp", true,
         false},  // another machine
        {".out.dat.qelda-" + host + "-" + boot + "0-" + ns + "-" + dead + "-abcdef.tmp", true,
         false},  // another boot
        {".out.dat.qelda-" + host + "-" + boot + "-1" + ns + "-" + dead + "-abcdef.tmp", true,
         false},                                             // another container
        {".out.dat.qelda-" + dead + "-0.tmp", true, false},  // no identity at all
        {"other.tmp", true, false},
    };
    for (const auto& c : cases) {
        write_file(dir / c.name, "half");
        if (c.old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 2 * 86400, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (dir / c.name).c_str(), times, 0), 0);
        }
    }
    OutputUnit u;
    ASSERT_EQ(u.open((dir / "out.dat").string(), false), Outcome::done);
    u.append_line("x");
    ASSERT_TRUE(u.close(true)) << u.commit_error();
    for (const auto& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
}

// Names planted where the old predictable temporary names were, and files of
// our own pattern, neither stop a conversion nor are touched by it.
TEST(OutputSafety, PlantedNamesDoNotStopTheOutput) {
    ScratchDir dir;
    OutputUnit u;
    const std::string tag = u.temporary_tag();
    for (int i = 0; i < 100; ++i) {
        write_file(dir / (".out.dat.qelda-" + std::to_string(::getpid()) + "-" + std::to_string(i) +
                          ".tmp"),
                   "planted");
        fs::create_symlink("/nonexistent",
                           dir / (".out.dat.qelda-" + tag + "-" + std::to_string(::getpid()) +
                                  "-p" + std::to_string(10000 + i) + ".tmp"));
    }
    ASSERT_EQ(u.open((dir / "out.dat").string(), false), Outcome::done);
    for (int i = 0; i < 5000; ++i) u.append_line("12345678");  // a temporary file is made
    ASSERT_TRUE(u.close(true)) << u.commit_error();
    EXPECT_EQ(read_file(dir / "out.dat").size(), 50000u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 201);
}

struct CliRun {
    int status;
    std::string err;
};

CliRun run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), "qelda-convert");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = run_convert_cli(static_cast<int>(argv.size()), argv.data(), in, out, err);
    std::string text;
    std::rewind(err);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, err)) > 0) text.append(buf, n);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return {status, text};
}

// The command line: a link is refused unless followed; the rule that a file of
// the input's format needs --force applies to what the link leads to; a hard
// link is split with a warning.
TEST(OutputSafety, CommandLineLinks) {
    const fs::path example = fs::path(QELDA_SOURCE_DIR) / "examples/quartz.uxd";
    struct Case {
        std::vector<std::string> options;
        const char* output;  // relative to the scratch folder
        int status;
        const char* phrase;   // in standard error
        bool victim_changed;  // else/victim.dat
    };
    const Case cases[] = {
        {{}, "link.dat", 1, "is a symbolic link; not written (--follow-links", false},
        {{"--follow-links"}, "link.dat", 1, "holds a uxd file", false},
        {{"--follow-links", "--force"}, "link.dat", 0, "", true},
        {{}, "hard.dat", 0, "other name (a hard link)", true},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        fs::create_directory(dir / "else");
        fs::copy_file(example, dir / "else/victim.dat");
        fs::create_symlink("else/victim.dat", dir / "link.dat");
        fs::create_hard_link(dir / "else/victim.dat", dir / "hard.dat");
        std::vector<std::string> args = c.options;
        if (std::string_view(c.output) == "hard.dat") args.push_back("--force");
        args.push_back(example.string());
        args.push_back((dir / c.output).string());
        const CliRun r = run_cli(args);
        EXPECT_EQ(r.status, c.status) << c.output << ": " << r.err;
        EXPECT_NE(r.err.find(c.phrase), std::string::npos) << r.err;
        const bool changed = read_file(dir / "else/victim.dat") != read_file(example);
        const bool hard_changed = read_file(dir / "hard.dat") != read_file(example);
        if (std::string_view(c.output) == "hard.dat") {
            EXPECT_FALSE(changed) << "the other name keeps the old content";
            EXPECT_TRUE(hard_changed);
        } else {
            EXPECT_EQ(changed, c.victim_changed) << c.output;
        }
        EXPECT_TRUE(fs::is_symlink(dir / "link.dat"));
    }
}

// Two batches into one folder from two PID namespaces (two containers on one
// machine, where both see themselves as PID 1 or 2): none loses an output to
// the other's clean-up or temporary names.
TEST(OutputSafety, TwoPidNamespacesShareAFolder) {
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -p -f --mount-proc is not allowed here; two PID namespaces "
                        "cannot be made";
    ScratchDir dir;
    const fs::path example = fs::path(QELDA_SOURCE_DIR) / "examples/quartz.uxd";
    fs::create_directory(dir / "in");
    std::string inputs;
    for (int i = 0; i < 150; ++i) {
        const fs::path p = dir / ("in/s" + std::to_string(i) + ".uxd");
        fs::copy_file(example, p);
        inputs += " '" + p.string() + "'";
    }
    const std::string batch = std::string("unshare -p -f --mount-proc '") + QELDA_CONVERT_PATH +
                              "' -q -t xy -o '" + (dir / "out").string() + "'" + inputs;
    const std::string both = "(" + batch + " > '" + (dir / "a.log").string() +
                             "' 2>&1; echo $? > '" + (dir / "a.rc").string() + "') & (" + batch +
                             " > '" + (dir / "b.log").string() + "' 2>&1; echo $? > '" +
                             (dir / "b.rc").string() + "'); wait";
    ASSERT_EQ(std::system(both.c_str()), 0);
    EXPECT_EQ(read_file(dir / "a.rc"), "0\n") << read_file(dir / "a.log");
    EXPECT_EQ(read_file(dir / "b.rc"), "0\n") << read_file(dir / "b.log");
    std::size_t outputs = 0;
    for (const auto& e : fs::directory_iterator(dir / "out")) {
        EXPECT_EQ(e.path().extension(), ".dat") << e.path();
        ++outputs;
    }
    EXPECT_EQ(outputs, 150u);
}

}  // namespace
}  // namespace qelda
