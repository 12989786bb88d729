#include "platform/thread_pool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace morlak {

namespace {

// One parked thread waiting for its next job.
struct Parking {
  std::condition_variable wake;
  std::function<void()> job;
};

}  // namespace

struct ParkedThreadPool::State {
  size_t maxIdle;
  std::chrono::milliseconds idleTimeout;
  mutable std::mutex mutex;
  std::condition_variable allGone;
  std::vector<Parking*> idle;  // most recently parked last, so warm threads go first
  size_t liveThreads = 0;
  bool closing = false;
};

namespace {

void ThreadMain(std::shared_ptr<ParkedThreadPool::State> state, std::function<void()> job) {
  Parking parking;
  for (;;) {
    job();
    job = nullptr;
    std::unique_lock lock(state->mutex);
    if (state->closing || state->idle.size() >= state->maxIdle) break;
    state->idle.push_back(&parking);
    const bool woken = parking.wake.wait_for(
        lock, state->idleTimeout, [&] { return parking.job != nullptr || state->closing; });
    if (!woken || !parking.job) {
      auto& idle = state->idle;
      idle.erase(std::remove(idle.begin(), idle.end(), &parking), idle.end());
      break;
    }
    job = std::move(parking.job);
    parking.job = nullptr;
  }
  std::lock_guard lock(state->mutex);
  if (--state->liveThreads == 0) state->allGone.notify_all();
}

}  // namespace

ParkedThreadPool::ParkedThreadPool(size_t maxIdle, int idleTimeoutMs)
    : state_(std::make_shared<State>()) {
  state_->maxIdle = maxIdle;
  state_->idleTimeout = std::chrono::milliseconds(idleTimeoutMs);
}

ParkedThreadPool::~ParkedThreadPool() {
  std::unique_lock lock(state_->mutex);
  state_->closing = true;
  for (Parking* p : state_->idle) p->wake.notify_one();
  state_->allGone.wait(lock, [&] { return state_->liveThreads == 0; });
}

void ParkedThreadPool::Run(std::function<void()> job) {
  std::unique_lock lock(state_->mutex);
  if (!state_->idle.empty()) {
    Parking* p = state_->idle.back();
    state_->idle.pop_back();
    p->job = std::move(job);
    lock.unlock();
    p->wake.notify_one();
    return;
  }
  ++state_->liveThreads;
  lock.unlock();
  try {
    std::thread(ThreadMain, state_, std::move(job)).detach();
  } catch (...) {
    std::lock_guard relock(state_->mutex);
    if (--state_->liveThreads == 0) state_->allGone.notify_all();
    throw;
  }
}

size_t ParkedThreadPool::IdleCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->idle.size();
}

}  // namespace morlak
