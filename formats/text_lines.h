// Lines of a text held in memory, ended by LF, CR LF or a lone CR (old
// Macintosh files), for the text readers that take the whole file at once.
#pragma once

#include <string_view>

namespace qelda {

// The line at `pos` without its end, moving `pos` past the end; false at the
// end of the text.
inline bool next_text_line(std::string_view text, std::size_t& pos,
                           std::string_view& line) noexcept {
    if (pos >= text.size()) return false;
    const auto end = text.find_first_of("\r\n", pos);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    line = text.substr(pos, stop - pos);
    pos = stop;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    return true;
}

}  // namespace qelda
