#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace mokta {

Summary Summarise(std::vector<double> samples) {
  Summary summary;
  if (samples.empty()) {
    return summary;
  }
  std::sort(samples.begin(), samples.end());
  const auto rank = [&](double percent) {
    const auto index =
        static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(samples.size())));
    return samples[std::clamp<std::size_t>(index, 1, samples.size()) - 1];
  };
  summary.count = samples.size();
  summary.min = samples.front();
  summary.max = samples.back();
  summary.mean =
      std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
  summary.p50 = rank(50);
  summary.p95 = rank(95);
  summary.p99 = rank(99);
  return summary;
}

void Counters::Merge(const Counters& other) {
  transactions += other.transactions;
  failures += other.failures;
  latencyMs.insert(latencyMs.end(), other.latencyMs.begin(), other.latencyMs.end());
  turnaroundMs.insert(turnaroundMs.end(), other.turnaroundMs.begin(), other.turnaroundMs.end());
}

std::string Describe(const Summary& summary) {
  if (summary.count == 0) {
    return "-";
  }
  std::vector<char> text(160);
  std::snprintf(text.data(), text.size(),
                "min/avg/p50/p95/p99/max = %.1f/%.1f/%.1f/%.1f/%.1f/%.1f ms", summary.min,
                summary.mean, summary.p50, summary.p95, summary.p99, summary.max);
  return text.data();
}

}  // namespace mokta
