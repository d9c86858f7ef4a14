#include "depth_first_batches.hpp"

#include "results.hpp"

namespace xcover::py {

std::optional<bool> fill_batch(CoverSource& source, CoverList& batch, std::uint64_t max_covers,
                               std::uint64_t max_items, SignalCheck& check) {
    // A small search detaches at its first poll: a batch found within a few thousand steps
    // is handed over without leaving the interpreter. A source searched with helpers detaches
    // from the start, since the caller may wait for a helper's part.
    const std::uint64_t attached_items =
        source.uses_helpers() ? kAttachedInputItems + 1 : source.node_count();
    return run_detached(check, [&](Interrupt& interrupt) {
        return source.next_batch(batch, max_covers, max_items, &interrupt);
    }, attached_items);
}

PyObject* all_covers_to_python(Call& call, CoverSource& source) {
    PythonCovers covers(call);
    if (!covers.start()) return nullptr;
    CoverList batch;
    for (bool more = true; more;) {
        batch.clear();
        const std::optional<bool> filled = fill_batch(source, batch, UINT64_MAX, kAllBatchItems, call.check);
        if (!filled) return nullptr;
        more = *filled;
        if (!covers.append(batch)) return nullptr;
    }
    return covers.release();
}

}  // namespace xcover::py
