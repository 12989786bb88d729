// Runs an external program for one request: started directly (never through a shell),
// in a process group of its own and as the subreaper of all it starts, with standard
// input and output on pipes, and waited for with a time limit. The caller's thread pumps input and output without blocking, so a
// program that never reads its input cannot stall against a full output pipe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morlak {

struct ChildProcessRun {
  std::string program;  // path of the program; it gets no arguments
  // "NAME=value" entries: the program's whole environment.
  const std::vector<std::string>* environment = nullptr;
  std::string_view input;  // written to standard input, which is then closed
  int timeoutMs = 5000;    // for the program to end and its output to be drained
  size_t outputLimit = size_t{64} << 20;
};

struct ChildProcessResult {
  enum class Outcome {
    kFinished,        // ended and its output was read to the end
    kPipesNotReady,   // the pipes could not be set up for the program; `error` says why
    kNotStarted,      // `error` holds the reason
    kTimedOut,        // killed with its descendants and its process group
    kOutputTooLarge,  // more than outputLimit bytes; killed as for kTimedOut
  };
  Outcome outcome = Outcome::kNotStarted;
  int error = 0;       // errno of a failed set-up or start
  int exitCode = -1;   // when it exited by itself
  int killSignal = 0;  // the signal that ended it (its own crash, or ours)
  std::string output;  // standard output and standard error as written
};

// Throws std::system_error when the pipes cannot be made. In every outcome the child has
// been reaped and every descriptor of the run is closed.
ChildProcessResult RunChildProcess(const ChildProcessRun& run);

}  // namespace morlak
