// Failures of the engine. Each carries the fixed English message that ends up in the
// server's OnException event or, for activation, in the caller's hands.
// Every error class derives from EIdException.
#pragma once

#include <stdexcept>
#include <string>

namespace morlak {

class EIdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed socket call: "Socket Error # <code>\r\n<text>".
class EIdSocketError : public EIdException {
 public:
  explicit EIdSocketError(int code);
  int LastError() const { return code_; }

 private:
  int code_;
};

// Reading or writing a connection whose socket is already closed.
class EIdClosedSocket : public EIdException {
 public:
  EIdClosedSocket() : EIdException("Not Connected") {}
};

// The peer hung up while a read still needed data.
class EIdConnClosedGracefully : public EIdException {
 public:
  EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout() : EIdException("Read Timeout") {}
};

class EIdMaxLineLengthExceeded : public EIdException {
 public:
  EIdMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdNoDataToRead : public EIdException {
 public:
  EIdNoDataToRead() : EIdException("No data to read.") {}
};

class EIdCouldNotBindSocket : public EIdException {
 public:
  EIdCouldNotBindSocket()
      : EIdException("Could not bind socket. Address and port are already in use.") {}
};

class EIdTerminateThreadTimeout : public EIdException {
 public:
  EIdTerminateThreadTimeout() : EIdException("Terminate Thread Timeout") {}
};

}  // namespace morlak
