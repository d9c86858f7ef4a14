"""The five ranked and enumerating functions as callers rely on them: parameters, defaults
and docstrings. The one source the tests of the module, the stub and the fuzzed surface read.
"""

RANKED_DOC = "Get top `n` partitions in order of decreasing likelihood, given partition weights"

# name: (parameters as (name, default text or None), docstring)
FUNCTIONS = {
    "get_all": ((("partitions", None),), "Get all partitions given a set of covers"),
    "get_top": (
        (("partitions", None), ("weights", None), ("max_iter", "None"), ("max_heap", "None")),
        "Get partitions in order of decreasing likelihood, given partition weights",
    ),
    "get_topn": (
        (("partitions", None), ("weights", None), ("n", None), ("max_iter", "None"),
         ("max_heap", "None")),
        RANKED_DOC,
    ),
    "get_topn_sc": (
        (("partitions", None), ("weights", None), ("edge_counts", None), ("edge_total", None),
         ("labels", None), ("vertex_total", None), ("n", None), ("max_iter", "None"),
         ("max_heap", "None")),
        RANKED_DOC,
    ),
    "get_topp": (
        (("partitions", None), ("weights", None), ("alpha", None), ("max_iter", "None"),
         ("max_heap", "None")),
        "Get top partitions in order of decreasing likelihood, with total\n"
        "probability coverage greater than `1 - alpha`",
    ),
}


def parameter_names(name):
    return tuple(p for p, _ in FUNCTIONS[name][0])


def text_signature(name):
    parts = [p if default is None else f"{p}={default}" for p, default in FUNCTIONS[name][0]]
    return "(" + ", ".join(parts) + ")"


def docstring(name):
    return FUNCTIONS[name][1]
