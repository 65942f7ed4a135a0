// The platform layer for Linux: getcwd/chdir, file dialogs and message boxes
// through zenity (else kdialog) started without a shell, std::thread for
// detached threads.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/process.h"

namespace platform {
namespace {

constexpr char kNoDialogProgram[] = "no file dialog program: install zenity or kdialog";
constexpr char kNoMessageProgram[] = "no message box program: install zenity or kdialog";

// Longest piece of a dialog program's error output quoted in a reason; enough
// for one warning, short enough for a status line.
constexpr size_t kMaxQuotedBytes = 160;

struct DialogProgram {
  std::string name;  // "zenity" or "kdialog"
  std::string path;  // full path found on PATH
};

// zenity when it is installed, else kdialog; false when neither is.
bool findDialogProgram(DialogProgram* program) {
  for (const char* name : {"zenity", "kdialog"}) {
    std::string path = findProgram(name);
    if (!path.empty()) {
      *program = {name, path};
      return true;
    }
  }
  return false;
}

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// True when the program's error output says it could not reach the display
// (GTK: "cannot open display", Qt: "could not connect to display").
bool cannotOpenDisplay(const ProcessResult& result) {
  std::string err = lowerCase(result.standardError);
  return err.find("cannot open display") != std::string::npos ||
         err.find("could not connect to display") != std::string::npos ||
         err.find("failed to open display") != std::string::npos;
}

std::string displayName() {
  const char* x11 = std::getenv("DISPLAY");
  if (x11 != nullptr && *x11 != '\0') return x11;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland != nullptr && *wayland != '\0') return wayland;
  return "(DISPLAY is not set)";
}

// The last non-blank line of text (a program's own complaint comes after
// the library warnings), trimmed and shortened to one short line.
std::string lastLine(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    size_t start = text.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = text.substr(start, end - start);
    size_t first = line.find_first_not_of(" \t\r\n");
    if (first != std::string::npos) {
      line = line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
      if (line.size() > kMaxQuotedBytes) line = line.substr(0, kMaxQuotedBytes) + "...";
      return line;
    }
    end = start == 0 ? 0 : start - 1;
  }
  return "";
}

// One line saying why the dialog program did not give an answer.
std::string failureReason(const DialogProgram& program, const ProcessResult& result) {
  if (!result.started) return result.startError;
  if (cannotOpenDisplay(result)) return program.name + " cannot open the display " + displayName();
  std::string detail = lastLine(result.standardError);
  std::string reason;
  if (result.exited) {
    reason = program.name + " failed with exit status " + std::to_string(result.exitStatus);
  } else if (result.signal != 0) {
    const char* name = strsignal(result.signal);
    reason = program.name + " was ended by signal " + std::to_string(result.signal) +
             (name != nullptr ? std::string(" (") + name + ")" : std::string());
  } else {
    reason = program.name + " ended, but its exit status is unknown";
  }
  return detail.empty() ? reason : reason + ": " + detail;
}

// The filter's patterns as a list: ';' or spaces separate them (as in a
// Windows filter), and "*.*" becomes "*", because on Linux "*.*" matches only
// names that contain a dot.
std::vector<std::string> patternsOf(const FileFilter& filter) {
  std::vector<std::string> patterns;
  std::string current;
  auto flush = [&] {
    if (!current.empty()) patterns.push_back(current == "*.*" ? "*" : current);
    current.clear();
  };
  for (char c : filter.pattern) {
    if (c == ';' || c == ' ' || c == '\t') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  if (patterns.empty()) patterns.push_back("*");
  return patterns;
}

std::string joinPatterns(const std::vector<std::string>& patterns) {
  std::string joined;
  for (const std::string& pattern : patterns) {
    if (!joined.empty()) joined += ' ';
    joined += pattern;
  }
  return joined;
}

// The filter's description with the characters that the dialog programs use
// as separators replaced; the patterns themselves when there is none.
std::string filterName(const FileFilter& filter, const std::vector<std::string>& patterns) {
  std::string name = filter.description.empty() ? joinPatterns(patterns) : filter.description;
  for (char& c : name) {
    if (c == '|' || c == '(' || c == ')' || c == '\n') c = ' ';
  }
  return name;
}

std::vector<std::string> fileDialogArguments(const DialogProgram& program, bool save,
                                             const std::string& title, const FileFilter& filter) {
  std::vector<std::string> patterns = patternsOf(filter);
  std::string name = filterName(filter, patterns);
  std::vector<std::string> argv = {program.name};
  if (program.name == "zenity") {
    argv.push_back("--file-selection");
    if (!title.empty()) argv.push_back("--title=" + title);
    argv.push_back("--file-filter=" + name + " | " + joinPatterns(patterns));
    if (save) {
      argv.push_back("--save");
      argv.push_back("--confirm-overwrite");
    }
  } else {
    if (!title.empty()) argv.push_back("--title=" + title);
    argv.push_back(save ? "--getsavefilename" : "--getopenfilename");
    argv.push_back(".");  // start in the current folder, as the Windows dialogs do
    argv.push_back(name + " (" + joinPatterns(patterns) + ")");
  }
  return argv;
}

DialogResult chooseFile(bool save, const std::string& title, const FileFilter& filter,
                        std::string* path, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  DialogProgram program;
  if (!findDialogProgram(&program)) {
    *error = kNoDialogProgram;
    return DialogResult::kFailed;
  }
  ProcessResult result =
      runProgram(program.path, fileDialogArguments(program, save, title, filter));
  if (result.started && result.exited && result.exitStatus == 0) {
    std::string chosen = result.standardOutput;
    if (!chosen.empty() && chosen.back() == '\n') chosen.pop_back();  // exactly one
    if (chosen.empty()) {
      *error = program.name + " returned no file name";
      return DialogResult::kFailed;
    }
    if (chosen.find('\0') != std::string::npos) {
      *error = program.name + " returned a file name with a zero byte";
      return DialogResult::kFailed;
    }
    if (path != nullptr) *path = std::move(chosen);
    return DialogResult::kOk;
  }
  // Both programs exit 1 on cancel; zenity also exits 1 when it cannot open
  // the display, which only its error output tells apart.
  if (result.started && result.exited && result.exitStatus == 1 && !cannotOpenDisplay(result)) {
    return DialogResult::kCancelled;
  }
  *error = failureReason(program, result);
  return DialogResult::kFailed;
}

// text as Qt rich text that shows exactly these characters: kdialog would
// otherwise render anything that looks like markup.
std::string asLiteralRichText(const std::string& text) {
  std::string html = "<qt>";
  char previous = '\n';
  for (char c : text) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      case '\n':
        html += "<br>";
        break;
      case ' ':  // keep runs of spaces; single ones may still wrap
        html += (previous == ' ' || previous == '\n') ? "&nbsp;" : " ";
        break;
      default:
        html += c;
    }
    previous = c;
  }
  return html + "</qt>";
}

std::vector<std::string> messageBoxArguments(const DialogProgram& program, const std::string& text,
                                             const std::string& caption, MessageIcon icon) {
  const bool error = icon == MessageIcon::kError;
  if (program.name == "zenity") {
    std::vector<std::string> argv = {"zenity", error ? "--error" : "--info", "--no-markup",
                                     "--title=" + caption, "--text=" + text};
    if (icon == MessageIcon::kNone) argv.push_back("--icon-name=");  // an empty icon: none
    return argv;
  }
  return {"kdialog", "--title=" + caption,
          (error ? "--error=" : "--msgbox=") + asLiteralRichText(text)};
}

// The message box's text on standard error, when no box could show it.
void writeToStandardError(const std::string& text, const std::string& caption,
                          const std::string& reason) {
  std::string message = caption + ": " + text + "\n(no message box: " + reason + ")\n";
  // One write, so that boxes from several threads do not interleave.
  fwrite(message.data(), 1, message.size(), stderr);
  fflush(stderr);
}

}  // namespace

bool getCurrentDirectory(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return false;
  if (getcwd(buffer, size) == nullptr) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

bool setCurrentDirectory(const char* path) {
  return path != nullptr && *path != '\0' && chdir(path) == 0;
}

DialogResult chooseFileToOpen(const std::string& title, const FileFilter& filter, std::string* path,
                              std::string* error) {
  return chooseFile(false, title, filter, path, error);
}

DialogResult chooseFileToSave(const std::string& title, const FileFilter& filter, std::string* path,
                              std::string* error) {
  return chooseFile(true, title, filter, path, error);
}

void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  ignoreSigpipe();  // the fallback below may write to a closed standard error
  DialogProgram program;
  if (!findDialogProgram(&program)) {
    writeToStandardError(text, caption, kNoMessageProgram);
    return;
  }
  ProcessResult result =
      runProgram(program.path, messageBoxArguments(program, text, caption, icon));
  // 0: closed with OK; 1: closed otherwise (Escape, the window's close button).
  bool closed = result.started && result.exited &&
                (result.exitStatus == 0 || result.exitStatus == 1) && !cannotOpenDisplay(result);
  if (!closed) writeToStandardError(text, caption, failureReason(program, result));
}

Answer askQuestion(const std::string& text, const std::string& caption, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  DialogProgram program;
  if (!findDialogProgram(&program)) {
    *error = kNoMessageProgram;
    return Answer::kFailed;
  }
  const std::vector<std::string> argv =
      program.name == "zenity"
          ? std::vector<std::string>{"zenity", "--question", "--no-markup", "--title=" + caption,
                                     "--text=" + text}
          : std::vector<std::string>{"kdialog", "--title=" + caption,
                                     "--warningyesno=" + asLiteralRichText(text)};
  ProcessResult result = runProgram(program.path, argv);
  if (result.started && result.exited && !cannotOpenDisplay(result)) {
    if (result.exitStatus == 0) return Answer::kYes;
    if (result.exitStatus == 1) return Answer::kNo;  // No, Escape or the close button
  }
  *error = failureReason(program, result);
  return Answer::kFailed;
}

bool showMessageBoxAsync(const std::string& text, const std::string& caption, MessageIcon icon) {
  return startDetachedThread([text, caption, icon] { showMessageBox(text, caption, icon); });
}

bool startDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {  // no thread (EAGAIN: out of threads or memory)
    return false;
  } catch (const std::bad_alloc&) {  // no memory for the thread's copy of body
    return false;
  }
}

}  // namespace platform
