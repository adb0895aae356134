#include "core/shards/score_table.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "core/argument_names.h"
#include "core/table/cell_parsing.h"
#include "core/table/csv_tokenizer.h"
#include "core/table/table_records.h"

namespace ferolin::shards {

struct ScoreTableReader::State {
  table::TableRecords::ChunkReader read_chunk;
  table::CsvTokenizer tokenizer{'\t'};
  std::vector<std::string> header;
};

namespace {

constexpr double kNoConfidence = std::numeric_limits<double>::quiet_NaN();

// Returns true when a record is ready in the tokenizer, false at the end.
Result<bool> next_record(ScoreTableReader::State& s) {
  while (true) {
    const Result<table::CsvTokenizer::Step> step = s.tokenizer.next();
    if (!step) return std::unexpected(step.error());
    if (*step == table::CsvTokenizer::Step::Record) return true;
    if (*step == table::CsvTokenizer::Step::End) return false;
    const Result<std::string_view> chunk = s.read_chunk();
    if (!chunk) return std::unexpected(chunk.error());
    s.tokenizer.feed(*chunk);
  }
}

// Returns the position of the column `name`: MissingColumn when the header
// lacks it, and an error when it has it twice (which one is meant cannot be
// told).
Result<std::size_t> field_of(const std::vector<std::string>& header, std::string_view name) {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] != name) continue;
    if (found) {
      return std::unexpected(FerolinError::invalid_argument(
          "the header has two columns named '" + std::string(name) + "' (columns " +
          std::to_string(*found + 1) + " and " + std::to_string(i + 1) +
          "): which one to read cannot be told"));
    }
    found = i;
  }
  if (!found) return std::unexpected(FerolinError::missing_column(std::string(name)));
  return *found;
}

// The fields a merge reads, by position in the record.
struct FieldPlan {
  std::size_t query_id = 0;
  std::size_t is_correct = 0;
  std::size_t candidates = 0;
  std::vector<std::size_t> confidences;  // one per method of the merge
};

Result<FieldPlan> plan_fields(const std::vector<std::string>& header,
                              const std::vector<ScoringMethod>& methods) {
  FieldPlan plan;
  for (auto [name, field] : {std::pair<std::string_view, std::size_t*>{"query_id", &plan.query_id},
                             {"is_correct", &plan.is_correct},
                             {"candidates", &plan.candidates}}) {
    const Result<std::size_t> found = field_of(header, name);
    if (!found) return std::unexpected(found.error());
    *field = *found;
  }
  for (const ScoringMethod method : methods) {
    const Result<std::size_t> found = field_of(header, argument_name(method));
    if (!found) return std::unexpected(found.error());
    plan.confidences.push_back(*found);
  }
  return plan;
}

// Converts the current record into `query` (its confidences into `values`),
// in field order so that the first failure is the leftmost one.
std::optional<FerolinError> convert(const table::CsvTokenizer& tokenizer, const FieldPlan& plan,
                                    std::vector<double>& values, ShardQuery& query,
                                    std::uint64_t& candidates) {
  query.query_id = tokenizer.field(plan.query_id);
  const std::string_view label = tokenizer.field(plan.is_correct);
  query.top_is_correct.reset();
  if (!label.empty()) {
    const auto parsed = table::parse_label(label, table::LabelSpelling::Lenient);
    if (!parsed) {
      return table::cell_failure(tokenizer.position(), plan.is_correct, parsed.error(), label);
    }
    query.top_is_correct = *parsed;
  }
  const std::string_view count_cell = tokenizer.field(plan.candidates);
  const auto count = table::parse_rank(count_cell);
  if (!count) {
    return table::cell_failure(tokenizer.position(), plan.candidates, count.error(), count_cell);
  }
  candidates = *count;
  query.single_candidate = candidates == 1;
  for (std::size_t m = 0; m < plan.confidences.size(); ++m) {
    const std::string_view cell = tokenizer.field(plan.confidences[m]);
    values[m] = kNoConfidence;
    if (cell.empty()) continue;
    const auto parsed = table::parse_float(cell);
    if (!parsed)
      return table::cell_failure(tokenizer.position(), plan.confidences[m], parsed.error(), cell);
    values[m] = *parsed;
  }
  return std::nullopt;
}

}  // namespace

Result<ScoreTableReader> ScoreTableReader::open(table::TableRecords::ChunkReader read_chunk) {
  auto state = std::make_unique<State>();
  state->read_chunk = std::move(read_chunk);
  const Result<bool> has_header = next_record(*state);
  if (!has_header) return std::unexpected(has_header.error());
  if (*has_header) {
    for (std::size_t i = 0; i < state->tokenizer.field_count(); ++i) {
      state->header.emplace_back(state->tokenizer.field(i));
    }
  }
  if (Result<FieldPlan> plan = plan_fields(state->header, {}); !plan) {
    return std::unexpected(std::move(plan.error()));
  }
  return ScoreTableReader(std::move(state));
}

ScoreTableReader::ScoreTableReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
ScoreTableReader::ScoreTableReader(ScoreTableReader&&) noexcept = default;
ScoreTableReader& ScoreTableReader::operator=(ScoreTableReader&&) noexcept = default;
ScoreTableReader::~ScoreTableReader() = default;

const std::vector<std::string>& ScoreTableReader::header() const { return state_->header; }

std::vector<ScoringMethod> ScoreTableReader::methods() const {
  std::vector<ScoringMethod> methods;
  for (const std::string& name : state_->header) {
    const std::optional<ScoringMethod> method = scoring_method_from_argument(name);
    if (method && name == argument_name(*method) &&
        std::find(methods.begin(), methods.end(), *method) == methods.end()) {
      methods.push_back(*method);
    }
  }
  return methods;
}

Result<void> ScoreTableReader::read_into(ShardMerge& merge) {
  State& s = *state_;
  Result<FieldPlan> plan = plan_fields(s.header, merge.methods());
  if (!plan) return std::unexpected(std::move(plan.error()));
  std::vector<double> values(merge.methods().size());
  ShardQuery query;
  query.confidences = values;
  while (true) {
    const Result<bool> ready = next_record(s);
    if (!ready) return std::unexpected(ready.error());
    if (!*ready) return {};
    std::uint64_t candidates = 0;
    if (auto error = convert(s.tokenizer, *plan, values, query, candidates)) {
      return std::unexpected(std::move(*error));
    }
    if (Result<void> added = merge.add(query); !added) return added;
    merge.add_rows(candidates);
  }
}

}  // namespace ferolin::shards
