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

// Reads the text a byte at a time, each token as soon as it ends, so that a fault is
// reported when it is read and the work is linear in the text.
class Parser {
public:
    void feed(std::string_view bytes) {
        for (const char c : bytes) character(c);
    }

    DlxProblem finish() {
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

    // One byte; a continuation byte of UTF-8 extends the character before it and takes no
    // column of its own.
    void character(char c) {
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
        std::size_t characters = 0;
        for (const char c : token_) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (characters > kMaxItemName)
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

    // A token of an option.
    void read_option_item() {
        if (token_.find(':') != std::string::npos && token_.find('|') == std::string::npos)
            error(token_column_, "colors ('" + token_ + "') are not supported yet");
        check_name();
        const auto found = numbers_.find(token_);
        if (found == numbers_.end()) error(token_column_, "unknown item '" + token_ + "'");
        // Options are numbered from 1 here: an item last held by this option is repeated.
        const std::uint64_t option = problem_.blocks.size() + 1;
        if (last_option_[found->second] == option)
            error(token_column_, "item '" + token_ + "' repeated in an option");
        last_option_[found->second] = option;
        block_.push_back(found->second);
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
    std::vector<std::uint64_t> last_option_;  // per item: the option that last held it, from 1
    std::vector<std::uint64_t> block_;        // the option being read
    std::string token_;                       // the token being read, as UTF-8
    std::size_t token_column_ = 0, token_characters_ = 0;
    std::size_t line_ = 1, column_ = 1;  // where the next character is, from 1
    std::size_t line_tokens_ = 0, first_token_column_ = 0;
    std::size_t cr_column_ = 0;
    bool line_start_ = true, comment_ = false, cr_pending_ = false;
    bool have_items_ = false, secondary_ = false;
};

}  // namespace

DlxFormatError::DlxFormatError(std::size_t line, std::size_t column, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) +
                         ": " + what),
      line_(line),
      column_(column) {}

DlxProblem parse_dlx(std::string_view text) {
    Parser parser;
    parser.feed(text);
    return parser.finish();
}

}  // namespace xcover
