#include "get_all.hpp"

#include "cover_source.hpp"

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
    const auto source = depth_first_source(blocks, DepthFirstQuery{.include = include}, pool, interrupt);
    CoverList covers;
    source->next_batch(covers, UINT64_MAX, UINT64_MAX, interrupt);
    return covers;
}

std::uint64_t count_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                        Interrupt* interrupt, const SecondaryItems& secondary,
                        ThreadPool* pool) {
    const DepthFirstQuery query{.include = include, .secondary = secondary, .use = DepthFirstQuery::Use::Count};
    return depth_first_source(blocks, query, pool, interrupt)->count_rest(interrupt);
}

}  // namespace xcover
