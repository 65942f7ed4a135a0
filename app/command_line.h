// The desktop program's command line: the options that print and exit before
// any window opens, and the splitting of a Windows-style command line into an
// argument array, as the Windows entry point hands it to main (only the space
// character separates words: tabs belong to a word and quotation marks have no
// meaning).
#ifndef NUBO_APP_COMMAND_LINE_H_
#define NUBO_APP_COMMAND_LINE_H_

#include <cstdio>

namespace nubo {

// What "nubo --help" prints: the usage line, PICTURE, the keys and the mouse.
extern const char kUsageText[];

// When argv[1] is "--version" or "--help", prints the version line ("nubo"
// and version) or kUsageText to out and returns 0, the exit status; otherwise
// returns -1 and the window starts. Needs no display.
int printInformation(int argc, char** argv, const char* version, std::FILE* out);

// Room in the argument array, entry 0 and the terminating null included.
constexpr int kMaxArguments = 1024;

// Splits commandLine in place (each separating space after a word becomes a
// terminating zero) into argv: argv[0] = programName, then the words, then a
// null pointer. argv must have room for kMaxArguments entries; words beyond
// that room are ignored. Returns the argument count, 1 + the number of words.
int splitCommandLine(char* commandLine, char* programName, char** argv);

}  // namespace nubo

#endif  // NUBO_APP_COMMAND_LINE_H_
