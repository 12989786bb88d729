#include "platform/readiness_set.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace morlak {

ReadinessSet::ReadinessSet() : handle_(::epoll_create1(EPOLL_CLOEXEC)) {
  if (handle_ < 0) throw std::system_error(errno, std::system_category(), "epoll_create1");
  wakeHandle_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeHandle_ < 0) {
    const int code = errno;
    ::close(handle_);
    throw std::system_error(code, std::system_category(), "eventfd");
  }
  // Edge-triggered, so each wake is reported once, to one waiter, and the counter never
  // needs reading back.
  epoll_event event{};
  event.events = EPOLLIN | EPOLLET;
  event.data.u64 = 0;
  if (::epoll_ctl(handle_, EPOLL_CTL_ADD, wakeHandle_, &event) != 0) {
    const int code = errno;
    ::close(wakeHandle_);
    ::close(handle_);
    throw std::system_error(code, std::system_category(), "epoll_ctl");
  }
}

ReadinessSet::~ReadinessSet() {
  ::close(handle_);
  ::close(wakeHandle_);
}

namespace {

bool Control(int set, int operation, SocketHandle s, uint32_t events, uint64_t token) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | events;
  event.data.u64 = token;
  if (::epoll_ctl(set, operation, s, &event) == 0) return true;
  SetLastSocketErrorFromErrno(errno);
  return false;
}

}  // namespace

bool ReadinessSet::ArmOnce(SocketHandle s, uint64_t token, bool added) {
  return Control(handle_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s, EPOLLONESHOT, token);
}

bool ReadinessSet::Watch(SocketHandle s, uint64_t token, bool added) {
  return Control(handle_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s, EPOLLET, token);
}

int ReadinessSet::WaitSome(uint64_t tokens[kMaxBatch], int timeoutMs) {
  epoll_event events[kMaxBatch];
  const int n = ::epoll_wait(handle_, events, kMaxBatch, timeoutMs);
  int count = 0;
  for (int i = 0; i < n; ++i)
    if (events[i].data.u64 != 0) tokens[count++] = events[i].data.u64;
  return count;
}

bool ReadinessSet::Wake() {
  const uint64_t one = 1;
  if (::write(wakeHandle_, &one, sizeof one) == sizeof one) return true;
  SetLastSocketErrorFromErrno(errno);
  return false;
}

}  // namespace morlak
