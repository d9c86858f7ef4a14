// The module functions, in the fast-call-with-keywords convention.
#pragma once

#include "python_ref.hpp"

namespace xcover::py {

PyObject* get_all_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_top_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_topn_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_topp_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_topn_sc_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* count_all_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* iter_all_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* split_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* iter_top_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* iter_top_sc_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* blocks_from_matrix_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* read_dlx_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* estimate_all_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* number_blocks_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* main_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_dlx_file_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* set_threads_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* get_threads_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The thread setting from the environment variable XCOVER_THREADS, read and applied once per
// process, when the first interpreter imports the module: a count of threads (above the limit
// of ThreadPool::setting_for: that limit, with a RuntimeWarning), or 0 for one per processor
// the process may use. Anything else leaves the setting as it is, with a RuntimeWarning; an
// empty or absent variable says nothing. False with an exception set when the warning is
// turned into an error.
bool apply_thread_setting_from_environment();

}  // namespace xcover::py
