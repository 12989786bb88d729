#include "engine/tcp_server.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "engine/engine_errors.h"

namespace morlak {

namespace {

// A thread done with its connection goes back to accept (or to the readiness set) only
// while fewer than this many wait there; otherwise it parks in the pool. The kernel wakes
// a waiting thread for every new connection, even when a thread coming back from its last
// one would have taken it, so more waiters than cores only add sleeps and wake-ups (64
// waiters cost one context switch per request, one per core half of that).
int MaxWaitingThreads() {
  static const int count = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 64);
  return count;
}
// Threads that accept and serve the connections they take, beyond which a thread leaving
// accept last gets a successor only through the supervisor: a burst of connects would
// otherwise start a thread per connection in flight (70 for a thousand at once on two
// cores), each of them soon to end again.
int MaxDirectAcceptThreads() {
  static const int count = 16 + MaxWaitingThreads();
  return count;
}
// A thread waiting this long in accept while others wait too leaves for the pool.
constexpr int kAcceptIdleMs = 30000;
// How often the idle time limits of waiting connections are checked, and so how late one
// may end past its limit.
constexpr int kIdleSweepMs = 250;
// The deadline of a connection that may wait without limit.
constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
// How long the threads of a readiness set may all stay away from it before the supervisor
// adds one: a request that takes longer holds its thread (a download to a slow client).
constexpr auto kWaiterGrace = std::chrono::milliseconds(5);
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

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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
    listener->idle_ = std::make_unique<ReadinessSet>();
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
    superviseStop_ = false;
    StartThread([this] { SuperviseLoop(); });
    for (auto& listener : listeners_) {
      TIdListener* l = listener.get();
      StartThread([this, l] { AcceptLoop(*l); });
    }
  } catch (...) {
    StopListeners();
    WaitForThreads(-1);
    CloseListeners();
    throw;
  }
  active_ = true;
}

void TIdTCPServer::StopListeners() {
  {
    std::lock_guard lock(superviseMutex_);
    superviseStop_ = true;
  }
  superviseWake_.notify_one();
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
  // Waiting connections end through their readiness set, which needs a thread to watch it.
  for (auto& l : listeners_) {
    if (l->idleWaiting_.load() > 0) continue;
    try {
      TIdListener* listener = l.get();
      StartThread([this, listener] { IdleLoop(*listener); });
    } catch (const std::exception& e) {
      RaiseListenException(*l, e);
    }
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

void TIdTCPServer::StartThread(std::function<void()> loop) {
  {
    std::lock_guard lock(connectionsMutex_);
    ++activeThreads_;
  }
  try {
    threads_.Run(std::move(loop));
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
  listener.acceptThreads_.fetch_add(1);
  while (!listener.stop_.load()) {
    // Enough threads wait here already: this one goes back to the pool. Joining and
    // checking in one step keeps the threads coming back from a burst from all getting in,
    // where each would linger until the accept idle time.
    if (listener.waiting_.fetch_add(1) >= MaxWaitingThreads()) {
      listener.waiting_.fetch_sub(1);
      break;
    }
    SocketAddress peer;
    const SocketHandle accepted =
        SocketAccept(listener.socket_, peer, IOHandler->NonBlockingSockets());
    const int code = accepted == kInvalidSocket ? LastSocketErrorCode() : 0;
    // Whoever leaves accept last makes sure another thread takes its place, once its
    // connection keeps it (RunPeer).
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
    try {
      ServeAccepted(listener, accepted, peer, wasLast);
    } catch (const std::exception& e) {
      RaiseListenException(listener, e);
    }
  }
  listener.acceptThreads_.fetch_sub(1);
  LeaveThread();
}

void TIdTCPServer::EnsureAcceptor(TIdListener& l) {
  StartOrAskSupervisor(l, l.acceptThreads_.load() < MaxDirectAcceptThreads(),
                       &TIdTCPServer::AcceptLoop);
}

void TIdTCPServer::StartOrAskSupervisor(TIdListener& l, bool startNow,
                                        void (TIdTCPServer::*loop)(TIdListener&)) {
  if (!startNow) {
    WantWaiter();
    return;
  }
  try {
    StartThread([this, &l, loop] { (this->*loop)(l); });
  } catch (const std::exception& e) {
    // No thread to spare: the next thread done with its connection takes the place.
    RaiseListenException(l, e);
  }
}

void TIdTCPServer::WantWaiter() {
  std::lock_guard lock(superviseMutex_);
  waiterWanted_ = true;
  if (supervisorAsleep_) superviseWake_.notify_one();
}

void TIdTCPServer::ServeAccepted(TIdListener& listener, SocketHandle accepted,
                                 const SocketAddress& peer, bool lastAccepter) {
  std::unique_ptr<TIdPeerThread> thread;
  bool refused = false;
  try {
    auto io = IOHandler->MakeClientIOHandler(accepted, peer);
    io->LimitSendWait(SendTimeout > 0 ? SendTimeout : -1);
    thread = std::make_unique<TIdPeerThread>(*this, listener, std::move(io));
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
  thread->replaceAccepter_ = lastAccepter;
  RunPeer(std::move(thread), false);
}

void TIdTCPServer::Finish(std::unique_ptr<TIdPeerThread> thread) {
  // Out of the list first, so deactivation no longer touches it; the slot is released
  // only after the transport is gone.
  Unlink(thread.get());
  thread->connection_.Close();
  // Reports of it still on their way find the slot's generation moved on.
  if (thread->slot_) slots_.Release(thread->slot_);
  thread.reset();
  ReleaseSlot();
}

TIdTCPServer::ParkResult TIdTCPServer::Park(std::unique_ptr<TIdPeerThread>& owned,
                                            bool waiterFollows) {
  TIdPeerThread* thread = owned.get();
  TIdListener& l = thread->listener_;
  thread->connection_.ReleaseInputBuffer();
  // Counted before the stop is checked, so a thread that sees the listener stopped and
  // nothing parked can leave: nothing parks after that.
  l.parked_.fetch_add(1);
  if (l.stop_.load()) {
    l.parked_.fetch_sub(1);
    return ParkResult::kRefused;
  }
  thread->idleDeadlineMs_.store(
      thread->idleTimeoutMs_ > 0 ? SteadyMs() + thread->idleTimeoutMs_ : kNoDeadline,
      std::memory_order_relaxed);
  auto keep = [&](ParkResult result) {
    thread->idleDeadlineMs_.store(0, std::memory_order_relaxed);
    l.parked_.fetch_sub(1);
    return result;
  };
  auto refuse = [&](const std::exception& e) {
    // A connection still in its handshake has had no connect event, so it gets no other
    // event either: the failure is the listener's.
    if (thread->started_)
      RaiseException(*thread, e);
    else
      RaiseListenException(l, e);
    return keep(ParkResult::kRefused);
  };
  const SocketHandle handle = thread->connection_.IOHandler().Binding().Handle();
  try {
    if (!thread->slot_) thread->slot_ = slots_.Acquire(thread);
  } catch (const std::exception& e) {
    return refuse(e);
  }
  WaitSlots::Slot* slot = thread->slot_;
  const uint64_t token = WaitSlots::Token(slot);
  // A connection past its opening exchange stays watched from its first wait on, which
  // saves a call per wait; a handshake is armed once per wait, as its thread reads only
  // part of what arrives.
  using InSet = TIdPeerThread::InSet;
  const InSet was = thread->inSet_;
  const bool watchedForGood = thread->started_;
  if (watchedForGood && was != InSet::kWatched) {
    if (!l.idle_->Watch(handle, token, was != InSet::kNo))
      return refuse(EIdSocketError(LastSocketErrorCode()));
    thread->inSet_ = InSet::kWatched;
  } else if (!watchedForGood) {
    thread->inSet_ = InSet::kArmedOnce;
  }
  // From here another thread may take the connection at once: nothing of it is touched
  // after that.
  owned.release();
  if (!WaitSlots::StartWait(slot)) {
    owned.reset(thread);
    return keep(ParkResult::kInputArrived);
  }
  if (!watchedForGood && !l.idle_->ArmOnce(handle, token, was != InSet::kNo)) {
    const EIdSocketError error(LastSocketErrorCode());
    if (!WaitSlots::EndWait(slot)) {
      // A late report of an earlier wait took it: that thread serves it now.
      RaiseListenException(l, error);
      return ParkResult::kParked;
    }
    owned.reset(thread);
    thread->inSet_ = was;
    return refuse(error);
  }
  if (!waiterFollows && l.idleWaiting_.load() == 0) EnsureWaiter(l);
  return ParkResult::kParked;
}

void TIdTCPServer::EnsureWaiter(TIdListener& l) {
  StartOrAskSupervisor(l, l.idleThreads_.load() < MaxWaitingThreads(), &TIdTCPServer::IdleLoop);
}

void TIdTCPServer::SuperviseLoop() {
  std::unique_lock lock(superviseMutex_);
  while (!superviseStop_) {
    supervisorAsleep_ = true;
    superviseWake_.wait(lock, [this] { return waiterWanted_ || superviseStop_; });
    supervisorAsleep_ = false;
    // Threads that come back within the grace need no help.
    if (superviseWake_.wait_for(lock, kWaiterGrace, [this] { return superviseStop_; })) break;
    waiterWanted_ = false;
    lock.unlock();
    for (auto& l : listeners_) {
      if (l->stop_.load()) continue;
      TIdListener* listener = l.get();
      try {
        if (l->idleWaiting_.load() == 0) StartThread([this, listener] { IdleLoop(*listener); });
        if (l->waiting_.load() == 0) StartThread([this, listener] { AcceptLoop(*listener); });
      } catch (const std::exception& e) {
        RaiseListenException(*l, e);
      }
    }
    lock.lock();
  }
  lock.unlock();
  LeaveThread();
}

void TIdTCPServer::IdleLoop(TIdListener& l) {
  l.idleThreads_.fetch_add(1);
  auto lastWork = std::chrono::steady_clock::now();
  // One wait takes every connection whose input has arrived, so under load most requests
  // cost no wait of their own.
  uint64_t reports[ReadinessSet::kMaxBatch];
  TIdPeerThread* batch[ReadinessSet::kMaxBatch];
  for (;;) {
    if (l.stop_.load() && l.parked_.load() == 0) break;
    int left = 0;
    TIdPeerThread* thread = TakeReady(l, left);
    bool wasLast = false;
    if (!thread) {
      l.idleWaiting_.fetch_add(1);
      // Counted as waiting first: a thread queueing connections from now on wakes this one,
      // and what it queued before is seen here.
      thread = TakeReady(l, left);
      const int reported = thread ? 0 : l.idle_->WaitSome(reports, kIdleSweepMs);
      // Whoever leaves the wait last makes sure another thread takes its place.
      wasLast = l.idleWaiting_.fetch_sub(1) == 1;
      int count = 0;
      for (int i = 0; i < reported; ++i)
        if (TIdPeerThread* claimed = WaitSlots::Claim(reports[i])) batch[count++] = claimed;
      if (count > 0) {
        thread = batch[0];
        if (count > 1) QueueReady(l, batch + 1, count - 1);
      } else if (!thread) {
        // Woken for queued connections, or the wait timed out.
        thread = TakeReady(l, left);
        // The next waiter shares what is left.
        if (left > 0 && l.idleWaiting_.load() > 0) WakeWaiter(l);
      }
    }
    SweepIdle();
    const auto now = std::chrono::steady_clock::now();
    if (!thread) {
      if (!wasLast && now - lastWork > std::chrono::milliseconds(kAcceptIdleMs)) break;
      continue;
    }
    lastWork = now;
    thread->idleDeadlineMs_.store(0, std::memory_order_relaxed);
    l.parked_.fetch_sub(1);
    if (wasLast) EnsureWaiter(l);
    RunPeer(std::unique_ptr<TIdPeerThread>(thread), true);
    // Queued connections are left only to threads that will see them.
    if (l.idleWaiting_.load() >= MaxWaitingThreads() && l.readyCount_.load() == 0) break;
  }
  l.idleThreads_.fetch_sub(1);
  LeaveThread();
}

void TIdTCPServer::QueueReady(TIdListener& l, TIdPeerThread* const* connections, int count) {
  {
    std::lock_guard lock(l.readyMutex_);
    l.ready_.insert(l.ready_.end(), connections, connections + count);
    l.readyCount_.fetch_add(count);
  }
  if (l.idleWaiting_.load() > 0) WakeWaiter(l);
}

TIdPeerThread* TIdTCPServer::TakeReady(TIdListener& l, int& left) {
  if (l.readyCount_.load() == 0) return nullptr;
  std::lock_guard lock(l.readyMutex_);
  if (l.readyTaken_ == l.ready_.size()) return nullptr;
  TIdPeerThread* thread = l.ready_[l.readyTaken_++];
  if (l.readyTaken_ == l.ready_.size()) {
    l.ready_.clear();
    l.readyTaken_ = 0;
  }
  left = l.readyCount_.fetch_sub(1) - 1;
  return thread;
}

void TIdTCPServer::WakeWaiter(TIdListener& l) {
  // Without the wake the queued connections still go out, with the next thread that
  // comes back or ends its wait (within the sweep interval).
  if (!l.idle_->Wake()) RaiseListenException(l, EIdSocketError(LastSocketErrorCode()));
}

void TIdTCPServer::SweepIdle() {
  int64_t due = nextSweepMs_.load(std::memory_order_relaxed);
  const int64_t now = SteadyMs();
  if (now < due || !nextSweepMs_.compare_exchange_strong(due, now + kIdleSweepMs)) return;
  // The live list holds every connection until it is freed; a waiting one has a deadline.
  std::lock_guard lock(connectionsMutex_);
  for (TIdPeerThread* t = connections_; t; t = t->next_) {
    const int64_t deadline = t->idleDeadlineMs_.load(std::memory_order_relaxed);
    if (deadline == 0 || deadline > now || t->expired_.exchange(true)) continue;
    // Its hang-up reaches the set like input; the thread that takes it ends it.
    t->connection_.Interrupt();
  }
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

void TIdTCPServer::RunPeer(std::unique_ptr<TIdPeerThread> owned, bool waiterFollows) {
  TIdPeerThread& thread = *owned;
  TIdTCPServerConnection& connection = thread.connection_;
  if (!thread.started_) {
    int waitMs = 0;
    try {
      // A handshake that outlived its bound in the readiness set ends here too.
      if (thread.expired_) throw EIdClosedSocket();
      waitMs = connection.IOHandler().AfterAccept();
      if (waitMs == 0) {
        // The thread that took the connection from accept, the last one there, stays with
        // it from now on: another takes its place. A connection that goes on to wait, or
        // fails, gives the thread back to accept at once, so none is needed then.
        if (std::exchange(thread.replaceAccepter_, false)) EnsureAcceptor(thread.listener_);
        thread.started_ = true;
        DoConnect(thread);
      }
    } catch (...) {
      // Refused in the connect step (banned address, failed handshake): no reply, no events.
      Finish(std::move(owned));
      return;
    }
    if (waitMs > 0) {
      thread.replaceAccepter_ = false;
      thread.WaitForInput(waitMs);
      switch (Park(owned, waiterFollows)) {
        case ParkResult::kParked:
          break;
        case ParkResult::kInputArrived:
          RunPeer(std::move(owned), waiterFollows);
          break;
        case ParkResult::kRefused:
          Finish(std::move(owned));
          break;
      }
      return;
    }
    if (!connection.IsConnected()) {
      Finish(std::move(owned));
      return;
    }
  } else if (thread.expired_) {
    // Its idle time passed while it waited for input.
    thread.Stop();
  }
  bool handedOver = true;
  // A transport that looks for input before it waits reads all that has arrived in the
  // step, so what was reported before is no reason to look once more.
  const bool looks = connection.IOHandler().LooksForInputBeforeWait();
  while (!thread.Stopped()) {
    thread.idleWait_ = false;
    thread.inputJustArrived_ = std::exchange(handedOver, false);
    if (looks && thread.inSet_ == TIdPeerThread::InSet::kWatched) WaitSlots::TakeNews(thread.slot_);
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
    if (!connection.IsConnected() || connection.ClosedGracefully()) {
      thread.Stop();
    } else if (thread.idleWait_ && !thread.Stopped()) {
      const ParkResult parked = Park(owned, waiterFollows);
      if (parked == ParkResult::kParked) return;
      if (parked == ParkResult::kRefused)
        thread.Stop();
      else
        handedOver = true;
    }
  }
  try {
    DoDisconnect(thread);
  } catch (const std::exception& e) {
    RaiseException(thread, e);
  } catch (...) {
  }
  Finish(std::move(owned));
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
