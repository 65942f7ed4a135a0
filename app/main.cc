// The desktop program's entry point and start-up sequence.
#include <GL/freeglut.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/control_panel.h"
#include "app/handlers.h"
#include "app/session.h"
#include "app/state.h"
#include "app/status_line.h"
#include "platform/platform.h"
#include "toolkit/glui.h"
#include "view/display.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace nubo {

namespace {

const char kProgramName[] = "Nubo";
const char kMajorVersion[] = "1";
const char kMinorVersion[] = "3";

const char kAboutLines[] =
    "nubo ver. 1.3\n\n"
    "Removes the ringing that JPEG compression leaves beside sharp edges,\n"
    "with a tree-structured vector-quantisation codebook.\n\n"
    "Written by the Nubo developers.\n\n"
    "Copyright (C) 2026 the Nubo developers. All rights reserved.\n\n"
    "Homepage: the Nubo source repository (README.md)\n\n"
    "Contact: the Nubo issue tracker";

// A picture named on the command line, loaded once the event loop runs.
const char* startupPicture = nullptr;

void loadStartupPicture(int /*unused*/) {
  if (startupPicture == nullptr) return;
  if (std::strlen(startupPicture) >= static_cast<size_t>(kPathBytes)) {
    std::fprintf(stderr, "nubo: the picture path is longer than %d bytes: %s\n", kPathBytes - 1,
                 startupPicture);
    showStatus("The picture path is longer than %d bytes; nothing was loaded", kPathBytes - 1);
    return;
  }
  loadPicture(startupPicture);
}

void initDefaults() {
  windowWidth = 800;
  windowHeight = 600;
  std::snprintf(windowCaption, sizeof windowCaption, "%s %s.%s", kProgramName, kMajorVersion,
                kMinorVersion);
  aspectRatio = static_cast<float>(windowWidth) / static_cast<float>(windowHeight);
  std::strncat(aboutText, kAboutLines, sizeof aboutText - std::strlen(aboutText) - 1);
  fieldOfView = 60.0f;
  view = NavigationState();
  smoothNonEdge = 0;
  dragGain = kDragGain;
  showStatus("Ready.");
  platform::getCurrentDirectory(homeDirectory, sizeof homeDirectory);
  initCodebook();
}

}  // namespace

int nuboMain(int argc, char** argv) {
  const int printed = printInformation(argc, argv, NUBO_VERSION, stdout);
  if (printed >= 0) return printed;
  initDefaults();
  glutInit(&argc, argv);
  glutInitWindowSize(windowWidth, windowHeight);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  char title[kTextBytes];
  std::snprintf(title, sizeof title, "%s", windowCaption);
  mainWindow = glutCreateWindow(title);
  initGlState(fieldOfView, aspectRatio);
  loadLogo();
  buildControlPanel();
  glutDisplayFunc(onDisplay);
  GLUI_Master.set_glutReshapeFunc(onReshape);
  GLUI_Master.set_glutMouseFunc(onMouse);
  GLUI_Master.set_glutKeyboardFunc(onKeyboard);
  GLUI_Master.set_glutSpecialFunc(onSpecialKey);
  glutMotionFunc(onMotion);
  // Closing the window ends the event loop instead of the process, after onWindowClose.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  glutCloseFunc(onWindowClose);
  // What GLUT left of the command line: a picture to open, as "Open with" passes it.
  if (argc > 2) std::fprintf(stderr, "nubo: opening %s only\n", argv[1]);
  if (argc > 1) {
    startupPicture = argv[1];
    glutTimerFunc(0, loadStartupPicture, 0);
  }
  glutMainLoop();
  // Message boxes may still be open on threads of their own: end without
  // running static destructors under them.
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace nubo

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  static char* argv[nubo::kMaxArguments];
  const int argc = nubo::splitCommandLine(commandLine, nubo::windowCaption, argv);
  return nubo::nuboMain(argc, argv);
}
#else
int main(int argc, char** argv) { return nubo::nuboMain(argc, argv); }
#endif
