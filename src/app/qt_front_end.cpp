#include "app/qt_front_end.h"

#include <QCoreApplication>
#include <QThread>
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
      queued_.wait(lock, [&] { return finished || !queue_.empty(); });
      if (finished && queue_.empty()) break;
    }
    RunQueued();
  }
  helper.join();
  blocking_ = false;
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
