#include "get_topn_sc.hpp"

namespace xcover {

BlockCountSearch build_block_count_search(const BlockList& blocks, BlockCountInputs inputs,
                                          SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    BlockCountModel model(blocks, std::move(inputs), interrupt);
    return BlockCountSearch(blocks, caps, interrupt,
                            [&](const ElementIndex&) { return std::move(model); }, pool);
}

CoverList get_topn_sc(const BlockList& blocks, BlockCountInputs inputs, std::uint64_t n,
                      SearchCaps caps, Interrupt* interrupt, ThreadPool* pool) {
    // Built (and the root scored) before n is looked at, as in get_topn: callers depend on
    // a root that fails its scoring failing the call even for n == 0.
    BlockCountSearch search = build_block_count_search(blocks, std::move(inputs), caps, interrupt, pool);
    if (n == 0) return {};
    return search.take_complete(n);
}

}  // namespace xcover
