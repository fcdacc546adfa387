// The trigger timer's cost and precision: the share of a core its thread
// takes, and how late each firing comes after its period (median, 99th
// percentile, worst), at 10, 40 and 100 ms.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "app/qtimer.h"
#include "bench/bench_measures.h"

namespace {

using Clock = std::chrono::steady_clock;

// Written by the timer thread only, read once it has ended.
struct Firings {
  std::vector<Clock::time_point> at;
  std::vector<double> cpu_s;
};
Firings firings;

void Record() {
  firings.at.push_back(Clock::now());
  firings.cpu_s.push_back(bench::ThreadCpuSeconds());
}

void QueryTimer(benchmark::State& state) {
  const double period_ms = static_cast<double>(state.range(0));
  std::vector<double> late_ms;
  double cpu_s = 0.0;
  double wall_s = 0.0;
  for (auto _ : state) {
    firings = {};
    firings.at.reserve(1000);
    firings.cpu_s.reserve(1000);
    {
      TQueryTimer timer;
      timer.SetPriorityBelowNormal();
      timer.Interval = period_ms;
      timer.OnTimer = &Record;
      timer.Start();
      std::this_thread::sleep_for(std::chrono::seconds(5));
    }
    for (size_t i = 1; i < firings.at.size(); ++i) {
      late_ms.push_back(std::chrono::duration<double, std::milli>(firings.at[i] - firings.at[i - 1]).count() -
                        period_ms);
    }
    if (firings.at.size() > 1) {
      cpu_s += firings.cpu_s.back() - firings.cpu_s.front();
      wall_s += std::chrono::duration<double>(firings.at.back() - firings.at.front()).count();
    }
  }
  state.counters["core_share"] = wall_s > 0.0 ? cpu_s / wall_s : 0.0;
  state.counters["median_ms"] = bench::Percentile(late_ms, 0.5);
  state.counters["p99_ms"] = bench::Percentile(late_ms, 0.99);
  state.counters["max_ms"] = late_ms.empty() ? 0.0 : *std::max_element(late_ms.begin(), late_ms.end());
}

BENCHMARK(QueryTimer)->Arg(10)->Arg(40)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
