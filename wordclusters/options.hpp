// wordclusters' command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wordclusters {

struct Options {
  std::uint64_t min_frames = 2;
  double barrier = 1.0;
  double min_share = 1.0;
  bool scan = false;
  const char* file = nullptr;  // null: standard input
  // The state files; null when not asked for.
  const char* report = nullptr;
  const char* ndx = nullptr;
  const char* trajectory = nullptr;
  const char* transitions = nullptr;
  const char* weights = nullptr;  // "-": standard input
  bool segments_given = false;
  std::vector<std::uint64_t> segments;      // frames of each, in order
  std::vector<std::string> segment_names;   // of each: its own, or its number from 1
  const char* by_segment = nullptr;         // a state file too
  bool counts = false;                      // write the counted words, not the dictionary
  bool counted = false;                     // the files are count files, not words
  std::vector<const char*> count_files;     // with `counted`; empty: standard input
  const char* dictionary = nullptr;         // the states to assign the frames to
  std::uint64_t blocks = 0;             // 0: none
  double temperature = 0;               // kelvin; 0: free energies in kT
};

// A state file asked for: its option and its name.
struct NamedOutput {
  const char* option;
  const char* name;
};
std::vector<NamedOutput> state_outputs(const Options& options);

// Reads the command line; prints the help or the version and exits, or
// exits with status 2 after a usage error.
Options read_options(int argc, char** argv);

// Whether any option asks for the frames' states.
bool keeps_frames(const Options& options);

}  // namespace wordclusters
