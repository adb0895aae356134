#include "binding/native/read_outcome.h"

#include <utility>

#include "binding/common/dict_builder.h"
#include "binding/native/pass_access.h"
#include "binding/native/records.h"
#include "binding/native/table_spelling.h"
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
  const FerolinError* error = report.error;
  return make_record(
             module, kReadOutcome,
             {report.pass ? std::move(report.pass) : none(),
              error != nullptr ? text(error->message()) : none(),
              cell_failure_dict(error != nullptr ? error->cell : std::nullopt),
              text_list(report.header), PyRef::borrow(report.compressed ? Py_True : Py_False),
              report.sha256 ? text(*report.sha256) : none(), unsigned_value(report.file_bytes),
              report.source ? PyRef::steal(PyLong_FromSize_t(*report.source)) : none(),
              report.scores ? score_names(*report.scores) : none()})
      .release();
}

}  // namespace ferolin::binding::native
