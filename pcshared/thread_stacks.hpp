// The stacks of the worker threads that OpenMP starts.
#pragma once

namespace pcgrid {

// Gives the threads started from now on 1 MiB stacks instead of the 8 MiB
// (the stack limit) they take by default, unless OMP_STACKSIZE says
// otherwise. The parallel code needs little stack, and under an address-space
// limit the default stacks of many threads would take the room the tables
// need, with a failure that the runtime reports in its own words.
void limit_thread_stacks();

}  // namespace pcgrid
