// Buffered writing to standard output for the word programs. A failed
// write (a full disk, a closed descriptor) prints one message on standard
// error and ends the process with exit status 1.
#pragma once

#include <cstddef>
#include <string_view>

namespace pcgrid {

// Room for `size` bytes (at most 64 KiB) at the end of the buffered
// output, to be filled and handed back with commit_output.
char* reserve_output(std::size_t size);
void commit_output(const char* end);

void put_output(std::string_view bytes);

// Writes out whatever is buffered; call it once the output is complete.
void flush_output();

}  // namespace pcgrid
