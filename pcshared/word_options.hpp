// The command lines of the word programs, lettercode and clusterback: their
// few options, read by hand because every other argument is ignored, as it
// always was.
#pragma once

namespace pcgrid {

struct WordProgram {
  const char* name;  // "lettercode" or "clusterback"
  const char* help;  // the text of --help
  bool grid_of;      // whether --grid-of is an option
};

struct WordOptions {
  const char* grid = nullptr;  // --grid FILE
  bool grid_of = false;        // --grid-of
  char** inputs = nullptr;     // with --grid-of, the arguments that are not options
  int input_count = 0;
};

// Reads the options of `program` from argv. --help and --version print
// their text on standard output and end the process with status 0 (1, with
// the message of a failed write, when standard output cannot take it). A
// usage error ends it with a message and status 2. Other arguments that
// begin with "--" are ignored; so are the rest, unless --grid-of takes
// them as its inputs ("-" is standard input).
WordOptions read_word_options(int argc, char** argv, const WordProgram& program);

}  // namespace pcgrid
