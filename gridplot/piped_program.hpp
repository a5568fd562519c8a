// Running a program with its input on a pipe.
#pragma once

#include <string>
#include <string_view>

namespace gridplot {

// Runs `program`, found on PATH, in `folder` ("" for the current one), with
// `input` on its standard input, and waits for it to end. Returns 0 with its
// wait status in `status`, or the errno of what kept it from running.
int run_with_input(const char* program, const std::string& folder, std::string_view input,
                   int& status);

}  // namespace gridplot
