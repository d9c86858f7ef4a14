#include "cover_source.hpp"

#include "../../search/depth_first.hpp"
#include "cover_stream.hpp"
#include "get_all.hpp"

namespace xcover {

namespace {

// A search on the caller's thread.
class SearchSource final : public CoverSource {
public:
    SearchSource(const BlockList& blocks, const DepthFirstQuery& query, Interrupt* interrupt)
        : search_(blocks, query.include, interrupt, query.secondary) {
        if (query.seed) search_.order_branches(*query.seed);
        search_.set_interrupt(nullptr);
    }

    bool next_batch(CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items,
                    Interrupt* interrupt) override {
        const Polled polled(search_, interrupt);
        const std::uint64_t before = batch.size();
        const bool more = collect_covers(search_, batch, max_covers, max_items);
        found_ += batch.size() - before;
        return more;
    }
    std::uint64_t count_rest(Interrupt* interrupt) override {
        const Polled polled(search_, interrupt);
        const std::uint64_t before = found_;
        while (search_.next()) ++found_;
        return found_ - before;
    }
    SearchProgress progress() override { return SearchProgress{search_.done_fraction(), found_}; }
    bool uses_helpers() const noexcept override { return false; }
    std::uint64_t node_count() const noexcept override { return search_.node_count(); }
    bool in_this_process() const noexcept override { return true; }

private:
    // The search polls `interrupt` for one call only: the source outlives it.
    struct Polled {
        DepthFirstSearch& search;
        Polled(DepthFirstSearch& s, Interrupt* interrupt) : search(s) { search.set_interrupt(interrupt); }
        ~Polled() { search.set_interrupt(nullptr); }
        Polled(const Polled&) = delete;
        Polled& operator=(const Polled&) = delete;
    };
    DepthFirstSearch search_;
    std::uint64_t found_ = 0;
};

// Parts of the tree searched by the pool's helpers beside the caller's thread.
class StreamSource final : public CoverSource {
public:
    explicit StreamSource(std::unique_ptr<CoverStream> stream) : stream_(std::move(stream)) {}
    ~StreamSource() override {
        // In a forked child the stream's helpers and its place in the pool are the parent's:
        // it is left alone (the child's copy of its memory goes with the process).
        if (!stream_->in_this_process()) (void)stream_.release();
    }

    bool next_batch(CoverList& batch, std::uint64_t max_covers, std::uint64_t max_items,
                    Interrupt* interrupt) override {
        return stream_->next_batch(batch, max_covers, max_items, interrupt);
    }
    std::uint64_t count_rest(Interrupt* interrupt) override { return stream_->count_rest(interrupt); }
    SearchProgress progress() override { return stream_->progress(); }
    bool uses_helpers() const noexcept override { return true; }
    std::uint64_t node_count() const noexcept override { return 0; }
    bool in_this_process() const noexcept override { return stream_->in_this_process(); }

private:
    std::unique_ptr<CoverStream> stream_;
};

std::unique_ptr<CoverStream> stream_for(const BlockList& blocks, const DepthFirstQuery& query,
                                        ThreadPool& pool, Interrupt* interrupt) {
    using Use = DepthFirstQuery::Use;
    switch (query.use) {
        case Use::Count:
            return CoverStream::counting(blocks, query.include, pool, interrupt, query.secondary);
        case Use::Batches:
            return CoverStream::listing(blocks, query.include, pool, CoverStream::bounded(pool.threads()),
                                        interrupt, query.secondary);
        case Use::Everything:
            break;
    }
    return CoverStream::listing(blocks, query.include, pool, CoverStream::kUnbounded, interrupt,
                                query.secondary);
}

}  // namespace

std::unique_ptr<CoverSource> depth_first_source(const BlockList& blocks, const DepthFirstQuery& query,
                                                ThreadPool* pool, Interrupt* interrupt) {
    // A seeded order is searched on the caller's thread: the parts of the stream follow the
    // unseeded order.
    if (pool != nullptr && pool->threads() > 1 && !query.seed)
        return std::make_unique<StreamSource>(stream_for(blocks, query, *pool, interrupt));
    return std::make_unique<SearchSource>(blocks, query, interrupt);
}

}  // namespace xcover
