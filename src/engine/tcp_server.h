// The TCP layer under the HTTP listeners: listening sockets, one listener thread per
// binding, and one thread per live connection (idle threads are parked and reused, but a
// live connection never shares its thread).
// TIdTCPServer is the server, TIdListener one bound socket, TIdPeerThread a connection thread.
#pragma once

#include <atomic>
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
#include "platform/thread_pool.h"

namespace morlak {

class TIdTCPServer;

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

// The thread of one connection, alive exactly as long as the connection.
class TIdPeerThread {
 public:
  TIdPeerThread(TIdTCPServer& server, std::unique_ptr<TIdIOHandler> ioHandler)
      : connection_(server, std::move(ioHandler)) {}

  TIdTCPServerConnection& Connection() { return connection_; }
  // Ends the run loop after the current run.
  void Stop() { stopped_.store(true, std::memory_order_relaxed); }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  friend class TIdTCPServer;
  TIdTCPServerConnection connection_;
  std::atomic<bool> stopped_{false};
  TIdPeerThread* prev_ = nullptr;  // the server's list of live connections
  TIdPeerThread* next_ = nullptr;
};

// One listening socket. There is no thread of its own: idle connection threads wait in
// accept on it, the kernel hands each new connection to one of them, and that thread then
// serves the connection, so taking a connection costs no thread start and no hand-over.
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
  std::atomic<int> waiting_{0};  // threads blocked in accept
};

class TIdTCPServer {
 public:
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
  // Runs AcceptLoop on a parked (or new) thread.
  void StartAcceptor(TIdListener& listener);
  // Accepts and serves connections until the listener stops or enough other threads wait.
  void AcceptLoop(TIdListener& listener);
  void ServeAccepted(TIdListener& listener, SocketHandle accepted, const SocketAddress& peer);
  void RunPeer(TIdPeerThread& thread);
  void RaiseException(TIdPeerThread& thread, const std::exception& e);
  void RaiseListenException(TIdListener& listener, const std::exception& e);
  void StopListeners();
  void CloseListeners();
  void Register(TIdPeerThread* thread);
  void Unlink(TIdPeerThread* thread);
  void ReleaseSlot();
  void LeaveThread();
  bool WaitForThreads(int timeoutMs);

  bool active_ = false;
  std::mutex activeMutex_;  // serialises activation and deactivation
  std::vector<std::unique_ptr<TIdListener>> listeners_;

  mutable std::mutex connectionsMutex_;
  std::condition_variable threadsGone_;
  TIdPeerThread* connections_ = nullptr;  // head of the live list
  size_t liveCount_ = 0;                  // live connections
  bool stopping_ = false;                 // set while deactivating: no connection may register then
  size_t activeThreads_ = 0;              // threads accepting or serving for this server

  // Last member: destroyed first, after the last thread has left the server.
  ParkedThreadPool threads_;
};

}  // namespace morlak
