#include "dlx_floor.hpp"

#include <algorithm>
#include <numeric>
#include <vector>

namespace xcover::bench {

namespace {

// Every non-empty block as its distinct columns (1-based, ascending), columns ordered as
// the engine orders them: by block count ascending, then by value ascending.
struct Relabeled {
    std::uint32_t columns = 0;
    std::vector<std::uint32_t> entries;  // all rows, one after the other
    std::vector<std::uint32_t> offsets;  // row r is entries[offsets[r] .. offsets[r + 1])
};

Relabeled relabel(const Blocks& blocks) {
    std::vector<std::uint64_t> distinct;  // (block, distinct value) pairs, block by block
    std::vector<std::uint32_t> starts{0};
    for (const auto& b : blocks) {
        const std::size_t from = distinct.size();
        distinct.insert(distinct.end(), b.begin(), b.end());
        std::sort(distinct.begin() + static_cast<std::ptrdiff_t>(from), distinct.end());
        distinct.erase(std::unique(distinct.begin() + static_cast<std::ptrdiff_t>(from), distinct.end()),
                       distinct.end());
        if (distinct.size() != from) starts.push_back(static_cast<std::uint32_t>(distinct.size()));
    }
    std::vector<std::uint64_t> values = distinct;
    std::sort(values.begin(), values.end());
    std::vector<std::uint32_t> count;
    std::size_t m = 0;
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i;
        while (j < values.size() && values[j] == values[i]) ++j;
        values[m++] = values[i];
        count.push_back(static_cast<std::uint32_t>(j - i));
        i = j;
    }
    values.resize(m);
    std::vector<std::uint32_t> order(m);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return count[a] < count[b]; });
    std::vector<std::uint32_t> column_of_sorted(m);
    for (std::uint32_t c = 0; c < m; ++c) column_of_sorted[order[c]] = c + 1;

    Relabeled out;
    out.columns = static_cast<std::uint32_t>(m);
    out.entries.reserve(distinct.size());
    out.offsets = starts;
    for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
        const auto first = out.entries.end() - out.entries.begin();
        for (std::uint32_t k = starts[r]; k < starts[r + 1]; ++k) {
            const auto at = std::lower_bound(values.begin(), values.end(), distinct[k]) - values.begin();
            out.entries.push_back(column_of_sorted[static_cast<std::size_t>(at)]);
        }
        std::sort(out.entries.begin() + first, out.entries.end());
    }
    return out;
}

// Knuth's DLX1 layout. Items 1..N: `items` holds llink/rlink (item 0 is the root); node i
// of 1..N is item i's header, its `itm` field holding the column size. Then the blocks'
// nodes, each block's run preceded and followed by a spacer (itm <= 0) whose up link is the
// first node of the block before it and whose down link is the last node of the block after.
struct Dlx1 {
    struct Item {
        std::uint32_t prev, next;
    };
    struct alignas(16) Node {
        std::int32_t itm;  // the item; in a header, the size; in a spacer, <= 0
        std::uint32_t up, down;
    };
    std::vector<Item> items;
    std::vector<Node> nd;
    std::uint64_t nodes = 0;

    explicit Dlx1(const Relabeled& rel) {
        const std::uint32_t n = rel.columns;
        items.resize(n + 1);
        for (std::uint32_t i = 0; i <= n; ++i) items[i] = {i == 0 ? n : i - 1, i == n ? 0 : i + 1};
        nd.resize(n + 2 + rel.entries.size() + rel.offsets.size());
        for (std::uint32_t i = 1; i <= n; ++i) nd[i] = {0, i, i};
        std::uint32_t spacer = n + 1;
        nd[spacer] = {0, 0, 0};
        for (std::size_t r = 0; r + 1 < rel.offsets.size(); ++r) {
            const std::uint32_t first = spacer + 1;
            std::uint32_t x = first;
            for (std::uint32_t k = rel.offsets[r]; k < rel.offsets[r + 1]; ++k, ++x) {
                const std::uint32_t c = rel.entries[k];
                const std::uint32_t last = nd[c].up;
                nd[x] = {static_cast<std::int32_t>(c), last, c};
                nd[last].down = x;
                nd[c].up = x;
                ++nd[c].itm;
            }
            nd[spacer].down = x - 1;
            nd[x] = {-static_cast<std::int32_t>(r + 1), first, 0};
            spacer = x;
        }
        nd.resize(spacer + 1);
    }

    void hide(std::uint32_t p) {
        for (std::uint32_t q = p + 1; q != p;) {
            const std::int32_t x = nd[q].itm;
            const std::uint32_t u = nd[q].up, d = nd[q].down;
            if (x <= 0) {
                q = u;
            } else {
                nd[u].down = d;
                nd[d].up = u;
                --nd[x].itm;
                ++q;
            }
        }
    }
    void unhide(std::uint32_t p) {
        for (std::uint32_t q = p - 1; q != p;) {
            const std::int32_t x = nd[q].itm;
            const std::uint32_t u = nd[q].up, d = nd[q].down;
            if (x <= 0) {
                q = d;
            } else {
                nd[u].down = q;
                nd[d].up = q;
                ++nd[x].itm;
                --q;
            }
        }
    }
    void cover(std::uint32_t c) {
        for (std::uint32_t p = nd[c].down; p != c; p = nd[p].down) hide(p);
        const std::uint32_t l = items[c].prev, r = items[c].next;
        items[l].next = r;
        items[r].prev = l;
    }
    void uncover(std::uint32_t c) {
        const std::uint32_t l = items[c].prev, r = items[c].next;
        items[l].next = c;
        items[r].prev = c;
        for (std::uint32_t p = nd[c].up; p != c; p = nd[p].up) unhide(p);
    }

    std::uint64_t search() {
        std::uint32_t best = items[0].next;
        if (best == 0) return 1;
        std::int32_t size = nd[best].itm;
        for (std::uint32_t k = items[best].next; k != 0 && size > 0; k = items[k].next)
            if (nd[k].itm < size) size = nd[k].itm, best = k;
        if (size == 0) return 0;
        std::uint64_t count = 0;
        cover(best);
        for (std::uint32_t r = nd[best].down; r != best; r = nd[r].down) {
            ++nodes;
            for (std::uint32_t p = r + 1; p != r;) {
                const std::int32_t x = nd[p].itm;
                if (x <= 0) {
                    p = nd[p].up;
                } else {
                    cover(static_cast<std::uint32_t>(x));
                    ++p;
                }
            }
            count += search();
            for (std::uint32_t p = r - 1; p != r;) {
                const std::int32_t x = nd[p].itm;
                if (x <= 0) {
                    p = nd[p].down;
                } else {
                    uncover(static_cast<std::uint32_t>(x));
                    --p;
                }
            }
        }
        uncover(best);
        return count;
    }
};

// The textbook layout: structure of arrays, circular left/right links within each row.
struct Lrud {
    std::vector<std::uint32_t> L, R, U, D, C, S;
    std::uint64_t nodes = 0;

    explicit Lrud(const Relabeled& rel) {
        const std::uint32_t m = rel.columns;
        const std::size_t total = m + 1 + rel.entries.size();
        for (auto* v : {&L, &R, &U, &D, &C, &S}) v->reserve(total);
        for (std::uint32_t i = 0; i <= m; ++i) {
            L.push_back(i == 0 ? m : i - 1);
            R.push_back(i == m ? 0 : i + 1);
            U.push_back(i);
            D.push_back(i);
            C.push_back(i);
            S.push_back(0);
        }
        for (std::size_t r = 0; r + 1 < rel.offsets.size(); ++r) {
            const auto first = static_cast<std::uint32_t>(L.size());
            const std::uint32_t k = rel.offsets[r + 1] - rel.offsets[r];
            for (std::uint32_t j = 0; j < k; ++j) {
                const std::uint32_t c = rel.entries[rel.offsets[r] + j], x = first + j;
                C.push_back(c);
                U.push_back(U[c]);
                D.push_back(c);
                D[U[c]] = x;
                U[c] = x;
                ++S[c];
                L.push_back(first + (j + k - 1) % k);
                R.push_back(first + (j + 1) % k);
                S.push_back(0);
            }
        }
    }

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
        for (std::uint32_t c = R[best]; c != 0 && S[best] > 0; c = R[c])
            if (S[c] < S[best]) best = c;
        if (S[best] == 0) return 0;
        std::uint64_t count = 0;
        cover(best);
        for (std::uint32_t r = D[best]; r != best; r = D[r]) {
            ++nodes;
            for (std::uint32_t j = R[r]; j != r; j = R[j]) cover(C[j]);
            count += search();
            for (std::uint32_t j = L[r]; j != r; j = L[j]) uncover(C[j]);
        }
        uncover(best);
        return count;
    }
};

}  // namespace

FloorCount dlx_floor_count(const Blocks& blocks, FloorLayout layout) {
    const Relabeled rel = relabel(blocks);
    if (layout == FloorLayout::Dlx1) {
        Dlx1 d(rel);
        const std::uint64_t covers = d.search();
        return {covers, d.nodes};
    }
    Lrud d(rel);
    const std::uint64_t covers = d.search();
    return {covers, d.nodes};
}

}  // namespace xcover::bench
