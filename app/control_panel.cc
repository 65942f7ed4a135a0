// Control panel, status bar and the command dispatcher.
#include "app/control_panel.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "app/state.h"
#include "app/status_line.h"
#include "platform/platform.h"
#include "toolkit/glui.h"
#include "view/navigation.h"

namespace nubo {

// The spaces before the colons are uneven, as they have always been.
const char kHelpText[] =
    "Keyboard Control\n\n Zoom in    : PageUp / \"a\"\n Zoom out : PageDown / \"d\"\n"
    " Up            : Up / \"s\"\n Down       : Down / \"x\"\n Left          : Left / \"z\"\n"
    " Right        : Right / \"c\""
    "\n\nComparing in place\n"
    " Space : the right panel shows the input / the cleaned picture\n"
    " V : the right panel shows what the cleaning changed:\n"
    "       |Y out - Y in| x16, grey on black (V or Space: back)\n\n"
    "Mouse\n"
    " Wheel : zoom in / out (x1.25 a notch)\n"
    " Left drag : move the magnified region\n\n"
    "Other keys\n"
    " H : this help\n"
    " Esc, Ctrl+Q : quit (asks first when the cleaned picture is not saved)\n\n"
    "Saving\n"
    " 3. Save output works after 2. Clean. A name ending in .png is written as PNG;\n"
    " any other as BMP, with .bmp appended unless the name holds .bmp\n"
    " (an existing file of the appended name is replaced only when you say yes).";

namespace {

constexpr int kSmallButtonWidth = 41;     // Help, About
constexpr int kCommandButtonWidth = 103;  // the three numbered commands
constexpr int kSliderWidth = 160;

void onControlCallback(int id) { onControl(id); }

void startBox(const char* text, platform::MessageIcon icon) {
  const std::string body = text;
  const std::string caption = windowCaption;
  const bool started = platform::startDetachedThread(
      [body, caption, icon] { platform::showMessageBox(body, caption, icon); });
  if (!started) std::fputs("Error: creation menu.\n", stderr);
}

// Copies a chosen path into destination, or refuses one that does not fit.
bool takeChosenPath(const std::string& path, char* destination) {
  if (path.size() >= static_cast<size_t>(kPathBytes)) {
    std::fprintf(stderr, "nubo: the chosen path is longer than %d bytes: %s\n", kPathBytes - 1,
                 path.c_str());
    showStatus("The chosen path is longer than %d bytes; nothing was done", kPathBytes - 1);
    return false;
  }
  std::snprintf(destination, kPathBytes, "%s", path.c_str());
  return true;
}

bool runDialog(bool save, char* destination) {
  std::string path, error;
  const platform::DialogResult result =
      save ? platform::chooseFileToSave(windowCaption, {"BMP", "*.bmp"}, &path, &error)
           : platform::chooseFileToOpen(windowCaption, {"All", "*.*"}, &path, &error);
  switch (result) {
    case platform::DialogResult::kOk:
      return takeChosenPath(path, destination);
    case platform::DialogResult::kCancelled:
      return false;
    case platform::DialogResult::kFailed:
      std::fprintf(stderr, "nubo: no file dialog: %s\n", error.c_str());
      showStatus("No file dialog: %s", error.c_str());
      return false;
  }
  return false;
}

void resetView() {
  view.panX = view.panY = 0.0f;
  view.dragPanX = view.dragPanY = 0.0f;
  view.zoom = kDefaultZoom;
  if (zoomSlider != nullptr) zoomSlider->set_float_val(kDefaultZoom);
}

void loadCommand() {
  if (!chooseInputFile(chosenPath)) return;
  loadPicture(chosenPath);
}

void saveCommand() {
  if (!readyToSave()) return;
  if (!chooseOutputFile(chosenPath)) return;
  std::snprintf(outputPath, sizeof outputPath, "%s", chosenPath);
  std::printf("%s\n%s\n", outputPath, chosenPath);
  std::fflush(stdout);
  glutSetWindow(mainWindow);
  platform::setCurrentDirectory(homeDirectory);
  saveOutput();
}

}  // namespace

void startHelpBox() { startBox(kHelpText, platform::MessageIcon::kInformation); }
void startAboutBox() { startBox(aboutText, platform::MessageIcon::kNone); }

bool chooseInputFile(char* destination) { return runDialog(false, destination); }
bool chooseOutputFile(char* destination) { return runDialog(true, destination); }

void loadPicture(const char* path) {
  if (path != inputPath) std::snprintf(inputPath, sizeof inputPath, "%s", path);
  std::printf("%s\n%s\n", inputPath, path);
  std::fflush(stdout);
  glutSetWindow(mainWindow);
  platform::setCurrentDirectory(homeDirectory);
  // A file that cannot be loaded leaves the picture and the view as they were.
  if (!loadInput()) return;
  resetView();
  glutPostRedisplay();
}

void buildControlPanel() {
  controlPanel = GLUI_Master.create_glui_subwindow(mainWindow, GLUI_SUBWINDOW_RIGHT);
  statusBar = GLUI_Master.create_glui_subwindow(mainWindow, GLUI_SUBWINDOW_BOTTOM);
  addControlPanelContents(controlPanel, statusBar);
  controlPanel->set_main_gfx_window(mainWindow);
  statusBar->set_main_gfx_window(mainWindow);

  int x = 0, y = 0, w = 0, h = 0;
  GLUI_Master.get_viewport_area(&x, &y, &w, &h);
  glutReshapeWindow(2 * windowWidth - w, 2 * windowHeight - h);
}

void addControlPanelContents(GLUI* panel, GLUI* bar) {
  panel->bkgd_color.set(240, 240, 240);
  panel->set_text_color(50, 30, 75);
  bar->bkgd_color.set(220, 220, 220);
  bar->set_text_color(50, 30, 75);

  GLUI_Panel* top = panel->get_main_panel();
  panel->add_spacer_to_panel(top, 2);
  panel->add_spacer_to_panel(top, 8, true);
  panel->add_spacer_to_panel(top, 5);

  GLUI_Panel* boxes = panel->add_panel_to_panel(top, "", GLUI_PANEL_NONE);
  panel->add_column_to_panel(boxes, false);
  GLUI_Button* help = panel->add_button_to_panel(boxes, "Help", kHelpButton, onControlCallback);
  panel->add_column_to_panel(boxes, false);
  GLUI_Button* about = panel->add_button_to_panel(boxes, "About", kAboutButton, onControlCallback);
  for (GLUI_Button* button : {help, about}) {
    button->set_w(kSmallButtonWidth, true);
    button->set_alignment(GLUI_ALIGN_CENTER);
  }

  panel->add_spacer_to_panel(top, 5);
  panel->add_spacer_to_panel(top, 8, true);
  panel->add_spacer_to_panel(top, 10);

  panel->add_spacer_to_panel(top, 1);
  GLUI_Panel* commands = panel->add_panel_to_panel(top, "", GLUI_PANEL_NONE);
  GLUI_Button* load =
      panel->add_button_to_panel(commands, "1. Load input ", kLoadButton, onControlCallback);
  panel->add_spacer_to_panel(commands, 15);
  GLUI_Button* clean =
      panel->add_button_to_panel(commands, "2. Clean       ", kCleanButton, onControlCallback);
  panel->add_checkbox_to_panel(commands, "Smooth non-edge area", &smoothNonEdge, kSmoothCheckbox,
                               onControlCallback);
  panel->add_spacer_to_panel(commands, 15);
  GLUI_Button* save =
      panel->add_button_to_panel(commands, "3. Save output", kSaveButton, onControlCallback);
  for (GLUI_Button* button : {load, clean, save}) {
    button->set_w(kCommandButtonWidth, true);
    button->set_alignment(GLUI_ALIGN_CENTER);
  }
  panel->add_spacer_to_panel(top, 0);

  panel->add_spacer_to_panel(top, 18);
  panel->add_spacer_to_panel(top, 0, true);
  panel->add_spacer_to_panel(top, 8);
  panel->add_spacer_to_panel(top, 12);

  zoomSlider = panel->add_slider_to_panel(top, "Zoom", GLUI_SLIDER_FLOAT, &zoom, kMinZoom, kMaxZoom,
                                          kZoomSliderId, onControlCallback);
  zoomSlider->set_speed(1.0f);
  zoomSlider->set_w(kSliderWidth, true);
  zoomSlider->set_alignment(GLUI_ALIGN_CENTER);

  statusControl = bar->add_statictext(statusText);
  statusControl->set_w(windowWidth - 10, false);
  statusControl->set_alignment(GLUI_ALIGN_LEFT);
}

void onControl(int id) {
  const int previous = glutGetWindow();
  if (previous != mainWindow) glutSetWindow(mainWindow);
  switch (id) {
    case kHelpButton:
      startHelpBox();
      break;
    case kAboutButton:
      startAboutBox();
      break;
    case kZoomSliderId:
      showStatus("Zooming");
      glutPostRedisplay();
      break;
    case kSmoothCheckbox:
      showStatus(smoothNonEdge != 0 ? "Smooth the non-edge blocks" : "Retain the non-edge blocks");
      glutPostRedisplay();
      break;
    case kLoadButton:
      loadCommand();
      break;
    case kCleanButton:
      removeRinging();
      glutPostRedisplay();
      break;
    case kSaveButton:
      saveCommand();
      break;
    default:
      break;
  }
  // After a button or the checkbox the keyboard belongs to the picture again,
  // so that space and "v" compare instead of pressing the control once more.
  // The slider keeps it: its arrow keys step it.
  if (id != kZoomSliderId) GLUI_Master.activate(nullptr);
  if (previous != mainWindow) glutSetWindow(previous);
}

}  // namespace nubo
