// The step machine that the queries drive: pop a pending partial cover, bring the matrix to
// it, and report it complete, a dead end, or replace it by its children.
//
// The frontier is a template parameter: a last-in-first-out stack gives a depth-first search,
// an ordered frontier (see algos/) a best-first one. A frontier provides
//   bool stopped() const;                      // a cap has ended the search
//   std::optional<SearchEntry> pop();          // next entry, none when empty
//   void offer(SearchEntry child);             // push, or refuse under its own cap
//   void reserve_children(std::size_t count);  // a hint before `count` offers
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "../links/block_list.hpp"
#include "linkstate.hpp"

namespace xcover {

struct SearchEntry {
    std::vector<std::uint64_t> rows;     // block indices, in order of choice
    std::vector<std::uint64_t> covered;  // columns of those blocks, block after block
};

enum class StepStatus { Expanded = 0, Complete = 1, DeadEnd = 2 };

struct StepResult {
    SearchEntry entry;
    StepStatus status;
};

class StackFrontier {
public:
    bool stopped() const noexcept { return false; }
    std::optional<SearchEntry> pop() {
        if (entries_.empty()) return std::nullopt;
        SearchEntry e = std::move(entries_.back());
        entries_.pop_back();
        return e;
    }
    void offer(SearchEntry child) { entries_.push_back(std::move(child)); }
    void reserve_children(std::size_t count) { entries_.reserve(entries_.size() + count); }
    std::size_t size() const noexcept { return entries_.size(); }

private:
    std::vector<SearchEntry> entries_;
};

template <class Frontier>
class SearchState {
public:
    SearchState(Frontier frontier, LinkState links, BlockList blocks,
                std::optional<std::uint64_t> step_limit)
        : step_limit_(step_limit),
          frontier_(std::move(frontier)),
          links_(std::move(links)),
          blocks_(std::move(blocks)) {}

    SearchEntry make_child(const SearchEntry& parent, std::uint64_t row) const {
        auto columns = blocks_[checked(row, blocks_.size())];
        SearchEntry child;
        child.rows.reserve(parent.rows.size() + 1);
        child.rows = parent.rows;
        child.rows.push_back(row);
        child.covered.reserve(parent.covered.size() + columns.size());
        child.covered = parent.covered;
        child.covered.insert(child.covered.end(), columns.begin(), columns.end());
        return child;
    }

    std::optional<StepResult> step() {
        if (step_limit_) {
            if (*step_limit_ == 0) return std::nullopt;
            --*step_limit_;
        }
        if (frontier_.stopped()) return std::nullopt;
        std::optional<SearchEntry> popped = frontier_.pop();
        if (!popped) return std::nullopt;
        SearchEntry entry = std::move(*popped);
        links_.restore(entry.covered);
        ColumnChoice choice = links_.links().choose_column();
        switch (choice.kind) {
            case ColumnChoice::Kind::Complete:
                return StepResult{std::move(entry), StepStatus::Complete};
            case ColumnChoice::Kind::DeadEnd:
                return StepResult{std::move(entry), StepStatus::DeadEnd};
            case ColumnChoice::Kind::Rows:
                break;
        }
        frontier_.reserve_children(choice.rows.size());
        for (auto it = choice.rows.rbegin(); it != choice.rows.rend(); ++it)
            frontier_.offer(make_child(entry, *it));
        return StepResult{std::move(entry), StepStatus::Expanded};
    }

    Frontier& frontier() noexcept { return frontier_; }
    const BlockList& blocks() const noexcept { return blocks_; }

private:
    std::optional<std::uint64_t> step_limit_;
    Frontier frontier_;
    LinkState links_;
    BlockList blocks_;
};

}  // namespace xcover
