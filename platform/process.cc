// Running a helper program without a shell (posix_spawn, pipes or a log file,
// poll, waitpid).
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern char** environ;

namespace platform {
namespace {

// Closes fd unless it is already closed (-1) and marks it closed.
void closeDescriptor(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

// Appends what can be read from *fd to *sink (up to the cap); closes *fd at
// end of file or on an error other than an interruption.
void drain(int* fd, std::string* sink) {
  char buffer[4096];
  ssize_t n = read(*fd, buffer, sizeof buffer);
  if (n > 0) {
    size_t room = kMaxCapturedBytes - std::min(kMaxCapturedBytes, sink->size());
    sink->append(buffer, std::min(room, static_cast<size_t>(n)));
    return;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  closeDescriptor(fd);
}

// Reads both pipes until the child has closed them.
void collect(int* outFd, int* errFd, ProcessResult* result) {
  while (*outFd >= 0 || *errFd >= 0) {
    pollfd fds[2] = {{*outFd, POLLIN, 0}, {*errFd, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;  // cannot wait on the pipes: give up reading, still reap below
    }
    if (fds[0].fd >= 0 && fds[0].revents != 0) drain(outFd, &result->standardOutput);
    if (fds[1].fd >= 0 && fds[1].revents != 0) drain(errFd, &result->standardError);
  }
  closeDescriptor(outFd);
  closeDescriptor(errFd);
}

// Waits for pid to end and records how it ended.
void reap(pid_t pid, ProcessResult* result) {
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got != pid) return;  // SIGCHLD ignored elsewhere: the kernel reaped it, status unknown
  if (WIFEXITED(status)) {
    result->exited = true;
    result->exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result->signal = WTERMSIG(status);
  }
}

std::string describeErrno(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

std::string findProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return "";
  const char* env = std::getenv("PATH");
  std::string path = env != nullptr ? env : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string folder = path.substr(start, end - start);
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/" + name;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

void ignoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0) {
      signal(SIGPIPE, SIG_IGN);
    }
  });
}

ProcessResult runProgram(const std::string& program, const std::vector<std::string>& argv,
                         const RunOptions& options) {
  ProcessResult result;
  ignoreSigpipe();
  if (argv.empty()) {
    result.startError = "no argument vector";
    return result;
  }
  const bool toFile = !options.outputFile.empty();
  // O_CLOEXEC from the start: a child that another thread starts meanwhile
  // must not inherit our pipe ends or log file (it would keep them open for
  // its lifetime).
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  int logFd = -1;
  if (toFile) {
    do {
      logFd = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (logFd < 0 && errno == EINTR);
    if (logFd < 0) {
      result.startErrno = errno;
      result.startError = describeErrno(("cannot create " + options.outputFile).c_str(), errno);
      return result;
    }
  } else if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    result.startErrno = errno;
    result.startError = describeErrno("cannot create a pipe", errno);
    for (int* fd : {&outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1]}) closeDescriptor(fd);
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, toFile ? logFd : outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, toFile ? logFd : errPipe[1], 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors that other code opened without O_CLOEXEC stay with us.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  posix_spawnattr_setsigmask(&attributes, &noSignals);
  sigset_t allSignals;  // ignored signals (SIGPIPE above all) go back to their defaults
  sigfillset(&allSignals);
  sigdelset(&allSignals, SIGKILL);
  sigdelset(&allSignals, SIGSTOP);
  posix_spawnattr_setsigdefault(&attributes, &allSignals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  closeDescriptor(&outPipe[1]);
  closeDescriptor(&errPipe[1]);
  closeDescriptor(&logFd);
  if (error != 0) {
    closeDescriptor(&outPipe[0]);
    closeDescriptor(&errPipe[0]);
    result.startErrno = error;
    result.startError = describeErrno(("cannot start " + program).c_str(), error);
    return result;
  }
  result.started = true;
  if (!toFile) collect(&outPipe[0], &errPipe[0], &result);
  reap(pid, &result);
  return result;
}

}  // namespace platform
