// Memory for the tables that fill as the input is read: reserved in large
// steps, zero-filled, and given back only at exit. Reserving only what the
// input needs lets the programs run under an address-space or data limit
// (ulimit -v, ulimit -d) whenever their input fits in it.
#pragma once

#include <cstddef>

namespace pcgrid {

// `block` (of `old_bytes`, or nullptr and 0) grown to `new_bytes`, its
// contents kept and the new bytes zero; it may move. nullptr when the memory
// is exhausted, and then `block` is left as it was.
void* grow_zeroed(void* block, std::size_t old_bytes, std::size_t new_bytes);

}  // namespace pcgrid
