#include "picture.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace gridplot {

namespace {

constexpr std::string_view PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
// The last chunk: no data, its type, its CRC.
constexpr std::string_view PNG_END = std::string_view("\0\0\0\0IEND\xae\x42\x60\x82", 12);
constexpr std::size_t ENDS = 64;  // bytes looked at at each end

// At most ENDS bytes at `offset`.
std::string bytes_at(int fd, off_t offset) {
  std::string bytes(ENDS, '\0');
  const ssize_t got = pread(fd, bytes.data(), bytes.size(), offset);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

std::string_view without_trailing_space(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

const char* format_name(Format format) {
  switch (format) {
    case Format::svg:
      return "SVG";
    case Format::pdf:
      return "PDF";
    case Format::png:
      break;
  }
  return "PNG";
}

bool picture_is_whole(const std::string& path, Format format) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  const bool sized = fstat(fd, &status) == 0;
  const std::string head = bytes_at(fd, 0);
  const off_t size = sized ? status.st_size : 0;
  const std::string tail = bytes_at(fd, size > static_cast<off_t>(ENDS) ? size - ENDS : 0);
  ::close(fd);
  const std::string_view end = without_trailing_space(tail);
  switch (format) {
    case Format::svg:
      return end.ends_with("</svg>");
    case Format::pdf:
      return head.starts_with("%PDF-") && end.ends_with("%%EOF");
    case Format::png:
      break;
  }
  return head.starts_with(PNG_SIGNATURE) && tail.ends_with(PNG_END);
}

}  // namespace gridplot
