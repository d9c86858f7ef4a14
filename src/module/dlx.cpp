#include "dlx.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "../algorithms/knuth_x/format/dlx_format.hpp"
#include "results.hpp"

namespace xcover::py {

namespace {

PyStructSequence_Field kProblemFields[] = {
    {"blocks", "the options, each a list of item numbers"},
    {"secondary", "the numbers of the secondary items"},
    {"names", "the item names, by number"},
    // Attributes only, after the three fields of the tuple: unpacking stays (blocks,
    // secondary, names).
    {"colors", "None without colors; else per option a dict of item number to color number"},
    {"color_names", "the color names, by number"},
    {nullptr, nullptr},
};

constexpr Py_ssize_t kTupleFields = 3;
constexpr Py_ssize_t kAllFields = 5;

PyStructSequence_Desc kProblemDesc = {
    "xcover.DlxProblem",
    "An exact-cover problem read from the DLX format: (blocks, secondary, names), with the\n"
    "attributes colors and color_names.",
    kProblemFields,
    kTupleFields,
};

PyObject* problem_type(ModuleState& state) {
    return state.dlx_problem_type.get(
        [] { return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&kProblemDesc)); });
}

PyObject* names_to_python(const std::vector<std::string>& names) {
    ListBuilder list;
    for (const std::string& name : names)
        if (!list.push(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()),
                                            "strict")))
            return nullptr;
    return list.finish();
}

// None for a problem without colors; else one dict per option, item number -> color number.
PyObject* colors_to_python(Call& call, const DlxProblem& problem, IndexInts& ints) {
    if (problem.colors.empty()) Py_RETURN_NONE;
    ListBuilder options;
    std::size_t next = 0;  // problem.colors is in option order
    for (std::uint64_t option = 0; option < problem.blocks.size(); ++option) {
        if (!call.check.poll_attached()) return nullptr;
        Ref colors = own(PyDict_New());
        if (!colors) return nullptr;
        for (; next < problem.colors.size() && problem.colors[next].block == option; ++next) {
            Ref item = own(ints.get(problem.colors[next].element));
            Ref color = own(ints.get(problem.colors[next].color));
            if (!item || !color || PyDict_SetItem(colors.get(), item.get(), color.get()) < 0) return nullptr;
        }
        if (!options.push(colors.release())) return nullptr;
    }
    return options.finish();
}

PyObject* problem_to_python(Call& call, const DlxProblem& problem) {
    PyObject* type = problem_type(call.state);
    if (type == nullptr) return nullptr;
    IndexInts ints;
    ListBuilder blocks;
    for (const auto& block : problem.blocks) {
        if (!call.check.poll_attached(block.size() + 1)) return nullptr;
        if (!blocks.push(index_list(block, ints))) return nullptr;
    }
    Ref fields[] = {own(blocks.finish()), own(index_list(problem.secondary, ints)),
                    own(names_to_python(problem.names)), own(colors_to_python(call, problem, ints)),
                    own(names_to_python(problem.color_names))};
    static_assert(std::size(fields) == kAllFields);
    for (const Ref& field : fields)
        if (!field) return nullptr;
    Ref result = own(PyStructSequence_New(reinterpret_cast<PyTypeObject*>(type)));
    if (!result) return nullptr;
    for (Py_ssize_t i = 0; i < kAllFields; ++i) PyStructSequence_SetItem(result.get(), i, fields[i].release());
    return result.release();
}

// Parses UTF-8 text; a malformed text raises ValueError with the parser's message.
PyObject* parse_to_python(Call& call, std::string_view text) {
    DlxProblem problem;
    try {
        problem = parse_dlx(text);
    } catch (const DlxFormatError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
        return nullptr;
    }
    return problem_to_python(call, problem);
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

PyObject* dlx_text_to_python(Call& call, PyObject* text) {
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "read_dlx() argument must be str, not %.200s",
                     Py_TYPE(text)->tp_name);
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) return nullptr;
    return parse_to_python(call, std::string_view(data, static_cast<std::size_t>(size)));
}

PyObject* dlx_file_to_python(Call& call, PyObject* path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return nullptr;
    Ref path_bytes = own(encoded);
    std::string contents;
    {
        std::unique_ptr<std::FILE, FileCloser> file;
        Py_BEGIN_ALLOW_THREADS
        file.reset(std::fopen(PyBytes_AS_STRING(encoded), "rb"));
        Py_END_ALLOW_THREADS
        if (!file) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
        char buffer[1 << 16];
        for (;;) {
            std::size_t got = 0;
            Py_BEGIN_ALLOW_THREADS
            got = std::fread(buffer, 1, sizeof buffer, file.get());
            Py_END_ALLOW_THREADS
            contents.append(buffer, got);
            if (got < sizeof buffer) break;
            if (!call.check.poll_attached()) return nullptr;
        }
        if (std::ferror(file.get())) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    }
    // Decoding checks the bytes are UTF-8 (UnicodeDecodeError, a ValueError, otherwise).
    Ref text = own(PyUnicode_DecodeUTF8(contents.data(), static_cast<Py_ssize_t>(contents.size()),
                                        "strict"));
    if (!text) return nullptr;
    return parse_to_python(call, contents);
}

}  // namespace xcover::py
