#include "state_files.hpp"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "descriptor_io.hpp"
#include "refusal.hpp"
#include "whole_file.hpp"

namespace wordclusters {

namespace {

constexpr double BOLTZMANN_KJ = 0.0083144626;  // kJ/(mol K)
constexpr int PER_LINE = 15;                   // frame numbers on a line of the index file
constexpr std::size_t MEMBER_BYTES = 11;       // at most, a number and its separator
constexpr std::size_t BATCH_BYTES = std::size_t{32} << 20;  // index groups made in one pass

// --- Writing through one buffer, to one file at a time ---

constexpr std::size_t BUFFER = std::size_t{1} << 20;
constexpr std::size_t ROOM = 512;  // for any one item

struct Writer {
  StateFile* file = nullptr;
  std::vector<char> buffer = std::vector<char>(BUFFER + ROOM);
  std::size_t used = 0;
};

[[noreturn]] void cannot(const char* name, const char* what) {
  refuse(std::string(name) + ": " + what + ": " + std::strerror(errno));
}

void write_bytes(Writer& w, const char* data, std::size_t size) {
  const int error = pcgrid::write_fully(w.file->file.fd, data, size);
  if (error != 0) {
    errno = error;
    cannot(w.file->name, "cannot write");
  }
}

void flush(Writer& w) {
  write_bytes(w, w.buffer.data(), w.used);
  w.used = 0;
}

// Room for one item of at most ROOM bytes.
char* room(Writer& w) {
  if (w.used >= BUFFER) flush(w);
  return w.buffer.data() + w.used;
}

// Counts the bytes put from room(w) up to `end`.
void taken(Writer& w, const char* end) {
  w.used = static_cast<std::size_t>(end - w.buffer.data());
}

void put(Writer& w, std::string_view text) {
  std::memcpy(room(w), text.data(), text.size());
  w.used += text.size();
}

void put_number(Writer& w, std::uint64_t value) {
  char* at = room(w);
  taken(w, std::to_chars(at, at + 24, value).ptr);
}

// `value` with `decimals` decimals, as "%.*f" writes it, but never "-0.000".
void put_fixed(Writer& w, double value, int decimals) {
  char digits[400];
  const char* end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals).ptr;
  const char* start = digits;
  if (*start == '-' && std::all_of(start + 1, end, [](char c) { return c == '0' || c == '.'; })) {
    ++start;
  }
  put(w, {start, static_cast<std::size_t>(end - start)});
}

// The k-th of n numbers of an index group (from 0), with its separator.
char* put_member(char* at, std::uint64_t frame, std::uint64_t k, std::uint64_t n) {
  if (k % PER_LINE != 0) *at++ = ' ';
  at = std::to_chars(at, at + 20, frame).ptr;
  if (k % PER_LINE == PER_LINE - 1 || k + 1 == n) *at++ = '\n';
  return at;
}

// --- The report ---

// -ln(a / b) for a, b > 0, also where a / b is beyond the normal doubles
// (which it cannot be for ordinary populations, whose figures it leaves as
// they are).
double minus_log_ratio(double a, double b) {
  const double ratio = a / b;
  return std::isnormal(ratio) ? -std::log(ratio) : std::log(b) - std::log(a);
}

// s / sqrt(K), with s the sample standard deviation (divisor K - 1).
double standard_error(const std::vector<double>& values) {
  double sum = 0;
  for (const double v : values) sum += v;
  const auto k = static_cast<double>(values.size());
  const double mean = sum / k;
  double squares = 0;
  for (const double v : values) squares += (v - mean) * (v - mean);
  return std::sqrt(squares / (k - 1)) / std::sqrt(k);
}

void put_error(Writer& w, bool defined, const std::vector<double>& values) {
  if (defined) {
    put_fixed(w, standard_error(values), 3);
  } else {
    put(w, "-");
  }
}

void put_report_line(Writer& w, std::uint32_t s, const StateTables& tables, const ReportSettings& settings) {
  const double unit = settings.temperature == 0 ? 1.0 : BOLTZMANN_KJ * settings.temperature;
  const std::size_t row = tables.states + 1;
  std::vector<double> shares, energies;
  shares.reserve(tables.blocks);
  energies.reserve(tables.blocks);
  bool shares_defined = tables.blocks != 0, energies_defined = tables.blocks != 0;
  for (std::uint64_t b = 0; b < tables.blocks; ++b) {
    const double block = tables.block_population[b];
    const double in_state = tables.block_state[b * row + s];
    const double in_first = tables.block_state[b * row + 1];
    shares_defined = shares_defined && block != 0;
    energies_defined = energies_defined && in_state != 0 && in_first != 0;
    if (shares_defined) shares.push_back(in_state * 100.0 / block);
    if (energies_defined) energies.push_back(minus_log_ratio(in_state, in_first) * unit);
  }
  put_number(w, s);
  put(w, "\t");
  put_number(w, tables.frames[s]);
  put(w, "\t");
  if (settings.total_population != 0) {
    put_fixed(w, tables.population[s] * 100.0 / settings.total_population, 3);
  } else {
    put(w, "-");  // a dictionary's state, and no frames
  }
  put(w, "\t");
  put_error(w, shares_defined, shares);
  put(w, "\t");
  if (tables.population[s] != 0 && tables.population[1] != 0) {
    put_fixed(w, minus_log_ratio(tables.population[s], tables.population[1]) * unit, 3);
  } else {
    put(w, "-");
  }
  put(w, "\t");
  put_error(w, energies_defined, energies);
  put(w, "\t");
  char* at = room(w);
  taken(w, write_word(tables.peak[s], settings.letters, at));
  put(w, "\t");
  if (tables.representative[s] != 0) {
    put_number(w, tables.representative[s]);
  } else {
    put(w, "-");  // a dictionary's state whose peak is in no frame
  }
  put(w, "\t");
  put_number(w, tables.visits[s]);
  put(w, "\t");
  if (tables.ended_visits[s] != 0) {
    put_fixed(w,
        static_cast<double>(tables.ended_frames[s]) / static_cast<double>(tables.ended_visits[s]),
        1);
  } else {
    put(w, "-");
  }
  put(w, "\n");
}

void write_report(Writer& w, const StateTables& tables, const ReportSettings& settings) {
  put(w, settings.temperature == 0
          ? "state\tframes\tshare\tshare_err\tdF_kT\tdF_"
            "err\tpeak\trepresentative\tvisits\tlifetime\n"
          : "state\tframes\tshare\tshare_err\tdF_kJmol\tdF_err\tpeak\trepresentative\tvisits\t"
            "lifetime\n");
  for (std::uint32_t s = 1; s <= tables.states; ++s) put_report_line(w, s, tables, settings);
}

// --- The index file ---

void put_header(Writer& w, std::uint32_t s) {
  put(w, "[ state_");
  put_number(w, s);
  put(w, " ]\n");
}

// One group too large to share a pass: streamed.
void write_group(Writer& w, std::span<const std::uint32_t> state, std::uint32_t s,
                 std::uint64_t n) {
  put_header(w, s);
  std::uint64_t k = 0;
  for (std::size_t f = 0; f < state.size(); ++f) {
    if (state[f] != s) continue;
    taken(w, put_member(room(w), f + 1, k++, n));
  }
}

// Groups first .. last, made together in one pass over the frames.
void write_groups(Writer& w, std::span<const std::uint32_t> state, std::uint32_t first, std::uint32_t last,
                  const StateTables& tables) {
  const std::uint32_t count = last - first + 1;
  std::vector<std::size_t> start(count + 1, 0);
  for (std::uint32_t g = 0; g < count; ++g) {
    start[g + 1] = start[g] + MEMBER_BYTES * tables.frames[first + g];
  }
  std::vector<char> text(start[count]);
  std::vector<char*> at(count);
  std::vector<std::uint64_t> k(count, 0);
  for (std::uint32_t g = 0; g < count; ++g) at[g] = text.data() + start[g];
  for (std::size_t f = 0; f < state.size(); ++f) {
    const std::uint32_t g = state[f] - first;  // wraps for states outside the batch
    if (g >= count) continue;
    at[g] = put_member(at[g], f + 1, k[g]++, tables.frames[first + g]);
  }
  for (std::uint32_t g = 0; g < count; ++g) {
    put_header(w, first + g);
    flush(w);
    write_bytes(w, text.data() + start[g], static_cast<std::size_t>(at[g] - (text.data() + start[g])));
  }
}

void write_ndx(Writer& w, std::span<const std::uint32_t> state, const StateTables& tables) {
  if (tables.states == 0) return;
  for (std::uint32_t first = 1; first <= tables.states;) {
    std::uint32_t last = first;
    std::size_t bytes = MEMBER_BYTES * tables.frames[first];
    while (last < tables.states && bytes + MEMBER_BYTES * tables.frames[last + 1] <= BATCH_BYTES) {
      bytes += MEMBER_BYTES * tables.frames[++last];
    }
    if (bytes > BATCH_BYTES) {
      write_group(w, state, first, tables.frames[first]);
    } else {
      write_groups(w, state, first, last, tables);
    }
    first = last + 1;
  }
  put(w, "[ representatives ]\n");
  const auto shown = static_cast<std::uint64_t>(
      tables.representative.size() - 1 -
      std::count(tables.representative.begin() + 1, tables.representative.end(), 0));
  std::uint64_t k = 0;
  for (std::uint32_t s = 1; s <= tables.states; ++s) {
    if (tables.representative[s] == 0) continue;  // its peak is in no frame
    taken(w, put_member(room(w), tables.representative[s], k++, shown));
  }
}

// --- The states segment by segment ---

void write_by_segment(Writer& w, const StateTables& tables, const ReportSettings& settings,
                      const std::vector<std::string>& names) {
  const double unit = settings.temperature == 0 ? 1.0 : BOLTZMANN_KJ * settings.temperature;
  const std::size_t row = tables.states + 1;
  put(w, "state");
  for (const std::string& name : names) {
    for (const char* column : {"_frames", "_share", settings.temperature == 0 ? "_dF_kT" : "_dF_kJmol"}) {
      put(w, "\t");
      put(w, name);  // at most 64 bytes
      put(w, column);
    }
  }
  put(w, "\tmean_share\tshare_err\n");
  std::vector<double> shares;
  shares.reserve(tables.segments);
  for (std::uint32_t s = 1; s <= tables.states; ++s) {
    put_number(w, s);
    shares.clear();
    bool shares_defined = true;
    for (std::uint64_t g = 0; g < tables.segments; ++g) {
      const double segment = tables.segment_population[g];
      const double in_state = tables.segment_state[g * row + s];
      const double in_first = tables.segment_state[g * row + 1];
      put(w, "\t");
      put_number(w, tables.segment_frames[g * row + s]);
      put(w, "\t");
      if (segment != 0) {
        shares.push_back(in_state * 100.0 / segment);
        put_fixed(w, shares.back(), 3);
      } else {
        shares_defined = false;
        put(w, "-");
      }
      put(w, "\t");
      if (in_state != 0 && in_first != 0) {
        put_fixed(w, minus_log_ratio(in_state, in_first) * unit, 3);
      } else {
        put(w, "-");
      }
    }
    put(w, "\t");
    if (shares_defined) {
      double sum = 0;
      for (const double share : shares) sum += share;
      put_fixed(w, sum / static_cast<double>(shares.size()), 3);
    } else {
      put(w, "-");
    }
    put(w, "\t");
    put_error(w, shares_defined && shares.size() >= 2, shares);
    put(w, "\n");
  }
}

// --- The frames' states and the transitions ---

void write_trajectory(Writer& w, std::span<const std::uint32_t> state) {
  for (const std::uint32_t s : state) {
    char* at = room(w);
    at = std::to_chars(at, at + 12, s).ptr;
    *at++ = '\n';
    taken(w, at);
  }
}

void write_transitions(Writer& w, const StateTables& tables) {
  for (const auto& [pair, count] : tables.transitions) {
    put_number(w, pair >> 32);
    put(w, " ");
    put_number(w, pair & 0xFFFFFFFFu);
    put(w, " ");
    put_number(w, count);
    put(w, "\n");
  }
}

}  // namespace

void begin_state_files(const Options& options, StateFiles& files) {
  for (const NamedOutput& out : state_outputs(options)) {
    StateFile& file = files.files[files.count++];
    file.option = out.option;
    file.name = out.name;
    if (const char* failed = pcgrid::begin_whole_file(file.file, out.name)) {
      cannot(out.name, failed);
    }
  }
}

void write_state_files(StateFiles& files, std::span<const std::uint32_t> state,
                       const StateTables& tables, const ReportSettings& settings) {
  Writer w;
  for (int i = 0; i < files.count; ++i) {
    w.file = &files.files[i];
    const std::string_view option = w.file->option;
    if (option == "--report") write_report(w, tables, settings);
    if (option == "--ndx") write_ndx(w, state, tables);
    if (option == "--trajectory") write_trajectory(w, state);
    if (option == "--transitions") write_transitions(w, tables);
    if (option == "--by-segment") write_by_segment(w, tables, settings, *settings.segment_names);
    flush(w);
  }
}

void finish_state_files(StateFiles& files) {
  for (int i = 0; i < files.count; ++i) {
    if (const char* failed = pcgrid::finish_whole_file(files.files[i].file)) {
      cannot(files.files[i].name, failed);
    }
  }
}

}  // namespace wordclusters
