#include "get_all.hpp"


namespace xcover {

bool collect_covers(DepthFirstSearch& search, CoverList& batch, std::uint64_t max_covers,
                    std::uint64_t max_items) {
    while (batch.size() < max_covers && batch.total_items() < max_items) {
        if (!search.next()) return false;
        batch.push_list(search.cover());
    }
    return true;
}

CoverList get_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                  Interrupt* interrupt, ThreadPool*) {
    DepthFirstSearch search(blocks, include, interrupt);
    CoverList covers;
    collect_covers(search, covers, UINT64_MAX, UINT64_MAX);
    return covers;
}

std::uint64_t count_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                        Interrupt* interrupt, std::span<const std::uint64_t> secondary, ThreadPool*) {
    DepthFirstSearch search(blocks, include, interrupt, secondary);
    std::uint64_t count = 0;
    while (search.next()) ++count;
    return count;
}

}  // namespace xcover
