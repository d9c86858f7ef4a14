#include "command_line.hpp"

#include <string>
#include <vector>

namespace xcover::py {

namespace {

constexpr const char* kUsage = "usage: xcover [--count | --all] [--help] FILE\n";
constexpr const char* kHelp =
    "\n"
    "Solve the exact-cover problem in FILE, written in Knuth's DLX format (a line of item\n"
    "names, primary ones then '|' and the secondary ones; then one option per line, which may\n"
    "give a secondary item a color as 'item:color'; lines starting with '|' are comments).\n"
    "FILE '-' reads standard input.\n"
    "\n"
    "  --count     print the number of covers (the default)\n"
    "  --all       print every cover, one per line: its options, each as its item names,\n"
    "              separated by ' | '\n"
    "  -h, --help  print this help and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when FILE cannot be read or is malformed, 2 for bad\n"
    "arguments, 130 when interrupted (Ctrl-C).\n";

enum class Status { Ok = 0, BadInput = 1, Usage = 2, Interrupted = 130 };

// Writes `text` to sys.stdout or sys.stderr; false with an exception set.
bool write(const char* stream, const std::string& text) {
    PyObject* file = PySys_GetObject(stream);  // borrowed
    if (file == nullptr || file == Py_None) return true;  // no stream: nothing to show
    return PyFile_WriteString(text.c_str(), file) == 0;
}

PyObject* status(Status s) { return PyLong_FromLong(static_cast<long>(s)); }

struct Options {
    bool all = false;
    bool help = false;
    std::string path;
    std::string error;  // a usage error, or empty
};

Options parse_options(const std::vector<std::string>& args) {
    Options options;
    bool have_path = false;
    for (const std::string& arg : args) {
        if (arg == "--count") {
            options.all = false;
        } else if (arg == "--all") {
            options.all = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            options.error = "unknown option '" + arg + "'";
        } else if (have_path) {
            options.error = "more than one FILE";
        } else {
            options.path = arg;
            have_path = true;
        }
    }
    if (options.error.empty() && !have_path && !options.help) options.error = "no FILE given";
    return options;
}

// argv as strings: sys.argv[1:] when `argv` is None. False with an exception set.
bool read_arguments(PyObject* argv, std::vector<std::string>& out) {
    Ref owned;
    if (argv == Py_None) {
        PyObject* sys_argv = PySys_GetObject("argv");  // borrowed
        if (sys_argv == nullptr || !PyList_Check(sys_argv)) return true;
        owned = own(PyList_GetSlice(sys_argv, 1, PY_SSIZE_T_MAX));
        if (!owned) return false;
        argv = owned.get();
    }
    Ref items = own(PySequence_Fast(argv, "argv must be a sequence of str"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(item) ? PyUnicode_AsUTF8AndSize(item, &size) : nullptr;
        if (text == nullptr) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "argv must be a sequence of str");
            return false;
        }
        out.emplace_back(text, static_cast<std::size_t>(size));
    }
    return true;
}

// The problem read from the path or standard input: a new DlxProblem, or nullptr.
PyObject* read_problem(PyObject* module, const std::string& path) {
    if (path == "-") {
        PyObject* in = PySys_GetObject("stdin");  // borrowed
        if (in == nullptr || in == Py_None) {
            PyErr_SetString(PyExc_OSError, "no standard input");
            return nullptr;
        }
        Ref text = own(PyObject_CallMethod(in, "read", nullptr));
        if (!text) return nullptr;
        return PyObject_CallMethod(module, "read_dlx", "O", text.get());
    }
    return PyObject_CallMethod(module, "read_dlx_file", "s", path.c_str());
}

// The problem's colors (None, or per option a dict of item to color) and color names.
struct ProblemColors {
    Ref colors, names;
    bool read(PyObject* problem) {
        colors = own(PyObject_GetAttrString(problem, "colors"));
        names = own(PyObject_GetAttrString(problem, "color_names"));
        return colors && names && (colors.get() == Py_None || PyList_Check(colors.get())) &&
               PyList_Check(names.get());
    }
    // Appends ":color" when option `b` gives `item` a color; false on a malformed problem.
    bool append(Py_ssize_t b, PyObject* item, std::string& line) const {
        if (colors.get() == Py_None) return true;
        if (b >= PyList_GET_SIZE(colors.get())) return false;
        PyObject* option = PyList_GET_ITEM(colors.get(), b);
        if (!PyDict_Check(option)) return false;
        PyObject* color = PyDict_GetItemWithError(option, item);  // borrowed
        if (color == nullptr) return !PyErr_Occurred();
        const Py_ssize_t number = PyLong_AsSsize_t(color);
        if (number < 0 || number >= PyList_GET_SIZE(names.get())) return false;
        const char* name = PyUnicode_AsUTF8(PyList_GET_ITEM(names.get(), number));
        if (name == nullptr) return false;
        line += ':';
        line += name;
        return true;
    }
};

// One cover as a line: its options' item names (with their colors), options separated by " | ".
bool cover_line(PyObject* cover, PyObject* blocks, PyObject* names, const ProblemColors& colors,
                std::string& line) {
    line.clear();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(cover); ++i) {
        if (i > 0) line += " | ";
        const Py_ssize_t b = PyLong_AsSsize_t(PyList_GET_ITEM(cover, i));
        if (b < 0 || b >= PyList_GET_SIZE(blocks)) return false;
        PyObject* block = PyList_GET_ITEM(blocks, b);
        for (Py_ssize_t k = 0; k < PyList_GET_SIZE(block); ++k) {
            const Py_ssize_t item = PyLong_AsSsize_t(PyList_GET_ITEM(block, k));
            if (item < 0 || item >= PyList_GET_SIZE(names)) return false;
            if (k > 0) line += ' ';
            const char* name = PyUnicode_AsUTF8(PyList_GET_ITEM(names, item));
            if (name == nullptr) return false;
            line += name;
            if (!colors.append(b, PyList_GET_ITEM(block, k), line)) return false;
        }
    }
    line += '\n';
    return true;
}

bool print_all(PyObject* module, PyObject* problem) {
    PyObject* blocks = PyTuple_GET_ITEM(problem, 0);
    PyObject* secondary = PyTuple_GET_ITEM(problem, 1);
    PyObject* names = PyTuple_GET_ITEM(problem, 2);
    ProblemColors colors;
    if (!colors.read(problem)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "malformed colors");
        return false;
    }
    Ref none = own(PyTuple_New(0));
    if (!none) return false;
    Ref iterator = own(PyObject_CallMethod(module, "iter_all", "OOOOO", blocks, none.get(), secondary,
                                           Py_None, colors.colors.get()));
    if (!iterator) return false;
    std::string line;
    while (Ref cover = own(PyIter_Next(iterator.get()))) {
        if (!PyList_Check(cover.get()) || !cover_line(cover.get(), blocks, names, colors, line)) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "malformed cover");
            return false;
        }
        if (!write("stdout", line)) return false;
    }
    return !PyErr_Occurred();
}

bool print_count(PyObject* module, PyObject* problem) {
    Ref none = own(PyTuple_New(0));
    Ref colors = own(PyObject_GetAttrString(problem, "colors"));
    if (!none || !colors) return false;
    Ref count = own(PyObject_CallMethod(module, "count_all", "OOOO", PyTuple_GET_ITEM(problem, 0),
                                        none.get(), PyTuple_GET_ITEM(problem, 1), colors.get()));
    if (!count) return false;
    Ref text = own(PyObject_Str(count.get()));
    if (!text) return false;
    const char* digits = PyUnicode_AsUTF8(text.get());
    return digits != nullptr && write("stdout", std::string(digits) + "\n");
}

// The pending exception's message, and clears it.
std::string take_message() {
    Ref error = own(PyErr_GetRaisedException());
    Ref text = own(error ? PyObject_Str(error.get()) : nullptr);
    const char* message = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (message == nullptr) {
        PyErr_Clear();
        return "unreadable error";
    }
    return message;
}

}  // namespace

PyObject* run_command_line(Call&, PyObject* module, PyObject* argv) {
    std::vector<std::string> args;
    if (!read_arguments(argv, args)) return nullptr;
    const Options options = parse_options(args);
    if (!options.error.empty())
        return write("stderr", std::string(kUsage) + "xcover: error: " + options.error + "\n")
                   ? status(Status::Usage) : nullptr;
    if (options.help) return write("stdout", std::string(kUsage) + kHelp) ? status(Status::Ok) : nullptr;

    Ref problem = own(read_problem(module, options.path));
    if (problem && !(options.all ? print_all(module, problem.get()) : print_count(module, problem.get())))
        problem.reset();
    if (problem) return status(Status::Ok);
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
        PyErr_Clear();
        return write("stderr", "xcover: interrupted\n") ? status(Status::Interrupted) : nullptr;
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_OSError))
        return nullptr;  // not the input's fault: the caller sees the exception
    const std::string where = options.path == "-" ? "<stdin>" : options.path;
    const std::string message = take_message();
    return write("stderr", "xcover: " + where + ": " + message + "\n") ? status(Status::BadInput)
                                                                       : nullptr;
}

}  // namespace xcover::py
