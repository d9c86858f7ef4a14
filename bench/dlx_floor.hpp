#pragma once
#include <cstdint>
#include "instances.hpp"
namespace xcover::bench {
// Counts exact covers with a minimal recursive dancing-links search: no bounds checks, no
// result lists. The floor that the production search is measured against.
std::uint64_t dlx_floor_count(const Blocks& blocks);
}
