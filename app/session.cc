// Comparison keys, quitting and the window's close.
#include "app/session.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/control_panel.h"
#include "app/state.h"
#include "app/status_line.h"
#include "platform/platform.h"
#include "view/comparison.h"

namespace nubo {

namespace {

// Set once the program is ending: the close callback then has nothing to ask
// (freeglut calls it again when it tears the windows down).
bool quitting = false;

void apply(const ComparisonResult& result) {
  if (result.status != nullptr) showStatus("%s", result.status);
  if (result.redraw) glutPostRedisplay();
}

void showDifference() {
  if (comparison.cleaned && comparison.shown != RightPanel::kDifference &&
      !prepareDifferenceTexture()) {
    return;
  }
  apply(toggleDifference(&comparison));
}

}  // namespace

bool handleSessionKey(unsigned char key) {
  switch (key) {
    case ' ':
      apply(flipRightPanel(&comparison));
      return true;
    case 'v':
    case 'V':
      showDifference();
      return true;
    case kEscapeKey:
    case kCtrlQKey:
      requestQuit();
      return true;
    default:
      return false;
  }
}

void requestQuit() {
  if (resultUnsaved) {
    std::string error;
    switch (
        platform::askQuestion("The cleaned picture has not been saved.\nQuit without saving it?",
                              windowCaption, &error)) {
      case platform::Answer::kYes:
        break;
      case platform::Answer::kNo:
        showStatus("Not quit: 3. Save output keeps the cleaned picture");
        return;
      case platform::Answer::kFailed:
        std::fprintf(stderr, "nubo: cannot ask before quitting: %s\n", error.c_str());
        showStatus("Not quit: the cleaned picture is not saved (no box can ask: %s)",
                   error.c_str());
        return;
    }
  }
  quitting = true;
  glutLeaveMainLoop();
}

void onWindowClose() {
  if (quitting) return;
  quitting = true;
  statusControl = nullptr;  // the status bar is gone already
  if (!resultUnsaved) return;
  std::string error;
  const platform::Answer answer = platform::askQuestion(
      "The window is closing, and the cleaned picture has not been saved.\nSave it now?",
      windowCaption, &error);
  if (answer == platform::Answer::kFailed) {
    std::fprintf(stderr, "nubo: the cleaned picture was not saved (no box can ask: %s)\n",
                 error.c_str());
  }
  if (answer != platform::Answer::kYes || !chooseOutputFile(chosenPath)) return;
  std::snprintf(outputPath, sizeof outputPath, "%s", chosenPath);
  platform::setCurrentDirectory(homeDirectory);
  saveOutput();
}

}  // namespace nubo
