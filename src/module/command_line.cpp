#include "command_line.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dlx.hpp"
#include "functions.hpp"

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
    "arguments, 130 when interrupted (Ctrl-C), 141 when the output is closed early (as by\n"
    "`| head`), quietly.\n";

// 141 is 128 + SIGPIPE: what a shell reports for `cat` or `seq` ended by a closed pipe.
enum class Status { Ok = 0, BadInput = 1, Usage = 2, Interrupted = 130, OutputClosed = 141 };

// Writes `text` to sys.stdout or sys.stderr; false with an exception set.
bool write(const char* stream, const std::string& text) {
    PyObject* file = PySys_GetObject(stream);  // borrowed
    if (file == nullptr || file == Py_None) return true;  // no stream: nothing to show
    return PyFile_WriteString(text.c_str(), file) == 0;
}

PyObject* status(Status s) { return PyLong_FromLong(static_cast<long>(s)); }

// Flushes sys.stdout, so that a closed output is seen here rather than at exit; false with
// an exception set.
bool flush_stdout() {
    PyObject* file = PySys_GetObject("stdout");  // borrowed
    if (file == nullptr || file == Py_None) return true;
    Ref done = own(PyObject_CallMethod(file, "flush", nullptr));
    return static_cast<bool>(done);
}

// Points sys.stdout's descriptor at the null device, as Python's documentation advises for
// a closed pipe: what stays in its buffer is then dropped at exit without a second error.
void silence_stdout() {
    PyObject* file = PySys_GetObject("stdout");  // borrowed
    const int fd = file == nullptr || file == Py_None ? -1 : PyObject_AsFileDescriptor(file);
    if (fd < 0) {
        PyErr_Clear();  // no descriptor (a StringIO): nothing will be written to a closed pipe
        return;
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    ::dup2(null, fd);
    ::close(null);
}

struct Options {
    bool all = false;
    bool count = false;
    bool help = false;
    std::string path;
    std::string error;  // a usage error, or empty
};

Options parse_options(const std::vector<std::string>& args) {
    Options options;
    bool have_path = false;
    for (const std::string& arg : args) {
        if (arg == "--count") {
            options.count = true;
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
    if (options.error.empty() && options.all && options.count)
        options.error = "--count and --all exclude each other";
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

// The problem read from the path or standard input (its binary buffer when it has one), a
// piece at a time: a new DlxProblem, or nullptr.
PyObject* read_problem(Call& call, const std::string& path) {
    if (path != "-") {
        Ref name = own(PyUnicode_FromStringAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
        return name ? dlx_file_to_python(call, name.get()) : nullptr;
    }
    PyObject* in = PySys_GetObject("stdin");  // borrowed
    if (in == nullptr || in == Py_None) {
        PyErr_SetString(PyExc_OSError, "no standard input");
        return nullptr;
    }
    PyObject* buffer = nullptr;
    if (PyObject_GetOptionalAttrString(in, "buffer", &buffer) < 0) return nullptr;
    Ref binary = own(buffer);
    return dlx_stream_to_python(call, binary ? binary.get() : in);
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

using Entry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// `entry(blocks, secondary=..., colors=...)` for the problem: the module function's entry
// point called directly, never looked up among the module's attributes (which a caller may
// replace), the secondary items and colors passed by their parameters' declared names.
PyObject* call_on_problem(Entry entry, PyObject* module, PyObject* problem, PyObject* colors) {
    Ref kwnames = own(Py_BuildValue("(ss)", kSecondary.name, kColors.name));
    if (!kwnames) return nullptr;
    PyObject* args[] = {PyTuple_GET_ITEM(problem, 0), PyTuple_GET_ITEM(problem, 1), colors};
    return entry(module, args, 1, kwnames.get());
}

bool print_all(PyObject* module, PyObject* problem) {
    PyObject* blocks = PyTuple_GET_ITEM(problem, 0);
    PyObject* names = PyTuple_GET_ITEM(problem, 2);
    ProblemColors colors;
    if (!colors.read(problem)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "malformed colors");
        return false;
    }
    Ref iterator = own(call_on_problem(iter_all_entry, module, problem, colors.colors.get()));
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
    Ref colors = own(PyObject_GetAttrString(problem, "colors"));
    if (!colors) return false;
    Ref count = own(call_on_problem(count_all_entry, module, problem, colors.get()));
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

PyObject* run_command_line(Call& call, PyObject* module, PyObject* argv) {
    std::vector<std::string> args;
    if (!read_arguments(argv, args)) return nullptr;
    const Options options = parse_options(args);
    if (!options.error.empty())
        return write("stderr", std::string(kUsage) + "xcover: error: " + options.error + "\n")
                   ? status(Status::Usage) : nullptr;
    bool done = false;
    if (options.help) {
        done = write("stdout", std::string(kUsage) + kHelp) && flush_stdout();
    } else if (Ref problem = own(read_problem(call, options.path))) {
        done = (options.all ? print_all(module, problem.get()) : print_count(module, problem.get())) &&
               flush_stdout();
    }
    if (done) return status(Status::Ok);
    if (PyErr_ExceptionMatches(PyExc_BrokenPipeError)) {  // the reader has gone: end quietly
        PyErr_Clear();
        silence_stdout();
        return status(Status::OutputClosed);
    }
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) {
        PyErr_Clear();
        return write("stderr", "xcover: interrupted\n") ? status(Status::Interrupted) : nullptr;
    }
    const bool out_of_memory = PyErr_ExceptionMatches(PyExc_MemoryError);
    if (!out_of_memory && !PyErr_ExceptionMatches(PyExc_ValueError) &&
        !PyErr_ExceptionMatches(PyExc_OSError))
        return nullptr;  // not the input's fault: the caller sees the exception
    const std::string where = options.path == "-" ? "<stdin>" : options.path;
    std::string message = take_message();
    if (out_of_memory) message = "out of memory" + (message.empty() ? "" : " (" + message + ")");
    return write("stderr", "xcover: " + where + ": " + message + "\n") ? status(Status::BadInput)
                                                                       : nullptr;
}

}  // namespace xcover::py
