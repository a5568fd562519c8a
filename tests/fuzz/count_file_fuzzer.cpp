// wordclusters' count-file reader, on a file in memory: it must refuse
// exactly the files that a plain reading of the text refuses, at the same
// line and for the same reason, and otherwise add up every word's counts
// as that reading does; a count file it writes reads back to the same
// counts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "count_files.hpp"
#include "fuzz_input.hpp"

namespace {

using namespace wordclusters;
using pcgrid::fuzzing::check;

struct Verdict {
  CountError error = CountError::none;
  std::uint64_t line = 0;  // of the refusal, from 1
  std::map<std::string, std::uint64_t> counts;
};

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The count of "COUNT WORD", or false.
bool plain_count(std::string_view text, std::uint64_t& count) {
  if (text.empty() || text.size() > 20 || text[0] == '0') return false;
  unsigned __int128 value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > UINT64_MAX) return false;
  count = static_cast<std::uint64_t>(value);
  return true;
}

Verdict plain_reading(std::string_view text) {
  Verdict v;
  std::size_t letters = 0;
  std::uint64_t frames = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    ++v.line;
    if (newline == std::string_view::npos) {
      // The reader refuses a line that is already longer than any line can
      // be for what it holds, and only then for the missing newline.
      v.error = CountError::no_newline;
      if (text.size() <= 31) return v;
    }
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const std::size_t space = line.find(' ');
    std::uint64_t count = 0;
    if (space == std::string_view::npos || !plain_count(line.substr(0, space), count)) {
      v.error = CountError::not_a_count;
      return v;
    }
    const std::string_view word = line.substr(space + 1);
    bool letters_only = !word.empty() && word.size() <= 10;
    for (const char c : word) letters_only = letters_only && is_letter(c);
    if (!letters_only) {
      v.error = CountError::not_a_word;
      return v;
    }
    if (letters == 0) letters = word.size();
    if (word.size() != letters) {
      v.error = CountError::other_length;
      return v;
    }
    if (count > UINT64_MAX - frames) {
      v.error = CountError::too_many_frames;
      return v;
    }
    if (v.error != CountError::none) {
      v.error = CountError::not_a_word;  // a long unfinished line that parsed: cannot be
      return v;
    }
    frames += count;
    v.counts[std::string(word)] += count;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int fd = pcgrid::fuzzing::memory_file(text);
  WordCounts counts;
  start_counting(counts);
  CountReading reading;
  const bool read = read_counts(fd, counts, reading);
  close(fd);
  const Verdict expected = plain_reading(text);
  check(read == (expected.error == CountError::none), "refused exactly when a line is bad");
  if (!read) {
    check(reading.error == expected.error, "the same refusal");
    check(reading.line + 1 == expected.line, "at the same line");
    check(!describe_count_error(reading).empty(), "a message");
  } else {
    check(counts.distinct == expected.counts.size(), "the distinct words");
    std::string written;
    append_counts(counts, reading.letters, written);
    std::string plain;
    for (const auto& [word, count] : expected.counts) {
      plain += std::to_string(count) + " " + word + "\n";
    }
    // Keys order words of one length as their bytes do, as the map does.
    check(written == plain, "the counts written back in the words' order");
  }
  stop_counting(counts);
  return 0;
}
