// Running a program with its input on a pipe, and the signals that stop it.
#pragma once

#include <string>
#include <string_view>

namespace gridplot {

// From here on every signal that would end the process is caught (but
// SIGKILL and SIGSTOP, which cannot be), unless it was ignored at start.
// While run_with_input runs a program they are passed on to it and
// remembered (stop_signal); at any other time, and for the faults SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS and SIGTRAP always, they remove the unfinished output
// files and the file given to remove_on_stop, and end the process as the signal would. Writing to a
// pipe whose reader has gone becomes an error (EPIPE).
void catch_stop_signals();

// Removes what a stop signal would remove: the unfinished output files and
// the file given to remove_on_stop. For a process about to end.
void remove_unfinished();

// A file, such as a temporary picture, removed when a stop signal ends the
// process; nullptr for none. The path is copied.
void remove_on_stop(const char* path);

// The stop signal caught while the program ran, or 0.
int stop_signal();

struct ProgramRun {
  int status = 0;                // its wait status, when it ran
  const char* failed = nullptr;  // or what failed, with errno telling why
};

// Runs `program`, found on PATH, with `arguments` (its name first, then a
// nullptr), in `folder` ("" for the current one), with `input` on its
// standard input and its standard output and error in `messages_fd`, and
// waits for it to end. The input stops early when a stop signal comes.
ProgramRun run_with_input(const char* program, char* const arguments[], const std::string& folder,
                          std::string_view input, int messages_fd);

}  // namespace gridplot
