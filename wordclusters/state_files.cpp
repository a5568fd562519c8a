#include "state_files.hpp"

#include <omp.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "descriptor_io.hpp"
#include "output.hpp"
#include "refusal.hpp"
#include "whole_file.hpp"

namespace wordclusters {

namespace {

constexpr double BOLTZMANN_KJ = 0.0083144626;  // kJ/(mol K)
constexpr int PER_LINE = 15;                   // frame numbers on a line of the index file
// At most, a frame's number or state (below 2^32: 10 digits) and its separator.
constexpr std::size_t MEMBER_BYTES = 11;
constexpr std::size_t BATCH_BYTES = std::size_t{32} << 20;  // index groups made in one pass
// A group larger than this is made on its own, its frames shared among the
// threads; the groups of a pass are shared among them whole.
constexpr std::size_t ALONE_BYTES = BATCH_BYTES / 4;

// --- Writing through one buffer, to one file at a time ---

constexpr std::size_t BUFFER = std::size_t{1} << 20;
constexpr std::size_t ROOM = 512;  // for any one item

[[noreturn]] void cannot(const char* name, const char* what) {
  refuse(std::string(name) + ": " + what + ": " + std::strerror(errno));
}

struct Writer {
  StateFile* file = nullptr;
  std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(BUFFER);
  pcgrid::OutputBuffer out{.fd = -1, .data = bytes.get(), .capacity = BUFFER, .filled = 0};

  // Ends the process when a write fails.
  auto failed() const {
    return [name = file->name](int error) {
      errno = error;
      cannot(name, "cannot write");
    };
  }
};

void start_file(Writer& w, StateFile& file) {
  w.file = &file;
  w.out.fd = file.file.fd;
}

void flush(Writer& w) {
  pcgrid::write_gathered(w.out, w.failed());
}

// Writes what is gathered, then `size` bytes of `data` as they are.
void write_through(Writer& w, const char* data, std::size_t size) {
  flush(w);
  const int error = pcgrid::write_fully(w.out.fd, data, size);
  if (error != 0) w.failed()(error);
}

// Room for one item of at most ROOM bytes.
char* room(Writer& w) {
  return pcgrid::room(w.out, ROOM, w.failed());
}

// Counts the bytes put from room(w) up to `end`.
void taken(Writer& w, const char* end) {
  pcgrid::commit(w.out, end);
}

void put(Writer& w, std::string_view text) {
  pcgrid::put(w.out, text, w.failed());
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

// --- Formatting on all threads ---
//
// The trajectory and the large groups of the index file are made in parts
// of FRAMES_PER_PART frames, whose texts can be told an upper bound. As
// many consecutive parts as BLOCK_ROOM holds make a block: its parts are
// formatted on all threads, each at its own place in the block's text,
// reserved once, and written in frame order. A part's text depends on its
// frames alone (and, in a group, on the number of members before it), so
// the bytes are those of one thread.

constexpr std::size_t FRAMES_PER_PART = std::size_t{1} << 14;
constexpr std::size_t BLOCK_ROOM = std::size_t{4} << 20;
static_assert(FRAMES_PER_PART * MEMBER_BYTES <= BLOCK_ROOM, "a block holds any part");

struct PartTexts {
  std::unique_ptr<char[]> block;   // BLOCK_ROOM bytes
  std::vector<std::size_t> start;  // of each part of a block in `block`
  std::vector<std::size_t> length;
  std::vector<std::uint64_t> before;  // of a group: its members before each part, and all of them
  std::size_t parts = 0;              // of the frames

  std::size_t part_first(std::size_t part) const { return part * FRAMES_PER_PART; }
};

PartTexts reserve_part_texts(std::size_t frames) {
  const std::size_t parts = (frames + FRAMES_PER_PART - 1) / FRAMES_PER_PART;
  return {std::make_unique_for_overwrite<char[]>(BLOCK_ROOM), std::vector<std::size_t>(parts),
          std::vector<std::size_t>(parts), std::vector<std::uint64_t>(parts + 1), parts};
}

// Writes `text` through the buffer, or as it is when it is large.
void put_text(Writer& w, const char* text, std::size_t size) {
  if (size >= BUFFER / 4) {
    write_through(w, text, size);
  } else {
    put(w, {text, size});
  }
}

// Formats every part p, of at most room(p) bytes, with format(p, at), which
// returns the end of its text, and writes the texts in order, a block at a
// time.
template <typename Room, typename Format>
void write_parts(Writer& w, PartTexts& texts, Room room, Format format) {
  char* const block = texts.block.get();
  for (std::size_t first = 0; first < texts.parts;) {
    std::size_t end = first, used = 0;
    while (end < texts.parts && used + room(end) <= BLOCK_ROOM) {
      texts.start[end] = used;
      used += room(end++);
    }
#pragma omp parallel for schedule(dynamic, 1) if (end - first > 1)
    for (std::size_t p = first; p < end; ++p) {
      if (room(p) == 0) {
        texts.length[p] = 0;
        continue;
      }
      char* const at = block + texts.start[p];
      texts.length[p] = static_cast<std::size_t>(format(p, at) - at);
    }
    for (std::size_t p = first; p < end; ++p) put_text(w, block + texts.start[p], texts.length[p]);
    first = end;
  }
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

// A group larger than ALONE_BYTES, made on its own: its members in each
// part are counted first, so that each part knows the position of its
// first member in the group.
void write_group(Writer& w, std::span<const std::uint32_t> state, std::uint32_t s,
                 std::uint64_t n, PartTexts& texts) {
  put_header(w, s);
  const auto part_end = [&](std::size_t p) {
    return std::min(state.size(), texts.part_first(p) + FRAMES_PER_PART);
  };
  std::uint64_t* const before = texts.before.data();
#pragma omp parallel for schedule(dynamic, 1) if (texts.parts > 1)
  for (std::size_t p = 0; p < texts.parts; ++p) {
    before[p + 1] = static_cast<std::uint64_t>(
        std::count(state.begin() + texts.part_first(p), state.begin() + part_end(p), s));
  }
  before[0] = 0;
  for (std::size_t p = 0; p < texts.parts; ++p) before[p + 1] += before[p];
  write_parts(
      w, texts, [&](std::size_t p) { return MEMBER_BYTES * (before[p + 1] - before[p]); },
      [&](std::size_t p, char* at) {
        std::uint64_t k = before[p];
        for (std::size_t f = texts.part_first(p); f < part_end(p); ++f) {
          if (state[f] == s) at = put_member(at, f + 1, k++, n);
        }
        return at;
      });
}

// The groups of one pass and their texts, reserved once for the largest pass.
struct Batch {
  std::uint32_t first, last;
  std::size_t bytes;  // at most, of the groups' members
  bool alone;         // one group larger than ALONE_BYTES
};

struct BatchTexts {
  std::unique_ptr<char[]> text;
  std::vector<std::size_t> start;  // of each group's text, and the end of the last
  std::vector<char*> at;           // where its next member goes
  std::vector<std::uint64_t> k;    // its members made
};

// The groups made together from `first` on: a group larger than ALONE_BYTES
// alone, or as many others as BATCH_BYTES holds.
Batch batch_from(std::uint32_t first, const StateTables& tables) {
  Batch batch{first, first, MEMBER_BYTES * tables.frames[first], false};
  batch.alone = batch.bytes > ALONE_BYTES;
  if (batch.alone) return batch;
  while (batch.last < tables.states) {
    const std::size_t next = MEMBER_BYTES * tables.frames[batch.last + 1];
    if (next > ALONE_BYTES || batch.bytes + next > BATCH_BYTES) break;
    batch.bytes += next;
    ++batch.last;
  }
  return batch;
}

// Groups first .. last, made together: the threads share them in runs of
// about equal size, and each passes over all the frames for its own.
void write_groups(Writer& w, std::span<const std::uint32_t> state, const Batch& batch,
                  const StateTables& tables, BatchTexts& texts) {
  const std::uint32_t count = batch.last - batch.first + 1;
  std::size_t* const start = texts.start.data();
  char** const at = texts.at.data();
  std::uint64_t* const k = texts.k.data();
  start[0] = 0;
  for (std::uint32_t g = 0; g < count; ++g) {
    start[g + 1] = start[g] + MEMBER_BYTES * tables.frames[batch.first + g];
    at[g] = texts.text.get() + start[g];
    k[g] = 0;
  }
#pragma omp parallel if (count > 1)
  {
    // This thread's groups: those whose text begins in its share of the bytes.
    const auto threads = static_cast<std::size_t>(omp_get_num_threads());
    const auto thread = static_cast<std::size_t>(omp_get_thread_num());
    const std::uint32_t lowest = static_cast<std::uint32_t>(
        std::lower_bound(start, start + count, start[count] * thread / threads) - start);
    const std::uint32_t highest =
        thread + 1 == threads
            ? count
            : static_cast<std::uint32_t>(
                  std::lower_bound(start, start + count, start[count] * (thread + 1) / threads) -
                  start);
    const std::uint32_t from = batch.first + lowest, mine = highest - lowest;
    for (std::size_t f = 0; f < state.size(); ++f) {
      const std::uint32_t g = state[f] - from;  // wraps for states not this thread's
      if (g >= mine) continue;
      const std::uint32_t i = lowest + g;
      at[i] = put_member(at[i], f + 1, k[i]++, tables.frames[batch.first + i]);
    }
  }
  for (std::uint32_t g = 0; g < count; ++g) {
    put_header(w, batch.first + g);
    put_text(w, texts.text.get() + start[g], static_cast<std::size_t>(at[g] - (texts.text.get() + start[g])));
  }
}

void write_ndx(Writer& w, std::span<const std::uint32_t> state, const StateTables& tables,
               PartTexts& parts) {
  if (tables.states == 0) return;
  std::size_t most_bytes = 0;
  std::size_t most_groups = 0;
  for (std::uint32_t first = 1; first <= tables.states;) {
    const Batch batch = batch_from(first, tables);
    if (!batch.alone) {
      most_bytes = std::max(most_bytes, batch.bytes);
      most_groups = std::max<std::size_t>(most_groups, batch.last - batch.first + 1);
    }
    first = batch.last + 1;
  }
  BatchTexts texts{std::make_unique_for_overwrite<char[]>(most_bytes),
                   std::vector<std::size_t>(most_groups + 1), std::vector<char*>(most_groups),
                   std::vector<std::uint64_t>(most_groups)};
  for (std::uint32_t first = 1; first <= tables.states;) {
    const Batch batch = batch_from(first, tables);
    if (batch.alone) {
      write_group(w, state, first, tables.frames[first], parts);
    } else {
      write_groups(w, state, batch, tables, texts);
    }
    first = batch.last + 1;
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

void write_trajectory(Writer& w, std::span<const std::uint32_t> state, std::uint32_t states,
                      PartTexts& texts) {
  std::size_t line = 2;  // the most digits of a state, and the newline
  for (std::uint32_t most = states; most >= 10; most /= 10) ++line;
  write_parts(
      w, texts,
      [&](std::size_t p) {
        return line * (std::min(state.size(), texts.part_first(p) + FRAMES_PER_PART) -
                       texts.part_first(p));
      },
      [&](std::size_t p, char* at) {
        const std::size_t end = std::min(state.size(), texts.part_first(p) + FRAMES_PER_PART);
        for (std::size_t f = texts.part_first(p); f < end; ++f) {
          at = std::to_chars(at, at + MEMBER_BYTES, state[f]).ptr;
          *at++ = '\n';
        }
        return at;
      });
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
  PartTexts parts;
  for (int i = 0; i < files.count; ++i) {
    const std::string_view option = files.files[i].option;
    if (parts.block == nullptr && (option == "--ndx" || option == "--trajectory")) {
      parts = reserve_part_texts(state.size());
    }
  }
  for (int i = 0; i < files.count; ++i) {
    start_file(w, files.files[i]);
    const std::string_view option = w.file->option;
    if (option == "--report") write_report(w, tables, settings);
    if (option == "--ndx") write_ndx(w, state, tables, parts);
    if (option == "--trajectory") write_trajectory(w, state, tables.states, parts);
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
