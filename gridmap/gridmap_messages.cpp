#include "gridmap_messages.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "messages.hpp"

namespace gridmap {

namespace {

char output_buffer[1 << 20];
bool on_terminal = false;

}  // namespace

void set_up_output() {
  std::signal(SIGPIPE, SIG_IGN);
  on_terminal = isatty(STDOUT_FILENO) != 0;
  if (!on_terminal) std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
}

bool output_is_terminal() {
  return on_terminal;
}

void say(const char* format, ...) {
  va_list values;
  va_start(values, format);
  std::vprintf(format, values);
  va_end(values);
}

void quit() {
  pcgrid::exit_flushed(stdout, 1, "Can not write to standard output.\n");
}

void refuse(const char* format, ...) {
  va_list values;
  va_start(values, format);
  std::vprintf(format, values);
  va_end(values);
  quit();
}

}  // namespace gridmap
