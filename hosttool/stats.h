// Running figures of a series of transactions: counts, and the latencies and
// turnarounds from which percentiles are taken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mokta {

struct Summary {
  std::size_t count = 0;
  double min = 0;
  double mean = 0;
  double p50 = 0;
  double p95 = 0;
  double p99 = 0;
  double max = 0;
};

// Percentiles by the nearest rank; all zero for no samples.
Summary Summarise(std::vector<double> samples);

struct Counters {
  uint64_t transactions = 0;
  uint64_t failures = 0;
  std::vector<double> latencyMs;
  std::vector<double> turnaroundMs;

  void Merge(const Counters& other);
};

// "min/avg/p50/p95/p99/max = 1.2/3.4/.../9.9 ms", or "-" for no samples.
std::string Describe(const Summary& summary);

}  // namespace mokta
