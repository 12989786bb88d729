#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace morlak {

void SecureRandomBytes(void* buffer, size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::getrandom(p, count, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("Secure random source failed. ") + std::strerror(errno));
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
}

}  // namespace morlak
