#include "core/stats/bootstrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/metrics/aurc.h"
#include "core/metrics/operating_points.h"
#include "core/metrics/risk_coverage.h"
#include "core/policy/query_decisions.h"
#include "core/stats/percentile.h"
#include "core/stats/random.h"
#include "core/stats/resample.h"
#include "core/stats/wilson_interval.h"
#include "core/total_order.h"

namespace ferolin::stats {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct PerQuery {
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> labels;
};

// Equal bits, or both NaN (whatever their sign and payload).
bool same_value(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double unit(Xoshiro256StarStar& generator) {
  return static_cast<double>(generator.next() >> 11) * 0x1.0p-53;
}

// Small data full of what the walk must get right: ties, +0.0 and -0.0,
// infinities, NaN and absent confidences, unlabelled queries.
PerQuery small_random_data(Xoshiro256StarStar& generator) {
  const std::optional<double> pool[] = {0.1,  0.5,  0.5,   0.9,  0.0,
                                        -0.0, kInf, -kInf, kNaN, std::nullopt};
  const std::optional<bool> label_pool[] = {true, true, false, std::nullopt};
  PerQuery data;
  const std::uint64_t n = 1 + uniform_below(generator, 12);
  for (std::uint64_t i = 0; i < n; ++i) {
    data.confidences.push_back(pool[uniform_below(generator, std::size(pool))]);
    data.labels.push_back(label_pool[uniform_below(generator, std::size(label_pool))]);
  }
  return data;
}

// n queries whose confidence is uniform in [0, 1) and whose top candidate
// is correct with that probability.
PerQuery calibrated_data(std::uint64_t n, std::uint64_t seed) {
  Xoshiro256StarStar generator = Xoshiro256StarStar::seeded_by(SplitMix64{seed});
  PerQuery data;
  for (std::uint64_t i = 0; i < n; ++i) {
    const double confidence = unit(generator);
    data.confidences.push_back(confidence);
    data.labels.push_back(unit(generator) < confidence);
  }
  return data;
}

// The labelled queries in the order that resample positions number: usable
// confidences first, descending in the total order, the correct first among
// ties.
PerQuery positions_order(const PerQuery& data) {
  struct Entry {
    std::optional<double> confidence;
    bool correct;
  };
  const auto usable = [](const Entry& e) { return e.confidence && !std::isnan(*e.confidence); };
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < data.labels.size(); ++i) {
    if (data.labels[i]) entries.push_back({data.confidences[i], *data.labels[i]});
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (usable(a) != usable(b)) return usable(a);
    if (!usable(a)) return false;
    const std::int64_t key_a = total_order_key(*a.confidence);
    const std::int64_t key_b = total_order_key(*b.confidence);
    if (key_a != key_b) return key_a > key_b;
    return a.correct && !b.correct;
  });
  PerQuery ordered;
  for (const Entry& e : entries) {
    ordered.confidences.push_back(e.confidence);
    ordered.labels.push_back(e.correct);
  }
  return ordered;
}

// What the metrics give on the replicate's resample written out in full.
ReplicateValues explicit_replicate(const PerQuery& data, double threshold, std::uint64_t seed,
                                   std::uint64_t replicate) {
  const PerQuery labelled = positions_order(data);
  const std::uint64_t n = labelled.labels.size();
  PerQuery resample;
  for (std::uint64_t position : resample_positions(n, seed, replicate)) {
    resample.confidences.push_back(labelled.confidences[position]);
    resample.labels.push_back(labelled.labels[position]);
  }
  const auto curve = metrics::compute_curve(resample.confidences, resample.labels);
  ReplicateValues values;
  values.aurc = metrics::compute_aurc(curve);
  values.eaurc = metrics::compute_eaurc(curve);
  values.augrc = metrics::compute_augrc(curve);
  for (std::uint64_t i = 0; i < n; ++i) {
    if (!policy::passes_threshold(resample.confidences[i].value_or(kNaN), threshold)) continue;
    ++values.accepted;
    if (!*resample.labels[i]) ++values.errors;
  }
  values.coverage = static_cast<double>(values.accepted) / static_cast<double>(n);
  values.risk = values.accepted == 0
                    ? kNaN
                    : static_cast<double>(values.errors) / static_cast<double>(values.accepted);
  return values;
}

std::string mismatch(const ReplicateValues& got, const ReplicateValues& want) {
  std::string text;
  const struct {
    const char* name;
    double got;
    double want;
  } figures[] = {{"aurc", got.aurc, want.aurc},
                 {"eaurc", got.eaurc, want.eaurc},
                 {"augrc", got.augrc, want.augrc},
                 {"coverage", got.coverage, want.coverage},
                 {"risk", got.risk, want.risk}};
  for (const auto& f : figures) {
    if (!same_value(f.got, f.want)) {
      text += std::string(f.name) + " " + std::to_string(f.got) + " != " + std::to_string(f.want);
    }
  }
  if (got.accepted != want.accepted || got.errors != want.errors) text += " counts differ";
  return text;
}

TEST(BootstrapTest, ReplicatesEqualExplicitResamplesToTheLastBit) {
  const double thresholds[] = {0.5, 0.0, -kInf, kInf, kNaN, std::numeric_limits<double>::max()};
  Xoshiro256StarStar generator = Xoshiro256StarStar::seeded_by(SplitMix64{2024});
  for (int c = 0; c < 300; ++c) {
    const PerQuery data = small_random_data(generator);
    const double threshold = thresholds[c % std::size(thresholds)];
    const BootstrapRequest request{.threshold = threshold,
                                   .replicates = 10,
                                   .seed = static_cast<std::uint64_t>(c),
                                   .level = 0.80};
    const auto replicates = bootstrap_replicates(data.confidences, data.labels, request);
    ASSERT_TRUE(replicates.has_value()) << replicates.error().message();
    for (std::uint64_t r = 0; r < request.replicates; ++r) {
      const std::string diff =
          mismatch((*replicates)[r], explicit_replicate(data, threshold, request.seed, r));
      EXPECT_TRUE(diff.empty()) << "case " << c << " replicate " << r << ": " << diff;
    }
    // The estimates are the figures of the data as given.
    const auto intervals = bootstrap_intervals(data.confidences, data.labels, request);
    ASSERT_TRUE(intervals.has_value());
    const auto curve = metrics::compute_curve(data.confidences, data.labels);
    EXPECT_TRUE(same_value(intervals->aurc.estimate, metrics::compute_aurc(curve))) << c;
    EXPECT_TRUE(same_value(intervals->eaurc.estimate, metrics::compute_eaurc(curve))) << c;
    EXPECT_TRUE(same_value(intervals->augrc.estimate, metrics::compute_augrc(curve))) << c;
  }
}

// The band at each coverage is the percentile interval of risk_at_coverage
// on the explicit resamples' curves, NaN replicates left out.
TEST(BootstrapTest, RiskBandEqualsRiskAtCoverageOfExplicitResamples) {
  const double coverages[] = {0.95, 0.0, 0.1, 0.5, kNaN, 0.5, 1.0};
  Xoshiro256StarStar generator = Xoshiro256StarStar::seeded_by(SplitMix64{77});
  for (int c = 0; c < 60; ++c) {
    const PerQuery data = c % 2 == 0 ? small_random_data(generator) : calibrated_data(40, c);
    const BootstrapRequest request{
        .replicates = 20, .seed = static_cast<std::uint64_t>(c), .level = 0.80};
    const auto band = bootstrap_risk_band(data.confidences, data.labels, coverages, request);
    ASSERT_TRUE(band.has_value()) << band.error().message();
    ASSERT_EQ(band->size(), std::size(coverages));
    const PerQuery labelled = positions_order(data);
    const IntervalLevel level = interval_level(request.level).value();
    for (std::size_t g = 0; g < std::size(coverages); ++g) {
      std::vector<double> risks;
      for (std::uint64_t r = 0; r < request.replicates; ++r) {
        PerQuery resample;
        for (std::uint64_t p : resample_positions(labelled.labels.size(), request.seed, r)) {
          resample.confidences.push_back(labelled.confidences[p]);
          resample.labels.push_back(labelled.labels[p]);
        }
        const auto curve = metrics::compute_curve(resample.confidences, resample.labels);
        risks.push_back(metrics::risk_at_coverage(curve, coverages[g]).value_or(kNaN));
      }
      const Interval want = percentile_interval(risks, level).interval;
      EXPECT_TRUE(same_value((*band)[g].low, want.low)) << "case " << c << " coverage " << g;
      EXPECT_TRUE(same_value((*band)[g].high, want.high)) << "case " << c << " coverage " << g;
    }
  }
}

// Hands out the word 1 forever: every draw lands on position 0 (the high
// word of 1 * n), and the low word n passes the rejection test.
struct Stuck {
  std::uint64_t next() { return 1; }
};

TEST(BootstrapTest, CountsThatOverflowOneByteAreNoticed) {
  Stuck generator;
  std::vector<std::uint8_t> narrow(255);
  EXPECT_TRUE(count_draws<std::uint8_t>(generator, narrow));
  EXPECT_EQ(narrow[0], 255);
  narrow.resize(256);
  EXPECT_FALSE(count_draws<std::uint8_t>(generator, narrow));
  std::vector<std::uint32_t> wide(256);
  EXPECT_TRUE(count_draws<std::uint32_t>(generator, wide));
  EXPECT_EQ(wide[0], 256u);

  // Wide and narrow counts walk alike.
  const PerQuery data = calibrated_data(300, 8);
  const SortedQueries queries = sort_labelled_queries(data.confidences, data.labels, 0.5).value();
  std::vector<std::uint8_t> counts(300);
  ASSERT_TRUE(count_resample<std::uint8_t>(4, 0, counts));
  const std::vector<std::uint32_t> widened(counts.begin(), counts.end());
  EXPECT_TRUE(mismatch(evaluate_counts<std::uint8_t>(queries, counts),
                       evaluate_counts<std::uint32_t>(queries, widened))
                  .empty());
}

TEST(BootstrapTest, AFixedSeedGivesTheSameIntervals) {
  const PerQuery data = calibrated_data(500, 1);
  const BootstrapRequest request{.threshold = 0.5, .replicates = 200, .seed = 99};
  const auto first = bootstrap_intervals(data.confidences, data.labels, request);
  const auto again = bootstrap_intervals(data.confidences, data.labels, request);
  BootstrapRequest other_seed = request;
  other_seed.seed = 100;
  const auto other = bootstrap_intervals(data.confidences, data.labels, other_seed);
  ASSERT_TRUE(first && again && other);
  EXPECT_TRUE(same_value(first->aurc.interval.low, again->aurc.interval.low));
  EXPECT_TRUE(same_value(first->risk.interval.high, again->risk.interval.high));
  EXPECT_FALSE(same_value(first->aurc.interval.low, other->aurc.interval.low));
  // The draws are pinned: they must not move with the platform or compiler.
  EXPECT_EQ(resample_positions(8, 42, 3), (std::vector<std::uint64_t>{2, 5, 3, 5, 7, 5, 5, 0}));
}

// Queries in another order (rows shuffled, shards merged) give the same
// replicates, ties among equal confidences included.
TEST(BootstrapTest, ReplicatesDoNotDependOnTheOrderOfQueries) {
  PerQuery data = calibrated_data(400, 3);
  for (auto& confidence : data.confidences) confidence = std::round(*confidence * 10) / 10;
  data.confidences[7] = std::nullopt;
  PerQuery reversed;
  reversed.confidences.assign(data.confidences.rbegin(), data.confidences.rend());
  reversed.labels.assign(data.labels.rbegin(), data.labels.rend());
  const BootstrapRequest request{.threshold = 0.5, .replicates = 50, .seed = 7};
  const auto forward = bootstrap_replicates(data.confidences, data.labels, request);
  const auto backward = bootstrap_replicates(reversed.confidences, reversed.labels, request);
  ASSERT_TRUE(forward && backward);
  for (std::size_t r = 0; r < forward->size(); ++r) {
    EXPECT_EQ(mismatch((*forward)[r], (*backward)[r]), "") << r;
  }
}

TEST(BootstrapTest, IntervalsHoldTheEstimateAndNarrowAsOneOverRootN) {
  const BootstrapRequest request{.threshold = 0.5, .replicates = 400, .seed = 5};
  const std::uint64_t n = 2000;
  const PerQuery small = calibrated_data(n, 11);
  const PerQuery large = calibrated_data(4 * n, 12);
  const auto at_n = bootstrap_intervals(small.confidences, small.labels, request);
  const auto at_4n = bootstrap_intervals(large.confidences, large.labels, request);
  ASSERT_TRUE(at_n && at_4n);
  const struct {
    const char* name;
    MetricInterval BootstrapIntervals::* figure;
  } figures[] = {{"aurc", &BootstrapIntervals::aurc},
                 {"eaurc", &BootstrapIntervals::eaurc},
                 {"augrc", &BootstrapIntervals::augrc},
                 {"coverage", &BootstrapIntervals::coverage},
                 {"risk", &BootstrapIntervals::risk}};
  for (const auto& f : figures) {
    for (const BootstrapIntervals* result : {&*at_n, &*at_4n}) {
      const MetricInterval& m = result->*f.figure;
      EXPECT_EQ(m.nan_replicates, 0u) << f.name;
      EXPECT_LE(m.interval.low, m.estimate) << f.name;
      EXPECT_GE(m.interval.high, m.estimate) << f.name;
    }
    const MetricInterval& wide = (*at_n).*f.figure;
    const MetricInterval& narrow = (*at_4n).*f.figure;
    const double ratio =
        (narrow.interval.high - narrow.interval.low) / (wide.interval.high - wide.interval.low);
    EXPECT_GT(ratio, 0.35) << f.name;
    EXPECT_LT(ratio, 0.7) << f.name;
  }
  EXPECT_LE(at_n->risk_wilson.low, at_n->risk.estimate);
  EXPECT_GE(at_n->risk_wilson.high, at_n->risk.estimate);
}

TEST(BootstrapTest, UndefinedReplicatesAreCountedAndLeftOut) {
  // Every top candidate correct: no replicate has an E-AURC, every risk is 0.
  const PerQuery all_correct{{0.9, 0.8, 0.7, 0.2}, {true, true, true, true}};
  const BootstrapRequest request{.threshold = 0.75, .replicates = 100, .seed = 3};
  const auto result = bootstrap_intervals(all_correct.confidences, all_correct.labels, request);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->eaurc.nan_replicates, 100u);
  EXPECT_TRUE(std::isnan(result->eaurc.interval.low) && std::isnan(result->eaurc.interval.high));
  EXPECT_EQ(result->aurc.interval.low, 0.0);
  EXPECT_EQ(result->aurc.interval.high, 0.0);
  // A resample without 0.9 and 0.8 accepts nothing: its risk is NaN.
  EXPECT_GT(result->risk.nan_replicates, 0u);
  EXPECT_EQ(result->risk.interval.high, 0.0);
  EXPECT_EQ(result->accepted, 2u);
  EXPECT_EQ(result->risk_wilson.low, 0.0);

  // No labelled query at all: every figure is NaN, nothing fails.
  const PerQuery unlabelled{{0.9}, {std::nullopt}};
  const auto none = bootstrap_intervals(unlabelled.confidences, unlabelled.labels, request);
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(none->labelled, 0u);
  EXPECT_TRUE(std::isnan(none->aurc.estimate) && std::isnan(none->aurc.interval.low));
  EXPECT_TRUE(std::isnan(none->coverage.estimate) && std::isnan(none->risk_wilson.high));
}

TEST(BootstrapTest, RequestsOutsideWhatIsSupportedFail) {
  const PerQuery data{{0.9, 0.1}, {true, false}};
  const std::vector<std::optional<bool>> short_labels = {true};
  const struct {
    const char* name;
    BootstrapRequest request;
    std::span<const std::optional<bool>> labels;
    const char* message;
  } cases[] = {
      {"no replicates",
       {.replicates = 0},
       data.labels,
       "replicates must be between 39 and 1000000 for a 0.95 interval, got 0"},
      {"too few for 0.99",
       {.replicates = 198, .level = 0.99},
       data.labels,
       "replicates must be between 199 and 1000000 for a 0.99 interval, got 198"},
      {"too many",
       {.replicates = kMaxReplicates + 1},
       data.labels,
       "replicates must be between 39 and 1000000 for a 0.95 interval, got 1000001"},
      {"level",
       {.level = 0.5},
       data.labels,
       "Unsupported interval level: 0.5. Supported: 0.80, 0.90, 0.95, 0.98, 0.99"},
      {"unequal spans", {}, short_labels, "confidences and labels differ in length: 2 and 1"},
  };
  for (const auto& c : cases) {
    const auto result = bootstrap_intervals(data.confidences, c.labels, c.request);
    ASSERT_FALSE(result.has_value()) << c.name;
    EXPECT_EQ(result.error().kind, ErrorKind::InvalidArgument) << c.name;
    EXPECT_EQ(result.error().message(), c.message) << c.name;
  }
  // The check-in's error stops the run at once.
  int calls = 0;
  BootstrapRequest stopped{.replicates = 50};
  stopped.check = [&calls](std::uint64_t done) -> Result<void> {
    ++calls;
    if (done == 3) return std::unexpected(FerolinError::io("interrupted"));
    return {};
  };
  const auto result = bootstrap_replicates(data.confidences, data.labels, stopped);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "IO error: interrupted");
  EXPECT_EQ(calls, 3);
}

TEST(PercentileTest, OrderStatisticsAndNaN) {
  const auto level = [](double l) { return interval_level(l).value(); };
  const auto ramp = [](int m, int nans) {
    std::vector<double> values;
    // Descending, so the sort has work to do.
    for (int v = m; v >= 1; --v) values.push_back(v);
    values.insert(values.end(), nans, kNaN);
    return values;
  };
  const struct {
    int m;
    int nans;
    double level;
    double low;
    double high;
  } cases[] = {
      {1000, 7, 0.95, 25, 976}, {999, 0, 0.95, 25, 975},   {1000, 0, 0.99, 5, 996},
      {39, 0, 0.95, 1, 39},     {38, 2, 0.95, kNaN, kNaN}, {0, 0, 0.80, kNaN, kNaN},
  };
  for (const auto& c : cases) {
    const PercentileInterval got = percentile_interval(ramp(c.m, c.nans), level(c.level));
    EXPECT_TRUE(same_value(got.interval.low, c.low)) << c.m << " at " << c.level;
    EXPECT_TRUE(same_value(got.interval.high, c.high)) << c.m << " at " << c.level;
    EXPECT_EQ(got.nan_values, static_cast<std::uint64_t>(c.nans));
  }
  EXPECT_EQ(min_values_for(level(0.95)), 39u);
  EXPECT_EQ(min_values_for(level(0.80)), 9u);
}

TEST(PercentileTest, LowerRankEqualsTheWideProductForEveryCount) {
  const std::uint64_t counts[] = {0, 1, 38, 39, 998, 999, 1000, 1999, 2000, 4'000'000'000,
                                  std::uint64_t{1} << 63, ~std::uint64_t{0} - 2000,
                                  ~std::uint64_t{0} - 1};
  for (const double l : {0.80, 0.90, 0.95, 0.98, 0.99}) {
    const IntervalLevel level = interval_level(l).value();
    for (const std::uint64_t m : counts) {
      const unsigned __int128 wide = static_cast<unsigned __int128>(m + 1) *
                                     (1000 - level.per_mille) / 2000;
      EXPECT_EQ(lower_rank(m, level), static_cast<std::uint64_t>(wide)) << m << " at " << l;
    }
  }
}

TEST(WilsonIntervalTest, Ends) {
  const struct {
    std::uint64_t accepted;
    std::uint64_t errors;
    double level;
    double low;
    double high;
  } cases[] = {
      // 0.021543361456313556..., by exact decimal arithmetic.
      {100, 5, 0.95, 0.021543361456313556, 0.11175196527208817},
      // The upper end of a two-sided 0.90 interval is binomial's 0.95 bound.
      {100, 5, 0.90, kNaN, 0.09916669837830379},
      {100, 0, 0.95, 0.0, kNaN},
      {10, 10, 0.99, kNaN, 1.0},
      {0, 0, 0.95, kNaN, kNaN},
  };
  for (const auto& c : cases) {
    const Result<Interval> got = wilson_interval(c.accepted, c.errors, c.level);
    ASSERT_TRUE(got.has_value());
    if (!std::isnan(c.low)) {
      EXPECT_NEAR(got->low, c.low, 1e-15) << c.errors << "/" << c.accepted;
    }
    if (!std::isnan(c.high)) {
      EXPECT_EQ(got->high, c.high) << c.errors << "/" << c.accepted;
    }
    if (c.accepted == 0) {
      EXPECT_TRUE(std::isnan(got->low) && std::isnan(got->high));
    }
  }
  EXPECT_FALSE(wilson_interval(10, 1, 0.975).has_value());
}

}  // namespace
}  // namespace ferolin::stats
