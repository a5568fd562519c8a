#include "file_clashes.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "refusal.hpp"
#include "whole_file.hpp"

namespace wordclusters {

namespace {

// A regular file (which would be replaced), or none yet.
bool is_regular_or_new(const char* name) {
  struct stat found {};
  return stat(name, &found) != 0 ? errno == ENOENT : S_ISREG(found.st_mode);
}

bool is_regular(const pcgrid::FileIdentity& identity, int fd) {
  struct stat found {};
  return identity.exists && fstat(fd, &found) == 0 && S_ISREG(found.st_mode);
}

}  // namespace

void refuse_clashing_files(const Options& options) {
  const bool words_from_standard_input =
      options.file == nullptr || std::strcmp(options.file, "-") == 0;
  const pcgrid::FileIdentity input = words_from_standard_input
                                         ? pcgrid::identity_of_descriptor(STDIN_FILENO)
                                         : pcgrid::identity_of_path(options.file);
  const bool weights_from_standard_input =
      options.weights != nullptr && std::strcmp(options.weights, "-") == 0;
  const pcgrid::FileIdentity weights = options.weights == nullptr ? pcgrid::FileIdentity{}
                                       : weights_from_standard_input
                                           ? pcgrid::identity_of_descriptor(STDIN_FILENO)
                                           : pcgrid::identity_of_path(options.weights);
  if (pcgrid::same_file(input, weights)) {
    refuse(std::string(options.weights) + ": the --weights file is the input, which holds the words");
  }
  const pcgrid::FileIdentity standard_output = pcgrid::identity_of_descriptor(STDOUT_FILENO);
  const bool output_is_file = is_regular(standard_output, STDOUT_FILENO);
  if (output_is_file && pcgrid::same_file(standard_output, input)) {
    refuse("standard output is the input, which it would change");
  }
  if (output_is_file && pcgrid::same_file(standard_output, weights)) {
    refuse("standard output is the --weights file, which it would change");
  }
  for (const char* name : options.count_files) {
    const pcgrid::FileIdentity count_file = std::strcmp(name, "-") == 0
                                                ? pcgrid::identity_of_descriptor(STDIN_FILENO)
                                                : pcgrid::identity_of_path(name);
    if (output_is_file && pcgrid::same_file(standard_output, count_file)) {
      refuse("standard output is the input, which it would change");
    }
  }
  const pcgrid::FileIdentity dictionary = options.dictionary == nullptr
                                              ? pcgrid::FileIdentity{}
                                              : pcgrid::identity_of_path(options.dictionary);
  if (output_is_file && pcgrid::same_file(standard_output, dictionary)) {
    refuse("standard output is the --dictionary file, which it would change");
  }
  const std::vector<NamedOutput> named = state_outputs(options);
  for (std::size_t i = 0; i < named.size(); ++i) {
    const NamedOutput& out = named[i];
    if (!is_regular_or_new(out.name)) continue;  // a device or a FIFO, written in place
    const pcgrid::FileIdentity identity = pcgrid::identity_of_path(out.name);
    const std::string what = std::string(out.name) + ": the " + out.option + " file is ";
    if (pcgrid::same_file(identity, input)) refuse(what + "the input");
    if (pcgrid::same_file(identity, weights)) refuse(what + "the --weights file");
    if (pcgrid::same_file(identity, dictionary)) refuse(what + "the --dictionary file");
    if (output_is_file && pcgrid::same_file(identity, standard_output)) {
      refuse(what + "standard output, where the dictionary goes");
    }
    const std::string path = pcgrid::resolved_output_path(out.name);
    for (std::size_t j = 0; j < i; ++j) {
      const NamedOutput& other = named[j];
      if (!is_regular_or_new(other.name)) continue;
      if (pcgrid::same_file(identity, pcgrid::identity_of_path(other.name)) ||
          (!path.empty() && path == pcgrid::resolved_output_path(other.name))) {
        refuse(what + "also the " + other.option + " file");
      }
    }
  }
}

}  // namespace wordclusters
