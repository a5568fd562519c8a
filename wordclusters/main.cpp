// wordclusters: the metastable states of a set of words, as a dictionary.
//
// Reads lettercode's words, one per line, counts the frames of every
// distinct word (a cell of the grid), grows basins from the most populated
// cells down through neighbouring cells, merges basins separated by a low
// barrier, and writes the cells of every basin holding enough of the frames
// as "WORD CLUSTER" lines, cluster 1 the most populated. A summary goes to
// standard error.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "basins.hpp"
#include "descriptor_io.hpp"
#include "standard_descriptors.hpp"
#include "word_counts.hpp"

namespace {

using namespace wordclusters;

constexpr std::string_view VERSION = PCGRID_VERSION;
constexpr std::size_t READ_BLOCK = std::size_t{1} << 20;
constexpr double SCAN_STEP = 0.5;  // kT between the barriers of --scan, from 0.5 to 4
constexpr int SCAN_ROWS = 8;

constexpr char USAGE[] =
    "Usage: wordclusters [--min-frames N] [--barrier B] [--min-share P] [--scan] [FILE]\n"
    "Reads lettercode's words, one per line, from FILE or standard input, and\n"
    "writes the cells of every metastable state as \"WORD CLUSTER\" lines.\n"
    "\n"
    "  --min-frames N  cells of fewer than N frames join no basin (default 2)\n"
    "  --barrier B     basins separated by less than B kT become one (default 1)\n"
    "  --min-share P   basins holding at least P% of the frames are states (default 1)\n"
    "  --scan          instead, a table of states and their share for barriers 0.5 to 4 kT\n"
    "  --help          this help\n"
    "  --version       the version\n";

struct Options {
  std::uint64_t min_frames = 2;
  double barrier = 1.0;
  double min_share = 1.0;
  bool scan = false;
  const char* file = nullptr;  // null: standard input
};

Options options;
std::string input_name = "standard input";
WordCounts counts;
int letters = 0;  // of every word: the first line's
std::uint64_t lines = 0;
Landscape land;
Basins basins;
char block[READ_BLOCK + MAX_LETTERS];
std::string output;

[[noreturn]] void usage_error(const std::string& what) {
  std::fprintf(stderr, "wordclusters: %s (see wordclusters --help)\n", what.c_str());
  std::exit(2);
}

[[noreturn]] void refuse(const std::string& what) {
  std::fprintf(stderr, "wordclusters: %s\n", what.c_str());
  std::exit(1);
}

[[noreturn]] void refuse_line(const std::string& what) {
  refuse(input_name + ":" + std::to_string(lines + 1) + ": " + what);
}

// --- The command line ---

template <typename Number>
bool parse_number(std::string_view text, Number& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

void set_option(std::string_view name, std::string_view value) {
  const std::string quoted = "'" + std::string(value) + "'";
  if (name == "--min-frames") {
    if (!parse_number(value, options.min_frames) || options.min_frames < 1) {
      usage_error("--min-frames needs a whole number of at least 1, not " + quoted);
    }
  } else if (name == "--barrier") {
    if (!parse_number(value, options.barrier) || !std::isfinite(options.barrier) ||
        options.barrier < 0) {
      usage_error("--barrier needs a number of kT of at least 0, not " + quoted);
    }
  } else {
    if (!parse_number(value, options.min_share) || !(options.min_share >= 0) ||
        !(options.min_share <= 100)) {
      usage_error("--min-share needs a percentage from 0 to 100, not " + quoted);
    }
  }
}

bool takes_value(std::string_view name) {
  return name == "--min-frames" || name == "--barrier" || name == "--min-share";
}

void read_options(int argc, char** argv) {
  bool options_end = false;
  for (int a = 1; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (options_end || arg == "-" || !arg.starts_with("-")) {
      if (options.file != nullptr)
        usage_error("one input file at most, not also '" + std::string(arg) + "'");
      options.file = argv[a];
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    if (arg == "--") {
      options_end = true;
    } else if (arg == "--help") {
      std::fputs(USAGE, stdout);
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    } else if (arg == "--version") {
      std::printf("wordclusters (pcgrid) %.*s\n", static_cast<int>(VERSION.size()), VERSION.data());
      std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    } else if (arg == "--scan") {
      options.scan = true;
    } else if (takes_value(name) && equals != std::string_view::npos) {
      set_option(name, arg.substr(equals + 1));
    } else if (takes_value(name)) {
      if (a + 1 == argc) usage_error(std::string(name) + " needs a value");
      set_option(name, argv[++a]);
    } else {
      usage_error("unknown option '" + std::string(arg) + "'");
    }
  }
  if (options.file != nullptr && std::string_view(options.file) != "-") input_name = options.file;
}

// --- Reading and counting ---

std::string describe_byte(unsigned char c, std::size_t column) {
  const std::string where = " at column " + std::to_string(column);
  if (c == '\r') return "a carriage return" + where + " (lines must end with a newline alone)";
  if (c > ' ' && c < 0x7f) {
    return "'" + std::string(1, static_cast<char>(c)) + "'" + where +
           " is not a letter of the code (A-Z, a-z)";
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", c);
  return std::string("byte ") + hex + where + " is not a letter of the code (A-Z, a-z)";
}

// Words wait in a short queue between finding their slot and being counted
// in it, so that the slot can be fetched from memory meanwhile.
constexpr int QUEUE = 16;
std::uint64_t queue[QUEUE];
int queued = 0;

void count_queued_words() {
  for (int q = 0; q < queued; ++q) count_word(counts, queue[q]);
  queued = 0;
}

void queue_word(std::uint64_t key) {
  __builtin_prefetch(&counts.slots[home_slot(counts, key)], 1);
  queue[queued++] = key;
  if (queued == QUEUE) count_queued_words();
}

// One complete line of `size` bytes, its newline not included.
void take_word(const char* line, std::size_t size) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const int letter = LETTER_INDEX[static_cast<unsigned char>(line[i])];
    if (letter < 0) refuse_line(describe_byte(static_cast<unsigned char>(line[i]), i + 1));
    if (i == MAX_LETTERS) refuse_line("a word of more than 10 letters");
    key = key << LETTER_BITS | static_cast<std::uint64_t>(letter);
  }
  if (size == 0) refuse_line("an empty line");
  if (letters == 0) letters = static_cast<int>(size);
  if (size != static_cast<std::size_t>(letters)) {
    refuse_line("a word of " + std::to_string(size) + " letters, but the first word has " +
                std::to_string(letters));
  }
  queue_word(key);
  ++lines;
}

// The complete lines of block[0 .. end); returns where the unfinished last
// line begins. An unfinished line of more than 10 bytes is refused now.
std::size_t take_lines(std::size_t end) {
  const char* p = block;
  const char* const stop = block + end;
  while (const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(stop - p))) {
    const char* line_end = static_cast<const char*>(newline);
    take_word(p, static_cast<std::size_t>(line_end - p));
    p = line_end + 1;
  }
  if (static_cast<std::size_t>(stop - p) > MAX_LETTERS) take_word(p, MAX_LETTERS + 1);
  return static_cast<std::size_t>(p - block);
}

int open_input() {
  if (options.file == nullptr || std::string_view(options.file) == "-") return STDIN_FILENO;
  const int fd = ::open(options.file, O_RDONLY);
  if (fd < 0) refuse(input_name + ": cannot open: " + std::strerror(errno));
  return fd;
}

void count_words() {
  const int fd = open_input();
  start_counting(counts);
  std::size_t kept = 0;  // bytes of an unfinished line at the start of the block
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block + kept, READ_BLOCK);
    if (got < 0) refuse(input_name + ": cannot read: " + std::strerror(errno));
    if (got == 0) break;
    const std::size_t end = kept + static_cast<std::size_t>(got);
    const std::size_t taken = take_lines(end);
    kept = end - taken;
    std::memmove(block, block + taken, kept);
  }
  if (kept > 0) take_word(block, kept);  // the last line, without a newline
  count_queued_words();
  if (fd != STDIN_FILENO) ::close(fd);
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

double share_percent(std::uint64_t frames) {
  return lines == 0 ? 0.0 : static_cast<double>(frames) * 100.0 / static_cast<double>(lines);
}

void append_word(std::uint64_t key) {
  for (int position = letters - 1; position >= 0; --position) {
    output += letter_of(static_cast<int>((key >> (LETTER_BITS * position)) & 63));
  }
}

// The cells of each state, state by state, in visiting order within each.
void write_dictionary() {
  const std::size_t n = land.cells.size();
  std::vector<std::uint32_t> cluster_of_peak(n, 0);
  for (std::size_t s = 0; s < basins.states.size(); ++s) {
    cluster_of_peak[basins.states[s]] = static_cast<std::uint32_t>(s + 1);
  }
  std::vector<std::size_t> first(basins.states.size() + 2, 0);
  std::vector<std::uint32_t> cluster(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    cluster[i] = cluster_of_peak[basin_of(basins, i)];
    ++first[cluster[i] + 1];
  }
  for (std::size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  std::vector<std::uint32_t> ordered(n);
  for (std::uint32_t i = 0; i < n; ++i) ordered[first[cluster[i]]++] = i;
  // `first` now marks the ends; the cells of no state (cluster 0) come first.
  for (std::size_t k = first[0]; k < n; ++k) {
    const std::uint32_t i = ordered[k];
    append_word(land.cells[i].key);
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
    choose_states(land, options.min_share, lines, basins);
    append_fixed1(barrier);
    output += ' ';
    append_number(basins.states.size());
    output += ' ';
    append_fixed1(share_percent(basins.frames_in_states));
    output += '\n';
  }
}

void write_output() {
  const int error = pcgrid::write_fully(STDOUT_FILENO, output.data(), output.size());
  if (error != 0) refuse(std::string("cannot write standard output: ") + std::strerror(error));
}

void write_summary() {
  output.clear();
  output += "wordclusters: ";
  append_number(lines);
  output += " lines, ";
  append_number(counts.distinct);
  output += " distinct words, ";
  append_number(land.cells.size());
  output += " cells of at least ";
  append_number(options.min_frames);
  output += " frames";
  if (!options.scan) {
    output += ", ";
    append_number(basins.states.size());
    output += " states holding ";
    append_fixed1(share_percent(basins.frames_in_states));
    output += "% of the frames";
  }
  output += '\n';
  std::fputs(output.c_str(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  read_options(argc, argv);
  count_words();
  map_cells(counts, letters, options.min_frames, land);
  if (land.cells.size() >= UINT32_MAX) refuse("more than 4294967294 cells of at least N frames");
  if (options.scan) {
    write_scan_table();
  } else {
    grow_basins(land, options.barrier, basins);
    choose_states(land, options.min_share, lines, basins);
    write_dictionary();
  }
  write_output();
  write_summary();
  return 0;
}
