// The seven module functions, in the METH_FASTCALL | METH_KEYWORDS form.
// Each binds and converts its arguments, calls an _impl with C++ values and
// converts the result.
#pragma once

#include "binding/common/py_ref.h"

namespace ferolin::binding {

PyObject* compute_curve(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames);
PyObject* aurc(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* eaurc(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* calibrate(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* apply_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames);
PyObject* load_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames);
PyObject* save_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames);

}  // namespace ferolin::binding
