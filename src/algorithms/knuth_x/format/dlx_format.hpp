// Knuth's DLX1/DLX2 text format for exact-cover problems, read into blocks of item numbers.
//
//   | a comment: any line whose first character is '|'
//   a b c | x y        the items line: primary items, then '|' and the secondary ones
//   a x                one option per line: the names of the items it holds
//   b c y
//
// Items are numbered 0.. in the order of the items line (primary and secondary alike); each
// option becomes a block of those numbers, in the order written. Names are separated by
// spaces or tabs, hold at most kMaxItemName characters and no ':' or '|'; blank lines are
// skipped and a trailing '\r' is ignored. An option may give a secondary item a color, as in
// DLX2: `x:red` (a color name is written as an item name is; colors are numbered 0.. in order
// of first appearance); a color on a primary item is an error. Multiplicities (`u:v|item`,
// MCC) are refused as not supported yet. Engine-independent: plain C++.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "../links/colors.hpp"

namespace xcover {

inline constexpr std::size_t kMaxItemName = 64;

struct DlxProblem {
    std::vector<std::vector<std::uint64_t>> blocks;  // the options, as item numbers
    std::vector<std::uint64_t> secondary;            // the secondary items' numbers, ascending
    std::vector<std::string> names;                  // item number -> name
    std::vector<ItemColor> colors;                   // (option, item, color number) per color
    std::vector<std::string> color_names;            // color number -> name
};

// A malformed file: the message names the line and column (both from 1; the column counts
// characters of the UTF-8 text, not bytes).
class DlxFormatError : public std::runtime_error {
public:
    DlxFormatError(std::size_t line, std::size_t column, const std::string& what);
    std::size_t line() const noexcept { return line_; }
    std::size_t column() const noexcept { return column_; }

private:
    std::size_t line_, column_;
};

DlxProblem parse_dlx(std::string_view text);

}  // namespace xcover
