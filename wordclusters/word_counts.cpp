#include "word_counts.hpp"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>

namespace wordclusters {

namespace {

constexpr int FIRST_BITS = 16;  // 65,536 slots to start with

std::span<WordSlot> map_slots(std::size_t count) {
  const std::size_t bytes = count * sizeof(WordSlot);
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    std::fputs("wordclusters: out of memory\n", stderr);
    std::exit(1);
  }
  madvise(memory, bytes, MADV_HUGEPAGE);  // only advice: without it the table works as well
  return {static_cast<WordSlot*>(memory), count};  // zero-filled: every slot is free
}

}  // namespace

void start_counting(WordCounts& counts) {
  counts.slots = map_slots(std::size_t{1} << FIRST_BITS);
  counts.distinct = 0;
  counts.shift = 64 - FIRST_BITS;
}

void stop_counting(WordCounts& counts) {
  if (!counts.slots.empty()) munmap(counts.slots.data(), counts.slots.size_bytes());
  counts = WordCounts{};
}

void grow(WordCounts& counts) {
  const std::span<WordSlot> old = counts.slots;
  counts.slots = map_slots(old.size() * 2);
  --counts.shift;
  for (const WordSlot& slot : old) {
    if (slot.key != NO_WORD) slot_of(counts, slot.key) = slot;
  }
  munmap(old.data(), old.size_bytes());
}

}  // namespace wordclusters
