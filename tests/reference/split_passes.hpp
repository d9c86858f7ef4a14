// A reference model of split: the passes written the long way. Each part owns a copy of its
// path, and expanding it replays the path from the root (DepthFirstSearch::expand). Slow
// (quadratic in the depth), and independent of the product's cursor and forced chains, so
// the tests compare the two prefix for prefix. Without `append_include`, each part is its
// bare path (split_paths).
#pragma once

#include <algorithm>
#include <cstdint>
#include <list>
#include <span>
#include <vector>

#include "algorithms/knuth_x/search/depth_first.hpp"

namespace xcover::reference {

// The passes on a search as it is (built with `include`, its branch order set): the parts'
// paths, each followed by the `include` blocks not on it when `append_include`.
inline std::vector<std::vector<std::uint64_t>> split_passes(DepthFirstSearch& search, std::uint64_t parts,
                                                           std::span<const std::uint64_t> include,
                                                           bool append_include) {
    struct Part {
        std::vector<std::uint64_t> path;
        bool leaf = false;  // a cover: nothing below it to split
    };
    // Each pass replaces every part, left to right, by its children; stops as soon as the
    // list is long enough, or when nothing grew.
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
    for (Part& part : frontier) {
        std::vector<std::uint64_t> prefix = std::move(part.path);
        for (std::uint64_t b : append_include ? include : std::span<const std::uint64_t>{})
            if (std::find(prefix.begin(), prefix.end(), b) == prefix.end()) prefix.push_back(b);
        prefixes.push_back(std::move(prefix));
    }
    return prefixes;
}

inline std::vector<std::vector<std::uint64_t>> split_passes(const BlockList& blocks, std::uint64_t parts,
                                                           std::span<const std::uint64_t> include = {},
                                                           bool append_include = true) {
    DepthFirstSearch search(blocks, include);
    return split_passes(search, parts, include, append_include);
}

}  // namespace xcover::reference
