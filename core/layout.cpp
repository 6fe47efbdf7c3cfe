#include "core/layout.h"

#include <cctype>
#include <stdexcept>

namespace qelda {
namespace {

class LayoutParser {
  public:
    explicit LayoutParser(std::string_view text) : text_(text) {}

    // Parses "( items )" and returns the unrolled items; `reuse_start` receives
    // the position of the last group at the outer level (0 when there is none).
    std::vector<LayoutItem> parse_all(std::size_t& reuse_start) {
        skip_blanks();
        expect('(');
        std::vector<LayoutItem> items;
        reuse_start = 0;
        parse_list(items, /*outer=*/true, reuse_start);
        expect(')');
        skip_blanks();
        if (pos_ != text_.size()) fail("text after the closing parenthesis");
        return items;
    }

  private:
    [[noreturn]] void fail(const char* why) const {
        throw std::invalid_argument("bad layout \"" + std::string(text_) + "\": " + why);
    }
    void skip_blanks() {
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    }
    bool at(char c) {
        skip_blanks();
        return pos_ < text_.size() && text_[pos_] == c;
    }
    void expect(char c) {
        if (!at(c)) fail("missing parenthesis");
        ++pos_;
    }
    int32_t number() {
        skip_blanks();
        if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_])))
            fail("a number is missing");
        int32_t n = 0;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            n = n * 10 + (text_[pos_++] - '0');
            if (n > 100000) fail("number too large");
        }
        return n;
    }
    bool digit_next() {
        skip_blanks();
        return pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]));
    }

    // Items up to the closing parenthesis of the current list.
    void parse_list(std::vector<LayoutItem>& out, bool outer, std::size_t& reuse_start) {
        bool expect_item = true;
        while (true) {
            skip_blanks();
            if (pos_ >= text_.size()) fail("unterminated layout");
            const char c = text_[pos_];
            if (c == ')') {
                return;
            }
            if (c == ',') {
                ++pos_;
                expect_item = true;
                continue;
            }
            if (c == '/') {
                ++pos_;
                out.push_back(LayoutItem{ItemKind::slash, 0, 0, {}});
                expect_item = true;
                continue;
            }
            if (!expect_item) fail("items must be separated by commas");
            parse_item(out, outer, reuse_start);
            expect_item = false;
        }
    }

    void parse_item(std::vector<LayoutItem>& out, bool outer, std::size_t& reuse_start) {
        int32_t repeat = 1;
        bool counted = false;
        if (digit_next()) {
            repeat = number();
            counted = true;
        }
        skip_blanks();
        if (pos_ >= text_.size()) fail("unterminated layout");
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
        if (c == '(') {
            ++pos_;
            std::vector<LayoutItem> group;
            std::size_t inner_reuse = 0;
            parse_list(group, false, inner_reuse);
            expect(')');
            if (outer) reuse_start = out.size();
            for (int32_t k = 0; k < repeat; ++k) out.insert(out.end(), group.begin(), group.end());
            return;
        }
        if (c == '\'') {
            if (counted) fail("a literal cannot be repeated");
            ++pos_;
            std::string lit;
            while (true) {
                if (pos_ >= text_.size()) fail("unterminated literal");
                if (text_[pos_] == '\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                        lit.push_back('\'');
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                lit.push_back(text_[pos_++]);
            }
            out.push_back({ItemKind::literal, 0, 0, std::move(lit)});
            return;
        }
        ++pos_;
        LayoutItem item{ItemKind::skip, 0, 0, {}};
        switch (c) {
            case 'X':
                item.kind = ItemKind::skip;
                item.width = repeat;  // nX: the count is the number of columns
                out.push_back(item);
                return;
            case 'I':
                item.kind = ItemKind::integer;
                item.width = number();
                item.digits = -1;
                if (at('.')) {
                    ++pos_;
                    item.digits = number();
                }
                break;
            case 'F':
                item.kind = ItemKind::real;
                item.width = number();
                expect('.');
                item.digits = number();
                break;
            case 'A':
                item.kind = ItemKind::text;
                item.width = digit_next() ? number() : 0;
                break;
            default:
                fail("unknown item");
        }
        if (item.width <= 0 && item.kind != ItemKind::text) fail("a field needs a width");
        for (int32_t k = 0; k < repeat; ++k) out.push_back(item);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

Layout::Layout(std::string_view notation) : notation_(notation) {
    LayoutParser parser(notation);
    items_ = parser.parse_all(reuse_start_);
    for (const auto& item : items_) has_data_ = has_data_ || item.is_data();
}

}  // namespace qelda
