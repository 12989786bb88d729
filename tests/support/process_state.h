// Whether a process still runs and how many threads this one has, for tests that check
// that nothing is left behind.
#pragma once

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace morlak::test_support {

// False when the process is gone or a zombie (dead, waiting only to be reaped).
inline bool ProcessRuns(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// A killed process disappears shortly after the signal; waits for that, at most 10 s.
inline bool ProcessEnds(int pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ProcessRuns(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The threads of this process.
inline size_t ThreadCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

}  // namespace morlak::test_support
