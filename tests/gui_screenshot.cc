// nubo-screenshot: makes the README's pictures of the desktop program. Starts
// the program in a private Xvfb server on a photo, cleans it, zooms in on a
// detail and writes the window as a PNG; with two more names, also the window
// with the right panel flipped to the input (space) and showing the
// difference view ("v").
// Usage: nubo-screenshot BUILD_DIR SOURCE_DIR PHOTO OUT.png [FLIP.png DIFFERENCE.png]
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/control_panel.h"
#include "app/picture_files.h"
#include "app/state.h"
#include "app/working_image.h"
#include "imageio/image_io.h"
#include "tests/find_control.h"
#include "tests/x11_harness.h"
#include "toolkit/glui.h"

namespace {

using std::chrono::milliseconds;

bool white(const x11test::Rgb& c) { return c.r == 255 && c.g == 255 && c.b == 255; }
bool black(const x11test::Rgb& c) { return c.r == 0 && c.g == 0 && c.b == 0; }
bool drawn(const x11test::Rgb& c) { return !white(c) && !black(c); }

// Writes the window's area of the screen as a PNG; false with a message on failure.
bool writeWindow(x11test::XServer* server, x11test::Rect frame, const std::string& out) {
  // Without a window manager the window may start just off the screen's corner.
  if (frame.x < 0) frame.w += frame.x, frame.x = 0;
  if (frame.y < 0) frame.h += frame.y, frame.y = 0;
  const x11test::Shot shot = server->capture(frame);
  std::vector<uint8_t> rgb(static_cast<size_t>(frame.w) * frame.h * 3);
  for (int y = 0; y < frame.h; ++y) {  // bottom row first
    for (int x = 0; x < frame.w; ++x) {
      const x11test::Rgb p = shot.at(x, frame.h - 1 - y);
      uint8_t* d = &rgb[(static_cast<size_t>(y) * frame.w + x) * 3];
      d[0] = static_cast<uint8_t>(p.r);
      d[1] = static_cast<uint8_t>(p.g);
      d[2] = static_cast<uint8_t>(p.b);
    }
  }
  // Every pixel through the picture saver; the white-interior rule of the
  // display buffers does not matter here, the output buffer is overwritten.
  nubo::WorkingImage picture;
  if (!nubo::fillDisplayBuffers(rgb.data(), frame.w, frame.h, &picture)) return false;
  picture.outputDisplay = picture.inputDisplay;
  const nubo::Status status =
      nubo::savePicture(picture, out, nubo::ImageFormat::kPng, /*overwrite=*/true);
  if (!status.ok()) {
    std::fprintf(stderr, "nubo-screenshot: %s: %s\n", out.c_str(), status.message().c_str());
    return false;
  }
  return true;
}

// Presses key over the graphics area and waits until the right panel changes.
bool switchRightPanel(x11test::XServer* server, const x11test::Rect& panel,
                      const std::string& key) {
  const std::vector<x11test::Rgb> before = server->capture(panel).pixels;
  server->key(key);
  return x11test::waitUntil([&] { return server->capture(panel).pixels != before; },
                            milliseconds(5000));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 7) {
    std::fprintf(stderr,
                 "usage: nubo-screenshot BUILD_DIR SOURCE_DIR PHOTO OUT.png "
                 "[FLIP.png DIFFERENCE.png]\n");
    return 2;
  }
  const std::string build = argv[1], source = argv[2], photo = argv[3], out = argv[4];
  GLUI* panel = GLUI_Master.create_offscreen_glui(800, 600, GLUI_SUBWINDOW_RIGHT);
  GLUI* bar = GLUI_Master.create_offscreen_glui(800, 600, GLUI_SUBWINDOW_BOTTOM);
  nubo::addControlPanelContents(panel, bar);
  panel->pack_controls();
  GLUI_Control* clean = findControl(panel->get_main_panel(), "2. Clean       ");

  x11test::XServer server;
  if (clean == nullptr) {
    std::fprintf(stderr, "nubo-screenshot: no clean button in the panel\n");
    return 1;
  }
  if (!server.ok()) {
    std::fprintf(stderr, "nubo-screenshot: no X server (install xvfb)\n");
    return 1;
  }
  x11test::Process program = x11test::Process::start({build + "/nubo", photo},
                                                     {{"DISPLAY", server.name()}}, source, "", "");
  const unsigned long window = server.findWindow("Nubo 1.3", milliseconds(20000));
  if (window == 0) {
    std::fprintf(stderr, "nubo-screenshot: the window did not open\n");
    return 1;
  }
  x11test::Rect frame;
  x11test::waitUntil(
      [&] {
        frame = server.geometry(window);
        return frame.w > 800 && frame.h > 600;
      },
      milliseconds(10000));
  // The overview's centre turns from white once the picture is shown.
  const int overviewX = frame.x + 400, overviewY = frame.y + 300 - 208;
  if (!x11test::waitUntil([&] { return drawn(server.pixel(overviewX, overviewY)); },
                          milliseconds(30000))) {
    std::fprintf(stderr, "nubo-screenshot: the photo did not load\n");
    return 1;
  }
  server.click(frame.x + 800 + clean->x_abs + clean->w / 2, frame.y + clean->y_abs + clean->h / 2);
  const int outputX = frame.x + 582, outputY = frame.y + 390;
  if (!x11test::waitUntil([&] { return drawn(server.pixel(outputX, outputY)); },
                          milliseconds(60000))) {
    std::fprintf(stderr, "nubo-screenshot: cleaning did not finish\n");
    return 1;
  }
  server.moveTo(frame.x + 400, frame.y + 300);
  for (int k = 0; k < 5; ++k) server.key("a");
  for (int k = 0; k < 2; ++k) server.key("s");
  x11test::waitUntil([] { return false; }, milliseconds(1500));

  if (!writeWindow(&server, frame, out)) return 1;
  if (argc == 5) return 0;
  // The right panel, inside its edges.
  const x11test::Rect right = {frame.x + 430, frame.y + 330, 300, 200};
  if (!switchRightPanel(&server, right, "space") || !writeWindow(&server, frame, argv[5])) {
    std::fprintf(stderr, "nubo-screenshot: the flip did not show\n");
    return 1;
  }
  if (!switchRightPanel(&server, right, "space") || !switchRightPanel(&server, right, "v") ||
      !writeWindow(&server, frame, argv[6])) {
    std::fprintf(stderr, "nubo-screenshot: the difference view did not show\n");
    return 1;
  }
  return 0;
}
