// The console face of the server: log lines go to standard output with their time
// stamp, messages to standard error, and "the main thread" is one lock.
#pragma once

#include <cstdio>
#include <mutex>

#include "server/front_end.h"

namespace morlak {

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(std::FILE* out = stdout, std::FILE* err = stderr)
      : out_(out), err_(err) {}

  void Synchronize(const std::function<void()>& work) override;
  void AddLog(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  // The console shows no lists.
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}

 private:
  std::recursive_mutex mainThread_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace morlak
