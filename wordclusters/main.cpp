// wordclusters: the metastable states of a set of words, as a dictionary.
//
// Reads lettercode's words, one per line, counts the frames of every
// distinct word (a cell of the grid), grows basins from the most populated
// cells down through neighbouring cells, merges basins separated by a low
// barrier, and writes the cells of every basin holding enough of the frames
// as "WORD CLUSTER" lines, cluster 1 the most populated. A summary goes to
// standard error. On request it weighs the frames, and writes which frames
// are in each state, how long they stay and where they go next.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "basins.hpp"
#include "descriptor_io.hpp"
#include "file_clashes.hpp"
#include "options.hpp"
#include "refusal.hpp"
#include "standard_descriptors.hpp"
#include "state_files.hpp"
#include "states.hpp"
#include "weights.hpp"
#include "word_reader.hpp"

namespace {

using namespace wordclusters;

constexpr double SCAN_STEP = 0.5;  // kT between the barriers of --scan, from 0.5 to 4
constexpr int SCAN_ROWS = 8;

Options options;
std::string input_name = "standard input";
WordInput input;
double total_population = 0;  // the frames, or the sum of their weights
WeightFile weights;
Landscape land;
Basins basins;
StateTables tables;
std::string output;

// --- Reading ---

int open_input() {
  if (options.file == nullptr || std::string_view(options.file) == "-") {
    if (pcgrid::standard_descriptor_was_closed(STDIN_FILENO)) {
      refuse(input_name + ": cannot read: " + std::strerror(EBADF));
    }
    return STDIN_FILENO;
  }
  input_name = options.file;
  const int fd = ::open(options.file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(input_name + ": cannot open: " + std::strerror(errno));
  return fd;
}

void read_input() {
  const int fd = open_input();
  input.keep_frames = keeps_frames(options);
  if (!read_words(fd, input)) {
    if (input.error == WordError::out_of_memory) refuse(describe_error(input));
    refuse(input_name + (error_has_line(input.error) ? ":" + std::to_string(input.lines + 1) : "") +
           ": " + describe_error(input));
  }
  if (fd != STDIN_FILENO) ::close(fd);
  total_population = static_cast<double>(input.lines);
}

// --segments and --blocks against the frames read.
void check_frame_counts() {
  if (options.segments_given) {
    std::uint64_t sum = 0;
    for (const std::uint64_t frames : options.segments) sum += frames;
    if (sum != input.lines) {
      refuse("--segments adds up to " + std::to_string(sum) + " frames, the input has " +
             std::to_string(input.lines));
    }
  }
  if (options.blocks > input.lines) {
    refuse("--blocks " + std::to_string(options.blocks) + " is more than the " +
           std::to_string(input.lines) + " frames of the input");
  }
}

// Weights near the largest double would overflow their sum, and 100 times a
// population. So the sums stay below 2^1000: when the next weight would take
// the total above that, every weight, those already summed included, is
// taken times 2^-128 more. Scaling by a power of two changes no ratio and
// rounds no sum differently, so the dictionary and the state files do not
// depend on the weights' scale; ordinary weights are never scaled.
constexpr double LARGEST_SUM = 0x1p1000;
constexpr double SCALE_STEP = 0x1p-128;

void scale_down(std::vector<double>& of_word, WeightFile& file) {
  for (double& population : of_word) population *= SCALE_STEP;
  total_population *= SCALE_STEP;
  file.scale *= SCALE_STEP;
}

// Each word's population as the sum of its frames' weights, in frame order,
// by the word's number.
std::vector<double> weigh_words() {
  const bool twice = options.blocks != 0 && options.report != nullptr;
  open_weights(weights, options.weights, twice);
  std::vector<double> of_word(input.counts.distinct, 0.0);
  total_population = 0;
  bool any = false;
  for (std::uint64_t f = 0; f < input.lines; ++f) {
    double weight = 0;
    if (!next_weight(weights, weight)) too_few_weights(weights, f, input.lines);
    double scaled = weight * weights.scale;
    while (scaled > LARGEST_SUM - total_population) {
      scale_down(of_word, weights);
      scaled = weight * weights.scale;
    }
    of_word[input.frame_word[f]] += scaled;
    total_population += scaled;
    any = any || weight != 0;
  }
  expect_end(weights, input.lines);
  if (input.lines > 0 && !any) refuse(weights.name + ": every weight is zero");
  return of_word;
}

// --- Writing ---

void append_number(std::uint64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  output.append(digits, end);
}

void append_fixed1(double value) {
  char digits[400];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
  output.append(digits, end);
}

double share_percent(double population) {
  return input.lines == 0 ? 0.0 : population * 100.0 / total_population;
}

// The cells of each state, state by state, in visiting order within each.
void write_dictionary(const std::vector<std::uint32_t>& cluster) {
  const std::size_t n = land.cells.size();
  std::vector<std::size_t> first(basins.states.size() + 2, 0);
  for (std::uint32_t i = 0; i < n; ++i) ++first[cluster[i] + 1];
  for (std::size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  std::vector<std::uint32_t> ordered(n);
  for (std::uint32_t i = 0; i < n; ++i) ordered[first[cluster[i]]++] = i;
  // `first` now marks the ends; the cells of no state (cluster 0) come first.
  char word[MAX_LETTERS];
  for (std::size_t k = first[0]; k < n; ++k) {
    const std::uint32_t i = ordered[k];
    output.append(word, write_word(land.cells[i].key, input.letters, word));
    output += ' ';
    append_number(cluster[i]);
    output += '\n';
  }
}

void write_scan_table() {
  output += "barrier_kT states share_percent\n";
  for (int row = 1; row <= SCAN_ROWS; ++row) {
    const double barrier = row * SCAN_STEP;
    grow_basins(land, barrier, basins);
    choose_states(land, options.min_share, total_population, basins);
    append_fixed1(barrier);
    output += ' ';
    append_number(basins.states.size());
    output += ' ';
    append_fixed1(share_percent(basins.population_in_states));
    output += '\n';
  }
}

// The state files, from the frames' word numbers.
void write_states(const std::vector<std::uint32_t>& cluster) {
  const std::span<std::uint32_t> frames(input.frame_word, input.lines);
  assign_states(input.counts, land, basins, cluster, frames, tables);
  if (options.report != nullptr || options.transitions != nullptr) {
    follow_visits(frames, options.segments, tables);
  }
  if (options.report != nullptr && options.blocks != 0) {
    sum_blocks(frames, options.blocks, options.weights != nullptr ? &weights : nullptr, tables);
  }
  const double temperature = options.temperature;
  write_state_files(options, frames, tables, {total_population, temperature, input.letters});
}

void write_output() {
  const int error = pcgrid::write_fully(STDOUT_FILENO, output.data(), output.size());
  if (error != 0) refuse(std::string("cannot write standard output: ") + std::strerror(error));
}

void check_standard_output() {
  if (pcgrid::standard_descriptor_was_closed(STDOUT_FILENO)) {
    refuse(std::string("cannot write standard output: ") + std::strerror(EBADF));
  }
}

void write_summary() {
  output.clear();
  output += "wordclusters: ";
  append_number(input.lines);
  output += " lines, ";
  append_number(input.counts.distinct);
  output += " distinct words, ";
  append_number(land.cells.size());
  output += " cells of at least ";
  append_number(options.min_frames);
  output += options.min_frames == 1 ? " frame" : " frames";
  if (!options.scan) {
    output += ", ";
    append_number(basins.states.size());
    output += " states holding ";
    append_fixed1(share_percent(basins.population_in_states));
    output += "% of the frames";
  }
  output += '\n';
  std::fputs(output.c_str(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  refuse_when_memory_runs_out();
  options = read_options(argc, argv);
  check_standard_output();
  refuse_clashing_files(options);
  read_input();
  check_frame_counts();
  std::vector<double> weighted;
  if (options.weights != nullptr) weighted = weigh_words();
  map_cells(input.counts, input.letters, options.min_frames, input.keep_frames, weighted, land);
  weighted = {};
  if (land.cells.size() >= UINT32_MAX) refuse("more than 4294967294 cells of at least N frames");
  if (options.scan) {
    write_scan_table();
  } else {
    grow_basins(land, options.barrier, basins);
    choose_states(land, options.min_share, total_population, basins);
    const std::vector<std::uint32_t> cluster = clusters_of_cells(land, basins);
    write_dictionary(cluster);
    if (input.keep_frames) write_states(cluster);
  }
  write_output();
  finish_state_files();
  write_summary();
  return 0;
}
