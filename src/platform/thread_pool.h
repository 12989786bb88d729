// Runs each job on a thread of its own, taking a parked idle thread when there is one
// instead of creating a new thread. A job never waits for another job to finish: with no
// idle thread a new one starts. Finished threads park for the next job while fewer than
// `maxIdle` are parked and leave after `idleTimeoutMs` without work.
#pragma once

#include <functional>
#include <memory>

namespace morlak {

class ParkedThreadPool {
 public:
  explicit ParkedThreadPool(size_t maxIdle = 64, int idleTimeoutMs = 30000);
  // Waits until every thread of the pool has ended; jobs still running finish first.
  ~ParkedThreadPool();
  ParkedThreadPool(const ParkedThreadPool&) = delete;
  ParkedThreadPool& operator=(const ParkedThreadPool&) = delete;

  // Throws std::system_error when no thread can be started. The job must not throw.
  void Run(std::function<void()> job);

  size_t IdleCount() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace morlak
