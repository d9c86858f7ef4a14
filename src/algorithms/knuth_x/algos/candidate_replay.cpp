#include "candidate_replay.hpp"

#include <algorithm>

namespace xcover {

void CandidateTree::path_of(EntryIndex node, std::vector<std::uint64_t>& out) const {
    out.clear();
    for (EntryIndex at = node; at != 0; at = nodes_[at].parent) out.push_back(nodes_[at].block);
    std::reverse(out.begin(), out.end());
}

}  // namespace xcover
