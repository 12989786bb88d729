// The bridge between the server core and the window: the only place where connection
// threads reach the GUI thread. A synchronised call from another thread is queued, the
// GUI thread runs every queued call in one go when its event loop gets to them, and the
// caller waits for its own call. Log lines are queued in order without waiting (a request
// must not wait for the screen); the GUI thread hands them to the log view in batches.
// While the GUI thread itself must wait for connection threads (stopping a listener),
// RunBlocking keeps serving both queues, so neither side waits for the other forever.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "server/front_end.h"

namespace morlak {

class Tfmain;

class QtFrontEnd : public QObject, public FrontEnd {
  Q_OBJECT

 public:
  explicit QtFrontEnd(Tfmain& window);

  // From any thread: runs `work` on the GUI thread and returns when it has run.
  void Synchronize(const std::function<void()>& work) override;
  // These reach the window on the GUI thread, called from whichever thread.
  void AddLog(const std::string& text) override;
  // Any thread: the file line is written at once, the window line queued in call order.
  void PostLog(const std::string& text, TOzm_logfile* file) override;
  void ShowMessage(const std::string& text) override;
  void RefreshMemberList() override;
  void RefreshMonitoredFileList() override;

  // GUI thread: runs `job` on a helper thread and serves synchronised calls until it
  // ends; its exception, if any, is thrown here. User input waits meanwhile.
  void RunBlocking(const std::function<void()>& job);
  bool Blocking() const { return blocking_; }

  bool OnGuiThread() const;
  // Lines from other threads reach the log view at most this long after the first of them.
  static constexpr int kLogBatchMs = 100;

 private:
  struct Call {
    const std::function<void()>* work;
    std::exception_ptr error;
    bool done = false;
  };
  // GUI thread: runs every queued call / hands every queued log line to the window.
  void RunQueued();
  void ShowQueuedLines();

  Tfmain& window_;
  std::mutex mutex_;
  std::condition_variable queued_;  // a call was queued, or a blocking job ended
  std::condition_variable done_;    // a batch of calls has run
  std::deque<Call*> queue_;
  bool wakePosted_ = false;
  std::vector<std::string> lines_;  // log lines not yet handed to the window
  bool linesPosted_ = false;
  bool blocking_ = false;
};

}  // namespace morlak
