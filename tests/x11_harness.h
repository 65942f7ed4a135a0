// A small harness for end-to-end tests of a desktop program: a private Xvfb
// server, programs started in it, windows found by name, screenshots read
// back pixel by pixel, and pointer and key input through XTest. Every wait is
// a condition polled against a time limit.
#ifndef NUBO_TESTS_X11_HARNESS_H_
#define NUBO_TESTS_X11_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace x11test {

// Polls condition every 20 ms until it holds or timeout passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;  // root-window pixels, y downwards
};

struct Rgb {
  int r = 0, g = 0, b = 0;
};
inline bool operator==(const Rgb& a, const Rgb& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}
inline bool operator!=(const Rgb& a, const Rgb& b) { return !(a == b); }

// A captured area of the screen.
struct Shot {
  Rect area;
  std::vector<Rgb> pixels;  // area.w x area.h, rows from the top
  Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y) * area.w + x]; }
  // Writes the shot as a binary PPM (for looking at a failure).
  bool writePpm(const std::string& path) const;
};

// A child process; killed (SIGTERM, then SIGKILL) and reaped when destroyed.
class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts argv[0] (searched on PATH of env) with env added to the current
  // environment, in folder cwd (empty: the current one), with standard output
  // and error appended to the given files (empty: /dev/null).
  static Process start(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const std::string& cwd,
                       const std::string& outFile, const std::string& errFile);

  bool running();  // false once it has exited (and then reaps it)
  int exitStatus() const { return status_; }
  pid_t pid() const { return pid_; }
  void stop();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// A private X server for one test; the display closes and the server stops at destruction.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return display_ != nullptr; }
  const std::string& name() const { return name_; }  // for DISPLAY, e.g. ":3"

  // The top-level window whose title is title, or 0 after the timeout.
  unsigned long findWindow(const std::string& title, std::chrono::milliseconds timeout);
  std::string windowTitle(unsigned long window);
  Rect geometry(unsigned long window);                        // in root coordinates
  std::vector<unsigned long> children(unsigned long window);  // bottom to top

  Shot capture(const Rect& area);
  Rgb pixel(int x, int y);

  void moveTo(int x, int y);
  void click(int x, int y, int button = 1);
  void press(int button);
  void release(int button);
  // Types one key: keysym name as X knows it ("a", "Page_Up", "Left", "Return").
  void key(const std::string& keysymName, bool shift = false, bool control = false);
  // Asks window to close, as a window manager's close button does (WM_DELETE_WINDOW).
  void closeWindow(unsigned long window);
  void sync();

 private:
  void* display_ = nullptr;  // Display*
  std::string name_;
  Process server_;
};

}  // namespace x11test

#endif  // NUBO_TESTS_X11_HARNESS_H_
