// The functions of the private module ferolin_tools._native, in the
// METH_FASTCALL | METH_KEYWORDS form.
#pragma once

#include "binding/common/py_ref.h"

namespace ferolin::binding::native {

PyObject* run_pass(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* run_arrow_pass(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames);
PyObject* wilson_upper_bound(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames);
PyObject* wilson_interval(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames);
PyObject* read_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames);
PyObject* write_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames);
PyObject* policy_text(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames);
PyObject* supported_confidence_level(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames);
PyObject* read_score_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames);
PyObject* merge_packed(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames);
PyObject* output_open(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames);
PyObject* output_write(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames);
PyObject* output_commit(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames);
PyObject* output_abandon(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames);

}  // namespace ferolin::binding::native
