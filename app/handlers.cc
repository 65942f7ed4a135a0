// Main-window handlers: they turn GLUT events into calls of the view's pure
// rules and drawing functions on the program's state.
#include "app/handlers.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <vector>

#include "app/commands.h"
#include "app/control_panel.h"
#include "app/session.h"
#include "app/state.h"
#include "imageio/image_io.h"
#include "toolkit/glui.h"
#include "view/display.h"
#include "view/geometry.h"
#include "view/navigation.h"

namespace nubo {

namespace {

// The status bar's height: the graphics area starts this far above the
// window's bottom edge.
constexpr int kStatusBarHeight = 25;

// Runs body with the main window current, then restores the current window.
template <typename Body>
void withMainWindow(Body body) {
  const int previous = glutGetWindow();
  if (previous != mainWindow) glutSetWindow(mainWindow);
  body();
  if (previous != mainWindow) glutSetWindow(previous);
}

void apply(const NavigationResult& result) {
  if (result.showHelp) startHelpBox();
  if (result.redraw) glutPostRedisplay();
  if (result.setSlider && zoomSlider != nullptr) zoomSlider->set_float_val(zoom);
}

}  // namespace

void onDisplay() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  FrameContent frame;
  frame.logoTexture = logoTexture;
  frame.logoExtentS = logoExtentS;
  frame.logoExtentT = logoExtentT;
  frame.pictureLoaded = image.imageLoaded != 0;
  if (frame.pictureLoaded) {
    frame.inputTexture = inputTexture;
    frame.outputTexture = rightPanelTexture();
    frame.geometry =
        displayGeometry(image.imageWidth, image.imageHeight, image.paddedWidth, image.paddedHeight,
                        windowWidth, windowHeight, zoom, panX, panY);
  }
  drawView(frame);
  glutSwapBuffers();
  glFlush();
}

void onReshape(int /*width*/, int /*height*/) {
  int x = 0, y = 0, w = 0, h = 0;
  GLUI_Master.get_viewport_area(&x, &y, &w, &h);
  glViewport(x, y, w, h);
  windowWidth = w;
  windowHeight = h;
  glViewport(0, kStatusBarHeight, w, h);
  if (h > 0) aspectRatio = static_cast<float>(w) / static_cast<float>(h);
  setProjection(fieldOfView, aspectRatio);
}

void onKeyboard(unsigned char key, int /*x*/, int /*y*/) {
  withMainWindow([key] {
    if (!handleSessionKey(key)) apply(navigateKey(&view, key));
  });
}

void onSpecialKey(int key, int /*x*/, int /*y*/) {
  withMainWindow([key] { apply(navigateSpecialKey(&view, key)); });
}

void onMouse(int button, int state, int x, int y) {
  // Without a wheel callback GLUT reports each notch as a press and a release.
  if (button == kWheelUpButton || button == kWheelDownButton) {
    if (state != GLUT_DOWN) return;
    const int notches = button == kWheelUpButton ? 1 : -1;
    withMainWindow([notches] { apply(navigateWheel(&view, notches)); });
    return;
  }
  navigateMouse(&view, button, state == GLUT_DOWN, x, y, windowHeight);
}

void onMotion(int x, int y) {
  const NavigationResult result = navigateMotion(&view, x, y, windowHeight, dragGain);
  withMainWindow([&result] { apply(result); });
}

void loadLogo() {
  DecodedImage logo;
  const Status status = decodeImageFile(dataFolder + "/logo.bmp", &logo);
  if (!status.ok()) {
    std::fprintf(stderr, "nubo: no logo (%s/logo.bmp: %s)\n", dataFolder.c_str(),
                 status.message().c_str());
    return;
  }
  const int pw = paddedSize(logo.width);
  const int ph = paddedSize(logo.height);
  logoExtentS = static_cast<float>(logo.width) / static_cast<float>(pw);
  logoExtentT = static_cast<float>(logo.height) / static_cast<float>(ph);
  // White padding, so that linear filtering blends the logo's edges into white.
  std::vector<uint8_t> buffer(static_cast<size_t>(pw) * ph * 3, 255);
  for (int r = 0; r < logo.height; ++r) {
    const uint8_t* src = logo.rgb.data() + static_cast<size_t>(r) * logo.width * 3;
    std::copy(src, src + logo.width * 3, buffer.begin() + static_cast<size_t>(r) * pw * 3);
  }
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, (pw * 3) % 4 == 0 ? 4 : 1);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, pw, ph, 0, GL_RGB, GL_UNSIGNED_BYTE, buffer.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  logoTexture = texture;
}

}  // namespace nubo
