#include "huge_pages.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace pcgrid {

void prefer_huge_pages(void* table, std::size_t size) {
  constexpr std::uintptr_t page = 4096;
  const auto begin = (reinterpret_cast<std::uintptr_t>(table) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(table) + size) & ~(page - 1);
  // Only advice: where the kernel does not take it, the table works as before.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace pcgrid
