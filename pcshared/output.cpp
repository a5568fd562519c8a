#include "output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "descriptor_io.hpp"
#include "messages.hpp"
#include "standard_descriptors.hpp"

namespace pcgrid {

namespace {

constexpr std::size_t OUTPUT_BUFFER = 1 << 20;
char buffer[OUTPUT_BUFFER];
std::size_t filled = 0;

// A standard output that the caller closed holds /dev/null, which would
// take the data without a word: it fails as the closed descriptor would.
void write_all(const char* data, std::size_t size) {
  const int error = standard_descriptor_was_closed(STDOUT_FILENO)
                        ? EBADF
                        : write_fully(STDOUT_FILENO, data, size);
  if (error != 0) fail("Failed to write to standard output: %s\n", std::strerror(error));
}

}  // namespace

char* reserve_output(std::size_t size) {
  if (size > OUTPUT_BUFFER - filled) flush_output();
  return buffer + filled;
}

void commit_output(const char* end) {
  filled = static_cast<std::size_t>(end - buffer);
}

void put_output(std::string_view bytes) {
  if (bytes.size() > OUTPUT_BUFFER - filled) {
    flush_output();
    if (bytes.size() > OUTPUT_BUFFER) {
      write_all(bytes.data(), bytes.size());
      return;
    }
  }
  std::memcpy(buffer + filled, bytes.data(), bytes.size());
  filled += bytes.size();
}

void flush_output() {
  write_all(buffer, filled);
  filled = 0;
}

}  // namespace pcgrid
