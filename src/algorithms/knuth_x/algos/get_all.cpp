#include "get_all.hpp"

#include <algorithm>
#include <list>


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
                  Interrupt* interrupt) {
    DepthFirstSearch search(blocks, include, interrupt);
    CoverList covers;
    collect_covers(search, covers, UINT64_MAX, UINT64_MAX);
    return covers;
}

std::uint64_t count_all(const BlockList& blocks, std::span<const std::uint64_t> include,
                        Interrupt* interrupt) {
    DepthFirstSearch search(blocks, include, interrupt);
    std::uint64_t count = 0;
    while (search.next()) ++count;
    return count;
}

std::vector<std::vector<std::uint64_t>> split(const BlockList& blocks, std::uint64_t parts,
                                              std::span<const std::uint64_t> include,
                                              Interrupt* interrupt) {
    DepthFirstSearch search(blocks, include, interrupt);
    struct Part {
        std::vector<std::uint64_t> path;
        bool leaf = false;  // a cover: nothing below it to split
    };
    // Expanded breadth first, pass after pass, each part replaced in place by its children,
    // so the list stays in depth-first order; stops as soon as it is long enough.
    std::list<Part> frontier{Part{}};
    bool grew = true;
    while (frontier.size() < parts && grew) {
        grew = false;
        for (auto it = frontier.begin(); it != frontier.end() && frontier.size() < parts;) {
            if (it->leaf) {
                ++it;
                continue;
            }
            const DepthFirstSearch::Expansion expansion = search.expand(it->path);
            if (expansion.complete) {
                it->leaf = true;
                ++it;
                continue;
            }
            for (std::uint64_t block : expansion.blocks) {
                Part child{it->path, false};
                child.path.push_back(block);
                frontier.insert(it, std::move(child));
            }
            it = frontier.erase(it);
            grew = true;
        }
    }
    std::vector<std::vector<std::uint64_t>> prefixes;
    prefixes.reserve(frontier.size());
    for (Part& part : frontier) {
        std::vector<std::uint64_t> prefix = std::move(part.path);
        for (std::uint64_t b : include)
            if (std::find(prefix.begin(), prefix.end(), b) == prefix.end()) prefix.push_back(b);
        prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}

}  // namespace xcover
