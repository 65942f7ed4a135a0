// Conventions shared by every Nubo command-line tool: --version, and exit
// status 0 on success, 1 when the work failed, 2 for a usage error, which is
// reported as one line on standard error with a pointer to --help.
#ifndef NUBO_TOOLS_CLI_UTIL_H_
#define NUBO_TOOLS_CLI_UTIL_H_

#include <CLI/CLI.hpp>
#include <string>

namespace nubo::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The release, "MAJOR.MINOR", as the build system knows it.
const char* version();

// Adds --version (prints "<app name> <version>" and exits 0) and the one-line
// usage-error message to app, whose name must be set.
void setUp(CLI::App* app);

// Parses argv. Returns -1 when the program should go on; otherwise the exit
// status: 0 after --help or --version (printed on standard output), 2 after a
// usage error (one line on standard error).
int parse(CLI::App* app, int argc, char** argv);

// Prints "<name>: <message> (see <name> --help)" on standard error and returns 2.
int usageError(const std::string& name, const std::string& message);

}  // namespace nubo::cli

#endif  // NUBO_TOOLS_CLI_UTIL_H_
