#include "engine/engine_errors.h"

#include "platform/socket.h"

namespace morlak {

EIdSocketError::EIdSocketError(int code) : EIdException(SocketErrorMessage(code)), code_(code) {}

}  // namespace morlak
