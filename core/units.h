// The units: 1 (input) and 2 (output).
//
// Lines of unit 1 end at LF, CRLF or a lone CR, and the last line needs no line
// end. Unit 2 collects what a writer writes and replaces the chosen file only on
// `commit`, through a temporary file in the same folder, so that a failed write
// never leaves the target half-written.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qelda {

enum class Outcome { done, end_of_file, error };

class Layout;
class Target;

// Unit 1: the input file. The file is read in blocks as the lines are asked
// for, into a region that never moves, so every line handed out stays valid;
// pages far behind the current line are given back to the system as reading
// goes on (and read again should anything ask for them), so a long scan never
// holds the whole file in memory.
class InputUnit {
  public:
    static constexpr int kNumber = 1;
    // Larger inputs are refused at open; no scan in any format comes near it.
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 30;

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

    // The next line, or false at the end of the file (or when not open).
    bool next_line(std::string_view& line) noexcept;
    // Moves back one line, so that the next read returns the line last read.
    void backspace() noexcept;
    // The whole file as bytes, for binary readers.
    std::string_view bytes() noexcept;
    const std::string& path() const noexcept { return path_; }
    // The file name without its folders, as fatal reports quote it.
    std::string_view file_name() const noexcept;
    // What the last failed read statement could not read ("'1.2.3' is not a
    // number (columns 9-16)"), or why the last open failed; empty otherwise.
    const std::string& problem() const noexcept { return problem_; }
    // Byte offset of the next line; lets readers come back to a line.
    std::size_t position() const noexcept { return pos_; }
    void set_position(std::size_t pos) noexcept { pos_ = pos <= size_ ? pos : pos_; }

  private:
    friend Outcome read_record(InputUnit&, const Layout&, std::span<const Target>);
    std::string problem_;

    static constexpr std::size_t kBlock = std::size_t{1} << 15;
    static constexpr std::size_t kKeepBehind = std::size_t{1} << 17;
    // Reads on until at least `end` bytes (or the whole file) are loaded.
    void load_through(std::size_t end) noexcept;
    // Gives back whole pages before `keep`.
    void release_before(std::size_t keep) noexcept;
    // Reads the given-back front part again.
    void restore_released() noexcept;

    std::string owned_;  // content given by open_bytes
    std::string path_;
    char* data_ = nullptr;  // the file's bytes: owned_ or a private anonymous region
    std::size_t region_ = 0;
    std::size_t size_ = 0;
    std::size_t loaded_ = 0;
    std::size_t released_ = 0;
    std::size_t pos_ = 0;
    std::size_t last_start_ = 0;  // start of the line last handed out
    int fd_ = -1;
    bool open_ = false;
};

// Unit 2: the output file. What a writer writes goes into a temporary file
// beside the chosen one, through a small buffer; `commit` renames it over the
// chosen file, `discard` removes it. Memory units (tests, standard output)
// keep everything in `content()`.
class OutputUnit {
  public:
    static constexpr int kNumber = 2;

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

    // Starts the output afresh, as closing with delete and reopening "new" does.
    void restart() noexcept;
    void append_line(std::string_view line);  // adds CR LF
    void append_bytes(std::string_view bytes);

    // Replaces the chosen file by what was written (temporary file + rename).
    // Returns false when the file system refuses; the old file is then untouched.
    bool commit();
    // Drops what was written; the chosen file stays as it was.
    void discard() noexcept;
    // Closes: commits when `keep` and discards otherwise.
    bool close(bool keep);

    // Everything written, for memory units; for file units only what is not yet
    // flushed.
    const std::string& content() const noexcept { return content_; }
    const std::string& path() const noexcept { return path_; }
    std::string_view file_name() const noexcept;
    // True when a field was filled with asterisks since the last restart.
    bool overflowed() const noexcept { return overflowed_; }
    void note_overflow() noexcept { overflowed_ = true; }
    // Why the last open or commit failed (empty when it succeeded).
    const std::string& commit_error() const noexcept { return commit_error_; }

  private:
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 15;
    bool flush();  // writes the buffer into the temporary file
    void drop_temporary() noexcept;

    std::string content_;
    std::string path_;
    std::string target_;  // the file the temporary replaces (symbolic links resolved)
    std::string temp_;    // the temporary file, once created
    std::string commit_error_;
    int temp_fd_ = -1;
    bool write_failed_ = false;
    bool open_ = false;
    bool memory_only_ = false;
    bool overflowed_ = false;
};

}  // namespace qelda
