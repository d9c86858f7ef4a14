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
//
// The text is UTF-8, read as bytes: a malformed sequence is a fault at its character, and
// so is a NUL character (what a binary file or a device such as /dev/zero gives); a
// byte-order mark at its start is skipped. Faults are reported as soon as they are read.
//
// A primary item that no option holds must still be covered, so such a problem has no
// cover. The solvers cannot see that (for them an element is only what some block holds),
// so the reader lists those items in `unmet` and ends the blocks with three that no exact
// cover can use (see kUnmetBlocks): every query on the blocks then finds no cover.
#pragma once

#include <cstdint>
#include <memory>
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
    std::vector<std::uint64_t> unmet;  // primary items that no option holds, ascending
    std::vector<ItemColor> colors;     // (option, item, color number) per color
    std::vector<std::string> color_names;  // color number -> name
};

// When `unmet` is not empty, the last kUnmetBlocks blocks are {u, n}, {n, n + 1}, {u, n + 1}
// for u = unmet[0] and n = names.size(): three blocks pairwise sharing an element, each
// element in two of them, over elements no option holds. An exact cover would hold one of
// them for u and then none is left for the third element, so none exists.
inline constexpr std::size_t kUnmetBlocks = 3;

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

class DlxParser;

// Reads a text given in pieces, as a file is read: feed() each piece in order, then
// finish(). A fault throws DlxFormatError from the feed() that reads it, so an endless or
// binary input stops at its first fault; what is kept is the problem read so far.
class DlxReader {
public:
    DlxReader();
    DlxReader(const DlxReader&) = delete;
    DlxReader& operator=(const DlxReader&) = delete;
    ~DlxReader();

    void feed(std::string_view bytes);
    DlxProblem finish();

private:
    std::unique_ptr<DlxParser> parser_;
};

// The problem of a whole text: DlxReader's feed() once, then finish().
DlxProblem parse_dlx(std::string_view text);

}  // namespace xcover
