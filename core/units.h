// The units: 1 (input) and 2 (output).
//
// Lines of unit 1 end at LF, CRLF or a lone CR, and the last line needs no line
// end. Unit 2 collects what a writer writes and replaces the chosen file only on
// `commit`, through a temporary file in the same folder, so that a failed write
// never leaves the target half-written.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelda {

enum class Outcome { done, end_of_file, error };

class Layout;
class Target;

// Unit 1: the input file. The file is read in blocks as the lines are asked
// for, into a region that never moves, so every line handed out stays valid;
// pages far behind the current line are given back to the system as reading
// goes on (and read again, only as far back as needed, should anything ask for
// them), so a long scan never holds the whole file in memory. A line longer
// than kMaxLineBytes stops the reading: no scan has such lines, and holding one
// would cost memory without bound.
class InputUnit {
  public:
    static constexpr int kNumber = 1;
    // Larger inputs are refused at open; no scan in any format comes near it.
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 30;
    static constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

    InputUnit() = default;
    InputUnit(const InputUnit&) = delete;
    InputUnit& operator=(const InputUnit&) = delete;
    ~InputUnit();

    // Opens an existing file for reading ("READ", "OLD").
    Outcome open(const std::string& path);
    // Opens in-memory content under a display name (tests, fuzzing).
    void open_bytes(std::string content, std::string name);
    void close() noexcept;
    bool is_open() const noexcept { return open_; }

    // The next line, or false at the end of the file (or when not open, or
    // after a line longer than kMaxLineBytes).
    bool next_line(std::string_view& line) noexcept;
    // Moves back one line, so that the next read returns the line last read.
    void backspace() noexcept;
    // The whole file as bytes, for binary readers that need all of it.
    std::string_view bytes() noexcept;
    // `length` bytes from `offset` (fewer at the end of the file), for binary
    // readers that need only some blocks; only those bytes are read. The view
    // stays valid until the unit is closed, unless lines are read after it.
    std::string_view bytes_at(std::size_t offset, std::size_t length) noexcept;
    // True when the file is empty or its last byte ends a line (LF or CR):
    // a file cut inside its last line has none.
    bool ends_with_line_end() noexcept;
    // The size of the file in bytes, as opened.
    std::size_t size() const noexcept { return size_; }
    const std::string& path() const noexcept { return path_; }
    // The file name without its folders, as fatal reports quote it.
    std::string_view file_name() const noexcept;
    // What the last failed read statement could not read ("'1.2.3' is not a
    // number (columns 9-16)"), or why the last open failed; empty otherwise.
    const std::string& problem() const noexcept { return problem_; }
    // The 1-based number of a line longer than kMaxLineBytes that stopped the
    // reading, or 0.
    std::size_t overlong_line() const noexcept { return overlong_line_; }
    // Byte offset of the next line; lets readers come back to a line.
    std::size_t position() const noexcept { return pos_; }
    void set_position(std::size_t pos) noexcept { pos_ = pos <= size_ ? pos : pos_; }

    // What was read from the file since it was opened: system calls and bytes.
    struct IoCounts {
        std::size_t reads = 0;
        std::size_t bytes = 0;
    };
    IoCounts io_counts() const noexcept { return counts_; }
    // Smaller blocks and a shorter part kept behind the current line, so that
    // tests and fuzzing reach the releasing and restoring with small files.
    // Both are rounded up to whole pages.
    void set_window(std::size_t block, std::size_t keep_behind) noexcept;

  private:
    friend Outcome read_record(InputUnit&, const Layout&, std::span<const Target>);
    std::string problem_;

    // Reads on until at least `end` bytes (or the whole file) are loaded.
    void load_through(std::size_t end) noexcept;
    // Gives back whole pages before `keep`.
    void release_before(std::size_t keep) noexcept;
    // Reads the given-back pages from the one holding `from` on again.
    void restore_from(std::size_t from) noexcept;
    // Reads [begin, end) of the file into the region; false when it is shorter.
    bool read_span(std::size_t begin, std::size_t end) noexcept;
    // The byte at `i`, restoring its page first when it was given back.
    char at(std::size_t i) noexcept {
        if (i < released_) restore_from(i);
        return data_[i];
    }
    // Stops the reading at the over-long line starting at pos_.
    void refuse_overlong_line() noexcept;

    std::string owned_;  // content given by open_bytes
    std::string path_;
    char* data_ = nullptr;  // the file's bytes: owned_ or a private anonymous region
    std::size_t region_ = 0;
    std::size_t size_ = 0;
    std::size_t loaded_ = 0;
    std::size_t released_ = 0;
    std::size_t pos_ = 0;
    std::size_t last_start_ = 0;  // start of the line last handed out
    std::size_t block_ = std::size_t{1} << 15;
    std::size_t keep_behind_ = std::size_t{1} << 17;
    std::size_t overlong_line_ = 0;
    IoCounts counts_;
    int fd_ = -1;
    bool open_ = false;
};

// Unit 2: the output file. A regular file (or a new name) is replaced on
// `commit` through a temporary file beside it, so that a failed write never
// leaves the target half-written: the temporary file is created readable by its
// owner only and given the target's mode just before the rename. What a writer
// writes goes into it through a small buffer. A character device, a pipe or a
// socket cannot be replaced: what was written goes to it directly on `commit`;
// a pipe is opened without waiting, so that one nobody reads is a failure, not a
// hang. A symbolic link is refused unless links are followed; then the regular
// file it leads to is written in place (never renamed over), so that its owner,
// its mode and its other names stay. Anything else is refused, and so is a file
// without write permission. Memory units (tests, standard output) keep
// everything in `content()`.
//
// Temporary files are named ".NAME.qelda-HOST-BOOT-PIDNS-PID-RANDOM.tmp": the
// random part makes the name unpredictable, the rest tells a leftover of a
// process of this machine, this boot and this PID namespace. Leftovers are
// removed only when all three match, their process is gone and they are older
// than kLeftoverAge, once per folder for the unit's life (the run).
class OutputUnit {
  public:
    static constexpr int kNumber = 2;

    // How the chosen path takes the output.
    enum class Kind { memory, replaced, direct, in_place };
    // A leftover temporary file younger than this may still be written.
    static constexpr long kLeftoverAgeSeconds = 6 * 3600;

    // A failure made on purpose, so that tests reach every write failure
    // whoever runs them: writes fail with `error` once `after` bytes went out.
    struct WriteFault {
        std::size_t after = 0;
        int error = 0;  // 0: no fault
    };

    OutputUnit() = default;
    OutputUnit(const OutputUnit&) = delete;
    OutputUnit& operator=(const OutputUnit&) = delete;
    ~OutputUnit();

    // Opens for writing ("WRITE", "UNKNOWN"): with `create_now` an absent file is
    // created empty at once, as the window's chooser does; the command line
    // passes false so that a failed conversion leaves no file behind.
    Outcome open(const std::string& path, bool create_now);
    // Opens without a file: content is only collected (tests, standard output).
    void open_memory(std::string name);
    bool is_open() const noexcept { return open_; }
    Kind kind() const noexcept { return kind_; }

    // With `on`, a commit flushes the file to the disk before the rename and the
    // folder after it, for file systems that do not order a rename after the
    // data by themselves.
    void set_sync(bool on) noexcept { sync_ = on; }
    void set_write_fault(WriteFault fault) noexcept { fault_ = fault; }
    // With `on`, a symbolic link as the chosen path is followed and the regular
    // file it leads to written in place; otherwise a link is refused.
    void set_follow_links(bool on) noexcept { follow_links_ = on; }
    // What the last open found worth a warning ("has 2 other names (hard
    // links); they keep the old content"); empty otherwise.
    const std::string& notice() const noexcept { return notice_; }
    // "HOST-BOOT-PIDNS" of this process, as temporary names carry it.
    const std::string& temporary_tag();

    // Starts the output afresh, as closing with delete and reopening "new" does.
    void restart() noexcept;
    void append_line(std::string_view line);  // adds CR LF
    void append_bytes(std::string_view bytes);

    // Replaces the chosen file by what was written (temporary file + rename), or
    // writes it to the device, pipe or socket. Returns false when the system
    // refuses; a replaced file is then untouched.
    bool commit();
    // Drops what was written; the chosen file stays as it was.
    void discard() noexcept;
    // Closes: commits when `keep` and discards otherwise.
    bool close(bool keep);

    // Everything written, for memory units and devices; for replaced files only
    // what is not yet flushed.
    const std::string& content() const noexcept { return content_; }
    const std::string& path() const noexcept { return path_; }
    std::string_view file_name() const noexcept;
    // True when a field was filled with asterisks since the last restart.
    bool overflowed() const noexcept { return overflowed_; }
    void note_overflow() noexcept { overflowed_ = true; }
    // Why the last open or commit failed, always with its cause ("No space left
    // on device", "is read-only: Permission denied"); empty when it succeeded.
    const std::string& commit_error() const noexcept { return commit_error_; }

  private:
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 15;
    // Finds how the chosen path takes the output; false (with the reason) when
    // it cannot.
    bool classify(bool& exists);
    bool flush();  // writes the buffer into the temporary file
    bool create_temporary();
    bool write_all(int fd, std::string_view data);
    bool commit_replaced();
    bool commit_direct();
    bool commit_in_place();
    mode_t new_file_mode();
    void remove_leftovers(const std::string& dir);
    bool fail(std::string what, int error);
    void drop_temporary() noexcept;

    std::string content_;
    std::string path_;
    std::string target_;  // the file the temporary replaces (symbolic links resolved)
    std::string temp_;    // the temporary file, once created
    std::string commit_error_;
    std::string notice_;
    std::string tag_;                      // temporary_tag(), made once
    std::vector<std::string> swept_dirs_;  // folders whose leftovers were looked at
    std::size_t written_ = 0;              // bytes written since the output started
    WriteFault fault_;
    Kind kind_ = Kind::memory;
    int temp_fd_ = -1;
    int new_mode_ = -1;  // 0666 less the umask, read once; -1 until read
    bool follow_links_ = false;
    bool write_failed_ = false;
    bool open_ = false;
    bool overflowed_ = false;
    bool sync_ = false;
};

}  // namespace qelda
