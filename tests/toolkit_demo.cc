// A small window with a toolkit control panel (one control of each kind) on
// the right and a status bar at the bottom, to look at and click
// (toolkit_demo), and the check that a status text drawn at once leaves no
// black areas (toolkit_demo --check-status, run under Xvfb by the tests).
#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "toolkit/glui.h"

// Last: X11's macros clash with other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int mainWindow = 0;
float zoom = 2.0f;
int smooth = 0;
GLUI* panel = nullptr;
GLUI* bar = nullptr;
GLUI_StaticText* status = nullptr;
GLUI_Slider* slider = nullptr;

void showStatus(const char* text) {
  std::printf("status \"%s\"\n", text);
  std::fflush(stdout);
  status->set_text(text);
}

void onControl(int id) {
  std::printf("control %d window %d zoom %g smooth %d\n", id, glutGetWindow(), zoom, smooth);
  std::fflush(stdout);
  if (id == 32) {  // a long command reporting progress inside one callback
    char text[64];
    for (int i = 0; i <= 10; ++i) {
      std::snprintf(text, sizeof text, "Working...... %d0%%", i);
      showStatus(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    showStatus("Ready");
  } else if (id == 20) {
    showStatus("Zooming");
  } else if (id == 21) {
    showStatus(smooth ? "Smooth on" : "Smooth off");
  } else if (id == 30) {
    slider->set_float_val(2.0f);
  }
  glutPostRedisplay();
}

void onDisplay() {
  int x, y, w, h;
  GLUI_Master.get_viewport_area(&x, &y, &w, &h);
  glViewport(x, y, w, h);
  glClearColor(0.1f, 0.1f, 0.2f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const float s = zoom / 10.0f;
  glColor3f(1.0f, 0.8f, 0.2f);
  glRectf(-s, -s, s, s);
  glutSwapBuffers();
}

void onReshape(int, int) { glutPostRedisplay(); }

void onKeyboard(unsigned char key, int, int) {
  std::printf("key %d window %d\n", key, glutGetWindow());
  std::fflush(stdout);
}

void onSpecial(int key, int, int) {
  std::printf("special %d window %d\n", key, glutGetWindow());
  std::fflush(stdout);
}

void onMouse(int button, int state, int x, int y) {
  std::printf("mouse %d %d at %d %d\n", button, state, x, y);
  std::fflush(stdout);
}

// One control of each kind in the panel, a status line in the bar.
void build() {
  panel = GLUI_Master.create_glui_subwindow(mainWindow, GLUI_SUBWINDOW_RIGHT);
  bar = GLUI_Master.create_glui_subwindow(mainWindow, GLUI_SUBWINDOW_BOTTOM);
  panel->bkgd_color.set(240, 240, 240);
  panel->set_text_color(50, 30, 75);
  bar->bkgd_color.set(220, 220, 220);
  bar->set_text_color(50, 30, 75);
  GLUI_Panel* top = panel->get_main_panel();
  GLUI_Panel* row = panel->add_panel_to_panel(top, "", GLUI_PANEL_NONE);
  panel->add_button_to_panel(row, "Help", 10, onControl);
  panel->add_column_to_panel(row, false);
  panel->add_button_to_panel(row, "Reset zoom", 30, onControl);
  panel->add_spacer_to_panel(top, 8, true);
  panel->add_button_to_panel(top, "Long command", 32, onControl);
  panel->add_checkbox_to_panel(top, "Smooth", &smooth, 21, onControl);
  panel->add_spacer_to_panel(top, 12);
  slider =
      panel->add_slider_to_panel(top, "Zoom", GLUI_SLIDER_FLOAT, &zoom, 0.5f, 10.0f, 20, onControl);
  status = bar->add_statictext("ready");
  status->set_w(490);
  status->set_alignment(GLUI_ALIGN_LEFT);
  panel->set_main_gfx_window(mainWindow);
  bar->set_main_gfx_window(mainWindow);
}

// Runs GLUT's event loop for a while without entering glutMainLoop.
void pump(int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    glutMainLoopEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Reads the status bar as it is on screen (from the X server, not from GL)
// and counts black pixels and pixels as dark as the text colour. Returns the
// number of text pixels, or -1 when it cannot be read or holds black pixels.
int check_status_bar(Display* display, const char* when) {
  glFinish();
  const int previous = glutGetWindow();
  glutSetWindow(bar->get_glut_window_id());
  const int w = glutGet(GLUT_WINDOW_WIDTH), h = glutGet(GLUT_WINDOW_HEIGHT);
  glutSetWindow(mainWindow);
  // Toolkit windows sit at their placed offset inside the main window.
  const int x0 = glutGet(GLUT_WINDOW_X) + bar->get_placed_x();
  const int y0 = glutGet(GLUT_WINDOW_Y) + bar->get_placed_y();
  glutSetWindow(previous);
  std::fflush(stdout);
  XImage* image = XGetImage(display, DefaultRootWindow(display), x0, y0, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
  if (image == nullptr) {
    std::printf("%s: cannot read the window\n", when);
    return -1;
  }
  int black = 0, dark = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      const int r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
      if (r == 0 && g == 0 && b == 0) {
        ++black;
      } else if (r < 120 && g < 120 && b < 150) {
        ++dark;
      }
    }
  }
  XDestroyImage(image);
  std::printf("%s: %dx%d, %d black pixels, %d text pixels\n", when, w, h, black, dark);
  return black == 0 ? dark : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::strcmp(argv[1], "--check-status") == 0;
  glutInit(&argc, argv);
  glutInitWindowPosition(0, 0);  // all on screen, to be read back
  glutInitWindowSize(500, 350);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  mainWindow = glutCreateWindow("toolkit demo");
  build();
  glutDisplayFunc(onDisplay);
  GLUI_Master.set_glutReshapeFunc(onReshape);
  GLUI_Master.set_glutMouseFunc(onMouse);
  GLUI_Master.set_glutKeyboardFunc(onKeyboard);
  GLUI_Master.set_glutSpecialFunc(onSpecial);
  int x, y, w, h;
  GLUI_Master.get_viewport_area(&x, &y, &w, &h);
  glutReshapeWindow(2 * 500 - w, 2 * 350 - h);
  std::printf("main %d panel %d (%dx%d) bar %d (%dx%d) viewport %d %d %d %d\n", mainWindow,
              panel->get_glut_window_id(), panel->w, panel->h, bar->get_glut_window_id(), bar->w,
              bar->h, x, y, w, h);
  std::fflush(stdout);
  if (!check) {
    glutMainLoop();
    return 0;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  pump(1500);
  const int shown = check_status_bar(display, "shown");
  // A new, longer text as a long callback sends it: on screen before any
  // event is handled (more text pixels), and the rest of the bar intact.
  status->set_text("Removing ringing...... 30%");
  const int first = check_status_bar(display, "after set_text");
  status->set_text("Removing ringing...... 40%, a longer text than before");
  const int second = check_status_bar(display, "after a longer text");
  const bool ok = shown > 0 && first > shown && second > first;
  XCloseDisplay(display);
  std::printf(ok ? "status bar ok\n" : "status bar damaged\n");
  return ok ? 0 : 1;
}
