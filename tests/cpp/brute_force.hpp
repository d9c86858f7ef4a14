// A brute-force model for the tests: every subset of the blocks, kept when it is an exact
// cover of the elements that occur in any block.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace xcover::testing {

using Blocks = std::vector<std::vector<std::uint64_t>>;

// `count` blocks of 1 to 3 elements (repeats possible) over `elements` values: trees with many
// covers, dead ends and ties.
inline Blocks dense_blocks(std::mt19937_64& rng, int count, int elements) {
    Blocks blocks(count);
    for (auto& b : blocks) {
        const int size = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < size; ++i) b.push_back(rng() % elements);
    }
    return blocks;
}
using Covers = std::vector<std::vector<std::uint64_t>>;

// Exact covers as sorted lists of block indices, in increasing subset-mask order.
inline std::vector<std::vector<std::uint64_t>> brute_force_covers(const Blocks& blocks) {
    std::set<std::uint64_t> ground;
    for (const auto& b : blocks) ground.insert(b.begin(), b.end());
    std::vector<std::vector<std::uint64_t>> covers;
    const std::uint64_t n = blocks.size();
    for (std::uint64_t mask = 0; mask < (std::uint64_t{1} << n); ++mask) {
        std::multiset<std::uint64_t> seen;
        bool ok = true;
        std::vector<std::uint64_t> chosen;
        for (std::uint64_t i = 0; i < n && ok; ++i) {
            if (!(mask >> i & 1)) continue;
            if (blocks[i].empty()) { ok = false; break; }  // empty blocks are never chosen
            chosen.push_back(i);
            std::set<std::uint64_t> distinct(blocks[i].begin(), blocks[i].end());
            for (auto e : distinct) {
                if (seen.count(e)) ok = false;
                seen.insert(e);
            }
        }
        if (ok && seen.size() == ground.size()) covers.push_back(chosen);
    }
    return covers;
}

inline std::vector<std::vector<std::uint64_t>> sorted_covers(std::vector<std::vector<std::uint64_t>> covers) {
    for (auto& c : covers) std::sort(c.begin(), c.end());
    std::sort(covers.begin(), covers.end());
    return covers;
}

// Random small instances: few elements, blocks that are often disjoint.
inline Blocks random_blocks(std::mt19937_64& rng, int max_blocks, int max_elements) {
    Blocks blocks(rng() % (max_blocks + 1));
    for (auto& b : blocks) {
        const int size = static_cast<int>(rng() % 4);
        for (int i = 0; i < size; ++i) b.push_back(rng() % max_elements * 1000003ull);
    }
    return blocks;
}

}  // namespace xcover::testing
