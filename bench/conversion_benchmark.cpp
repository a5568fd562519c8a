// The conversion kernels, fast against the C library's, on typical fields.
//
//   build/release/bin/conversion_benchmark
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "number_format.hpp"
#include "number_scan.hpp"

namespace {

// Fields as PC tables print them: "%12.6f".
const std::vector<std::string>& fields() {
  static const std::vector<std::string> texts = [] {
    std::mt19937 random(1);
    std::normal_distribution<double> value(0.0, 2.0);
    std::vector<std::string> result;
    for (int i = 0; i < 4096; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "%12.6f", value(random));
      result.emplace_back(text);
    }
    return result;
  }();
  return texts;
}

void scan_fast(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pcgrid::fast_scan_float(fields()[i++ % fields().size()]));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void scan_libc(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pcgrid::libc_scan_float(fields()[i++ % fields().size()].c_str()));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void scan_int_fast(benchmark::State& state) {
  const std::string label = "   1234567 ";
  for (auto _ : state) benchmark::DoNotOptimize(pcgrid::fast_scan_int(label));
}

void scan_int_libc(benchmark::State& state) {
  const std::string label = "   1234567 ";
  for (auto _ : state) benchmark::DoNotOptimize(pcgrid::libc_scan_int(label.c_str()));
}

template <char* (*Format)(char*, double, int)>
void format_value(benchmark::State& state) {
  std::mt19937 random(2);
  std::normal_distribution<float> value(0.0f, 2.0f);
  std::vector<double> values(4096);
  for (double& v : values) v = value(random);
  char out[pcgrid::FORMAT_ROOM];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Format(out, values[i++ % values.size()], 10));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(scan_fast);
BENCHMARK(scan_libc);
BENCHMARK(scan_int_fast);
BENCHMARK(scan_int_libc);
BENCHMARK(format_value<pcgrid::fast_format_fixed7>)->Name("fixed7_fast");
BENCHMARK(format_value<pcgrid::libc_format_fixed7>)->Name("fixed7_libc");
BENCHMARK(format_value<pcgrid::fast_format_scientific7>)->Name("scientific7_fast");
BENCHMARK(format_value<pcgrid::libc_format_scientific7>)->Name("scientific7_libc");

}  // namespace

BENCHMARK_MAIN();
