#include "binding/native/read_outcome.h"

#include <utility>

#include "binding/common/dict_builder.h"
#include "binding/native/pass_access.h"
#include "binding/native/records.h"
#include "core/argument_names.h"

namespace ferolin::binding::native {
namespace {

PyRef none() { return PyRef::borrow(Py_None); }

PyRef score_names(const std::vector<ScoringMethod>& methods) {
  std::vector<std::string_view> names;
  for (const ScoringMethod method : methods) names.push_back(argument_name(method));
  return text_list(names);
}

}  // namespace

PyObject* read_outcome(PyObject* module, ReadReport report) {
  return make_record(module, kReadOutcome,
                     {std::move(report.pass), text_list(report.header),
                      PyRef::borrow(report.compressed ? Py_True : Py_False),
                      report.sha256 ? text(*report.sha256) : none(),
                      unsigned_value(report.file_bytes),
                      report.scores ? score_names(*report.scores) : none()})
      .release();
}

}  // namespace ferolin::binding::native
