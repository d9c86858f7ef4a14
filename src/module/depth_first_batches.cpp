#include "depth_first_batches.hpp"

#include "../algorithms/knuth_x/algos/get_all.hpp"
#include "results.hpp"

namespace xcover::py {

std::optional<bool> fill_batch(DepthFirstSearch& search, CoverList& batch,
                               std::uint64_t max_covers, std::uint64_t max_items,
                               SignalCheck& check) {
    // A small search detaches at its first poll: a batch found within a few thousand steps
    // is handed over without leaving the interpreter.
    return run_detached(check, [&](Interrupt& interrupt) {
        // The search outlives this check (an iterator's next refill brings its own).
        struct Polled {
            DepthFirstSearch& search;
            ~Polled() { search.set_interrupt(nullptr); }
        } polled{search};
        search.set_interrupt(&interrupt);
        return collect_covers(search, batch, max_covers, max_items);
    }, search.node_count());
}

std::optional<bool> fill_batch(CoverStream& stream, CoverList& batch, std::uint64_t max_covers,
                               std::uint64_t max_items, SignalCheck& check) {
    return run_detached(check, [&](Interrupt& interrupt) {
        return stream.next_batch(batch, max_covers, max_items, &interrupt);
    }, stream.part_count() + kAttachedInputItems + 1);
}

PyObject* all_covers_to_python(Call& call, DepthFirstSearch& search) {
    PythonCovers covers(call);
    if (!covers.start()) return nullptr;
    CoverList batch;
    for (bool more = true; more;) {
        batch.clear();
        const std::optional<bool> filled =
            fill_batch(search, batch, UINT64_MAX, kAllBatchItems, call.check);
        if (!filled) return nullptr;
        more = *filled;
        if (!covers.append(batch)) return nullptr;
    }
    return covers.release();
}

PyObject* all_covers_to_python(Call& call, CoverStream& stream) {
    PythonCovers covers(call);
    if (!covers.start()) return nullptr;
    CoverList batch;
    for (bool more = true; more;) {
        batch.clear();
        const std::optional<bool> filled = fill_batch(stream, batch, UINT64_MAX, kAllBatchItems, call.check);
        if (!filled) return nullptr;
        more = *filled;
        if (!covers.append(batch)) return nullptr;
    }
    return covers.release();
}

}  // namespace xcover::py
