#include "core/arrow/arrow_stream_pass.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "core/arrow/arrow_column.h"
#include "core/table/candidate_columns.h"

namespace ferolin::arrow {
namespace {

// The stream, the schema and each batch are released once, by their owner.
class OwnedStream {
 public:
  explicit OwnedStream(ArrowArrayStream* source) : stream_(*source) { source->release = nullptr; }
  ~OwnedStream() {
    if (stream_.release != nullptr) stream_.release(&stream_);
  }
  OwnedStream(const OwnedStream&) = delete;
  OwnedStream& operator=(const OwnedStream&) = delete;
  ArrowArrayStream* get() { return &stream_; }

 private:
  ArrowArrayStream stream_;
};

template <typename Struct>
class Owned {
 public:
  Owned() { value_.release = nullptr; }
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  void reset() {
    if (value_.release != nullptr) value_.release(&value_);
    value_.release = nullptr;
  }
  Struct* get() { return &value_; }
  Struct& operator*() { return value_; }
  [[nodiscard]] bool released() const { return value_.release == nullptr; }

 private:
  Struct value_{};
};

FerolinError stream_error(ArrowArrayStream* stream, int code, std::string_view doing) {
  const char* text = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
  return FerolinError::invalid_argument(
      "Arrow stream error: " + std::string(doing) + ": " +
      (text != nullptr && *text != '\0' ? std::string(text) : os_error_text(code)));
}

// A column the pass reads: its field in the batches and how it reads it.
struct UsedColumn {
  std::size_t field = 0;
  std::string name;
  std::string type_name;  // the Arrow type, as errors name it
  ColumnType type;
};

// The columns the pass reads, from the table's column plan, each read the
// way the CSV path reads it.
struct Columns {
  UsedColumn query;
  UsedColumn candidate;
  UsedColumn rank;
  UsedColumn score;
  std::optional<UsedColumn> probability;
  std::optional<UsedColumn> label;
  std::optional<UsedColumn> group;
  std::optional<UsedColumn> confidence;  // the own-confidence column
  std::optional<table::Column> duplicate;
};

Result<UsedColumn> used(const ArrowSchema& schema, std::size_t field, ColumnUse use) {
  const ArrowSchema& child = *schema.children[field];
  std::string name = child.name != nullptr ? child.name : "";
  Result<ColumnType> type = column_type(child, use, name);
  if (!type) return std::unexpected(std::move(type.error()));
  return UsedColumn{field, std::move(name), arrow_type_name(child), *type};
}

Result<Columns> plan(const ArrowSchema& schema, const table::TableOptions& options,
                     std::vector<std::string>& header) {
  if (schema.format == nullptr || std::string_view(schema.format) != "+s") {
    return std::unexpected(FerolinError::invalid_argument(
        "Arrow stream error: the stream's batches are " + arrow_type_name(schema) +
        ", not a struct of columns (a table)"));
  }
  header.clear();
  for (std::int64_t i = 0; i < schema.n_children; ++i) {
    const char* name = schema.children[i]->name;
    header.emplace_back(name != nullptr ? name : "");
  }
  const std::vector<std::string_view> names(header.begin(), header.end());
  Result<table::ColumnPlan> planned =
      table::plan_columns(names, options.header_names, options.group_column,
                          options.confidence_column);
  if (!planned) return std::unexpected(std::move(planned.error()));
  Columns columns;
  columns.duplicate = planned->duplicate;
  // Types are checked in field order, so that the error names the leftmost column.
  for (const table::KnownField& known : planned->known) {
    std::optional<ColumnUse> use;
    switch (known.column) {
      case table::Column::QueryId:
      case table::Column::CandidateId:
        use = ColumnUse::Text;
        break;
      case table::Column::Rank:
        use = ColumnUse::Rank;
        break;
      case table::Column::Score:
      case table::Column::Probability:
        use = ColumnUse::Number;
        break;
      case table::Column::IsCorrect:
        use = ColumnUse::Label;
        break;
      default:
        break;  // details (smiles, inchikey, ...) are not read
    }
    if (!use) continue;
    Result<UsedColumn> column = used(schema, known.field, *use);
    if (!column) return std::unexpected(std::move(column.error()));
    switch (known.column) {
      case table::Column::QueryId:
        columns.query = std::move(*column);
        break;
      case table::Column::CandidateId:
        columns.candidate = std::move(*column);
        break;
      case table::Column::Rank:
        columns.rank = std::move(*column);
        break;
      case table::Column::Score:
        columns.score = std::move(*column);
        break;
      case table::Column::Probability:
        columns.probability = std::move(*column);
        break;
      default:
        columns.label = std::move(*column);
        break;
    }
  }
  if (planned->group_field) {
    Result<UsedColumn> column = used(schema, *planned->group_field, ColumnUse::Text);
    if (!column) return std::unexpected(std::move(column.error()));
    columns.group = std::move(*column);
  }
  if (planned->confidence_field) {
    Result<UsedColumn> column = used(schema, *planned->confidence_field, ColumnUse::Confidence);
    if (!column) return std::unexpected(std::move(column.error()));
    columns.confidence = std::move(*column);
  }
  return columns;
}

// One row as QuerySummaries::add() reads it; the score and the probability
// are read only when a summary keeps them.
struct Candidate {
  std::uint64_t rank = 0;
  std::optional<bool> is_correct;
  std::string_view candidate_id;
  std::optional<std::string_view> group;
  const ColumnView* score = nullptr;
  const ColumnView* probability = nullptr;
  const ColumnView* confidence = nullptr;  // the own-confidence column, if read
  std::int64_t row = 0;

  [[nodiscard]] double score_value() const { return *score->number(row); }
  [[nodiscard]] std::optional<double> probability_value() const {
    return probability != nullptr ? probability->number(row) : std::nullopt;
  }
  // The own-confidence cell as the CSV path keeps it (absent when empty),
  // written out only for a row that becomes its query's top.
  [[nodiscard]] std::optional<std::string_view> confidence_cell() const {
    if (confidence == nullptr) return std::nullopt;
    const std::string_view cell = confidence->text(row);
    return cell.empty() ? std::nullopt : std::optional(cell);
  }
};

FerolinError cell_error(std::uint64_t row, const UsedColumn& column, const ColumnView& view,
                        std::int64_t at, CellProblem problem) {
  std::string what;
  switch (problem) {
    case CellProblem::Null:
      what = "is null; every row needs one";
      break;
    case CellProblem::Negative:
      what = "holds " + view.value_text(at) + "; a rank is a whole number of at least 0";
      break;
    case CellProblem::NotALabel: {
      const std::string_view text = view.text(at);
      const bool integer = column.type.storage != Storage::Dictionary &&
                           column.type.storage != Storage::Utf8 &&
                           column.type.storage != Storage::LargeUtf8 &&
                           column.type.storage != Storage::Utf8View;
      what = integer ? "holds " + view.value_text(at) + "; an integer label is 0 or 1"
                     : "holds '" + std::string(text) +
                           "'; a label is true or false (in any case) or 1 or 0";
      break;
    }
  }
  return FerolinError::invalid_argument("Arrow table error: row " + std::to_string(row) +
                                        ", column '" + column.name + "' (" +
                                        column.type_name + ") " + what);
}

// The columns of one batch.
struct BatchViews {
  BatchViews(const Columns& columns, const ArrowArray& batch)
      : query(view(columns.query, batch)),
        candidate(view(columns.candidate, batch)),
        rank(view(columns.rank, batch)),
        score(view(columns.score, batch)) {
    if (columns.probability) probability.emplace(view(*columns.probability, batch));
    if (columns.label) label.emplace(view(*columns.label, batch));
    if (columns.group) group.emplace(view(*columns.group, batch));
    if (columns.confidence) confidence.emplace(view(*columns.confidence, batch));
  }

  static ColumnView view(const UsedColumn& column, const ArrowArray& batch) {
    return {column.type, *batch.children[column.field], batch.offset};
  }

  ColumnView query;
  ColumnView candidate;
  ColumnView rank;
  ColumnView score;
  std::optional<ColumnView> probability;
  std::optional<ColumnView> label;
  std::optional<ColumnView> group;
  std::optional<ColumnView> confidence;
};

// Checks that a batch holds the schema's columns, each as long as the batch.
std::optional<FerolinError> check_batch(const ArrowArray& batch, const ArrowSchema& schema) {
  bool fits = batch.n_children == schema.n_children && batch.length >= 0;
  for (std::int64_t i = 0; fits && i < batch.n_children; ++i) {
    fits = batch.children[i] != nullptr && batch.children[i]->length >= batch.length;
  }
  if (fits) return std::nullopt;
  return FerolinError::invalid_argument(
      "Arrow stream error: a record batch does not match the stream's schema");
}

// Adds the rows of one batch, and their probabilities to `check` where
// given; `first_row` is the 1-based number of its first row.
std::optional<FerolinError> add_batch(const Columns& columns, const ArrowArray& batch,
                                      std::uint64_t first_row, table::LabelSpelling labels,
                                      scoring::QuerySummaries& summaries,
                                      pipeline::ProbabilityCheck* check) {
  const BatchViews views(columns, batch);
  Candidate candidate;
  candidate.score = &views.score;
  candidate.probability = views.probability ? &*views.probability : nullptr;
  candidate.confidence = views.confidence ? &*views.confidence : nullptr;
  for (std::int64_t row = 0; row < batch.length; ++row) {
    // Cells are checked in field order: the error names the leftmost.
    const auto rank = views.rank.rank(row);
    const bool score_null = views.score.is_null(row);
    std::expected<std::optional<bool>, CellProblem> label = std::optional<bool>();
    if (views.label) label = views.label->label(row, labels);
    if (!rank || score_null || !label) [[unlikely]] {
      struct Failure {
        const UsedColumn* column;
        const ColumnView* view;
        CellProblem problem;
      };
      std::vector<Failure> failures;
      if (!rank) failures.push_back({&columns.rank, &views.rank, rank.error()});
      if (score_null) failures.push_back({&columns.score, &views.score, CellProblem::Null});
      if (!label) failures.push_back({&*columns.label, &*views.label, label.error()});
      const Failure& first = *std::min_element(
          failures.begin(), failures.end(),
          [](const Failure& a, const Failure& b) { return a.column->field < b.column->field; });
      return cell_error(first_row + static_cast<std::uint64_t>(row), *first.column, *first.view,
                        row, first.problem);
    }
    if (columns.duplicate) [[unlikely]] {
      return FerolinError::invalid_argument(
          "Arrow table error: row " + std::to_string(first_row + static_cast<std::uint64_t>(row)) +
          ": the column '" + std::string(table::column_name(*columns.duplicate)) +
          "' is named twice");
    }
    candidate.rank = *rank;
    candidate.is_correct = *label;
    candidate.row = row;
    candidate.candidate_id = views.candidate.text(row);
    if (views.group) {
      const std::string_view group = views.group->text(row);
      candidate.group = group.empty() ? std::nullopt : std::optional(group);
    }
    const std::size_t query = summaries.add(views.query.text(row), candidate);
    if (check != nullptr) check->add(query, candidate.probability_value());
  }
  return std::nullopt;
}

// Rows between two check-ins with the monitor (which counts a header row).
constexpr std::uint64_t kRowsPerCheck = std::uint64_t{1} << 18;

}  // namespace

Result<pipeline::TableSummaries> summarize_arrow_stream(ArrowArrayStream* source,
                                                        const table::TableOptions& options,
                                                        const scoring::SummaryNeeds& needs,
                                                        scoring::TopIds ids,
                                                        std::vector<std::string>& header) {
  OwnedStream stream(source);
  Owned<ArrowSchema> schema;
  if (const int code = stream.get()->get_schema(stream.get(), schema.get()); code != 0) {
    return std::unexpected(stream_error(stream.get(), code, "reading the schema"));
  }
  Result<Columns> columns = plan(*schema, options, header);
  if (!columns) return std::unexpected(std::move(columns.error()));
  pipeline::TableSummaries table{scoring::QuerySummaries(needs, ids)};
  // The probabilities are checked as the CSV path checks them, for the
  // methods that read them.
  std::optional<pipeline::ProbabilityCheck> check;
  if (needs.probabilities || needs.entropy) check.emplace();
  std::uint64_t checked = 0;
  while (true) {
    Owned<ArrowArray> batch;
    if (const int code = stream.get()->get_next(stream.get(), batch.get()); code != 0) {
      return std::unexpected(stream_error(stream.get(), code, "reading a record batch"));
    }
    if (batch.released()) break;  // the end of the stream
    if (auto error = check_batch(*batch, *schema)) return std::unexpected(std::move(*error));
    if (auto error = add_batch(*columns, *batch, table.rows + 1, options.labels, table.summaries,
                               check ? &*check : nullptr)) {
      return std::unexpected(std::move(*error));
    }
    table.rows += static_cast<std::uint64_t>((*batch).length);
    if (options.monitor.check && table.rows - checked >= kRowsPerCheck) {
      checked = table.rows;
      if (Result<void> go_on = options.monitor.check({0, table.rows + 1}); !go_on) {
        return std::unexpected(std::move(go_on.error()));
      }
    }
  }
  if (options.monitor.check) {
    if (Result<void> go_on = options.monitor.check({0, table.rows + 1}); !go_on) {
      return std::unexpected(std::move(go_on.error()));
    }
  }
  if (check) table.probabilities = check->counts();
  return table;
}

Result<pipeline::QueryTable> run_arrow_query_pass(ArrowArrayStream* stream,
                                                  const pipeline::PassRequest& request,
                                                  std::vector<std::string>& header) {
  return pipeline::run_query_pass(
      [&](const scoring::SummaryNeeds& needs, scoring::TopIds ids) {
        return summarize_arrow_stream(stream, request.table, needs, ids, header);
      },
      request);
}

}  // namespace ferolin::arrow
