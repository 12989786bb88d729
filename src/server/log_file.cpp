#include "server/log_file.h"

#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr const char* kCreateFailed = "Failed to create log file.";

// Short date, long time and "> "; the time is left out at exactly midnight.
std::string Stamp(TDateTime now) {
  const DateTimeParts p = DecodeDateTime(now);
  std::string stamp = FormatShortDate(now);
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.millisecond != 0)
    stamp.append(" ").append(FormatLongTime(now));
  return stamp.append("> ");
}

}  // namespace

std::string TOzm_logfile::Filename() const {
  std::lock_guard lock(lock_);
  return filename_;
}

void TOzm_logfile::SetFilename(const std::string& filename) {
  std::lock_guard lock(lock_);
  if (filename != filename_) filename_ = filename;
  LoadFile();
}

bool TOzm_logfile::LoadOnStartup() const {
  std::lock_guard lock(lock_);
  return loadOnStartup_;
}

void TOzm_logfile::SetLoadOnStartup(bool value) {
  std::lock_guard lock(lock_);
  loadOnStartup_ = value;
}

int TOzm_logfile::MaxLines() const {
  std::lock_guard lock(lock_);
  return maxLines_;
}

bool TOzm_logfile::SetMaxLines(int value) {
  if (value < 0 || value > kMaxRollingLines) return false;
  std::lock_guard lock(lock_);
  maxLines_ = value;
  return true;
}

bool TOzm_logfile::TimeStamp() const {
  std::lock_guard lock(lock_);
  return timeStamp_;
}

void TOzm_logfile::SetTimeStamp(bool value) {
  std::lock_guard lock(lock_);
  timeStamp_ = value;
}

void TOzm_logfile::SetOnLog(LogEvent handler) {
  std::lock_guard lock(lock_);
  onLog_ = std::move(handler);
}

void TOzm_logfile::SetOnLogFull(LogFullEvent handler) {
  std::lock_guard lock(lock_);
  onLogFull_ = std::move(handler);
}

void TOzm_logfile::SetAfterLog(AfterLogEvent handler) {
  std::lock_guard lock(lock_);
  afterLog_ = std::move(handler);
}

void TOzm_logfile::SetOnError(ErrorEvent handler) {
  std::lock_guard lock(lock_);
  onError_ = std::move(handler);
}

void TOzm_logfile::Loaded() {
  std::lock_guard lock(lock_);
  LoadFile();
}

void TOzm_logfile::Add(std::string line) {
  std::lock_guard lock(lock_);
  if (onLog_) onLog_(*this, line);
  lastLine_ = line;
  lastLineTime_ = Now();
  if (timeStamp_) line.insert(0, Stamp(lastLineTime_));
  lines_.push_back(line);

  if (maxLines_ == 0) {
    while (lines_.size() > kMemoryLines) lines_.pop_front();
    if (!filename_.empty() && !AppendToFile(filename_, line + "\r\n")) return Fail(kCreateFailed);
  } else {
    bool goAhead = true;
    if (onLogFull_) onLogFull_(*this, goAhead);
    if (goAhead)
      while (lines_.size() > static_cast<size_t>(maxLines_)) lines_.pop_front();
    if (!filename_.empty() && !WriteFileAtomic(filename_, FileText())) return Fail(kCreateFailed);
  }
  lastError_.clear();
  if (afterLog_) afterLog_(*this, line);
}

std::vector<std::string> TOzm_logfile::Lines() const {
  std::lock_guard lock(lock_);
  return {lines_.begin(), lines_.end()};
}

std::string TOzm_logfile::LastLine() const {
  std::lock_guard lock(lock_);
  return lastLine_;
}

TDateTime TOzm_logfile::LastLineTime() const {
  std::lock_guard lock(lock_);
  return lastLineTime_;
}

std::string TOzm_logfile::LastError() const {
  std::lock_guard lock(lock_);
  return lastError_;
}

// Only the newest lines that memory keeps are taken from the file, so a long-grown
// append-mode file does not fill memory on every reload.
void TOzm_logfile::LoadFile() {
  if (!loadOnStartup_ || !FileExists(filename_)) return;
  const auto content = ReadWholeFile(filename_);
  if (!content) return Fail("Failed to load \"" + filename_ + "\" on startup.");
  std::vector<std::string> lines = SplitDataLines(*content);
  const size_t skip = lines.size() > kMemoryLines ? lines.size() - kMemoryLines : 0;
  lines_.assign(std::make_move_iterator(lines.begin() + static_cast<std::ptrdiff_t>(skip)),
                std::make_move_iterator(lines.end()));
}

void TOzm_logfile::Fail(const std::string& text) {
  lastError_ = text;
  if (onError_) onError_(*this, text);
}

std::string TOzm_logfile::FileText() const {
  size_t size = 0;
  for (const auto& l : lines_) size += l.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& l : lines_) text.append(l).append("\r\n");
  return text;
}

}  // namespace morlak
