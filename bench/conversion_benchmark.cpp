// The conversion kernels, fast against the C library's, on typical fields,
// and the library calls they are built on (std::from_chars, std::to_chars,
// sscanf, snprintf) alone: these bound how much faster a whole program can
// get than its reference twin.
//
//   build/release/bin/conversion_benchmark
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "number_format.hpp"
#include "number_scan.hpp"

namespace {

constexpr std::size_t FIELDS = 4096;  // a power of two, so that i % FIELDS is a mask

// Fields as PC tables print them: "%12.6f".
const std::vector<std::string>& fields() {
  static const std::vector<std::string> texts = [] {
    std::mt19937 random(1);
    std::normal_distribution<double> value(0.0, 2.0);
    std::vector<std::string> result;
    for (std::size_t i = 0; i < FIELDS; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "%12.6f", value(random));
      result.emplace_back(text);
    }
    return result;
  }();
  return texts;
}

void scan_fast(benchmark::State& state) {
  const std::vector<std::string>& texts = fields();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(pcgrid::fast_scan_float(texts[i++ % FIELDS]));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void scan_libc(benchmark::State& state) {
  const std::vector<std::string>& texts = fields();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pcgrid::libc_scan_float(texts[i++ % FIELDS].c_str()));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Lines of ten such fields, as PC tables hold them, converted field after
// field: the fast path reads a field eight characters at a time where the
// line goes on after it.
const std::vector<std::string>& lines() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> result;
    for (std::size_t i = 0; i < FIELDS; ++i) {
      std::string line;
      for (std::size_t d = 0; d < 10; ++d) line += fields()[(i + d) % FIELDS];
      result.push_back(line + "\n");
    }
    return result;
  }();
  return texts;
}

template <bool fast>
void scan_line(benchmark::State& state) {
  const std::vector<std::string>& texts = lines();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& line = texts[i++ % FIELDS];
    std::size_t at = 0;
    for (int d = 0; d < 10; ++d) {
      const pcgrid::FloatScan f = fast ? pcgrid::fast_scan_float(std::string_view(line).substr(at))
                                       : pcgrid::libc_scan_float(line.c_str() + at);
      benchmark::DoNotOptimize(f.value);
      at += static_cast<std::size_t>(f.used);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 10);
}

// std::from_chars alone, on the field without its leading blanks.
void bare_from_chars(benchmark::State& state) {
  const std::vector<std::string>& texts = fields();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& text = texts[i++ % FIELDS];
    const std::size_t start = text.find_first_not_of(' ');
    float value = 0;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// sscanf's "%f%n" alone.
void bare_sscanf(benchmark::State& state) {
  const std::vector<std::string>& texts = fields();
  std::size_t i = 0;
  for (auto _ : state) {
    float value = 0;
    int used = 0;
    benchmark::DoNotOptimize(std::sscanf(texts[i++ % FIELDS].c_str(), "%f%n", &value, &used));
    benchmark::DoNotOptimize(value);
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
  std::vector<double> values(FIELDS);
  for (double& v : values) v = value(random);
  char out[pcgrid::FORMAT_ROOM];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Format(out, values[i++ % FIELDS], 10));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// The member report's integers: "%10d" of a vector's index (up to 10^6 in
// the benchmark's tables), "%4d" of its cluster's size (up to 10^5).
template <char* (*Format)(char*, std::int32_t, int)>
void format_integer(benchmark::State& state) {
  std::mt19937 random(3);
  std::uniform_int_distribution<std::int32_t> index(1, 1'000'000);
  std::uniform_int_distribution<std::int32_t> size(1, 100'000);
  std::vector<std::int32_t> values(FIELDS);
  for (std::size_t i = 0; i < FIELDS; ++i) values[i] = i % 2 == 0 ? index(random) : size(random);
  char out[pcgrid::FORMAT_ROOM];
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t at = i++ % FIELDS;
    benchmark::DoNotOptimize(Format(out, values[at], at % 2 == 0 ? 10 : 4));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(bare_from_chars);
BENCHMARK(bare_sscanf);
BENCHMARK(scan_fast);
BENCHMARK(scan_libc);
BENCHMARK(scan_line<true>)->Name("scan_line_fast");
BENCHMARK(scan_line<false>)->Name("scan_line_libc");
BENCHMARK(scan_int_fast);
BENCHMARK(scan_int_libc);
BENCHMARK(format_value<pcgrid::fast_format_fixed7>)->Name("fixed7_fast");
BENCHMARK(format_value<pcgrid::libc_format_fixed7>)->Name("fixed7_libc");
BENCHMARK(format_value<pcgrid::fast_format_scientific7>)->Name("scientific7_fast");
BENCHMARK(format_value<pcgrid::libc_format_scientific7>)->Name("scientific7_libc");
BENCHMARK(format_integer<pcgrid::fast_format_int>)->Name("int_fast");
BENCHMARK(format_integer<pcgrid::libc_format_int>)->Name("int_libc");

}  // namespace

BENCHMARK_MAIN();
