// The console face of the server: log lines go to standard output with their time
// stamp, messages to standard error, and "the main thread" is one lock. On a terminal
// every line is flushed at once; into a file or pipe, request lines gather in the front
// end's own buffer and go out in batches (at the latest by the next FlushLog, which the
// main loop calls every 250 ms), so a busy server pays neither a write nor the stream's
// work per request.
#pragma once

#include <cstdio>
#include <mutex>

#include "server/front_end.h"

namespace morlak {

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(std::FILE* out = stdout, std::FILE* err = stderr);
  ~ConsoleFrontEnd() override;

  void Synchronize(const std::function<void()>& work) override;
  void AddLog(const std::string& text) override;
  // The line is written under the main-thread lock, with no call object to build.
  void PostLog(const std::string& text, TOzm_logfile* file) override;
  void ShowMessage(const std::string& text) override;
  // The console shows no lists.
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}

  // Any thread: writes out the lines gathered so far.
  void FlushLog();

 private:
  // The time stamp of the current second, remade only when the second changes.
  const std::string& TimeStamp();
  // With the lock held.
  void WriteLine(const std::string& text);
  void WritePending();

  std::recursive_mutex mainThread_;
  std::FILE* out_;
  std::FILE* err_;
  const bool interactive_;
  int64_t stampSecond_ = -1;
  std::string stamp_;
  std::string pending_;  // whole lines not yet handed to `out_`
};

}  // namespace morlak
