#include "platform/heap_tuning.h"

#include <malloc.h>

namespace morlak {

void TuneHeapForServer() {
  mallopt(M_ARENA_MAX, 2);
  mallopt(M_TOP_PAD, 32 << 20);
}

}  // namespace morlak
