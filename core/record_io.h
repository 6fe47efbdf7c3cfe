// Formatted record I/O: units 1 (input) and 2 (output), text buffers, and the
// read and write statements that move values through a layout.
//
// Unit 1 holds the whole input file in memory once it is opened; lines end at
// LF, CRLF or a lone CR, and the last line needs no line end. Unit 2 collects
// what a writer writes and replaces the chosen file only on `commit`, through a
// temporary file in the same folder, so that a failed write never leaves the
// target half-written.
//
// A statement "asking for outcomes" returns an Outcome. The *_or_abort forms
// are statements without outcomes: a failure throws IoAbort, which the codec
// guard turns into an aborted conversion (the program itself goes on).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/layout.h"

namespace qelda {

enum class Outcome { done, end_of_file, error };

// The fatal I/O error report of a failed statement without outcomes.
struct IoAbort {
    std::string report;
};

// A blank-padded text variable of a declared length, e.g. TextRef{title, 60}.
struct TextRef {
    std::string& text;
    std::size_t length;
};

// One thing a read statement stores into: a float, a double, an int32, a text
// variable, or a run of floats (one field per entry).
class Target {
  public:
    enum class Kind : uint8_t { f32, f64, i32, i64, text, f32_run };
    Target(float& v) : kind_(Kind::f32), ptr_(&v) {}
    Target(double& v) : kind_(Kind::f64), ptr_(&v) {}
    Target(int32_t& v) : kind_(Kind::i32), ptr_(&v) {}
    Target(int64_t& v) : kind_(Kind::i64), ptr_(&v) {}
    Target(TextRef t) : kind_(Kind::text), ptr_(&t.text), count_(t.length) {}
    Target(std::span<float> run) : kind_(Kind::f32_run), ptr_(run.data()), count_(run.size()) {}

    Kind kind() const noexcept { return kind_; }
    void* ptr() const noexcept { return ptr_; }
    std::size_t count() const noexcept { return count_; }
    std::size_t fields() const noexcept { return kind_ == Kind::f32_run ? count_ : 1; }

  private:
    Kind kind_;
    void* ptr_;
    std::size_t count_ = 0;
};

// One thing a write statement writes: an integer, a real, a text, or a run of
// floats (one field per entry).
class Value {
  public:
    enum class Kind : uint8_t { integer, real, text, f32_run };
    Value(int v) : kind_(Kind::integer), i_(v) {}
    Value(long v) : kind_(Kind::integer), i_(v) {}
    Value(long long v) : kind_(Kind::integer), i_(v) {}
    Value(float v) : kind_(Kind::real), d_(v) {}
    Value(double v) : kind_(Kind::real), d_(v) {}
    Value(std::string_view s) : kind_(Kind::text), s_(s) {}
    Value(const std::string& s) : kind_(Kind::text), s_(s) {}
    Value(const char* s) : kind_(Kind::text), s_(s) {}
    Value(std::span<const float> run) : kind_(Kind::f32_run), run_(run) {}

    Kind kind() const noexcept { return kind_; }
    int64_t integer() const noexcept { return i_; }
    double real() const noexcept { return d_; }
    std::string_view text() const noexcept { return s_; }
    std::span<const float> run() const noexcept { return run_; }
    std::size_t fields() const noexcept { return kind_ == Kind::f32_run ? run_.size() : 1; }

  private:
    Kind kind_;
    int64_t i_ = 0;
    double d_ = 0.0;
    std::string_view s_;
    std::span<const float> run_;
};

using Targets = std::initializer_list<Target>;
using Values = std::initializer_list<Value>;

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

// --- Statements --------------------------------------------------------------

// Reads the next line(s) of unit 1 through the layout into the targets. Nothing
// is stored unless the whole statement succeeds.
Outcome read_record(InputUnit& unit, const Layout& layout, Targets targets);
Outcome read_record(InputUnit& unit, const Layout& layout, std::span<const Target> targets);
void read_record_or_abort(InputUnit& unit, const Layout& layout, Targets targets);
void read_record_or_abort(InputUnit& unit, const Layout& layout, std::span<const Target> targets);

// Writes the values through the layout as one or more lines on unit 2.
Outcome write_record(OutputUnit& unit, const Layout& layout, Values values);
Outcome write_record(OutputUnit& unit, const Layout& layout, std::span<const Value> values);

// Reads a text buffer (one line) through the layout.
Outcome read_text(std::string_view buffer, const Layout& layout, Targets targets);
Outcome read_text(std::string_view buffer, const Layout& layout, std::span<const Target> targets);
// As read_text; a failure throws IoAbort naming `what` as the file.
void read_text_or_abort(std::string_view buffer, const Layout& layout, Targets targets,
                        std::string_view what = "internal text");

struct TextResult {
    std::string text;  // exactly `length` characters, blank-padded
    Outcome outcome = Outcome::done;
    bool overflow = false;  // some field was filled with asterisks
};
// Writes the values through the layout into a text buffer of `length` columns.
TextResult write_text(std::size_t length, const Layout& layout, Values values);
// Writes one line without a length limit (the rest of the line is not padded).
TextResult write_line(const Layout& layout, Values values);

// The fatal I/O error report texts.
std::string end_of_file_report(int unit, std::string_view file);
std::string conversion_error_report(int unit, std::string_view file);

}  // namespace qelda
