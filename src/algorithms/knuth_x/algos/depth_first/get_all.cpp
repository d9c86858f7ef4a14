#include "get_all.hpp"

#include "../search/cover_stream.hpp"

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
                  Interrupt* interrupt, ThreadPool* pool) {
    if (pool != nullptr && pool->threads() > 1) {
        CoverStream stream(blocks, include, *pool, CoverStream::kUnbounded, false, interrupt);
        CoverList covers;
        stream.next_batch(covers, UINT64_MAX, UINT64_MAX, interrupt);
        return covers;
    }
    DepthFirstSearch search(blocks, include, interrupt);
    CoverList covers;
    collect_covers(search, covers, UINT64_MAX, UINT64_MAX);
    return covers;
}

std::uint64_t count_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                        Interrupt* interrupt, std::span<const std::uint64_t> secondary,
                        ThreadPool* pool) {
    if (pool != nullptr && pool->threads() > 1)
        return CoverStream(blocks, include, *pool, CoverStream::kUnbounded, true, interrupt, secondary)
            .count_rest(interrupt);
    DepthFirstSearch search(blocks, include, interrupt, secondary);
    std::uint64_t count = 0;
    while (search.next()) ++count;
    return count;
}

}  // namespace xcover
