#include "binding/native/infinite_confidences.h"

#include <cmath>
#include <limits>

namespace ferolin::binding::native {

void set_aside_infinite(QueryPassResult& result) {
  if (result.pairs) {
    shards::QueryPairs& pairs = *result.pairs;
    result.infinite.assign(pairs.methods.size(), 0);
    for (std::size_t m = 0; m < pairs.confidences.size(); ++m) {
      for (double& confidence : pairs.confidences[m]) {
        if (!std::isinf(confidence)) continue;
        confidence = std::numeric_limits<double>::quiet_NaN();  // NaN: none, in pairs
        ++result.infinite[m];
      }
      pairs.scored[m] -= result.infinite[m];
    }
    return;
  }
  result.infinite.assign(result.table.methods.size(), 0);
  for (std::size_t m = 0; m < result.table.confidences.size(); ++m) {
    for (std::optional<double>& confidence : result.table.confidences[m]) {
      if (!confidence || !std::isinf(*confidence)) continue;
      confidence.reset();
      ++result.infinite[m];
    }
  }
}

}  // namespace ferolin::binding::native
