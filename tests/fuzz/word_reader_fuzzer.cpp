// wordclusters' word reader, on a file in memory: it must refuse the first
// line that a plain reading of the text refuses, for the same reason and at
// the same column, and otherwise count every word as that reading does and
// number the frames' words in order of first appearance.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "word_reader.hpp"

namespace {

using namespace wordclusters;
using pcgrid::fuzzing::check;

struct Verdict {
  WordError error = WordError::none;
  std::uint64_t line = 0;  // of the refusal, from 1
  std::size_t column = 0;
  std::vector<std::string> words;
};

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

Verdict plain_reading(std::string_view text) {
  Verdict v;
  std::size_t letters = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++v.line;
    for (std::size_t i = 0; i < line.size() && v.error == WordError::none; ++i) {
      if (!is_letter(line[i])) {
        v.error = WordError::not_a_letter;
        v.column = i + 1;
      } else if (i == MAX_LETTERS) {
        v.error = WordError::too_long;
      }
    }
    if (v.error == WordError::none && line.empty()) v.error = WordError::empty_line;
    if (v.error == WordError::none && letters == 0) letters = line.size();
    if (v.error == WordError::none && line.size() != letters) v.error = WordError::other_length;
    if (v.error != WordError::none) return v;
    v.words.emplace_back(line);
  }
  return v;
}

std::uint64_t key_of(const std::string& word) {
  std::uint64_t key = 0;
  for (const char c : word)
    key = key << LETTER_BITS |
          static_cast<std::uint64_t>(LETTER_INDEX[static_cast<unsigned char>(c)]);
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bool keep_frames = size > 0 && data[0] % 2 == 1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int fd = pcgrid::fuzzing::memory_file(text);

  WordInput input;
  input.keep_frames = keep_frames;
  const bool read = read_words(fd, input);
  close(fd);
  const Verdict expected = plain_reading(text);
  check(read == (expected.error == WordError::none), "refused exactly when a line is bad");
  if (!read) {
    check(input.error == expected.error, "the same refusal");
    check(input.lines + 1 == expected.line, "at the same line");
    if (expected.error == WordError::not_a_letter) {
      check(input.column == expected.column, "at the same column");
    }
    check(!describe_error(input).empty(), "a message");
  } else {
    check(input.lines == expected.words.size(), "every line a frame");
    std::map<std::string, std::uint64_t> counts;
    std::map<std::string, std::uint32_t> number;
    for (std::size_t f = 0; f < expected.words.size(); ++f) {
      const std::string& word = expected.words[f];
      ++counts[word];
      number.emplace(word, static_cast<std::uint32_t>(number.size()));
      if (keep_frames) check(input.frame_word[f] == number[word], "the frame's word number");
    }
    check(input.counts.distinct == counts.size(), "the distinct words");
    for (const auto& [word, count] : counts) {
      const WordSlot* slot = find_word(input.counts, key_of(word));
      check(slot != nullptr, "the word is in the table");
      check((keep_frames ? slot->value & 0xFFFFFFFFu : slot->value) == count, "the word's count");
      check(!keep_frames || slot->value >> 32 == number[word], "the word's number");
    }
  }
  release_words(input);
  return 0;
}
