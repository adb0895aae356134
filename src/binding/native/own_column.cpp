#include "binding/native/own_column.h"

#include <utility>

#include "core/pipeline/own_confidence.h"

namespace ferolin::binding::native {

void request_own_column(const OwnColumnRequest& own, pipeline::PassRequest& request) {
  if (!own.is_score) request.table.confidence_column = own.column;
}

Result<void> add_own_column(const OwnColumnRequest& own, pipeline::QueryTable& table) {
  std::vector<std::optional<double>> confidences;
  if (own.is_score) {
    confidences = pipeline::top_score_confidences(table.top_scores, own.lower_is_better);
  } else {
    Result<std::vector<std::optional<double>>> read =
        pipeline::own_confidences(table.confidence_cells, own.column, own.lower_is_better,
                                  own.numbers);
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
