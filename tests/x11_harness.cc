// The X11 test harness: Xvfb, processes, window look-up, screenshots, XTest input.
#include "tests/x11_harness.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace x11test {

namespace {

Display* dpy(void* display) { return static_cast<Display*>(display); }

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool Shot::writePpm(const std::string& path) const {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", area.w, area.h);
  for (const Rgb& p : pixels) {
    const unsigned char bytes[3] = {static_cast<unsigned char>(p.r),
                                    static_cast<unsigned char>(p.g),
                                    static_cast<unsigned char>(p.b)};
    std::fwrite(bytes, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

Process::Process(Process&& other) noexcept : pid_(other.pid_), status_(other.status_) {
  other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = other.pid_;
    status_ = other.status_;
    other.pid_ = -1;
  }
  return *this;
}

Process::~Process() { stop(); }

Process Process::start(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const std::string& cwd,
                       const std::string& outFile, const std::string& errFile) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr) merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [key, value] : env) merged[key] = value;
  std::vector<std::string> envStrings;
  for (const auto& [key, value] : merged) envStrings.push_back(key + "=" + value);
  std::vector<std::string> args = argv;

  // Everything the child needs is prepared before the fork: after it, only
  // async-signal-safe calls are made.
  std::vector<char*> a = cStrings(args);
  std::vector<char*> e = cStrings(envStrings);
  const std::string out = outFile.empty() ? "/dev/null" : outFile;
  const std::string err = errFile.empty() ? "/dev/null" : errFile;
  Process p;
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    const int in = open("/dev/null", O_RDONLY);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || outFd < 0 || errFd < 0) _exit(126);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    setpgid(0, 0);                     // its own group, so that stop() also ends what it started
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // and it ends with the test, even one that crashes
    environ = e.data();
    execvp(a[0], a.data());
    _exit(127);
  }
  p.pid_ = pid;
  return p;
}

bool Process::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return false;
}

void Process::stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  if (!waitUntil([this] { return !running(); }, std::chrono::milliseconds(2000))) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

namespace {

// Errors such as a capture of an area that just changed are reported by the
// call that failed, not by ending the test program.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

XServer::XServer() {
  XSetErrorHandler(ignoreXError);
  int fds[2];
  if (pipe(fds) != 0) return;
  // Xvfb writes the display number it chose to the descriptor given by -displayfd.
  server_ = Process::start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                            "1400x900x24", "-nolisten", "tcp", "-noreset"},
                           {}, "", "", "");
  close(fds[1]);
  char buffer[32] = {0};
  size_t got = 0;
  waitUntil(
      [&] {
        const ssize_t n = read(fds[0], buffer + got, sizeof buffer - 1 - got);
        if (n > 0) got += static_cast<size_t>(n);
        return std::strchr(buffer, '\n') != nullptr || n == 0;
      },
      std::chrono::milliseconds(15000));
  close(fds[0]);
  const int number = std::atoi(buffer);
  if (got == 0) return;
  name_ = ":" + std::to_string(number);
  waitUntil([&] { return (display_ = XOpenDisplay(name_.c_str())) != nullptr; },
            std::chrono::milliseconds(10000));
}

XServer::~XServer() {
  if (display_ != nullptr) XCloseDisplay(dpy(display_));
}

std::string XServer::windowTitle(unsigned long window) {
  char* name = nullptr;
  std::string title;
  if (XFetchName(dpy(display_), window, &name) && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

std::vector<unsigned long> XServer::children(unsigned long window) {
  Window root = 0, parent = 0;
  Window* kids = nullptr;
  unsigned count = 0;
  std::vector<unsigned long> out;
  if (XQueryTree(dpy(display_), window, &root, &parent, &kids, &count)) {
    for (unsigned k = 0; k < count; ++k) out.push_back(kids[k]);
    if (kids != nullptr) XFree(kids);
  }
  return out;
}

unsigned long XServer::findWindow(const std::string& title, std::chrono::milliseconds timeout) {
  unsigned long found = 0;
  waitUntil(
      [&] {
        for (unsigned long w : children(DefaultRootWindow(dpy(display_)))) {
          XWindowAttributes attributes;
          if (windowTitle(w) == title && XGetWindowAttributes(dpy(display_), w, &attributes) &&
              attributes.map_state == IsViewable) {
            found = w;
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

Rect XServer::geometry(unsigned long window) {
  Rect r;
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy(display_), window, &a)) return r;
  Window child = 0;
  XTranslateCoordinates(dpy(display_), window, DefaultRootWindow(dpy(display_)), 0, 0, &r.x, &r.y,
                        &child);
  r.w = a.width;
  r.h = a.height;
  return r;
}

Shot XServer::capture(const Rect& area) {
  // Parts of the area off the screen (a window at -1, -1, say) stay black.
  Shot shot;
  shot.area = area;
  shot.pixels.assign(static_cast<size_t>(std::max(area.w, 0)) * std::max(area.h, 0), Rgb());
  Display* d = dpy(display_);
  const int screenW = DisplayWidth(d, DefaultScreen(d));
  const int screenH = DisplayHeight(d, DefaultScreen(d));
  const int x0 = std::max(area.x, 0), y0 = std::max(area.y, 0);
  const int x1 = std::min(area.x + area.w, screenW), y1 = std::min(area.y + area.h, screenH);
  if (x1 <= x0 || y1 <= y0) return shot;
  XImage* image = XGetImage(d, DefaultRootWindow(d), x0, y0, static_cast<unsigned>(x1 - x0),
                            static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
  if (image == nullptr) return shot;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const unsigned long p = XGetPixel(image, x - x0, y - y0);
      shot.pixels[static_cast<size_t>(y - area.y) * area.w + (x - area.x)] = {
          static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff),
          static_cast<int>(p & 0xff)};
    }
  }
  XDestroyImage(image);
  return shot;
}

Rgb XServer::pixel(int x, int y) { return capture({x, y, 1, 1}).at(0, 0); }

void XServer::moveTo(int x, int y) {
  XTestFakeMotionEvent(dpy(display_), -1, x, y, CurrentTime);
  sync();
}

void XServer::press(int button) {
  XTestFakeButtonEvent(dpy(display_), static_cast<unsigned>(button), True, CurrentTime);
  sync();
}

void XServer::release(int button) {
  XTestFakeButtonEvent(dpy(display_), static_cast<unsigned>(button), False, CurrentTime);
  sync();
}

void XServer::click(int x, int y, int button) {
  moveTo(x, y);
  press(button);
  release(button);
}

void XServer::key(const std::string& keysymName, bool shift, bool control) {
  Display* d = dpy(display_);
  const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysymName.c_str()));
  const KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
  const KeyCode controlCode = XKeysymToKeycode(d, XK_Control_L);
  if (control) XTestFakeKeyEvent(d, controlCode, True, CurrentTime);
  if (shift) XTestFakeKeyEvent(d, shiftCode, True, CurrentTime);
  XTestFakeKeyEvent(d, code, True, CurrentTime);
  XTestFakeKeyEvent(d, code, False, CurrentTime);
  if (shift) XTestFakeKeyEvent(d, shiftCode, False, CurrentTime);
  if (control) XTestFakeKeyEvent(d, controlCode, False, CurrentTime);
  sync();
}

void XServer::closeWindow(unsigned long window) {
  Display* d = dpy(display_);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &event);
  sync();
}

void XServer::sync() { XSync(dpy(display_), False); }

}  // namespace x11test
