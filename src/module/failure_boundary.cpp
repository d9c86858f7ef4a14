#include "failure_boundary.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>

namespace xcover::py {

namespace {

constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when native code called from Python fails an internal check.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// The stderr lines below (this one, the internal-check report and the resumed-panic header)
// are read by callers' log scrapers: keep their text and order exactly.
[[noreturn]] void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

// Two lines, exact format: callers parse "thread N failed an internal check at F:L:C:".
void report_internal_failure(const InternalFailure& failure) {
    const auto& where = failure.where();
    std::fprintf(stderr, "thread %lu failed an internal check at %s:%u:%u:\n%s\n",
                 PyThread_get_thread_ident(), where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 failure.what());
    std::fflush(stderr);
}

// Prints a resumed panic with its traceback through sys.excepthook. On the main thread
// that is PyErr_PrintEx, where a hook raising SystemExit exits the process. On any other
// thread the hook is called the way threads call it: a SystemExit it raises is ignored,
// because ending the interpreter from a non-main thread in the middle of a module call
// crashes it; any other error of the hook is reported with the original exception.
void print_resumed_panic(Ref exception) {
    if (on_main_thread().value_or(false)) {
        PyErr_SetRaisedException(exception.release());
        PyErr_PrintEx(0);
        return;
    }
    PyObject* hook = PySys_GetObject("excepthook");  // borrowed
    if (hook == nullptr || hook == Py_None) {
        PyErr_DisplayException(exception.get());
        return;
    }
    Ref traceback = own(PyException_GetTraceback(exception.get()));
    Ref result = own(PyObject_CallFunctionObjArgs(hook, reinterpret_cast<PyObject*>(Py_TYPE(exception.get())),
                                                  exception.get(),
                                                  traceback ? traceback.get() : Py_None, nullptr));
    if (result) return;
    Ref hook_error = own(PyErr_GetRaisedException());
    if (PyErr_GivenExceptionMatches(hook_error.get(), PyExc_SystemExit)) return;
    PySys_WriteStderr("Error in sys.excepthook:\n");
    PyErr_DisplayException(hook_error.get());
    PySys_WriteStderr("\nOriginal exception was:\n");
    PyErr_DisplayException(exception.get());
}

}  // namespace

std::optional<std::string> exception_text(PyObject* exception) {
    Ref text = own(PyObject_Str(exception));
    if (!text) return std::nullopt;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::string take_exception_text(const char* fallback) {
    Ref error = own(PyErr_GetRaisedException());
    std::optional<std::string> text = error ? exception_text(error.get()) : std::nullopt;
    PyErr_Clear();
    return text ? *text : fallback;
}

PyObject* panic_exception_type(ModuleState& state) {
    return state.panic_type.get([] {
        // The qualified name "pyo3_runtime.PanicException" and the base BaseException are
        // deliberate: callers catch and compare by them. Do not rename or rebase.
        return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                         PyExc_BaseException, nullptr);
    });
}

void raise_internal_failure(ModuleState& state, const std::string& message) {
    PyObject* type = panic_exception_type(state);
    if (type == nullptr) return;  // the interpreter's reason is pending instead
    Ref text = own(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                        "replace"));
    if (!text) return;
    PyErr_SetObject(type, text.get());
}

Ref fetch_python_error(ModuleState& state) {
    Ref exception = own(PyErr_GetRaisedException());
    if (!exception) return nullptr;
    PyObject* panic = panic_exception_type(state);
    if (panic == nullptr) {
        // Keep the original error; the type that would classify it cannot exist.
        PyErr_Clear();
        return exception;
    }
    if (Py_TYPE(exception.get()) != reinterpret_cast<PyTypeObject*>(panic)) return exception;

    std::optional<std::string> text = exception_text(exception.get());
    if (!text) {
        PyErr_Clear();
        // A fixed text, matched by callers: the message of a panic whose own is unreadable.
        text = "Unwrapped panic from Python code";
    }
    // Exact header text and order (header, then the Python traceback): callers parse it.
    std::fputs("--- PanicException from Python code: resuming the panic ---\n"
               "Python stack trace below:\n",
               stderr);
    print_resumed_panic(std::move(exception));
    throw InternalFailure(*text);
}

bool discard_optional_error(ModuleState& state) {
    Ref error = fetch_python_error(state);
    if (error && (PyErr_GivenExceptionMatches(error.get(), PyExc_KeyboardInterrupt) ||
                  PyErr_GivenExceptionMatches(error.get(), PyExc_SystemExit))) {
        PyErr_SetRaisedException(error.release());
        return false;
    }
    return true;
}

namespace {

// Turns the exception being handled into a pending Python exception. Call only from a catch
// block, never for a forced unwind.
XCOVER_CATCHES_FORCED_UNWIND void set_error_from_current_exception(ModuleState& state) {
    try {
        try {
            throw;
        } catch (const InternalFailure& failure) {
            report_internal_failure(failure);
            raise_internal_failure(state, failure.what());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::length_error&) {
            // A container asked for more than it can hold: memory, not a logic error.
            PyErr_NoMemory();
        } catch (const std::exception& other) {
            raise_internal_failure(state, other.what());
        } catch (...) {
            raise_internal_failure(state, "unknown internal failure");
        }
    } catch (const abi::__forced_unwind&) {
        throw;  // the interpreter ended the thread while the error was being raised
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace

// The one exception let through is the forced unwind by which the interpreter ends a thread
// (pthread_exit) that tries to re-attach while the interpreter finalizes: the thread has no
// thread state then, so nothing here may touch the interpreter, and a forced unwind that is
// not rethrown aborts the process.
XCOVER_CATCHES_FORCED_UNWIND PyObject* guarded_call(ModuleState& state,
                                                    PyObject* (*call)(void* body), void* body) {
    try {
        prepare_thread_for_exceptions();
        return call(body);
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        set_error_from_current_exception(state);
        return nullptr;
    }
}

}  // namespace xcover::py
