// Command-line options and splitting.
#include "app/command_line.h"

#include <cstring>

namespace nubo {

const char kUsageText[] =
    "Usage: nubo [PICTURE]\n"
    "       nubo --help | --version\n"
    "\n"
    "Opens the Nubo window, which removes the ringing that JPEG compression leaves\n"
    "beside sharp edges. PICTURE (JPEG, PNG, BMP, TIFF, ...) is loaded at start-up,\n"
    "as \"1. Load input\" loads it. Then \"2. Clean\" cleans it and \"3. Save output\"\n"
    "saves the result: a name ending in .png as PNG, any other as BMP (\".bmp\" is\n"
    "appended unless the name holds .bmp).\n"
    "\n"
    "Keys (graphics area):\n"
    "  PageUp, a / PageDown, d   zoom in / out\n"
    "  arrows; s x z c           move the magnified region\n"
    "  Space                     right panel: the input / the cleaned picture\n"
    "  v                         right panel: what the cleaning changed\n"
    "                            (|Y out - Y in| x16, grey on black); v or Space: back\n"
    "  h                         keyboard help\n"
    "  Esc, Ctrl+Q               quit (asks first when the cleaned picture is not saved)\n"
    "\n"
    "Mouse (graphics area):\n"
    "  wheel                     zoom in / out, x1.25 a notch\n"
    "  left drag                 move the magnified region\n"
    "\n"
    "Options:\n"
    "  --help                    print this help and exit\n"
    "  --version                 print the program's name and version and exit\n";

int printInformation(int argc, char** argv, const char* version, std::FILE* out) {
  if (argc < 2 || argv[1] == nullptr) return -1;
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fprintf(out, "nubo %s\n", version);
  } else if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsageText, out);
  } else {
    return -1;
  }
  std::fflush(out);
  return 0;
}

int splitCommandLine(char* commandLine, char* programName, char** argv) {
  int argc = 0;
  argv[argc++] = programName;
  char* p = commandLine;
  while (p != nullptr) {
    while (*p == ' ') ++p;
    if (*p == '\0') break;
    // The last slot is kept for the terminating null.
    if (argc < kMaxArguments - 1) argv[argc++] = p;
    while (*p != ' ' && *p != '\0') ++p;
    if (*p == '\0') break;
    *p++ = '\0';
  }
  argv[argc] = nullptr;
  return argc;
}

}  // namespace nubo
