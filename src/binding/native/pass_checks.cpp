// pass_probability_check(query_pass): what the read found wrong with the
// probability column, for the warnings of the methods that read it.
#include <array>

#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"

namespace ferolin::binding::native {

PyObject* pass_probability_check(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* kwnames) {
  static constexpr std::array<const char*, 1> kParameters = {"query_pass"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    QueryPassResult* pass =
        bound_pass({"pass_probability_check", kParameters, 1}, args, nargsf, kwnames, bound);
    if (pass == nullptr) return nullptr;
    const std::optional<pipeline::ProbabilityCounts>& counts = pass->table.probabilities;
    if (!counts) return PyRef::borrow(Py_None).release();
    std::optional<DictKeys<2>> keys = DictKeys<2>::make({"outside", "above_one"});
    if (!keys) return nullptr;
    return build_dict(*keys, {unsigned_value(counts->outside_unit_interval),
                              unsigned_value(counts->queries_above_one)})
        .release();
  });
}

}  // namespace ferolin::binding::native
