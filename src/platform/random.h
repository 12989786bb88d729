// Bytes from the system's cryptographically secure generator.
#pragma once

#include <cstddef>

namespace morlak {

// Fills the buffer completely; throws std::runtime_error when the system refuses.
void SecureRandomBytes(void* buffer, size_t count);

}  // namespace morlak
