// What the server core needs from the program's face: the desktop window or the console.
// Connection threads never touch the front end directly; they hand work to the main
// thread with Synchronize and wait for it, as every log line and list refresh does.
#pragma once

#include <functional>
#include <string>

#include "server/log_file.h"

namespace morlak {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Runs `work` on the main thread and returns when it has run.
  virtual void Synchronize(const std::function<void()>& work) = 0;

  // Main thread only. A line for the log window; the front end adds the time stamp.
  virtual void AddLog(const std::string& text) = 0;
  // Any thread. A line for the log window and, when `file` is given, for the log file.
  // Lines keep the order of the calls. By default a synchronised call of AddLog and then
  // file->Add; a front end may instead queue the line for its main thread without
  // waiting, as the window does so that requests never wait for the screen.
  virtual void PostLog(const std::string& text, TOzm_logfile* file) {
    Synchronize([&] {
      AddLog(text);
      if (file) file->Add(text);
    });
  }
  // Main thread only. A message the user must see (a message box in the window).
  virtual void ShowMessage(const std::string& text) = 0;
  // Main thread only. The member list and the monitored-file list changed.
  virtual void RefreshMemberList() = 0;
  virtual void RefreshMonitoredFileList() = 0;
};

}  // namespace morlak
