#include "engine/http_sessions.h"

#include <chrono>
#include <vector>

#include "platform/random.h"

namespace morlak {

namespace {

constexpr std::string_view kIdAlphabet =
    "qwertzuiopasdfghjklyxcvbnmQWERTZUIOPASDFGHJKLYXCVBNM123456789";
constexpr size_t kIdLength = 15;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Random bytes are fetched in blocks, so a session costs no system call of its own.
unsigned char NextRandomByte() {
  thread_local unsigned char block[256];
  thread_local size_t used = sizeof block;
  if (used == sizeof block) {
    SecureRandomBytes(block, sizeof block);
    used = 0;
  }
  return block[used++];
}

}  // namespace

std::string NewSessionId() {
  static_assert(kIdAlphabet.size() == 61);
  // Bytes of 244 and above are dropped, so every letter is equally likely.
  constexpr unsigned kUnbiasedLimit = 256 - 256 % 61;
  std::string id;
  id.reserve(kIdLength);
  while (id.size() < kIdLength) {
    const unsigned b = NextRandomByte();
    if (b < kUnbiasedLimit) id += kIdAlphabet[b % kIdAlphabet.size()];
  }
  return id;
}

TIdHTTPSession::TIdHTTPSession(std::string sessionId, std::string clientAddress)
    : sessionId_(std::move(sessionId)), clientAddress_(std::move(clientAddress)) {
  Touch();
}

void TIdHTTPSession::Touch() {
  lastUsed_.store(Now(), std::memory_order_relaxed);
  lastUsedTick_ = SteadyMs();
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::Find(std::string_view sessionId,
                                                                std::string_view address) {
  const std::string key = LowerCase(sessionId);
  std::lock_guard lock(mutex_);
  auto [first, last] = byId_.Shard(key).equal_range(key);
  for (auto it = first; it != last; ++it) {
    TIdHTTPSession* s = it->second;
    if (!address.empty() && !SameText(s->ClientAddress(), address)) continue;
    s->Touch();
    byUse_.splice(byUse_.end(), byUse_, s->position_);
    return *s->position_;
  }
  return nullptr;
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::CreateUnique(
    const std::string& address) {
  std::string id;
  {
    std::lock_guard lock(mutex_);
    do id = NewSessionId();
    while (byId_.count(LowerCase(id)) != 0);
  }
  auto session = std::make_shared<TIdHTTPSession>(std::move(id), address);
  if (OnSessionStart) OnSessionStart(*session);
  Add(session);
  return session;
}

void TIdHTTPDefaultSessionList::Add(std::shared_ptr<TIdHTTPSession> session) {
  // Both index entries are built before the lock is taken, so other requests do not wait on
  // the heap.
  TIdHTTPSession* raw = session.get();
  std::list<std::shared_ptr<TIdHTTPSession>> fresh;
  fresh.push_back(std::move(session));
  thread_local IdIndex scratch;
  auto entry = scratch.extract(scratch.emplace(LowerCase(raw->SessionId()), raw));

  std::lock_guard lock(mutex_);
  raw->lastUsedTick_ = SteadyMs();
  byId_.Shard(entry.key()).insert(std::move(entry));
  byUse_.splice(byUse_.end(), fresh);
  raw->position_ = std::prev(byUse_.end());
}

void TIdHTTPDefaultSessionList::EndStale(bool all) {
  // The lock is taken for a batch at a time: after a burst of cookie-less requests a
  // sweep ends tens of thousands of sessions, and requests must not wait for all of them.
  constexpr size_t kBatch = 256;
  std::vector<std::shared_ptr<TIdHTTPSession>> ended;
  ended.reserve(kBatch);
  const int64_t now = SteadyMs();
  for (bool more = true; more;) {
    {
      std::lock_guard lock(mutex_);
      while (!byUse_.empty() && ended.size() < kBatch) {
        TIdHTTPSession* s = byUse_.front().get();
        if (!all && now - s->lastUsedTick_ <= SessionTimeout) break;
        const std::string key = LowerCase(s->SessionId());
        IdIndex& shard = byId_.Shard(key);
        auto [first, last] = shard.equal_range(key);
        for (auto it = first; it != last; ++it)
          if (it->second == s) {
            shard.erase(it);
            break;
          }
        ended.push_back(std::move(byUse_.front()));
        byUse_.pop_front();
      }
      more = ended.size() == kBatch;
    }
    for (auto& s : ended) {
      if (!OnSessionEnd) break;
      try {
        OnSessionEnd(*s);
      } catch (...) {
        // One failing handler must not keep the other sessions from ending.
      }
    }
    ended.clear();
  }
}

size_t TIdHTTPDefaultSessionList::Count() const {
  std::lock_guard lock(mutex_);
  return byUse_.size();
}

TIdHTTPSessionCleanerThread::TIdHTTPSessionCleanerThread(TIdHTTPDefaultSessionList& sessions)
    : sessions_(sessions), thread_([this] { Run(); }) {}

TIdHTTPSessionCleanerThread::~TIdHTTPSessionCleanerThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TIdHTTPSessionCleanerThread::Run() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
    lock.unlock();
    sessions_.EndStale(false);
    lock.lock();
  }
  lock.unlock();
  sessions_.EndStale(true);
}

}  // namespace morlak
