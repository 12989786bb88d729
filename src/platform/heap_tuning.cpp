#include "platform/heap_tuning.h"

#include <malloc.h>

namespace morlak {

void TuneHeapForServer() {
  mallopt(M_ARENA_MAX, 2);
}

void ReleaseFreeHeap() {
  malloc_trim(0);
}

}  // namespace morlak
