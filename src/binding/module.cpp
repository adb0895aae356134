// The module `ferolin`: multi-phase initialisation whose one execution slot
// creates the module state, adds the seven functions and builds __all__.
#include "binding/common/args.h"
#include "binding/common/module_state.h"
#include "binding/common/py_ref.h"
#include "binding/functions.h"

namespace ferolin::binding {
namespace {

// The module's functions in the order they are added (and listed in __all__).
// Each docstring's first line is the text signature.
PyMethodDef kFunctions[] = {
    {"compute_curve", fastcall<compute_curve>(), kFastcallFlags,
     "compute_curve(csv_path, score)\n--\n\nCompute the risk-coverage curve from a labeled "
     "candidates CSV.\nReturns a list of dicts: threshold, accepted, total, coverage, errors, "
     "risk."},
    {"aurc", fastcall<aurc>(), kFastcallFlags,
     "aurc(curve)\n--\n\nCompute AURC for a risk-coverage curve (list of dicts from "
     "compute_curve)."},
    {"eaurc", fastcall<eaurc>(), kFastcallFlags,
     "eaurc(curve)\n--\n\nCompute E-AURC for a risk-coverage curve."},
    {"calibrate", fastcall<calibrate>(), kFastcallFlags,
     "calibrate(csv_path, score, error_rate, method=\"empirical\", confidence_level=None)\n--\n\n"
     "Calibrate a trust threshold and return a policy dict."},
    {"apply_policy", fastcall<apply_policy>(), kFastcallFlags,
     "apply_policy(csv_path, policy_dict)\n--\n\nApply a policy dict to a candidates CSV. "
     "Returns a list of decision dicts."},
    {"load_policy", fastcall<load_policy>(), kFastcallFlags,
     "load_policy(path)\n--\n\nLoad a policy JSON file. Returns a policy dict."},
    {"save_policy", fastcall<save_policy>(), kFastcallFlags,
     "save_policy(path, policy_dict)\n--\n\nSave a policy dict to a JSON file."},
};

// Appends the function's name to __all__ (creating the list on first use),
// then sets the function as the module attribute of that name.
int add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) {
  PyRef function = PyRef::steal(PyCMethod_New(definition, module, module_name, nullptr));
  if (!function) return -1;
  PyRef name = PyRef::steal(PyUnicode_FromString(definition->ml_name));
  PyRef all_name = PyRef::steal(PyUnicode_FromString("__all__"));
  if (!name || !all_name) return -1;
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name.get(), all.get()) < 0) return -1;
  }
  if (PyList_Append(all.get(), name.get()) < 0) return -1;
  return PyObject_SetAttr(module, name.get(), function.get());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "ferolin's execution slot needs a module object");
    return -1;
  }
  // Created before the functions, so that none runs without it.
  if (init_module_state(module, "ferolin.InternalError") < 0) return -1;
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  for (PyMethodDef& definition : kFunctions) {
    if (add_function(module, module_name.get(), &definition) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "ferolin",  // m_name
    "",         // m_doc: the empty string, not a missing docstring
    sizeof(ModuleState),
    nullptr,  // m_methods: the execution slot adds the functions
    kSlots,
    traverse_module_state,
    clear_module_state,
    free_module_state,
};

}  // namespace
}  // namespace ferolin::binding

PyMODINIT_FUNC PyInit_ferolin(void) { return PyModuleDef_Init(&ferolin::binding::kModule); }
