#include "included_blocks.hpp"

#include <algorithm>
#include <iterator>

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
                                                InterruptPoll& poll, std::span<const std::uint64_t> secondary) {
    std::vector<std::uint64_t> optional(secondary.begin(), secondary.end());
    sort_unique_polled(optional, poll);
    auto is_primary = [&](std::uint64_t e) { return !std::binary_search(optional.begin(), optional.end(), e); };
    std::vector<std::uint64_t> taken;
    std::vector<std::uint64_t> own;
    for (std::uint64_t b : prefix) {
        const auto items = blocks[b];
        // A block without a primary element (an empty one among them) is never chosen.
        if (std::none_of(items.begin(), items.end(), is_primary)) return std::nullopt;
        // An element listed twice in one block counts once: only elements shared between
        // included blocks make them overlap.
        own.assign(items.begin(), items.end());
        sort_unique_polled(own, poll);
        taken.insert(taken.end(), own.begin(), own.end());
    }
    const std::size_t listed = taken.size();
    sort_unique_polled(taken, poll);
    if (taken.size() != listed) return std::nullopt;  // included blocks overlap
    auto is_taken = [&](std::uint64_t e) { return std::binary_search(taken.begin(), taken.end(), e); };
    std::vector<char> meets(blocks.size(), 0);
    std::vector<std::uint64_t> reachable, primary;
    std::copy_if(taken.begin(), taken.end(), std::back_inserter(reachable), is_primary);
    for (std::uint64_t b = 0; b < blocks.size(); ++b) {
        const auto items = blocks[b];
        poll.tick(items.size() + 1);
        std::copy_if(items.begin(), items.end(), std::back_inserter(primary), is_primary);
        if (std::any_of(items.begin(), items.end(), is_taken)) {
            meets[b] = 1;
        } else {
            std::copy_if(items.begin(), items.end(), std::back_inserter(reachable), is_primary);
        }
    }
    // Every primary element must still be coverable: one that only blocks meeting the prefix
    // hold would vanish from the reduced problem.
    sort_unique_polled(reachable, poll);
    sort_unique_polled(primary, poll);
    if (reachable.size() != primary.size()) return std::nullopt;
    return meets;
}

std::optional<BlockList> blocks_beside(const BlockList& blocks, std::span<const std::uint64_t> prefix,
                                       InterruptPoll& poll, std::span<const std::uint64_t> secondary) {
    const std::optional<std::vector<char>> meets = blocks_meeting(blocks, prefix, poll, secondary);
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
