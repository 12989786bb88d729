#include "cli/console_front_end.h"

#include "platform/datetime.h"

namespace morlak {

void ConsoleFrontEnd::Synchronize(const std::function<void()>& work) {
  std::lock_guard<std::recursive_mutex> lock(mainThread_);
  work();
}

void ConsoleFrontEnd::AddLog(const std::string& text) {
  const TDateTime now = Now();
  std::string line = FormatShortDate(now);
  line += ' ';
  line += FormatLongTime(now);
  line += ' ';
  line += text;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

void ConsoleFrontEnd::ShowMessage(const std::string& text) {
  std::fprintf(err_, "morlak: %s\n", text.c_str());
  std::fflush(err_);
}

}  // namespace morlak
