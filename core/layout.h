// Layouts: the fixed-column descriptions of every text line that the system
// reads or writes, e.g. "(2X,F7.3,',',F10.3)" or "(5(F8.0,F8.2))".
//
// A layout is parsed once, when it is constructed, into a flat list of items.
// Repeated groups and repeated fields are unrolled; `reuse_start` is where the
// layout is taken up again when a statement has more values than data items.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelda {

enum class ItemKind : uint8_t {
    integer,  // Iw or Iw.m
    real,     // Fw.d
    text,     // Aw, or A (width 0: the variable's own length)
    skip,     // nX
    literal,  // 'text'
    slash,    // /
};

struct LayoutItem {
    ItemKind kind;
    int32_t width = 0;   // w; the skip count for nX
    int32_t digits = 0;  // d for Fw.d, m for Iw.m (-1 when no m is given)
    std::string literal;

    bool is_data() const noexcept {
        return kind == ItemKind::integer || kind == ItemKind::real || kind == ItemKind::text;
    }
};

class Layout {
  public:
    // Parses the notation; a malformed layout is a programming error and throws
    // std::invalid_argument. Layouts are constants of the code that uses them.
    explicit Layout(std::string_view notation);

    std::span<const LayoutItem> items() const noexcept { return items_; }
    std::size_t reuse_start() const noexcept { return reuse_start_; }
    bool has_data_items() const noexcept { return has_data_; }
    const std::string& notation() const noexcept { return notation_; }

  private:
    std::vector<LayoutItem> items_;
    std::size_t reuse_start_ = 0;
    bool has_data_ = false;
    std::string notation_;
};

}  // namespace qelda
