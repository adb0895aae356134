// The probability check of a pass: what the read found wrong with the
// probability column, for the warnings of the methods that read it.
#include <array>

#include "binding/native/pass_access.h"
#include "binding/native/records.h"

namespace ferolin::binding::native {
namespace {

PyObject* probability_check(PyObject* module, QueryPassResult& pass, BoundArguments&) {
  const std::optional<pipeline::ProbabilityCounts>& counts = pass.table.probabilities;
  if (!counts) return PyRef::borrow(Py_None).release();
  return make_record(module, kProbabilityCheck,
                     {unsigned_value(counts->outside_unit_interval),
                      unsigned_value(counts->queries_above_one)})
      .release();
}

constexpr std::array<const char*, 0> kNoParameters = {};

}  // namespace

const PassMethod kProbabilityCheckMethod{
    {"probability_check", kNoParameters, 0}, PassKinds::TableOnly, probability_check,
    "probability_check($self)\n--\n\nNone, or for a pass whose methods read probabilities: "
    "outside (rows outside [0, 1]) and above_one (queries whose probabilities sum above 1 by "
    "more than rounding)."};

}  // namespace ferolin::binding::native
