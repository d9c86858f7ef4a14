#include "included_blocks.hpp"

#include <algorithm>

#include "../failure.hpp"
#include "../links/element_index.hpp"
#include "../polled_sort.hpp"

namespace xcover {

std::vector<std::uint64_t> distinct_included(const BlockList& blocks,
                                             std::span<const std::uint64_t> include) {
    std::vector<std::uint64_t> prefix;
    std::vector<std::uint64_t> seen;  // sorted: include lists can be long
    for (std::uint64_t b : include) {
        checked(b, blocks.size());
        const auto at = std::lower_bound(seen.begin(), seen.end(), b);
        if (at != seen.end() && *at == b) continue;
        seen.insert(at, b);
        prefix.push_back(b);
    }
    return prefix;
}

std::optional<std::vector<char>> blocks_meeting(const BlockList& blocks,
                                                std::span<const std::uint64_t> prefix,
                                                InterruptPoll& poll) {
    std::vector<std::uint64_t> taken;
    std::vector<std::uint64_t> own;
    for (std::uint64_t b : prefix) {
        if (blocks.list_size(b) == 0) return std::nullopt;  // an empty block is never chosen
        // An element listed twice in one block counts once: only elements shared between
        // included blocks make them overlap.
        own.assign(blocks[b].begin(), blocks[b].end());
        sort_unique_polled(own, poll);
        taken.insert(taken.end(), own.begin(), own.end());
    }
    const std::size_t listed = taken.size();
    sort_unique_polled(taken, poll);
    if (taken.size() != listed) return std::nullopt;  // included blocks overlap
    auto is_taken = [&](std::uint64_t e) { return std::binary_search(taken.begin(), taken.end(), e); };
    std::vector<char> meets(blocks.size(), 0);
    std::vector<std::uint64_t> reachable(taken);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        poll.tick(items.size() + 1);
        if (std::any_of(items.begin(), items.end(), is_taken)) {
            meets[b] = 1;
        } else {
            reachable.insert(reachable.end(), items.begin(), items.end());
        }
    }
    // Every element must still be coverable: one that only blocks meeting the prefix hold
    // would vanish from the reduced problem.
    sort_unique_polled(reachable, poll);
    if (reachable.size() != count_distinct_elements(blocks, poll.interrupt())) return std::nullopt;
    return meets;
}

std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll) {
    const std::optional<std::vector<char>> meets = blocks_meeting(blocks, prefix, poll);
    if (!meets) return std::nullopt;
    BlockList reduced;
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        if ((*meets)[b]) {
            reduced.close_list();
        } else {
            reduced.push_list(blocks[b]);
        }
    }
    return reduced;
}

}  // namespace xcover
