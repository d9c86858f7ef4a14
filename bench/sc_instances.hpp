// The ranked block-count instances (bench/instances/sbm*.json): every member get_topn_sc
// takes, read with a small JSON reader (numbers, strings, arrays, objects, true/false/null).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "algorithms/knuth_x/algos/block_count/block_count.hpp"
#include "algorithms/knuth_x/links/block_list.hpp"
#include "instances.hpp"

namespace xcover::bench {

struct ScInstance {
    std::string name;
    BlockList blocks;
    BlockCountInputs inputs;
};

namespace sc_json {

struct Value {
    enum Kind { Null, Number, String, Array, Object } kind = Null;
    std::string text;  // a number's digits, or a string
    std::vector<Value> items;
    std::map<std::string, Value> members;

    const Value& operator[](const std::string& key) const {
        auto it = members.find(key);
        if (it == members.end()) throw std::runtime_error("instance JSON: no member " + key);
        return it->second;
    }
    std::uint64_t u64() const { return std::stoull(text); }
    double f64() const { return std::strtod(text.c_str(), nullptr); }
};

class Parser {
public:
    explicit Parser(std::string s) : s_(std::move(s)) {}
    Value value() {
        ws();
        if (i_ >= s_.size()) throw std::runtime_error("instance JSON: unexpected end");
        const char c = s_[i_];
        Value v;
        if (c == '{') {
            v.kind = Value::Object;
            ++i_;
            if (take('}')) return v;
            do {
                ws();
                std::string key = string();
                expect(':');
                v.members.emplace(std::move(key), value());
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            v.kind = Value::Array;
            ++i_;
            if (take(']')) return v;
            do v.items.push_back(value());
            while (take(','));
            expect(']');
        } else if (c == '"') {
            v.kind = Value::String;
            v.text = string();
        } else {
            const std::size_t start = i_;
            while (i_ < s_.size() && std::string("+-.eE0123456789truefalsn").find(s_[i_]) != std::string::npos) ++i_;
            v.text = s_.substr(start, i_ - start);
            v.kind = (v.text == "null" || v.text == "true" || v.text == "false") ? Value::Null : Value::Number;
        }
        return v;
    }

private:
    void ws() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool take(char c) {
        ws();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) throw std::runtime_error(std::string("instance JSON: expected ") + c);
    }
    std::string string() {
        expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] == '\\') ++i_;
            if (i_ < s_.size()) out.push_back(s_[i_++]);
        }
        expect('"');
        return out;
    }
    std::string s_;
    std::size_t i_ = 0;
};

}  // namespace sc_json

inline ScInstance load_sc_instance(const std::string& name) {
    const std::string path = instances_dir() + "/" + name + ".json";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    const sc_json::Value root = sc_json::Parser(text.str()).value();
    ScInstance inst;
    inst.name = name;
    for (const auto& block : root["partitions"].items) {
        for (const auto& e : block.items) inst.blocks.push_item(e.u64());
        inst.blocks.close_list();
    }
    for (const auto& w : root["weights"].items) inst.inputs.weights.push_back(w.f64());
    for (const auto& e : root["edge_counts"].items) inst.inputs.edge_counts.push_back(e.u64());
    for (const auto& l : root["labels"].items) inst.inputs.labels.push_back(l.u64());
    inst.inputs.edge_total = root["edge_total"].u64();
    inst.inputs.vertex_total = root["vertex_total"].u64();
    return inst;
}

}  // namespace xcover::bench
