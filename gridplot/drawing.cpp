#include "drawing.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "descriptor_io.hpp"
#include "failure.hpp"
#include "picture.hpp"
#include "piped_program.hpp"
#include "script.hpp"
#include "svg_form.hpp"
#include "whole_file.hpp"

namespace gridplot {

namespace {

constexpr char INSTALL_HINT[] = "apt-get install --no-install-recommends gnuplot-nox";

// The picture on its way: gnuplot draws into `picture`, the temporary file
// beside the output that takes its name, or, when the output is written in
// place (a FIFO, a device, standard output), a temporary file of our own,
// copied there.
struct Drawing {
  pcgrid::WholeFile output;
  std::string picture;
  bool own_picture = false;
  int messages = -1;  // gnuplot's standard output and error, shown only when it fails
};

// Under a limit of address space or data (ulimit -v, ulimit -d), which
// gnuplot inherits, what is likely the cause of its failure; "" without.
std::string memory_hint() {
  std::string hint;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && hint.empty()) {
      hint = std::string("; it ran under a limit of ") + std::to_string(limit.rlim_cur >> 20) +
             " MiB of " +
             (resource == RLIMIT_AS ? "address space (ulimit -v)" : "data (ulimit -d)") +
             ", perhaps too little for it";
    }
  }
  return hint;
}

void show_messages(const Drawing& drawing) {
  char block[1 << 12];
  for (off_t at = 0;;) {
    const ssize_t got = pread(drawing.messages, block, sizeof block, at);
    if (got <= 0) return;
    if (pcgrid::write_fully(STDERR_FILENO, block, static_cast<std::size_t>(got)) != 0) return;
    at += got;
  }
}

[[noreturn]] void give_up(Drawing& drawing, const std::string& what) {
  if (drawing.own_picture) ::unlink(drawing.picture.c_str());
  pcgrid::abandon_whole_file(drawing.output);
  refuse(what);
}

void begin_drawing(const Options& options, Drawing& drawing) {
  if (const char* failed = pcgrid::begin_whole_file(drawing.output, options.out.c_str())) {
    refuse((options.out == "-" ? "" : options.out + ": ") + failed + ": " + reason());
  }
  drawing.picture = drawing.output.temporary;
  if (drawing.picture.empty()) {
    const char* given = std::getenv("TMPDIR");
    const bool in_tmpdir = given != nullptr && *given != '\0';
    const std::string folder = in_tmpdir ? given : "/tmp";
    drawing.picture = folder + "/gridplot-XXXXXX";
    const int fd = mkostemp(drawing.picture.data(), O_CLOEXEC);
    if (fd < 0) {
      give_up(drawing, "cannot create a temporary picture in " + folder +
                           (in_tmpdir ? " ($TMPDIR)" : "") + ": " + reason());
    }
    drawing.own_picture = true;
    remove_on_stop(drawing.picture.c_str());
    ::close(fd);
  }
  drawing.messages = memfd_create("gnuplot messages", MFD_CLOEXEC);
  if (drawing.messages < 0) give_up(drawing, "cannot run gnuplot: " + reason());
}

// gnuplot, without its start-up files, reads the script on its standard
// input, in the folder of the picture it draws.
void run_gnuplot(Drawing& drawing, const Options& options, const Run& run,
                 const std::vector<double>& values, const std::vector<StateLabel>& labels) {
  const std::string folder = folder_of(drawing.picture);
  const std::string name = drawing.picture.substr(folder.size());
  if (name.find_first_of("\n\r") != std::string::npos) {
    give_up(drawing, options.out + ": a name with a line break cannot be given to gnuplot");
  }
  const std::string script = gnuplot_script(options, run, values, labels, name);
  char program[] = "gnuplot";
  char defaults[] = "-d";
  char* const arguments[] = {program, defaults, nullptr};
  const ProgramRun ran = run_with_input(program, arguments, folder, script, drawing.messages);
  const std::string not_installed =
      std::string("gnuplot is not installed (on Debian: ") + INSTALL_HINT + ")";
  if (ran.failed != nullptr && errno == ENOENT) give_up(drawing, not_installed);
  if (ran.failed != nullptr) give_up(drawing, std::string(ran.failed) + " gnuplot: " + reason());
  if (stop_signal() != 0) {
    give_up(drawing, "stopped by signal " + std::to_string(stop_signal()) + "; " + options.out +
                         " was left as it was");
  }
  const int status = ran.status;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  show_messages(drawing);
  if (WIFSIGNALED(status)) {
    give_up(drawing,
            "gnuplot was killed by signal " + std::to_string(WTERMSIG(status)) + memory_hint());
  }
  // 127: found, but not started (its libraries could not be loaded).
  give_up(drawing,
          std::string(WEXITSTATUS(status) == 127 ? "gnuplot could not start" : "gnuplot failed") +
              " (exit status " + std::to_string(WEXITSTATUS(status)) + ")" + memory_hint());
}

// A picture written in place: its bytes copied from our own temporary file.
void copy_picture(Drawing& drawing, const Options& options) {
  const int fd = ::open(drawing.picture.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) give_up(drawing, "cannot read the temporary picture: " + reason());
  char block[1 << 16];
  for (;;) {
    const ssize_t got = pcgrid::read_some(fd, block, sizeof block);
    if (got < 0) give_up(drawing, "cannot read the temporary picture: " + reason());
    if (got == 0) break;
    const int error = pcgrid::write_fully(drawing.output.fd, block, static_cast<std::size_t>(got));
    if (error != 0) {
      errno = error;
      give_up(drawing, options.out + ": cannot write: " + reason());
    }
  }
  ::close(fd);
  if (::unlink(drawing.picture.c_str()) != 0) {
    give_up(drawing, "cannot remove the temporary picture: " + reason());
  }
  drawing.own_picture = false;
  remove_on_stop(nullptr);
}

void finish_drawing(Drawing& drawing, const Options& options) {
  if (!picture_is_whole(drawing.picture, options.format)) {
    show_messages(drawing);
    give_up(drawing, std::string("gnuplot wrote no whole ") + format_name(options.format) +
                         " picture (is the disk full?); " + options.out + " was left as it was");
  }
  if (options.format == Format::svg && !rewrite_svg(drawing.picture)) {
    give_up(drawing, "cannot rewrite the temporary picture: " + reason());
  }
  if (options.format == Format::svg && !svg_is_well_formed(drawing.picture)) {
    give_up(drawing, "gnuplot wrote an SVG picture that is not well-formed XML; " + options.out +
                         " was left as it was");
  }
  if (drawing.own_picture) copy_picture(drawing, options);
  if (const char* failed = pcgrid::finish_whole_file(drawing.output)) {
    give_up(drawing, options.out + ": " + failed + ": " + reason());
  }
}

}  // namespace

void draw(const Options& options, const Run& run, const std::vector<double>& values,
          const std::vector<StateLabel>& labels) {
  Drawing drawing;
  begin_drawing(options, drawing);
  run_gnuplot(drawing, options, run, values, labels);
  finish_drawing(drawing, options);
}

}  // namespace gridplot
