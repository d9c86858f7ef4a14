#include "dlx.hpp"

#include <cerrno>
#include <cstdio>
#include <iterator>
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
    {"unmet", "the primary items no option holds: then the problem has no cover"},
    {"colors", "None without colors; else per option a dict of item number to color number"},
    {"color_names", "the color names, by number"},
    {nullptr, nullptr},
};

constexpr Py_ssize_t kTupleFields = 3;
constexpr Py_ssize_t kAllFields = 6;

PyStructSequence_Desc kProblemDesc = {
    "xcover.DlxProblem",
    "An exact-cover problem read from the DLX format: (blocks, secondary, names), with the\n"
    "attributes unmet, the primary items no option holds (the blocks then end with three\n"
    "that leave the problem without a cover), colors and color_names.",
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
                    own(names_to_python(problem.names)), own(index_list(problem.unmet, ints)),
                    own(colors_to_python(call, problem, ints)), own(names_to_python(problem.color_names))};
    static_assert(std::size(fields) == kAllFields);
    for (const Ref& field : fields)
        if (!field) return nullptr;
    Ref result = own(PyStructSequence_New(reinterpret_cast<PyTypeObject*>(type)));
    if (!result) return nullptr;
    for (Py_ssize_t i = 0; i < kAllFields; ++i) PyStructSequence_SetItem(result.get(), i, fields[i].release());
    return result.release();
}

// A format fault as ValueError with the reader's message.
void raise_format_error(const DlxFormatError& error) { PyErr_SetString(PyExc_ValueError, error.what()); }

// The problem `read()` returns, as a Python object; a format fault raises ValueError with the
// reader's message.
template <class Read>
PyObject* problem_or_format_error(Call& call, Read read) {
    DlxProblem problem;
    try {
        problem = read();
    } catch (const DlxFormatError& error) {
        raise_format_error(error);
        return nullptr;
    }
    return problem_to_python(call, problem);
}

// Parses UTF-8 text; a malformed text raises ValueError with the parser's message.
PyObject* parse_to_python(Call& call, std::string_view text) {
    return problem_or_format_error(call, [&] { return parse_dlx(text); });
}

// The problem `reader` has read, ended; nullptr with ValueError for a fault at the end.
PyObject* finish_to_python(Call& call, DlxReader& reader) {
    return problem_or_format_error(call, [&] { return reader.finish(); });
}

// Feeds one piece to `reader`, then polls for signals; false with an exception set.
bool feed(Call& call, DlxReader& reader, std::string_view bytes) {
    try {
        reader.feed(bytes);
    } catch (const DlxFormatError& error) {
        raise_format_error(error);
        return false;
    }
    return call.check.poll_attached(bytes.size() / 1024 + 1);
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// A piece of an input is read at a time: an endless or binary input stops at its first
// fault, and what waits in memory is one piece and the problem read so far.
constexpr std::size_t kPiece = 1 << 16;

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
    std::unique_ptr<std::FILE, FileCloser> file;
    Py_BEGIN_ALLOW_THREADS
    file.reset(std::fopen(PyBytes_AS_STRING(encoded), "rb"));
    Py_END_ALLOW_THREADS
    if (!file) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    DlxReader reader;
    const std::unique_ptr<char[]> buffer(new char[kPiece]);
    for (;;) {
        std::size_t got = 0;
        Py_BEGIN_ALLOW_THREADS
        got = std::fread(buffer.get(), 1, kPiece, file.get());
        Py_END_ALLOW_THREADS
        if (!feed(call, reader, std::string_view(buffer.get(), got))) return nullptr;
        if (got < kPiece) break;
    }
    if (std::ferror(file.get())) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    return finish_to_python(call, reader);
}

PyObject* dlx_stream_to_python(Call& call, PyObject* stream) {
    DlxReader reader;
    for (;;) {
        Ref piece = own(PyObject_CallMethod(stream, "read", "n", static_cast<Py_ssize_t>(kPiece)));
        if (!piece) return nullptr;
        Py_ssize_t size = 0;
        const char* data = nullptr;
        if (PyBytes_Check(piece.get())) {
            size = PyBytes_GET_SIZE(piece.get());
            data = PyBytes_AS_STRING(piece.get());
        } else if (PyUnicode_Check(piece.get())) {
            data = PyUnicode_AsUTF8AndSize(piece.get(), &size);
            if (data == nullptr) return nullptr;
        } else {
            PyErr_Format(PyExc_TypeError, "read() returned %.200s, not bytes or str",
                         Py_TYPE(piece.get())->tp_name);
            return nullptr;
        }
        if (size == 0) break;
        if (!feed(call, reader, std::string_view(data, static_cast<std::size_t>(size)))) return nullptr;
    }
    return finish_to_python(call, reader);
}

}  // namespace xcover::py
