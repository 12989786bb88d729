#include "app/qt_front_end.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <thread>

#include "app/main_window.h"

namespace morlak {

QtFrontEnd::QtFrontEnd(Tfmain& window) : window_(window) {}

bool QtFrontEnd::OnGuiThread() const {
  return QThread::currentThread() == thread();
}

void QtFrontEnd::Synchronize(const std::function<void()>& work) {
  if (OnGuiThread()) {
    work();
    return;
  }
  Call call{&work, nullptr};
  bool post;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&call);
    post = !wakePosted_;
    wakePosted_ = true;
  }
  // One wake-up serves every call queued until the GUI thread gets to it.
  if (post) QMetaObject::invokeMethod(this, &QtFrontEnd::RunQueued, Qt::QueuedConnection);
  queued_.notify_one();
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

void QtFrontEnd::RunQueued() {
  std::deque<Call*> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
    wakePosted_ = false;
  }
  if (batch.empty()) return;
  for (Call* call : batch) {
    try {
      (*call->work)();
    } catch (...) {
      call->error = std::current_exception();
    }
  }
  {
    std::lock_guard lock(mutex_);
    for (Call* call : batch) call->done = true;
  }
  done_.notify_all();
}

void QtFrontEnd::PostLog(const std::string& text, TOzm_logfile* file) {
  // A log file that cannot be written reports it with a line of its own, from inside
  // file->Add on this thread: that line joins the queue under the lock already held.
  static thread_local bool addingToFile = false;
  if (addingToFile) {
    lines_.push_back(text);
    return;
  }
  bool post;
  {
    std::lock_guard lock(mutex_);
    // Under the same lock as the queue, so the file and the window see one order.
    if (file) {
      addingToFile = true;
      struct Reset {
        ~Reset() { addingToFile = false; }
      } reset;
      file->Add(text);
    }
    lines_.push_back(text);
    post = !linesPosted_;
    linesPosted_ = true;
  }
  if (OnGuiThread()) {
    ShowQueuedLines();
  } else if (post) {
    // The GUI thread collects the lines a moment later in one go, so a busy server wakes
    // it a few times a second instead of once per request.
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(kLogBatchMs, this, &QtFrontEnd::ShowQueuedLines); },
        Qt::QueuedConnection);
    queued_.notify_one();
  }
}

void QtFrontEnd::ShowQueuedLines() {
  std::vector<std::string> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(lines_);
    linesPosted_ = false;
  }
  for (std::string& line : batch) window_.Log().AddLog(std::move(line));
}

void QtFrontEnd::RunBlocking(const std::function<void()>& job) {
  std::exception_ptr error;
  bool finished = false;
  blocking_ = true;
  std::thread helper([&] {
    try {
      job();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    finished = true;
    queued_.notify_one();
  });
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return finished || !queue_.empty() || !lines_.empty(); });
      if (finished && queue_.empty()) break;
    }
    RunQueued();
    ShowQueuedLines();
  }
  helper.join();
  blocking_ = false;
  ShowQueuedLines();
  if (error) std::rethrow_exception(error);
}

void QtFrontEnd::AddLog(const std::string& text) {
  Synchronize([&] { window_.AddLog(text); });
}

void QtFrontEnd::ShowMessage(const std::string& text) {
  Synchronize([&] { window_.ShowMessage(text); });
}

void QtFrontEnd::RefreshMemberList() {
  Synchronize([&] { window_.RefreshMemberList(); });
}

void QtFrontEnd::RefreshMonitoredFileList() {
  Synchronize([&] { window_.RefreshMonitoredFileList(); });
}

}  // namespace morlak
