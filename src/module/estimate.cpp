#include "estimate.hpp"

#include <random>

namespace xcover::py {

namespace {

PyStructSequence_Field kEstimateFields[] = {
    {"covers", "the estimated number of covers"},
    {"nodes", "the estimated number of positions of the search tree, the root included"},
    {"covers_stderr", "the standard error of `covers`"},
    {"nodes_stderr", "the standard error of `nodes`"},
    {nullptr, nullptr},
};

PyStructSequence_Desc kEstimateDesc = {
    "xcover.TreeEstimate",
    "Random-probe estimates of the search of count_all: (covers, nodes, covers_stderr, "
    "nodes_stderr).",
    kEstimateFields,
    4,
};

}  // namespace

PyObject* estimate_to_python(Call& call, const TreeEstimate& estimate) {
    PyObject* type = call.state.tree_estimate_type.get(
        [] { return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&kEstimateDesc)); });
    if (type == nullptr) return nullptr;
    const double values[] = {estimate.covers, estimate.nodes, estimate.covers_stderr,
                             estimate.nodes_stderr};
    Ref fields[4];
    for (int i = 0; i < 4; ++i) {
        fields[i] = own(PyFloat_FromDouble(values[i]));
        if (!fields[i]) return nullptr;
    }
    Ref result = own(PyStructSequence_New(reinterpret_cast<PyTypeObject*>(type)));
    if (!result) return nullptr;
    for (int i = 0; i < 4; ++i) PyStructSequence_SetItem(result.get(), i, fields[i].release());
    return result.release();
}

std::uint64_t seed_or_random(std::optional<std::uint64_t> seed) {
    if (seed) return *seed;
    std::random_device entropy;
    return (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy();
}

}  // namespace xcover::py
