// Server-side sessions: a name=value list per client, found again through the
// "IDHTTPSESSIONID" cookie from the same address, ended when idle past the timeout or
// when the server stops. A request holds its session by shared pointer, so a session that
// ends meanwhile stays valid until that request is done.
// TIdHTTPSession is one session; TIdHTTPDefaultSessionList holds them all and
// TIdHTTPSessionCleanerThread ends the idle ones.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/datetime.h"
#include "platform/packed_string_list.h"
#include "platform/sharded_hash_map.h"
#include "platform/text.h"

namespace morlak {

class TIdHTTPSession {
 public:
  TIdHTTPSession(std::string sessionId, std::string clientAddress);

  const std::string& SessionId() const { return sessionId_; }
  const std::string& ClientAddress() const { return clientAddress_; }
  // Local time of creation or of the last request that found the session.
  TDateTime LastUsed() const { return lastUsed_.load(std::memory_order_relaxed); }

  // Owned by the session; take Lock() around every use, requests share sessions. Packed
  // into one block: a server keeps a session per cookie-less request for minutes.
  TPackedStringList Variables;
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  // For std::lock_guard.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  friend class TIdHTTPDefaultSessionList;
  void Touch();

  const std::string sessionId_;
  const std::string clientAddress_;
  std::mutex mutex_;
  std::atomic<TDateTime> lastUsed_;
  int64_t lastUsedTick_ = 0;  // steady clock ms, guarded by the list lock
  std::list<std::shared_ptr<TIdHTTPSession>>::iterator position_;
};

// A new identifier: 15 characters from a 61-letter alphabet, cryptographically random.
std::string NewSessionId();

class TIdHTTPDefaultSessionList {
 public:
  TIdHTTPDefaultSessionList() = default;
  TIdHTTPDefaultSessionList(const TIdHTTPDefaultSessionList&) = delete;
  TIdHTTPDefaultSessionList& operator=(const TIdHTTPDefaultSessionList&) = delete;

  int SessionTimeout = 0;  // idle limit in ms
  std::function<void(TIdHTTPSession&)> OnSessionStart;
  std::function<void(TIdHTTPSession&)> OnSessionEnd;

  // The session with that id (any letter case) created from that address (any address
  // when empty), refreshed; nullptr when there is none.
  std::shared_ptr<TIdHTTPSession> Find(std::string_view sessionId, std::string_view address);
  // A session with a fresh identifier; OnSessionStart runs before it joins the list.
  std::shared_ptr<TIdHTTPSession> CreateUnique(const std::string& address);
  void Add(std::shared_ptr<TIdHTTPSession> session);
  // Ends the sessions idle longer than SessionTimeout, or all of them; each end raises
  // OnSessionEnd once, outside the list lock.
  void EndStale(bool all);
  void Clear() { EndStale(true); }
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  // Least recently used first, so the idle sweep stops at the first fresh session.
  std::list<std::shared_ptr<TIdHTTPSession>> byUse_;
  using IdIndex = std::unordered_multimap<std::string, TIdHTTPSession*>;  // lower-cased id
  ShardedHashMap<IdIndex> byId_;
};

// Ends idle sessions once a second; ends every remaining session when stopped.
class TIdHTTPSessionCleanerThread {
 public:
  explicit TIdHTTPSessionCleanerThread(TIdHTTPDefaultSessionList& sessions);
  ~TIdHTTPSessionCleanerThread();
  TIdHTTPSessionCleanerThread(const TIdHTTPSessionCleanerThread&) = delete;
  TIdHTTPSessionCleanerThread& operator=(const TIdHTTPSessionCleanerThread&) = delete;

 private:
  void Run();

  TIdHTTPDefaultSessionList& sessions_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace morlak
