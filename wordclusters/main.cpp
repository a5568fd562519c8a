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
#include "count_files.hpp"
#include "dictionary.hpp"
#include "descriptor_io.hpp"
#include "file_clashes.hpp"
#include "options.hpp"
#include "refusal.hpp"
#include "standard_descriptors.hpp"
#include "state_files.hpp"
#include "states.hpp"
#include "thread_pool.hpp"
#include "thread_stacks.hpp"
#include "weights.hpp"
#include "word_reader.hpp"

namespace {

using namespace wordclusters;

constexpr double SCAN_STEP = 0.5;  // kT between the barriers of --scan, from 0.5 to 4
constexpr int SCAN_ROWS = 8;

// --- Reading ---

int open_input(const Options& options, std::string& name) {
  if (options.file == nullptr || std::string_view(options.file) == "-") {
    if (pcgrid::standard_descriptor_was_closed(STDIN_FILENO)) {
      refuse(name + ": cannot read: " + std::strerror(EBADF));
    }
    return STDIN_FILENO;
  }
  name = options.file;
  const int fd = ::open(options.file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(name + ": cannot open: " + std::strerror(errno));
  return fd;
}

void read_input(const Options& options, WordInput& input) {
  std::string name = "standard input";
  const int fd = open_input(options, name);
  input.keep_frames = keeps_frames(options);
  if (!read_words(fd, input)) {
    if (input.error == WordError::out_of_memory) refuse(describe_error(input));
    refuse(name + (error_has_line(input.error) ? ":" + std::to_string(input.lines + 1) : "") +
           ": " + describe_error(input));
  }
  if (fd != STDIN_FILENO) ::close(fd);
}

// The count files, added up as if their words were read.
void read_count_files(const Options& options, WordInput& input) {
  start_counting(input.counts);
  CountReading reading;
  std::vector<const char*> names = options.count_files;
  if (names.empty()) names.push_back("-");
  for (const char* path : names) {
    const bool standard_input = std::string_view(path) == "-";
    const std::string name = standard_input ? "standard input" : path;
    int fd = STDIN_FILENO;
    if (standard_input && pcgrid::standard_descriptor_was_closed(STDIN_FILENO)) {
      refuse(name + ": cannot read: " + std::strerror(EBADF));
    }
    if (!standard_input) fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) refuse(name + ": cannot open: " + std::strerror(errno));
    if (!read_counts(fd, input.counts, reading)) {
      refuse(name +
             (reading.error == CountError::read_failed
                  ? ""
                  : ":" + std::to_string(reading.line + 1)) +
             ": " + describe_count_error(reading));
    }
    if (!standard_input) ::close(fd);
  }
  input.letters = reading.letters;
  input.lines = reading.frames;
}

// --segments and --blocks against the frames read.
void check_frame_counts(const Options& options, std::uint64_t frames) {
  if (options.segments_given) {
    std::uint64_t sum = 0;
    for (const std::uint64_t segment : options.segments) sum += segment;
    if (sum != frames) {
      refuse("--segments adds up to " + std::to_string(sum) + " frames, the input has " +
             std::to_string(frames));
    }
  }
  if (options.blocks > frames) {
    refuse("--blocks " + std::to_string(options.blocks) + " is more than the " +
           std::to_string(frames) + " frames of the input");
  }
}

// The words' populations (by word number; empty: their frames) and the total.
struct Populations {
  std::vector<double> of_word;
  double total = 0;
};

// Weights near the largest double would overflow their sum, and 100 times a
// population. So the sums stay below 2^1000: when the next weight would take
// the total above that, every weight, those already summed included, is
// taken times 2^-128 more. Scaling by a power of two changes no ratio and
// rounds no sum differently, so the dictionary and the state files do not
// depend on the weights' scale; ordinary weights are never scaled.
constexpr double LARGEST_SUM = 0x1p1000;
constexpr double SCALE_STEP = 0x1p-128;

void scale_down(Populations& populations, WeightFile& file) {
  for (double& population : populations.of_word) population *= SCALE_STEP;
  populations.total *= SCALE_STEP;
  file.scale *= SCALE_STEP;
}

// Each word's population as the sum of its frames' weights, in frame order.
Populations weigh_words(const Options& options, const WordInput& input, WeightFile& weights) {
  const bool twice = (options.blocks != 0 && options.report != nullptr) ||
                     options.by_segment != nullptr;
  open_weights(weights, options.weights, twice);
  Populations populations{std::vector<double>(input.counts.distinct, 0.0), 0};
  bool any = false;
  for (std::uint64_t f = 0; f < input.lines; ++f) {
    double weight = 0;
    if (!next_weight(weights, weight)) too_few_weights(weights, f, input.lines);
    double scaled = weight * weights.scale;
    while (scaled > LARGEST_SUM - populations.total) {
      scale_down(populations, weights);
      scaled = weight * weights.scale;
    }
    populations.of_word[input.frame_word[f]] += scaled;
    populations.total += scaled;
    any = any || weight != 0;
  }
  expect_end(weights, input.lines);
  if (input.lines > 0 && !any) refuse(weights.name + ": every weight is zero");
  return populations;
}

// --- Writing ---

void append_number(std::string& output, std::uint64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  output.append(digits, end);
}

void append_fixed1(std::string& output, double value) {
  char digits[400];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
  output.append(digits, end);
}

double share_percent(double population, double total) {
  return total == 0 ? 0.0 : population * 100.0 / total;
}

// The cells of each state, state by state, in visiting order within each.
void write_dictionary(const Landscape& land, const Basins& basins,
                      const std::vector<std::uint32_t>& cluster, int letters, std::string& output) {
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
    output.append(word, write_word(land.cells[i].key, letters, word));
    output += ' ';
    append_number(output, cluster[i]);
    output += '\n';
  }
}

void write_scan_table(const Landscape& land, const Options& options, double total,
                      Basins& basins, std::string& output) {
  output += "barrier_kT states share_percent\n";
  for (int row = 1; row <= SCAN_ROWS; ++row) {
    const double barrier = row * SCAN_STEP;
    grow_basins(land, barrier, basins);
    choose_states(land, options.min_share, total, basins);
    append_fixed1(output, barrier);
    output += ' ';
    append_number(output, basins.states.size());
    output += ' ';
    append_fixed1(output, share_percent(basins.population_in_states, total));
    output += '\n';
  }
}

// The state files, from the frames' word numbers.
void write_states(const Options& options, WordInput& input, const Landscape& land,
                  const Basins& basins, const std::vector<std::uint32_t>& cluster,
                  WeightFile& weights, double total, StateFiles& files) {
  const std::span<std::uint32_t> frames(input.frame_word, input.lines);
  StateTables tables;
  assign_states(input.counts, land, basins, cluster, frames, tables);
  if (options.report != nullptr || options.transitions != nullptr) {
    follow_visits(frames, options.segments, tables);
  }
  const std::uint64_t blocks = options.report != nullptr ? options.blocks : 0;
  const std::vector<std::uint64_t> no_segments;
  const std::vector<std::uint64_t>& segments =
      options.by_segment != nullptr ? options.segments : no_segments;
  if (blocks != 0 || !segments.empty()) {
    sum_parts(frames, blocks, segments, options.weights != nullptr ? &weights : nullptr, tables);
  }
  write_state_files(files, frames, tables,
                    {total, options.temperature, input.letters, &options.segment_names});
}

void write_output(const std::string& output) {
  const int error = pcgrid::write_fully(STDOUT_FILENO, output.data(), output.size());
  if (error != 0) refuse(std::string("cannot write standard output: ") + std::strerror(error));
}

void check_standard_output() {
  if (pcgrid::standard_descriptor_was_closed(STDOUT_FILENO)) {
    refuse(std::string("cannot write standard output: ") + std::strerror(EBADF));
  }
}

void write_summary(const Options& options, const WordInput& input, const Landscape& land,
                   const Basins& basins, double total) {
  std::string line = "wordclusters: ";
  append_number(line, input.lines);
  line += " lines, ";
  append_number(line, input.counts.distinct);
  line += " distinct words";
  if (!options.counts) {
    line += ", ";
    append_number(line, land.cells.size());
    if (options.dictionary != nullptr) {
      line += " cells of the dictionary";
    } else {
      line += " cells of at least ";
      append_number(line, options.min_frames);
      line += options.min_frames == 1 ? " frame" : " frames";
    }
  }
  if (!options.counts && !options.scan) {
    line += ", ";
    append_number(line, basins.states.size());
    line += " states holding ";
    append_fixed1(line, share_percent(basins.population_in_states, total));
    line += "% of the frames";
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  refuse_when_memory_runs_out();
  const Options options = read_options(argc, argv);
  pcgrid::limit_thread_stacks();
  pcgrid::start_thread_pool();
  check_standard_output();
  refuse_clashing_files(options);
  StateFiles files;
  begin_state_files(options, files);
  WordInput input;
  if (options.counted) {
    read_count_files(options, input);
  } else {
    read_input(options, input);
  }
  check_frame_counts(options, input.lines);
  std::string output;
  if (options.counts) {
    append_counts(input.counts, input.letters, output);
    write_output(output);
    write_summary(options, input, Landscape{}, Basins{}, 0);
    return 0;
  }
  const Dictionary dictionary =
      options.dictionary != nullptr ? read_dictionary(options.dictionary, input.letters)
                                    : Dictionary{};
  if (input.letters == 0) input.letters = dictionary.letters;  // no frames: the peaks' words
  WeightFile weights;
  Populations populations{{}, static_cast<double>(input.lines)};
  if (options.weights != nullptr) populations = weigh_words(options, input, weights);
  Landscape land;
  Basins basins;
  std::vector<std::uint32_t> cluster;
  if (options.dictionary != nullptr) {
    map_dictionary(dictionary, input.counts, populations.of_word, land, basins, cluster);
  } else {
    map_cells(input.counts, input.letters, options.min_frames, input.keep_frames,
              populations.of_word, land);
  }
  populations.of_word = {};
  if (land.cells.size() >= UINT32_MAX) refuse("more than 4294967294 cells of at least N frames");
  if (options.scan) {
    write_scan_table(land, options, populations.total, basins, output);
  } else if (options.dictionary == nullptr) {
    grow_basins(land, options.barrier, basins);
    choose_states(land, options.min_share, populations.total, basins);
    cluster = clusters_of_cells(land, basins);
    write_dictionary(land, basins, cluster, input.letters, output);
  }
  if (input.keep_frames && !options.scan) {
    write_states(options, input, land, basins, cluster, weights, populations.total, files);
  }
  write_output(output);
  finish_state_files(files);
  write_summary(options, input, land, basins, populations.total);
  return 0;
}
