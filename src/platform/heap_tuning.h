// Heap settings for a server whose many connection threads keep allocating small,
// long-lived objects (a session per cookie-less request lives for the session timeout).
#pragma once

namespace morlak {

// Few shared arenas that grow in large steps: per-thread arenas growing a page at a
// time cost a system call and page faults on nearly every request.
void TuneHeapForServer();

}  // namespace morlak
