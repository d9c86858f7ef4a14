#include "dlx_format.hpp"

#include <algorithm>
#include <unordered_map>

namespace xcover {

namespace {

bool is_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `u|name` or `u:v|name` with decimal u and v: a multiplicity of the MCC format.
bool is_multiplicity(std::string_view token) {
    const std::size_t bar = token.find('|');
    if (bar == std::string_view::npos || bar + 1 >= token.size()) return false;
    const std::string_view bounds = token.substr(0, bar);
    const std::size_t colon = bounds.find(':');
    if (colon == std::string_view::npos) return is_digits(bounds);
    return is_digits(bounds.substr(0, colon)) && is_digits(bounds.substr(colon + 1));
}

// A token this many characters long is refused at once, whatever it would turn out to be:
// what one line holds must not grow without bound before its fault is reported.
constexpr std::size_t kMaxToken = 4 * kMaxItemName;

// The number of characters of UTF-8 text: its bytes other than continuation bytes.
std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

// Reads the text a byte at a time, each token as soon as it ends, so that a fault is
// reported when it is read and the work is linear in the text.
class DlxParser {
public:
    void feed(std::string_view bytes) {
        for (const char c : bytes) byte(static_cast<unsigned char>(c));
    }

    DlxProblem finish() {
        if (sequence_left_ > 0) error(column_, "not UTF-8: the text ends inside a character");
        cr_pending_ = false;  // a '\r' that ends the text is dropped like one before '\n'
        close_line();
        if (!have_items_) throw DlxFormatError(line_, 1, "missing items line");
        close_unmet_items();
        return std::move(problem_);
    }

private:
    [[noreturn]] void error(std::size_t column, const std::string& what) const {
        throw DlxFormatError(line_, column, what);
    }

    // Checks the bytes are UTF-8 as Python's strict decoder does (no overlong forms, no
    // surrogates, nothing above U+10FFFF) and hands on each character's bytes once whole.
    void byte(unsigned char b) {
        if (sequence_left_ == 0) {
            if (b < 0x80) return character(static_cast<char>(b));
            start_sequence(b);
            return;
        }
        if (b < next_low_ || b > next_high_) not_utf8(b);
        next_low_ = 0x80;
        next_high_ = 0xBF;
        sequence_[sequence_size_++] = b;
        if (--sequence_left_ == 0) end_sequence();
    }

    void start_sequence(unsigned char b) {
        next_low_ = 0x80;
        next_high_ = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            sequence_left_ = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            sequence_left_ = 2;
            if (b == 0xE0) next_low_ = 0xA0;   // no overlong form
            if (b == 0xED) next_high_ = 0x9F;  // no surrogate
        } else if (b >= 0xF0 && b <= 0xF4) {
            sequence_left_ = 3;
            if (b == 0xF0) next_low_ = 0x90;   // no overlong form
            if (b == 0xF4) next_high_ = 0x8F;  // nothing above U+10FFFF
        } else {
            not_utf8(b);
        }
        sequence_[0] = b;
        sequence_size_ = 1;
    }

    void end_sequence() {
        const bool mark = sequence_size_ == 3 && sequence_[0] == 0xEF && sequence_[1] == 0xBB &&
                          sequence_[2] == 0xBF;
        if (mark && line_ == 1 && column_ == 1 && line_start_) return;  // the byte-order mark
        for (std::size_t i = 0; i < sequence_size_; ++i) character(static_cast<char>(sequence_[i]));
    }

    [[noreturn]] void not_utf8(unsigned char b) const {
        static constexpr char kHex[] = "0123456789abcdef";
        error(column_, std::string("not UTF-8: byte 0x") + kHex[b >> 4] + kHex[b & 0xF]);
    }

    // One byte of a whole character; a continuation byte of UTF-8 extends the character
    // before it and takes no column of its own.
    void character(char c) {
        if (c == '\0') error(column_, "a NUL character (binary data, not text)");
        if (c == '\n') {
            cr_pending_ = false;
            close_line();
            ++line_;
            column_ = 1;
            return;
        }
        if (cr_pending_) {  // a '\r' inside a line is an ordinary character
            cr_pending_ = false;
            visible('\r', cr_column_);
        }
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        const std::size_t column = continuation ? column_ - 1 : column_++;
        if (c == '\r') {
            cr_pending_ = true;
            cr_column_ = column;
            return;
        }
        visible(c, column);
    }

    void visible(char c, std::size_t column) {
        const bool first = line_start_;
        line_start_ = false;
        if (comment_) return;
        if (first && c == '|') {
            comment_ = true;
            return;
        }
        if (c == ' ' || c == '\t') {
            close_token();
            return;
        }
        if (token_.empty()) {
            token_column_ = column;
            token_characters_ = 0;
        }
        token_ += c;
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && ++token_characters_ > kMaxToken)
            error(token_column_, "item name longer than " + std::to_string(kMaxItemName) + " characters");
    }

    void close_token() {
        if (token_.empty()) return;
        if (line_tokens_++ == 0) first_token_column_ = token_column_;
        if (have_items_)
            read_option_item();
        else
            read_item();
        token_.clear();
    }

    void close_line() {
        close_token();
        if (line_tokens_ > 0) {
            if (have_items_) {
                problem_.blocks.push_back(std::move(block_));
                block_.clear();
            } else {
                if (problem_.names.empty()) error(first_token_column_, "the items line names no item");
                have_items_ = true;
            }
        }
        line_tokens_ = 0;
        line_start_ = true;
        comment_ = false;
    }

    void check_name() const {
        if (characters(token_) > kMaxItemName)
            error(token_column_, "item name longer than " + std::to_string(kMaxItemName) + " characters");
        for (const char forbidden : {':', '|'})
            if (token_.find(forbidden) != std::string::npos)
                error(token_column_, "item name '" + token_ + "' holds the forbidden character '" +
                                         forbidden + "'");
    }

    // A token of the items line.
    void read_item() {
        if (token_ == "|") {
            if (secondary_) error(token_column_, "a second '|' in the items line");
            secondary_ = true;
            return;
        }
        if (is_multiplicity(token_))
            error(token_column_, "multiplicities ('" + token_ + "') are not supported yet");
        check_name();
        const std::uint64_t number = problem_.names.size();
        if (!numbers_.emplace(token_, number).second)
            error(token_column_, "item '" + token_ + "' is declared twice");
        problem_.names.push_back(token_);
        last_option_.push_back(0);
        if (secondary_) problem_.secondary.push_back(number);
    }

    // A token of an option: `item`, or `item:color` (with a '|' it is a multiplicity, which
    // check_name refuses).
    void read_option_item() {
        const std::size_t colon = token_.find(':');
        const bool colored = colon != std::string::npos && token_.find('|') == std::string::npos;
        std::string color;
        if (colored) {
            color = token_.substr(colon + 1);
            token_.resize(colon);
        }
        check_name();
        const auto found = numbers_.find(token_);
        if (found == numbers_.end()) error(token_column_, "unknown item '" + token_ + "'");
        // Options are numbered from 1 here: an item last held by this option is repeated.
        const std::uint64_t option = problem_.blocks.size() + 1;
        if (last_option_[found->second] == option)
            error(token_column_, "item '" + token_ + "' repeated in an option");
        last_option_[found->second] = option;
        if (colored) read_color(color, found->second);
        block_.push_back(found->second);
    }

    // The color `name` given to `item` (the token `item:name`, its item part in token_).
    void read_color(const std::string& name, std::uint64_t item) {
        const std::size_t column = token_column_ + characters(token_) + 1;
        if (problem_.secondary.empty() || item < problem_.secondary.front())
            error(token_column_, "primary item '" + token_ +
                                     "' must be uncolored: only secondary items take a color");
        if (name.empty()) error(column, "a color without a name after ':'");
        if (characters(name) > kMaxItemName)
            error(column, "color name longer than " + std::to_string(kMaxItemName) + " characters");
        if (name.find(':') != std::string::npos)
            error(column, "color name '" + name + "' holds the forbidden character ':'");
        const auto [entry, added] = color_numbers_.emplace(name, problem_.color_names.size());
        if (added) problem_.color_names.push_back(name);
        problem_.colors.push_back(ItemColor{problem_.blocks.size(), item, entry->second});
    }

    // Lists the primary items no option holds and, when there are some, appends the blocks
    // that leave the problem without a cover (see kUnmetBlocks).
    void close_unmet_items() {
        std::vector<bool> held(problem_.names.size(), false);
        for (std::uint64_t item : problem_.secondary) held[item] = true;
        for (const auto& block : problem_.blocks)
            for (std::uint64_t item : block) held[item] = true;
        for (std::uint64_t item = 0; item < held.size(); ++item)
            if (!held[item]) problem_.unmet.push_back(item);
        if (problem_.unmet.empty()) return;
        const std::uint64_t u = problem_.unmet.front(), n = problem_.names.size();
        problem_.blocks.push_back({u, n});
        problem_.blocks.push_back({n, n + 1});
        problem_.blocks.push_back({u, n + 1});
    }

    DlxProblem problem_;
    std::unordered_map<std::string, std::uint64_t> numbers_;
    std::unordered_map<std::string, std::uint64_t> color_numbers_;
    std::vector<std::uint64_t> last_option_;  // per item: the option that last held it, from 1
    std::vector<std::uint64_t> block_;        // the option being read
    std::string token_;                       // the token being read, as UTF-8
    std::size_t token_column_ = 0, token_characters_ = 0;
    std::size_t line_ = 1, column_ = 1;  // where the next character is, from 1
    std::size_t line_tokens_ = 0, first_token_column_ = 0;
    std::size_t cr_column_ = 0;
    bool line_start_ = true, comment_ = false, cr_pending_ = false;
    bool have_items_ = false, secondary_ = false;
    // The UTF-8 sequence being read: its bytes so far, how many are still due, and the
    // range the next one must fall in.
    unsigned char sequence_[4] = {};
    std::size_t sequence_size_ = 0, sequence_left_ = 0;
    unsigned char next_low_ = 0x80, next_high_ = 0xBF;

};

DlxFormatError::DlxFormatError(std::size_t line, std::size_t column, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) +
                         ": " + what),
      line_(line),
      column_(column) {}

DlxReader::DlxReader() : parser_(std::make_unique<DlxParser>()) {}
DlxReader::~DlxReader() = default;

void DlxReader::feed(std::string_view bytes) { parser_->feed(bytes); }
DlxProblem DlxReader::finish() { return parser_->finish(); }

DlxProblem parse_dlx(std::string_view text) {
    DlxReader reader;
    reader.feed(text);
    return reader.finish();
}

}  // namespace xcover
