#include "dlx_format.hpp"

#include <algorithm>
#include <unordered_map>

namespace xcover {

namespace {

struct Token {
    std::string_view text;
    std::size_t column;  // from 1, in characters
};

// The number of characters of UTF-8 text: its bytes other than continuation bytes.
std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::vector<Token> split_line(std::string_view line) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start)
            tokens.push_back(Token{line.substr(start, i - start), characters(line.substr(0, start)) + 1});
    }
    return tokens;
}

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

class Parser {
public:
    DlxProblem run(std::string_view text) {
        bool have_items = false;
        for (std::size_t start = 0, number = 1; start <= text.size(); ++number) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            line_ = number;
            start = end + 1;
            if (!line.empty() && line.front() == '|') continue;  // a comment
            const std::vector<Token> tokens = split_line(line);
            if (tokens.empty()) continue;
            if (!have_items) {
                read_items(tokens);
                have_items = true;
            } else {
                read_option(tokens);
            }
        }
        if (!have_items) throw DlxFormatError(line_ == 0 ? 1 : line_, 1, "missing items line");
        return std::move(problem_);
    }

private:
    [[noreturn]] void error(const Token& at, const std::string& what) const {
        throw DlxFormatError(line_, at.column, what);
    }

    void check_name(const Token& token) const {
        const std::string name(token.text);
        if (characters(token.text) > kMaxItemName)
            error(token, "item name longer than " + std::to_string(kMaxItemName) + " characters");
        for (char forbidden : {':', '|'})
            if (token.text.find(forbidden) != std::string_view::npos)
                error(token, "item name '" + name + "' holds the forbidden character '" +
                                 forbidden + "'");
    }

    void read_items(const std::vector<Token>& tokens) {
        bool secondary = false;
        for (const Token& token : tokens) {
            if (token.text == "|") {
                if (secondary) error(token, "a second '|' in the items line");
                secondary = true;
                continue;
            }
            if (is_multiplicity(token.text))
                error(token, "multiplicities ('" + std::string(token.text) +
                                 "') are not supported yet");
            check_name(token);
            const std::uint64_t number = problem_.names.size();
            if (!numbers_.emplace(std::string(token.text), number).second)
                error(token, "item '" + std::string(token.text) + "' is declared twice");
            problem_.names.emplace_back(token.text);
            if (secondary) problem_.secondary.push_back(number);
        }
        if (problem_.names.empty()) error(tokens.front(), "the items line names no item");
    }

    void read_option(const std::vector<Token>& tokens) {
        std::vector<std::uint64_t> block;
        for (const Token& written : tokens) {
            // `item:color` (no '|': that is a multiplicity, refused by check_name).
            const std::size_t colon = written.text.find(':');
            const bool colored = colon != std::string_view::npos && written.text.find('|') == std::string_view::npos;
            const Token token = colored ? Token{written.text.substr(0, colon), written.column} : written;
            check_name(token);
            const auto found = numbers_.find(std::string(token.text));
            if (found == numbers_.end())
                error(token, "unknown item '" + std::string(token.text) + "'");
            if (std::find(block.begin(), block.end(), found->second) != block.end())
                error(token, "item '" + std::string(token.text) + "' repeated in an option");
            if (colored) read_color(written, colon, found->second);
            block.push_back(found->second);
        }
        problem_.blocks.push_back(std::move(block));
    }

    // The color of `item` in `written` (`item:color`, the colon at `colon`).
    void read_color(const Token& written, std::size_t colon, std::uint64_t item) {
        const std::string_view name = written.text.substr(colon + 1);
        const Token color{name, written.column + characters(written.text.substr(0, colon + 1))};
        if (problem_.secondary.empty() || item < problem_.secondary.front())
            error(written, "primary item '" + std::string(written.text.substr(0, colon)) +
                               "' must be uncolored: only secondary items take a color");
        if (name.empty()) error(color, "a color without a name after ':'");
        if (characters(name) > kMaxItemName)
            error(color, "color name longer than " + std::to_string(kMaxItemName) + " characters");
        if (name.find(':') != std::string_view::npos)
            error(color, "color name '" + std::string(name) + "' holds the forbidden character ':'");
        const auto [entry, added] = color_numbers_.emplace(std::string(name), problem_.color_names.size());
        if (added) problem_.color_names.emplace_back(name);
        problem_.colors.push_back(ItemColor{problem_.blocks.size(), item, entry->second});
    }

    DlxProblem problem_;
    std::unordered_map<std::string, std::uint64_t> numbers_;
    std::unordered_map<std::string, std::uint64_t> color_numbers_;
    std::size_t line_ = 0;
};

}  // namespace

DlxFormatError::DlxFormatError(std::size_t line, std::size_t column, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) +
                         ": " + what),
      line_(line),
      column_(column) {}

DlxProblem parse_dlx(std::string_view text) { return Parser{}.run(text); }

}  // namespace xcover
