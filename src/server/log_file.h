// The log file: keeps the latest lines in memory and writes them to a file, either
// appending one line at a time (MaxLines 0) or keeping about the last MaxLines lines:
// lines are appended until the file holds a quarter more, then a background thread
// rewrites it once with the last MaxLines lines. Any thread may call it; every property
// and Add take one lock, for no longer than one append, and the events run under it.
// The class is TOzm_logfile.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/datetime.h"

namespace morlak {

class TOzm_logfile {
 public:
  // May change the line before it is stored.
  using LogEvent = std::function<void(TOzm_logfile& sender, std::string& line)>;
  // May clear goAhead to keep the memory list from being trimmed in rolling mode.
  using LogFullEvent = std::function<void(TOzm_logfile& sender, bool& goAhead)>;
  using AfterLogEvent = std::function<void(TOzm_logfile& sender, const std::string& line)>;
  using ErrorEvent = std::function<void(TOzm_logfile& sender, const std::string& text)>;

  static constexpr int kMaxRollingLines = 9999;
  static constexpr size_t kMemoryLines = 10000;

  // The most a load takes from the end of the file, whatever its line count.
  static constexpr size_t kMaxLoadBytes = 8 << 20;

  TOzm_logfile() = default;
  // Finishes a rewrite under way.
  ~TOzm_logfile();
  TOzm_logfile(const TOzm_logfile&) = delete;
  TOzm_logfile& operator=(const TOzm_logfile&) = delete;

  std::string Filename() const;
  // Stores the name when it differs from the current one, and loads the file in
  // either case (when LoadOnStartup is on). Empty means no file.
  void SetFilename(const std::string& filename);
  bool LoadOnStartup() const;
  void SetLoadOnStartup(bool value);
  int MaxLines() const;
  // 0 = append mode, 1..9999 = rolling mode; any other value is refused (false) and
  // the old one stays.
  bool SetMaxLines(int value);
  bool TimeStamp() const;
  void SetTimeStamp(bool value);

  void SetOnLog(LogEvent handler);
  void SetOnLogFull(LogFullEvent handler);
  void SetAfterLog(AfterLogEvent handler);
  void SetOnError(ErrorEvent handler);

  // To be called once the properties are set: loads the file when LoadOnStartup is on.
  void Loaded();

  // Stores the line (time-stamped when TimeStamp is on) in memory and in the file. A
  // file failure sets LastError, raises OnError and skips AfterLog; the memory list
  // keeps the line.
  void Add(std::string line);

  std::vector<std::string> Lines() const;
  // The last line given to Add (after OnLog, without the time stamp) and its time.
  std::string LastLine() const;
  TDateTime LastLineTime() const;
  // Empty after a line was written; the failure text otherwise.
  std::string LastError() const;

 private:
  void LoadFile(std::unique_lock<std::recursive_mutex>& lock);
  void Fail(const std::string& text);
  std::string FileText() const;
  // Rolling mode: appends the line, or holds it back while a rewrite is under way, and
  // starts a rewrite when the file has grown a quarter past MaxLines.
  bool WriteRolling(const std::string& line);
  void StartTrimIfDue();
  void RunTrims();
  // Short date, long time and "> "; the time is left out at exactly midnight. Lines come
  // many to a second, so the text of the last second is kept.
  const std::string& StampOf(TDateTime now);
  // The line and CR LF, in a buffer the next line reuses.
  const std::string& WithLineEnd(const std::string& line);

  mutable std::recursive_mutex lock_;
  std::string filename_;
  bool loadOnStartup_ = false;
  int maxLines_ = 0;
  bool timeStamp_ = true;
  LogEvent onLog_;
  LogFullEvent onLogFull_;
  AfterLogEvent afterLog_;
  ErrorEvent onError_;
  std::deque<std::string> lines_;
  std::string lastLine_;
  TDateTime lastLineTime_ = 0;
  std::string lastError_;
  std::string stamp_;
  int64_t stampSecond_ = -1;
  std::string fileLine_;

  // Rolling-mode rewrites, guarded by lock_.
  size_t fileLines_ = 0;  // lines in the file as far as known
  bool trimming_ = false;
  bool trimDue_ = false;
  bool stopping_ = false;
  std::string trimText_;  // the file's next content, taken when the rewrite started
  std::string trimPath_;
  size_t trimLines_ = 0;
  std::string heldBack_;  // lines written while the rewrite runs
  size_t heldBackLines_ = 0;
  std::condition_variable_any trimWake_;
  std::thread trimmer_;
};

}  // namespace morlak
