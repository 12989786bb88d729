#include "platform/host_names.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/socket.h"

namespace morlak {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRemembered = std::chrono::seconds(60);
constexpr size_t kMaxRemembered = 4096;
// Lookups still running after their caller gave up; beyond this, callers do not start more.
constexpr int kMaxPendingLookups = 8;

struct Remembered {
  std::string name;
  Clock::time_point expires;
};

// Never destroyed: a lookup that outlives its caller may still write to it at exit.
struct NameCache {
  std::mutex mutex;
  std::unordered_map<std::string, Remembered> entries;
  std::atomic<int> pending{0};

  bool Find(const std::string& ip, std::string& name) {
    std::lock_guard lock(mutex);
    const auto it = entries.find(ip);
    if (it == entries.end() || it->second.expires < Clock::now()) return false;
    name = it->second.name;
    return true;
  }
  void Store(const std::string& ip, const std::string& name) {
    std::lock_guard lock(mutex);
    if (entries.size() >= kMaxRemembered) entries.clear();
    entries[ip] = {name, Clock::now() + kRemembered};
  }
};

NameCache& Cache() {
  static NameCache* cache = new NameCache;
  return *cache;
}

struct PendingLookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::string name;
};

}  // namespace

std::string HostNameOrAddress(const std::string& ip, int timeoutMs) {
  NameCache& cache = Cache();
  std::string name;
  if (cache.Find(ip, name)) return name;
  if (cache.pending.fetch_add(1) >= kMaxPendingLookups) {
    cache.pending.fetch_sub(1);
    return ip;
  }
  auto lookup = std::make_shared<PendingLookup>();
  try {
    std::thread([lookup, ip, &cache] {
      std::string found = SocketReverseLookup(ip);
      cache.Store(ip, found);
      cache.pending.fetch_sub(1);
      std::lock_guard lock(lookup->mutex);
      lookup->name = std::move(found);
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    cache.pending.fetch_sub(1);
    return ip;
  }
  std::unique_lock lock(lookup->mutex);
  if (!lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return lookup->finished; }))
    return ip;
  return lookup->name;
}

}  // namespace morlak
