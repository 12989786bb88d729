#include "engine/tcp_server.h"

#include <algorithm>
#include <chrono>

#include "engine/engine_errors.h"

namespace morlak {

namespace {

// A thread done with its connection goes back to accept only while fewer than this many
// wait there; otherwise it parks in the pool. The kernel wakes a waiting thread for every
// new connection, even when a thread coming back from its last one would have taken it,
// so more waiters than cores only add sleeps and wake-ups (64 waiters cost one context
// switch per request, one per core half of that).
int MaxWaitingAcceptors() {
  static const int count = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 64);
  return count;
}
// A thread waiting this long in accept while others wait too leaves for the pool.
constexpr int kAcceptIdleMs = 30000;
// How long a blocking send of an accepted socket waits without progress before its
// transport takes over the wait.
constexpr int kSendSliceMs = 1000;
constexpr int kAcceptErrorPauseMs = 100;
constexpr int kDeactivateWaitStepMs = 250;
constexpr int kDeferAcceptSeconds = 1;

bool TransientAcceptError(int code) {
  // Aborted handshakes, and running out of descriptors or memory, pass; the listener
  // keeps serving once they clear.
  return code == kSocketConnectionAborted || code == kSocketConnectionReset || code == 10024 ||
         code == 10055 || code == 10060 || code == 10050 || code == 10065;
}

}  // namespace

std::string TIdReply::FormattedReply() const {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Code > 0) {
      out += std::to_string(Code);
      out += i + 1 < Text.size() ? '-' : ' ';
    }
    out += Text[i];
    out += "\r\n";
  }
  return out;
}

TIdTCPServer::TIdTCPServer() = default;

TIdTCPServer::~TIdTCPServer() {
  ShutdownAndWait();
}

void TIdTCPServer::ShutdownAndWait() {
  std::lock_guard lock(activeMutex_);
  while (active_) {
    try {
      Shutdown();
    } catch (const EIdTerminateThreadTimeout&) {
      // A handler is still busy; its socket is closed, so it ends when it next touches it.
    }
  }
}

void TIdTCPServer::SetActive(bool value) {
  std::lock_guard lock(activeMutex_);
  if (value == active_) return;
  if (value)
    Startup();
  else
    Shutdown();
}

int TIdTCPServer::BoundPort() const {
  return listeners_.empty() ? 0 : listeners_.front()->boundPort_;
}

size_t TIdTCPServer::ConnectionCount() const {
  std::lock_guard lock(connectionsMutex_);
  return liveCount_;
}

void TIdTCPServer::Startup() {
  if (!IOHandler) IOHandler = std::make_shared<TIdServerIOHandlerSocket>();
  IOHandler->Init();
  std::vector<TIdSocketBinding> bindings = Bindings;
  if (bindings.empty()) bindings.push_back({"", DefaultPort});

  auto fail = [this](auto&& error) {
    CloseListeners();
    throw error;
  };
  for (const TIdSocketBinding& binding : bindings) {
    auto listener = std::make_unique<TIdListener>();
    listener->binding_ = binding;
    listener->socket_ = SocketCreateStream();
    if (listener->socket_ == kInvalidSocket) fail(EIdException("Cannot allocate socket."));
    listeners_.push_back(std::move(listener));
    const SocketHandle s = listeners_.back()->socket_;
    // Linux keeps a port whose old connections wait out TIME_WAIT unless reuse is on, so
    // a listener could not restart for a minute after serving.
    if (ReuseSocket != TIdReuseSocket::rsFalse) SocketSetReuseAddress(s);
    if (!SocketBind(s, binding.IP, binding.Port)) {
      const int code = LastSocketErrorCode();
      if (code == kSocketAddressInUse) fail(EIdCouldNotBindSocket());
      fail(EIdSocketError(code));
    }
  }
  for (auto& listener : listeners_) {
    const SocketHandle s = listener->socket_;
    SocketAddress local;
    if (!SocketListen(s, ListenQueue) || !SocketLocalAddress(s, local))
      fail(EIdSocketError(LastSocketErrorCode()));
    // Accepted sockets inherit this, so a header sent alone never waits for an ACK.
    SocketSetNoDelay(s);
    // Accepted sockets inherit this timeout too; their reads retry on it (IdIOHandler), which
    // is cheaper than a system call per connection to clear it.
    SocketSetReceiveTimeout(s, kAcceptIdleMs);
    // Blocking sends of accepted sockets give up after a short slice without progress (a
    // file send only after a few), and their transport waits out the rest of the bound
    // for room; a bound on the socket alone would stretch with every slice of progress.
    SocketSetSendTimeout(s, SendTimeout > 0 ? std::min(SendTimeout, kSendSliceMs) : 0);
    // Clients speak first in HTTP and TLS; waking a thread before the request is there
    // costs a second sleep and wake-up per connection.
    SocketSetDeferAccept(s, kDeferAcceptSeconds);
    listener->boundPort_ = local.port;
  }
  try {
    for (auto& listener : listeners_) StartAcceptor(*listener);
  } catch (...) {
    StopListeners();
    WaitForThreads(-1);
    CloseListeners();
    throw;
  }
  active_ = true;
}

void TIdTCPServer::StopListeners() {
  for (auto& l : listeners_) {
    l->stop_.store(true);
    // Wakes every thread blocked in accept on it.
    SocketShutdownBoth(l->socket_);
  }
}

void TIdTCPServer::CloseListeners() {
  for (auto& l : listeners_)
    if (l->socket_ != kInvalidSocket) SocketClose(l->socket_);
  listeners_.clear();
}

void TIdTCPServer::Shutdown() {
  StopListeners();
  {
    // A connection accepted just now registers after this or not at all, so none escapes
    // the interruption.
    std::lock_guard lock(connectionsMutex_);
    stopping_ = true;
    for (TIdPeerThread* t = connections_; t; t = t->next_) t->connection_.Interrupt();
  }
  if (!WaitForThreads(TerminateWaitTime)) throw EIdTerminateThreadTimeout();
  CloseListeners();
  {
    std::lock_guard lock(connectionsMutex_);
    stopping_ = false;
  }
  active_ = false;
}

bool TIdTCPServer::WaitForThreads(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::unique_lock lock(connectionsMutex_);
  for (;;) {
    if (activeThreads_ == 0) return true;
    const auto now = Clock::now();
    if (timeoutMs >= 0 && now >= deadline) return false;
    auto until = now + std::chrono::milliseconds(kDeactivateWaitStepMs);
    if (timeoutMs >= 0) until = std::min(until, deadline);
    if (threadsGone_.wait_until(lock, until, [this] { return activeThreads_ == 0; })) return true;
    if (OnDeactivateWait) {
      lock.unlock();
      OnDeactivateWait();
      lock.lock();
    }
  }
}

void TIdTCPServer::StartAcceptor(TIdListener& listener) {
  {
    std::lock_guard lock(connectionsMutex_);
    ++activeThreads_;
  }
  try {
    threads_.Run([this, &listener] { AcceptLoop(listener); });
  } catch (...) {
    LeaveThread();
    throw;
  }
}

void TIdTCPServer::LeaveThread() {
  std::lock_guard lock(connectionsMutex_);
  if (--activeThreads_ == 0) threadsGone_.notify_all();
}

void TIdTCPServer::AcceptLoop(TIdListener& listener) {
  while (!listener.stop_.load()) {
    listener.waiting_.fetch_add(1);
    SocketAddress peer;
    const SocketHandle accepted = SocketAccept(listener.socket_, peer);
    const int code = accepted == kInvalidSocket ? LastSocketErrorCode() : 0;
    // Whoever leaves accept last makes sure another thread takes its place.
    const bool wasLast = listener.waiting_.fetch_sub(1) == 1;
    if (listener.stop_.load()) {
      if (accepted != kInvalidSocket) SocketClose(accepted);
      break;
    }
    if (accepted == kInvalidSocket) {
      if (code == kSocketWouldBlock) {
        if (wasLast) continue;
        break;
      }
      RaiseListenException(listener, EIdSocketError(code));
      if (!TransientAcceptError(code)) {
        listener.stop_.store(true);
        break;
      }
      // Out of descriptors: give the system a moment instead of spinning on the queue.
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptErrorPauseMs));
      continue;
    }
    if (wasLast) {
      try {
        StartAcceptor(listener);
      } catch (const std::exception& e) {
        // No thread to spare: this one accepts again once its connection is done.
        RaiseListenException(listener, e);
      }
    }
    try {
      ServeAccepted(listener, accepted, peer);
    } catch (const std::exception& e) {
      RaiseListenException(listener, e);
    }
    if (listener.waiting_.load() >= MaxWaitingAcceptors()) break;
  }
  LeaveThread();
}

void TIdTCPServer::ServeAccepted(TIdListener& listener, SocketHandle accepted,
                                 const SocketAddress& peer) {
  std::unique_ptr<TIdPeerThread> thread;
  bool refused = false;
  try {
    auto io = IOHandler->MakeClientIOHandler(accepted, peer);
    io->LimitSendWait(SendTimeout > 0 ? SendTimeout : -1);
    thread = std::make_unique<TIdPeerThread>(*this, std::move(io));
    std::lock_guard lock(connectionsMutex_);
    if (stopping_) {
      thread->connection_.Close();
      return;
    }
    if (MaxConnections > 0 && liveCount_ >= static_cast<size_t>(MaxConnections))
      refused = true;
    else
      Register(thread.get());
  } catch (const std::exception& e) {
    RaiseListenException(listener, e);
    return;
  }
  if (refused) {
    TIdTCPServerConnection& c = thread->connection_;
    try {
      if (!MaxConnectionReply.Empty()) c.WriteText(MaxConnectionReply.FormattedReply());
    } catch (const std::exception& e) {
      RaiseListenException(listener, e);
    }
    c.Close();
    return;
  }
  RunPeer(*thread);
  // Out of the list first, so deactivation no longer touches it; the slot is released
  // only after the transport is gone.
  Unlink(thread.get());
  thread->connection_.Close();
  thread.reset();
  ReleaseSlot();
}

void TIdTCPServer::Register(TIdPeerThread* thread) {
  thread->next_ = connections_;
  if (connections_) connections_->prev_ = thread;
  connections_ = thread;
  ++liveCount_;
}

void TIdTCPServer::Unlink(TIdPeerThread* thread) {
  std::lock_guard lock(connectionsMutex_);
  if (thread->prev_)
    thread->prev_->next_ = thread->next_;
  else
    connections_ = thread->next_;
  if (thread->next_) thread->next_->prev_ = thread->prev_;
}

void TIdTCPServer::ReleaseSlot() {
  std::lock_guard lock(connectionsMutex_);
  --liveCount_;
}

void TIdTCPServer::RaiseException(TIdPeerThread& thread, const std::exception& e) {
  if (!OnException) return;
  try {
    OnException(thread, e);
  } catch (...) {
  }
}

void TIdTCPServer::RaiseListenException(TIdListener& listener, const std::exception& e) {
  if (!OnListenException) return;
  try {
    OnListenException(listener, e);
  } catch (...) {
  }
}

void TIdTCPServer::RunPeer(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = thread.connection_;
  try {
    connection.IOHandler().AfterAccept();
    DoConnect(thread);
  } catch (...) {
    // Refused in the connect step (banned address, failed handshake): no reply, no events.
    return;
  }
  if (!connection.IsConnected()) return;
  while (!thread.Stopped()) {
    try {
      if (!DoExecute(thread)) throw EIdException("No execute handler found.");
    } catch (const EIdSocketError& e) {
      RaiseException(thread, e);
      if (e.LastError() == kSocketConnectionAborted || e.LastError() == kSocketConnectionReset)
        connection.CloseSocket();
    } catch (const EIdClosedSocket& e) {
      RaiseException(thread, e);
    } catch (const EIdConnClosedGracefully& e) {
      RaiseException(thread, e);
    } catch (const std::exception& e) {
      RaiseException(thread, e);
      thread.Stop();
    } catch (...) {
      thread.Stop();
    }
    if (!connection.IsConnected() || connection.ClosedGracefully()) thread.Stop();
  }
  try {
    DoDisconnect(thread);
  } catch (const std::exception& e) {
    RaiseException(thread, e);
  } catch (...) {
  }
}

void TIdTCPServer::DoConnect(TIdPeerThread& thread) {
  if (OnConnect) OnConnect(thread);
}

bool TIdTCPServer::DoExecute(TIdPeerThread& thread) {
  if (!OnExecute) return false;
  OnExecute(thread);
  return true;
}

void TIdTCPServer::DoDisconnect(TIdPeerThread& thread) {
  if (OnDisconnect) OnDisconnect(thread);
}

}  // namespace morlak
