#include "cluster_dictionary.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

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

int skip_space(std::FILE* in) {
  int c = getc_unlocked(in);
  while (is_space(c)) c = getc_unlocked(in);
  return c;
}

enum class WordField { ok, end, too_long };

// "%s": a run of non-white-space characters; the first MAX_WORD are kept,
// and a run of more than MAX_FIELD is not read to its end.
WordField read_word(std::FILE* in, char (&word)[MAX_WORD + 1]) {
  int c = skip_space(in);
  if (c == EOF) return WordField::end;
  int length = 0;
  for (; c != EOF && !is_space(c); c = getc_unlocked(in)) {
    if (length == MAX_FIELD) return WordField::too_long;
    if (length < MAX_WORD) word[length] = static_cast<char>(c);
    ++length;
  }
  word[std::min(length, MAX_WORD)] = '\0';
  if (c != EOF) std::ungetc(c, in);
  return WordField::ok;
}

enum class NumberField { ok, missing, out_of_range };

// " %d": an optional sign and decimal digits; the character after them is
// left for the next word.
NumberField read_number(std::FILE* in, std::int32_t& number) {
  int c = skip_space(in);
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = getc_unlocked(in);
  if (!is_digit(c)) return NumberField::missing;
  std::int64_t magnitude = 0;
  bool overflow = false;
  for (; is_digit(c); c = getc_unlocked(in)) {
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > std::int64_t{1} << 31) {
      overflow = true;
      magnitude = std::int64_t{1} << 31;
    }
  }
  if (c != EOF) std::ungetc(c, in);
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (overflow || value > INT32_MAX) return NumberField::out_of_range;
  number = static_cast<std::int32_t>(value);
  return NumberField::ok;
}

int letter_index(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  return -1;
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
  dictionary.k = 0;
  char word[MAX_WORD + 1] = {};  // copied whole: no byte of it may be indeterminate
  std::int32_t number = 0;
  for (WordField w = read_word(in, word); w != WordField::end; w = read_word(in, word)) {
    if (w == WordField::too_long) return DictionaryStatus::word_too_long;
    const NumberField field = read_number(in, number);
    if (field == NumberField::missing) break;
    if (field == NumberField::out_of_range) return DictionaryStatus::number_out_of_range;
    if (dictionary.k == MAX_ENTRIES) return DictionaryStatus::too_many_entries;
    std::copy(std::begin(word), std::end(word), dictionary.words[dictionary.k]);
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
