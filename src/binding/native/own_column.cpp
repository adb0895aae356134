#include "binding/native/own_column.h"

#include <utility>

#include "binding/common/convert.h"
#include "core/pipeline/own_confidence.h"
#include "core/table/candidate_columns.h"

namespace ferolin::binding::native {

std::optional<std::optional<OwnColumnRequest>> parse_own_column(PyObject* column,
                                                                PyObject* lower_is_better,
                                                                pipeline::PassRequest& request) {
  const int lower = lower_is_better != nullptr ? PyObject_IsTrue(lower_is_better) : 0;
  if (lower < 0) return std::nullopt;
  if (column == nullptr || column == Py_None) return std::optional<OwnColumnRequest>();
  const std::optional<std::string_view> name = text_parameter(column, "confidence_column");
  if (!name) return std::nullopt;
  std::string_view score_header = table::column_name(table::Column::Score);
  for (const table::HeaderName& renamed : request.table.header_names) {
    if (renamed.column == table::Column::Score) score_header = renamed.name;
  }
  OwnColumnRequest own{std::string(*name), lower == 1, *name == score_header, {}};
  // The score column's top values are kept anyway: nothing more to read.
  if (!own.is_score) request.table.confidence_column = own.column;
  return own;
}

Result<void> add_own_column(const std::optional<OwnColumnRequest>& own,
                            pipeline::QueryTable& table) {
  if (!own) return {};
  std::vector<std::optional<double>> confidences;
  if (own->is_score) {
    confidences = pipeline::top_score_confidences(table.top_scores, own->lower_is_better);
  } else {
    Result<std::vector<std::optional<double>>> read =
        pipeline::own_confidences(table.confidence_cells, own->column, own->lower_is_better,
                                  own->numbers);
    if (!read) return std::unexpected(std::move(read.error()));
    confidences = std::move(*read);
    // The cells are not needed once converted.
    table.confidence_cells = {};
  }
  table.methods.push_back(kOwnColumnPlaceholder);
  table.confidences.push_back(std::move(confidences));
  return {};
}

}  // namespace ferolin::binding::native
