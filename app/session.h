// The keys that compare in place and end the program, and the window's close:
// space and "v" switch the right panel, Esc and Ctrl+Q quit, and both quitting
// and closing ask first while a cleaned result is not saved.
#ifndef NUBO_APP_SESSION_H_
#define NUBO_APP_SESSION_H_

namespace nubo {

constexpr unsigned char kEscapeKey = 27;
constexpr unsigned char kCtrlQKey = 17;

// Acts on space, "v", Esc and Ctrl+Q with the main window current; false for
// any other key (navigation's).
bool handleSessionKey(unsigned char key);

// Esc and Ctrl+Q: ends the event loop, after asking when the cleaned result is
// not saved (a No, or no box to ask with, keeps the program running and says so).
void requestQuit();

// GLUT's close callback of the main window. The window is going whatever the
// program does, so with an unsaved result it asks whether to save it first and
// then opens the save dialog.
void onWindowClose();

}  // namespace nubo

#endif  // NUBO_APP_SESSION_H_
