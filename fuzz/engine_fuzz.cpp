// libFuzzer target for the exact-cover engine.
//
// Each input decodes into a tiny instance (at most 10 blocks of at most 4 entries over an
// alphabet of 8 values, sometimes mapped to extreme 64-bit values), a weight list drawn from
// a table of awkward values (NaN, infinities, signed zeros, negatives), optional search caps,
// n, alpha and block-count inputs. Every query is then checked against a brute-force subset
// enumeration and against the other queries:
//   - get_all: every exact cover exactly once, nothing else; same output as get_all_stepwise.
//   - get_top (no caps): every exact cover exactly once; nondecreasing weight sums when every
//     weight is finite and no negative-weight block lists an element twice.
//   - get_topn(n): the first n covers of get_top. Uncapped, get_top, get_topn and get_topp run
//     the search with a cutoff (candidates from a branch and bound), and the step stream they
//     are compared with is the plain search: the fuzzer compares the two.
//   - capped get_top/get_topn, get_topp: prefixes of the uncapped stream.
//   - get_topp with alpha outside [+0.0, 1.0] (or NaN): empty.
//   - get_topn_sc: valid, distinct covers; all of them when uncapped with n large enough
//     (n = 2^64 - 1 runs the plain search); uncapped get_topn_sc(n), which leaves out the
//     children no candidate extends when the input passes the exact-order checks, lists a
//     prefix of those.
//   - count_all: the number of covers of get_all; with `include` (blocks picked by the bits
//     of n), get_all and count_all give exactly the covers of get_all holding those blocks,
//     in get_all's order.
//   - split: for several part counts, with and without `include`, concatenating get_all
//     over the prefixes gives get_all(include).
//   - the seeded branch order (seed n): the covers of get_all, each once; with `include`,
//     exactly the seeded covers holding those blocks, in the seeded order.
//   - split, also: the same prefixes as the passes replaying every path (split_passes), for the
//     passes alone, the level walks alone and the two racing; the bound table of the block
//     count model bit for bit the quadratic fold (min_est_quadratic).
//   - colors: secondary values and colors from the input's tail; count_all and iter_top's
//     stream (with and without include) give exactly the covers of a brute-force model with
//     colors, the stream once each, in nondecreasing sums (as for get_top) and with include
//     as the filtered stream; iter_top_sc's stream, when the input passes its checks, the same
//     covers in nondecreasing score (or a cover with too many edges, which it reports).
//   - InternalFailure only when the weights (and for get_topn_sc the labels or edge counts)
//     are shorter than the block list; any other exception is a failure.
//
// A failed check prints the decoded input and the check, then aborts so that libFuzzer keeps
// the input. With XCOVER_FUZZ_PRINT set in the environment every input is printed as it is
// decoded, which turns a saved crash file back into blocks and weights.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "algorithms/knuth_x/algos/depth_first/get_all.hpp"
#include "algorithms/knuth_x/algos/depth_first/split.hpp"
#include "algorithms/knuth_x/algos/average/get_top.hpp"
#include "algorithms/knuth_x/algos/block_count/get_topn_sc.hpp"
#include "algorithms/knuth_x/algos/average/get_topp.hpp"
#include "algorithms/knuth_x/algos/average/top_stream.hpp"
#include "algorithms/knuth_x/algos/block_count/top_sc_stream.hpp"
#include "algorithms/knuth_x/failure.hpp"
#include "algorithms/knuth_x/links/block_list.hpp"
#include "algorithms/knuth_x/search/depth_first.hpp"
#include "algorithms/knuth_x/algos/block_count/min_est.hpp"
#include "algorithms/knuth_x/algos/depth_first/split_levels.hpp"
#include "reference/min_est_quadratic.hpp"
#include "reference/split_passes.hpp"
#include "reference/stepwise.hpp"

using namespace xcover;
using Cover = std::vector<std::uint64_t>;
using Covers = std::vector<Cover>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t k2p32 = std::uint64_t{1} << 32;
constexpr std::uint64_t k2p63 = std::uint64_t{1} << 63;

// ---------------------------------------------------------------------------------------
// Decoding

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    // Past the end every byte reads as zero, so every prefix of an input is an input.
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | (byte() << 8));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Alphabets of 8 values: small, extreme, multiples of 2^32, mixed.
constexpr std::uint64_t kAlphabets[4][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7},
    {kMax64, k2p63, k2p32, 2 * k2p32, 0, kMax64 - 1, k2p63 - 1, 3 * k2p32},
    {k2p32, 2 * k2p32, 3 * k2p32, 5 * k2p32, 8 * k2p32, kMax64 - k2p32 + 1, 0, 1000 * k2p32},
    {5, kMax64, 1, k2p63, 0, k2p32, 1000003, kMax64 - 1},
};

// Weights: the low half of the byte picks from this table, the high half is a small
// non-negative multiple of 1/8.
constexpr double kWeightTable[32] = {
    0.0,  -0.0, 1.0,  2.0,   0.5,    0.25, 0.1,    0.2,   0.3,   3.0,  1.5,
    0.9,  7.0,  1e-3, 1e6,   4.75,   kNaN, kInf,   -kInf, -1.0,  -0.5, -2.5,
    -0.1, 5e-324, 1e15, -1e6, 0.7,   1.25, 2.5,    1.0 / 3.0, -0.0, 1.0,
};

constexpr double kAlphaTable[16] = {
    -0.0, 0.0, 1e-9, 0.01, 0.1, 0.125, 0.1248, 0.5, 0.518, 0.52, 0.9, 1.0, 1.5, kNaN, -0.5, kInf,
};

constexpr std::uint64_t kTotalTable[16] = {
    0, 1, 2, 3, 4, 5, 6, 8, 10, 16, 40, 1000, k2p32, k2p63, kMax64 - 1, kMax64,
};

struct Input {
    std::vector<std::vector<std::uint64_t>> blocks;
    std::vector<double> weights;
    SearchCaps caps;
    std::uint64_t n = 0;
    double alpha = 0.0;
    BlockCountInputs sc;
    std::vector<std::uint64_t> secondary;  // values of the alphabet
    std::vector<ItemColor> colors;         // (block, value, color), at most one per pair
};

// Length of a per-block list: usually one per block, sometimes shorter or longer.
std::size_t list_length(std::uint8_t code, std::size_t blocks) {
    static constexpr int kDelta[8] = {0, 0, 0, 0, -1, -2, 1, 3};
    const int len = static_cast<int>(blocks) + kDelta[code & 7];
    return len < 0 ? 0 : static_cast<std::size_t>(len);
}

Input decode(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    Input in;
    const std::uint8_t flags = r.byte();
    const auto& alphabet = kAlphabets[flags & 3];
    const bool has_iter = flags & 4;
    const bool has_heap = flags & 8;
    const std::uint8_t weight_len_code = flags >> 4;  // bits 4..6; bit 7 varies the sc lists

    const std::size_t block_count = r.byte() % 11;
    in.blocks.resize(block_count);
    for (auto& block : in.blocks) {
        const std::size_t len = r.byte() % 5;
        for (std::size_t i = 0; i < len; ++i) block.push_back(alphabet[r.byte() & 7]);
    }

    in.weights.resize(list_length(weight_len_code, block_count));
    for (double& w : in.weights) {
        const std::uint8_t b = r.byte();
        w = b < 128 ? kWeightTable[b & 31] : static_cast<double>(b - 128) / 8.0;
    }

    if (has_iter) in.caps.max_iter = r.u16() % 2000;
    if (has_heap) in.caps.max_heap = r.byte() % 40;
    {
        const std::uint8_t b = r.byte();
        in.n = b >= 250 ? kMax64 : b % 12;
    }
    in.alpha = kAlphaTable[r.byte() & 15];

    const bool vary = flags & 128;
    const std::uint8_t codes = r.byte();
    in.sc.weights = in.weights;
    if (vary) in.sc.weights.resize(list_length(codes, block_count), 0.5);
    in.sc.labels.resize(vary ? list_length(codes >> 3, block_count) : block_count);
    for (auto& label : in.sc.labels) {
        const std::uint8_t b = r.byte();
        label = b >= 250 ? kMax64 - (b - 250) : b % 4;
    }
    in.sc.edge_counts.resize(vary ? list_length(codes >> 5, block_count) : block_count);
    for (auto& count : in.sc.edge_counts) {
        const std::uint8_t b = r.byte();
        count = b >= 250 ? kMax64 - (b - 250) : b % 6;
    }
    in.sc.edge_total = kTotalTable[r.byte() & 15];
    {
        // Half the time the number of distinct elements, as the exact-order checks of the
        // block-count stream want: then uncapped get_topn_sc(n) leaves out children by
        // candidates, and must still list a prefix of the plain search's covers.
        const std::uint8_t b = r.byte();
        std::set<std::uint64_t> distinct;
        for (const auto& block : in.blocks) distinct.insert(block.begin(), block.end());
        in.sc.vertex_total = b & 16 ? distinct.size() : kTotalTable[b & 15];
    }
    // The tail: a mask of the alphabet's values made secondary, then per block and secondary
    // value it holds a color in 1..3 or none (0).
    const std::uint8_t secondary_mask = r.byte();
    for (int i = 0; i < 8; ++i)
        if (secondary_mask >> i & 1) in.secondary.push_back(alphabet[i]);
    for (std::size_t b = 0; b < block_count; ++b) {
        std::set<std::uint64_t> seen;
        for (std::uint64_t v : in.blocks[b]) {
            if (!seen.insert(v).second) continue;
            if (std::find(in.secondary.begin(), in.secondary.end(), v) == in.secondary.end()) continue;
            const std::uint8_t color = r.byte() & 3;
            if (color != 0) in.colors.push_back(ItemColor{b, v, color});
        }
    }
    return in;
}

// ---------------------------------------------------------------------------------------
// Reporting

const Input* g_input = nullptr;

std::string show_value(std::uint64_t v) {
    char buf[64];
    if (v >= 1000000) std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
    else std::snprintf(buf, sizeof buf, "%" PRIu64, v);
    return buf;
}

std::string show_double(double d) {
    char buf[64];
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

std::string show_list(const std::vector<std::uint64_t>& v) {
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + show_value(v[i]);
    return s + "]";
}

std::string show_doubles(const std::vector<double>& v) {
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + show_double(v[i]);
    return s + "]";
}

std::string show_covers(const Covers& covers) {
    std::string s = "[";
    for (std::size_t i = 0; i < covers.size(); ++i) s += (i ? ", " : "") + show_list(covers[i]);
    return s + "]";
}

std::string show_cap(const std::optional<std::uint64_t>& c) {
    return c ? show_value(*c) : std::string("None");
}

void print_input(const Input& in) {
    std::string blocks = "[";
    for (std::size_t i = 0; i < in.blocks.size(); ++i)
        blocks += (i ? ", " : "") + show_list(in.blocks[i]);
    blocks += "]";
    std::fprintf(stderr,
                 "  blocks       = %s\n"
                 "  weights      = %s\n"
                 "  max_iter     = %s, max_heap = %s\n"
                 "  n            = %s, alpha = %s\n"
                 "  sc.weights   = %s\n"
                 "  sc.labels    = %s\n"
                 "  sc.edge_counts = %s\n"
                 "  sc.edge_total = %s, sc.vertex_total = %s\n",
                 blocks.c_str(), show_doubles(in.weights).c_str(),
                 show_cap(in.caps.max_iter).c_str(), show_cap(in.caps.max_heap).c_str(),
                 show_value(in.n).c_str(), show_double(in.alpha).c_str(),
                 show_doubles(in.sc.weights).c_str(), show_list(in.sc.labels).c_str(),
                 show_list(in.sc.edge_counts).c_str(), show_value(in.sc.edge_total).c_str(),
                 show_value(in.sc.vertex_total).c_str());
    std::string colors;
    for (const ItemColor& c : in.colors)
        colors += (colors.empty() ? "" : ", ") + std::to_string(c.block) + ":" + show_value(c.element) + "=" +
                  std::to_string(c.color);
    std::fprintf(stderr, "  secondary    = %s\n  colors       = [%s]\n", show_list(in.secondary).c_str(),
                 colors.c_str());
}

[[noreturn]] void report(const char* file, int line, const char* cond, const std::string& detail) {
    std::fprintf(stderr, "\n==== engine_fuzz: check failed at %s:%d\n  %s\n", file, line, cond);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    if (g_input) {
        std::fprintf(stderr, "input:\n");
        print_input(*g_input);
    }
    std::fflush(stderr);
    std::abort();
}

#define CHECK(cond, detail)                                        \
    do {                                                           \
        if (!(cond)) report(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)

// ---------------------------------------------------------------------------------------
// The model

using CoverSet = std::set<Cover>;

Cover normalized(Cover c) {
    std::sort(c.begin(), c.end());
    return c;
}

// Every exact cover, as sorted block indices. At most 8 distinct values: one bit each.
CoverSet brute_force(const std::vector<std::vector<std::uint64_t>>& blocks) {
    std::vector<std::uint64_t> values;
    for (const auto& b : blocks) values.insert(values.end(), b.begin(), b.end());
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    if (values.size() > 32) std::abort();  // the decoder never makes more than 8
    const std::uint32_t ground = values.empty() ? 0 : static_cast<std::uint32_t>((std::uint64_t{1} << values.size()) - 1);
    std::vector<std::uint32_t> bits(blocks.size(), 0);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        for (std::uint64_t v : blocks[i])
            bits[i] |= std::uint32_t{1} << (std::lower_bound(values.begin(), values.end(), v) - values.begin());

    CoverSet covers;
    const std::size_t n = blocks.size();
    for (std::uint64_t mask = 0; mask < (std::uint64_t{1} << n); ++mask) {
        std::uint32_t seen = 0;
        bool ok = true;
        for (std::size_t i = 0; i < n && ok; ++i) {
            if (!(mask >> i & 1)) continue;
            // Empty blocks are never chosen; a block's repeated entries count once.
            if (blocks[i].empty() || (seen & bits[i]) != 0) ok = false;
            seen |= bits[i];
        }
        if (!ok || seen != ground) continue;
        Cover chosen;
        for (std::size_t i = 0; i < n; ++i)
            if (mask >> i & 1) chosen.push_back(i);
        covers.insert(chosen);
    }
    return covers;
}

// Every cover is an exact cover, and none repeats.
void check_valid_distinct(const Covers& covers, const CoverSet& all, const char* what) {
    CoverSet seen;
    for (const Cover& c : covers) {
        const Cover key = normalized(c);
        CHECK(all.count(key) != 0, std::string(what) + ": not an exact cover: " + show_list(c) +
                                       " in " + show_covers(covers));
        CHECK(seen.insert(key).second,
              std::string(what) + ": cover repeated: " + show_list(c) + " in " + show_covers(covers));
    }
}

void check_complete(const Covers& covers, const CoverSet& all, const char* what) {
    check_valid_distinct(covers, all, what);
    CHECK(covers.size() == all.size(), std::string(what) + ": " + std::to_string(covers.size()) +
                                           " covers, brute force finds " +
                                           std::to_string(all.size()) + ": " + show_covers(covers));
}

bool is_prefix(const Covers& prefix, const Covers& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

double weight_sum(const Cover& c, const std::vector<double>& weights) {
    double s = -0.0;
    for (std::uint64_t b : c) s += weights[b];
    return s;
}

bool same_bits(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Runs `f`; true when it threw InternalFailure, a check failure for any other exception.
template <class F>
bool throws_internal(F&& f, const char* what) {
    try {
        f();
        return false;
    } catch (const InternalFailure&) {
        return true;
    } catch (const std::exception& e) {
        report(__FILE__, __LINE__, what, std::string("unexpected exception: ") + e.what());
    } catch (...) {
        report(__FILE__, __LINE__, what, "unexpected non-standard exception");
    }
}

// The uncapped best-first stream, step by step, until it ends or fails.
struct Stream {
    Covers covers;
    std::vector<double> sums;             // the weight sum the search reports per cover
    std::vector<std::uint64_t> steps_at;  // steps taken when each cover was reported
    bool failed = false;
};

Stream ordered_stream(const BlockList& list, const std::vector<double>& weights) {
    Stream s;
    s.failed = throws_internal(
        [&] {
            AvgSearch search = build_avg_search(list, weights, SearchCaps{});
            std::uint64_t steps = 0;
            while (auto step = search.step()) {
                ++steps;
                CHECK(steps < 200000, "the search does not end");
                if (step->status != StepStatus::Complete) continue;
                s.covers.push_back(step->blocks);
                s.sums.push_back(step->weight_sum);
                s.steps_at.push_back(steps);
            }
        },
        "ordered stream");
    return s;
}

// ---------------------------------------------------------------------------------------
// The checks

void check_get_all(const BlockList& list, const CoverSet& all) {
    Covers covers, stepwise;
    const bool failed = throws_internal([&] { covers = get_all(list).nested(); }, "get_all");
    CHECK(!failed, "get_all threw InternalFailure");
    check_complete(covers, all, "get_all");
    const bool failed2 = throws_internal([&] { stepwise = reference::get_all_stepwise(list).nested(); }, "stepwise");
    CHECK(!failed2, "get_all_stepwise threw InternalFailure");
    CHECK(covers == stepwise,
          "get_all " + show_covers(covers) + " vs get_all_stepwise " + show_covers(stepwise));
}

void check_split(const BlockList& list) {
    for (std::uint64_t parts : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{6},
                                std::uint64_t{64}, UINT64_MAX}) {
        const auto expected = reference::split_passes(list, parts);
        CHECK(split(list, parts) == expected, "split(" + std::to_string(parts) + ") differs from the passes");
        CHECK(split_by_levels(list, parts, {}) == expected,
              "split's level walks (" + std::to_string(parts) + ") differ from the passes");
        CHECK(split_racing(list, parts, {}, nullptr, 0) == expected,
              "split racing from the start (" + std::to_string(parts) + ") differs from the passes");
    }
}

void check_min_est(const Input& in, const BlockList& list) {
    std::vector<std::uint64_t> sizes;
    for (std::uint64_t i = 0; i < list.size(); ++i) sizes.push_back(list.list_size(i));
    for (std::uint64_t elements : {std::uint64_t{4}, std::uint64_t{40}}) {
        const auto fast = build_min_est(sizes, in.sc.weights, elements);
        const auto slow = reference::min_est_quadratic(sizes, in.sc.weights, elements);
        bool same = fast.size() == slow.size();
        for (std::size_t k = 0; same && k < fast.size(); ++k)
            same = std::bit_cast<std::uint64_t>(fast[k]) == std::bit_cast<std::uint64_t>(slow[k]);
        CHECK(same, "build_min_est differs from the quadratic fold for " + std::to_string(elements) + " elements");
    }
}

void check_ranked(const Input& in, const BlockList& list, const CoverSet& all) {
    const std::size_t nb = in.blocks.size();
    const bool short_weights = in.weights.size() < nb;
    const Stream ref = ordered_stream(list, in.weights);
    CHECK(!ref.failed || short_weights, "ordered search threw InternalFailure");

    // The reported weight sum is the sum from -0.0 in the order of choice.
    for (std::size_t i = 0; i < ref.covers.size(); ++i) {
        check_valid_distinct({ref.covers[i]}, all, "ordered stream");
        const double expect = weight_sum(ref.covers[i], in.weights);
        CHECK(same_bits(ref.sums[i], expect),
              "reported sum " + show_double(ref.sums[i]) + " vs " + show_double(expect) +
                  " for " + show_list(ref.covers[i]));
    }

    // get_top, uncapped.
    Covers top;
    const bool top_failed = throws_internal([&] { top = get_top(list, in.weights, {}).nested(); }, "get_top");
    CHECK(top_failed == ref.failed, "get_top and the step stream disagree on failing");
    if (!top_failed) {
        CHECK(top == ref.covers,
              "get_top " + show_covers(top) + " vs step stream " + show_covers(ref.covers));
        check_complete(top, all, "get_top");

        // Blocks beyond the weights never appear in a cover of a search that did not fail.
        bool ordered_case = true;
        for (std::size_t b = 0; b < std::min(nb, in.weights.size()); ++b) {
            const double w = in.weights[b];
            if (!std::isfinite(w)) ordered_case = false;
            const std::set<std::uint64_t> distinct(in.blocks[b].begin(), in.blocks[b].end());
            if (w < 0 && distinct.size() != in.blocks[b].size()) ordered_case = false;
        }
        if (ordered_case) {
            for (std::size_t i = 1; i < top.size(); ++i) {
                const double prev = weight_sum(top[i - 1], in.weights);
                const double cur = weight_sum(top[i], in.weights);
                const double tol =
                    1e-9 * std::max({1.0, std::fabs(prev), std::fabs(cur)});
                CHECK(!std::isnan(prev) && !std::isnan(cur) && cur >= prev - tol,
                      "sums out of order at " + std::to_string(i) + ": " + show_double(prev) +
                          " then " + show_double(cur) + " in " + show_covers(top));
            }
        }
    }

    // get_topn(n), uncapped: the first n of the stream.
    {
        Covers first;
        const bool failed =
            throws_internal([&] { first = get_topn(list, in.weights, in.n, {}).nested(); }, "get_topn");
        CHECK(!failed || short_weights, "get_topn threw InternalFailure");
        if (!failed) {
            const std::size_t expect =
                ref.failed ? static_cast<std::size_t>(in.n)
                           : static_cast<std::size_t>(std::min<std::uint64_t>(in.n, ref.covers.size()));
            CHECK(first.size() == expect && is_prefix(first, ref.covers),
                  "get_topn " + show_covers(first) + " vs stream " + show_covers(ref.covers) +
                      (ref.failed ? " (stream failed)" : ""));
        }
    }

    // Capped searches: prefixes of the uncapped stream.
    Covers capped;
    const bool capped_failed =
        throws_internal([&] { capped = get_top(list, in.weights, in.caps).nested(); }, "capped get_top");
    CHECK(!capped_failed || short_weights, "capped get_top threw InternalFailure");
    if (!capped_failed) {
        check_valid_distinct(capped, all, "capped get_top");
        CHECK(is_prefix(capped, ref.covers),
              "capped get_top " + show_covers(capped) + " not a prefix of " + show_covers(ref.covers));
        if (!in.caps.max_heap && in.caps.max_iter && !ref.failed) {
            // A step cap keeps exactly the covers reported within that many steps.
            std::size_t k = 0;
            while (k < ref.steps_at.size() && ref.steps_at[k] <= *in.caps.max_iter) ++k;
            CHECK(capped.size() == k, "max_iter " + show_value(*in.caps.max_iter) + " gives " +
                                          show_covers(capped) + ", stream " +
                                          show_covers(ref.covers));
        }
        if (!in.caps.max_heap && !in.caps.max_iter && !ref.failed)
            CHECK(capped == ref.covers, "get_top with empty caps differs");
    }
    {
        Covers first;
        const bool failed = throws_internal(
            [&] { first = get_topn(list, in.weights, in.n, in.caps).nested(); }, "capped get_topn");
        CHECK(!failed || short_weights, "capped get_topn threw InternalFailure");
        if (!failed) {
            check_valid_distinct(first, all, "capped get_topn");
            CHECK(first.size() <= in.n && is_prefix(first, ref.covers),
                  "capped get_topn " + show_covers(first) + " vs stream " + show_covers(ref.covers));
            if (!capped_failed) {
                const std::size_t expect = std::min<std::uint64_t>(in.n, capped.size());
                CHECK(first == Covers(capped.begin(), capped.begin() + expect),
                      "capped get_topn " + show_covers(first) + " vs capped get_top " +
                          show_covers(capped));
            }
        }
    }

    // get_topp, with and without the caps.
    const bool alpha_ok = !std::isnan(in.alpha) && !std::signbit(in.alpha) && in.alpha <= 1.0;
    for (int with_caps = 0; with_caps < 2; ++with_caps) {
        const SearchCaps caps = with_caps ? in.caps : SearchCaps{};
        Covers result;
        const bool failed = throws_internal(
            [&] { result = get_topp(list, in.weights, in.alpha, caps).nested(); }, "get_topp");
        if (!alpha_ok) {
            CHECK(!failed && result.empty(),
                  "get_topp with alpha " + show_double(in.alpha) + " gives " + show_covers(result));
            continue;
        }
        CHECK(!failed || short_weights, "get_topp threw InternalFailure");
        if (failed) continue;
        check_valid_distinct(result, all, "get_topp");
        CHECK(is_prefix(result, ref.covers),
              "get_topp " + show_covers(result) + " not a prefix of " + show_covers(ref.covers));
        const Covers& same_caps = with_caps ? capped : top;
        const bool same_failed = with_caps ? capped_failed : top_failed;
        if (!same_failed)
            CHECK(is_prefix(result, same_caps),
                  "get_topp " + show_covers(result) + " not a prefix of get_top " +
                      show_covers(same_caps));
    }
}

void check_block_count(const Input& in, const BlockList& list, const CoverSet& all) {
    const std::size_t nb = in.blocks.size();
    const bool short_inputs = in.sc.weights.size() < nb || in.sc.labels.size() < nb ||
                              in.sc.edge_counts.size() < nb;

    Covers every;
    const bool every_failed =
        throws_internal([&] { every = get_topn_sc(list, in.sc, kMax64, {}).nested(); }, "get_topn_sc");
    CHECK(!every_failed || short_inputs, "get_topn_sc threw InternalFailure");
    if (!every_failed) {
        check_complete(every, all, "get_topn_sc (n = 2^64 - 1)");
        Covers again;
        const bool failed =
            throws_internal([&] { again = get_topn_sc(list, in.sc, kMax64, {}).nested(); }, "get_topn_sc");
        CHECK(!failed && again == every, "get_topn_sc not deterministic: " + show_covers(every) +
                                             " then " + show_covers(again));
    }

    for (int with_caps = 0; with_caps < 2; ++with_caps) {
        const SearchCaps caps = with_caps ? in.caps : SearchCaps{};
        Covers first;
        const bool failed =
            throws_internal([&] { first = get_topn_sc(list, in.sc, in.n, caps).nested(); }, "get_topn_sc n");
        CHECK(!failed || short_inputs, "get_topn_sc(n) threw InternalFailure");
        if (failed) continue;
        check_valid_distinct(first, all, "get_topn_sc(n)");
        CHECK(first.size() <= in.n, "get_topn_sc returned more than n covers");
        if (!every_failed) {
            CHECK(is_prefix(first, every), "get_topn_sc(n) " + show_covers(first) +
                                               " not a prefix of " + show_covers(every));
            if (!with_caps)
                CHECK(first.size() == std::min<std::uint64_t>(in.n, every.size()),
                      "get_topn_sc(n) " + show_covers(first) + " vs " + show_covers(every));
        }
    }

    // The model scores every cover it can read the inputs of.
    const bool failed = throws_internal(
        [&] {
            BlockCountModel model(list, in.sc);
            (void)model.score({});
            for (const Cover& c : every) (void)model.score(c);
        },
        "BlockCountModel");
    CHECK(!failed || short_inputs, "BlockCountModel::score threw InternalFailure");
}

// The covers of `covers` that hold every block of `include`, in order.
Covers holding(const Covers& covers, const std::vector<std::uint64_t>& include) {
    Covers kept;
    for (const Cover& c : covers) {
        bool all_in = true;
        for (std::uint64_t b : include) all_in = all_in && std::find(c.begin(), c.end(), b) != c.end();
        if (all_in) kept.push_back(c);
    }
    return kept;
}

// Every cover of a search seeded with `seed`, restricted to `include`, in order.
Covers seeded_covers(const BlockList& list, std::uint64_t seed, const std::vector<std::uint64_t>& include) {
    DepthFirstSearch search(list, include);
    search.order_branches(seed);
    Covers covers;
    while (search.next()) covers.emplace_back(search.cover().begin(), search.cover().end());
    return covers;
}

Covers sorted_each(Covers covers) {
    for (Cover& c : covers) std::sort(c.begin(), c.end());
    std::sort(covers.begin(), covers.end());
    return covers;
}

void check_seeded_order(const Input& in, const BlockList& list, const Covers& everything,
                        const std::vector<std::uint64_t>& include) {
    const Covers seeded = seeded_covers(list, in.n, {});
    CHECK(seeded.size() == everything.size() && sorted_each(seeded) == sorted_each(everything),
          "the seeded search does not find get_all's covers, each once");
    CHECK(seeded_covers(list, in.n, include) == holding(seeded, include),
          "the seeded search with include " + show_list(include) + " is not the filtered seeded order");
}

// Every cover with colors (see colors.hpp), as sorted block indices: primary values covered
// once, secondary ones at most once or only by blocks giving them one color; a block without a
// primary value is never chosen.
CoverSet brute_force_colored(const Input& in) {
    const auto& blocks = in.blocks;
    auto secondary = [&](std::uint64_t v) {
        return std::find(in.secondary.begin(), in.secondary.end(), v) != in.secondary.end();
    };
    auto color = [&](std::size_t b, std::uint64_t v) -> std::uint64_t {
        for (const ItemColor& c : in.colors)
            if (c.block == b && c.element == v) return c.color;
        return 0;
    };
    std::set<std::uint64_t> primary;
    for (const auto& block : blocks)
        for (std::uint64_t v : block)
            if (!secondary(v)) primary.insert(v);
    CoverSet covers;
    const std::size_t n = blocks.size();
    for (std::uint64_t mask = 0; mask < (std::uint64_t{1} << n); ++mask) {
        std::set<std::uint64_t> covered;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> taken;  // (value, color) per holder
        bool ok = true;
        for (std::size_t i = 0; i < n && ok; ++i) {
            if (!(mask >> i & 1)) continue;
            const std::set<std::uint64_t> own(blocks[i].begin(), blocks[i].end());
            ok = std::any_of(own.begin(), own.end(), [&](std::uint64_t v) { return !secondary(v); });
            for (std::uint64_t v : own) {
                if (!secondary(v)) {
                    ok = ok && covered.insert(v).second;
                    continue;
                }
                const std::uint64_t c = color(i, v);
                for (const auto& [w, d] : taken)
                    if (w == v && (c == 0 || d != c)) ok = false;
                taken.emplace_back(v, c);
            }
        }
        if (!ok || covered != primary) continue;
        Cover chosen;
        for (std::size_t i = 0; i < n; ++i)
            if (mask >> i & 1) chosen.push_back(i);
        covers.insert(chosen);
    }
    return covers;
}

template <class Stream>
Covers drain(Stream& stream) {
    Covers covers;
    while (auto next = stream.next()) covers.push_back(next->blocks);
    return covers;
}

void check_colored(const Input& in, const BlockList& list) {
    if (in.secondary.empty()) return;
    const SecondaryItems secondary{in.secondary, in.colors};
    const CoverSet all = brute_force_colored(in);
    CHECK(count_all(list, {}, nullptr, secondary) == all.size(), "count_all with colors");
    if (in.weights.size() < in.blocks.size()) return;

    TopStream stream(list, in.weights, {}, SearchCaps{}, nullptr, nullptr, secondary);
    const Covers top = drain(stream);
    check_complete(top, all, "iter_top with colors");
    bool ordered_case = true;
    for (std::size_t b = 0; b < in.blocks.size(); ++b) {
        const std::set<std::uint64_t> distinct(in.blocks[b].begin(), in.blocks[b].end());
        if (!std::isfinite(in.weights[b]) || (in.weights[b] < 0 && distinct.size() != in.blocks[b].size()))
            ordered_case = false;
    }
    for (std::size_t i = 1; ordered_case && i < top.size(); ++i) {
        const double prev = weight_sum(top[i - 1], in.weights), cur = weight_sum(top[i], in.weights);
        CHECK(cur >= prev - 1e-9 * std::max({1.0, std::fabs(prev), std::fabs(cur)}),
              "iter_top with colors out of order at " + std::to_string(i));
    }
    std::vector<std::uint64_t> include;
    for (std::uint64_t b = 0; b < list.size(); ++b)
        if (b < 64 && ((in.n >> b) & 1)) include.push_back(b);
    TopStream held(list, in.weights, include, SearchCaps{}, nullptr, nullptr, secondary);
    CHECK(drain(held) == holding(top, include), "iter_top with colors and include " + show_list(include) +
                                                    " is not the filtered stream");

    const std::size_t nb = in.blocks.size();
    if (in.sc.weights.size() != nb || in.sc.labels.size() != nb || in.sc.edge_counts.size() != nb ||
        !top_sc_input_error(list, in.sc).empty())
        return;
    try {
        TopScStream sc(list, in.sc, {}, SearchCaps{}, nullptr, secondary);
        Covers covers;
        double last = -std::numeric_limits<double>::infinity();
        while (auto next = sc.next()) {
            CHECK(next->score >= last, "iter_top_sc with colors out of order");
            last = next->score;
            covers.push_back(next->blocks);
        }
        check_complete(covers, all, "iter_top_sc with colors");
    } catch (const UnrankableCover&) {
        // A cover holding more edges than edge_total: reported, as the stream documents.
    }
}

void check_depth_first_companions(const Input& in, const BlockList& list) {
    const Covers everything = get_all(list).nested();
    CHECK(count_all(list) == everything.size(), "count_all differs from get_all's length");
    std::vector<std::uint64_t> include;
    for (std::uint64_t b = 0; b < list.size(); ++b)
        if (b < 64 && ((in.n >> b) & 1)) include.push_back(b);
    const Covers expected = holding(everything, include);
    CHECK(get_all(list, include).nested() == expected,
          "get_all with include " + show_list(include) + " is not the filtered get_all");
    CHECK(count_all(list, include) == expected.size(), "count_all with include differs");
    check_seeded_order(in, list, everything, include);
    for (std::uint64_t parts : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{7},
                                in.n % 13 + 1}) {
        for (const std::vector<std::uint64_t>& base : {include, std::vector<std::uint64_t>{}}) {
            Covers joined;
            for (const auto& prefix : split(list, parts, base)) {
                const Covers part = get_all(list, prefix).nested();
                joined.insert(joined.end(), part.begin(), part.end());
            }
            CHECK(joined == holding(everything, base),
                  "split into " + std::to_string(parts) + " with include " + show_list(base) +
                      " does not concatenate to get_all");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool print = std::getenv("XCOVER_FUZZ_PRINT") != nullptr;
    const Input in = decode(data, size);
    g_input = &in;
    if (print) {
        std::fprintf(stderr, "input (%zu bytes):\n", size);
        print_input(in);
    }

    const BlockList list = BlockList::from(in.blocks);
    const CoverSet all = brute_force(in.blocks);

    check_get_all(list, all);
    check_depth_first_companions(in, list);
    check_ranked(in, list, all);
    check_block_count(in, list, all);
    check_split(list);
    check_min_est(in, list);
    check_colored(in, list);

    g_input = nullptr;
    return 0;
}
