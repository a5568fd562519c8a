// The cluster dictionary "cwords_clusters": words of the letter code with
// cluster numbers, and the index that finds a vector's first matching entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "limits.hpp"
#include "pcgrid_config.hpp"

namespace pcgrid {

inline constexpr int MAX_ENTRIES = 500'000;
inline constexpr int MAX_WORD = 10;     // characters kept of a word; a match compares at most 10
inline constexpr int MAX_FIELD = 4096;  // characters of a word field; a longer one is refused
inline constexpr const char* DICTIONARY_FILE = "cwords_clusters";
inline constexpr std::size_t DICTIONARY_BLOCK = std::size_t{1} << 16;  // bytes read at once

struct ClusterDictionary {
  char words[MAX_ENTRIES][MAX_WORD + 1];  // NUL-terminated, in file order
  std::int32_t cn[MAX_ENTRIES];           // cluster number of each entry
  std::int32_t k;                         // entries read
};

enum class DictionaryStatus {
  ok,
  too_many_entries,     // more than MAX_ENTRIES complete entries
  number_out_of_range,  // a cluster number beyond 32 bits
  word_too_long,        // a word field of more than MAX_FIELD characters
  read_error,
};

// Reads entries "word number", separated by any white space, as fscanf's
// "%s %d" would, up to the first entry that lacks either field. A word
// longer than MAX_WORD keeps its first MAX_WORD characters; one longer than
// MAX_FIELD (such as an endless run of NUL bytes) is refused. The fast
// version reads the file DICTIONARY_BLOCK bytes at a time; the libc
// version, the reference, is made of fscanf conversions.
DictionaryStatus fast_read_dictionary_entries(std::FILE* in, ClusterDictionary& dictionary);
DictionaryStatus libc_read_dictionary_entries(std::FILE* in, ClusterDictionary& dictionary);

inline DictionaryStatus read_dictionary_entries(std::FILE* in, ClusterDictionary& dictionary) {
  if constexpr (LIBC_IO) return libc_read_dictionary_entries(in, dictionary);
  return fast_read_dictionary_entries(in, dictionary);
}

// Opens and reads "cwords_clusters" and reports the entry count on standard
// error; a failure prints its message and ends the process with status 1.
void read_cluster_dictionary(ClusterDictionary& dictionary);

// Open addressing over the words' first D letters, each letter six bits of
// the key: the first entry of every key that a word of the letter code can
// have. Entries shorter than D, or with other characters, are left out.
// The slots in use are a power of two, at least twice the entries. A slot
// holds only an entry number, so that the index costs 4 bytes a slot; the
// entry's key and cluster number are read from the dictionary.
inline constexpr std::size_t INDEX_SLOTS = std::size_t{1} << 20;
static_assert(INDEX_SLOTS >= 2 * MAX_ENTRIES);

struct ClusterIndex {
  std::uint32_t slots[INDEX_SLOTS];  // entry number plus one; 0 marks an empty slot
  const ClusterDictionary* dictionary;
  std::size_t mask;  // slots in use, minus one
  int shift;         // 64 minus the bits of a slot number
  int dim;
};

void build_cluster_index(const ClusterDictionary& dictionary, int dim, ClusterIndex& index);

// The cluster number of the first entry whose first D characters equal
// `word` (D letters), or 0 when no entry matches.
std::int32_t lookup_cluster(std::string_view word, const ClusterIndex& index);

// lookup_cluster in two steps, so that many lookups can overlap their
// memory accesses: the word's key, with its slot fetched, and then its
// cluster number.
std::uint64_t fetch_cluster_key(std::string_view word, const ClusterIndex& index);
std::int32_t lookup_cluster_key(std::uint64_t key, const ClusterIndex& index);

}  // namespace pcgrid
