// The bridge between the server core and the window: the only place where connection
// threads reach the GUI thread. A synchronised call from another thread is queued, the
// GUI thread runs every queued call in one go when its event loop gets to them, and the
// caller waits for its own call. While the GUI thread itself must wait for connection
// threads (stopping a listener), RunBlocking keeps serving those calls, so neither side
// waits for the other forever.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

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
  void ShowMessage(const std::string& text) override;
  void RefreshMemberList() override;
  void RefreshMonitoredFileList() override;

  // GUI thread: runs `job` on a helper thread and serves synchronised calls until it
  // ends; its exception, if any, is thrown here. User input waits meanwhile.
  void RunBlocking(const std::function<void()>& job);
  bool Blocking() const { return blocking_; }

  bool OnGuiThread() const;

 private:
  struct Call {
    const std::function<void()>* work;
    std::exception_ptr error;
    bool done = false;
  };
  // GUI thread: runs every queued call.
  void RunQueued();

  Tfmain& window_;
  std::mutex mutex_;
  std::condition_variable queued_;  // a call was queued, or a blocking job ended
  std::condition_variable done_;    // a batch of calls has run
  std::deque<Call*> queue_;
  bool wakePosted_ = false;
  bool blocking_ = false;
};

}  // namespace morlak
