// Exact-cover instances shared by the benchmarks: pentomino tiling and Langford pairs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace xcover::bench {

using Blocks = std::vector<std::vector<std::uint64_t>>;

// The 12 pentominoes on a rows x cols board, every orientation, nothing broken by symmetry.
// Element p (0..11) is "piece p is used"; element 12 + r*cols + c is cell (r, c).
inline Blocks pentomino_blocks(int rows, int cols) {
    static const char* shapes[12][5] = {
        {"##", ".##", ".#"},   // F
        {"#####"},             // I
        {"#", "#", "#", "##"}, // L
        {".#", ".#", "##", "#"},  // N
        {"##", "##", "#"},     // P
        {"###", ".#", ".#"},   // T
        {"#.#", "###"},        // U
        {"#", "#", "###"},     // V
        {"#", "##", ".##"},    // W
        {".#", "###", ".#"},   // X
        {".#", "##", ".#", ".#"},  // Y
        {"##", ".#", ".##"},   // Z
    };
    Blocks blocks;
    for (int p = 0; p < 12; ++p) {
        std::vector<std::pair<int, int>> cells;
        for (int r = 0; r < 5 && shapes[p][r]; ++r)
            for (int c = 0; shapes[p][r][c]; ++c)
                if (shapes[p][r][c] == '#') cells.emplace_back(r, c);
        std::set<std::vector<std::pair<int, int>>> orientations;
        for (int flip = 0; flip < 2; ++flip) {
            for (int rot = 0; rot < 4; ++rot) {
                auto shape = cells;
                for (auto& [r, c] : shape) {
                    if (flip) c = -c;
                    for (int k = 0; k < rot; ++k) std::tie(r, c) = std::make_pair(c, -r);
                }
                int min_r = 1 << 20, min_c = 1 << 20;
                for (auto [r, c] : shape) min_r = std::min(min_r, r), min_c = std::min(min_c, c);
                for (auto& [r, c] : shape) r -= min_r, c -= min_c;
                std::sort(shape.begin(), shape.end());
                orientations.insert(shape);
            }
        }
        for (const auto& shape : orientations) {
            for (int dr = 0; dr < rows; ++dr) {
                for (int dc = 0; dc < cols; ++dc) {
                    std::vector<std::uint64_t> block{static_cast<std::uint64_t>(p)};
                    bool fits = true;
                    for (auto [r, c] : shape) {
                        if (r + dr >= rows || c + dc >= cols) { fits = false; break; }
                        block.push_back(12 + static_cast<std::uint64_t>((r + dr) * cols + c + dc));
                    }
                    if (fits) blocks.push_back(block);
                }
            }
        }
    }
    return blocks;
}

// Langford pairs: place two copies of each k in 1..n in 2n slots, k numbers apart.
// Element k-1 is "number k placed", element n + i is slot i.
inline Blocks langford_blocks(std::uint64_t n) {
    Blocks blocks;
    for (std::uint64_t k = 1; k <= n; ++k)
        for (std::uint64_t i = 0; i + k + 1 < 2 * n; ++i) blocks.push_back({k - 1, n + i, n + i + k + 1});
    return blocks;
}

}  // namespace xcover::bench
