// What a ranked stream hands out: one cover with its score, and why a stream ended.
#pragma once

#include <cstdint>
#include <vector>

namespace xcover {

struct RankedCover {
    std::vector<std::uint64_t> blocks;  // in order of choice
    double score;
};

enum class StreamEnd { Running, Exhausted, StepCap, HeapCap };

}  // namespace xcover
