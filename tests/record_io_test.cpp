// Statements on units: lines, layout reuse, early stop, backspace, commit.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include "core/record_io.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

std::vector<std::string> all_lines(std::string content) {
    InputUnit u;
    u.open_bytes(std::move(content), "x");
    std::vector<std::string> out;
    std::string_view line;
    while (u.next_line(line)) out.emplace_back(line);
    return out;
}

TEST(Lines, EveryLineEnding) {
    using V = std::vector<std::string>;
    EXPECT_EQ(all_lines("a\nb\n"), (V{"a", "b"}));
    EXPECT_EQ(all_lines("a\r\nb"), (V{"a", "b"}));
    EXPECT_EQ(all_lines("a\rb\r"), (V{"a", "b"}));
    EXPECT_EQ(all_lines("a\n\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(all_lines("a\r\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(all_lines(""), V{});
    EXPECT_EQ(all_lines("\n"), V{""});
}

TEST(Backspace, RereadsTheLastLine) {
    for (const char* content :
         {"one\ntwo\nthree", "one\r\ntwo\r\nthree\r\n", "one\rtwo\rthree", "one\n\ntwo\nthree"}) {
        InputUnit u;
        u.open_bytes(content, "x");
        std::string a, b;
        const Layout l("(A10)");
        ASSERT_EQ(read_record(u, l, {TextRef{a, 10}}), Outcome::done);
        ASSERT_EQ(read_record(u, l, {TextRef{a, 10}}), Outcome::done);
        u.backspace();
        ASSERT_EQ(read_record(u, l, {TextRef{b, 10}}), Outcome::done);
        EXPECT_EQ(a, b) << content;
        // Twice in a row goes back two lines.
        u.backspace();
        u.backspace();
        ASSERT_EQ(read_record(u, l, {TextRef{b, 10}}), Outcome::done);
        EXPECT_EQ(b, "one       ") << content;
    }
    InputUnit last;
    last.open_bytes("a\nlast", "x");
    std::string t;
    const Layout l("(A4)");
    read_record(last, l, {TextRef{t, 4}});
    read_record(last, l, {TextRef{t, 4}});
    last.backspace();
    ASSERT_EQ(read_record(last, l, {TextRef{t, 4}}), Outcome::done);
    EXPECT_EQ(t, "last");
}

TEST(ReadRecord, EndOfFileAndNothingStored) {
    InputUnit u;
    u.open_bytes("1 2 3\n", "x");
    float v[3] = {7, 7, 7};
    const Layout l("(3F2.0)");
    ASSERT_EQ(read_record(u, l, {std::span<float>(v)}), Outcome::done);
    EXPECT_EQ(v[2], 3.0f);
    EXPECT_EQ(read_record(u, l, {std::span<float>(v)}), Outcome::end_of_file);
    // A layout reused across lines that runs out of lines is an end of file, and
    // nothing of the partial statement is stored.
    InputUnit w;
    w.open_bytes("1 2\n", "x");
    float a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(read_record(w, Layout("(2F2.0)"), {a, b, c, d}), Outcome::end_of_file);
    EXPECT_EQ(a, 0.0f);
}

TEST(ReadRecord, EachStatementStartsOnANewLine) {
    InputUnit u;
    u.open_bytes("1 2\n3 4\n", "x");
    int32_t a = 0, b = 0;
    ASSERT_EQ(read_record(u, Layout("(I2)"), {a}), Outcome::done);
    ASSERT_EQ(read_record(u, Layout("(I2)"), {b}), Outcome::done);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 3);
}

TEST(ReadRecord, SlashAndReuseReadFollowingLines) {
    InputUnit u;
    u.open_bytes("1\n2\n3\n", "x");
    int32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(read_record(u, Layout("(I1,/,I1)"), {a, b}), Outcome::done);
    EXPECT_EQ(b, 2);
    u.open_bytes("1 2\n3 4\n", "x");
    ASSERT_EQ(read_record(u, Layout("(2I2)"), {a, b, c}), Outcome::done);
    EXPECT_EQ(c, 3);
}

TEST(ReadRecordOrAbort, ReportsWithFileName) {
    InputUnit u;
    u.open_bytes("x\n", "/some/folder/scan.dat");
    int32_t v = 0;
    try {
        read_record_or_abort(u, Layout("(I5)"), {v});
        FAIL();
    } catch (const IoAbort& a) {
        EXPECT_EQ(a.report, "input conversion error, unit 1, file scan.dat");
    }
    try {
        read_record_or_abort(u, Layout("(I5)"), {v});
        FAIL();
    } catch (const IoAbort& a) {
        EXPECT_EQ(a.report, "end-of-file during read, unit 1, file scan.dat");
    }
}

TEST(WriteRecord, ReuseEarlyStopAndLineEnds) {
    OutputUnit u;
    u.open_memory("m");
    std::vector<float> v(20, 1.0f);
    ASSERT_EQ(write_record(u, Layout("(8F8.0)"), {std::span<const float>(v)}), Outcome::done);
    const std::string eight = "      1.      1.      1.      1.      1.      1.      1.      1.";
    const std::string four = "      1.      1.      1.      1.";
    EXPECT_EQ(u.content(), eight + "\r\n" + eight + "\r\n" + four + "\r\n");

    u.restart();
    ASSERT_EQ(write_record(u, Layout("('_STEPCOUNT=',I5,/,'_COUNTS')"), {12}), Outcome::done);
    EXPECT_EQ(u.content(), "_STEPCOUNT=   12\r\n_COUNTS\r\n");

    u.restart();
    ASSERT_EQ(write_record(u, Layout("(8F8.0)"), {}), Outcome::done);
    EXPECT_EQ(u.content(), "\r\n");

    u.restart();
    // Values stop at the first data item without a value; literals before it stay.
    ASSERT_EQ(write_record(u, Layout("(I2,' a ',I2,' b')"), {1}), Outcome::done);
    EXPECT_EQ(u.content(), " 1 a \r\n");

    u.restart();
    // With an inner group, the layout is taken up again at the last outer group.
    ASSERT_EQ(write_record(u, Layout("('H',2(I2))"), {1, 2, 3, 4}), Outcome::done);
    EXPECT_EQ(u.content(), "H 1 2\r\n 3 4\r\n");
}

TEST(WriteRecord, OverflowIsSticky) {
    OutputUnit u;
    u.open_memory("m");
    write_record(u, Layout("(I5)"), {100000});
    write_record(u, Layout("(I5)"), {1});
    EXPECT_TRUE(u.overflowed());
    u.restart();
    EXPECT_FALSE(u.overflowed());
}

TEST(OutputUnit, CommitReplacesOnlyOnSuccess) {
    ScratchDir dir;
    const auto target = dir / "out.dat";
    write_file(target, "old contents");
    chmod(target.c_str(), 0640);
    OutputUnit u;
    ASSERT_EQ(u.open(target.string(), true), Outcome::done);
    u.append_line("new");
    EXPECT_EQ(read_file(target), "old contents");  // nothing until commit
    ASSERT_TRUE(u.close(true));
    EXPECT_EQ(read_file(target), "new\r\n");
    struct stat st {};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ASSERT_EQ(u.open(target.string(), true), Outcome::done);
    u.append_line("lost");
    u.close(false);
    EXPECT_EQ(read_file(target), "new\r\n");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A new file chosen in the window is created empty at once; the command line
    // creates nothing until the commit.
    const auto fresh = dir / "fresh.dat";
    ASSERT_EQ(u.open(fresh.string(), true), Outcome::done);
    EXPECT_TRUE(std::filesystem::exists(fresh));
    u.close(false);
    EXPECT_EQ(read_file(fresh), "");
    const auto later = dir / "later.dat";
    ASSERT_EQ(u.open(later.string(), false), Outcome::done);
    u.close(false);
    EXPECT_FALSE(std::filesystem::exists(later));
}

TEST(OutputUnit, RefusesFolders) {
    ScratchDir dir;
    OutputUnit u;
    EXPECT_EQ(u.open(dir.path().string(), true), Outcome::error);
    EXPECT_EQ(u.open((dir / "no/such/dir/x.dat").string(), true), Outcome::error);
}

TEST(InputUnit, MissingFileAndFolder) {
    ScratchDir dir;
    InputUnit u;
    EXPECT_EQ(u.open((dir / "missing.dat").string()), Outcome::error);
    EXPECT_EQ(u.open(dir.path().string()), Outcome::error);
    // A named pipe is refused at once instead of waiting for a writer.
    const auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(u.open(fifo.string()), Outcome::error);
    std::string_view line;
    EXPECT_FALSE(u.next_line(line));
}

}  // namespace
}  // namespace qelda

namespace qelda {
namespace {

// Files larger than the part kept behind the current line: every line comes
// back intact, and so do backspace and the binary view after reading far.
TEST(InputUnit, LongFilesReadInBlocksStayIntact) {
    ScratchDir dir;
    std::string content;
    for (int i = 0; i < 60000; ++i)
        content += "line " + std::to_string(i) + (i % 3 ? "\r\n" : "\n");
    const auto path = dir / "long.txt";
    write_file(path, content);
    InputUnit u;
    ASSERT_EQ(u.open(path.string()), Outcome::done);
    std::string_view line;
    for (int i = 0; i < 60000; ++i) {
        ASSERT_TRUE(u.next_line(line));
        ASSERT_EQ(line, "line " + std::to_string(i));
    }
    EXPECT_FALSE(u.next_line(line));
    u.backspace();
    ASSERT_TRUE(u.next_line(line));
    EXPECT_EQ(line, "line 59999");
    EXPECT_EQ(u.bytes(), content);
    u.set_position(0);
    ASSERT_TRUE(u.next_line(line));
    EXPECT_EQ(line, "line 0");
}

}  // namespace
}  // namespace qelda
