// The operating-system services the desktop program needs, behind one small
// interface: the current folder, file dialogs, message boxes that do not block
// the caller, and detached threads. This build fills it for Linux (dialogs
// through zenity, else kdialog); a Windows build would fill it with Win32 calls.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Writes the current folder into buffer (size bytes, zero-terminated) and
// returns true; on failure, or when it does not fit, leaves buffer empty and
// returns false.
bool getCurrentDirectory(char* buffer, size_t size);

// Makes path the current folder; false when that fails.
bool setCurrentDirectory(const char* path);

// One entry of a file dialog's filter, for example {"BMP", "*.bmp"}.
struct FileFilter {
  std::string description;
  std::string pattern;
};

enum class DialogResult {
  kOk,         // *path holds the chosen file
  kCancelled,  // the user cancelled; nothing else to say
  kFailed,     // no dialog could be shown; *error says why in one line
};

// Open dialog: the chosen file must exist. Save dialog: the folder must exist,
// and the dialog itself asks before an existing file is replaced. The dialog
// program is started without a shell (no file name is ever parsed by one).
// Both block the caller until the dialog is closed.
DialogResult chooseFileToOpen(const std::string& title, const FileFilter& filter, std::string* path,
                              std::string* error);
DialogResult chooseFileToSave(const std::string& title, const FileFilter& filter, std::string* path,
                              std::string* error);

enum class MessageIcon { kNone, kInformation, kError };

// Shows a message box with text under the caption and returns when the user
// has closed it. When no dialog program can show the box, the text goes to
// standard error with the reason, and the call returns at once.
void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon);

// showMessageBox on a detached thread of its own; returns at once. Every call
// opens a further box. Returns false when no thread could be started.
bool showMessageBoxAsync(const std::string& text, const std::string& caption, MessageIcon icon);

enum class Answer {
  kYes,
  kNo,      // No, or the box closed without an answer
  kFailed,  // no box could be shown; *error says why in one line
};

// Asks a yes/no question in a box (a warning with Yes and No) and returns when
// the user has answered; blocks the caller meanwhile.
Answer askQuestion(const std::string& text, const std::string& caption, std::string* error);

// Starts body on a detached thread; false when no thread could be started.
bool startDetachedThread(std::function<void()> body);

}  // namespace platform

#endif  // PLATFORM_PLATFORM_H_
