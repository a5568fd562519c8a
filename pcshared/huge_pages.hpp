// Asks the kernel to back a large static table with huge pages, so that
// filling it costs a few hundred page faults instead of hundreds of
// thousands. Only the parts actually touched are still backed at all.
#pragma once

#include <cstddef>

namespace pcgrid {

void prefer_huge_pages(void* table, std::size_t size);

}  // namespace pcgrid
