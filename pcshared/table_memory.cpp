#include "table_memory.hpp"

#include <sys/mman.h>

#include "huge_pages.hpp"

namespace pcgrid {

namespace {

// Whole pages: mremap refuses a range whose pages differ in their advice,
// as the last page of a block would from the huge-page advice of the
// pages before it.
std::size_t whole_pages(std::size_t bytes) {
  constexpr std::size_t PAGE_BYTES = 4096;
  return (bytes + PAGE_BYTES - 1) / PAGE_BYTES * PAGE_BYTES;
}

}  // namespace

// Anonymous mappings start zeroed, and mremap moves their pages without
// copying them, so a table grows at the cost of its page tables alone.
void* grow_zeroed(void* block, std::size_t old_bytes, std::size_t new_bytes) {
  old_bytes = whole_pages(old_bytes);
  new_bytes = whole_pages(new_bytes);
  if (block != nullptr && new_bytes == old_bytes) return block;
  void* grown = block == nullptr ? mmap(nullptr, new_bytes, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                 : mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) return nullptr;
  prefer_huge_pages(grown, new_bytes);
  return grown;
}

}  // namespace pcgrid
