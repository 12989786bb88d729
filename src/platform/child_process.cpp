#include "platform/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/socket.h"
#include "platform/text.h"

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

// Runs in the forked child, so only calls that are safe after a fork in a threaded
// process: default signal dispositions, an empty signal mask, a process group of its own,
// no descriptor but the three standard ones, and the program as the subreaper of all it
// starts, so that nothing it starts can leave its tree while it runs. Reports an errno
// on `report` when the program cannot be run.
[[noreturn]] void StartInChild(const char* program, char* const argv[], char* const envp[],
                               int stdinFd, int stdoutFd, int report, int descriptorLimit) {
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  int error = 0;
  if (::setpgid(0, 0) != 0 || ::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || ::dup2(stdinFd, 0) < 0 ||
      ::dup2(stdoutFd, 1) < 0 || ::dup2(stdoutFd, 2) < 0) {
    error = errno;
  } else {
    // The report pipe closes on exec, telling the parent the program runs.
    if (::syscall(SYS_close_range, 3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
      for (int fd = 3; fd < descriptorLimit; ++fd)
        if (fd != report) ::close(fd);
    ::execve(program, argv, envp);
    error = errno;
  }
  while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

// Starts the program; 0 or the errno of the failed start.
int Spawn(const ChildProcessRun& run, int stdinFd, int stdoutFd, pid_t& pid) {
  std::vector<char*> envp;
  if (run.environment) {
    envp.reserve(run.environment->size() + 1);
    for (const std::string& entry : *run.environment)
      envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(run.program.c_str()), nullptr};
  const long limit = ::sysconf(_SC_OPEN_MAX);
  const int descriptorLimit = limit > 0 && limit < 65536 ? static_cast<int>(limit) : 65536;
  Descriptor reportRead, reportWrite;
  MakePipe(reportRead, reportWrite);
  if (const int rc = MoveAboveStandardHandles(reportWrite)) return rc;
  pid = ::fork();
  if (pid < 0) return errno;
  if (pid == 0)
    StartInChild(argv[0], argv, envp.data(), stdinFd, stdoutFd, reportWrite.Get(), descriptorLimit);
  reportWrite.Close();
  int error = 0;
  ssize_t n;
  while ((n = ::read(reportRead.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (n != static_cast<ssize_t>(sizeof error)) return 0;
  WaitForEnd(pid);
  pid = -1;
  return error;
}

// The processes below `root`, read from /proc (parent links).
std::vector<pid_t> Descendants(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> links;  // child, parent
  if (DIR* proc = ::opendir("/proc")) {
    while (const dirent* entry = ::readdir(proc)) {
      int32_t pid = 0;
      if (!TryParseInt(entry->d_name, pid) || pid <= 0) continue;
      const std::optional<std::string> stat =
          ReadWholeFile("/proc/" + std::string(entry->d_name) + "/stat");
      // "pid (name) state ppid ...": the name may hold blanks and parentheses.
      const size_t close = stat ? stat->rfind(')') : std::string::npos;
      int32_t parent = 0;
      if (close == std::string::npos || close + 4 >= stat->size()) continue;
      const std::string_view rest = std::string_view(*stat).substr(close + 4);
      if (TryParseInt(rest.substr(0, rest.find(' ')), parent)) links.emplace_back(pid, parent);
    }
    ::closedir(proc);
  }
  std::vector<pid_t> found;
  std::vector<pid_t> parents = {root};
  while (!parents.empty()) {
    const pid_t parent = parents.back();
    parents.pop_back();
    for (const auto& [child, itsParent] : links)
      if (itsParent == parent) {
        found.push_back(child);
        parents.push_back(child);
      }
  }
  return found;
}

// Kills the program, everything below it and its process group. The program is the
// subreaper of what it started, so while it runs nothing it started can leave its tree,
// not even by a new session; stopped first, none of them can start more or reap a child
// (whose number could then be reused) before the kill.
void KillAll(pid_t program) {
  std::vector<pid_t> stopped;
  if (!HasEnded(program)) {
    ::kill(program, SIGSTOP);
    for (int round = 0; round < 100; ++round) {
      bool more = false;
      for (const pid_t pid : Descendants(program)) {
        if (std::find(stopped.begin(), stopped.end(), pid) != stopped.end()) continue;
        ::kill(pid, SIGSTOP);
        stopped.push_back(pid);
        more = true;
      }
      if (!more) break;
    }
  }
  ::kill(-program, SIGKILL);
  ::kill(program, SIGKILL);
  for (const pid_t pid : stopped) ::kill(pid, SIGKILL);
}

// Reaps the child however the run ends; a run left by an exception (no memory for the
// output) kills the group first, so no process or zombie stays behind.
class StartedChild {
 public:
  explicit StartedChild(pid_t pid) : pid_(pid) {}
  ~StartedChild() {
    if (pid_ <= 0) return;
    KillAll(pid_);
    WaitForEnd(pid_);
  }
  StartedChild(const StartedChild&) = delete;
  StartedChild& operator=(const StartedChild&) = delete;

  pid_t Pid() const { return pid_; }
  void Reap(bool killGroup, ChildProcessResult& result) {
    if (killGroup) KillAll(pid_);
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
