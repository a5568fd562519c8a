#include "cluster_dictionary.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "assign_clusters.hpp"

namespace {

using pcgrid::ClusterDictionary;
using pcgrid::ClusterIndex;
using pcgrid::DictionaryStatus;

ClusterDictionary dictionary;
ClusterIndex index_table;
pcgrid::PcTable table;  // rows reserved by the tests that fill it

using Reader = DictionaryStatus (*)(std::FILE*, ClusterDictionary&);

DictionaryStatus read_text(const std::string& text,
                           Reader reader = pcgrid::read_dictionary_entries) {
  std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  const DictionaryStatus status = reader(in, dictionary);
  std::fclose(in);
  return status;
}

// The definition: the first entry, in file order, whose first D characters
// are the word's letters.
std::int32_t scan_lookup(std::string_view word) {
  for (std::int32_t e = 0; e < dictionary.k; ++e) {
    if (std::strncmp(dictionary.words[e], word.data(), word.size()) == 0) return dictionary.cn[e];
  }
  return 0;
}

struct Entry {
  std::string word;
  std::int32_t cn;
};

std::vector<Entry> entries() {
  std::vector<Entry> result;
  for (std::int32_t e = 0; e < dictionary.k; ++e)
    result.push_back({dictionary.words[e], dictionary.cn[e]});
  return result;
}

bool operator==(const Entry& a, const Entry& b) {
  return a.word == b.word && a.cn == b.cn;
}

const Reader readers[] = {pcgrid::fast_read_dictionary_entries,
                          pcgrid::libc_read_dictionary_entries};

TEST(DictionaryReader, Formats) {
  struct Case {
    const char* text;
    std::vector<Entry> entries;
  };
  const Case cases[] = {
      {"AA 1\nCF 2\nCF 3\n", {{"AA", 1}, {"CF", 2}, {"CF", 3}}},
      {"AA 1\nCF 2\nFC x\nFF 4\n", {{"AA", 1}, {"CF", 2}}},
      {"AA 3.5\nCF 2\n", {{"AA", 3}}},
      {"AA\t-1\n\n  CF\n+2 FC 0", {{"AA", -1}, {"CF", 2}, {"FC", 0}}},
      {"AA 1 CF", {{"AA", 1}}},
      {"AA 12x 5 CF 1", {{"AA", 12}, {"x", 5}, {"CF", 1}}},
      {"AA - 5", {}},
      {"AA +", {}},
      {"", {}},
      {"   \n", {}},
      {"ABCDEFGHIJKLMNOP 9 B 2", {{"ABCDEFGHIJ", 9}, {"B", 2}}},
      {"AB 2147483647 CD -2147483648", {{"AB", 2147483647}, {"CD", INT32_MIN}}},
      {"AB 0000000000000000000007", {{"AB", 7}}},
  };
  for (const Reader reader : readers) {
    for (const Case& c : cases) {
      EXPECT_EQ(read_text(c.text, reader), DictionaryStatus::ok) << c.text;
      EXPECT_EQ(entries(), c.entries) << c.text;
    }
  }
}

TEST(DictionaryReader, Refusals) {
  std::string full;
  for (int e = 0; e < pcgrid::MAX_ENTRIES; ++e) full += "A 1\n";
  for (const Reader reader : readers) {
    EXPECT_EQ(read_text("AA 1\nCF 2147483648\n", reader), DictionaryStatus::number_out_of_range);
    EXPECT_EQ(read_text("AA -2147483649\n", reader), DictionaryStatus::number_out_of_range);
    EXPECT_EQ(read_text("AA 99999999999999999999999999\n", reader),
              DictionaryStatus::number_out_of_range);
    EXPECT_EQ(read_text(full + "B", reader), DictionaryStatus::ok);
    EXPECT_EQ(dictionary.k, pcgrid::MAX_ENTRIES);
    EXPECT_EQ(read_text(full + "B 2", reader), DictionaryStatus::too_many_entries);
  }
}

// Both readers on generated files full of awkward forms.
TEST(DictionaryReader, FastEqualsLibc) {
  std::mt19937 random(5);
  const std::string pieces[] = {
      "AA",     "CFx",  "ABCDEFGHIJKLM",       "7",           "-3",   "+4", "3.5", "x",
      "-",      "+",    "2147483647",          "-2147483648", "0009", " ",  "\n",  "\t",
      "\v\f\r", "\n\n", std::string("a\0b", 3)};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int p = 0; p < length; ++p) {
      text += pieces[random() % std::size(pieces)];
      if (random() % 2 == 0) text += ' ';
    }
    const DictionaryStatus libc = read_text(text, pcgrid::libc_read_dictionary_entries);
    const std::vector<Entry> expected = entries();
    EXPECT_EQ(read_text(text, pcgrid::fast_read_dictionary_entries), libc) << text;
    EXPECT_EQ(entries(), expected) << text;
  }
}

// The fast reader takes the file in blocks: each form below is placed so
// that a block ends before each of its characters, and after the last.
TEST(DictionaryReader, AcrossBlocks) {
  const std::string long_word(pcgrid::MAX_FIELD, 'Q');
  const std::string forms[] = {
      "ABCDEFGHIJKLM -2147483648 CF 7\n", "AA\t\n +12x 3", "AA 3.5 CF 2",        "AA - 5 B 1",
      "AB 99999999999999999999 C 1",      "AB 2147483648", long_word + " 1 B 2", long_word + "Q 1",
  };
  constexpr std::size_t block = pcgrid::DICTIONARY_BLOCK;
  for (const std::string& form : forms) {
    for (std::size_t shift = 0; shift <= form.size(); ++shift) {
      if (shift > 24 && shift + 24 < form.size()) shift = form.size() - 24;
      const std::string text = "A 1\n" + std::string(block - 4 - shift, ' ') + form;
      const DictionaryStatus libc = read_text(text, pcgrid::libc_read_dictionary_entries);
      const std::vector<Entry> expected = entries();
      EXPECT_EQ(read_text(text, pcgrid::fast_read_dictionary_entries), libc) << form << shift;
      EXPECT_EQ(entries(), expected) << form << " " << shift;
    }
  }
}

// The index must give what the scan gives, for every word of the code, on
// dictionaries full of duplicates, short and long words, characters outside
// the code, and zero and negative cluster numbers.
TEST(ClusterIndex, EqualsTheScan) {
  std::mt19937 random(20261208);
  const std::string alphabet = "ABCDEFab";  // few letters: many duplicates and matches
  const std::string others = "AB#z\x01Zq";
  for (int round = 0; round < 300; ++round) {
    const int dim = static_cast<int>(random() % 11);
    std::string text;
    const int k = static_cast<int>(random() % 200);
    for (int e = 0; e < k; ++e) {
      const int length = 1 + static_cast<int>(random() % 12);
      for (int c = 0; c < length; ++c) {
        text += random() % 20 == 0 ? others[random() % others.size()]
                                   : alphabet[random() % alphabet.size()];
      }
      text += ' ';
      text += std::to_string(static_cast<int>(random() % 9) - 3);
      text += '\n';
    }
    ASSERT_EQ(read_text(text), DictionaryStatus::ok);
    pcgrid::build_cluster_index(dictionary, dim, index_table);
    for (int probe = 0; probe < 200; ++probe) {
      std::string word;
      for (int d = 0; d < dim; ++d) word += alphabet[random() % alphabet.size()];
      if (probe % 2 == 0 && dictionary.k > 0) {  // often a word that is there
        word = std::string(dictionary.words[random() % dictionary.k]).substr(0, dim);
        if (static_cast<int>(word.size()) < dim) word.resize(dim, 'A');
        for (char& c : word) {
          if (alphabet.find(c) == std::string::npos) c = 'A';
        }
      }
      EXPECT_EQ(pcgrid::lookup_cluster(word, index_table), scan_lookup(word))
          << "word " << word << " round " << round;
    }
  }
}

TEST(ClusterIndex, FullDictionary) {
  std::string text;
  for (int e = 0; e < pcgrid::MAX_ENTRIES; ++e) {
    std::string word;
    for (int v = e, d = 0; d < 4; ++d, v /= 52) word += pcgrid::letter_for_bin(v % 52);
    text += word + " " + std::to_string(e + 1) + "\n";
  }
  ASSERT_EQ(read_text(text), DictionaryStatus::ok);
  pcgrid::build_cluster_index(dictionary, 4, index_table);
  for (int e = 0; e < pcgrid::MAX_ENTRIES; e += 997) {
    EXPECT_EQ(pcgrid::lookup_cluster(dictionary.words[e], index_table), e + 1);
  }
  EXPECT_EQ(pcgrid::lookup_cluster("zzzz", index_table), 0);
}

TEST(ThreadBlocks, CoverTheVectorsInOrder) {
  for (const std::int32_t n : {0, 1, 2, 7, 100, 1001}) {
    for (const int threads : {1, 2, 3, 7, 16}) {
      std::int32_t next = 0;
      for (int t = 0; t < threads; ++t) {
        const pcgrid::Block b = pcgrid::thread_block(n, threads, t);
        EXPECT_EQ(b.begin, next);
        EXPECT_TRUE(b.count == n / threads || b.count == n / threads + 1);
        next += b.count;
      }
      EXPECT_EQ(next, n);
    }
  }
}

// One parallel region on four threads gives every vector what one thread
// gives it, the cluster that the scan finds for its word, and writes no slot
// beyond the vectors. With a ThreadSanitizer build this also checks that the
// threads share nothing but the read-only tables.
TEST(AssignClusters, FourThreadsEqualOne) {
  constexpr std::int32_t n = 3001;  // uneven blocks on four threads
  constexpr int dim = 3;
  std::mt19937 random(42);
  ASSERT_TRUE(pcgrid::reserve_vectors(table, n));
  table.n = n;
  table.ncol = dim + 1;
  for (std::int32_t i = 0; i < n; ++i) {
    table.indeces[i] = i;
    for (int d = 0; d < dim; ++d) table.dat[i][d] = static_cast<float>(random() % 4) / 3.0f;
  }
  pcgrid::DimLimits limits{};
  pcgrid::compute_limits(table, limits);
  const int g = pcgrid::compute_grid_size(n);
  std::string text;
  char word[pcgrid::MAX_DIM];
  for (int e = 0; e < 300; ++e) {
    text += std::string(pcgrid::encode_word(table, static_cast<std::int32_t>(random() % n), limits,
                                            g, word)) +
            " " + std::to_string(static_cast<int>(random() % 8) - 2) + "\n";
  }
  ASSERT_EQ(read_text(text), DictionaryStatus::ok);
  pcgrid::build_cluster_index(dictionary, dim, index_table);

  // Zero-filled like the program's table, with a few slots beyond it.
  constexpr std::int32_t SENTINEL = 0x5EED;
  std::vector<std::int32_t> one(n, 0);
  one.resize(n + 8, SENTINEL);
  std::vector<std::int32_t> four = one;
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  pcgrid::assign_clusters(table, limits, g, index_table, {one.data(), n});
  omp_set_num_threads(4);
  ASSERT_EQ(omp_get_max_threads(), 4);
  pcgrid::assign_clusters(table, limits, g, index_table, {four.data(), n});
  omp_set_num_threads(threads);

  EXPECT_EQ(four, one);
  for (std::int32_t i = 0; i < n; ++i) {
    ASSERT_EQ(one[i], scan_lookup(pcgrid::encode_word(table, i, limits, g, word))) << i;
  }
  EXPECT_TRUE(std::all_of(one.begin() + n, one.end(), [](auto c) { return c == SENTINEL; }));
  EXPECT_GT(std::count_if(one.begin(), one.begin() + n, [](auto c) { return c > 0; }), n / 4);
}

// The limits are found in parts on all threads and merged in order: they
// must be the bits of the loop of the definition, on columns where the least
// and greatest values are ties of -0 and +0 and where NaNs lie at the start
// of the table (it then stays) or anywhere else (they are passed over).
TEST(ComputeLimits, PartsGiveTheLoopsBits) {
  constexpr std::int32_t n = 200'003;
  constexpr int dim = 4;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 random(3);
  ASSERT_TRUE(pcgrid::reserve_vectors(table, n));
  table.n = n;
  table.ncol = dim + 1;
  const float zeros[] = {0.0f, -0.0f};
  for (std::int32_t i = 0; i < n; ++i) {
    table.dat[i][0] = zeros[random() % 2];                             // all ties
    table.dat[i][1] = random() % 3 == 0 ? zeros[random() % 2] : 0.5f;  // ties at the bottom
    table.dat[i][2] = random() % 1000 == 0 ? nan : static_cast<float>(random() % 100) - 50.0f;
    table.dat[i][3] = static_cast<float>(random() % 7);
  }
  table.dat[0][3] = nan;  // a NaN first: it stays
  table.dat[n / 2][2] = nan;  // where a part starts, on any number of threads here
  table.dat[n / 2 + 1][2] = -60.0f;
  pcgrid::DimLimits loop{};
  for (int d = 0; d < dim; ++d) loop.min[d] = loop.max[d] = table.dat[0][d];
  for (std::int32_t i = 0; i < n; ++i) {
    for (int d = 0; d < dim; ++d) {
      if (table.dat[i][d] < loop.min[d]) loop.min[d] = table.dat[i][d];
      if (table.dat[i][d] > loop.max[d]) loop.max[d] = table.dat[i][d];
    }
  }
  const int threads = omp_get_max_threads();
  for (const int t : {1, 2, 7}) {
    omp_set_num_threads(t);
    pcgrid::DimLimits limits{};
    pcgrid::compute_limits(table, limits);
    for (int d = 0; d < dim; ++d) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(limits.min[d]),
                std::bit_cast<std::uint32_t>(loop.min[d]))
          << t << " threads, dimension " << d;
      EXPECT_EQ(std::bit_cast<std::uint32_t>(limits.max[d]),
                std::bit_cast<std::uint32_t>(loop.max[d]))
          << t << " threads, dimension " << d;
    }
  }
  omp_set_num_threads(threads);
}

}  // namespace
