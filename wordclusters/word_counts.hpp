// The population of every distinct word: an open-addressing hash table
// keyed by the word packed into 64 bits, six bits a letter (1 to 52, so
// that no word is 0, the key of a free slot), first letter highest. Words
// of the same length compare as their keys do, so the keys' order is the
// words' byte order. The table grows with the number of distinct words,
// never with the number of lines.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace wordclusters {

inline constexpr int MAX_LETTERS = 10;
inline constexpr int LETTERS = 52;  // A..Z then a..z, numbered 1 to 52
inline constexpr int LETTER_BITS = 6;
inline constexpr std::uint64_t NO_WORD = 0;

// Number 1..52 of each byte that is a letter of the code, -1 for the others.
inline constexpr std::array<std::int8_t, 256> LETTER_INDEX = [] {
  std::array<std::int8_t, 256> index{};
  index.fill(-1);
  for (int i = 0; i < 26; ++i) {
    index['A' + i] = static_cast<std::int8_t>(1 + i);
    index['a' + i] = static_cast<std::int8_t>(27 + i);
  }
  return index;
}();

constexpr char letter_of(int number) {
  return static_cast<char>(number <= 26 ? 'A' + number - 1 : 'a' + number - 27);
}

// The `letters` letters of the word packed in `key`, at `out`.
inline char* write_word(std::uint64_t key, int letters, char* out) {
  for (int position = letters - 1; position >= 0; --position) {
    *out++ = letter_of(static_cast<int>((key >> (LETTER_BITS * position)) & 63));
  }
  return out;
}

struct WordSlot {
  std::uint64_t key;    // NO_WORD: a free slot
  std::uint64_t value;  // the population while counting
};

// The slots are mapped memory of their own, on huge pages where the kernel
// gives them: a table of millions of words is read at random, and with
// small pages nearly every access would miss the address cache too.
struct WordCounts {
  std::span<WordSlot> slots;  // a power of two of them, at most half in use
  std::uint64_t distinct = 0;
  int shift = 0;  // 64 minus log2 of the slot count
};

void start_counting(WordCounts& counts);
// Gives the table's memory back.
void stop_counting(WordCounts& counts);

// Doubles the table and moves every word to its new slot. Ends the process
// with a message when there is no memory for it.
void grow(WordCounts& counts);

inline std::size_t home_slot(const WordCounts& counts, std::uint64_t key) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> counts.shift);
}

// The slot of `key`, or the free slot where it would go.
inline WordSlot& slot_of(WordCounts& counts, std::uint64_t key) {
  const std::size_t mask = counts.slots.size() - 1;
  std::size_t i = home_slot(counts, key);
  while (counts.slots[i].key != key && counts.slots[i].key != NO_WORD) i = (i + 1) & mask;
  return counts.slots[i];
}

// The slot of `key`, or null when the word was never counted.
inline const WordSlot* find_word(const WordCounts& counts, std::uint64_t key) {
  const std::size_t mask = counts.slots.size() - 1;
  for (std::size_t i = home_slot(counts, key);; i = (i + 1) & mask) {
    const WordSlot& slot = counts.slots[i];
    if (slot.key == key) return &slot;
    if (slot.key == NO_WORD) return nullptr;
  }
}

// The slot of `key`, taken (with a value of 0) if the word is new.
inline WordSlot& slot_for(WordCounts& counts, std::uint64_t key) {
  WordSlot* slot = &slot_of(counts, key);
  if (slot->key == NO_WORD) {
    if (2 * (counts.distinct + 1) > counts.slots.size()) {
      grow(counts);
      slot = &slot_of(counts, key);
    }
    slot->key = key;
    ++counts.distinct;
  }
  return *slot;
}

inline void count_word(WordCounts& counts, std::uint64_t key) {
  ++slot_for(counts, key).value;
}

}  // namespace wordclusters
