// The first covers of a best-first search restricted to candidates (candidates.hpp), found
// without moving a matrix between the entries it pops.
//
// The restricted search only ever pushes entries that some candidate extends: they form a
// tree, the candidates' paths under the branching rule, whose nodes are the same whatever
// order they are expanded in. A node's children, their order and their keys depend on the
// node's blocks alone (the matrix they leave, and the scorer's reading of it). So the tree is
// built depth first, each node expanded by the search's own routine (expand_entry) in one
// matrix that moves a block at a time, and the search is then replayed on it: a frontier of
// (key, insertion number), children numbered as the search numbers them when their parent is
// popped. Every pop is the search's pop, so the covers come out the same, in the same order,
// with the same weight sums (the same fold along the same blocks).
//
// A depth-first walk chooses and undoes each block once; the search itself moves its matrix
// from one popped entry to the next, across subtrees, at every step. The tree is at most
// kMaxReplayNodes nodes: past that, nothing is returned and the caller runs the search.
//
// A child that is its parent's branch's only block (with a scorer whose keys only order
// entries, keys_only_order) is scored as the tree grows in a matrix of at most
// kEagerLoneColumns columns (about 10% faster on 30 columns than scoring it later). In a
// larger one it is not: the search does not score it when nothing else is pending, and its
// key is then never compared, so a long chain of forced blocks costs no score each. When something else is pending, the replay brings the matrix
// to the parent and scores it as the search would.
#pragma once

#include <cstdint>
#include <optional>
#include <queue>
#include <span>
#include <vector>

#include "../interrupt.hpp"
#include "../links/block_list.hpp"
#include "../links/dancinglinks.hpp"
#include "../links/element_index.hpp"
#include "../search/covers.hpp"
#include "../search/expansion.hpp"
#include "../search/frontier.hpp"
#include "../search/linkstate.hpp"

namespace xcover {

inline constexpr std::uint64_t kMaxReplayNodes = std::uint64_t{1} << 22;
// In matrices of at most this many columns, lone children are scored as the tree grows.
inline constexpr std::uint64_t kEagerLoneColumns = 4096;

class CandidateTree {
public:
    // The tree of the entries a search scored by `scorer` pushes (the scorer rules out the
    // children no candidate extends). Nothing when it exceeds kMaxReplayNodes. Lone children
    // are scored as it grows in matrices of at most `eager_lone_columns` columns.
    template <class Scorer>
    static std::optional<CandidateTree> build(Scorer& scorer, const ElementIndex& index, const BlockList& relabeled,
                                              Interrupt* interrupt,
                                              std::uint64_t eager_lone_columns = kEagerLoneColumns) {
        static_assert(!refines_keys<Scorer>(), "a replayed search keys every child once");
        if (relabeled.size() > UINT32_MAX) return std::nullopt;
        CandidateTree tree(DancingLinks(relabeled, index.column_count(), interrupt, index.primary_count()));
        tree.nodes_.push_back(Node{0, 0, score_key(scorer.root_score(tree.state_.links())), -0.0});
        tree.eager_lone_ = tree.state_.links().column_count() <= eager_lone_columns;
        if (!tree.grow(scorer, relabeled, interrupt)) return std::nullopt;
        return tree;
    }

    // The first `n` covers the search reports, in its order, and their weight sums when
    // `sums` is given; `scorer` and `relabeled` are those the tree was built with.
    template <class Scorer>
    CoverList first_covers(Scorer& scorer, const BlockList& relabeled, std::uint64_t n, Interrupt* interrupt,
                           std::vector<double>* sums = nullptr) {
        Replay replay(nodes_, interrupt);
        while (replay.covers.size() < n && !replay.frontier.empty()) {
            const EntryIndex node = replay.pop();
            const Node& popped = nodes_[node];
            if (popped.status == StepStatus::Complete) {
                path_of(node, replay.path);
                replay.covers.push_list(replay.path);
                if (sums != nullptr) sums->push_back(popped.weight_sum);
                continue;
            }
            for (std::uint32_t i = 0; i < popped.child_count; ++i) {
                const EntryIndex child = popped.first_child + i;
                if (nodes_[child].lone && !replay.frontier.empty()) score_lone(scorer, relabeled, child, replay.path);
                replay.push(child);
            }
        }
        return std::move(replay.covers);
    }

    std::uint64_t size() const noexcept { return nodes_.size(); }

private:
    struct Node {
        EntryIndex parent;
        std::uint32_t block;
        std::uint64_t key;
        double weight_sum;
        EntryIndex first_child = 0;
        std::uint32_t child_count = 0;
        StepStatus status = StepStatus::DeadEnd;
        bool lone = false;  // not scored: its key is its weight sum
    };

    explicit CandidateTree(DancingLinks links) : state_(std::move(links)) {}

    // The search's frontier over the tree's nodes.
    struct Pending {
        FrontierSlot slot;  // slot.entry: the insertion number the search gives the node
        EntryIndex node;
    };
    struct PopsLater {
        bool operator()(const Pending& a, const Pending& b) const noexcept { return pops_before(b.slot, a.slot); }
    };
    struct Replay {
        Replay(const std::vector<Node>& nodes, Interrupt* interrupt) : nodes(nodes), poll(interrupt) { push(0); }
        void push(EntryIndex node) { frontier.push(Pending{FrontierSlot{nodes[node].key, pushed++}, node}); }
        EntryIndex pop() {
            poll.tick();
            const EntryIndex node = frontier.top().node;
            frontier.pop();
            return node;
        }
        const std::vector<Node>& nodes;
        InterruptPoll poll;
        std::priority_queue<Pending, std::vector<Pending>, PopsLater> frontier;
        EntryIndex pushed = 0;  // insertion numbers given so far, the root's included
        CoverList covers;
        std::vector<std::uint64_t> path;
    };

    // Gives a lone child its key, as the search scores it when other entries are pending.
    template <class Scorer>
    void score_lone(Scorer& scorer, const BlockList& relabeled, EntryIndex child, std::vector<std::uint64_t>& path) {
        Node& lone = nodes_[child];
        path_of(lone.parent, path);
        restore_path(state_, relabeled, path, moves_);
        scorer.begin_expansion(state_.links());
        const ChildContext context{path, lone.block, lone.weight_sum};
        lone.key = score_key(scorer.child_score(state_.links(), relabeled, context));
        lone.lone = false;
    }

    // Collects the children of one expansion.
    struct Children {
        std::vector<Node>& nodes;
        EntryIndex parent;
        InterruptPoll& poll;
        bool admit() const { return true; }
        // Whether nothing else is pending is the replay's to know: unless the sink scores
        // lone children at once, they are scored there when it matters.
        bool alone() const { return !eager_lone; }
        bool eager_lone;
        void charge(std::uint64_t work) { poll.tick(work); }
        void accept(std::uint64_t block, double score) {
            nodes.push_back(Node{parent, static_cast<std::uint32_t>(block), score_key(score), 0.0});
        }
    };

    template <class Scorer>
    bool grow(Scorer& scorer, const BlockList& relabeled, Interrupt* interrupt) {
        InterruptPoll poll(interrupt);
        std::vector<std::uint64_t> path, branch;
        std::vector<EntryIndex> ids;
        struct Level {
            EntryIndex node;
            std::uint32_t next;       // the next child to walk into
            std::size_t moves;        // the matrix's moves before the node's block
        };
        std::vector<Level> stack;
        if (!expand(scorer, relabeled, 0, path, ids, branch, poll)) return false;
        stack.push_back(Level{0, 0, 0});
        while (!stack.empty()) {
            Level& top = stack.back();
            const Node& node = nodes_[top.node];
            if (top.next == node.child_count) {
                state_.rewind(top.moves);
                stack.pop_back();
                if (!path.empty()) path.pop_back();
                ids.pop_back();
                continue;
            }
            const EntryIndex child = node.first_child + top.next++;
            const std::size_t moves = state_.covered().size();
            state_.choose(relabeled, nodes_[child].block);
            path.push_back(nodes_[child].block);
            if (!expand(scorer, relabeled, child, path, ids, branch, poll)) return false;
            stack.push_back(Level{child, 0, moves});
        }
        return true;
    }

    // Expands `node`, whose blocks are `path` (the matrix state_ shows it), appending its
    // children.
    template <class Scorer>
    bool expand(Scorer& scorer, const BlockList& relabeled, EntryIndex node,
                const std::vector<std::uint64_t>& path, std::vector<EntryIndex>& ids,
                std::vector<std::uint64_t>& branch, InterruptPoll& poll) {
        ids.push_back(node);
        poll.tick();
        const double sum = node == 0 ? -0.0 : scorer.child_weight_sum(nodes_[nodes_[node].parent].weight_sum,
                                                                       nodes_[node].block);
        nodes_[node].weight_sum = sum;
        const std::size_t first = nodes_.size();
        Children sink{nodes_, node, poll, eager_lone_};
        const StepStatus status = expand_entry(state_.links(), scorer, relabeled, path, sum, branch, sink, ids);
        if (nodes_.size() > kMaxReplayNodes) return false;
        // expand_entry left the child of a branch of one block unscored (the sink said alone).
        if (keys_only_order<Scorer>() && !sink.eager_lone && status == StepStatus::Expanded && branch.size() == 1 &&
            nodes_.size() == first + 1)
            nodes_[first].lone = true;
        Node& expanded = nodes_[node];
        expanded.status = status;
        expanded.first_child = static_cast<EntryIndex>(first);
        expanded.child_count = static_cast<std::uint32_t>(nodes_.size() - first);
        return true;
    }

    void path_of(EntryIndex node, std::vector<std::uint64_t>& out) const;

    std::vector<Node> nodes_;
    LinkState state_;  // at the root between the walk and the replay's lone children
    bool eager_lone_ = true;
    std::vector<std::uint64_t> moves_;  // scratch
};

}  // namespace xcover
