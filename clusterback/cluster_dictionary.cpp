#include "cluster_dictionary.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "byte_classes.hpp"
#include "letter_code.hpp"
#include "messages.hpp"

namespace pcgrid {

namespace {

// White space as the C locale's isspace has it.
bool is_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The file's bytes, read a block at a time into `block`; the unread ones
// are next .. end. Once a read comes back short (the end of the file, or a
// read error, which ferror tells), no further read is tried.
struct DictionaryText {
  std::FILE* file;
  const char* next;
  const char* end;
  bool at_end;
  char block[DICTIONARY_BLOCK + 16];  // 16 bytes beyond the end may be loaded
};

// The next byte, without taking it, or EOF.
int peek(DictionaryText& text) {
  if (text.next == text.end) [[unlikely]] {
    if (text.at_end) return EOF;
    const std::size_t count = std::fread(text.block, 1, DICTIONARY_BLOCK, text.file);
    text.at_end = count < DICTIONARY_BLOCK;
    text.next = text.block;
    text.end = text.block + count;
    if (count == 0) return EOF;
  }
  return static_cast<unsigned char>(*text.next);
}

// The loops below run over the bytes of the block in hand, 16 at a time,
// and go on in the next block when they reach its end.

// The first byte from p on whose bit in `mask` (of the 16 at each place) is
// `wanted`, or `stop` when there is none before it.
template <unsigned (*mask)(const char*)>
const char* find_byte(const char* p, const char* stop, bool wanted) {
  const unsigned flip = wanted ? 0 : 0xFFFF;
  for (; p < stop; p += 16) {
    const unsigned found = mask(p) ^ flip;
    if (found != 0) return std::min(p + std::countr_zero(found), stop);
  }
  return stop;
}

int skip_space(DictionaryText& text) {
  for (;;) {
    text.next = find_byte<blank_mask16>(text.next, text.end, false);
    if (text.next != text.end) return static_cast<unsigned char>(*text.next);
    if (peek(text) == EOF) return EOF;
  }
}

enum class WordField { ok, end, too_long };

// A word's first MAX_WORD characters are copied 16 bytes at a time, so its
// buffer has room for 16 bytes after the tenth; those beyond the word's
// terminator are not looked at.
constexpr std::size_t WORD_ROOM = MAX_WORD + 16;

// "%s": a run of non-white-space characters; the first MAX_WORD are kept,
// and a run of more than MAX_FIELD is not read to its end.
WordField read_word(DictionaryText& text, char (&word)[WORD_ROOM]) {
  constexpr auto kept = static_cast<std::size_t>(MAX_WORD);
  constexpr auto longest = static_cast<std::size_t>(MAX_FIELD);
  if (skip_space(text) == EOF) return WordField::end;
  std::size_t length = 0;
  do {
    // The run's characters in this block, one beyond MAX_FIELD at most.
    const char* const start = text.next;
    const auto room = static_cast<std::size_t>(text.end - start);
    const char* const stop = start + std::min(room, longest + 1 - length);
    const char* const p = find_byte<blank_mask16>(start, stop, true);
    const auto taken = static_cast<std::size_t>(p - start);
    if (length < kept) std::memcpy(word + length, start, 16);  // the first `taken` count
    length += taken;
    text.next = p;
    if (length > longest) return WordField::too_long;
  } while (text.next == text.end && peek(text) != EOF);
  word[std::min(length, kept)] = '\0';
  return WordField::ok;
}

enum class NumberField { ok, missing, out_of_range };

// " %d": an optional sign and decimal digits; the character after them is
// left for the next word.
NumberField read_number(DictionaryText& text, std::int32_t& number) {
  int c = skip_space(text);
  const bool negative = c == '-';
  if (c == '-' || c == '+') {
    ++text.next;
    c = peek(text);
  }
  if (!is_digit(c)) return NumberField::missing;
  std::int64_t magnitude = 0;
  bool overflow = false;
  do {
    const char* const digits_end = find_byte<digit_mask16>(text.next, text.end, false);
    if (digits_end - text.next <= 9 && magnitude == 0) {  // fewer than 10 digits: no overflow
      for (const char* p = text.next; p != digits_end; ++p) magnitude = magnitude * 10 + (*p - '0');
      text.next = digits_end;
      continue;
    }
    for (const char* p = text.next; p != digits_end; ++p) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > std::int64_t{1} << 31) {
        overflow = true;
        magnitude = std::int64_t{1} << 31;
      }
    }
    text.next = digits_end;
  } while (text.next == text.end && is_digit(peek(text)));
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (overflow || value > INT32_MAX) return NumberField::out_of_range;
  number = static_cast<std::int32_t>(value);
  return NumberField::ok;
}

// The bin of each letter of the code, -1 for every other byte.
constexpr std::array<std::int8_t, 256> LETTER_BINS = [] {
  std::array<std::int8_t, 256> bins{};
  bins.fill(-1);
  for (int bin = 0; bin <= MAX_GRID_INTERVALS; ++bin) {
    bins[static_cast<unsigned char>(letter_for_bin(bin))] = static_cast<std::int8_t>(bin);
  }
  return bins;
}();

int letter_index(char c) {
  return LETTER_BINS[static_cast<unsigned char>(c)];
}

std::size_t slot_of(std::uint64_t key, const ClusterIndex& index) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> index.shift);
}

// The key of a word's first `dim` characters, or 0 when they are not all
// letters of the code. Keys start at 1.
std::uint64_t key_of(const char* word, int dim) {
  std::uint64_t key = 1;
  for (int d = 0; d < dim; ++d) {
    const int letter = letter_index(word[d]);
    if (letter < 0) return 0;
    key = key << 6 | static_cast<std::uint64_t>(letter);
  }
  return key;
}

std::uint64_t entry_key(const ClusterIndex& index, std::uint32_t entry) {
  return key_of(index.dictionary->words[entry], index.dim);
}

}  // namespace

DictionaryStatus fast_read_dictionary_entries(std::FILE* in, ClusterDictionary& dictionary) {
  static DictionaryText text;
  text.file = in;
  text.next = text.end = text.block;
  text.at_end = false;
  dictionary.k = 0;
  char word[WORD_ROOM] = {};  // copied whole: no byte of it may be indeterminate
  std::int32_t number = 0;
  for (WordField w = read_word(text, word); w != WordField::end; w = read_word(text, word)) {
    if (w == WordField::too_long) return DictionaryStatus::word_too_long;
    const NumberField field = read_number(text, number);
    if (field == NumberField::missing) break;
    if (field == NumberField::out_of_range) return DictionaryStatus::number_out_of_range;
    if (dictionary.k == MAX_ENTRIES) return DictionaryStatus::too_many_entries;
    std::copy_n(word, MAX_WORD + 1, dictionary.words[dictionary.k]);
    dictionary.cn[dictionary.k] = number;
    ++dictionary.k;
  }
  return std::ferror(in) ? DictionaryStatus::read_error : DictionaryStatus::ok;
}

DictionaryStatus libc_read_dictionary_entries(std::FILE* in, ClusterDictionary& dictionary) {
  dictionary.k = 0;
  char word[MAX_WORD + 1] = {};  // copied whole: no byte of it may be indeterminate
  long number = 0;
  // "%10s" and then the rest of a longer word, up to MAX_FIELD characters
  // in all; "%ld" reads what "%d" reads, and holds the numbers beyond 32
  // bits that "%d" would wrap.
  while (std::fscanf(in, "%10s", word) == 1) {
    int rest = 0;
    if (std::fscanf(in, "%*4086[^ \t\n\v\f\r]%n", &rest) == EOF && std::ferror(in)) break;
    static_assert(MAX_FIELD - MAX_WORD == 4086);
    if (rest == MAX_FIELD - MAX_WORD) {
      const int next = std::getc(in);
      if (next != EOF && !is_space(next)) return DictionaryStatus::word_too_long;
      if (next != EOF) std::ungetc(next, in);
    }
    if (std::fscanf(in, "%ld", &number) != 1) break;
    if (number < INT32_MIN || number > INT32_MAX) return DictionaryStatus::number_out_of_range;
    if (dictionary.k == MAX_ENTRIES) return DictionaryStatus::too_many_entries;
    std::copy(std::begin(word), std::end(word), dictionary.words[dictionary.k]);
    dictionary.cn[dictionary.k] = static_cast<std::int32_t>(number);
    ++dictionary.k;
  }
  return std::ferror(in) ? DictionaryStatus::read_error : DictionaryStatus::ok;
}

void read_cluster_dictionary(ClusterDictionary& dictionary) {
  std::FILE* in = std::fopen(DICTIONARY_FILE, "r");
  struct stat info {};
  if (in == nullptr || fstat(fileno(in), &info) != 0 || S_ISDIR(info.st_mode)) {
    fail("Can not open file %s for reading.\n", DICTIONARY_FILE);
  }
  switch (read_dictionary_entries(in, dictionary)) {
    case DictionaryStatus::ok:
      break;
    case DictionaryStatus::too_many_entries:
      fail("Too many entries in %s: at most 500000 can be read.\n", DICTIONARY_FILE);
    case DictionaryStatus::number_out_of_range:
      fail("Cluster number beyond 32 bits in %s.\n", DICTIONARY_FILE);
    case DictionaryStatus::word_too_long:
      fail("Word of more than 4096 characters in %s.\n", DICTIONARY_FILE);
    case DictionaryStatus::read_error:
      fail("Can not read file %s.\n", DICTIONARY_FILE);
  }
  std::fclose(in);
  std::fprintf(stderr, "Read %d words.\n", dictionary.k);
}

void build_cluster_index(const ClusterDictionary& dictionary, int dim, ClusterIndex& index) {
  int bits = 10;
  while ((std::size_t{1} << bits) < 2 * static_cast<std::size_t>(dictionary.k)) ++bits;
  index.mask = (std::size_t{1} << bits) - 1;
  index.shift = 64 - bits;
  index.dim = dim;
  index.dictionary = &dictionary;
  std::fill_n(index.slots, index.mask + 1, 0);
  for (std::int32_t e = 0; e < dictionary.k; ++e) {
    const std::uint64_t key = key_of(dictionary.words[e], dim);
    if (key == 0) continue;
    std::size_t slot = slot_of(key, index);
    while (index.slots[slot] != 0 && entry_key(index, index.slots[slot] - 1) != key) {
      slot = (slot + 1) & index.mask;
    }
    if (index.slots[slot] != 0) continue;  // an earlier entry has this key
    index.slots[slot] = static_cast<std::uint32_t>(e) + 1;
  }
}

std::uint64_t fetch_cluster_key(std::string_view word, const ClusterIndex& index) {
  const std::uint64_t key = key_of(word.data(), index.dim);
  __builtin_prefetch(&index.slots[slot_of(key, index)]);
  return key;
}

std::int32_t lookup_cluster_key(std::uint64_t key, const ClusterIndex& index) {
  if (key == 0) return 0;
  for (std::size_t slot = slot_of(key, index); index.slots[slot] != 0;
       slot = (slot + 1) & index.mask) {
    const std::uint32_t entry = index.slots[slot] - 1;
    if (entry_key(index, entry) == key) return index.dictionary->cn[entry];
  }
  return 0;
}

std::int32_t lookup_cluster(std::string_view word, const ClusterIndex& index) {
  return lookup_cluster_key(key_of(word.data(), index.dim), index);
}

}  // namespace pcgrid
