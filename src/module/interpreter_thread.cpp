#include "interpreter_thread.hpp"

namespace xcover::py {

std::optional<bool> on_main_thread() {
    // Bytecode would let the interpreter run a pending signal handler here, and its exception
    // would be lost: only C functions are called.
    Ref name = own(PyUnicode_FromString("_thread"));
    Ref module = name ? own(PyImport_GetModule(name.get())) : nullptr;
    Ref get_ident = module ? own(PyObject_GetAttrString(module.get(), "_get_main_thread_ident"))
                           : nullptr;
    Ref ident = get_ident && PyCFunction_Check(get_ident.get())
                    ? own(PyObject_CallNoArgs(get_ident.get()))
                    : nullptr;
    const unsigned long value = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (ident == nullptr || PyErr_Occurred()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return value == PyThread_get_thread_ident();
}

// Runs the handlers and nothing else: no Python code of ours, no allocation, no collection.
// PyErr_CheckSignals runs a scheduled garbage collection first, and evaluating code would
// collect after the handlers; either way a finalizer or weakref callback executes Python code
// inside the check, and a signal that arrives meanwhile has its handler run there, where the
// interpreter discards the KeyboardInterrupt with the finalizer's other errors ("Exception
// ignored in ..."): the signal is lost. Py_MakePendingCalls handles the pending signals and
// the calls queued with Py_AddPendingCall (on the main thread only, returning 0 elsewhere),
// and leaves the collection to the interpreter's next bytecode after the call returns.
bool signal_handler_raised() { return Py_MakePendingCalls() != 0; }

}  // namespace xcover::py
