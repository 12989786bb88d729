// Heap settings for a server whose many connection threads keep allocating small,
// long-lived objects (a session per cookie-less request lives for the session timeout).
#pragma once

namespace morlak {

// Few shared arenas, so the memory freed by one thread serves the others.
void TuneHeapForServer();

// Hands the heap's free pages back to the system; for when a load has ended and the
// memory it held is free again.
void ReleaseFreeHeap();

}  // namespace morlak
