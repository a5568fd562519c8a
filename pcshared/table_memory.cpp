#include "table_memory.hpp"

#include <sys/mman.h>

#include "huge_pages.hpp"

namespace pcgrid {

// Anonymous mappings start zeroed, and mremap moves their pages without
// copying them, so a table grows at the cost of its page tables alone.
void* grow_zeroed(void* block, std::size_t old_bytes, std::size_t new_bytes) {
  void* grown = block == nullptr ? mmap(nullptr, new_bytes, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                 : mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) return nullptr;
  prefer_huge_pages(grown, new_bytes);
  return grown;
}

}  // namespace pcgrid
