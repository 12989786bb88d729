#include "engine/http_sessions.h"

#include <chrono>

#include "platform/random.h"
#include "platform/thread_priority.h"

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
  char id[kIdLength];
  for (size_t n = 0; n < kIdLength;) {
    const unsigned b = NextRandomByte();
    if (b < kUnbiasedLimit) id[n++] = kIdAlphabet[b % kIdAlphabet.size()];
  }
  return std::string(id, kIdLength);
}

TIdHTTPSession::TIdHTTPSession(std::string sessionId, std::string clientAddress)
    : sessionId_(std::move(sessionId)), clientAddress_(std::move(clientAddress)) {
  Touch();
}

void TIdHTTPSession::Touch() {
  lastUsedTick_ = SteadyMs();
}

void TIdHTTPDefaultSessionList::Table::Unlink(TIdHTTPSession& s) {
  (s.older_ ? s.older_->newer_ : oldest) = s.newer_;
  (s.newer_ ? s.newer_->older_ : newest) = s.older_;
  s.older_ = s.newer_ = nullptr;
}

void TIdHTTPDefaultSessionList::Table::LinkNewest(TIdHTTPSession& s) {
  s.older_ = newest;
  s.newer_ = nullptr;
  (newest ? newest->newer_ : oldest) = &s;
  newest = &s;
}

TIdHTTPDefaultSessionList::~TIdHTTPDefaultSessionList() {
  for (Table& table : tables_)
    while (TIdHTTPSession* s = table.oldest) {
      table.Unlink(*s);
      s->listed_.reset();
    }
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::Find(std::string_view sessionId,
                                                                std::string_view address) {
  const uint64_t hash = HashBytes(sessionId, true);
  Table& table = TableOf(hash);
  std::lock_guard lock(table.mutex);
  TIdHTTPSession* s = table.byId.Find(hash, [&](const TIdHTTPSession& candidate) {
    return SameText(candidate.SessionId(), sessionId) &&
           (address.empty() || SameText(candidate.ClientAddress(), address));
  });
  if (!s) return nullptr;
  s->Touch();
  table.Unlink(*s);
  table.LinkNewest(*s);
  return s->listed_;
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::CreateUnique(
    const std::string& address) {
  std::string id;
  for (bool taken = true; taken;) {
    id = NewSessionId();
    const uint64_t hash = HashBytes(id, true);
    Table& table = TableOf(hash);
    std::lock_guard lock(table.mutex);
    taken = table.byId.Find(hash, [&](const TIdHTTPSession& s) {
      return SameText(s.SessionId(), id);
    }) != nullptr;
  }
  auto session = std::make_shared<TIdHTTPSession>(std::move(id), address);
  if (OnSessionStart) OnSessionStart(*session);
  Add(session);
  return session;
}

void TIdHTTPDefaultSessionList::Add(std::shared_ptr<TIdHTTPSession> session) {
  TIdHTTPSession* s = session.get();
  // Linked to its address before it is listed, so that every end, which starts from the
  // list, finds it linked.
  std::shared_ptr<TIdHTTPSession> overAddress = LinkAddress(*s);
  const uint64_t hash = HashBytes(s->SessionId(), true);
  const size_t index = ShardOf(hash, kTables);
  {
    Table& table = tables_[index];
    std::lock_guard lock(table.mutex);
    if (s->listed_) return;
    s->lastUsedTick_ = SteadyMs();
    s->listed_ = std::move(session);
    table.LinkNewest(*s);
    table.byId.Insert(hash, s);
  }
  const size_t before = count_.fetch_add(1, std::memory_order_relaxed);
  if (MaxSessions > 0 && before >= MaxSessions)
    if (auto ended = UnlistLeastRecent(index, s)) Finish(std::move(ended));
  if (overAddress)
    if (auto ended = Unlist(*overAddress)) Finish(std::move(ended));
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::UnlistLeastRecent(
    size_t first, const TIdHTTPSession* spare) {
  // The ids are random, so the least recently used of one table stands for the least
  // recently used of all without a look into every table.
  for (size_t i = 0; i < kTables; ++i) {
    Table& table = tables_[(first + i) % kTables];
    std::lock_guard lock(table.mutex);
    TIdHTTPSession* victim = table.oldest == spare ? spare->newer_ : table.oldest;
    if (!victim) continue;
    table.Unlink(*victim);
    table.byId.Erase(HashBytes(victim->SessionId(), true), victim);
    count_.fetch_sub(1, std::memory_order_relaxed);
    return std::move(victim->listed_);
  }
  return nullptr;
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::LinkAddress(TIdHTTPSession& s) {
  AddressShard& shard = ShardOfAddress(s.ClientAddress());
  std::lock_guard lock(shard.mutex);
  if (s.addressLinked_) return nullptr;
  AddressSessions& list = shard.byAddress[s.ClientAddress()];
  s.addressOlder_ = list.newest;
  s.addressNewer_ = nullptr;
  (list.newest ? list.newest->addressNewer_ : list.oldest) = &s;
  list.newest = &s;
  s.addressLinked_ = true;
  ++list.count;
  if (MaxSessionsPerAddress == 0 || list.count <= MaxSessionsPerAddress) return nullptr;
  // Linked sessions are alive: an ending session leaves this list before it is released.
  return list.oldest->shared_from_this();
}

void TIdHTTPDefaultSessionList::UnlinkAddress(TIdHTTPSession& s) {
  AddressShard& shard = ShardOfAddress(s.ClientAddress());
  std::lock_guard lock(shard.mutex);
  if (!s.addressLinked_) return;
  s.addressLinked_ = false;
  const auto it = shard.byAddress.find(s.ClientAddress());
  AddressSessions& list = it->second;
  (s.addressOlder_ ? s.addressOlder_->addressNewer_ : list.oldest) = s.addressNewer_;
  (s.addressNewer_ ? s.addressNewer_->addressOlder_ : list.newest) = s.addressOlder_;
  s.addressOlder_ = s.addressNewer_ = nullptr;
  if (--list.count == 0) shard.byAddress.erase(it);
}

std::shared_ptr<TIdHTTPSession> TIdHTTPDefaultSessionList::Unlist(TIdHTTPSession& s) {
  Table& table = TableOf(HashBytes(s.SessionId(), true));
  std::lock_guard lock(table.mutex);
  if (!s.listed_) return nullptr;
  table.Unlink(s);
  table.byId.Erase(HashBytes(s.SessionId(), true), &s);
  count_.fetch_sub(1, std::memory_order_relaxed);
  return std::move(s.listed_);
}

void TIdHTTPDefaultSessionList::Finish(std::shared_ptr<TIdHTTPSession> session) {
  UnlinkAddress(*session);
  if (!OnSessionEnd) return;
  try {
    OnSessionEnd(*session);
  } catch (...) {
    // One failing handler must not keep the other sessions from ending.
  }
}

size_t TIdHTTPDefaultSessionList::EndStale(bool all) {
  size_t ended = 0;
  for (Table& table : tables_) ended += EndStaleIn(table, all);
  return ended;
}

size_t TIdHTTPDefaultSessionList::EndStaleIn(Table& table, bool all) {
  // The lock is taken for a few sessions at a time: after a burst of cookie-less requests
  // a sweep ends tens of thousands of sessions, and requests must not wait for them. The
  // sessions are freed after the lock is given back.
  constexpr size_t kBatch = 32;
  std::array<std::shared_ptr<TIdHTTPSession>, kBatch> ended;
  const int64_t now = SteadyMs();
  size_t total = 0;
  for (size_t count = kBatch; count == kBatch; total += count) {
    count = 0;
    {
      std::lock_guard lock(table.mutex);
      while (table.oldest && count < kBatch) {
        TIdHTTPSession* s = table.oldest;
        if (!all && now - s->lastUsedTick_ <= SessionTimeout) break;
        table.Unlink(*s);
        table.byId.Erase(HashBytes(s->SessionId(), true), s);
        ended[count++] = std::move(s->listed_);
      }
    }
    count_.fetch_sub(count, std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i) Finish(std::move(ended[i]));
  }
  return total;
}

size_t TIdHTTPDefaultSessionList::Count() const {
  return count_.load(std::memory_order_relaxed);
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
  // The last sweep runs here, at the priority of the thread that stops the cleaner: a
  // thread cannot raise its own priority again once it has lowered it.
  sessions_.EndStale(true);
}

void TIdHTTPSessionCleanerThread::Run() {
  LowerCurrentThreadPriority();
  constexpr size_t kBurst = 1000;
  std::chrono::milliseconds pause(1000);
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, pause, [this] { return stop_; })) {
    lock.unlock();
    pause = std::chrono::milliseconds(sessions_.EndStale(false) >= kBurst ? 100 : 1000);
    lock.lock();
  }
}

}  // namespace morlak
