#include "failure.hpp"

#include <string>

#include "messages.hpp"

namespace pctable {

void fail_plain(std::string_view what) {
  pcgrid::refuse("pctable", what);
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
  pcgrid::refuse_when_memory_runs_out("pctable");
}

}  // namespace pctable
