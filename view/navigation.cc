// Navigation rules. Steps are doubles and sums are formed in double precision
// before they are stored as floats, so that the counts of accepted presses are
// the same on every machine.
#include "view/navigation.h"

#include <GL/freeglut_std.h>

#include "view/geometry.h"

namespace nubo {

namespace {

constexpr double kZoomKeyStep = 0.1;    // "a" / "d"
constexpr double kZoomPageStep = 0.05;  // Page Up / Page Down
constexpr double kPanKeyStep = 0.05;    // "c" "z" "s" "x"
constexpr double kPanArrowStep = 0.02;  // arrow keys
// Drags below the split row move the picture with the pointer, at a tenth of the gain.
constexpr double kPanelDragFactor = 0.1;

// Adds step to *pan when the sum passes the pan bound; the handler redraws either way.
NavigationResult panBy(float* pan, double step) {
  const double next = *pan + step;
  if (insidePanBound(next)) *pan = static_cast<float>(next);
  NavigationResult result;
  result.redraw = true;
  return result;
}

NavigationResult zoomIn(NavigationState* state, double step) {
  state->zoom = static_cast<float>(state->zoom + step);  // the slider caps it at kMaxZoom
  NavigationResult result;
  result.redraw = true;
  result.setSlider = true;
  return result;
}

NavigationResult zoomOut(NavigationState* state, double step) {
  const float v = static_cast<float>(state->zoom - step);
  state->zoom = v;
  NavigationResult result;
  if (v < kMinZoom) {
    state->zoom = kMinZoom;  // silently: no redraw, the slider is not moved
    return result;
  }
  result.redraw = true;
  result.setSlider = true;
  return result;
}

}  // namespace

bool insidePanBound(double pan) { return pan > -kOverviewSize * 0.5 && pan < kOverviewSize * 0.5; }

NavigationResult navigateKey(NavigationState* state, int key) {
  switch (key & 0xff) {
    case 'H':
    case 'h': {
      NavigationResult result;
      result.showHelp = true;
      return result;
    }
    case 'a':
      return zoomIn(state, kZoomKeyStep);
    case 'd':
      return zoomOut(state, kZoomKeyStep);
    case 'c':
      return panBy(&state->panX, kPanKeyStep);
    case 'z':
      return panBy(&state->panX, -kPanKeyStep);
    case 's':
      return panBy(&state->panY, kPanKeyStep);
    case 'x':
      return panBy(&state->panY, -kPanKeyStep);
    default:
      return NavigationResult();
  }
}

NavigationResult navigateSpecialKey(NavigationState* state, int key) {
  // The arrows move the pan the other way from the letter keys they are paired with.
  switch (key) {
    case GLUT_KEY_LEFT:
      return panBy(&state->panX, kPanArrowStep);
    case GLUT_KEY_RIGHT:
      return panBy(&state->panX, -kPanArrowStep);
    case GLUT_KEY_UP:
      return panBy(&state->panY, -kPanArrowStep);
    case GLUT_KEY_DOWN:
      return panBy(&state->panY, kPanArrowStep);
    case GLUT_KEY_PAGE_UP:
      return zoomIn(state, kZoomPageStep);
    case GLUT_KEY_PAGE_DOWN:
      return zoomOut(state, kZoomPageStep);
    default:
      return NavigationResult();
  }
}

void navigateMouse(NavigationState* state, int button, bool down, int x, int y, int windowHeight) {
  if (button < 0 || button > 30) return;
  if (down) {
    state->mouseButtons |= 1 << button;
    state->lastMouseX = x;
    state->lastMouseY = windowHeight - 1 - y;
  } else {
    state->mouseButtons &= ~(1 << button);
  }
}

NavigationResult navigateMotion(NavigationState* state, int x, int y, int windowHeight,
                                double dragGain) {
  NavigationResult result;
  const int yf = windowHeight - 1 - y;
  if (x == state->lastMouseX && yf == state->lastMouseY) return result;
  const double dx = x - state->lastMouseX;
  const double dy = yf - state->lastMouseY;
  double nx, ny;
  if (yf > kDragSplitRow) {
    // Over the overview the pan follows the pointer.
    nx = state->dragPanX + dx * dragGain;
    ny = state->dragPanY + dy * dragGain;
  } else {
    // Over the panels the pan moves against the pointer, so the picture follows it.
    nx = state->dragPanX - dx * dragGain * kPanelDragFactor;
    ny = state->dragPanY - dy * dragGain * kPanelDragFactor;
  }
  // Each axis on its own; a refused axis keeps its reference point. The y
  // candidate is narrowed before its test, the x candidate after.
  if (insidePanBound(nx)) {
    state->dragPanX = static_cast<float>(nx);
    state->lastMouseX = x;
  }
  const float nyf = static_cast<float>(ny);
  if (insidePanBound(nyf)) {
    state->dragPanY = nyf;
    state->lastMouseY = yf;
  }
  if (state->mouseButtons == 1) {  // the left button alone
    state->panX = state->dragPanX;
    state->panY = state->dragPanY;
    result.redraw = true;
  }
  return result;
}

NavigationResult navigateWheel(NavigationState* state, int notches) {
  double next = state->zoom;
  for (int k = 0; k < notches; ++k) next *= kWheelZoomFactor;
  for (int k = 0; k > notches; --k) next /= kWheelZoomFactor;
  if (next < kMinZoom) next = kMinZoom;
  if (next > kMaxZoom) next = kMaxZoom;
  NavigationResult result;
  const float zoom = static_cast<float>(next);
  if (zoom == state->zoom) return result;
  state->zoom = zoom;
  result.redraw = true;
  result.setSlider = true;
  return result;
}

}  // namespace nubo
