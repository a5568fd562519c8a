#include "output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "messages.hpp"
#include "standard_descriptors.hpp"

namespace pcgrid {

namespace {

constexpr std::size_t OUTPUT_BUFFER = 1 << 20;
char buffer[OUTPUT_BUFFER];
OutputBuffer out{.fd = STDOUT_FILENO, .data = buffer, .capacity = OUTPUT_BUFFER, .filled = 0};

[[noreturn]] void write_failed(int error) {
  fail("Failed to write to standard output: %s\n", std::strerror(error));
}

// A standard output that the caller closed holds /dev/null, which would
// take the data without a word: it fails as the closed descriptor would.
void check_open() {
  if (standard_descriptor_was_closed(STDOUT_FILENO)) write_failed(EBADF);
}

}  // namespace

char* reserve_output(std::size_t size) {
  if (size > OUTPUT_BUFFER - out.filled) check_open();
  return room(out, size, write_failed);
}

void commit_output(const char* end) {
  commit(out, end);
}

void put_output(std::string_view bytes) {
  if (bytes.size() > OUTPUT_BUFFER - out.filled) check_open();
  put(out, bytes, write_failed);
}

void flush_output() {
  check_open();
  write_gathered(out, write_failed);
}

}  // namespace pcgrid
