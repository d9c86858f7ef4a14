// The benchmark instances of bench/instances/*.json, read with a minimal JSON reader.
//
// Only two members of each top-level object are used: `partitions` (an array of arrays of
// unsigned 64-bit integers, the candidate blocks) and `expected` (the number of exact
// covers). Every other member is parsed and skipped. No dependency beyond the standard
// library; the reader accepts the JSON these files are written in (objects, arrays,
// strings with escapes, numbers, true/false/null) and throws std::runtime_error otherwise.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace xcover::bench {

using Blocks = std::vector<std::vector<std::uint64_t>>;

struct Instance {
    std::string name;
    std::uint64_t expected = 0;
    Blocks blocks;
};

// A ranked instance (ranked/*.json of the shared instances): the blocks and the arguments of
// get_topn_sc; the graph-free ones leave the last four empty.
struct RankedInstance {
    std::string name;
    Blocks blocks;
    std::vector<double> weights;
    std::vector<std::uint64_t> edge_counts;
    std::uint64_t edge_total = 0;
    std::vector<std::uint64_t> labels;
    std::uint64_t vertex_total = 0;
};

// From the smallest search to the largest.
inline const std::vector<std::string>& instance_names() {
    static const std::vector<std::string> names{"sudoku16", "langford12", "x3c270",
                                                "queens13", "pent5x12", "pent6x10"};
    return names;
}

// The directory of the JSON files: $XCOVER_INSTANCES if set, else the source tree's.
inline std::string instances_dir() {
    if (const char* dir = std::getenv("XCOVER_INSTANCES")) return dir;
#ifdef XCOVER_INSTANCES_DIR
    return XCOVER_INSTANCES_DIR;
#else
    return "bench/instances";
#endif
}

namespace json {

class Reader {
public:
    explicit Reader(std::string text) : s_(std::move(text)) {}

    Instance instance() {
        Instance out;
        bool have_partitions = false, have_expected = false;
        expect('{');
        if (!take('}')) {
            do {
                const std::string key = string();
                expect(':');
                if (key == "partitions") {
                    out.blocks = blocks();
                    have_partitions = true;
                } else if (key == "expected") {
                    out.expected = unsigned_integer();
                    have_expected = true;
                } else if (key == "name") {
                    out.name = string();
                } else {
                    skip_value();
                }
            } while (take(','));
            expect('}');
        }
        if (!have_partitions || !have_expected) fail("no `partitions` or no `expected`");
        return out;
    }

    RankedInstance ranked_instance() {
        RankedInstance out;
        expect('{');
        if (!take('}')) {
            do {
                const std::string key = string();
                expect(':');
                if (key == "partitions") out.blocks = blocks();
                else if (key == "weights") out.weights = doubles();
                else if (key == "edge_counts") out.edge_counts = unsigned_list();
                else if (key == "labels") out.labels = unsigned_list();
                else if (key == "edge_total") out.edge_total = unsigned_integer();
                else if (key == "vertex_total") out.vertex_total = unsigned_integer();
                else if (key == "name") out.name = string();
                else skip_value();
            } while (take(','));
            expect('}');
        }
        if (out.blocks.empty() || out.weights.empty()) fail("no `partitions` or no `weights`");
        return out;
    }

private:
    std::vector<double> doubles() {
        std::vector<double> out;
        expect('[');
        if (take(']')) return out;
        do {
            ws();
            const char* begin = s_.c_str() + i_;
            char* end = nullptr;
            out.push_back(std::strtod(begin, &end));  // correctly rounded, as Python's float()
            if (end == begin) fail("expected a number");
            i_ += static_cast<std::size_t>(end - begin);
        } while (take(','));
        expect(']');
        return out;
    }

    std::vector<std::uint64_t> unsigned_list() {
        std::vector<std::uint64_t> out;
        expect('[');
        if (take(']')) return out;
        do out.push_back(unsigned_integer());
        while (take(','));
        expect(']');
        return out;
    }

    std::string s_;
    std::size_t i_ = 0;

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("instance JSON, offset " + std::to_string(i_) + ": " + what);
    }
    void ws() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
    }
    char peek() {
        ws();
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    bool take(char c) {
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    void expect(char c) {
        if (!take(c)) fail(std::string("expected '") + c + "'");
    }

    std::uint64_t unsigned_integer() {
        ws();
        if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9') fail("expected an unsigned integer");
        std::uint64_t v = 0;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            const std::uint64_t d = static_cast<std::uint64_t>(s_[i_++] - '0');
            if (v > (UINT64_MAX - d) / 10) fail("integer above 2**64 - 1");
            v = v * 10 + d;
        }
        if (i_ < s_.size() && (s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E')) fail("not an integer");
        return v;
    }

    Blocks blocks() {
        Blocks out;
        expect('[');
        if (take(']')) return out;
        do {
            std::vector<std::uint64_t>& block = out.emplace_back();
            expect('[');
            if (take(']')) continue;
            do block.push_back(unsigned_integer());
            while (take(','));
            expect(']');
        } while (take(','));
        expect(']');
        return out;
    }

    std::string string() {
        expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] == '\\') {
                ++i_;
                if (i_ >= s_.size()) break;
                if (s_[i_] == 'u') i_ += 4;  // kept as-is: names and descriptions only
                else out.push_back(s_[i_]);
                ++i_;
            } else {
                out.push_back(s_[i_++]);
            }
        }
        if (i_ >= s_.size()) fail("unterminated string");
        ++i_;
        return out;
    }

    void skip_value() {
        const char c = peek();
        if (c == '"') {
            string();
        } else if (c == '{') {
            ++i_;
            if (take('}')) return;
            do {
                string();
                expect(':');
                skip_value();
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++i_;
            if (take(']')) return;
            do skip_value();
            while (take(','));
            expect(']');
        } else {
            const std::size_t start = i_;
            while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-' ||
                                      s_[i_] == '+' || s_[i_] == '.'))
                ++i_;
            if (i_ == start) fail("unexpected character");
        }
    }
};

}  // namespace json

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline Instance load_instance(const std::string& name) {
    Instance instance = json::Reader(read_file(instances_dir() + "/" + name + ".json")).instance();
    if (instance.name.empty()) instance.name = name;
    return instance;
}

// The ranked instances: $XCOVER_RANKED_INSTANCES if set, else the shared directory beside the
// checkout.
inline std::string ranked_instances_dir() {
    if (const char* dir = std::getenv("XCOVER_RANKED_INSTANCES")) return dir;
#ifdef XCOVER_RANKED_INSTANCES_DIR
    return XCOVER_RANKED_INSTANCES_DIR;
#else
    return "../shared/bench-instances/ranked";
#endif
}

inline RankedInstance load_ranked_instance(const std::string& name) {
    RankedInstance instance =
        json::Reader(read_file(ranked_instances_dir() + "/" + name + ".json")).ranked_instance();
    if (instance.name.empty()) instance.name = name;
    return instance;
}

}  // namespace xcover::bench
