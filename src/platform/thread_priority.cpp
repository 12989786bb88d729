#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace morlak {

void LowerCurrentThreadPriority() {
  // On Linux the nice value belongs to the thread. Raising it is always permitted, so
  // there is no failure to report.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace morlak
