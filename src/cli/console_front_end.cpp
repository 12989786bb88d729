#include "cli/console_front_end.h"

#include <unistd.h>

#include <cmath>

#include "platform/datetime.h"

namespace morlak {

namespace {

// About a hundred request lines: a write every so many, not one per line.
constexpr size_t kPendingLimit = 16 * 1024;

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), interactive_(::isatty(::fileno(out)) == 1) {
  pending_.reserve(kPendingLimit + 512);
}

ConsoleFrontEnd::~ConsoleFrontEnd() {
  FlushLog();
}

void ConsoleFrontEnd::Synchronize(const std::function<void()>& work) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  work();
}

const std::string& ConsoleFrontEnd::TimeStamp() {
  const TDateTime now = Now();
  const auto second = static_cast<int64_t>(std::floor(now * 86400.0));
  if (second != stampSecond_) {
    stampSecond_ = second;
    stamp_ = FormatShortDate(now) + " " + FormatLongTime(now) + " ";
  }
  return stamp_;
}

void ConsoleFrontEnd::WriteLine(const std::string& text) {
  pending_.append(TimeStamp()).append(text).push_back('\n');
  // Application lines ("- ...") are rare and worth seeing at once.
  if (interactive_ || pending_.size() >= kPendingLimit || text.starts_with("- ")) WritePending();
}

void ConsoleFrontEnd::WritePending() {
  if (!pending_.empty()) {
    std::fwrite(pending_.data(), 1, pending_.size(), out_);
    pending_.clear();
  }
  std::fflush(out_);
}

void ConsoleFrontEnd::AddLog(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  WriteLine(text);
}

void ConsoleFrontEnd::PostLog(const std::string& text, TOzm_logfile* file) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  WriteLine(text);
  if (file) file->Add(text);
}

void ConsoleFrontEnd::FlushLog() {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  WritePending();
}

void ConsoleFrontEnd::ShowMessage(const std::string& text) {
  std::fprintf(err_, "morlak: %s\n", text.c_str());
  std::fflush(err_);
}

}  // namespace morlak
