// Formatted record I/O: text buffers, and the read and write statements that
// move values through a layout between them and the units (core/units.h).
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
#include "core/units.h"

namespace qelda {

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
// The general read engine alone (what the statements above must match), and
// whether they take the direct engine instead: statements that read numbers
// into floats only, at most 64 of them, through layouts without text items.
// The tests hold the two engines against each other.
Outcome read_text_general(std::string_view buffer, const Layout& layout,
                          std::span<const Target> targets, std::string* problem = nullptr);
bool reads_directly(const Layout& layout, std::span<const Target> targets) noexcept;
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
// The general write engine alone, and whether write_record and write_line take
// the direct engine instead: numbers only, through layouts without text items
// whose lines stay within 256 columns. The tests hold the two against each other.
TextResult write_line_general(const Layout& layout, std::span<const Value> values);
bool writes_directly(const Layout& layout, std::span<const Value> values) noexcept;

// The fatal I/O error report texts.
std::string end_of_file_report(int unit, std::string_view file);
std::string conversion_error_report(int unit, std::string_view file);

}  // namespace qelda
