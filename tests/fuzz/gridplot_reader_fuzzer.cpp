// gridplot's reading of gridmap's log and matrix. The input is a log, a NUL
// byte, then a matrix. Each is read by gridplot's own reader from a file in
// memory: it must refuse it, or give a grid of 3 to 1001 nodes along each
// axis and a matrix whose values are the numbers of the text, in order,
// finite, as strtod reads them.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "matrix.hpp"
#include "run_log.hpp"

namespace {

using pcgrid::fuzzing::check;
using pcgrid::fuzzing::memory_file;

// The matrix's numbers as strtod reads the fields between blanks and line ends.
void check_values(std::string_view text, const std::vector<double>& values) {
  std::size_t index = 0;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t\n", at)) != std::string_view::npos) {
    const std::size_t end = std::min(text.find_first_of(" \t\n", at), text.size());
    const std::string field(text.substr(at, end - at));
    char* stop = nullptr;
    const double value = std::strtod(field.c_str(), &stop);
    check(index < values.size(), "no more fields than values");
    check(value == values[index], "each value is its field's number");
    ++index;
    at = end;
  }
  check(index == values.size(), "as many fields as values");
  for (const double value : values) check(std::isfinite(value), "values are finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = std::min(input.find('\0'), input.size());
  const std::string_view log = input.substr(0, split);
  const std::string_view matrix = split < input.size() ? input.substr(split + 1) : "";

  gridplot::Run run;
  int fd = memory_file(log);
  const std::string log_error = gridplot::read_run_log(fd, "LOG", run);
  ::close(fd);
  if (!log_error.empty()) return 0;
  check(
      run.nx >= 3 && run.nx <= gridplot::MAX_NODES && run.ny >= 3 && run.ny <= gridplot::MAX_NODES,
      "a grid of 3 to 1001 nodes along each axis");
  check(run.xmin <= run.xmax && run.ymin <= run.ymax, "limits in order");

  std::vector<double> values;
  fd = memory_file(matrix);
  const std::string matrix_error = gridplot::read_matrix(fd, "MATRIX", run, values);
  ::close(fd);
  if (!matrix_error.empty()) return 0;
  check(values.size() == static_cast<std::size_t>(run.nx) * run.ny, "a value for every node");
  check_values(matrix, values);
  gridplot::check_node_placement("LOG", run, values);
  return 0;
}
