// Standard input, output and error that a parent left closed.
#pragma once

namespace pcgrid {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the program opens later takes its number (and receives what was
// meant for standard output or error). Call it first thing in main. If
// /dev/null cannot be opened the process ends with exit status 1.
void open_closed_standard_descriptors();

}  // namespace pcgrid
