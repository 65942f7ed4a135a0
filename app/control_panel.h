// The control panel docked on the right of the main window, the status bar at
// its bottom, and onControl, the one callback of every control, with the
// load, clean and save commands and the help and about boxes behind it.
#ifndef NUBO_APP_CONTROL_PANEL_H_
#define NUBO_APP_CONTROL_PANEL_H_

#include <string>

class GLUI;

namespace nubo {

// Control ids; onControl does nothing for any other id.
enum ControlId {
  kHelpButton = 10,
  kAboutButton = 11,
  kZoomSliderId = 20,
  kSmoothCheckbox = 21,
  kLoadButton = 30,
  kCleanButton = 32,
  kSaveButton = 33,
};

// The keyboard help shown by the Help button and the "h" key.
extern const char kHelpText[];

// Builds both subwindows and their controls with the main window current, then
// enlarges the main window so that its graphics area stays windowWidth x
// windowHeight.
void buildControlPanel();

// Fills the control panel and the status bar (colours, controls, the status
// line) and sets zoomSlider and statusControl. buildControlPanel calls it; so
// do tests, on windows that only lay out their controls.
void addControlPanelContents(GLUI* panel, GLUI* bar);

// Runs the command of control id with the main window current, then makes the
// previously current window current again.
void onControl(int id);

// Opens the help (or about) box on a thread of its own; prints "Error:
// creation menu." on standard error when no thread can be started.
void startHelpBox();
void startAboutBox();

// The open and save dialogs: on OK copy the chosen path into destination (256
// bytes) and return true; on cancel, failure or a path that does not fit,
// return false and leave destination unchanged (failures and over-long paths
// are reported on standard error and in the status line).
bool chooseInputFile(char* destination);
bool chooseOutputFile(char* destination);

// The load command for a path given on the command line or chosen in the
// dialog: loads it as the load button does.
void loadPicture(const char* path);

}  // namespace nubo

#endif  // NUBO_APP_CONTROL_PANEL_H_
