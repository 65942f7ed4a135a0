// End-to-end tests of the desktop program as a user meets it: the real program
// in a private Xvfb server, real clicks and keys, a stand-in dialog program
// that answers with prepared paths, real files, and screenshots checked where
// the display geometry puts the panels, the overview and the red rectangle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/control_panel.h"
#include "app/state.h"
#include "imageio/image_io.h"
#include "tests/find_control.h"
#include "tests/x11_harness.h"
#include "toolkit/glui.h"
#include "view/comparison.h"
#include "view/geometry.h"

namespace nubo {
namespace {

using std::chrono::milliseconds;
using x11test::Rect;
using x11test::Rgb;

const std::string kSource = NUBO_SOURCE_DIR;
const std::string kBinary = NUBO_BINARY_DIR;
constexpr int kAreaWidth = 800;  // graphics area at start-up
constexpr int kAreaHeight = 600;
constexpr int kStatusHeight = 25;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool near(const Rgb& a, const Rgb& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

std::string show(const Rgb& c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// Writes a 24-bit BMP of width x height with one colour per quadrant.
void writeQuadrantBmp(const std::string& path, int width, int height, const Rgb quadrant[4]) {
  const int rowBytes = (width * 3 + 3) / 4 * 4;
  const int dataBytes = rowBytes * height;
  std::vector<unsigned char> f(54 + dataBytes, 0);
  auto put32 = [&f](int at, unsigned v) {
    for (int k = 0; k < 4; ++k) f[at + k] = static_cast<unsigned char>(v >> (8 * k));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, 54 + dataBytes);
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  f[26] = 1;
  f[28] = 24;
  put32(34, dataBytes);
  for (int row = 0; row < height; ++row) {  // bottom row first
    const int y = height - 1 - row;
    for (int x = 0; x < width; ++x) {
      const Rgb& c = quadrant[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
      unsigned char* p = &f[54 + row * rowBytes + x * 3];
      p[0] = static_cast<unsigned char>(c.b);
      p[1] = static_cast<unsigned char>(c.g);
      p[2] = static_cast<unsigned char>(c.r);
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(f.data()), f.size());
}

// The control panel as the program builds it, laid out without a window.
struct PanelLayout {
  GLUI* panel = nullptr;
  GLUI* bar = nullptr;
  Rect control(const std::string& name) const {
    GLUI_Control* c = findControl(panel->get_main_panel(), name);
    if (c == nullptr) return {};
    return {c->x_abs, c->y_abs, c->w, c->h};
  }
};

const PanelLayout& panelLayout() {
  static PanelLayout layout = [] {
    PanelLayout l;
    std::snprintf(statusText, sizeof statusText, "ready");
    l.panel = GLUI_Master.create_offscreen_glui(kAreaWidth, kAreaHeight, GLUI_SUBWINDOW_RIGHT);
    l.bar = GLUI_Master.create_offscreen_glui(kAreaWidth, kAreaHeight, GLUI_SUBWINDOW_BOTTOM);
    addControlPanelContents(l.panel, l.bar);
    l.panel->pack_controls();
    l.bar->pack_controls();
    return l;
  }();
  return layout;
}

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/nubo-gui-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    work_ = folder;
    // The program is started from a folder that holds data/.
    ASSERT_EQ(symlink((kSource + "/data").c_str(), (work_ + "/data").c_str()), 0);
    answers_ = work_ + "/answers";
    replies_ = work_ + "/replies";
    log_ = work_ + "/zenity.log";
    std::ofstream(answers_).close();
    std::ofstream(replies_).close();
    ASSERT_TRUE(server_.ok()) << "no Xvfb server (install xvfb)";
  }

  void TearDown() override {
    if (HasFailure()) server_.capture({0, 0, 1400, 900}).writePpm(work_ + "/failure.ppm");
    program_.stop();
    if (HasFailure()) {
      std::fprintf(stderr, "screenshot and logs kept in %s\n", work_.c_str());
    } else {
      std::system(("rm -rf '" + work_ + "'").c_str());
    }
  }

  void answer(const std::string& line) { std::ofstream(answers_, std::ios::app) << line << "\n"; }
  // The next reply to a question box: "yes" or "no".
  void reply(const std::string& line) { std::ofstream(replies_, std::ios::app) << line << "\n"; }

  void startProgram(const std::vector<std::string>& extraArgs = {}, bool holdBoxes = false,
                    const std::string& folder = "",
                    const std::map<std::string, std::string>& extraEnv = {}) {
    std::vector<std::string> argv = {kBinary + "/nubo"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    std::map<std::string, std::string> env = {
        {"DISPLAY", server_.name()},
        {"PATH", kSource + "/tests/fake-zenity:" + std::string(std::getenv("PATH"))},
        {"FAKE_ZENITY_LOG", log_},
        {"FAKE_ZENITY_ANSWERS", answers_},
        {"FAKE_ZENITY_REPLIES", replies_}};
    if (holdBoxes) env["FAKE_ZENITY_HOLD"] = "1";
    for (const auto& [key, value] : extraEnv) env[key] = value;
    program_ = x11test::Process::start(argv, env, folder.empty() ? work_ : folder,
                                       work_ + "/stdout", work_ + "/stderr");
    window_ = server_.findWindow("Nubo 1.3", milliseconds(20000));
    ASSERT_NE(window_, 0u) << readFile(work_ + "/stderr");
    // The window grows by the panel and the status bar right after it opens.
    ASSERT_TRUE(x11test::waitUntil(
        [&] {
          frame_ = server_.geometry(window_);
          return frame_.w > kAreaWidth && frame_.h > kAreaHeight;
        },
        milliseconds(10000)));
    area_ = {frame_.x, frame_.y, kAreaWidth, kAreaHeight};
    // The first frames are drawn once the graphics area is white and the
    // status bar and the panel show their backgrounds.
    ASSERT_TRUE(x11test::waitUntil(
        [&] {
          return near(server_.pixel(area_.x + 700, area_.y + 500), {255, 255, 255}, 0) &&
                 near(server_.pixel(frame_.x + 700, frame_.y + kAreaHeight + 12), {220, 220, 220},
                      0) &&
                 near(server_.pixel(frame_.x + kAreaWidth + 3, frame_.y + 500), {240, 240, 240}, 0);
        },
        milliseconds(10000)));
  }

  // Screen position of a scene point, for the start-up window size.
  void toScreen(float x, float y, int* sx, int* sy) const {
    const double tanHalf = std::tan(30.0 * 3.14159265358979323846 / 180.0);
    const double aspect = static_cast<double>(kAreaWidth) / kAreaHeight;
    const double ndcX = x / (4.0 * tanHalf * aspect);
    const double ndcY = y / (4.0 * tanHalf);
    *sx = area_.x + static_cast<int>(std::floor((ndcX + 1) / 2 * kAreaWidth));
    *sy = area_.y + kAreaHeight - 1 - static_cast<int>(std::floor((ndcY + 1) / 2 * kAreaHeight));
  }

  Rgb scenePixel(float x, float y) {
    int sx, sy;
    toScreen(x, y, &sx, &sy);
    return server_.pixel(sx, sy);
  }

  // True when a pixel within radius of the scene point has colour c.
  bool colourNear(float x, float y, const Rgb& c, int radius) {
    int sx, sy;
    toScreen(x, y, &sx, &sy);
    const x11test::Shot shot =
        server_.capture({sx - radius, sy - radius, 2 * radius + 1, 2 * radius + 1});
    for (const Rgb& p : shot.pixels) {
      if (near(p, c, 30)) return true;
    }
    return false;
  }

  void clickControl(const std::string& name) {
    const Rect c = panelLayout().control(name);
    ASSERT_GT(c.w, 0) << name;
    server_.click(frame_.x + kAreaWidth + c.x + c.w / 2, frame_.y + c.y + c.h / 2);
  }

  void pointIntoGraphicsArea() { server_.moveTo(area_.x + 400, area_.y + 300); }

  int logCount(const std::string& text) {
    const std::string log = readFile(log_);
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  bool pictureShown() {
    const Rgb c = scenePixel(0.0f, kOverviewOffsetY);
    return !(c.r == 255 && c.g == 255 && c.b == 255);
  }

  x11test::XServer server_;
  x11test::Process program_;
  // Waits until the program has handled everything sent before: the help key
  // is handled after the events ahead of it, and its box is logged.
  void barrier() {
    const int before = logCount("Keyboard Control");
    pointIntoGraphicsArea();
    server_.key("h");
    ASSERT_TRUE(x11test::waitUntil([&] { return logCount("Keyboard Control") > before; },
                                   milliseconds(10000)));
  }

  // The screen area inside one magnified panel, a few pixels in from its edges.
  Rect panelArea(const DisplayGeometry& g, bool right) const {
    const TexVertex* quad = right ? g.outputPanel : g.inputPanel;
    int x0, y0, x1, y1;
    toScreen(quad[1].x, quad[1].y, &x0, &y0);  // upper left
    toScreen(quad[3].x, quad[3].y, &x1, &y1);  // lower right
    return {x0 + 3, y0 + 3, x1 - x0 - 6, y1 - y0 - 6};
  }

  std::vector<Rgb> shotOf(const Rect& r) { return server_.capture(r).pixels; }

  void loadAndClean(const std::string& picture) {
    answer(picture);
    clickControl("1. Load input ");
    ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
    const std::vector<Rgb> before = shotOf(area_);
    clickControl("2. Clean       ");
    barrier();  // the clean ran before the help key was handled
    ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(area_) != before; }, milliseconds(30000)));
  }

  bool fileExists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
  }

  std::string work_, answers_, replies_, log_;
  unsigned long window_ = 0;
  Rect frame_, area_;
};

TEST_F(Gui, StartsWithTitlePanelAndReadyStatus) {
  startProgram();
  EXPECT_EQ(server_.windowTitle(window_), "Nubo 1.3");
  const int panelWidth = panelLayout().panel->w;
  EXPECT_EQ(panelLayout().bar->h, kStatusHeight);
  // The window is the 800 x 600 graphics area plus the panel and the status bar.
  EXPECT_EQ(frame_.w, kAreaWidth + panelWidth);
  EXPECT_EQ(frame_.h, kAreaHeight + kStatusHeight);
  // Two docked subwindows: the panel on the right, the status bar at the bottom.
  int right = 0, bottom = 0;
  for (unsigned long child : server_.children(window_)) {
    const Rect r = server_.geometry(child);
    if (r.x == frame_.x + kAreaWidth && r.y == frame_.y && r.w == panelWidth) ++right;
    if (r.x == frame_.x && r.y == frame_.y + kAreaHeight && r.h == kStatusHeight) ++bottom;
  }
  EXPECT_EQ(right, 1);
  EXPECT_EQ(bottom, 1);
  // The panel's background and the status bar's, with "ready" in the text colour.
  EXPECT_TRUE(near(server_.pixel(frame_.x + kAreaWidth + 3, frame_.y + 300), {240, 240, 240}, 0));
  const x11test::Shot status = server_.capture({frame_.x + 2, frame_.y + kAreaHeight + 2, 118, 21});
  int text = 0, background = 0;
  for (const Rgb& p : status.pixels) {
    text += near(p, {50, 30, 75}, 40);
    background += near(p, {220, 220, 220}, 0);
  }
  EXPECT_GT(text, 10) << "no text in the status bar";
  EXPECT_GT(background, 1000);
  // Nothing loaded: white, with the logo in the top-left corner.
  EXPECT_TRUE(near(scenePixel(0.0f, kOverviewOffsetY), {255, 255, 255}, 0));
  EXPECT_TRUE(near(scenePixel(-1.4f, -0.7f), {255, 255, 255}, 0));
  EXPECT_TRUE(near(scenePixel(1.4f, -0.7f), {255, 255, 255}, 0));
  const x11test::Shot logo = server_.capture({area_.x + 20, area_.y + 10, 130, 90});
  int coloured = 0;
  for (const Rgb& p : logo.pixels) coloured += !near(p, {255, 255, 255}, 10);
  EXPECT_GT(coloured, 200) << "no logo";
}

TEST_F(Gui, LoadCleanSaveWritesWhatNuboCleanWrites) {
  const std::string photo = kSource + "/data/samples/astronaut-q20.jpg";
  const std::string saved = work_ + "/cleaned";
  answer(photo);
  answer(saved);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  // Before cleaning the right panel shows a white interior.
  EXPECT_TRUE(near(scenePixel(1.4f, -0.7f), {255, 255, 255}, 0));
  clickControl("2. Clean       ");
  ASSERT_TRUE(x11test::waitUntil(
      [&] {
        return !near(scenePixel(1.4f, -0.7f), {255, 255, 255}, 0);
      },
      milliseconds(30000)));
  clickControl("3. Save output");
  ASSERT_TRUE(x11test::waitUntil(
      [&] {
        struct stat s;
        return stat((saved + ".bmp").c_str(), &s) == 0 && s.st_size > 0;
      },
      milliseconds(20000)));
  // The chosen paths are printed twice each.
  const std::string out = readFile(work_ + "/stdout");
  EXPECT_NE(out.find(photo + "\n" + photo + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(saved + "\n" + saved + "\n"), std::string::npos) << out;
  EXPECT_NE(readFile(work_ + "/stderr").find("estimated JPEG quality 20"), std::string::npos);

  const std::string reference = work_ + "/reference.bmp";
  const std::string command = "cd '" + work_ + "' && '" + kBinary + "/nubo-clean' --force '" +
                              photo + "' '" + reference + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string ours = readFile(saved + ".bmp");
  EXPECT_FALSE(ours.empty());
  EXPECT_TRUE(ours == readFile(reference)) << "the saved BMP differs from nubo-clean's";
  // The save dialog offered BMP only; the open dialog every file.
  EXPECT_EQ(logCount("*.bmp"), 1);
  EXPECT_TRUE(program_.running());
}

TEST_F(Gui, PanelsOverviewAndRectangleLandWhereTheGeometrySays) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/quadrants.bmp";
  writeQuadrantBmp(picture, 400, 300, quadrant);
  answer(picture);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));

  DisplayGeometry g = displayGeometry(400, 300, 512, 512, kAreaWidth, kAreaHeight, 2, 0, 0);
  // Each panel quadrant shows its picture quadrant (top-left of the panel = top-left).
  const float qx = g.hx / 2, qy = g.hy / 2;
  const float py = -kPanelOffsetY;
  EXPECT_TRUE(near(scenePixel(-kPanelOffsetX - qx, py + qy), quadrant[0], 2))
      << show(scenePixel(-kPanelOffsetX - qx, py + qy));
  EXPECT_TRUE(near(scenePixel(-kPanelOffsetX + qx, py + qy), quadrant[1], 2));
  EXPECT_TRUE(near(scenePixel(-kPanelOffsetX - qx, py - qy), quadrant[2], 2));
  EXPECT_TRUE(near(scenePixel(-kPanelOffsetX + qx, py - qy), quadrant[3], 2));
  // Overview quadrants, and white just outside the overview.
  EXPECT_TRUE(near(scenePixel(-g.ox / 2, kOverviewOffsetY + g.oy / 2), quadrant[0], 2));
  EXPECT_TRUE(near(scenePixel(g.ox / 2, kOverviewOffsetY - g.oy / 2), quadrant[3], 2));
  EXPECT_TRUE(near(scenePixel(g.ox + 0.05f, kOverviewOffsetY), {255, 255, 255}, 0));
  // The right panel: the input's border around a white interior.
  EXPECT_TRUE(near(scenePixel(kPanelOffsetX, py), {255, 255, 255}, 0));
  // The red rectangle's left and right edges.
  EXPECT_TRUE(colourNear(g.rectangle[0][0], kOverviewOffsetY, {255, 0, 0}, 2));
  EXPECT_TRUE(colourNear(g.rectangle[2][0], kOverviewOffsetY, {255, 0, 0}, 2));
  EXPECT_FALSE(colourNear(0.0f, kOverviewOffsetY, {255, 0, 0}, 2));

  // Four presses of "c" move the region 0.2 to the right: the panel centre now
  // shows the right half of the picture and the rectangle moves along.
  pointIntoGraphicsArea();
  for (int k = 0; k < 4; ++k) server_.key("c");
  float panX = 0;
  for (int k = 0; k < 4; ++k) panX = static_cast<float>(panX + 0.05);
  g = displayGeometry(400, 300, 512, 512, kAreaWidth, kAreaHeight, 2, panX, 0);
  ASSERT_TRUE(x11test::waitUntil(
      [&] {
        return colourNear(g.rectangle[2][0], kOverviewOffsetY, {255, 0, 0}, 2);
      },
      milliseconds(5000)));
  EXPECT_TRUE(colourNear(g.rectangle[0][0], kOverviewOffsetY, {255, 0, 0}, 2));
  EXPECT_TRUE(near(scenePixel(-kPanelOffsetX - qx / 4, py + qy), quadrant[1], 2))
      << show(scenePixel(-kPanelOffsetX - qx / 4, py + qy));

  // "a" zooms in by 0.1: the rectangle shrinks around the same centre.
  server_.key("a");
  g = displayGeometry(400, 300, 512, 512, kAreaWidth, kAreaHeight, static_cast<float>(2.0f + 0.1),
                      panX, 0);
  ASSERT_TRUE(x11test::waitUntil(
      [&] {
        return colourNear(g.rectangle[2][0], kOverviewOffsetY, {255, 0, 0}, 1);
      },
      milliseconds(5000)));
  EXPECT_TRUE(colourNear(g.rectangle[0][0], kOverviewOffsetY, {255, 0, 0}, 1));

  // A drag with the left button over the panels moves the picture with the pointer.
  server_.moveTo(area_.x + 200, area_.y + 500);
  server_.press(1);
  server_.moveTo(area_.x + 300, area_.y + 500);
  server_.release(1);
  const float dragged = static_cast<float>(0.0 - 100 * 0.008 * 0.1);
  g = displayGeometry(400, 300, 512, 512, kAreaWidth, kAreaHeight, static_cast<float>(2.0f + 0.1),
                      dragged, 0);
  EXPECT_TRUE(x11test::waitUntil(
      [&] {
        return colourNear(g.rectangle[0][0], kOverviewOffsetY, {255, 0, 0}, 1);
      },
      milliseconds(5000)));
}

TEST_F(Gui, ABrokenFileKeepsTheShownPictureAndItsResult) {
  const std::string photo = kSource + "/data/samples/astronaut-q20.jpg";
  const std::string broken = work_ + "/broken.jpg";
  // Cut in its tables, before any scan data: nothing to show.
  std::ofstream(broken, std::ios::binary) << readFile(photo).substr(0, 400);
  startProgram();
  loadAndClean(photo);
  pointIntoGraphicsArea();
  server_.key("c");  // a panned view, which a failed load must not reset
  barrier();
  const std::vector<Rgb> before = shotOf(area_);
  answer(broken);
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return logCount("The file cannot be opened!") == 1; },
                                 milliseconds(20000)));
  // An error box that names the file after the first line.
  EXPECT_EQ(logCount("--error"), 1);
  EXPECT_EQ(logCount("--text=The file cannot be opened!\\n" + broken + "\\n"), 1) << readFile(log_);
  barrier();
  EXPECT_TRUE(shotOf(area_) == before) << "the panels changed";
  // The result is still there to save, and the input is still the photo's.
  answer(work_ + "/kept.bmp");
  clickControl("3. Save output");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return fileExists(work_ + "/kept.bmp"); }, milliseconds(10000)));
  EXPECT_TRUE(program_.running());
}

// A hostile file: its name, its bytes and the reason the error box gives.
struct HostileFile {
  std::string name, bytes, reason;
};

// Small hostile files made from a good photo, PNG and BMP, one for each of the
// checks in front of the image library.
std::vector<HostileFile> hostileFiles(const std::string& photo) {
  std::vector<HostileFile> files;
  const std::string jpeg = readFile(photo);
  const size_t scan = jpeg.find("\xFF\xDA");
  const size_t frame = jpeg.find("\xFF\xC0");
  if (scan == std::string::npos || frame == std::string::npos) return files;
  files.push_back(
      {"cut-before-scan.jpg", jpeg.substr(0, scan), "damaged JPEG file: file ends early"});
  std::string huge = jpeg;
  for (int k = 5; k <= 8; ++k) huge[frame + k] = '\xFF';  // 65535 x 65535
  files.push_back({"huge.jpg", huge, "picture too large: 65535 x 65535 pixels"});

  std::vector<uint8_t> rgb(24 * 16 * 3, 90), png;
  if (!encodePixels(rgb.data(), 24, 16, ImageFormat::kPng, &png).ok()) return {};
  const std::string good(png.begin(), png.end());
  std::string badCrc = good;
  badCrc[8 + 8 + 13] ^= 0x55;  // the header chunk's checksum
  files.push_back({"bad-crc.png", badCrc, "damaged PNG file: checksum error"});
  std::string longChunk = good.substr(0, 33);  // signature and header chunk
  longChunk += std::string("\x7F\xFF\xFF\xF0IDAT", 8) + "xx";
  files.push_back(
      {"chunk-past-end.png", longChunk, "damaged PNG file: it ends before the IEND chunk"});

  std::vector<uint8_t> pixels(64 * 48 * 3, 120), bmp;
  if (!encodePixels(pixels.data(), 64, 48, ImageFormat::kBmp, &bmp).ok()) return {};
  files.push_back({"short.bmp", std::string(bmp.begin(), bmp.begin() + bmp.size() / 2),
                   "damaged BMP file: pixel data cut short"});

  // Little-endian TIFF whose first directory lies far past the end.
  files.push_back({"ifd-past-end.tif", std::string("II*\0\xF0\xFF\xFF\x7F\0\0\0\0", 12),
                   "damaged TIFF file: an offset points outside the file"});
  files.push_back({"empty.jpg", "", "the file is empty"});
  std::string noise(3000, '\0');
  unsigned state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  files.push_back({"noise.png", noise, "unsupported image format"});
  return files;
}

TEST_F(Gui, HostileFilesOneAfterAnotherKeepTheShownPicture) {
  const std::string photo = kSource + "/data/samples/astronaut-q20.jpg";
  std::vector<std::pair<std::string, std::string>> files;  // path and reason
  for (const HostileFile& f : hostileFiles(photo)) {
    files.emplace_back(work_ + "/" + f.name, f.reason);
    std::ofstream(files.back().first, std::ios::binary) << f.bytes;
  }
  ASSERT_EQ(files.size(), 8u);
  // A file the fuzzing once found to hang the JPEG reading.
  files.emplace_back(
      kSource + "/tests/data/fuzz/load_picture/hang-comment-past-end-after-frame.jpg",
      "damaged JPEG file: file ends early");
  startProgram();
  loadAndClean(photo);
  barrier();
  const std::vector<Rgb> before = shotOf(area_);
  int boxes = 0;
  for (const auto& [path, reason] : files) {
    SCOPED_TRACE(path);
    answer(path);
    clickControl("1. Load input ");
    ++boxes;
    ASSERT_TRUE(x11test::waitUntil(
        [&] { return logCount("The file cannot be opened!") == boxes || !program_.running(); },
        milliseconds(20000)));
    ASSERT_TRUE(program_.running()) << readFile(work_ + "/stderr");
    EXPECT_EQ(logCount("--text=The file cannot be opened!\\n" + path + "\\n" + reason + "\n"), 1)
        << readFile(log_);
    // A failed load draws nothing: two presses of space make the window
    // draw what it now holds, the input in the right panel and back again.
    pointIntoGraphicsArea();
    server_.key("space");
    ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(area_) != before; }, milliseconds(5000)))
        << "no result to flip";
    server_.key("space");
    ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(area_) == before; }, milliseconds(5000)))
        << "the panels changed";
  }
  EXPECT_EQ(logCount("--error"), boxes);
  // The result of the photo is still there to save.
  answer(work_ + "/kept.bmp");
  clickControl("3. Save output");
  EXPECT_TRUE(
      x11test::waitUntil([&] { return fileExists(work_ + "/kept.bmp"); }, milliseconds(10000)));
  EXPECT_TRUE(program_.running());
}

TEST_F(Gui, ABrokenFirstFileLeavesOnlyTheLogoAndNothingToSave) {
  const std::string broken = work_ + "/broken.jpg";
  std::ofstream(broken, std::ios::binary)
      << readFile(kSource + "/data/samples/astronaut-q20.jpg").substr(0, 400);
  answer(broken);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return logCount("The file cannot be opened!") == 1; },
                                 milliseconds(20000)));
  EXPECT_FALSE(pictureShown());
  // Cleaning and saving now do nothing, and the save opens no dialog.
  answer(work_ + "/nothing.bmp");
  clickControl("2. Clean       ");
  clickControl("3. Save output");
  barrier();
  EXPECT_EQ(logCount("--save"), 0);
  EXPECT_FALSE(fileExists(work_ + "/nothing.bmp"));
  EXPECT_TRUE(program_.running());
}

TEST_F(Gui, SaveBeforeCleanWritesNothingAndAPngNameWritesNuboCleansPixels) {
  const std::string photo = kSource + "/data/samples/astronaut-q20.jpg";
  answer(photo);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  clickControl("3. Save output");
  barrier();
  EXPECT_EQ(logCount("--save"), 0) << "a save dialog opened before the clean";
  EXPECT_EQ(std::system(("ls '" + work_ + "' | grep -qi -e bmp -e png").c_str()) == 0, false);
  clickControl("2. Clean       ");
  barrier();
  answer(work_ + "/out.PNG");
  clickControl("3. Save output");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return fileExists(work_ + "/out.PNG"); }, milliseconds(20000)));
  barrier();
  EXPECT_FALSE(fileExists(work_ + "/out.PNG.bmp"));
  const std::string reference = work_ + "/reference.png";
  const std::string command = "cd '" + work_ + "' && '" + kBinary + "/nubo-clean' --force '" +
                              photo + "' '" + reference + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  DecodedImage ours, theirs;
  ASSERT_TRUE(decodeImageFile(work_ + "/out.PNG", &ours).ok());
  ASSERT_TRUE(decodeImageFile(reference, &theirs).ok());
  EXPECT_EQ(readFile(work_ + "/out.PNG").substr(1, 3), "PNG");
  EXPECT_EQ(ours.width, theirs.width);
  EXPECT_EQ(ours.height, theirs.height);
  EXPECT_TRUE(ours.rgb == theirs.rgb) << "the saved PNG's pixels differ from nubo-clean's";
}

TEST_F(Gui, AnAppendedNameIsReplacedOnlyAfterAQuestion) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/good.bmp";
  writeQuadrantBmp(picture, 64, 48, quadrant);
  const std::string existing = work_ + "/gui_z.bmp";
  std::ofstream(existing) << "old";
  startProgram();
  loadAndClean(picture);
  // "gui_z" becomes gui_z.bmp, which exists: the first question is answered no.
  reply("no");
  reply("yes");
  answer(work_ + "/gui_z");
  clickControl("3. Save output");
  ASSERT_TRUE(x11test::waitUntil([&] { return logCount("--question") == 1; }, milliseconds(10000)));
  EXPECT_EQ(logCount("--text=" + existing + " already exists.\\nReplace it?"), 1) << readFile(log_);
  barrier();
  EXPECT_EQ(readFile(existing), "old");
  // Asked again and answered yes: replaced.
  answer(work_ + "/gui_z");
  clickControl("3. Save output");
  ASSERT_TRUE(x11test::waitUntil([&] { return readFile(existing).substr(0, 2) == "BM"; },
                                 milliseconds(10000)));
  EXPECT_EQ(logCount("--question"), 2);
  // A name that needs nothing appended, or one whose final name is new, is not asked about.
  answer(work_ + "/fresh");
  clickControl("3. Save output");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return fileExists(work_ + "/fresh.bmp"); }, milliseconds(10000)));
  EXPECT_EQ(logCount("--question"), 2);
}

TEST_F(Gui, SpaceFlipsTheRightPanelAndVShowsTheDifference) {
  const std::string photo = kSource + "/data/samples/astronaut-q20.jpg";
  answer(photo);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  const DisplayGeometry g = displayGeometry(512, 512, 512, 512, kAreaWidth, kAreaHeight, 2, 0, 0);
  const Rect left = panelArea(g, false), right = panelArea(g, true);
  // Before a clean space and v change nothing.
  const std::vector<Rgb> white = shotOf(right);
  pointIntoGraphicsArea();
  server_.key("space");
  server_.key("v");
  barrier();
  EXPECT_TRUE(shotOf(right) == white);

  clickControl("2. Clean       ");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) != white; }, milliseconds(30000)));
  barrier();
  const std::vector<Rgb> cleaned = shotOf(right);
  const std::vector<Rgb> input = shotOf(left);
  ASSERT_EQ(cleaned.size(), input.size());
  EXPECT_NE(cleaned, input);

  // Space: the right panel shows the input, in place (the left panel's pixels).
  pointIntoGraphicsArea();
  server_.key("space");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) != cleaned; }, milliseconds(5000)));
  barrier();
  // The panels' edges may fall a pixel apart on the screen: a pixel matches
  // when the left panel has it at the same place or one pixel away.
  const std::vector<Rgb> flipped = shotOf(right);
  const int w = right.w, h = right.h;
  size_t same = 0;
  for (int y = 1; y + 1 < h; ++y) {
    for (int x = 1; x + 1 < w; ++x) {
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy) {
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          found = flipped[y * w + x] == input[(y + dy) * w + x + dx];
        }
      }
      same += found;
    }
  }
  EXPECT_GT(same, static_cast<size_t>((w - 2) * (h - 2)) * 99 / 100)
      << same << " of " << (w - 2) * (h - 2);
  EXPECT_TRUE(shotOf(left) == input);
  server_.key("space");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) == cleaned; }, milliseconds(5000)));

  // v: grey on black, mostly black, lit where the cleaning changed the picture.
  server_.key("v");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) != cleaned; }, milliseconds(5000)));
  barrier();
  // Dark: changed by less than two grey levels (the colour round trip alone
  // moves Y by about one); lit: by more than four.
  size_t dark = 0, lit = 0, grey = 0;
  for (const Rgb& p : shotOf(right)) {
    dark += p.r < 2 * kDifferenceGain;
    lit += p.r > 4 * kDifferenceGain;
    grey += p.r == p.g && p.g == p.b;
  }
  const size_t total = cleaned.size();
  EXPECT_GT(dark, total / 2) << dark << " of " << total;
  EXPECT_GT(lit, total / 100) << lit << " of " << total;
  EXPECT_EQ(grey, total);
  EXPECT_TRUE(shotOf(left) == input);
  // v leaves it, and so does space; both back to the cleaned picture.
  server_.key("v");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) == cleaned; }, milliseconds(5000)));
  server_.key("v");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) != cleaned; }, milliseconds(5000)));
  server_.key("space");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) == cleaned; }, milliseconds(5000)));
  // A new clean shows the cleaned side again.
  server_.key("space");
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(right) != cleaned; }, milliseconds(5000)));
  clickControl("2. Clean       ");
  EXPECT_TRUE(x11test::waitUntil([&] { return shotOf(right) == cleaned; }, milliseconds(30000)));
}

TEST_F(Gui, WheelNotchesZoomAndTheSliderFollows) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/quadrants.bmp";
  writeQuadrantBmp(picture, 400, 300, quadrant);
  answer(picture);
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  const Rect s = panelLayout().control("Zoom");
  ASSERT_GT(s.w, 0);
  const Rect slider = {frame_.x + kAreaWidth + s.x, frame_.y + s.y, s.w, s.h};
  barrier();
  const std::vector<Rgb> sliderAt2 = shotOf(slider);

  auto rectangleAt = [&](float zoomValue) {
    const DisplayGeometry g =
        displayGeometry(400, 300, 512, 512, kAreaWidth, kAreaHeight, zoomValue, 0, 0);
    return colourNear(g.rectangle[0][0], kOverviewOffsetY, {255, 0, 0}, 1) &&
           colourNear(g.rectangle[2][0], kOverviewOffsetY, {255, 0, 0}, 1);
  };
  // One notch up: x1.25; the slider moves.
  server_.click(area_.x + 400, area_.y + 300, 4);
  ASSERT_TRUE(x11test::waitUntil([&] { return rectangleAt(2.5f); }, milliseconds(5000)));
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(slider) != sliderAt2; }, milliseconds(5000)));
  // Two notches down: 1.6, with the slider back past 2.
  server_.click(area_.x + 400, area_.y + 300, 5);
  ASSERT_TRUE(x11test::waitUntil([&] { return shotOf(slider) == sliderAt2; }, milliseconds(5000)));
  EXPECT_TRUE(rectangleAt(2.0f));
  server_.click(area_.x + 400, area_.y + 300, 5);
  EXPECT_TRUE(x11test::waitUntil([&] { return rectangleAt(1.6f); }, milliseconds(5000)));
  // The wheel is no drag: a left drag afterwards still pans from the centre.
  EXPECT_TRUE(program_.running());
}

TEST_F(Gui, EscWithAnUnsavedResultAsksAndAfterASaveQuits) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/good.bmp";
  writeQuadrantBmp(picture, 64, 48, quadrant);
  startProgram();
  loadAndClean(picture);
  reply("no");
  pointIntoGraphicsArea();
  server_.key("Escape");
  ASSERT_TRUE(x11test::waitUntil([&] { return logCount("--question") == 1; }, milliseconds(10000)));
  EXPECT_EQ(logCount("Quit without saving it?"), 1);
  barrier();
  EXPECT_TRUE(program_.running());
  answer(work_ + "/saved.bmp");
  clickControl("3. Save output");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return fileExists(work_ + "/saved.bmp"); }, milliseconds(10000)));
  pointIntoGraphicsArea();
  server_.key("Escape");
  ASSERT_TRUE(x11test::waitUntil([&] { return !program_.running(); }, milliseconds(10000)));
  EXPECT_EQ(program_.exitStatus(), 0);
  EXPECT_EQ(logCount("--question"), 1);  // saved: not asked again
}

TEST_F(Gui, CtrlQQuitsAtOnceWithoutAResult) {
  startProgram();
  pointIntoGraphicsArea();
  server_.key("q", false, /*control=*/true);
  ASSERT_TRUE(x11test::waitUntil([&] { return !program_.running(); }, milliseconds(10000)));
  EXPECT_EQ(program_.exitStatus(), 0);
  EXPECT_EQ(logCount("--question"), 0);
}

TEST_F(Gui, ClosingWithAnUnsavedResultOffersToSaveIt) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/good.bmp";
  writeQuadrantBmp(picture, 64, 48, quadrant);
  startProgram();
  loadAndClean(picture);
  reply("yes");
  answer(work_ + "/at-close.png");
  server_.closeWindow(window_);
  ASSERT_TRUE(x11test::waitUntil([&] { return !program_.running(); }, milliseconds(10000)));
  EXPECT_EQ(program_.exitStatus(), 0);
  EXPECT_EQ(logCount("--question"), 1);
  EXPECT_TRUE(fileExists(work_ + "/at-close.png"));
}

TEST(GuiWithoutDisplay, VersionAndHelpPrintAndExitWithoutAWindow) {
  char folder[] = "/tmp/nubo-info-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string work = folder;
  const std::string nubo = kBinary + "/nubo";
  EXPECT_EQ(std::system(("env -u DISPLAY -u WAYLAND_DISPLAY '" + nubo + "' --version > '" + work +
                         "/version' 2>&1")
                            .c_str()),
            0);
  EXPECT_EQ(readFile(work + "/version"), "nubo 1.3\n");
  EXPECT_EQ(std::system(("env -u DISPLAY -u WAYLAND_DISPLAY '" + nubo + "' --help > '" + work +
                         "/help' 2>&1")
                            .c_str()),
            0);
  const std::string help = readFile(work + "/help");
  for (const char* word :
       {"Usage: nubo [PICTURE]", "Space", "Esc, Ctrl+Q", "wheel", "left drag", "--version"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word << "\n" << help;
  }
  std::system(("rm -rf '" + work + "'").c_str());
}

TEST_F(Gui, HelpBoxesDoNotBlockTheWindow) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/good.bmp";
  writeQuadrantBmp(picture, 64, 48, quadrant);
  answer("CANCEL");
  answer(picture);
  startProgram({}, /*holdBoxes=*/true);
  clickControl("Help");
  clickControl("Help");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return logCount("Keyboard Control") == 2; }, milliseconds(10000)));
  // With both boxes open the window still answers: a cancelled load changes
  // nothing, the next one loads.
  clickControl("1. Load input ");
  ASSERT_TRUE(
      x11test::waitUntil([&] { return logCount("--file-selection") == 1; }, milliseconds(10000)));
  usleep(300 * 1000);
  EXPECT_FALSE(pictureShown());
  clickControl("1. Load input ");
  EXPECT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  clickControl("About");
  EXPECT_TRUE(
      x11test::waitUntil([&] { return logCount("nubo ver. 1.3") == 1; }, milliseconds(10000)));
}

TEST_F(Gui, APictureNamedOnTheCommandLineIsLoadedAtStartUp) {
  startProgram({kSource + "/data/samples/astronaut-q20.jpg"});
  EXPECT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
}

TEST_F(Gui, AFailedSaveSaysSoAndAnOverLongPathIsRefused) {
  const Rgb quadrant[4] = {{0, 0, 200}, {0, 160, 0}, {220, 220, 0}, {160, 0, 160}};
  const std::string picture = work_ + "/good.bmp";
  writeQuadrantBmp(picture, 64, 48, quadrant);
  answer(std::string(300, 'a') + ".bmp");  // longer than the 255 bytes a path may have
  answer(picture);
  answer(work_ + "/no-such-folder/out.bmp");
  startProgram();
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil(
      [&] {
        return readFile(work_ + "/stderr").find("longer than 255 bytes") != std::string::npos;
      },
      milliseconds(10000)));
  EXPECT_FALSE(pictureShown());
  EXPECT_EQ(readFile(work_ + "/stdout"), "");  // treated as a cancel: nothing printed
  clickControl("1. Load input ");
  ASSERT_TRUE(x11test::waitUntil([&] { return pictureShown(); }, milliseconds(20000)));
  clickControl("2. Clean       ");  // only a cleaned picture is saved
  clickControl("3. Save output");
  EXPECT_TRUE(x11test::waitUntil([&] { return logCount("The file cannot be saved!") == 1; },
                                 milliseconds(10000)));
  EXPECT_EQ(logCount("--error"), 1);
  EXPECT_TRUE(program_.running());
}

TEST_F(Gui, FromAnotherFolderTheDataFolderIsFoundAndNamed) {
  const std::string elsewhere = work_ + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  startProgram({}, false, elsewhere, {{"NUBO_DATA_DIR", kSource + "/data"}});
  EXPECT_NE(readFile(work_ + "/stderr").find("nubo: data folder " + kSource + "/data"),
            std::string::npos)
      << readFile(work_ + "/stderr");
  // The logo comes from there too.
  const x11test::Shot logo = server_.capture({area_.x + 20, area_.y + 10, 130, 90});
  int coloured = 0;
  for (const Rgb& p : logo.pixels) coloured += !near(p, {255, 255, 255}, 10);
  EXPECT_GT(coloured, 200) << "no logo";
}

}  // namespace
}  // namespace nubo
