// Every program's way out on failure: one message, then the exit status.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pcgrid {

// Flushes `stream` and ends the process with `status`; when the stream
// cannot be written, `unwritten` (unless null) goes to standard error first.
[[noreturn]] void exit_flushed(std::FILE* stream, int status, const char* unwritten);

// printf's `format` on standard error, exit status 1 (the word programs'
// own texts).
[[noreturn, gnu::format(printf, 1, 2)]] void fail(const char* format, ...);

// "PROGRAM: WHAT" and a newline, then `hint` (a whole line, or nothing),
// on standard error; exit status `status`.
[[noreturn]] void refuse(std::string_view program, std::string_view what, int status = 1,
                         std::string_view hint = {});

// From now on, memory that cannot be had ends the process with
// "PROGRAM: out of memory", exit status 1 (files begun are removed as at
// any exit). `program` must live as long as the process.
void refuse_when_memory_runs_out(const char* program);

// An option's value as a message shows it: 'VALUE'.
std::string quoted(std::string_view value);

// A field of the input as a message shows it: in double quotes, control
// bytes as \xHH, at most 40 bytes of it followed by "..." when longer.
std::string quoted_field(std::string_view text);

}  // namespace pcgrid
