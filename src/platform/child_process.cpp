#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "platform/socket.h"

namespace morlak {

namespace {

using Clock = std::chrono::steady_clock;

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return fd_; }
  bool Open() const { return fd_ >= 0; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Throws when the system has no pipe to give.
void MakePipe(Descriptor& readEnd, Descriptor& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
}

// Both ends close on exec and must lie above the standard handles, so the child's dup2
// onto 0, 1 and 2 never overwrites an end it still has to copy. 0 or an errno.
int MoveAboveStandardHandles(Descriptor& end) {
  if (end.Get() > 2) return 0;
  const int moved = ::fcntl(end.Get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return errno;
  end.Reset(moved);
  return 0;
}

void SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Starts the program with default signal dispositions (the C library keeps its two
// internal signals ignored), an empty signal mask, its own process group and no
// descriptor but the three standard ones. Returns 0 or an errno.
int Spawn(const ChildProcessRun& run, int stdinFd, int stdoutFd, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
  if (int rc = posix_spawnattr_init(&attr)) {
    posix_spawn_file_actions_destroy(&actions);
    return rc;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  int rc = posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  if (!rc) rc = posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  if (!rc) rc = posix_spawn_file_actions_adddup2(&actions, stdoutFd, 2);
  if (!rc) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (!rc)
    rc = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (!rc) rc = posix_spawnattr_setpgroup(&attr, 0);
  if (!rc) rc = posix_spawnattr_setsigdefault(&attr, &all);
  if (!rc) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (!rc) {
    std::vector<char*> envp;
    if (run.environment) {
      envp.reserve(run.environment->size() + 1);
      for (const std::string& entry : *run.environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(run.program.c_str()), nullptr};
    rc = posix_spawn(&pid, run.program.c_str(), &actions, &attr, argv, envp.data());
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

// True once the child has ended; it stays unreaped (a zombie keeps its process group id
// reserved, so the group can still be killed safely).
bool HasEnded(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

int WaitForEnd(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Reaps the child however the run ends; a run left by an exception (no memory for the
// output) kills the group first, so no process or zombie stays behind.
class StartedChild {
 public:
  explicit StartedChild(pid_t pid) : pid_(pid) {}
  ~StartedChild() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    WaitForEnd(pid_);
  }
  StartedChild(const StartedChild&) = delete;
  StartedChild& operator=(const StartedChild&) = delete;

  pid_t Pid() const { return pid_; }
  void Reap(bool killGroup, ChildProcessResult& result) {
    if (killGroup) ::kill(-pid_, SIGKILL);
    const int status = WaitForEnd(pid_);
    pid_ = -1;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.killSignal = WTERMSIG(status);
  }

 private:
  pid_t pid_;
};

// Moves pending output into `output`, stopping early once it holds more than `limit`
// bytes; false once the pipe has reached its end.
bool DrainOutput(int fd, std::string& output, size_t limit) {
  char buffer[16384];
  while (output.size() <= limit) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof buffer) return true;
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN;
  }
  return true;
}

}  // namespace

ChildProcessResult RunChildProcess(const ChildProcessRun& run) {
  IgnoreBrokenPipe();
  ChildProcessResult result;
  Descriptor inRead, inWrite, outRead, outWrite;
  MakePipe(inRead, inWrite);
  MakePipe(outRead, outWrite);
  for (Descriptor* end : {&inRead, &inWrite, &outRead, &outWrite}) {
    if (const int rc = MoveAboveStandardHandles(*end)) {
      result.outcome = ChildProcessResult::Outcome::kPipesNotReady;
      result.error = rc;
      return result;
    }
  }

  pid_t pid = -1;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(run.timeoutMs);
  if (const int rc = Spawn(run, inRead.Get(), outWrite.Get(), pid)) {
    result.error = rc;
    return result;
  }
  StartedChild child(pid);
  // The parent keeps only its own ends, so the output pipe ends when the program's side
  // (and that of anything it started) is closed.
  inRead.Close();
  outWrite.Close();
  SetNonBlocking(inWrite.Get());
  SetNonBlocking(outRead.Get());
  size_t written = 0;
  if (run.input.empty()) inWrite.Close();
  // The end of the program matters once its output has ended; an exit descriptor is only
  // opened when the program outlives its output.
  Descriptor exitWatch;
  bool watchTried = false;
  bool ended = false;
  result.outcome = ChildProcessResult::Outcome::kFinished;
  while (!ended || outRead.Open()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      result.outcome = ChildProcessResult::Outcome::kTimedOut;
      break;
    }
    if (!outRead.Open() && !ended) {
      if (HasEnded(pid)) {
        ended = true;
        continue;
      }
      if (!watchTried) exitWatch.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
      watchTried = true;
    }
    pollfd fds[3];
    nfds_t count = 0;
    if (outRead.Open()) fds[count++] = {outRead.Get(), POLLIN, 0};
    if (inWrite.Open()) fds[count++] = {inWrite.Get(), POLLOUT, 0};
    const bool watchExit = !outRead.Open() && exitWatch.Open();
    if (watchExit) fds[count++] = {exitWatch.Get(), POLLIN, 0};
    // Without an exit descriptor (an old kernel) the end is looked for every 10 ms.
    const bool lookAgain = !outRead.Open() && !exitWatch.Open();
    const int wait = static_cast<int>(lookAgain ? std::min<int64_t>(left, 10) : left);
    const int ready = ::poll(fds, count, wait);
    if (ready < 0 && errno != EINTR) {
      result.outcome = ChildProcessResult::Outcome::kTimedOut;
      break;
    }
    for (nfds_t i = 0; ready > 0 && i < count; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == outRead.Get()) {
        if (!DrainOutput(outRead.Get(), result.output, run.outputLimit)) outRead.Close();
      } else if (fds[i].fd == inWrite.Get()) {
        const ssize_t n =
            ::write(inWrite.Get(), run.input.data() + written, run.input.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        // A program that closed its input gets no more of it.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == run.input.size())
          inWrite.Close();
      }
    }
    if (result.output.size() > run.outputLimit) {
      result.outcome = ChildProcessResult::Outcome::kOutputTooLarge;
      break;
    }
    if (watchExit && fds[count - 1].revents != 0) ended = true;
  }
  // Killed before its pipes close, so the program ends by our signal and not by a broken pipe.
  child.Reap(result.outcome != ChildProcessResult::Outcome::kFinished, result);
  return result;
}

}  // namespace morlak
