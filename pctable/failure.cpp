#include "failure.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace pctable {

namespace {

void out_of_memory() {
  std::fputs("pctable: out of memory\n", stderr);
  std::exit(1);
}

}  // namespace

void fail_plain(std::string_view what) {
  std::string message = "pctable: ";
  message.append(what).append("\n");
  std::fputs(message.c_str(), stderr);
  std::exit(1);
}

void fail(std::string_view where, std::string_view what) {
  std::string message(where);
  message.append(": ").append(what);
  fail_plain(message);
}

void fail_at(std::string_view file, std::int64_t line, std::string_view what) {
  std::string where(file);
  where.append(":").append(std::to_string(line));
  fail(where, what);
}

void fail_when_memory_runs_out() {
  std::set_new_handler(out_of_memory);
}

}  // namespace pctable
