// Server-side sessions: a name=value list per client, found again through the
// "IDHTTPSESSIONID" cookie from the same address, ended when idle past the timeout or
// when the server stops. A request holds its session by shared pointer, so a session that
// ends meanwhile stays valid until that request is done.
// TIdHTTPSession is one session; TIdHTTPDefaultSessionList holds them all and
// TIdHTTPSessionCleanerThread ends the idle ones.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/packed_string_list.h"
#include "platform/pointer_hash_index.h"
#include "platform/text.h"

namespace morlak {

class TIdHTTPSession : public std::enable_shared_from_this<TIdHTTPSession> {
 public:
  TIdHTTPSession(std::string sessionId, std::string clientAddress);

  const std::string& SessionId() const { return sessionId_; }
  const std::string& ClientAddress() const { return clientAddress_; }

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
  // Guarded by the lock of the list's table that holds the session.
  int64_t lastUsedTick_ = 0;  // steady clock ms of creation or of the last request that found it
  std::shared_ptr<TIdHTTPSession> listed_;  // the list's own reference; empty when not listed
  TIdHTTPSession* older_ = nullptr;         // neighbours in the order of last use
  TIdHTTPSession* newer_ = nullptr;
  // Guarded by the lock of the list's address shard: neighbours among the sessions of
  // the same address, in the order they were created.
  bool addressLinked_ = false;
  TIdHTTPSession* addressOlder_ = nullptr;
  TIdHTTPSession* addressNewer_ = nullptr;
};

// The most of any client-given text a session keeps: a session lives for minutes after
// the request that set it.
constexpr size_t kSessionTextLimit = 1024;

// A new identifier: 15 characters from a 61-letter alphabet, cryptographically random.
std::string NewSessionId();

class TIdHTTPDefaultSessionList {
 public:
  TIdHTTPDefaultSessionList() = default;
  ~TIdHTTPDefaultSessionList();
  TIdHTTPDefaultSessionList(const TIdHTTPDefaultSessionList&) = delete;
  TIdHTTPDefaultSessionList& operator=(const TIdHTTPDefaultSessionList&) = delete;

  int SessionTimeout = 0;  // idle limit in ms
  // Caps on live sessions, from one client address and in all (0: none). Past a cap the
  // oldest session of that address, or nearly the least recently used of all, ends early
  // as if it had timed out; the sessions of other addresses never end for one address's
  // flood of cookie-less requests.
  size_t MaxSessionsPerAddress = 1000;
  size_t MaxSessions = 100000;
  std::function<void(TIdHTTPSession&)> OnSessionStart;
  std::function<void(TIdHTTPSession&)> OnSessionEnd;

  // The session with that id (any letter case) created from that address (any address
  // when empty), refreshed; nullptr when there is none.
  std::shared_ptr<TIdHTTPSession> Find(std::string_view sessionId, std::string_view address);
  // A session with a fresh identifier; OnSessionStart runs before it joins the list.
  std::shared_ptr<TIdHTTPSession> CreateUnique(const std::string& address);
  // Adds a session that is not listed yet.
  void Add(std::shared_ptr<TIdHTTPSession> session);
  // Ends the sessions idle longer than SessionTimeout, or all of them; each end raises
  // OnSessionEnd once, outside the list lock. Returns how many ended.
  size_t EndStale(bool all);
  void Clear() { EndStale(true); }
  size_t Count() const;

 private:
  // The sessions are split by a hash of their id into tables with a lock each, so requests
  // seldom wait for one another and the sweep holds up one table at a time.
  struct alignas(64) Table {
    std::mutex mutex;
    PointerHashIndex<TIdHTTPSession> byId;  // hash of the id in lower case
    // Least recently used first, so the idle sweep stops at the first fresh session.
    TIdHTTPSession* oldest = nullptr;
    TIdHTTPSession* newest = nullptr;

    void Unlink(TIdHTTPSession& s);
    void LinkNewest(TIdHTTPSession& s);
  };
  static constexpr size_t kTables = 64;
  Table& TableOf(uint64_t idHash) { return tables_[ShardOf(idHash, kTables)]; }
  size_t EndStaleIn(Table& table, bool all);

  // The sessions of one address, oldest first.
  struct AddressSessions {
    TIdHTTPSession* oldest = nullptr;
    TIdHTTPSession* newest = nullptr;
    size_t count = 0;
  };
  struct alignas(64) AddressShard {
    std::mutex mutex;
    std::unordered_map<std::string, AddressSessions> byAddress;
  };
  static constexpr size_t kAddressShards = 16;
  AddressShard& ShardOfAddress(const std::string& address) {
    return addressShards_[ShardOf(HashBytes(address, true), kAddressShards)];
  }
  // Adds the session to its address's sessions; returns the oldest of them when the
  // address is past its cap.
  std::shared_ptr<TIdHTTPSession> LinkAddress(TIdHTTPSession& s);
  void UnlinkAddress(TIdHTTPSession& s);
  // Takes the least recently used session out of the first table from `first` on that
  // has one besides `spare`.
  std::shared_ptr<TIdHTTPSession> UnlistLeastRecent(size_t first, const TIdHTTPSession* spare);
  // Takes the session out of its table; empty when it was not listed (any more).
  std::shared_ptr<TIdHTTPSession> Unlist(TIdHTTPSession& s);
  // The rest of a session's end, outside every table lock: OnSessionEnd, then release.
  void Finish(std::shared_ptr<TIdHTTPSession> session);

  std::array<Table, kTables> tables_;
  std::array<AddressShard, kAddressShards> addressShards_;
  std::atomic<size_t> count_{0};
};

// Ends idle sessions once a second, or ten times a second while a burst of sessions is
// ending, so that their end is spread out instead of taking a core for a long stretch. It
// runs at the lowest priority, so connection threads go first; when it is stopped every
// remaining session ends.
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
