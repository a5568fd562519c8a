#include "thread_pool.hpp"

#include <omp.h>
#include <pthread.h>

#include <algorithm>

namespace pcgrid {

namespace {

void* do_nothing(void*) {
  return nullptr;
}

// How many of `wanted` threads can exist at once: each is started, with
// the stack the runtime's would have, and they are joined only when all
// have been tried. Their stacks stay in the C library's cache for the
// runtime's threads.
int threads_that_fit(int wanted) {
  constexpr int MOST = 1024;
  pthread_t threads[MOST];
  int started = 0;
  while (started < std::min(wanted, MOST) &&
         pthread_create(&threads[started], nullptr, do_nothing, nullptr) == 0) {
    ++started;
  }
  for (int t = 0; t < started; ++t) pthread_join(threads[t], nullptr);
  return started;
}

}  // namespace

int start_thread_pool() {
  const int wanted = omp_get_max_threads();
  if (wanted <= 1) return 1;
  const int threads = 1 + threads_that_fit(wanted - 1);
  if (threads < wanted) omp_set_num_threads(threads);
  // Regions of this size, or of one thread (an `if` clause that is false),
  // keep the runtime's threads; none of the programs asks for another size.
  // The region does something, so that the compiler keeps it.
  int started = 0;
#pragma omp parallel reduction(+ : started)
  started += 1;
  return started;
}

}  // namespace pcgrid
