#include "dictionary.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>

#include "descriptor_io.hpp"
#include "refusal.hpp"

namespace wordclusters {

namespace {

constexpr std::size_t DICTIONARY_READ_BYTES = std::size_t{1} << 20;

std::string whole_text(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(std::string(path) + ": cannot open: " + std::strerror(errno));
  std::string text;
  for (;;) {
    const std::size_t size = text.size();
    text.resize(size + DICTIONARY_READ_BYTES);
    const ssize_t got = pcgrid::read_some(fd, text.data() + size, DICTIONARY_READ_BYTES);
    if (got < 0) refuse(std::string(path) + ": cannot read: " + std::strerror(errno));
    text.resize(size + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  ::close(fd);
  return text;
}

[[noreturn]] void bad_line(const char* path, std::size_t line, const std::string& what) {
  refuse(std::string(path) + ":" + std::to_string(line) + ": " + what);
}

// A word's key, or NO_WORD when `word` is not 1 to 10 letters of the code.
std::uint64_t key_of(std::string_view word) {
  if (word.empty() || word.size() > MAX_LETTERS) return NO_WORD;
  std::uint64_t key = 0;
  for (const char c : word) {
    const int letter = LETTER_INDEX[static_cast<unsigned char>(c)];
    if (letter < 0) return NO_WORD;
    key = key << LETTER_BITS | static_cast<std::uint64_t>(letter);
  }
  return key;
}

void refuse_repeated_words(const char* path, const Dictionary& dictionary) {
  std::vector<std::pair<std::uint64_t, std::size_t>> keys;  // and their lines
  keys.reserve(dictionary.entries.size());
  for (std::size_t i = 0; i < dictionary.entries.size(); ++i) {
    keys.emplace_back(dictionary.entries[i].key, i + 1);
  }
  std::sort(keys.begin(), keys.end());
  std::size_t repeated = 0;  // the first line that repeats a word
  for (std::size_t i = 1; i < keys.size(); ++i) {
    if (keys[i].first == keys[i - 1].first && (repeated == 0 || keys[i].second < repeated)) {
      repeated = keys[i].second;
    }
  }
  if (repeated != 0) bad_line(path, repeated, "a word listed before");
}

}  // namespace

Dictionary read_dictionary(const char* path, int letters) {
  const std::string text = whole_text(path);
  Dictionary dictionary;
  std::uint32_t cluster_before = 0;
  std::size_t line = 0;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t newline = std::min(text.find('\n', begin), text.size());
    const std::string_view entry(text.data() + begin, newline - begin);
    begin = newline + 1;
    ++line;
    const std::size_t space = entry.find(' ');
    std::uint32_t cluster = 0;
    const std::uint64_t key = space == std::string_view::npos ? NO_WORD : key_of(entry.substr(0, space));
    const char* const end = entry.data() + entry.size();
    const auto [stop, error] =
        space == std::string_view::npos
            ? std::from_chars_result{end, std::errc::invalid_argument}
            : std::from_chars(entry.data() + space + 1, end, cluster);
    if (key == NO_WORD || error != std::errc{} || stop != end || cluster == 0 ||
        entry[space + 1] == '0') {
      bad_line(path, line,
               "expected \"WORD CLUSTER\", a word of the code and a cluster number from 1");
    }
    const int size = static_cast<int>(space);
    if (dictionary.letters == 0) dictionary.letters = size;
    if (size != dictionary.letters) {
      bad_line(path, line, "a word of " + std::to_string(size) + " letters, but the first word has " +
                               std::to_string(dictionary.letters));
    }
    if (cluster != cluster_before && cluster != cluster_before + 1) {
      bad_line(path, line, "cluster " + std::to_string(cluster) + " after cluster " +
                               std::to_string(cluster_before) +
                               ": the clusters must come in order 1, 2, 3, ... as wordclusters "
                               "writes them");
    }
    cluster_before = cluster;
    dictionary.entries.push_back({key, cluster});
  }
  dictionary.states = cluster_before;
  refuse_repeated_words(path, dictionary);
  if (letters != 0 && dictionary.letters != 0 && dictionary.letters != letters) {
    refuse(std::string(path) + ": its words have " + std::to_string(dictionary.letters) +
           " letters, the input's " + std::to_string(letters));
  }
  return dictionary;
}

void map_dictionary(const Dictionary& dictionary, WordCounts& counts,
                    std::span<const double> weighted, Landscape& land, Basins& basins,
                    std::vector<std::uint32_t>& cluster) {
  const std::size_t n = dictionary.entries.size();
  land.cells.clear();
  land.cells.reserve(n);
  cluster.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const DictionaryEntry& entry = dictionary.entries[i];
    const WordSlot* slot = find_word(counts, entry.key);
    double population = 0;
    if (slot != nullptr) {
      population = weighted.empty() ? static_cast<double>(slot->value & LOW_HALF)
                                    : weighted[slot->value >> 32];
    }
    land.cells.push_back({entry.key, population});
    cluster[i] = entry.cluster;
  }
  for (WordSlot& slot : counts.slots) slot.value = (slot.value & ~LOW_HALF) | NO_CELL;
  for (std::size_t i = 0; i < n; ++i) {
    if (find_word(counts, dictionary.entries[i].key) != nullptr) {
      std::uint64_t& value = slot_of(counts, dictionary.entries[i].key).value;
      value = (value & ~LOW_HALF) | i;
    }
  }
  basins.population.assign(n, 0.0);
  basins.states.clear();
  basins.population_in_states = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t s = cluster[i];
    if (basins.states.size() < s) basins.states.push_back(i);  // the state's first cell: its peak
    basins.population[basins.states[s - 1]] += land.cells[i].population;
  }
  for (const std::uint32_t peak : basins.states) {
    basins.population_in_states += basins.population[peak];
  }
}

}  // namespace wordclusters
