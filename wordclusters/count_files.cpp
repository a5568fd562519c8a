#include "count_files.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "descriptor_io.hpp"

namespace wordclusters {

namespace {

constexpr std::size_t COUNT_BLOCK_BYTES = std::size_t{1} << 20;  // read at a time
constexpr std::size_t LONGEST_COUNT_LINE = 20 + 1 + MAX_LETTERS;  // without its newline

bool fail(CountReading& reading, CountError error, std::uint64_t number = 0) {
  reading.error = error;
  reading.number = number;
  return false;
}

// One line without its newline.
bool take_count_line(std::string_view line, WordCounts& counts, CountReading& reading) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || space == 0 || line[0] == '0') {
    return fail(reading, CountError::not_a_count);
  }
  std::uint64_t count = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + space, count);
  if (error != std::errc{} || end != line.data() + space) {
    return fail(reading, CountError::not_a_count);
  }
  const std::string_view word = line.substr(space + 1);
  if (word.empty() || word.size() > MAX_LETTERS) return fail(reading, CountError::not_a_word);
  std::uint64_t key = 0;
  for (const char c : word) {
    const int letter = LETTER_INDEX[static_cast<unsigned char>(c)];
    if (letter < 0) return fail(reading, CountError::not_a_word);
    key = key << LETTER_BITS | static_cast<std::uint64_t>(letter);
  }
  if (reading.letters == 0) reading.letters = static_cast<int>(word.size());
  if (word.size() != static_cast<std::size_t>(reading.letters)) {
    return fail(reading, CountError::other_length, word.size());
  }
  if (count > UINT64_MAX - reading.frames) return fail(reading, CountError::too_many_frames);
  reading.frames += count;
  slot_for(counts, key).value += count;
  ++reading.line;
  return true;
}

}  // namespace

bool read_counts(int fd, WordCounts& counts, CountReading& reading) {
  reading.line = 0;
  std::vector<char> block(COUNT_BLOCK_BYTES + LONGEST_COUNT_LINE + 1);
  std::size_t kept = 0;  // bytes of an unfinished line at the start of the block
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block.data() + kept, COUNT_BLOCK_BYTES);
    if (got < 0) return fail(reading, CountError::read_failed, static_cast<std::uint64_t>(errno));
    if (got == 0) break;
    const std::string_view text(block.data(), kept + static_cast<std::size_t>(got));
    std::size_t begin = 0;
    for (std::size_t newline; (newline = text.find('\n', begin)) != std::string_view::npos;) {
      if (!take_count_line(text.substr(begin, newline - begin), counts, reading)) return false;
      begin = newline + 1;
    }
    kept = text.size() - begin;
    if (kept > LONGEST_COUNT_LINE) {
      // No line is this long: refuse it for what it holds.
      if (!take_count_line(text.substr(begin), counts, reading)) return false;
      return fail(reading, CountError::not_a_word);
    }
    std::memmove(block.data(), block.data() + begin, kept);
  }
  if (kept > 0) return fail(reading, CountError::no_newline);
  return true;
}

std::string describe_count_error(const CountReading& reading) {
  switch (reading.error) {
    case CountError::none:
      return "";
    case CountError::read_failed:
      return std::string("cannot read: ") + std::strerror(static_cast<int>(reading.number));
    case CountError::not_a_count:
      return "expected \"COUNT WORD\" with a count of at least 1";
    case CountError::not_a_word:
      return "expected \"COUNT WORD\" with a word of 1 to 10 letters of the code (A-Z, a-z)";
    case CountError::other_length:
      return "a word of " + std::to_string(reading.number) + " letters, but the first word has " +
             std::to_string(reading.letters);
    case CountError::no_newline:
      return "the last line has no newline: the file is cut short";
    case CountError::too_many_frames:
      return "the counts add up to more than 18446744073709551615 frames";
  }
  return "";
}

void append_counts(const WordCounts& counts, int letters, std::string& text) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> words;
  words.reserve(counts.distinct);
  for (const WordSlot& slot : counts.slots) {
    if (slot.key != NO_WORD) words.emplace_back(slot.key, slot.value);
  }
  std::sort(words.begin(), words.end());
  char line[48];
  for (const auto& [key, count] : words) {
    char* at = std::to_chars(line, line + 24, count).ptr;
    *at++ = ' ';
    at = write_word(key, letters, at);
    *at++ = '\n';
    text.append(line, at);
  }
}

}  // namespace wordclusters
