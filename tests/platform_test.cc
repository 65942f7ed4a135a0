// Tests of the platform layer: the current folder, file dialogs and message
// boxes through the stand-in zenity (tests/fake-zenity) and other small
// stand-ins put first on PATH, the kdialog fallback, hostile file names,
// descriptor and signal hygiene of children, and detached threads.
#include "platform/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/process.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

// A shell script called name in folder, executable.
void writeScript(const fs::path& folder, const std::string& name, const std::string& body) {
  fs::path path = folder / name;
  writeFile(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

// The stand-in zenity's log: one call a line, arguments separated by 0x1F,
// with \\ and \n escapes inside an argument.
std::vector<Args> readLog(const fs::path& path) {
  std::vector<Args> calls;
  std::string text = readFile(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    Args args(1);
    for (size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      if (c == '\x1f') {
        args.emplace_back();
      } else if (c == '\\' && i + 1 < line.size()) {
        char next = line[++i];
        args.back() += next == 'n' ? '\n' : next;
      } else {
        args.back() += c;
      }
    }
    calls.push_back(args);
    start = end + 1;
  }
  return calls;
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = getenv(name);
    hadValue_ = old != nullptr;
    if (hadValue_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (hadValue_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool hadValue_ = false;
  std::string old_;
};

// A temporary folder with bin/ (stand-ins) and tools/ (links to the few
// standard tools the stand-ins use), and PATH set to bin:tools, so that the
// real zenity and kdialog are out of reach.
class PlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nubo-platform-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = fs::canonical(pattern);
    bin_ = root_ / "bin";
    tools_ = root_ / "tools";
    fs::create_directory(bin_);
    fs::create_directory(tools_);
    for (const char* tool : {"sed", "awk", "cat", "sleep"}) {
      std::string found = findProgram(tool);
      ASSERT_FALSE(found.empty()) << tool;
      fs::create_symlink(fs::canonical(found), tools_ / tool);
    }
    path_ = std::make_unique<ScopedEnv>("PATH", bin_.string() + ":" + tools_.string());
    display_ = std::make_unique<ScopedEnv>("DISPLAY", ":99");
    char cwd[4096];
    ASSERT_TRUE(getCurrentDirectory(cwd, sizeof cwd));
    oldCwd_ = cwd;
    ASSERT_TRUE(setCurrentDirectory(root_.c_str()));
  }

  void TearDown() override {
    setCurrentDirectory(oldCwd_.c_str());
    answers_.reset();
    log_.reset();
    path_.reset();
    display_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Puts the stand-in zenity of the repository first on PATH, with its log
  // and answers in the temporary folder.
  void useFakeZenity(const std::string& answers) {
    fs::path fake = fs::path(NUBO_SOURCE_DIR) / "tests" / "fake-zenity";
    path_.reset();  // first: the old one restores PATH when it goes
    path_ = std::make_unique<ScopedEnv>("PATH", fake.string() + ":" + tools_.string());
    log_ = std::make_unique<ScopedEnv>("FAKE_ZENITY_LOG", (root_ / "log").string());
    writeFile(root_ / "answers", answers);
    answers_ = std::make_unique<ScopedEnv>("FAKE_ZENITY_ANSWERS", (root_ / "answers").string());
  }

  std::vector<Args> fakeLog() { return readLog(root_ / "log"); }

  fs::path root_, bin_, tools_;
  std::string oldCwd_;
  std::unique_ptr<ScopedEnv> path_, display_, log_, answers_;
};

const FileFilter kAll = {"All", "*.*"};
const FileFilter kBmp = {"BMP", "*.bmp"};

TEST_F(PlatformTest, CurrentDirectoryRoundTrip) {
  char buffer[256];
  ASSERT_TRUE(getCurrentDirectory(buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), root_.string());
  fs::create_directory(root_ / "sub dir");
  ASSERT_TRUE(setCurrentDirectory("sub dir"));
  ASSERT_TRUE(getCurrentDirectory(buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), (root_ / "sub dir").string());
}

TEST_F(PlatformTest, CurrentDirectoryThatDoesNotFitGivesEmptyBuffer) {
  size_t length = root_.string().size();
  std::vector<char> buffer(length + 1, 'x');
  EXPECT_FALSE(getCurrentDirectory(buffer.data(), length));  // no room for the zero byte
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_TRUE(getCurrentDirectory(buffer.data(), length + 1));
  EXPECT_EQ(std::string(buffer.data()), root_.string());
  EXPECT_FALSE(getCurrentDirectory(buffer.data(), 0));
  EXPECT_FALSE(getCurrentDirectory(nullptr, 10));
}

TEST_F(PlatformTest, SetCurrentDirectoryRefusesWhatIsNoFolder) {
  writeFile(root_ / "file", "x");
  EXPECT_FALSE(setCurrentDirectory("missing"));
  EXPECT_FALSE(setCurrentDirectory("file"));
  EXPECT_FALSE(setCurrentDirectory(""));
  EXPECT_FALSE(setCurrentDirectory(nullptr));
  char buffer[4096];
  ASSERT_TRUE(getCurrentDirectory(buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), root_.string());
}

TEST_F(PlatformTest, OpenDialogAsksZenityForAnyFile) {
  useFakeZenity("/pictures/photo q20.jpg\n");
  std::string path, error;
  ASSERT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kOk) << error;
  EXPECT_EQ(path, "/pictures/photo q20.jpg");
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 1u);
  // "*.*" would hide names without a dot on Linux.
  EXPECT_EQ(log[0], (Args{"--file-selection", "--title=Open", "--file-filter=All | *"}));
}

TEST_F(PlatformTest, SaveDialogOffersBmpAndConfirmsOverwrite) {
  useFakeZenity(root_.string() + "/new name\n");  // a new file: no must-exist rule
  std::string path, error;
  ASSERT_EQ(chooseFileToSave("Save", kBmp, &path, &error), DialogResult::kOk) << error;
  EXPECT_EQ(path, root_.string() + "/new name");
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], (Args{"--file-selection", "--title=Save", "--file-filter=BMP | *.bmp", "--save",
                          "--confirm-overwrite"}));
}

TEST_F(PlatformTest, WindowsPatternListsBecomeZenityPatterns) {
  useFakeZenity("/a\n");
  std::string path, error;
  ASSERT_EQ(chooseFileToOpen("", {"Pictures", "*.jpg;*.png"}, &path, &error), DialogResult::kOk);
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], (Args{"--file-selection", "--file-filter=Pictures | *.jpg *.png"}));
}

TEST_F(PlatformTest, AnswersAreUsedInOrderAndCancelKeepsThePath) {
  useFakeZenity("/first.png\nCANCEL\n/second.bmp");  // last line without a line break
  std::string path, error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kOk);
  EXPECT_EQ(path, "/first.png");
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kCancelled);
  EXPECT_EQ(path, "/first.png");
  EXPECT_EQ(chooseFileToSave("Save", kBmp, &path, &error), DialogResult::kOk);
  EXPECT_EQ(path, "/second.bmp");
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kCancelled);
  EXPECT_EQ(path, "/second.bmp");
  EXPECT_EQ(fakeLog().size(), 4u);
}

TEST_F(PlatformTest, ZenityWithoutDisplayFailsWithOneLine) {
  useFakeZenity("/never.png\n");
  ScopedEnv noDisplay("FAKE_ZENITY_NO_DISPLAY", "1");
  std::string path = "unchanged", error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(error, "zenity cannot open the display :99");
  EXPECT_EQ(path, "unchanged");
}

TEST_F(PlatformTest, CancelWithWarningsOnStandardErrorIsCancel) {
  writeScript(bin_, "zenity",
              "echo '(zenity:1): dconf-WARNING **: failed to commit changes to dconf' >&2\n"
              "echo 'Gtk-Message: GtkDialog mapped without a transient parent.' >&2\nexit 1\n");
  std::string path, error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kCancelled);
}

TEST_F(PlatformTest, HostileFileNamesArriveIntact) {
  const std::string names[] = {
      root_.string() + "/it's a \"test\" $(touch PWNED); `touch PWNED2` & | > x\nsecond line.bmp",
      root_.string() + "/ends in a line break\n",
      "-starts with a dash",
  };
  for (const std::string& name : names) {
    writeFile(root_ / "name", name + "\n");  // zenity ends its answer with one line break
    writeScript(bin_, "zenity", "cat '" + (root_ / "name").string() + "'\n");
    std::string path, error;
    ASSERT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kOk) << error;
    EXPECT_EQ(path, name);
  }
  EXPECT_FALSE(fs::exists(root_ / "PWNED"));
  EXPECT_FALSE(fs::exists(root_ / "PWNED2"));
}

TEST_F(PlatformTest, HostileTitleAndFilterArriveIntact) {
  useFakeZenity("/a\n");
  const std::string title = "$(touch PWNED) \"q\" 'q' ; \\ \n";
  std::string path, error;
  ASSERT_EQ(chooseFileToOpen(title, kAll, &path, &error), DialogResult::kOk);
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 1u);
  ASSERT_EQ(log[0].size(), 3u);
  EXPECT_EQ(log[0][1], "--title=" + title);
  EXPECT_FALSE(fs::exists(root_ / "PWNED"));
}

TEST_F(PlatformTest, OtherFailuresNameTheReason) {
  writeScript(bin_, "zenity",
              "echo '(zenity:1): dconf-WARNING **: failed to commit changes' >&2\n"
              "echo 'something broke' >&2\necho >&2\nexit 255\n");
  std::string path, error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(error, "zenity failed with exit status 255: something broke");

  writeScript(bin_, "zenity", "exit 0\n");  // OK without a name
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(error, "zenity returned no file name");

  writeScript(bin_, "zenity", "kill -KILL $$\n");
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_NE(error.find("zenity was ended by signal 9"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST_F(PlatformTest, KdialogStandsInWhenZenityIsMissing) {
  writeScript(
      bin_, "kdialog",
      "printf '%s\\n' \"$@\" > '" + (root_ / "args").string() + "'\necho /chosen/picture.bmp\n");
  std::string path, error;
  ASSERT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kOk) << error;
  EXPECT_EQ(path, "/chosen/picture.bmp");
  EXPECT_EQ(readFile(root_ / "args"), "--title=Open\n--getopenfilename\n.\nAll (*)\n");
  ASSERT_EQ(chooseFileToSave("Save", kBmp, &path, &error), DialogResult::kOk) << error;
  EXPECT_EQ(readFile(root_ / "args"), "--title=Save\n--getsavefilename\n.\nBMP (*.bmp)\n");
}

TEST_F(PlatformTest, KdialogCancelAndMissingDisplay) {
  writeScript(bin_, "kdialog", "exit 1\n");
  std::string path, error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kCancelled);
  // What kdialog does without a display: a Qt message and an abort.
  writeScript(bin_, "kdialog",
              "echo 'qt.qpa.xcb: could not connect to display :99' >&2\nkill -ABRT $$\n");
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(error, "kdialog cannot open the display :99");
}

TEST_F(PlatformTest, NoDialogProgramAtAll) {
  std::string path = "unchanged", error;
  EXPECT_EQ(chooseFileToOpen("Open", kAll, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(error, "no file dialog program: install zenity or kdialog");
  EXPECT_EQ(chooseFileToSave("Save", kBmp, &path, &error), DialogResult::kFailed);
  EXPECT_EQ(path, "unchanged");
}

TEST_F(PlatformTest, ChildInheritsNoDescriptorsAndDefaultSignals) {
  // Descriptors opened without O_CLOEXEC, as a careless library would.
  int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  ASSERT_EQ(dup2(stray, 9), 9);
  ASSERT_EQ(dup2(stray, 57), 57);
  void (*oldPipe)(int) = signal(SIGPIPE, SIG_IGN);
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old);
  writeScript(bin_, "zenity",
              "for fd in 9 57; do [ -e /proc/$$/fd/$fd ] && echo \"/leaked $fd\" && exit 0; done\n"
              "while read -r key value; do\n"
              "  case $key in SigIgn:) ignored=$value ;; SigBlk:) blocked=$value ;; esac\n"
              "done < /proc/$$/status\n"
              "echo \"/ignored $ignored blocked $blocked\"\n");
  std::string path, error;
  DialogResult result = chooseFileToOpen("Open", kAll, &path, &error);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  signal(SIGPIPE, oldPipe);
  close(9);
  close(57);
  close(stray);
  ASSERT_EQ(result, DialogResult::kOk) << error;
  unsigned long long ignored = 0, blocked = 0;
  ASSERT_EQ(sscanf(path.c_str(), "/ignored %llx blocked %llx", &ignored, &blocked), 2) << path;
  // Signals 1 to 31 (bits 0 to 30); the C library keeps 32 and 33 for itself.
  EXPECT_EQ(ignored & 0x7fffffffull, 0u) << path;
  EXPECT_EQ(blocked & 0x7fffffffull, 0u) << path;
}

// Child processes of ours that have ended but were not reaped.
int countZombieChildren() {
  int zombies = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;  // not a process
    std::string stat = readFile(entry.path() / "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && state == 'Z' &&
        parent == getpid()) {
      ++zombies;
    }
  }
  return zombies;
}

TEST_F(PlatformTest, EveryChildIsReaped) {
  useFakeZenity("/a\nCANCEL\n");
  std::string path, error;
  chooseFileToOpen("Open", kAll, &path, &error);
  chooseFileToOpen("Open", kAll, &path, &error);
  chooseFileToOpen("Open", kAll, &path, &error);
  showMessageBox("text", "caption", MessageIcon::kNone);
  EXPECT_EQ(countZombieChildren(), 0);
}

TEST_F(PlatformTest, MessageBoxShowsTextLiterally) {
  useFakeZenity("");
  const std::string text = "Keyboard <b>Control</b> & \"quotes\"\n Zoom in    : PageUp / \"a\"";
  showMessageBox(text, "Nubo 1.3", MessageIcon::kInformation);
  showMessageBox("About", "Nubo 1.3", MessageIcon::kNone);
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], (Args{"--info", "--no-markup", "--title=Nubo 1.3", "--text=" + text}));
  EXPECT_EQ(log[1],
            (Args{"--info", "--no-markup", "--title=Nubo 1.3", "--text=About", "--icon-name="}));
}

TEST_F(PlatformTest, KdialogMessageBoxEscapesMarkup) {
  writeScript(bin_, "kdialog", "printf '%s\\n' \"$@\" > '" + (root_ / "args").string() + "'\n");
  showMessageBox("a <b> & \"c\"\n  x", "Cap", MessageIcon::kInformation);
  EXPECT_EQ(readFile(root_ / "args"),
            "--title=Cap\n--msgbox=<qt>a &lt;b&gt; &amp; &quot;c&quot;<br>&nbsp;&nbsp;x</qt>\n");
}

TEST_F(PlatformTest, QuestionsAnswerYesOrNoAndErrorBoxesSayError) {
  useFakeZenity("");
  writeFile(root_ / "replies", "no\nyes\n");
  ScopedEnv replies("FAKE_ZENITY_REPLIES", (root_ / "replies").string());
  std::string error;
  EXPECT_EQ(askQuestion("Replace a.bmp?", "Nubo 1.3", &error), Answer::kNo);
  EXPECT_EQ(askQuestion("Replace a.bmp?", "Nubo 1.3", &error), Answer::kYes);
  showMessageBox("The file cannot be opened!\nx.jpg", "Nubo 1.3", MessageIcon::kError);
  std::vector<Args> log = fakeLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0],
            (Args{"--question", "--no-markup", "--title=Nubo 1.3", "--text=Replace a.bmp?"}));
  EXPECT_EQ(log[2], (Args{"--error", "--no-markup", "--title=Nubo 1.3",
                          "--text=The file cannot be opened!\nx.jpg"}));
  // Without a display the question fails and says why; it is never taken for an answer.
  ScopedEnv noDisplay("FAKE_ZENITY_NO_DISPLAY", "1");
  EXPECT_EQ(askQuestion("Quit?", "Nubo 1.3", &error), Answer::kFailed);
  EXPECT_EQ(error, "zenity cannot open the display :99");
}

TEST_F(PlatformTest, KdialogAsksWithWarningYesNo) {
  writeScript(bin_, "kdialog",
              "printf '%s\\n' \"$@\" > '" + (root_ / "args").string() + "'\nexit 1\n");
  std::string error;
  EXPECT_EQ(askQuestion("Quit <now>?", "Cap", &error), Answer::kNo);
  EXPECT_EQ(readFile(root_ / "args"), "--title=Cap\n--warningyesno=<qt>Quit &lt;now&gt;?</qt>\n");
  showMessageBox("bad", "Cap", MessageIcon::kError);
  EXPECT_EQ(readFile(root_ / "args"), "--title=Cap\n--error=<qt>bad</qt>\n");
}

TEST_F(PlatformTest, QuestionWithoutProgramFails) {
  std::string error;
  EXPECT_EQ(askQuestion("Quit?", "Nubo 1.3", &error), Answer::kFailed);
  EXPECT_EQ(error, "no message box program: install zenity or kdialog");
}

TEST_F(PlatformTest, MessageBoxWithoutProgramGoesToStandardError) {
  testing::internal::CaptureStderr();
  showMessageBox("The file cannot be opened!", "Nubo 1.3", MessageIcon::kNone);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Nubo 1.3: The file cannot be opened!\n"
            "(no message box: no message box program: install zenity or kdialog)\n");
}

TEST_F(PlatformTest, MessageBoxWithoutDisplayGoesToStandardError) {
  useFakeZenity("");
  ScopedEnv noDisplay("FAKE_ZENITY_NO_DISPLAY", "1");
  testing::internal::CaptureStderr();
  showMessageBox("Hello", "Nubo 1.3", MessageIcon::kInformation);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Nubo 1.3: Hello\n(no message box: zenity cannot open the display :99)\n");
}

bool processGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

std::vector<pid_t> readPids(const fs::path& path) {
  std::vector<pid_t> pids;
  std::ifstream in(path);
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

TEST_F(PlatformTest, AsyncMessageBoxesReturnAtOnceAndStayOpenTogether) {
  useFakeZenity("");
  ScopedEnv hold("FAKE_ZENITY_HOLD", "1");
  ScopedEnv pidFile("FAKE_ZENITY_PIDS", (root_ / "pids").string());
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(showMessageBoxAsync("help", "Nubo 1.3", MessageIcon::kInformation));
  EXPECT_TRUE(showMessageBoxAsync("help", "Nubo 1.3", MessageIcon::kInformation));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // Both boxes open at once (10 s is far beyond what starting two shells takes).
  std::vector<pid_t> pids;
  for (int i = 0; i < 200 && pids.size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pids = readPids(root_ / "pids");
  }
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_EQ(fakeLog().size(), 2u);
  for (pid_t pid : pids) EXPECT_FALSE(processGone(pid));

  // Closing them ends the boxes; their threads reap them (a zombie would
  // still answer kill(pid, 0)).
  for (pid_t pid : pids) kill(pid, SIGTERM);
  for (int i = 0; i < 200 && !(processGone(pids[0]) && processGone(pids[1])); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(processGone(pids[0]));
  EXPECT_TRUE(processGone(pids[1]));
}

TEST(PlatformThread, DetachedThreadRunsItsBody) {
  std::promise<std::thread::id> ran;
  std::future<std::thread::id> done = ran.get_future();
  ASSERT_TRUE(startDetachedThread([&ran] { ran.set_value(std::this_thread::get_id()); }));
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_NE(done.get(), std::this_thread::get_id());
}

// With address space for little more than what is mapped now, a thread's
// stack (8 MiB by default) cannot be mapped: exits 0 when startDetachedThread
// says so.
void startThreadWithoutAddressSpace() {
  long pages = 0;
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(2);
  fclose(statm);
  rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (1 << 20);
  rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
  _exit(startDetachedThread([] {}) ? 1 : 0);
}

TEST(PlatformThread, NoThreadGivesFalse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(startThreadWithoutAddressSpace(), testing::ExitedWithCode(0), "");
}

// Shows a message box that falls back to standard error when nobody reads
// standard error any more: exits 0 unless SIGPIPE kills it.
void showMessageBoxIntoClosedPipe() {
  signal(SIGPIPE, SIG_DFL);  // as a program starts, whatever other tests did
  int fds[2];
  if (pipe(fds) != 0) _exit(2);
  close(fds[0]);  // nobody reads: a write gives SIGPIPE unless it is ignored
  dup2(fds[1], 2);
  setenv("PATH", "/nonexistent", 1);
  showMessageBox("text", "caption", MessageIcon::kNone);
  _exit(0);
}

TEST(PlatformSignals, ClosedStandardErrorDoesNotKill) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(showMessageBoxIntoClosedPipe(), testing::ExitedWithCode(0), "");
}

TEST(Process, FindProgramSkipsWhatCannotRun) {
  char pattern[] = "/tmp/nubo-find-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  fs::path root = pattern;
  fs::create_directories(root / "a" / "tool");  // a folder of that name
  fs::create_directory(root / "b");
  writeFile(root / "b" / "tool", "not executable");
  fs::create_directory(root / "c");
  writeScript(root / "c", "tool", "exit 0\n");
  {
    ScopedEnv path(
        "PATH", (root / "a").string() + "::" + (root / "b").string() + ":" + (root / "c").string());
    EXPECT_EQ(findProgram("tool"), (root / "c" / "tool").string());
    EXPECT_EQ(findProgram("missing"), "");
    EXPECT_EQ(findProgram(""), "");
    EXPECT_EQ(findProgram("c/tool"), "");
  }
  fs::remove_all(root);
}

TEST(Process, ReportsExitStatusSignalAndOutput) {
  ProcessResult r = runProgram("/bin/sh", {"sh", "-c", "echo out; echo err >&2; exit 7"});
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitStatus, 7);
  EXPECT_EQ(r.standardOutput, "out\n");
  EXPECT_EQ(r.standardError, "err\n");
  r = runProgram("/bin/sh", {"sh", "-c", "kill -TERM $$"});
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.signal, SIGTERM);
  r = runProgram("/nonexistent/program", {"program"});
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.startError.find("/nonexistent/program"), std::string::npos);
  EXPECT_FALSE(runProgram("/bin/sh", {}).started);
}

TEST(Process, ChattyProgramIsCappedAndDoesNotBlock) {
  // About 1 MB on each stream, far beyond a pipe's buffer, interleaved.
  ProcessResult r = runProgram(
      "/bin/sh", {"sh", "-c",
                  "line=0123456789012345678901234567890123456789012345678901234567890123456789;"
                  "i=0; while [ $i -lt 15000 ]; do echo $line; echo $line >&2; i=$((i+1)); done"});
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.standardOutput.size(), kMaxCapturedBytes);
  EXPECT_EQ(r.standardError.size(), kMaxCapturedBytes);
}

TEST(Process, OutputFileTakesBothStreamsInOrderAndReplacesItsContents) {
  const fs::path root =
      fs::temp_directory_path() / ("nubo_process_log_" + std::to_string(getpid()));
  fs::create_directories(root);
  const std::string log = (root / "run.log").string();
  {
    std::ofstream old(log);
    old << "an older and much longer run's output, to be replaced entirely\n";
  }
  RunOptions options;
  options.outputFile = log;
  ProcessResult r =
      runProgram("/bin/sh", {"sh", "-c", "echo one; echo two >&2; echo three; exit 3"}, options);
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(readFile(log), "one\ntwo\nthree\n");
  EXPECT_TRUE(r.standardOutput.empty());
  EXPECT_TRUE(r.standardError.empty());
  EXPECT_EQ(fs::status(log).permissions() & fs::perms::others_write, fs::perms::none);

  // A log that cannot be created: the program never runs.
  const fs::path marker = root / "ran";
  options.outputFile = (root / "missing" / "run.log").string();
  r = runProgram("/bin/sh", {"sh", "-c", "touch \"$0\"", marker.string()}, options);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.startErrno, ENOENT);
  EXPECT_NE(r.startError.find(options.outputFile), std::string::npos);
  EXPECT_FALSE(fs::exists(marker));
  // A program that cannot start reports why, with the log already made.
  options.outputFile = log;
  r = runProgram("/nonexistent/program", {"program"}, options);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.startErrno, ENOENT);
  fs::remove_all(root);
}

TEST(Process, StandardInputIsEmpty) {
  ProcessResult r = runProgram("/bin/sh", {"sh", "-c", "read -r line; echo \"status $?\""});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.standardOutput, "status 1\n");  // end of file at once
}

}  // namespace
}  // namespace platform
