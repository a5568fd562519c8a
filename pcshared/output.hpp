// Buffered writing to standard output for the word programs. A failed
// write (a full disk, a closed descriptor) prints one message on standard
// error and ends the process with exit status 1.
#pragma once

#include <string_view>

namespace pcgrid {

void put_output(std::string_view bytes);

// Writes out whatever is buffered; call it once the output is complete.
void flush_output();

}  // namespace pcgrid
