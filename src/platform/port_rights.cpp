#include "platform/port_rights.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace morlak {

namespace {

constexpr int kBindServiceCapability = 10;  // CAP_NET_BIND_SERVICE

// The first port any user may listen on; the kernel's default when it cannot be read.
int FirstUnprivilegedPort() {
  std::ifstream file("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  int port = 1024;
  file >> port;
  return port;
}

// Whether the capability is in this process's effective set; without /proc, being root.
bool HasBindServiceCapability() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    unsigned long long mask = 0;
    std::istringstream(line.substr(7)) >> std::hex >> mask;
    return (mask >> kBindServiceCapability) & 1;
  }
  return ::geteuid() == 0;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool MayListenOnPort(int port) {
  return port <= 0 || port >= FirstUnprivilegedPort() || HasBindServiceCapability();
}

std::string LowPortPermissionCommand(const std::string& executable) {
  return "sudo setcap cap_net_bind_service=+ep " + ShellQuoted(executable);
}

}  // namespace morlak
