// Command-line splitting.
#include "app/command_line.h"

namespace nubo {

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
