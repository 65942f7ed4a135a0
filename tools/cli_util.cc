// Shared --version flag and usage-error reporting of the command-line tools.
#include "tools/cli_util.h"

#include <cstdio>

namespace nubo::cli {

namespace {

// CLI11's messages can span lines; usage errors must stay on one.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

const char* version() { return NUBO_VERSION; }

void setUp(CLI::App* app) {
  app->set_version_flag("--version", app->get_name() + " " + version(),
                        "print the program's name and version, then exit");
}

int parse(CLI::App* app, int argc, char** argv) {
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app->help().c_str(), stdout);
    return kExitOk;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return kExitOk;
    return usageError(app->get_name(), oneLine(e.what()));
  }
  return -1;
}

int usageError(const std::string& name, const std::string& message) {
  std::fprintf(stderr, "%s: %s (see %s --help)\n", name.c_str(), message.c_str(), name.c_str());
  return kExitUsage;
}

}  // namespace nubo::cli
