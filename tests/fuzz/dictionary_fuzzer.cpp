// The dictionary reader and its lookup index. The input is a
// "cwords_clusters" file: its entries must be those that fscanf's "%s %d"
// reads from it, up to the same end and with the same refusals, also when
// white space before it puts the end of the reader's first block inside it;
// and for every dimension 0..10 the index must give each word what a scan
// of the entries in file order gives it.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cluster_dictionary.hpp"
#include "fuzz_input.hpp"
#include "letter_code.hpp"

namespace {

using namespace pcgrid;
using fuzzing::check;

ClusterDictionary dictionary;
ClusterIndex index_table;

constexpr std::int32_t PROBED = 16;  // entries whose words are looked up, per dimension

// The input, held with a NUL after it, as a file.
std::FILE* open_text(std::vector<char>& text) {
  return fmemopen(text.data(), text.size() - 1, "r");
}

// The entries as fscanf reads them; "%ld" holds any number "%d" can give.
DictionaryStatus read_with_fscanf(std::vector<char>& text, std::int32_t& entries) {
  std::FILE* in = open_text(text);
  check(in != nullptr, "fmemopen");
  std::vector<char> word(text.size() + 1);
  long number = 0;
  DictionaryStatus status = DictionaryStatus::ok;
  entries = 0;
  while (std::fscanf(in, "%s %ld", word.data(), &number) == 2) {
    if (number < INT32_MIN || number > INT32_MAX) {
      status = DictionaryStatus::number_out_of_range;
      break;
    }
    if (entries == MAX_ENTRIES) {
      status = DictionaryStatus::too_many_entries;
      break;
    }
    check(entries < dictionary.k, "no entry is missing");
    const char* kept = dictionary.words[entries];
    check(std::strncmp(kept, word.data(), MAX_WORD) == 0, "the word's first ten characters");
    check(std::strlen(kept) == std::min<std::size_t>(std::strlen(word.data()), MAX_WORD),
          "the word's length");
    check(dictionary.cn[entries] == number, "the cluster number");
    ++entries;
  }
  std::fclose(in);
  return status;
}

// The first entry whose first `dim` characters are the word's letters.
std::int32_t scan(const char* word, int dim) {
  for (std::int32_t e = 0; e < dictionary.k; ++e) {
    if (std::strncmp(dictionary.words[e], word, static_cast<std::size_t>(dim)) == 0) {
      return dictionary.cn[e];
    }
  }
  return 0;
}

// A word of the code made from an entry's first characters: other
// characters become letters, and missing ones are filled in.
void word_of_entry(const char* entry, int dim, std::uint32_t salt, char* word) {
  bool ended = false;
  for (int d = 0; d < dim; ++d) {
    ended = ended || entry[d] == '\0';
    const char c = ended ? '\0' : entry[d];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    word[d] = letter ? c
                     : letter_for_bin(static_cast<int>(
                           (salt + static_cast<unsigned>(d) + static_cast<unsigned char>(c)) % 52));
  }
}

void check_lookup(const char* word, int dim) {
  const std::int32_t found =
      lookup_cluster(std::string_view(word, static_cast<std::size_t>(dim)), index_table);
  check(found == scan(word, dim), "the index finds the scan's first entry");
}

// Reads `text` (with a NUL after it) with the reader and with fscanf, and
// checks that they agree.
void read_both_ways(std::vector<char>& text) {
  std::FILE* in = open_text(text);
  check(in != nullptr, "fmemopen");
  const DictionaryStatus status = read_dictionary_entries(in, dictionary);
  std::fclose(in);
  check(status != DictionaryStatus::read_error, "no read error from memory");
  check(dictionary.k >= 0 && dictionary.k <= MAX_ENTRIES, "entry count");
  for (std::int32_t e = 0; e < dictionary.k; ++e) {
    check(std::memchr(dictionary.words[e], '\0', MAX_WORD + 1) != nullptr, "terminated word");
  }
  std::int32_t entries = 0;
  check(read_with_fscanf(text, entries) == status, "the status fscanf gives");
  check(entries == dictionary.k, "the entries fscanf reads");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint32_t salt = fuzzing::hash({reinterpret_cast<const char*>(data), size});
  // The input after white space that ends the first block `cut` bytes into it.
  const std::size_t cut = std::min<std::size_t>(salt % (size + 1), DICTIONARY_BLOCK);
  std::vector<char> text(DICTIONARY_BLOCK - cut, ' ');
  text.insert(text.end(), data, data + size);
  text.push_back('\0');
  read_both_ways(text);
  text.erase(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(DICTIONARY_BLOCK - cut));
  read_both_ways(text);

  char word[MAX_DIM];
  for (int dim = 0; dim <= MAX_DIM; ++dim) {
    build_cluster_index(dictionary, dim, index_table);
    for (std::int32_t e = 0; e < dictionary.k && e < PROBED; ++e) {
      word_of_entry(dictionary.words[e], dim, salt, word);
      check_lookup(word, dim);
      if (dim == 0) continue;
      // The same word with its last letter changed: often absent.
      word[dim - 1] = letter_for_bin((salt + static_cast<unsigned>(e)) % 52);
      check_lookup(word, dim);
    }
    for (int d = 0; d < dim; ++d) {
      word[d] = letter_for_bin(static_cast<int>((salt >> d) % 52));
    }
    check_lookup(word, dim);
  }
  return 0;
}
