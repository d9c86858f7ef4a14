// The one door to the depth-first queries: a source of covers in get_all's order, taken a batch
// at a time or counted, that searches on the caller's thread (a DepthFirstSearch) or with the
// pool's helpers (a CoverStream). Which one is decided here alone, in depth_first_source.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "../../links/block_list.hpp"
#include "../../links/colors.hpp"
#include "../../pool/thread_pool.hpp"
#include "../../search/covers.hpp"
#include "../../interrupt.hpp"

namespace xcover {

// How far a depth-first source has come: the share of the search tree behind it (Knuth's
// measure, see DepthFirstSearch::done_fraction) and the covers found so far.
struct SearchProgress {
    double fraction = 0.0;
    std::uint64_t covers = 0;
};

class CoverSource {
public:
    virtual ~CoverSource() = default;

    // Appends the next covers to `batch` until it holds `max_covers` covers or at least
    // `max_items` block indices, or the covers run out; returns whether covers may remain.
    // Polls `interrupt`; interrupted, the source goes on from there at the next call.
    virtual bool next_batch(CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items,
                            Interrupt* interrupt) = 0;
    // The number of covers not yet taken.
    virtual std::uint64_t count_rest(Interrupt* interrupt) = 0;

    // Where the search stands. Asked on the caller's thread, between calls or from the
    // Interrupt a call polls (never while the source holds a lock); with helpers, a part one
    // of them is running counts as far as its last pause.
    virtual SearchProgress progress() = 0;

    // Whether taking covers may wait for helper threads.
    virtual bool uses_helpers() const noexcept = 0;
    // The size of the matrix in nodes, the work of a batch before its first poll; 0 for a
    // source searched with helpers, whose caller waits rather than works.
    virtual std::uint64_t node_count() const noexcept = 0;
    // False in a child forked since the source was made, when its helpers were the parent's.
    virtual bool in_this_process() const noexcept = 0;
};

// What the caller of a depth-first query wants.
struct DepthFirstQuery {
    std::span<const std::uint64_t> include = {};
    SecondaryItems secondary = {};
    std::optional<std::uint64_t> seed = std::nullopt;  // a seeded branch order (order_branches)
    enum class Use {
        Everything,  // every cover, taken at once: helpers never pause
        Batches,     // covers taken a batch at a time: helpers work a bounded window ahead
        Count,       // covers counted, never kept
    } use = Use::Everything;
};

// The source for `query` over `blocks`: with a pool set above one thread and no seed, a
// CoverStream (the same covers in the same order); otherwise a DepthFirstSearch on the
// caller's thread. Building it polls `interrupt`, which the source then forgets: each call
// brings its own.
std::unique_ptr<CoverSource> depth_first_source(const BlockList& blocks, const DepthFirstQuery& query,
                                                ThreadPool* pool, Interrupt* interrupt);

}  // namespace xcover
