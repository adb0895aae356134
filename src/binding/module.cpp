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
     "compute_curve(csv_path, score)\n"
     "--\n"
     "\n"
     "Compute the risk-coverage curve from a labeled candidates CSV.\n"
     "Returns a list of dicts: threshold, accepted, total, coverage, errors, risk.\n"
     "\n"
     "One row per distinct confidence of the labelled queries (those whose top\n"
     "candidate has a label), from the highest threshold down: the queries a\n"
     "threshold accepts, the errors among them and their share (risk). A query\n"
     "the method cannot score counts in total but is never accepted.\n"
     "\n"
     "Args:\n"
     "    csv_path: A candidates table, CSV with a header row and the columns\n"
     "        query_id, candidate_id, rank and score (probability, is_correct and\n"
     "        others optional). A name ending in .parquet is refused.\n"
     "    score: The scoring method: \"max-prob\", \"score-gap\", \"margin\",\n"
     "        \"entropy\", \"score-ratio\", \"topk-gap\", \"effective-k\" or\n"
     "        \"candidate-count\" (or with underscores: \"max_prob\", ...).\n"
     "\n"
     "Returns:\n"
     "    A list of dicts with the keys threshold, accepted, total, coverage,\n"
     "    errors and risk, one per row.\n"
     "\n"
     "Raises:\n"
     "    TypeError: An argument of the wrong type.\n"
     "    ValueError: An unknown score method.\n"
     "    RuntimeError: A table that cannot be read."},
    {"aurc", fastcall<aurc>(), kFastcallFlags,
     "aurc(curve)\n"
     "--\n"
     "\n"
     "Compute AURC for a risk-coverage curve (list of dicts from compute_curve).\n"
     "\n"
     "The area under risk against coverage by the trapezoid rule, starting\n"
     "from (coverage 0, risk 0) and ending at the last row; a missing risk\n"
     "counts as 0. Lower is better.\n"
     "\n"
     "Args:\n"
     "    curve: A list of curve dicts, as compute_curve returns them.\n"
     "\n"
     "Returns:\n"
     "    The area as a float; NaN for an empty curve.\n"
     "\n"
     "Raises:\n"
     "    TypeError: A curve that is not a list of dicts.\n"
     "    KeyError: A dict without one of the six keys."},
    {"eaurc", fastcall<eaurc>(), kFastcallFlags,
     "eaurc(curve)\n"
     "--\n"
     "\n"
     "Compute E-AURC for a risk-coverage curve.\n"
     "\n"
     "AURC minus the area of a perfect confidence on the same labels, in\n"
     "closed form: e + (1 - e) * ln(1 - e), with e the error rate of all\n"
     "labelled queries (the last row).\n"
     "\n"
     "Args:\n"
     "    curve: A list of curve dicts, as compute_curve returns them.\n"
     "\n"
     "Returns:\n"
     "    The excess area as a float; NaN for an empty curve, a curve that does\n"
     "    not reach full coverage (a query without a confidence), or one with\n"
     "    no errors or no correct answers.\n"
     "\n"
     "Raises:\n"
     "    TypeError: A curve that is not a list of dicts.\n"
     "    KeyError: A dict without one of the six keys."},
    {"calibrate", fastcall<calibrate>(), kFastcallFlags,
     "calibrate(csv_path, score, error_rate, method=\"empirical\", confidence_level=None)\n"
     "--\n"
     "\n"
     "Calibrate a trust threshold and return a policy dict.\n"
     "\n"
     "The widest threshold whose curve row passes the method's test wins; when\n"
     "none passes, the threshold is the largest float and the policy rejects\n"
     "every query.\n"
     "\n"
     "Args:\n"
     "    csv_path: A candidates table, as for compute_curve.\n"
     "    score: The scoring method, as for compute_curve.\n"
     "    error_rate: The target error rate among accepted queries, e.g. 0.05.\n"
     "    method: \"empirical\" (observed risk <= error_rate), \"binomial\" (the\n"
     "        Wilson upper bound of the risk at confidence_level <= error_rate)\n"
     "        or \"crc\" (observed risk <= error_rate - 1/(n + 1)).\n"
     "    confidence_level: For \"binomial\": 0.90, 0.95, 0.975 or 0.99.\n"
     "\n"
     "Returns:\n"
     "    A policy dict with the keys version, scoring_method, threshold,\n"
     "    target_error_rate, calibration_method, confidence_level and created_by.\n"
     "\n"
     "Raises:\n"
     "    TypeError: An argument of the wrong type.\n"
     "    ValueError: An unknown method, or binomial without confidence_level.\n"
     "    RuntimeError: A table that cannot be read, or an unsupported\n"
     "        confidence level."},
    {"apply_policy", fastcall<apply_policy>(), kFastcallFlags,
     "apply_policy(csv_path, policy_dict)\n"
     "--\n"
     "\n"
     "Apply a policy dict to a candidates CSV. Returns a list of decision dicts.\n"
     "\n"
     "A query is accepted when its confidence is finite and at least the\n"
     "policy's threshold.\n"
     "\n"
     "Args:\n"
     "    csv_path: A candidates table, as for compute_curve; labels are not read.\n"
     "    policy_dict: A policy as calibrate or load_policy returns it.\n"
     "\n"
     "Returns:\n"
     "    One dict per query, in the order of their ids, with the keys query_id,\n"
     "    candidate_id (the top candidate), confidence (NaN where the method\n"
     "    gives none), accepted, threshold and method.\n"
     "\n"
     "Raises:\n"
     "    TypeError: An argument of the wrong type.\n"
     "    KeyError: A policy without a required key.\n"
     "    RuntimeError: An unknown method in the policy, or a table that cannot\n"
     "        be read."},
    {"load_policy", fastcall<load_policy>(), kFastcallFlags,
     "load_policy(path)\n"
     "--\n"
     "\n"
     "Load a policy JSON file. Returns a policy dict.\n"
     "\n"
     "The file must hold version \"0.1.0\" and the keys scoring_method,\n"
     "threshold, target_error_rate, calibration_method and created_by\n"
     "(confidence_level may be missing); keys it does not know are skipped.\n"
     "\n"
     "Args:\n"
     "    path: The policy file.\n"
     "\n"
     "Returns:\n"
     "    The dict that calibrate returns.\n"
     "\n"
     "Raises:\n"
     "    TypeError: A path that is not a str.\n"
     "    RuntimeError: A file that cannot be read, is not such JSON, or has\n"
     "        another version."},
    {"save_policy", fastcall<save_policy>(), kFastcallFlags,
     "save_policy(path, policy_dict)\n"
     "--\n"
     "\n"
     "Save a policy dict to a JSON file.\n"
     "\n"
     "Writes where open(path, \"w\") would: an ordinary file is replaced whole\n"
     "(written beside it, then renamed over it with its owner and mode), so a\n"
     "failed save never leaves half a policy.\n"
     "\n"
     "Args:\n"
     "    path: Where to write.\n"
     "    policy_dict: A policy as calibrate or load_policy returns it.\n"
     "\n"
     "Returns:\n"
     "    None.\n"
     "\n"
     "Raises:\n"
     "    TypeError: An argument of the wrong type.\n"
     "    KeyError: A policy without a required key.\n"
     "    RuntimeError: An unknown method in the policy, or a file that cannot\n"
     "        be written."},
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
