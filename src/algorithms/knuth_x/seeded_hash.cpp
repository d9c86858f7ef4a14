#include "seeded_hash.hpp"

#include <chrono>
#include <random>

namespace xcover {

namespace {

std::uint64_t draw_seed() noexcept {
    std::uint64_t seed = 0x9e3779b97f4a7c15ull;
    try {
        std::random_device device;
        seed ^= (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No entropy source: the clock still differs between processes.
    }
    seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed;
}

}  // namespace

std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = draw_seed();
    return seed;
}

}  // namespace xcover
