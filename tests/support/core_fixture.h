// A server core on a free loopback port with a data folder of its own and a front end
// that records every log line.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/server_core.h"
#include "support/temp_folder.h"

namespace morlak::test_support {

class RecordingFrontEnd : public FrontEnd {
 public:
  void Synchronize(const std::function<void()>& work) override {
    std::lock_guard<std::recursive_mutex> lock(mainThread_);
    work();
  }
  void AddLog(const std::string& text) override {
    std::lock_guard<std::mutex> lock(linesLock_);
    lines_.push_back(text);
  }
  void ShowMessage(const std::string& text) override { AddLog("message: " + text); }
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(linesLock_);
    return lines_;
  }
  // True when a line equal to `text` was logged.
  bool Has(const std::string& text) const;
  // True when a line containing `part` was logged.
  bool HasPart(const std::string& part) const;
  // True when a request line "HTTP://<host>> 127.0.0.1:<any port>" + rest was logged;
  // rest starts with ", " and the user name.
  bool HasRequestLine(const std::string& host, const std::string& rest) const;

 private:
  std::recursive_mutex mainThread_;
  mutable std::mutex linesLock_;
  std::vector<std::string> lines_;
};

// Writes the data folder (settings given as raw "key=value" lines of section
// [settings], "{data}" standing for the data folder) and starts a core whose plain listener takes
// any free port.
class CoreFixture {
 public:
  // Home folder is <data>/http/public/ and templates <data>/http/templates unless the
  // settings lines say otherwise.
  explicit CoreFixture(const std::vector<std::string>& settingsLines = {});
  ~CoreFixture();

  TempFolder data;
  RecordingFrontEnd front;
  std::unique_ptr<ServerCore> core;

  void Start();
  int Port() const { return core->IdHTTPServer1.BoundPort(); }
  std::string Home() const { return data.Path() + "http/public/"; }
};

}  // namespace morlak::test_support
