// Scheduling priority of the calling thread.
#pragma once

namespace morlak {

// Puts the calling thread at the lowest priority that still gets a share of a busy
// machine: background sweeps then give way to connection threads, yet a sweep holding a
// lock is never starved outright (as it could be in the idle scheduling class).
void LowerCurrentThreadPriority();

}  // namespace morlak
