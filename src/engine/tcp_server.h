// The TCP layer under the HTTP listeners: listening sockets, and threads that serve the
// connections. A connection holds a thread while it is served; one that waits for its
// client's next bytes is watched by its listener's readiness set instead, and the thread
// that gets its input serves it next.
// TIdTCPServer is the server, TIdListener one bound socket, TIdPeerThread a connection thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/io_handler.h"
#include "engine/tcp_connection.h"
#include "engine/wait_slots.h"
#include "platform/readiness_set.h"
#include "platform/thread_pool.h"

namespace morlak {

class TIdTCPServer;
class TIdListener;

// A local endpoint to listen on; an empty IP means all local addresses.
struct TIdSocketBinding {
  std::string IP;
  int Port = 0;
};

// A numeric code with text lines, as sent to a client refused for the connection limit.
struct TIdReply {
  int Code = 0;
  std::vector<std::string> Text;

  bool Empty() const { return Code <= 0 && Text.empty(); }
  // Code 0: each line + CR LF. Otherwise "code-line" for all but the last, "code line"
  // for the last.
  std::string FormattedReply() const;
};

enum class TIdReuseSocket {
  rsOSDependent,  // reuse where the system needs it for a quick restart (Linux: yes)
  rsTrue,
  rsFalse
};

// The thread of one connection: the connection and its state from accept to close. It
// runs on whichever server thread serves the connection at the moment.
class TIdPeerThread {
 public:
  TIdPeerThread(TIdTCPServer& server, TIdListener& listener,
                std::unique_ptr<TIdIOHandler> ioHandler)
      : connection_(server, std::move(ioHandler)), listener_(listener) {}

  TIdTCPServerConnection& Connection() { return connection_; }
  // Ends the run loop after the current run.
  void Stop() { stopped_.store(true, std::memory_order_relaxed); }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
  // After this run the connection waits for input without a thread; the next run starts
  // when input arrives. Past `timeoutMs` (0 or less: no limit) it ends quietly.
  void WaitForInput(int timeoutMs) {
    idleWait_ = true;
    idleTimeoutMs_ = timeoutMs;
  }

  // True in the first run step after the connection was handed over because its input
  // arrived (from accept or the readiness set).
  bool InputJustArrived() const { return inputJustArrived_; }

  // Requests served on the connection, counted by the protocol on top.
  int RequestCount = 0;
  // The session the protocol on top gave the connection's last request.
  std::string SessionId;

 private:
  friend class TIdTCPServer;
  TIdTCPServerConnection connection_;
  TIdListener& listener_;
  std::atomic<bool> stopped_{false};
  bool started_ = false;  // the connect step has run
  // Its thread came from accept as the last one there; another must take its place once
  // the connection keeps it.
  bool replaceAccepter_ = false;
  bool idleWait_ = false;
  bool inputJustArrived_ = false;
  int idleTimeoutMs_ = 0;
  // How the listener's readiness set has the socket: not at all, armed once per wait (in
  // the opening exchange), or watched for good.
  enum class InSet : uint8_t { kNo, kArmedOnce, kWatched } inSet_ = InSet::kNo;
  WaitSlots::Slot* slot_ = nullptr;         // how the set's reports find it, once it waited
  std::atomic<bool> expired_{false};        // its idle time passed
  std::atomic<int64_t> idleDeadlineMs_{0};  // steady clock, while it waits; else 0
  TIdPeerThread* prev_ = nullptr;           // the server's list of live connections
  TIdPeerThread* next_ = nullptr;
};

// One listening socket. There is no thread of its own: idle server threads wait in accept
// on it, the kernel hands each new connection to one of them, and that thread then serves
// the connection, so taking a connection costs no thread start and no hand-over. Its
// connections that wait for input sit in its readiness set, in which other server threads
// wait the same way.
class TIdListener {
 public:
  const TIdSocketBinding& Binding() const { return binding_; }
  // The port really listened on (the system's choice when the binding asked for 0).
  int BoundPort() const { return boundPort_; }

 private:
  friend class TIdTCPServer;
  TIdSocketBinding binding_;
  int boundPort_ = 0;
  SocketHandle socket_ = kInvalidSocket;
  std::atomic<bool> stop_{false};
  std::atomic<int> waiting_{0};        // threads blocked in accept
  std::atomic<int> acceptThreads_{0};  // threads accepting on it, waiting or serving

  std::unique_ptr<ReadinessSet> idle_;
  std::atomic<size_t> parked_{0};    // connections waiting in it or in `ready_`
  std::atomic<int> idleWaiting_{0};  // threads blocked in the readiness set
  std::atomic<int> idleThreads_{0};  // threads serving it, waiting or not
  // Connections one wait took from the set beyond the one its thread serves, oldest first
  // from `readyTaken_`: any thread back from its connection serves them before it waits.
  std::mutex readyMutex_;
  std::vector<TIdPeerThread*> ready_;
  size_t readyTaken_ = 0;
  std::atomic<int> readyCount_{0};
};

class TIdTCPServer {
 public:
  // Threads kept for later work once done: enough for a burst of new connections (each
  // holds a thread while it is served), and only briefly, so that connections waiting idle
  // leave few threads behind.
  static constexpr size_t kParkedThreads = 64;
  static constexpr int kParkedThreadIdleMs = 2000;

  TIdTCPServer();
  // Deactivates first, waiting as long as it takes for every connection thread.
  virtual ~TIdTCPServer();
  TIdTCPServer(const TIdTCPServer&) = delete;
  TIdTCPServer& operator=(const TIdTCPServer&) = delete;

  bool Active() const { return active_; }
  // Activation fails (server stays inactive) with "Could not bind socket. Address and port
  // are already in use.", a socket error or "Cannot allocate socket."; deactivation fails
  // with "Terminate Thread Timeout" when connection threads outlive TerminateWaitTime (the
  // server then stays active but no longer listens, and a later call tries again).
  void SetActive(bool value);

  // Empty: listen on all local addresses at DefaultPort.
  std::vector<TIdSocketBinding> Bindings;
  int DefaultPort = 0;  // 0: the system picks a free port (see BoundPort)
  // Connects waiting for accept. A burst beyond it is dropped by the kernel and each dropped
  // connect waits a retransmission (about 200 ms to 1 s); browsers open six connections a
  // page, so the queue must hold a crowd's worth.
  int ListenQueue = 1024;
  int MaxConnections = 0;  // live connections; 0 or less: no limit
  TIdReply MaxConnectionReply;
  TIdReuseSocket ReuseSocket = TIdReuseSocket::rsOSDependent;
  int TerminateWaitTime = 5000;  // ms
  // How long a client may take to send what it owes, after which its connection closes
  // without an answer (ms; 0: no limit). A request's header must be complete within
  // HeaderTimeout of the moment the server starts waiting for it; a body may pause no
  // longer than BodyGapTimeout between two pieces. Applied by the protocol on top.
  int HeaderTimeout = 20000;
  int BodyGapTimeout = 20000;
  // Once BodyRateGrace has passed, a body must have averaged BodyMinRate bytes a second
  // since its start (0: no rate bound), so a drip of a byte per pause is dropped too.
  int BodyRateGrace = 20000;  // ms
  int BodyMinRate = 1024;
  // A peer that takes no byte of what is sent to it for this long is dropped (ms; 0: no
  // limit), so clients that never read cannot keep threads and socket memory.
  int SendTimeout = 20000;
  // Makes the per-connection transport; a plain socket handler is created at activation
  // when none is set.
  std::shared_ptr<TIdServerIOHandler> IOHandler;

  // The port of the first listener while active, else 0.
  int BoundPort() const;
  size_t ConnectionCount() const;

  std::function<void(TIdPeerThread&)> OnConnect;
  std::function<void(TIdPeerThread&)> OnDisconnect;
  std::function<void(TIdPeerThread&, const std::exception&)> OnException;
  std::function<void(TIdListener&, const std::exception&)> OnListenException;
  std::function<void(TIdPeerThread&)> OnExecute;
  // Called about every 250 ms in the deactivating thread while it waits for connection
  // threads, so a front end can run the calls those threads wait on meanwhile.
  std::function<void()> OnDeactivateWait;

 protected:
  // Raises OnConnect; an exception here closes the connection without any reply.
  virtual void DoConnect(TIdPeerThread& thread);
  // One run of the connection's loop; false when nothing handles the connection.
  virtual bool DoExecute(TIdPeerThread& thread);
  virtual void DoDisconnect(TIdPeerThread& thread);
  virtual void Startup();
  // Closes listeners and connections and waits for the connection threads.
  virtual void Shutdown();
  // Deactivates, retrying until every connection thread has ended; for destructors.
  void ShutdownAndWait();

 private:
  // Runs the loop on a parked (or new) thread counted as the server's.
  void StartThread(std::function<void()> loop);
  // Accepts and serves connections until the listener stops or enough other threads wait.
  void AcceptLoop(TIdListener& listener);
  // `lastAccepter`: no other thread waits in accept now.
  void ServeAccepted(TIdListener& listener, SocketHandle accepted, const SocketAddress& peer,
                     bool lastAccepter);
  // Serves the connection until it ends or waits for input. `waiterFollows`: the calling
  // thread goes on to wait in the readiness set.
  void RunPeer(std::unique_ptr<TIdPeerThread> thread, bool waiterFollows);
  enum class ParkResult {
    kParked,        // the set has it
    kInputArrived,  // the caller keeps it: input came while it was being parked
    kRefused        // the caller keeps it: the listener is stopping or the set refused it
  };
  // Hands the connection to its listener's readiness set.
  ParkResult Park(std::unique_ptr<TIdPeerThread>& thread, bool waiterFollows);
  // Serves connections whose input arrived, until the listener stops with none waiting
  // or enough other threads wait.
  void IdleLoop(TIdListener& listener);
  // Hands connections taken from the set to the threads of the listener, waking one that
  // waits in the set for them.
  void QueueReady(TIdListener& listener, TIdPeerThread* const* connections, int count);
  // The oldest queued connection, or nullptr; `left` is how many stay queued.
  TIdPeerThread* TakeReady(TIdListener& listener, int& left);
  void WakeWaiter(TIdListener& listener);
  // Gets a thread to wait in the listener's readiness set: at once while fewer threads
  // serve it than MaxWaitingThreads, else through the supervisor.
  void EnsureWaiter(TIdListener& listener);
  // Gets a thread to wait in accept: at once while few threads accept, else through the
  // supervisor.
  void EnsureAcceptor(TIdListener& listener);
  // Starts a thread running `loop` on the listener when `startNow`, else asks the supervisor.
  void StartOrAskSupervisor(TIdListener& listener, bool startNow,
                            void (TIdTCPServer::*loop)(TIdListener&));
  void WantWaiter();
  // Adds a waiter to a listener whose threads have all stayed away from its readiness set,
  // or from accept, for a while (held by slow requests). Without it every ready or new
  // connection of a burst would start a thread of its own.
  void SuperviseLoop();
  // Ends, through their own input, the waiting connections whose time has passed.
  void SweepIdle();
  // Removes the connection from the server and frees it.
  void Finish(std::unique_ptr<TIdPeerThread> thread);
  void RaiseException(TIdPeerThread& thread, const std::exception& e);
  void RaiseListenException(TIdListener& listener, const std::exception& e);
  void StopListeners();
  void CloseListeners();
  void Register(TIdPeerThread* thread);
  void Unlink(TIdPeerThread* thread);
  void ReleaseSlot();
  void LeaveThread();
  bool WaitForThreads(int timeoutMs);

  WaitSlots slots_;
  bool active_ = false;
  std::mutex activeMutex_;  // serialises activation and deactivation
  std::vector<std::unique_ptr<TIdListener>> listeners_;

  mutable std::mutex connectionsMutex_;
  std::condition_variable threadsGone_;
  TIdPeerThread* connections_ = nullptr;  // head of the live list
  size_t liveCount_ = 0;                  // live connections
  bool stopping_ = false;                 // set while deactivating: no connection may register then
  size_t activeThreads_ = 0;              // threads accepting or serving for this server
  std::atomic<int64_t> nextSweepMs_{0};   // when idle time limits are checked next

  std::mutex superviseMutex_;
  std::condition_variable superviseWake_;
  bool waiterWanted_ = false;      // a listener's readiness set or accept has no waiter
  bool supervisorAsleep_ = false;  // in its wait without a time limit
  bool superviseStop_ = false;

  // Last member: destroyed first, after the last thread has left the server.
  ParkedThreadPool threads_{kParkedThreads, kParkedThreadIdleMs};
};

}  // namespace morlak
