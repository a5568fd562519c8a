#include "messages.hpp"

#include <cstdarg>
#include <cstdlib>
#include <new>

namespace pcgrid {

namespace {

const char* program_running = "";

void out_of_memory() {
  std::fprintf(stderr, "%s: out of memory\n", program_running);
  std::exit(1);
}

}  // namespace

void exit_flushed(std::FILE* stream, int status, const char* unwritten) {
  if ((std::fflush(stream) != 0 || std::ferror(stream)) && unwritten != nullptr) {
    std::fputs(unwritten, stderr);
  }
  std::exit(status);
}

void fail(const char* format, ...) {
  std::va_list values;
  va_start(values, format);
  std::vfprintf(stderr, format, values);
  va_end(values);
  exit_flushed(stderr, 1, nullptr);
}

void refuse(std::string_view program, std::string_view what, int status, std::string_view hint) {
  std::string message(program);
  message.append(": ").append(what).append("\n").append(hint);
  std::fputs(message.c_str(), stderr);
  std::exit(status);
}

void refuse_when_memory_runs_out(const char* program) {
  program_running = program;
  std::set_new_handler(out_of_memory);
}

std::string quoted(std::string_view value) {
  std::string text = "'";
  text.append(value).append("'");
  return text;
}

std::string quoted_field(std::string_view text) {
  constexpr std::size_t SHOWN = 40;
  constexpr char HEX[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < SHOWN; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += HEX[byte >> 4];
      out += HEX[byte & 15];
    } else {
      out += text[i];
    }
  }
  if (text.size() > SHOWN) out += "...";
  out += '"';
  return out;
}

}  // namespace pcgrid
