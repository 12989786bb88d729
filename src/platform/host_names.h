// Reverse name lookup of a client address with a bounded wait: a slow or failing resolver
// must never hold a request, so the address itself stands in for a name that does not
// come in time.
#pragma once

#include <string>

namespace morlak {

// How long a request waits for the client's host name.
constexpr int kHostNameWaitMs = 500;

// The host name of an IPv4 address, or the address itself when no name is found within
// `timeoutMs`. Answers are remembered for a minute, so repeated requests from one client
// cost no lookup.
std::string HostNameOrAddress(const std::string& ip, int timeoutMs);

}  // namespace morlak
