#include "platform/readiness_set.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace morlak {

ReadinessSet::ReadinessSet() : handle_(::epoll_create1(EPOLL_CLOEXEC)) {
  if (handle_ < 0) throw std::system_error(errno, std::system_category(), "epoll_create1");
}

ReadinessSet::~ReadinessSet() {
  ::close(handle_);
}

bool ReadinessSet::ArmOnce(SocketHandle s, void* token, bool added) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.ptr = token;
  if (::epoll_ctl(handle_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s, &event) == 0) return true;
  SetLastSocketErrorFromErrno(errno);
  return false;
}

void* ReadinessSet::WaitOne(int timeoutMs) {
  epoll_event event{};
  const int n = ::epoll_wait(handle_, &event, 1, timeoutMs);
  return n == 1 ? event.data.ptr : nullptr;
}

}  // namespace morlak
