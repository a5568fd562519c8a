#include "word_reader.hpp"

#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "descriptor_io.hpp"
#include "table_memory.hpp"

namespace wordclusters {

namespace {

constexpr std::size_t WORD_BLOCK_BYTES = std::size_t{1} << 20;  // read at a time
constexpr std::uint64_t MAX_KEPT_FRAMES = UINT32_MAX;  // a word's count fits the low 32 bits
constexpr std::size_t FRAME_STEP = std::size_t{1} << 22;  // frames reserved at a time: 16 MB

// Words wait in a short queue between finding their slot and being counted
// in it, so that the slot can be fetched from memory meanwhile.
constexpr int QUEUE = 16;

struct Reader {
  WordInput& input;
  std::vector<char> block = std::vector<char>(WORD_BLOCK_BYTES + MAX_LETTERS);
  std::uint64_t queue[QUEUE] = {};
  int queued = 0;
  std::uint64_t counted = 0;  // frames counted so far
};

bool fail(WordInput& input, WordError error) {
  input.error = error;
  return false;
}

bool reserve_frames(WordInput& input, std::uint64_t counted) {
  if (counted + QUEUE <= input.reserved_frames) return true;
  const std::size_t more = input.reserved_frames + FRAME_STEP;
  void* grown = pcgrid::grow_zeroed(input.frame_word, input.reserved_frames * sizeof(std::uint32_t),
                                    more * sizeof(std::uint32_t));
  if (grown == nullptr) return false;
  input.frame_word = static_cast<std::uint32_t*>(grown);
  input.reserved_frames = more;
  return true;
}

// A word's slot holds its number (from 0, in order of first appearance)
// above its count.
// A new slot's value is 0; a counted one's never is.
std::uint32_t count_kept_word(WordCounts& counts, std::uint64_t key) {
  WordSlot& slot = slot_for(counts, key);
  if (slot.value == 0) slot.value = (counts.distinct - 1) << 32;
  ++slot.value;
  return static_cast<std::uint32_t>(slot.value >> 32);
}

bool count_queued_words(Reader& r) {
  WordInput& input = r.input;
  if (input.keep_frames) {
    if (!reserve_frames(input, r.counted)) return fail(input, WordError::out_of_memory);
    for (int q = 0; q < r.queued; ++q) {
      input.frame_word[r.counted++] = count_kept_word(input.counts, r.queue[q]);
    }
  } else {
    for (int q = 0; q < r.queued; ++q) count_word(input.counts, r.queue[q]);
    r.counted += static_cast<std::uint64_t>(r.queued);
  }
  r.queued = 0;
  return true;
}

bool queue_word(Reader& r, std::uint64_t key) {
  __builtin_prefetch(&r.input.counts.slots[home_slot(r.input.counts, key)], 1);
  r.queue[r.queued++] = key;
  return r.queued < QUEUE || count_queued_words(r);
}

bool not_a_letter(WordInput& input, const char* line, std::size_t i) {
  input.byte = static_cast<unsigned char>(line[i]);
  input.column = i + 1;
  return fail(input, WordError::not_a_letter);
}

// One complete line of `size` bytes, its newline not included.
bool take_word(Reader& r, const char* line, std::size_t size) {
  WordInput& input = r.input;
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const int letter = LETTER_INDEX[static_cast<unsigned char>(line[i])];
    if (letter < 0) return not_a_letter(input, line, i);
    if (i == MAX_LETTERS) return fail(input, WordError::too_long);
    key = key << LETTER_BITS | static_cast<std::uint64_t>(letter);
  }
  if (size == 0) return fail(input, WordError::empty_line);
  if (input.letters == 0) input.letters = static_cast<int>(size);
  if (size != static_cast<std::size_t>(input.letters)) {
    input.number = size;
    return fail(input, WordError::other_length);
  }
  if (input.keep_frames && input.lines == MAX_KEPT_FRAMES) {
    return fail(input, WordError::too_many_frames);
  }
  if (!queue_word(r, key)) return false;
  ++input.lines;
  return true;
}

// The complete lines of the block's first `end` bytes: false on a refusal,
// otherwise `taken` is where the unfinished last line begins. An unfinished
// line of more than 10 bytes is refused now.
bool take_lines(Reader& r, std::size_t end, std::size_t& taken) {
  const char* const block = r.block.data();
  const char* p = block;
  const char* const stop = block + end;
  while (const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(stop - p))) {
    const char* line_end = static_cast<const char*>(newline);
    if (!take_word(r, p, static_cast<std::size_t>(line_end - p))) return false;
    p = line_end + 1;
  }
  if (static_cast<std::size_t>(stop - p) > MAX_LETTERS) return take_word(r, p, MAX_LETTERS + 1);
  taken = static_cast<std::size_t>(p - block);
  return true;
}

}  // namespace

bool read_words(int fd, WordInput& input) {
  start_counting(input.counts);
  Reader r{input};
  char* const block = r.block.data();
  std::size_t kept = 0;  // bytes of an unfinished line at the start of the block
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block + kept, WORD_BLOCK_BYTES);
    if (got < 0) {
      input.number = static_cast<std::uint64_t>(errno);
      return fail(input, WordError::read_failed);
    }
    if (got == 0) break;
    const std::size_t end = kept + static_cast<std::size_t>(got);
    std::size_t taken = 0;
    if (!take_lines(r, end, taken)) return false;
    kept = end - taken;
    std::memmove(block, block + taken, kept);
  }
  if (kept > 0 && !take_word(r, block, kept)) return false;  // without a newline
  return count_queued_words(r);
}

bool error_has_line(WordError error) {
  return error != WordError::read_failed && error != WordError::out_of_memory &&
         error != WordError::too_many_frames;
}

std::string describe_error(const WordInput& input) {
  const std::string where = " at column " + std::to_string(input.column);
  const std::string foreign = where + " is not a letter of the code (A-Z, a-z)";
  switch (input.error) {
    case WordError::none:
      return "";
    case WordError::read_failed:
      return std::string("cannot read: ") + std::strerror(static_cast<int>(input.number));
    case WordError::empty_line:
      return "an empty line";
    case WordError::not_a_letter: {
      const unsigned char c = input.byte;
      if (c == '\r') return "a carriage return" + where + " (lines must end with a newline alone)";
      if (c > ' ' && c < 0x7f) return std::string{'\'', static_cast<char>(c), '\''} + foreign;
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      return std::string("byte ") + hex + foreign;
    }
    case WordError::too_long:
      return "a word of more than 10 letters";
    case WordError::other_length:
      return "a word of " + std::to_string(input.number) + " letters, but the first word has " +
             std::to_string(input.letters);
    case WordError::too_many_frames:
      return "more than 4294967295 frames: too many to keep the state of each";
    case WordError::out_of_memory:
      return "out of memory";
  }
  return "";
}

void release_words(WordInput& input) {
  stop_counting(input.counts);
  if (input.frame_word != nullptr) {
    munmap(input.frame_word, input.reserved_frames * sizeof(std::uint32_t));
  }
  input = WordInput{};
}

}  // namespace wordclusters
