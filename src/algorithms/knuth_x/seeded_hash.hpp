// The hash of the engine's hash maps and sets: a strong 64-bit mix of the key with a seed
// drawn once per process, so that keys chosen by a caller (multiples of a table size, for
// example) cannot pile up in one bucket. Nothing a query returns depends on the order of a
// hash table.
#pragma once

#include <cstdint>

namespace xcover {

// The process's hash seed, drawn at first use.
std::uint64_t hash_seed() noexcept;

struct SeededHash {
    std::uint64_t seed = hash_seed();
    std::size_t operator()(std::uint64_t key) const noexcept {
        // splitmix64's finaliser over key ^ seed.
        std::uint64_t z = key ^ seed;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return static_cast<std::size_t>(z ^ (z >> 31));
    }
};

}  // namespace xcover
