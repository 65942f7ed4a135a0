// Keyboard and mouse navigation of the magnified view: the rules that turn keys,
// button presses and drags into zoom and pan. Pure functions on a plain state,
// so that the event handlers and the tests share them.
#ifndef NUBO_VIEW_NAVIGATION_H_
#define NUBO_VIEW_NAVIGATION_H_

namespace nubo {

// The zoom limits and the zoom a new picture starts at, for the Zoom slider,
// the keys and the wheel alike: the slider's range, which every zoom change
// stays within.
constexpr float kMinZoom = 0.5f;
constexpr float kMaxZoom = 10.0f;
constexpr float kDefaultZoom = 2.0f;

// The view state the rules read and write.
struct NavigationState {
  float zoom = kDefaultZoom;
  float panX = 0.0f, panY = 0.0f;          // centre of the magnified region, picture units
  float dragPanX = 0.0f, dragPanY = 0.0f;  // pan accumulated by drags
  int mouseButtons = 0;                    // bit b set while GLUT button b is held
  int lastMouseX = 0, lastMouseY = 0;      // drag reference point, y upwards
};

// What a handler must do after a rule has run.
struct NavigationResult {
  bool redraw = false;     // request a redisplay
  bool setSlider = false;  // hand zoom to the Zoom slider (which clamps it and writes it back)
  bool showHelp = false;   // open the keyboard help box
};

// One notch of the mouse wheel multiplies (up) or divides (down) the zoom by this.
constexpr double kWheelZoomFactor = 1.25;
// GLUT reports the wheel as presses of these buttons when no wheel callback is set.
constexpr int kWheelUpButton = 3;
constexpr int kWheelDownButton = 4;

// Drag pixels to pan units.
constexpr double kDragGain = 0.008;
// Pixel row (from the bottom) between the overview above and the panels below.
constexpr int kDragSplitRow = 420;

// True when a pan value lies strictly inside the pan bound (-0.5, 0.5).
bool insidePanBound(double pan);

// A character key (only its low 8 bits count).
NavigationResult navigateKey(NavigationState* state, int key);
// A GLUT special key (arrows, Page Up, Page Down).
NavigationResult navigateSpecialKey(NavigationState* state, int key);
// A button press (down true) or release at window position (x, y), y downwards.
void navigateMouse(NavigationState* state, int button, bool down, int x, int y, int windowHeight);
// One notch of the mouse wheel: notches > 0 zoom in, < 0 zoom out, each by
// kWheelZoomFactor, kept within [kMinZoom, kMaxZoom]. Redraws and moves the
// slider only when the zoom changed.
NavigationResult navigateWheel(NavigationState* state, int notches);
// Pointer movement with a button held, at window position (x, y), y downwards.
NavigationResult navigateMotion(NavigationState* state, int x, int y, int windowHeight,
                                double dragGain);

}  // namespace nubo

#endif  // NUBO_VIEW_NAVIGATION_H_
