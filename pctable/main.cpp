// pctable: one PC table, in the format the word programs read, from the
// files that MD and numerical tools write: GROMACS xvg, delimited text and
// NumPy .npy arrays.
//
// Usage: pctable [--label-column N] [--columns LIST] [--points] [-o OUT]
// [FILE...]. Reads each FILE in turn (standard input when there is none, or
// for -) and writes one line per frame: an integer label, then the chosen
// components, separated by one space. Numbers in text are copied byte for
// byte. Nothing incomplete is left behind: with -o the file appears only
// when whole; on standard output (or a FIFO or device), inputs that can be
// read twice are checked to the end before the first byte is written. A
// file that changes while it is read, and an output that is also an input,
// are refused.

#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "delimited_text.hpp"
#include "failure.hpp"
#include "inputs.hpp"
#include "npy_input.hpp"
#include "options.hpp"
#include "standard_descriptors.hpp"
#include "table_output.hpp"
#include "xvg_input.hpp"

namespace {

using namespace pctable;

std::vector<Input> open_inputs(const Options& options) {
  std::vector<Input> inputs(options.files.empty() ? 1 : options.files.size());
  if (options.files.empty() || std::ranges::count(options.files, std::string_view("-")) > 0) {
    pcgrid::tell_a_terminal(
        "pctable reads a GROMACS xvg file, delimited text or a NumPy .npy array "
        "on standard input until Ctrl-D; man pctable describes it.\n");
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    open_input(inputs[i], options.files.empty() ? "-" : options.files[i]);
  }
  return inputs;
}

// Refuses an input that is the very file the table would go to (`pctable
// pts >> pts` would read its own output, and -o would replace its input).
void refuse_output_among_inputs(const Options& options, const std::vector<Input>& inputs) {
  const bool to_file = options.output != nullptr && std::string_view(options.output) != "-";
  const pcgrid::FileIdentity output = to_file ? pcgrid::identity_of_path(options.output)
                                              : pcgrid::identity_of_descriptor(STDOUT_FILENO);
  for (const Input& input : inputs) {
    if (input.regular && pcgrid::same_file(input.identity, output)) {
      fail(input.name, std::string("it is also the output (") +
                           (to_file ? options.output : "standard output") +
                           "); write the table to another file");
    }
  }
}

bool can_reread_all(const std::vector<Input>& inputs) {
  for (const Input& input : inputs) {
    if (!can_reread(input)) return false;
  }
  return true;
}

// One pass over every input, writing the table or only checking it.
Table read_inputs(const Options& options, std::vector<Input>& inputs, Output& output,
                  bool writing) {
  Table table;
  table.options = &options;
  table.output = &output;
  table.writing = writing;
  for (Input& input : inputs) {
    switch (input.kind) {
      case Kind::xvg:
        read_xvg(table, input);
        break;
      case Kind::delimited:
        read_delimited(table, input);
        break;
      case Kind::npy:
        read_npy(table, input);
        break;
    }
    check_unchanged(input);
  }
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  pcgrid::open_closed_standard_descriptors();
  fail_when_memory_runs_out();
  const Options options = parse_options(argc, argv);
  std::vector<Input> inputs = open_inputs(options);
  refuse_output_among_inputs(options, inputs);
  Output output;
  open_output(output, options);
  if (output_written_in_place(output) && can_reread_all(inputs)) {
    read_inputs(options, inputs, output, false);
  }
  const Table table = read_inputs(options, inputs, output, true);
  finish_output(output);
  write_summary(table);
  return 0;
}
