// Running a helper program (a dialog, the cleaner) without a shell: the program
// is found on PATH, started with an argument vector, its standard output and
// standard error are read through pipes or written to a log file, and it is
// always reaped. Used by the Linux platform layer and by nubo-eval; kept apart
// so that it can be tested on its own.
#ifndef PLATFORM_PROCESS_H_
#define PLATFORM_PROCESS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// Each stream of a child is kept up to this many bytes; the rest is read and
// dropped, so that a chatty program can neither block on a full pipe nor fill
// our memory. 64 KiB holds any path and the opening lines of any warning.
constexpr size_t kMaxCapturedBytes = 64 * 1024;

// How a child ended.
struct ProcessResult {
  bool started = false;  // false: the program could not be started (startError says why)
  bool exited = false;   // true: it exited with exitStatus; false: a signal ended it
  int exitStatus = -1;
  int signal = 0;              // the signal that ended it when !exited
  std::string standardOutput;  // at most kMaxCapturedBytes
  std::string standardError;   // at most kMaxCapturedBytes
  std::string startError;      // one line, when !started
  int startErrno = 0;          // the system's error number behind startError (0: none)
};

// Where a child's output goes.
struct RunOptions {
  // Empty: standard output and standard error are each captured into the
  // result. Otherwise both go to this file, created or emptied (mode 0644
  // before the umask), in the order the child writes them; nothing is captured.
  std::string outputFile;
};

// The full path of the first executable regular file called name in the
// folders of $PATH (an empty entry means the current folder); empty when there
// is none. name must not contain '/'.
std::string findProgram(const std::string& name);

// Starts program (a full path) with argv (argv[0] included), standard input
// from /dev/null and no descriptor above 2 inherited; the child gets the
// default signal dispositions and an empty signal mask. Waits until it ends,
// collecting both output streams (or sending them to options.outputFile; a
// file that cannot be created means the program is not started), and reaps
// it. Never throws.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& argv,
                         const RunOptions& options = {});

// Makes sure a write to a closed pipe or socket gives EPIPE instead of killing
// the process (SIGPIPE is ignored unless the program already handles it).
void ignoreSigpipe();

}  // namespace platform

#endif  // PLATFORM_PROCESS_H_
