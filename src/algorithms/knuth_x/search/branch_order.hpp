// The seeded order of branches: at a position reached by a path of blocks, each block of the
// branch column gets a key, a hash of the seed, the path and the block, and the blocks are
// tried by ascending key. The key of block b at a position is also the hash of the position
// reached by choosing b, so a search keeps one hash per level and never rehashes a path.
//
// The hash is splitmix64's finaliser, fixed arithmetic on 64-bit words: the same seed gives
// the same order on every platform and compiler (unlike std::shuffle, whose draws are the
// library's own). The finaliser is a bijection and golden * (b + 1) is injective in b (the
// multiplier is odd), so the blocks of one position never share a key: the order is strict.
#pragma once

#include <cstdint>

namespace xcover {

inline std::uint64_t mix64(std::uint64_t z) noexcept {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

inline constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ull;

// The hash of the root position of a search seeded with `seed`.
inline std::uint64_t root_path_hash(std::uint64_t seed) noexcept {
    return mix64(seed ^ 0x5eed5eed5eed5eedull);
}

// The hash of the position reached from the one hashed `parent` by choosing `block`: the
// block's key at the parent.
inline std::uint64_t child_path_hash(std::uint64_t parent, std::uint64_t block) noexcept {
    return mix64(parent + kGolden * (block + 1));
}

}  // namespace xcover
