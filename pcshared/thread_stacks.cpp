#include "thread_stacks.hpp"

#include <pthread.h>

#include <cstddef>

namespace pcgrid {

void limit_thread_stacks() {
  constexpr std::size_t STACK = std::size_t{1} << 20;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return;
  // Only a default: where it is not taken, the threads keep the usual stacks.
  if (pthread_attr_setstacksize(&attributes, STACK) == 0) {
    pthread_setattr_default_np(&attributes);
  }
  pthread_attr_destroy(&attributes);
}

}  // namespace pcgrid
