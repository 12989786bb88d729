#include "server/log_file.h"

#include <optional>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr const char* kCreateFailed = "Failed to create log file.";

}  // namespace

const std::string& TOzm_logfile::StampOf(TDateTime now) {
  const DateTimeParts p = DecodeDateTime(now);
  const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
  const int64_t second = ((static_cast<int64_t>(p.year) * 13 + p.month) * 32 + p.day) * 86400 +
                         p.hour * 3600 + p.minute * 60 + p.second;
  // The midnight second is never kept: whether it shows the time depends on the millisecond.
  if (second == stampSecond_ && !midnight) return stamp_;
  stamp_ = FormatShortDate(now);
  if (!midnight || p.millisecond != 0) stamp_.append(" ").append(FormatLongTime(now));
  stamp_.append("> ");
  stampSecond_ = midnight ? -1 : second;
  return stamp_;
}

TOzm_logfile::~TOzm_logfile() {
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  trimWake_.notify_all();
  if (trimmer_.joinable()) trimmer_.join();
}

std::string TOzm_logfile::Filename() const {
  std::lock_guard lock(lock_);
  return filename_;
}

void TOzm_logfile::SetFilename(const std::string& filename) {
  std::unique_lock lock(lock_);
  if (filename != filename_) filename_ = filename;
  LoadFile(lock);
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
  std::unique_lock lock(lock_);
  LoadFile(lock);
}

void TOzm_logfile::Add(std::string line) {
  std::lock_guard lock(lock_);
  if (onLog_) onLog_(*this, line);
  lastLine_ = line;
  lastLineTime_ = Now();
  if (timeStamp_) line.insert(0, StampOf(lastLineTime_));
  lines_.push_back(line);

  if (maxLines_ == 0) {
    while (lines_.size() > kMemoryLines) lines_.pop_front();
    if (!filename_.empty() && !AppendToFile(filename_, WithLineEnd(line)))
      return Fail(kCreateFailed);
    ++fileLines_;
  } else {
    bool goAhead = true;
    if (onLogFull_) onLogFull_(*this, goAhead);
    if (goAhead)
      while (lines_.size() > static_cast<size_t>(maxLines_)) lines_.pop_front();
    if (!filename_.empty() && !WriteRolling(line)) return Fail(kCreateFailed);
  }
  lastError_.clear();
  if (afterLog_) afterLog_(*this, line);
}

bool TOzm_logfile::WriteRolling(const std::string& line) {
  if (trimming_) {
    heldBack_.append(line).append("\r\n");
    ++heldBackLines_;
    return true;
  }
  if (!AppendToFile(filename_, WithLineEnd(line))) return false;
  ++fileLines_;
  StartTrimIfDue();
  return true;
}

void TOzm_logfile::StartTrimIfDue() {
  const size_t limit = static_cast<size_t>(maxLines_);
  if (limit == 0 || fileLines_ <= limit + limit / 4) return;
  // The copy costs about what a quarter of MaxLines appends cost, once per that many lines.
  trimming_ = trimDue_ = true;
  trimText_ = FileText();
  trimLines_ = lines_.size();
  trimPath_ = filename_;
  if (!trimmer_.joinable()) trimmer_ = std::thread([this] { RunTrims(); });
  trimWake_.notify_all();
}

void TOzm_logfile::RunTrims() {
  std::unique_lock lock(lock_);
  for (;;) {
    trimWake_.wait(lock, [this] { return trimDue_ || stopping_; });
    if (!trimDue_) return;
    trimDue_ = false;
    const std::string text = std::move(trimText_);
    const std::string path = trimPath_;
    lock.unlock();
    // Written and flushed to disk without the lock; only the rename waits for it.
    std::optional<AtomicFileWriter> writer;
    bool ok = false;
    try {
      writer.emplace(path);
      writer->Stream().Write(text.data(), text.size());
      ok = writer->Sync();
    } catch (const EStreamError&) {
      // Reported below, like a failed rename.
    }
    lock.lock();
    ok = ok && writer->Commit();
    // After a failure the file grows another quarter before the next attempt.
    fileLines_ = ok ? trimLines_ : 0;
    trimming_ = false;
    if (!heldBack_.empty() && !filename_.empty()) {
      if (AppendToFile(filename_, heldBack_))
        fileLines_ += heldBackLines_;
      else
        ok = false;
    }
    heldBack_.clear();
    heldBackLines_ = 0;
    if (!ok) {
      // OnError runs without the lock here: a handler that logs takes the front end's lock,
      // which request threads hold while they wait for this one.
      lastError_ = kCreateFailed;
      const ErrorEvent handler = onError_;
      trimWake_.notify_all();  // a load waiting for the rewrite goes first
      lock.unlock();
      if (handler) handler(*this, kCreateFailed);
      lock.lock();
    }
    // Many lines held back during a slow rewrite call for the next one at once.
    if (!filename_.empty()) StartTrimIfDue();
    trimWake_.notify_all();
  }
}

const std::string& TOzm_logfile::WithLineEnd(const std::string& line) {
  fileLine_.assign(line).append("\r\n");
  return fileLine_;
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
void TOzm_logfile::LoadFile(std::unique_lock<std::recursive_mutex>& lock) {
  if (!loadOnStartup_) return;
  // A rewrite under way is what the file is about to hold.
  trimWake_.wait(lock, [this] { return !trimming_; });
  if (!FileExists(filename_)) return;
  const size_t keep = maxLines_ > 0 ? static_cast<size_t>(maxLines_) : kMemoryLines;
  const auto tail = ReadFileTail(filename_, keep, kMaxLoadBytes);
  if (!tail) return Fail("Failed to load \"" + filename_ + "\" on startup.");
  std::vector<std::string> lines = SplitDataLines(*tail);
  lines_.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  // A file longer than its tail is rewritten at the next rolling-mode line.
  const bool whole = FileSize(filename_).value_or(0) <= static_cast<int64_t>(tail->size());
  fileLines_ = whole ? lines_.size() : SIZE_MAX / 2;
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
