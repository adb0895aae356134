// Fuzz target: scoring, the risk-coverage curve and calibration on queries
// drawn from the input. Per-query summaries, built from rows interleaved
// across queries and keeping everything or only what one method reads, must
// give bit for bit the confidences, decisions and curve of the plain
// full-list arithmetic; every curve must keep its invariants; each
// calibration method must pick the widest passing row, and a calibrated
// policy must hold that row's threshold.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/calibration/binomial.h"
#include "core/calibration/calibrate_policy.h"
#include "core/calibration/crc.h"
#include "core/calibration/empirical.h"
#include "core/metrics/aurc.h"
#include "core/metrics/risk_coverage.h"
#include "core/policy/apply_policy.h"
#include "core/scoring/dispatch.h"
#include "core/scoring/query_summaries.h"
#include "fuzz_check.h"
#include "reference/whole_rankings.h"
#include "support/plain_reading.h"
#include "support/query_builders.h"

namespace ferolin::fuzz {
namespace {

using reference::Candidate;
using reference::QueryRanking;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(std::optional<double> a, std::optional<double> b) {
  if (!a || !b) return !a && !b;
  return std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b);
}

// A value that is often special (zeros, NaN, infinities, tiny and huge),
// otherwise any 64-bit pattern or a probability-like fraction.
double draw_value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
      return in.PickValueInArray({0.0, -0.0, kNaN, -kNaN, kInf, -kInf, 1.0, -1.0});
    case 1:
      return in.PickValueInArray({std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(), 1e-300, 1e300});
    case 2:
    case 3:
      return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    default:
      return in.ConsumeProbability<double>();
  }
}

// One row of the table in file order: the query it belongs to and the
// candidate, whose details carry only a group.
struct Row {
  std::string query_id;
  Candidate candidate;
};

std::vector<Row> draw_rows(FuzzedDataProvider& in) {
  std::vector<Row> rows;
  const auto count = in.ConsumeIntegralInRange<std::size_t>(0, 200);
  for (std::size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    Row row;
    // Few short ids, so that a query's rows are scattered through the file;
    // bytes >= 0x80 and prefixes test the order of ids.
    row.query_id = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 2));
    Candidate& c = row.candidate;
    c.query_id = row.query_id;
    c.candidate_id = "c" + std::to_string(i);
    c.rank = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint64_t>(0, 4)
                              : in.ConsumeIntegral<std::uint64_t>();
    c.score = draw_value(in);
    if (in.ConsumeIntegralInRange<int>(0, 7) > 0) c.probability = draw_value(in);
    if (in.ConsumeIntegralInRange<int>(0, 3) > 0) c.is_correct = in.ConsumeBool();
    if (in.ConsumeBool()) c.details.mut().group = in.ConsumeBool() ? "A" : "B";
    rows.push_back(std::move(row));
  }
  return rows;
}

// The rows grouped by query, in ascending order of the ids' bytes.
std::vector<QueryRanking> plain_queries(const std::vector<Row>& rows) {
  std::map<std::string, QueryRanking> grouped;
  for (const Row& row : rows) {
    QueryRanking& q = grouped[row.query_id];
    q.query_id = row.query_id;
    q.candidates.push_back(row.candidate);
  }
  std::vector<QueryRanking> queries;
  for (auto& [id, q] : grouped) queries.push_back(std::move(q));
  return queries;
}

scoring::QuerySummaries summaries_of(const std::vector<Row>& rows,
                                     const scoring::SummaryNeeds& needs) {
  scoring::QuerySummaries builder(needs, scoring::TopIds::Keep);
  for (const Row& row : rows) builder.add(row.query_id, reference::view_of(row.candidate));
  return builder;
}

void check_confidences(const std::vector<QueryRanking>& queries,
                       const scoring::QuerySummaries& summaries, ScoringMethod method) {
  const std::vector<std::size_t> order = summaries.numbers_by_id();
  require(queries.size() == order.size(), "one summary per query");
  for (std::size_t i = 0; i < queries.size(); ++i) {
    require(summaries.query_id(order[i]) == queries[i].query_id, "summaries in the order of ids");
    const auto expected = testing::plain_confidence(queries[i], method);
    require(same_bits(scoring::score(summaries.summary(order[i]), method), expected),
            "a summary scores as the full list", std::string(display_name(method)));
    require(same_bits(reference::compute_confidence(queries[i], method), expected),
            "compute_confidence scores as the full list", std::string(display_name(method)));
  }
}

void check_decisions(const std::vector<QueryRanking>& queries,
                     const scoring::QuerySummaries& summaries, const PolicyFile& policy) {
  const std::vector<AnnotationDecision> from_summaries = policy::apply_policy(summaries, policy);
  const std::vector<AnnotationDecision> from_records = reference::apply_policy(queries, policy);
  require(from_summaries.size() == queries.size() && from_records.size() == queries.size(),
          "one decision per query");
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const AnnotationDecision expected = testing::plain_decision(queries[i], policy);
    for (const AnnotationDecision* got : {&from_summaries[i], &from_records[i]}) {
      require(got->query_id == expected.query_id && got->candidate_id == expected.candidate_id &&
                  same_bits(got->confidence, expected.confidence) &&
                  got->accepted == expected.accepted &&
                  same_bits(got->threshold, expected.threshold) && got->method == expected.method,
              "a decision as the plain reading gives it", expected.query_id);
    }
  }
}

bool same_rows(const std::vector<RiskCoverageRow>& a, const std::vector<RiskCoverageRow>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_bits(a[i].threshold, b[i].threshold) || a[i].accepted != b[i].accepted ||
        a[i].total != b[i].total || !same_bits(a[i].coverage, b[i].coverage) ||
        a[i].errors != b[i].errors || !same_bits(a[i].risk, b[i].risk)) {
      return false;
    }
  }
  return true;
}

void check_curve_invariants(const std::vector<RiskCoverageRow>& curve, std::uint64_t labelled) {
  for (std::size_t i = 0; i < curve.size(); ++i) {
    const RiskCoverageRow& row = curve[i];
    require(!std::isnan(row.threshold), "no NaN threshold");
    require(row.total == labelled, "total is the number of labelled queries");
    require(row.accepted > 0 && row.accepted <= row.total && row.errors <= row.accepted,
            "0 < accepted <= total, errors <= accepted");
    require(same_bits(row.coverage, double(row.accepted) / double(row.total)),
            "coverage is accepted / total");
    require(same_bits(row.risk, double(row.errors) / double(row.accepted)),
            "risk is errors / accepted");
    if (i == 0) continue;
    const RiskCoverageRow& previous = curve[i - 1];
    require(row.threshold < previous.threshold, "thresholds strictly descend");
    require(row.accepted > previous.accepted && row.errors >= previous.errors,
            "accepted strictly grows, errors never shrink");
  }
  const double area = metrics::compute_aurc(curve);
  require(curve.empty() ? std::isnan(area) : (area >= 0.0 && area <= 1.0),
          "AURC is NaN for no rows, else within [0, 1]");
}

// The threshold of the last (widest) row that passes: coverage strictly
// grows down the curve.
template <typename Passes>
std::optional<double> last_passing(const std::vector<RiskCoverageRow>& curve, Passes passes) {
  for (auto row = curve.rbegin(); row != curve.rend(); ++row) {
    if (passes(*row)) return row->threshold;
  }
  return std::nullopt;
}

// calibrate_policy holds the method's choice (or kNoThreshold) and the
// request; it fails exactly when the method does.
void check_policy(const std::vector<RiskCoverageRow>& curve,
                  const calibration::CalibrationRequest& request,
                  const Result<std::optional<double>>& chosen) {
  const Result<PolicyFile> policy = calibration::calibrate_policy(curve, request);
  require(policy.has_value() == chosen.has_value(), "calibrate_policy fails where its method does");
  if (!policy) {
    require(policy.error().kind == chosen.error().kind,
            "calibrate_policy fails as its method does");
    return;
  }
  require(same_bits(policy->threshold, chosen->value_or(calibration::kNoThreshold)) &&
              policy->scoring_method == request.score &&
              same_bits(policy->target_error_rate, request.error_rate) &&
              policy->calibration_method == request.method &&
              same_bits(policy->confidence_level, request.confidence_level),
          "a policy holds the chosen threshold and the request");
}

void check_calibration(const std::vector<RiskCoverageRow>& curve, ScoringMethod method,
                       double target, double level) {
  const auto within = [](double bound) {
    return [bound](const RiskCoverageRow& row) { return row.risk && *row.risk <= bound; };
  };
  const auto empirical = calibration::empirical::calibrate(curve, target);
  require(same_bits(empirical, last_passing(curve, within(target))),
          "empirical picks the widest row within the target");
  check_policy(curve, {method, target, CalibrationMethod::Empirical, std::nullopt}, empirical);
  const double n = curve.empty() ? 0.0 : double(curve.back().total);
  const double adjusted = target - 1.0 / (n + 1.0);
  const auto crc_expected =
      curve.empty() || !(adjusted > 0.0) ? std::nullopt : last_passing(curve, within(adjusted));
  const auto crc = calibration::crc::calibrate(curve, target);
  require(same_bits(crc, crc_expected), "crc picks the widest row within the lowered target");
  check_policy(curve, {method, target, CalibrationMethod::Crc, level}, crc);
  const auto z = calibration::binomial::z_value(level);
  const auto binomial = calibration::binomial::calibrate(curve, target, level);
  require(binomial.has_value() == z.has_value(), "binomial fails only for unsupported levels");
  check_policy(curve, {method, target, CalibrationMethod::Binomial, level}, binomial);
  check_policy(curve, {method, target, CalibrationMethod::Binomial, std::nullopt},
               std::unexpected(FerolinError::missing_confidence_level()));
  if (!z) return;
  const auto expected = last_passing(curve, [&](const RiskCoverageRow& row) {
    const double bound = calibration::binomial::wilson_upper_bound(row.accepted, row.errors, *z);
    // Rounding leaves the bound up to 2 ulp below an observed risk of 1.
    const double risk = double(row.errors) / double(row.accepted);
    require(bound >= risk - 4 * std::numeric_limits<double>::epsilon(),
            "the Wilson upper bound is at least the observed risk");
    return bound <= target;
  });
  require(same_bits(*binomial, expected), "binomial picks the widest row within the target");
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin;
  using namespace ferolin::fuzz;
  FuzzedDataProvider in(data, size);
  const double target = in.ConsumeBool() ? in.ConsumeProbability<double>() : draw_value(in);
  const double level = in.PickValueInArray({0.9, 0.95, 0.975, 0.99, 0.5, 0.9499, draw_value(in)});
  const double threshold = draw_value(in);
  const std::vector<Row> rows = draw_rows(in);
  const std::vector<QueryRanking> queries = plain_queries(rows);
  // Summaries that keep everything, and for each method summaries that
  // keep only what it reads.
  const scoring::QuerySummaries everything = summaries_of(rows, scoring::kEveryNeed);
  std::uint64_t labelled = 0;
  for (const QueryRanking& q : queries) labelled += testing::plain_top(q).is_correct ? 1 : 0;

  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto method = static_cast<ScoringMethod>(m);
    const scoring::QuerySummaries lean = summaries_of(rows, scoring::needs_of(method));
    const PolicyFile policy = testing::make_policy(method, threshold, {{{"A", target}}});
    const std::vector<RiskCoverageRow> curve = testing::plain_curve(queries, method);
    for (const scoring::QuerySummaries* summaries : {&everything, &lean}) {
      check_confidences(queries, *summaries, method);
      check_decisions(queries, *summaries, policy);
      require(same_rows(metrics::compute_curve(*summaries, method), curve),
              "the curve of summaries is the plain curve");
    }
    require(same_rows(reference::compute_curve(queries, method), curve),
            "the curve of records is the plain curve");
    check_curve_invariants(curve, labelled);
    check_calibration(curve, method, target, level);
  }
  return 0;
}
