// split: the search tree cut into subtrees, breadth first.
//
// The cut is defined pass by pass: each pass replaces every pending part, left to right, by
// its children (a cover stays, a dead end goes), and the passes stop as soon as there are
// `parts` parts or nothing is left to expand. That definition fixes the result; this file
// computes it without replaying each part's path from the root:
//
// - one search is held at a position (the cursor) and moved between parts through their
//   deepest common position, a level at a time;
// - a part whose position has a single child walks down that forced chain in one go (as far
//   as the chain has gone before, doubled, so a long chain costs its length) and then stands
//   `behind` levels above the chain's end: each pass moves it one level down without
//   touching the search;
// - paths are shared in a tree of positions (parent links, reference counts), and a cover
//   found is written out at once, so a pass visits only the parts still open.
//
// Passes that expand most of a large tree still move the search over its upper levels once
// per pass; there a depth-first walk that counts the levels (split_levels.hpp) gets the same
// result in two walks of the tree. Which case holds is not known in advance, so once the
// passes have done some work the walk runs beside them, each getting as much work as the
// other, and whichever ends first gives the result. The passes hold every open part, so once
// they hold kMaxOpenParts the walk alone finishes (its memory is that of one path and the
// result): a split that expands a wide tree without covers, or asks for more parts than the
// tree has, does not hold whole levels of the tree.
#include <algorithm>
#include <optional>
#include <utility>

#include "../../search/depth_first.hpp"
#include "split.hpp"
#include "split_levels.hpp"

namespace xcover {

namespace {

constexpr std::uint64_t kNone = UINT64_MAX;

// Open parts (and their positions) the passes may hold: some tens of MiB.
constexpr std::size_t kMaxOpenParts = std::size_t{1} << 18;

// Positions the walk visits between two looks at the interrupt when it runs alone.
constexpr std::uint64_t kWalkSlice = std::uint64_t{1} << 12;

// Positions of the search tree in use, each with its parent, the block chosen to reach it and
// its depth. A position lives while a part, the cursor or a child refers to it.
class PositionTree {
public:
    PositionTree() { nodes_.push_back(Node{kNone, kNone, 0, 1}); }  // the root, never freed

    static constexpr std::uint64_t kRoot = 0;

    std::uint64_t child(std::uint64_t parent, std::uint64_t block) {
        const Node node{parent, block, at(nodes_, parent).depth + 1, 1};
        ++nodes_[parent].refs;
        if (free_.empty()) {
            nodes_.push_back(node);
            return nodes_.size() - 1;
        }
        const std::uint64_t id = free_.back();
        free_.pop_back();
        nodes_[id] = node;
        return id;
    }
    void hold(std::uint64_t id) { ++at(nodes_, id).refs; }
    void release(std::uint64_t id) {
        while (id != kRoot && --at(nodes_, id).refs == 0) {
            free_.push_back(id);
            id = nodes_[id].parent;
        }
    }
    std::uint64_t parent(std::uint64_t id) const { return at(nodes_, id).parent; }
    std::uint64_t block(std::uint64_t id) const { return at(nodes_, id).block; }
    std::uint64_t depth(std::uint64_t id) const { return at(nodes_, id).depth; }

private:
    struct Node {
        std::uint64_t parent;
        std::uint64_t block;
        std::uint64_t depth;
        std::uint64_t refs;
    };
    std::vector<Node> nodes_;
    std::vector<std::uint64_t> free_;
};

// The search at one position of the tree, with the positions of its path held.
class Cursor {
public:
    Cursor(DepthFirstSearch& search, PositionTree& tree) : search_(search), tree_(tree) {
        path_.push_back(PositionTree::kRoot);
    }

    // Moves to `target`, up to the deepest position it shares with the current path, then
    // down.
    void move_to(std::uint64_t target, InterruptPoll& poll) {
        down_.clear();
        std::uint64_t x = target;
        while (tree_.depth(x) >= path_.size() || path_[tree_.depth(x)] != x) {
            poll.tick();
            down_.push_back(x);
            x = tree_.parent(x);
        }
        while (path_.size() > tree_.depth(x) + 1) up();
        for (auto it = down_.rbegin(); it != down_.rend(); ++it) enter(*it);
    }
    // Chooses `block` here: the position reached is created and entered.
    std::uint64_t step_into(std::uint64_t block) {
        const std::uint64_t id = tree_.child(path_.back(), block);
        ++moves_;
        search_.step_into(block);
        path_.push_back(id);  // the reference of child() is the cursor's
        return id;
    }
    std::uint64_t here() const { return path_.back(); }
    std::uint64_t moves() const { return moves_; }

private:
    void up() {
        ++moves_;
        search_.step_back();
        tree_.release(path_.back());
        path_.pop_back();
    }
    void enter(std::uint64_t id) {
        ++moves_;
        search_.step_into(tree_.block(id));
        tree_.hold(id);
        path_.push_back(id);
    }

    DepthFirstSearch& search_;
    PositionTree& tree_;
    std::vector<std::uint64_t> path_;  // path_[d]: the position at depth d
    std::vector<std::uint64_t> down_;  // scratch of move_to
    std::uint64_t moves_ = 0;          // levels moved, up or down
};

// A pending part: the position `behind` levels above `end`, every position between having a
// single child. The part holds `end`. `chain` is how far its forced chains have gone.
struct Part {
    std::uint64_t end;
    std::uint64_t behind;
    std::uint64_t chain;
};

// Finished covers in a linked list, so that the covers between two open parts move as one.
struct Covers {
    std::vector<std::vector<std::uint64_t>> paths;
    std::vector<std::uint64_t> next;  // per cover: the following one, kNone at the end
};
struct CoverRun {
    std::uint64_t first = kNone;
    std::uint64_t last = kNone;
};

// An open part and the covers that precede it in the frontier.
struct Open {
    CoverRun before;
    Part part;
};

class Splitter {
public:
    // Without `race_after`, the walk starts once the passes have done more work than
    // building its search costs.
    // `bare`: each part is written as its path alone, without the `include` blocks after it.
    Splitter(const BlockList& blocks, std::span<const std::uint64_t> include, Interrupt* interrupt,
             std::optional<std::uint64_t> race_after, const SecondaryItems& secondary = {},
             bool bare = false, std::size_t max_open = kMaxOpenParts)
        : blocks_(blocks),
          max_open_(max_open),
          include_(include),
          written_include_(bare ? std::span<const std::uint64_t>{} : include),
          secondary_(secondary),
          interrupt_(interrupt),
          search_(blocks, include, interrupt, secondary),
          cursor_(search_, tree_),
          poll_(interrupt),
          writer_(written_include_, blocks.size()) {
        race_after_ = race_after ? *race_after : search_.node_count() + 4096;
    }

    std::vector<std::vector<std::uint64_t>> run(std::uint64_t parts);
    void report_to(SplitProgress* progress) noexcept { progress_ = progress; }

private:
    // The counting walk beside the passes, with its own search.
    struct Race {
        Race(const BlockList& blocks, std::span<const std::uint64_t> include, Interrupt* interrupt,
             std::uint64_t parts, const SecondaryItems& secondary)
            : search(blocks, include, interrupt, secondary), counter(parts), walk(search) {}
        DepthFirstSearch search;
        LevelCounter counter;
        TreeWalk walk;
        std::uint64_t work = 0;  // the passes' work it has matched
    };
    std::uint64_t work() const { return cursor_.moves() + expansions_; }
    // Gives the walk as much work as the passes have done; the result once it is over.
    std::optional<std::vector<std::vector<std::uint64_t>>> race(std::uint64_t parts);
    // The walk to its end, without the passes.
    std::vector<std::vector<std::uint64_t>> walk_alone(std::uint64_t parts);

    enum class Result { Cover, Gone, Replaced };
    // Expands one open part into `into`, or writes it out as a cover into `run`.
    Result expand(const Part& part, std::vector<Open>& into, CoverRun& run, std::uint64_t& children);
    void follow_chain(Part part, std::uint64_t first_block, std::vector<Open>& into);
    void append_cover(CoverRun& run, const Part& part);
    static void join(CoverRun& run, const CoverRun& more, Covers& covers);
    std::vector<std::uint64_t> prefix_of(const Part& part);

    const BlockList& blocks_;
    std::size_t max_open_;  // open parts the passes may hold
    std::span<const std::uint64_t> include_;
    std::span<const std::uint64_t> written_include_;  // appended to each part's path
    SecondaryItems secondary_;
    Interrupt* interrupt_;
    std::uint64_t race_after_ = 0;
    std::optional<Race> race_;
    std::uint64_t expansions_ = 0;
    PositionTree tree_;
    DepthFirstSearch search_;
    Cursor cursor_;
    InterruptPoll poll_;
    PrefixWriter writer_;
    Covers covers_;
    std::vector<std::uint64_t> branch_;  // scratch: the blocks of a branch column
    SplitProgress* progress_ = nullptr;
};

std::optional<std::vector<std::vector<std::uint64_t>>> Splitter::race(std::uint64_t parts) {
    const std::uint64_t done = work();
    if (done < race_after_) return std::nullopt;
    if (!race_) {
        race_.emplace(blocks_, include_, interrupt_, parts, secondary_);
        race_->work = done;
        return std::nullopt;  // building the search was its share
    }
    // In slices, not a call per step (except when racing from the start, as the tests do).
    if (done - race_->work < (race_after_ == 0 ? 1 : 256)) return std::nullopt;
    const std::uint64_t share = done - race_->work;
    race_->work = done;
    if (!race_->walk.advance(race_->counter, share)) return std::nullopt;
    return prefixes_at_cut(race_->search, race_->counter.cut(), parts, written_include_, blocks_.size());
}

std::vector<std::vector<std::uint64_t>> Splitter::walk_alone(std::uint64_t parts) {
    covers_ = Covers{};
    if (!race_) race_.emplace(blocks_, include_, interrupt_, parts, secondary_);
    while (!race_->walk.advance(race_->counter, kWalkSlice)) {
        if (progress_ != nullptr) progress_->walked = race_->walk.done_fraction();
        poll_.tick();
    }
    return prefixes_at_cut(race_->search, race_->counter.cut(), parts, written_include_, blocks_.size());
}

void Splitter::join(CoverRun& run, const CoverRun& more, Covers& covers) {
    if (more.first == kNone) return;
    if (run.first == kNone) {
        run = more;
        return;
    }
    covers.next[run.last] = more.first;
    run.last = more.last;
}

// The part's blocks in order of choice, then the `include` blocks not among them.
std::vector<std::uint64_t> Splitter::prefix_of(const Part& part) {
    std::uint64_t x = part.end;
    for (std::uint64_t i = 0; i < part.behind; ++i) x = tree_.parent(x);
    std::vector<std::uint64_t> path(tree_.depth(x));
    for (std::uint64_t d = path.size(); d > 0; --d, x = tree_.parent(x)) {
        poll_.tick();
        path[d - 1] = tree_.block(x);
    }
    return writer_.write(std::move(path));
}

void Splitter::append_cover(CoverRun& run, const Part& part) {
    covers_.paths.push_back(prefix_of(part));
    covers_.next.push_back(kNone);
    join(run, CoverRun{covers_.paths.size() - 1, covers_.paths.size() - 1}, covers_);
    tree_.release(part.end);
}

// A position with one child: walk down while each position has one child, up to as many
// levels as the part's chains have gone so far (one at first), so a chain longer than the
// passes need costs at most twice what they use.
void Splitter::follow_chain(Part part, std::uint64_t first_block, std::vector<Open>& into) {
    const std::uint64_t budget = std::max<std::uint64_t>(part.chain, 1);
    std::uint64_t steps = 0;
    std::uint64_t block = first_block;
    for (;;) {
        cursor_.step_into(block);
        ++steps;
        if (steps == budget) break;
        if (search_.branch_blocks(branch_) != DepthFirstSearch::Outcome::Branch || branch_.size() != 1)
            break;
        block = branch_[0];
    }
    tree_.release(part.end);
    const std::uint64_t end = cursor_.here();
    tree_.hold(end);
    into.push_back(Open{CoverRun{}, Part{end, steps - 1, part.chain + steps}});
}

Splitter::Result Splitter::expand(const Part& part, std::vector<Open>& into, CoverRun& run,
                                  std::uint64_t& children) {
    if (part.behind > 0) {
        into.push_back(Open{CoverRun{}, Part{part.end, part.behind - 1, part.chain}});
        children = 1;
        return Result::Replaced;
    }
    cursor_.move_to(part.end, poll_);
    ++expansions_;
    switch (search_.branch_blocks(branch_)) {
        case DepthFirstSearch::Outcome::Complete:
            append_cover(run, part);
            return Result::Cover;
        case DepthFirstSearch::Outcome::DeadEnd:
            tree_.release(part.end);
            return Result::Gone;
        case DepthFirstSearch::Outcome::Branch:
            break;
    }
    children = branch_.size();
    if (children == 1) {
        follow_chain(part, branch_[0], into);
        return Result::Replaced;
    }
    for (std::uint64_t block : branch_) {
        poll_.tick();
        into.push_back(Open{CoverRun{}, Part{tree_.child(part.end, block), 0, 0}});
    }
    tree_.release(part.end);
    return Result::Replaced;
}

std::vector<std::vector<std::uint64_t>> Splitter::run(std::uint64_t parts) {
    std::vector<Open> open{Open{CoverRun{}, Part{PositionTree::kRoot, 0, 0}}};
    CoverRun tail;  // the covers after the last open part
    std::uint64_t size = 1;
    std::vector<Open> next;
    bool grew = true;
    while (size < parts && grew) {
        grew = false;
        next.clear();
        CoverRun pending;  // covers waiting for the next open part
        std::size_t i = 0;
        for (; i < open.size() && size < parts; ++i) {
            if (progress_ != nullptr) progress_->parts = size;
            poll_.tick();
            if (auto prefixes = race(parts)) return std::move(*prefixes);
            if (open.size() + next.size() > max_open_) {
                open = {};
                next = {};
                return walk_alone(parts);
            }
            join(pending, open[i].before, covers_);
            const std::size_t first = next.size();
            std::uint64_t children = 0;
            const Result result = expand(open[i].part, next, pending, children);
            if (result == Result::Cover) continue;
            grew = true;
            if (result == Result::Gone) {
                --size;
                continue;
            }
            size += children - 1;
            next[first].before = pending;
            pending = CoverRun{};
        }
        for (; i < open.size(); ++i) {
            poll_.tick();
            join(pending, open[i].before, covers_);
            next.push_back(Open{pending, open[i].part});
            pending = CoverRun{};
        }
        join(pending, tail, covers_);
        tail = pending;
        open.swap(next);
    }

    std::vector<std::vector<std::uint64_t>> prefixes;
    prefixes.reserve(size);
    auto emit = [&](const CoverRun& run) {
        for (std::uint64_t c = run.first; c != kNone; c = covers_.next[c]) {
            poll_.tick();
            prefixes.push_back(std::move(covers_.paths[c]));
        }
    };
    for (const Open& o : open) {
        emit(o.before);
        prefixes.push_back(prefix_of(o.part));
    }
    emit(tail);
    return prefixes;
}

}  // namespace

std::vector<std::vector<std::uint64_t>> split(const BlockList& blocks, std::uint64_t parts,
                                              std::span<const std::uint64_t> include,
                                              Interrupt* interrupt,
                                              const SecondaryItems& secondary,
                                              SplitProgress* progress) {
    Splitter splitter(blocks, include, interrupt, std::nullopt, secondary);
    splitter.report_to(progress);
    return splitter.run(parts);
}

std::vector<std::vector<std::uint64_t>> split_paths(const BlockList& blocks, std::uint64_t parts,
                                                    std::span<const std::uint64_t> include,
                                                    Interrupt* interrupt,
                                                    const SecondaryItems& secondary) {
    Splitter splitter(blocks, include, interrupt, std::nullopt, secondary, true);
    return splitter.run(parts);
}

std::vector<std::vector<std::uint64_t>> split_racing(const BlockList& blocks, std::uint64_t parts,
                                                     std::span<const std::uint64_t> include,
                                                     Interrupt* interrupt, std::uint64_t race_after,
                                                     std::size_t max_open_parts) {
    Splitter splitter(blocks, include, interrupt, race_after, {}, false,
                      max_open_parts == 0 ? kMaxOpenParts : max_open_parts);
    return splitter.run(parts);
}

}  // namespace xcover
