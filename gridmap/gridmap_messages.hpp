// gridmap's messages. Every one goes to standard output, errors included;
// only a failure to write there is told on standard error, once, at the end.
#pragma once

namespace gridmap {

// The matrices go to files, so a reader of the messages that goes away
// (gridmap ... | head) must not end the run: SIGPIPE is ignored, and the
// failed writes are told at the end. Fully buffered unless on a terminal.
void set_up_output();

// Whether standard output is a terminal, where the counter is flushed.
bool output_is_terminal();

[[gnu::format(printf, 1, 2)]] void say(const char* format, ...);

// Every way out: exit status 1, also after success.
[[noreturn]] void quit();

// Prints a message and quits.
[[noreturn, gnu::format(printf, 1, 2)]] void refuse(const char* format, ...);

}  // namespace gridmap
