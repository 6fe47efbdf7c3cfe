#include "core/record_io.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/fields.h"
#include "core/powder_pattern.h"

namespace qelda {
namespace {

// One field as read, already converted to the representation of its target.
struct Parsed {
    double d = 0.0;
    int64_t i = 0;
    float f = 0.0f;
    std::string_view s;  // text fields: the columns of the line that exist
    std::size_t width = 0;
};

// A few fields on the stack; statements with many fields fall back to the heap.
class ParsedBuffer {
  public:
    explicit ParsedBuffer(std::size_t n) {
        if (n > inline_.size()) heap_.resize(n);
        data_ = n > inline_.size() ? heap_.data() : inline_.data();
    }
    Parsed& operator[](std::size_t k) noexcept { return data_[k]; }

  private:
    std::array<Parsed, 48> inline_;
    std::vector<Parsed> heap_;
    Parsed* data_;
};

// Walks the fields of a target list in order.
template <class Item>
class FieldCursor {
  public:
    explicit FieldCursor(std::span<const Item> list) : list_(list) { settle(); }
    bool done() const noexcept { return index_ >= list_.size(); }
    const Item& current() const noexcept { return list_[index_]; }
    std::size_t sub() const noexcept { return sub_; }
    void advance() noexcept {
        ++sub_;
        settle();
    }

  private:
    void settle() noexcept {
        while (index_ < list_.size() && sub_ >= list_[index_].fields()) {
            ++index_;
            sub_ = 0;
        }
    }
    std::span<const Item> list_;
    std::size_t index_ = 0;
    std::size_t sub_ = 0;
};

template <class Item>
std::size_t count_fields(std::span<const Item> list) {
    std::size_t n = 0;
    for (const auto& item : list) n += item.fields();
    return n;
}

// Converts one numeric field for its target; false when it cannot be stored.
bool convert_numeric(const LayoutItem& item, std::string_view field, Target::Kind kind,
                     Parsed& out) {
    double real = 0.0;
    int64_t integer = 0;
    bool is_integer = item.kind == ItemKind::integer;
    if (is_integer) {
        if (parse_integer_field(field, integer) != FieldError::none) return false;
        real = static_cast<double>(integer);
    } else {
        if (parse_real_field(field, item.digits, real) != FieldError::none) return false;
    }
    switch (kind) {
        case Target::Kind::f32:
        case Target::Kind::f32_run:
            if (!std::isfinite(real) || std::fabs(real) > std::numeric_limits<float>::max())
                return false;
            out.f = static_cast<float>(real);
            return true;
        case Target::Kind::f64:
            out.d = real;
            return std::isfinite(real);
        case Target::Kind::i32:
        case Target::Kind::i64: {
            if (!is_integer) {
                if (!std::isfinite(real) || std::fabs(real) >= 9.2e18) return false;
                integer = static_cast<int64_t>(std::trunc(real));
            }
            if (kind == Target::Kind::i32 && (integer < std::numeric_limits<int32_t>::min() ||
                                              integer > std::numeric_limits<int32_t>::max()))
                return false;
            out.i = integer;
            return true;
        }
        case Target::Kind::text:
            return false;
    }
    return false;
}

void store_text(const Parsed& p, std::string& var, std::size_t length) {
    // The field is p.width columns; columns past the end of the line are blanks.
    var.assign(length, ' ');
    const std::size_t w = p.width;
    if (length >= w) {
        var.replace(0, p.s.size(), p.s);
    } else {
        // The variable receives the rightmost `length` characters of the field.
        const std::size_t first = w - length;
        if (p.s.size() > first) var.replace(0, p.s.size() - first, p.s.substr(first));
    }
}

void commit(std::span<const Target> targets, ParsedBuffer& parsed) {
    std::size_t k = 0;
    for (const auto& t : targets) {
        switch (t.kind()) {
            case Target::Kind::f32:
                *static_cast<float*>(t.ptr()) = parsed[k++].f;
                break;
            case Target::Kind::f64:
                *static_cast<double*>(t.ptr()) = parsed[k++].d;
                break;
            case Target::Kind::i32:
                *static_cast<int32_t*>(t.ptr()) = static_cast<int32_t>(parsed[k++].i);
                break;
            case Target::Kind::i64:
                *static_cast<int64_t*>(t.ptr()) = parsed[k++].i;
                break;
            case Target::Kind::text:
                store_text(parsed[k++], *static_cast<std::string*>(t.ptr()), t.count());
                break;
            case Target::Kind::f32_run: {
                float* run = static_cast<float*>(t.ptr());
                for (std::size_t j = 0; j < t.count(); ++j) run[j] = parsed[k++].f;
                break;
            }
        }
    }
}

// What a numeric field that could not be read held, and where.
void describe_bad_number(std::string& problem, std::string_view field, std::size_t start) {
    problem.assign(1, '\'');
    problem.append(field);
    problem.append("' is not a number (columns ");
    problem.append(std::to_string(start + 1));
    problem.push_back('-');
    problem.append(std::to_string(start + std::max<std::size_t>(field.size(), 1)));
    problem.push_back(')');
}

// The first comma of a field, eight columns at a time (a library search costs
// more than the few columns of a field).
inline std::size_t find_comma(std::string_view field) noexcept {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101ull;
        for (; i + 8 <= field.size(); i += 8) {
            uint64_t x = 0;
            std::memcpy(&x, field.data() + i, 8);
            x ^= kOnes * ',';
            if (((x - kOnes) & ~x & (kOnes * 0x80)) != 0) break;  // a comma among them
        }
    }
    for (; i < field.size(); ++i)
        if (field[i] == ',') return i;
    return std::string_view::npos;
}

// The columns of a numeric field of width `w` from `pos`; a comma ends it early
// and the next field starts after the comma. Moves `pos` on.
inline std::string_view numeric_field(std::string_view line, std::size_t& pos, std::size_t w,
                                      std::size_t& start) noexcept {
    start = std::min(pos, line.size());
    std::string_view field = line.substr(start, std::min(w, line.size() - start));
    const auto comma = find_comma(field);
    if (comma != std::string_view::npos) {
        field = field.substr(0, comma);
        pos = start + comma + 1;
    } else {
        pos += w;
    }
    return field;
}

// The direct engine serves statements that read numbers into floats only
// (counts, mostly), up to this many fields, through layouts without text items.
constexpr std::size_t kDirectFields = 64;

bool is_direct(const Layout& layout, std::span<const Target> targets, std::size_t& total) noexcept {
    total = 0;
    for (const Target& t : targets) {
        if (t.kind() != Target::Kind::f32 && t.kind() != Target::Kind::f32_run) return false;
        total += t.fields();
    }
    if (total > kDirectFields) return false;
    for (const LayoutItem& item : layout.items())
        if (item.kind == ItemKind::text) return false;
    return true;
}

// The read statement for is_direct statements: the same lines, columns, rules
// and reports as read_engine below, without its per-field bookkeeping.
template <class NextLine>
Outcome read_floats(NextLine&& next_line, const Layout& layout, std::span<const Target> targets,
                    std::size_t total, std::string* problem) {
    float values[kDirectFields];
    std::string_view line;
    if (!next_line(line)) return Outcome::end_of_file;
    const auto items = layout.items();
    std::size_t pos = 0;
    std::size_t item_index = 0;
    std::size_t got = 0;
    while (got < total) {
        if (item_index == items.size()) {
            if (!layout.has_data_items()) return Outcome::error;
            if (!next_line(line)) return Outcome::end_of_file;
            pos = 0;
            item_index = layout.reuse_start();
            continue;
        }
        const LayoutItem& item = items[item_index++];
        if (item.kind == ItemKind::skip) {
            pos += static_cast<std::size_t>(item.width);
            continue;
        }
        if (item.kind == ItemKind::literal) {
            pos += item.literal.size();
            continue;
        }
        if (item.kind == ItemKind::slash) {
            if (!next_line(line)) return Outcome::end_of_file;
            pos = 0;
            continue;
        }
        std::size_t start = 0;
        const std::string_view field =
            numeric_field(line, pos, static_cast<std::size_t>(item.width), start);
        double real = 0.0;
        bool ok = false;
        if (item.kind == ItemKind::integer) {
            int64_t integer = 0;
            ok = parse_integer_field(field, integer) == FieldError::none;
            real = static_cast<double>(integer);
        } else {
            ok = parse_real_field(field, item.digits, real) == FieldError::none;
        }
        if (!ok || !(std::fabs(real) <= std::numeric_limits<float>::max())) {
            if (problem != nullptr) describe_bad_number(*problem, field, start);
            return Outcome::error;
        }
        values[got++] = static_cast<float>(real);
    }
    std::size_t k = 0;
    for (const Target& t : targets) {
        std::memcpy(t.ptr(), values + k, t.fields() * sizeof(float));
        k += t.fields();
    }
    return Outcome::done;
}

// The read statement, over any source of lines.
template <class NextLine>
Outcome read_engine(NextLine&& next_line, const Layout& layout, std::span<const Target> targets,
                    std::string* problem = nullptr) {
    const std::size_t total = count_fields(targets);
    ParsedBuffer parsed(total);
    std::string_view line;
    if (!next_line(line)) return Outcome::end_of_file;
    const auto items = layout.items();
    std::size_t pos = 0;
    std::size_t item_index = 0;
    std::size_t got = 0;
    FieldCursor<Target> cursor(targets);
    while (got < total) {
        if (item_index == items.size()) {
            if (!layout.has_data_items()) return Outcome::error;
            if (!next_line(line)) return Outcome::end_of_file;
            pos = 0;
            item_index = layout.reuse_start();
            continue;
        }
        const LayoutItem& item = items[item_index++];
        switch (item.kind) {
            case ItemKind::skip:
                pos += static_cast<std::size_t>(item.width);
                break;
            case ItemKind::literal:
                pos += item.literal.size();
                break;
            case ItemKind::slash:
                if (!next_line(line)) return Outcome::end_of_file;
                pos = 0;
                break;
            case ItemKind::integer:
            case ItemKind::real: {
                std::size_t start = 0;
                const std::string_view field =
                    numeric_field(line, pos, static_cast<std::size_t>(item.width), start);
                if (!convert_numeric(item, field, cursor.current().kind(), parsed[got])) {
                    if (problem != nullptr) describe_bad_number(*problem, field, start);
                    return Outcome::error;
                }
                ++got;
                cursor.advance();
                break;
            }
            case ItemKind::text: {
                const Target& t = cursor.current();
                if (t.kind() != Target::Kind::text) {
                    if (problem != nullptr) *problem = "a text where a number was expected";
                    return Outcome::error;
                }
                const std::size_t w =
                    item.width > 0 ? static_cast<std::size_t>(item.width) : t.count();
                const std::size_t start = std::min(pos, line.size());
                parsed[got].s = line.substr(start, std::min(w, line.size() - start));
                parsed[got].width = w;
                pos += w;
                ++got;
                cursor.advance();
                break;
            }
        }
    }
    commit(targets, parsed);
    return Outcome::done;
}

// Formats one value into the line for a data item; false on a type mismatch.
bool put_field(std::string& line, const LayoutItem& item, const Value& v, std::size_t sub,
               bool& overflow) {
    const auto w = item.width;
    switch (item.kind) {
        case ItemKind::integer: {
            int64_t n = 0;
            if (v.kind() == Value::Kind::integer) {
                n = v.integer();
            } else if (v.kind() == Value::Kind::text) {
                return false;
            } else {
                const double d = v.kind() == Value::Kind::real ? v.real() : v.run()[sub];
                if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) {
                    line.append(static_cast<std::size_t>(w), '*');
                    overflow = true;
                    return true;
                }
                n = static_cast<int64_t>(std::trunc(d));
            }
            if (!append_integer_field(line, n, w, item.digits)) overflow = true;
            return true;
        }
        case ItemKind::real: {
            double d = 0.0;
            switch (v.kind()) {
                case Value::Kind::integer:
                    d = static_cast<double>(v.integer());
                    break;
                case Value::Kind::real:
                    d = v.real();
                    break;
                case Value::Kind::f32_run:
                    d = v.run()[sub];
                    break;
                case Value::Kind::text:
                    return false;
            }
            if (!append_real_field(line, d, w, item.digits)) overflow = true;
            return true;
        }
        case ItemKind::text: {
            if (v.kind() != Value::Kind::text) return false;
            const std::string_view s = v.text();
            if (w == 0) {
                line.append(s);
            } else if (s.size() >= static_cast<std::size_t>(w)) {
                line.append(s.substr(0, static_cast<std::size_t>(w)));
            } else {
                line.append(static_cast<std::size_t>(w) - s.size(), ' ');
                line.append(s);
            }
            return true;
        }
        default:
            return false;
    }
}

// The direct write engine serves statements of numbers through layouts without
// text items whose lines cannot exceed this many columns.
constexpr std::size_t kDirectLine = 256;

bool is_direct(const Layout& layout, std::span<const Value> values) noexcept {
    for (const Value& v : values)
        if (v.kind() == Value::Kind::text) return false;
    std::size_t columns = 0;
    for (const LayoutItem& item : layout.items()) {
        if (item.kind == ItemKind::text || item.width < 0) return false;
        columns += item.kind == ItemKind::literal ? item.literal.size()
                   : item.kind == ItemKind::slash ? 0
                                                  : static_cast<std::size_t>(item.width);
    }
    return columns <= kDirectLine;
}

// Formats one number for a data item at `p`, as put_field does; returns the end.
char* put_number(char* p, const LayoutItem& item, const Value& v, std::size_t sub, bool& overflow) {
    const auto w = item.width;
    const double d = v.kind() == Value::Kind::real      ? v.real()
                     : v.kind() == Value::Kind::f32_run ? static_cast<double>(v.run()[sub])
                                                        : static_cast<double>(v.integer());
    if (item.kind == ItemKind::real) {
        if (char* end = format_real_field(p, d, w, item.digits, false)) return end;
    } else if (v.kind() != Value::Kind::integer && (!std::isfinite(d) || std::fabs(d) >= 9.2e18)) {
        std::memset(p, '*', static_cast<std::size_t>(w));
        overflow = true;
        return p + w;
    } else {
        const int64_t n =
            v.kind() == Value::Kind::integer ? v.integer() : static_cast<int64_t>(std::trunc(d));
        if (char* end = format_integer_field(p, n, w, item.digits)) return end;
    }
    // Asterisks and the rare forms: the general routines (exactly w columns).
    std::string field;
    if (!put_field(field, item, v, sub, overflow)) return p;
    std::memcpy(p, field.data(), field.size());
    return p + field.size();
}

// The write statement for is_direct statements: the same lines as write_engine
// below, built in a buffer on the stack.
template <class Emit>
Outcome write_direct(Emit&& emit, const Layout& layout, std::span<const Value> values,
                     bool& overflow) {
    const auto items = layout.items();
    const std::size_t total = count_fields(values);
    char line[kDirectLine + kRealFieldRoom];
    std::size_t size = 0;
    std::size_t pos = 0;
    std::size_t written = 0;
    std::size_t item_index = 0;
    FieldCursor<Value> cursor(values);
    auto text = [&] { return std::string_view(line, size); };
    auto pad_to_pos = [&] {
        if (size < pos) {
            std::memset(line + size, ' ', pos - size);
            size = pos;
        }
    };
    while (true) {
        if (item_index == items.size()) {
            if (written == total) break;
            if (!layout.has_data_items()) {
                emit(text());
                return Outcome::error;
            }
            if (!emit(text())) return Outcome::error;
            size = pos = 0;
            item_index = layout.reuse_start();
            continue;
        }
        const LayoutItem& item = items[item_index++];
        if (item.kind == ItemKind::skip) {
            pos += static_cast<std::size_t>(item.width);
        } else if (item.kind == ItemKind::literal) {
            pad_to_pos();
            std::memcpy(line + size, item.literal.data(), item.literal.size());
            size += item.literal.size();
            pos = size;
        } else if (item.kind == ItemKind::slash) {
            if (!emit(text())) return Outcome::error;
            size = pos = 0;
        } else {
            if (written == total) break;
            pad_to_pos();
            size = static_cast<std::size_t>(
                put_number(line + size, item, cursor.current(), cursor.sub(), overflow) - line);
            pos = size;
            ++written;
            cursor.advance();
        }
    }
    return emit(text()) ? Outcome::done : Outcome::error;
}

// The write statement; `emit` receives every finished line.
template <class Emit>
Outcome write_engine(Emit&& emit, const Layout& layout, std::span<const Value> values,
                     bool& overflow) {
    const auto items = layout.items();
    const std::size_t total = count_fields(values);
    std::string line;
    std::size_t pos = 0;
    std::size_t written = 0;
    std::size_t item_index = 0;
    FieldCursor<Value> cursor(values);
    auto pad_to_pos = [&] {
        if (line.size() < pos) line.append(pos - line.size(), ' ');
    };
    while (true) {
        if (item_index == items.size()) {
            if (written == total) break;
            if (!layout.has_data_items()) {
                emit(line);
                return Outcome::error;
            }
            if (!emit(line)) return Outcome::error;
            line.clear();
            pos = 0;
            item_index = layout.reuse_start();
            continue;
        }
        const LayoutItem& item = items[item_index++];
        switch (item.kind) {
            case ItemKind::skip:
                pos += static_cast<std::size_t>(item.width);
                break;
            case ItemKind::literal:
                pad_to_pos();
                line.append(item.literal);
                pos = line.size();
                break;
            case ItemKind::slash:
                if (!emit(line)) return Outcome::error;
                line.clear();
                pos = 0;
                break;
            default:
                if (written == total) {
                    item_index = items.size();
                    goto finished;
                }
                pad_to_pos();
                if (!put_field(line, item, cursor.current(), cursor.sub(), overflow))
                    return Outcome::error;
                pos = line.size();
                ++written;
                cursor.advance();
                break;
        }
    }
finished:
    return emit(line) ? Outcome::done : Outcome::error;
}

std::string report(const char* what, int unit, std::string_view file) {
    std::string out(what);
    out += ", unit ";
    out += std::to_string(unit);
    out += ", file ";
    out += file;
    return out;
}

}  // namespace

std::string end_of_file_report(int unit, std::string_view file) {
    return report("end-of-file during read", unit, file);
}

std::string conversion_error_report(int unit, std::string_view file) {
    return report("input conversion error", unit, file);
}

// --- Statements --------------------------------------------------------------

Outcome read_record(InputUnit& unit, const Layout& layout, std::span<const Target> targets) {
    unit.problem_.clear();
    auto next_line = [&](std::string_view& line) { return unit.next_line(line); };
    if (std::size_t total = 0; is_direct(layout, targets, total))
        return read_floats(next_line, layout, targets, total, &unit.problem_);
    return read_engine(next_line, layout, targets, &unit.problem_);
}

Outcome read_record(InputUnit& unit, const Layout& layout, Targets targets) {
    return read_record(unit, layout, std::span<const Target>(targets.begin(), targets.size()));
}

void read_record_or_abort(InputUnit& unit, const Layout& layout, std::span<const Target> targets) {
    switch (read_record(unit, layout, targets)) {
        case Outcome::done:
            return;
        case Outcome::end_of_file:
            throw IoAbort{end_of_file_report(InputUnit::kNumber, unit.file_name())};
        case Outcome::error:
            throw IoAbort{conversion_error_report(InputUnit::kNumber, unit.file_name())};
    }
}

void read_record_or_abort(InputUnit& unit, const Layout& layout, Targets targets) {
    read_record_or_abort(unit, layout, std::span<const Target>(targets.begin(), targets.size()));
}

Outcome write_record(OutputUnit& unit, const Layout& layout, std::span<const Value> values) {
    if (!unit.is_open()) return Outcome::error;
    bool overflow = false;
    auto emit = [&](std::string_view line) {
        unit.append_line(line);
        return true;
    };
    const Outcome outcome = is_direct(layout, values)
                                ? write_direct(emit, layout, values, overflow)
                                : write_engine(emit, layout, values, overflow);
    if (overflow) unit.note_overflow();
    return outcome;
}

Outcome write_record(OutputUnit& unit, const Layout& layout, Values values) {
    return write_record(unit, layout, std::span<const Value>(values.begin(), values.size()));
}

Outcome read_text(std::string_view buffer, const Layout& layout, std::span<const Target> targets) {
    bool given = false;
    auto next_line = [&](std::string_view& line) {
        if (given) return false;
        given = true;
        line = buffer;
        return true;
    };
    if (std::size_t total = 0; is_direct(layout, targets, total))
        return read_floats(next_line, layout, targets, total, nullptr);
    return read_engine(next_line, layout, targets);
}

Outcome read_text_general(std::string_view buffer, const Layout& layout,
                          std::span<const Target> targets, std::string* problem) {
    bool given = false;
    return read_engine(
        [&](std::string_view& line) {
            if (given) return false;
            given = true;
            line = buffer;
            return true;
        },
        layout, targets, problem);
}

bool reads_directly(const Layout& layout, std::span<const Target> targets) noexcept {
    std::size_t total = 0;
    return is_direct(layout, targets, total);
}

Outcome read_text(std::string_view buffer, const Layout& layout, Targets targets) {
    return read_text(buffer, layout, std::span<const Target>(targets.begin(), targets.size()));
}

void read_text_or_abort(std::string_view buffer, const Layout& layout, Targets targets,
                        std::string_view what) {
    switch (read_text(buffer, layout, targets)) {
        case Outcome::done:
            return;
        case Outcome::end_of_file:
            throw IoAbort{end_of_file_report(-1, what)};
        case Outcome::error:
            throw IoAbort{conversion_error_report(-1, what)};
    }
}

namespace {

TextResult write_one_line(const Layout& layout, std::span<const Value> values, bool direct) {
    TextResult result;
    int lines = 0;
    auto emit = [&](std::string_view line) {
        if (++lines > 1) return false;
        result.text.assign(line);
        return true;
    };
    result.outcome = direct ? write_direct(emit, layout, values, result.overflow)
                            : write_engine(emit, layout, values, result.overflow);
    return result;
}

}  // namespace

TextResult write_line(const Layout& layout, Values values) {
    const std::span<const Value> list(values.begin(), values.size());
    return write_one_line(layout, list, is_direct(layout, list));
}

TextResult write_line_general(const Layout& layout, std::span<const Value> values) {
    return write_one_line(layout, values, false);
}

bool writes_directly(const Layout& layout, std::span<const Value> values) noexcept {
    return is_direct(layout, values);
}

TextResult write_text(std::size_t length, const Layout& layout, Values values) {
    TextResult result = write_line(layout, values);
    if (result.text.size() > length) {
        result.outcome = Outcome::error;
        result.text.resize(length);
    }
    result.text.resize(length, ' ');
    return result;
}

}  // namespace qelda
