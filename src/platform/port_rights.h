// Whether this process may listen on a port, and how its owner grants the right to listen
// on the ports the system keeps for administrators (below 1024 on Linux).
#pragma once

#include <string>

namespace morlak {

// False when listening on `port` needs a right this process lacks (0, any free port, is
// always allowed).
bool MayListenOnPort(int port);

// A shell command that lets `executable` listen on every port for any user who runs it.
std::string LowPortPermissionCommand(const std::string& executable);

}  // namespace morlak
