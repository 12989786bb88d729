#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "support/process_state.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using Outcome = ChildProcessResult::Outcome;
using test_support::ProcessEnds;
using test_support::TempFolder;

ChildProcessResult RunProgram(const std::string& program, std::string_view input = {},
                              int timeoutMs = 10000, size_t limit = size_t{64} << 20,
                              const std::vector<std::string>& env = {}) {
  ChildProcessRun run;
  run.program = program;
  run.environment = &env;
  run.input = input;
  run.timeoutMs = timeoutMs;
  run.outputLimit = limit;
  return RunChildProcess(run);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ChildProcessTest, InputAndOutputFlowAtOnce) {
  TempFolder folder;
  const std::string big(8 << 20, 'x');
  // Echoes everything: input and output must be pumped together. (A program that never
  // reads its input is run through the server in the CGI tests.)
  const ChildProcessResult echoed =
      RunProgram(folder.WriteProgram("echo", "#!/bin/sh\nexec cat\n"), big);
  EXPECT_EQ(echoed.outcome, Outcome::kFinished);
  EXPECT_TRUE(echoed.output == big);
}

TEST(ChildProcessTest, ProgramThatCannotStartIsReportedWithItsReason) {
  TempFolder folder;
  folder.Write("plain.txt", "echo hi\n");
  const std::string noShebang = folder.WriteProgram("noshebang", "touch " + folder.File("ran"));
  struct Case {
    std::string program;
    int error;
  };
  const Case cases[] = {
      {folder.File("missing"), ENOENT},
      {folder.File("plain.txt"), EACCES},
      // No shell is ever asked to run what the kernel cannot.
      {noShebang, ENOEXEC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const ChildProcessResult result = RunProgram(c.program);
    EXPECT_EQ(result.outcome, Outcome::kNotStarted);
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_FALSE(std::filesystem::exists(folder.File("ran")));
}

TEST(ChildProcessTest, ProgramGetsOnlyItsEnvironmentStandardHandlesAndDefaultSignals) {
  TempFolder folder;
  const ChildProcessResult env =
      RunProgram("/usr/bin/env", {}, 10000, 1 << 20, {"A=1", "B=two words"});
  EXPECT_EQ(env.output, "A=1\nB=two words\n");

  // A descriptor the server left inheritable, a blocked signal and the ignored SIGPIPE
  // must not reach the program.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_EQ(::dup2(leaked, 200), 200);
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old);
  const ChildProcessResult seen = RunProgram(
      folder.WriteProgram("probe",
                          "#!/bin/sh\necho $$\ncut -d' ' -f5 /proc/$$/stat\nls /proc/self/fd\n"
                          "exec grep -E '^Sig(Blk|Ign)' /proc/self/status\n"));
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::close(200);
  ::close(leaked);

  const std::vector<std::string> lines = Lines(seen.output);
  ASSERT_GE(lines.size(), 4u) << seen.output;
  EXPECT_EQ(lines[0], lines[1]) << "own process group";
  const std::string& blocked = lines[lines.size() - 2];
  const std::string& ignored = lines.back();
  EXPECT_EQ(blocked, "SigBlk:\t0000000000000000");
  // Signals 32 and 33 are the C library's own: the spawn keeps them ignored in the child.
  ASSERT_EQ(ignored.substr(0, 8), "SigIgn:\t");
  EXPECT_EQ(std::stoull(ignored.substr(8), nullptr, 16) & ~0x180000000ull, 0u) << ignored;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "200"), 0) << seen.output;
}

TEST(ChildProcessTest, TimeOutKillsTheWholeGroupAndReapsTheProgram) {
  TempFolder folder;
  const std::string pids = folder.File("pids");
  // The program ends at once but leaves a child holding its output open. (A program that
  // hangs itself is run through the server in the CGI tests.)
  const std::string script =
      "#!/bin/sh\necho $$ >" + pids + "\nsleep 30 &\necho $! >>" + pids + "\n";
  const auto start = std::chrono::steady_clock::now();
  const ChildProcessResult result = RunProgram(folder.WriteProgram("slow", script), {}, 500);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(result.outcome, Outcome::kTimedOut);
  const std::vector<std::string> started = Lines(folder.Read("pids"));
  ASSERT_EQ(started.size(), 2u);
  for (const std::string& pid : started) EXPECT_TRUE(ProcessEnds(std::stoi(pid))) << pid;
}

TEST(ChildProcessTest, EndlessOutputIsCutAndALateEndIsAwaited) {
  TempFolder folder;
  const ChildProcessResult flood =
      RunProgram(folder.WriteProgram("flood", "#!/bin/sh\nexec yes\n"), {}, 10000, 1 << 20);
  EXPECT_EQ(flood.outcome, Outcome::kOutputTooLarge);
  EXPECT_EQ(flood.killSignal, SIGKILL);
  EXPECT_LT(flood.output.size(), (1u << 20) + 65536);

  // Output closed early: the run waits for the program's own end.
  const ChildProcessResult late = RunProgram(
      folder.WriteProgram("late", "#!/bin/sh\necho early\nexec >&- 2>&-\nsleep 0.2\nexit 4\n"));
  EXPECT_EQ(late.outcome, Outcome::kFinished);
  EXPECT_EQ(late.exitCode, 4);
  EXPECT_EQ(late.output, "early\n");
}

}  // namespace
}  // namespace morlak
