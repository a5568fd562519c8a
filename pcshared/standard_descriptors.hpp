// Standard input, output and error that a parent left closed, or that are
// a terminal.
#pragma once

namespace pcgrid {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the program opens later takes its number (and receives what was
// meant for standard output or error). Call it first thing in main. If
// /dev/null cannot be opened the process ends with exit status 1.
void open_closed_standard_descriptors();

// Whether descriptor `fd` (0, 1 or 2) was closed when the program started
// and now holds the /dev/null placeholder: no place to read data from or to
// write data to. A program that would use it reports EBADF.
bool standard_descriptor_was_closed(int fd);

// Writes `note` on standard error when standard input is a terminal, so that
// someone who typed the program's name, or `--help`, learns what it waits
// for; nothing otherwise.
void tell_a_terminal(const char* note);

}  // namespace pcgrid
