#include "dlx_floor.hpp"

#include <map>
#include <vector>

namespace xcover::bench {

namespace {

struct Dlx {
    std::vector<std::uint32_t> L, R, U, D, C, S;

    void cover(std::uint32_t c) {
        L[R[c]] = L[c];
        R[L[c]] = R[c];
        for (std::uint32_t i = D[c]; i != c; i = D[i])
            for (std::uint32_t j = R[i]; j != i; j = R[j]) {
                U[D[j]] = U[j];
                D[U[j]] = D[j];
                --S[C[j]];
            }
    }
    void uncover(std::uint32_t c) {
        for (std::uint32_t i = U[c]; i != c; i = U[i])
            for (std::uint32_t j = L[i]; j != i; j = L[j]) {
                ++S[C[j]];
                U[D[j]] = j;
                D[U[j]] = j;
            }
        L[R[c]] = c;
        R[L[c]] = c;
    }
    std::uint64_t search() {
        if (R[0] == 0) return 1;
        std::uint32_t best = R[0];
        for (std::uint32_t c = R[0]; c != 0; c = R[c])
            if (S[c] < S[best]) best = c;
        if (S[best] == 0) return 0;
        std::uint64_t count = 0;
        cover(best);
        for (std::uint32_t r = D[best]; r != best; r = D[r]) {
            for (std::uint32_t j = R[r]; j != r; j = R[j]) cover(C[j]);
            count += search();
            for (std::uint32_t j = L[r]; j != r; j = L[j]) uncover(C[j]);
        }
        uncover(best);
        return count;
    }
};

}  // namespace

std::uint64_t dlx_floor_count(const Blocks& blocks) {
    std::map<std::uint64_t, std::uint32_t> column;
    for (const auto& b : blocks)
        for (auto e : b) column.emplace(e, 0);
    std::uint32_t m = 0;
    for (auto& [e, c] : column) c = ++m;
    Dlx d;
    for (std::uint32_t i = 0; i <= m; ++i) {
        d.L.push_back(i == 0 ? m : i - 1);
        d.R.push_back(i == m ? 0 : i + 1);
        d.U.push_back(i);
        d.D.push_back(i);
        d.C.push_back(i);
        d.S.push_back(0);
    }
    for (const auto& b : blocks) {
        std::map<std::uint32_t, int> cols;
        for (auto e : b) cols.emplace(column[e], 0);
        const std::uint32_t first = static_cast<std::uint32_t>(d.L.size());
        std::uint32_t k = 0;
        for (auto [c, unused] : cols) {
            const std::uint32_t x = first + k++;
            d.C.push_back(c);
            d.U.push_back(d.U[c]);
            d.D.push_back(c);
            d.D[d.U[c]] = x;
            d.U[c] = x;
            ++d.S[c];
            d.L.push_back(x);
            d.R.push_back(x);
            d.S.push_back(0);
        }
        for (std::uint32_t j = 0; j < k; ++j) {
            d.R[first + j] = first + (j + 1) % k;
            d.L[first + (j + 1) % k] = first + j;
        }
    }
    return d.search();
}

}  // namespace xcover::bench
