#include "platform/program_process.h"

#include <spawn.h>

#include <cstring>

extern char** environ;

namespace morlak {

int StartProgram(const std::string& program, const std::vector<std::string>& args,
                 std::string* error) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    if (error) *error = std::strerror(rc);
    return -1;
  }
  return pid;
}

}  // namespace morlak
