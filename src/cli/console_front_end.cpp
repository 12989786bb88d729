#include "cli/console_front_end.h"

#include <unistd.h>

#include <cmath>

#include "platform/datetime.h"

namespace morlak {

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), interactive_(::isatty(::fileno(out)) == 1) {}

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

void ConsoleFrontEnd::AddLog(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  const std::string& stamp = TimeStamp();
  std::fwrite(stamp.data(), 1, stamp.size(), out_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  // Application lines ("- ...") are rare and worth seeing at once.
  if (interactive_ || text.rfind("- ", 0) == 0) std::fflush(out_);
}

void ConsoleFrontEnd::PostLog(const std::string& text, TOzm_logfile* file) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  AddLog(text);
  if (file) file->Add(text);
}

void ConsoleFrontEnd::FlushLog() {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  std::fflush(out_);
}

void ConsoleFrontEnd::ShowMessage(const std::string& text) {
  std::fprintf(err_, "morlak: %s\n", text.c_str());
  std::fflush(err_);
}

}  // namespace morlak
