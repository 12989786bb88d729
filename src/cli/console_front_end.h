// The console face of the server: log lines go to standard output with their time
// stamp, messages to standard error, and "the main thread" is one lock. On a terminal
// every line is flushed at once; into a file or pipe, request lines are flushed in
// batches (at the latest by the next FlushLog, which the main loop calls every 250 ms),
// so a busy server does not pay one write per request.
#pragma once

#include <cstdio>
#include <mutex>

#include "server/front_end.h"

namespace morlak {

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(std::FILE* out = stdout, std::FILE* err = stderr);

  void Synchronize(const std::function<void()>& work) override;
  void AddLog(const std::string& text) override;
  // The line is written under the main-thread lock, with no call object to build.
  void PostLog(const std::string& text, TOzm_logfile* file) override;
  void ShowMessage(const std::string& text) override;
  // The console shows no lists.
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}

  void FlushLog();

 private:
  // The time stamp of the current second, remade only when the second changes.
  const std::string& TimeStamp();

  std::recursive_mutex mainThread_;
  std::FILE* out_;
  std::FILE* err_;
  const bool interactive_;
  int64_t stampSecond_ = -1;
  std::string stamp_;
};

}  // namespace morlak
