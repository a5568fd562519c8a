// The OpenMP runtime's threads, started before the tables take the memory.
#pragma once

namespace pcgrid {

// Starts the threads of the OpenMP runtime now: as many as it would start
// for a parallel region, or fewer when the memory (an address-space limit)
// has room for fewer stacks, and then every parallel region runs on those.
// Once started they stay, so no later region needs a new one: the runtime
// cannot fail to start a thread and end the process in words of its own
// when the tables have taken the room. The outputs do not depend on the
// number of threads. Call it after limit_thread_stacks. The number of
// threads started, the calling one included.
int start_thread_pool();

}  // namespace pcgrid
