#include "failure.hpp"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pctable {

namespace {

const char* partial_output = nullptr;

// A signal that ends the process takes the partial output with it.
extern "C" void remove_and_reraise(int signal) {
  if (partial_output != nullptr) ::unlink(partial_output);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void remove_on_failure(const char* path) {
  partial_output = path;
  const auto handler = path != nullptr ? remove_and_reraise : SIG_DFL;
  for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGPIPE, SIGXFSZ}) std::signal(signal, handler);
}

void fail(std::string_view where, std::string_view what) {
  if (partial_output != nullptr) ::unlink(partial_output);
  std::string message = "pctable: ";
  message.append(where).append(": ").append(what).append("\n");
  std::fputs(message.c_str(), stderr);
  std::exit(1);
}

void fail_at(std::string_view file, std::int64_t line, std::string_view what) {
  std::string where(file);
  where.append(":").append(std::to_string(line));
  fail(where, what);
}

}  // namespace pctable
