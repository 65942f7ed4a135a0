// Splitting of a Windows-style command line into an argument array, as the
// Windows entry point hands it to main. Only the space character separates
// words: tabs belong to a word and quotation marks have no meaning.
#ifndef NUBO_APP_COMMAND_LINE_H_
#define NUBO_APP_COMMAND_LINE_H_

namespace nubo {

// Room in the argument array, entry 0 and the terminating null included.
constexpr int kMaxArguments = 1024;

// Splits commandLine in place (each separating space after a word becomes a
// terminating zero) into argv: argv[0] = programName, then the words, then a
// null pointer. argv must have room for kMaxArguments entries; words beyond
// that room are ignored. Returns the argument count, 1 + the number of words.
int splitCommandLine(char* commandLine, char* programName, char** argv);

}  // namespace nubo

#endif  // NUBO_APP_COMMAND_LINE_H_
