// The command lines of the word programs, lettercode and clusterback: their
// few options, read by hand because every other argument is ignored, as it
// always was.
#pragma once

namespace pcgrid {

struct WordProgram {
  const char* name;  // "lettercode" or "clusterback"
  const char* help;  // the text of --help
};

// Reads the options of `program` from argv: --help and --version print
// their text on standard output and end the process with status 0 (1, with
// the message of a failed write, when standard output cannot take it).
void read_word_options(int argc, char** argv, const WordProgram& program);

}  // namespace pcgrid
