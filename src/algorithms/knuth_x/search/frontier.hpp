// The storage of a best-first search: the arena of pushed entries and the frontier of
// pending ones, 20 bytes per pushed entry (21 with lazy keys, see ordered_search.hpp).
//
// An entry is its insertion number: the root is entry 0 and every pushed child takes the next
// number. The arena keeps, per entry, its parent and its last block (8 bytes); an entry's
// chosen blocks are read by following parent links, and its weight sum is summed again along
// them, in order of choice, which gives the same bits as summing while pushing. The frontier
// keeps, per pending entry, an integer key of its score and its number (12 bytes), in a 4-ary
// heap. Both grow by chunks (ChunkedArray), never by doubling.
//
// Entry numbers and blocks are 32-bit: a search that would push its 2^32-th entry, or a
// matrix with a block index of 2^32 or more, fails as an allocation failure (std::bad_alloc),
// like a matrix of 2^32 nodes; nothing wraps.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "chunked_array.hpp"

namespace xcover {

using EntryIndex = std::uint32_t;

inline constexpr std::uint64_t kMaxEntries = std::uint64_t{1} << 32;

// An unsigned key that orders scores as the search pops them: numbers ascending with -0.0
// equal to +0.0, every NaN after every number (all NaNs equal; the insertion number orders
// them).
inline std::uint64_t score_key(double score) noexcept {
    if (std::isnan(score)) return UINT64_MAX;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(score == 0.0 ? 0.0 : score);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// The score a key was made from (NaN for the key of NaN; -0.0 comes back as +0.0).
inline double key_score(std::uint64_t key) noexcept {
    if (key == UINT64_MAX) return std::numeric_limits<double>::quiet_NaN();
    const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key;
    return std::bit_cast<double>(bits);
}

struct [[gnu::packed]] FrontierSlot {
    std::uint64_t key;
    EntryIndex entry;
};
static_assert(sizeof(FrontierSlot) == 12);

// True when `a` pops before `b`: lower key first, then lower insertion number.
inline bool pops_before(const FrontierSlot& a, const FrontierSlot& b) noexcept {
    const std::uint64_t ka = a.key, kb = b.key;
    if (ka != kb) return ka < kb;
    return a.entry < b.entry;
}

// Pending entries, best first. Insertion numbers are distinct, so the order is total and any
// correct heap pops the same sequence.
class OrderedFrontier {
public:
    void push(FrontierSlot slot) {
        heap_.push_back(slot);
        sift_up(heap_.size() - 1, slot);
    }
    const FrontierSlot& best() const noexcept { return heap_[0]; }
    FrontierSlot pop_best() noexcept {
        const FrontierSlot best = heap_[0];
        const FrontierSlot last = heap_[heap_.size() - 1];
        heap_.pop_back();
        if (!heap_.empty()) sift_down(last);
        return best;
    }
    bool empty() const noexcept { return heap_.empty(); }
    std::uint64_t size() const noexcept { return heap_.size(); }
    std::uint64_t capacity_bytes() const noexcept { return heap_.capacity_bytes(); }

private:
    static constexpr std::uint64_t kArity = 4;

    void sift_up(std::uint64_t i, FrontierSlot slot) noexcept {
        while (i > 0) {
            const std::uint64_t parent = (i - 1) / kArity;
            if (!pops_before(slot, heap_[parent])) break;
            heap_[i] = heap_[parent];
            i = parent;
        }
        heap_[i] = slot;
    }
    // Puts `slot` at the root and moves it down to its place.
    void sift_down(FrontierSlot slot) noexcept {
        const std::uint64_t n = heap_.size();
        std::uint64_t i = 0;
        for (;;) {
            const std::uint64_t first = i * kArity + 1;
            if (first >= n) break;
            std::uint64_t best = first;
            const std::uint64_t end = first + kArity < n ? first + kArity : n;
            for (std::uint64_t c = first + 1; c < end; ++c)
                if (pops_before(heap_[c], heap_[best])) best = c;
            if (!pops_before(heap_[best], slot)) break;
            heap_[i] = heap_[best];
            i = best;
        }
        heap_[i] = slot;
    }

    ChunkedArray<FrontierSlot> heap_;
};

// One pushed entry: its parent and its last block. Entry 0, the root, has neither.
struct PathNode {
    EntryIndex parent;
    std::uint32_t block;
};

class EntryArena {
public:
    // Blocks must be below 2^32: the matrix's block bound, checked once by the search.
    static void check_block_bound(std::uint64_t bound) {
        if (bound > kMaxEntries) throw std::bad_alloc();
    }

    EntryIndex push(std::uint64_t parent, std::uint64_t block) {
        if (nodes_.size() >= kMaxEntries) throw std::bad_alloc();
        nodes_.push_back(PathNode{static_cast<EntryIndex>(parent), static_cast<std::uint32_t>(block)});
        return static_cast<EntryIndex>(nodes_.size() - 1);
    }
    std::uint64_t size() const noexcept { return nodes_.size(); }
    std::uint64_t capacity_bytes() const noexcept { return nodes_.capacity_bytes(); }
    // Entry `entry`'s parent and last block (the root's are both 0). A parent's number is
    // always below its child's: every entry is pushed after its parent.
    const PathNode& node(std::uint64_t entry) const { return nodes_.at(entry); }

    // The blocks of entry `entry` in order of choice, into `out`.
    void read_path(std::uint64_t entry, std::vector<std::uint64_t>& out) const {
        out.clear();
        for (std::uint64_t e = checked(entry, nodes_.size()); e != 0; e = nodes_[e].parent)
            out.push_back(nodes_[e].block);
        for (std::size_t i = 0, j = out.size(); i + 1 < j; ++i, --j) std::swap(out[i], out[j - 1]);
    }

private:
    ChunkedArray<PathNode> nodes_;
};

}  // namespace xcover
