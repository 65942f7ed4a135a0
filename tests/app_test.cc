// Tests of the desktop program's shell that need no window: command-line
// splitting, the status-line update rule, and its fixed texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/control_panel.h"
#include "app/state.h"
#include "app/status_line.h"

namespace nubo {
namespace {

std::vector<std::string> split(const std::string& line, int* argc) {
  static char caption[] = "Nubo 1.3";
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  std::vector<char*> argv(kMaxArguments, reinterpret_cast<char*>(1));
  *argc = splitCommandLine(buffer.data(), caption, argv.data());
  std::vector<std::string> words;
  EXPECT_EQ(argv[0], caption);
  for (int k = 1; k < *argc; ++k) words.push_back(argv[k]);
  EXPECT_EQ(argv[*argc], nullptr);
  return words;
}

TEST(CommandLine, EmptyLineGivesTheProgramNameOnly) {
  int argc = 0;
  EXPECT_TRUE(split("", &argc).empty());
  EXPECT_EQ(argc, 1);
  EXPECT_TRUE(split("    ", &argc).empty());
  EXPECT_EQ(argc, 1);
}

TEST(CommandLine, SpacesSeparateAndProduceNoEmptyWords) {
  int argc = 0;
  EXPECT_EQ(split("  a   b ", &argc), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(argc, 3);
  EXPECT_EQ(split("-display :1 photo.jpg", &argc),
            (std::vector<std::string>{"-display", ":1", "photo.jpg"}));
}

TEST(CommandLine, TabsAndQuotesHaveNoMeaning) {
  int argc = 0;
  EXPECT_EQ(split("a\tb", &argc), (std::vector<std::string>{"a\tb"}));
  EXPECT_EQ(split("\"my photo.jpg\"", &argc), (std::vector<std::string>{"\"my", "photo.jpg\""}));
}

TEST(CommandLine, SplitsInPlaceAndIgnoresWordsBeyondTheArray) {
  std::string line;
  for (int k = 0; k < 1100; ++k) line += "w ";
  int argc = 0;
  const std::vector<std::string> words = split(line, &argc);
  EXPECT_EQ(argc, kMaxArguments - 1);
  EXPECT_EQ(words.size(), static_cast<size_t>(kMaxArguments - 2));

  char text[] = "ab cd";
  char name[] = "n";
  char* argv[kMaxArguments];
  splitCommandLine(text, name, argv);
  EXPECT_EQ(argv[1], text);  // words point into the line itself
  EXPECT_EQ(argv[2], text + 3);
  EXPECT_EQ(text[2], '\0');
}

TEST(StatusLine, AnEqualTextChangesNothing) {
  char current[kTextBytes] = "ready";
  EXPECT_FALSE(replaceStatusText(current, sizeof current, "ready"));
  EXPECT_TRUE(replaceStatusText(current, sizeof current, "Ready"));
  EXPECT_STREQ(current, "Ready");
  EXPECT_TRUE(replaceStatusText(current, sizeof current, "Ready."));
  EXPECT_FALSE(replaceStatusText(current, sizeof current, "Ready."));
}

TEST(StatusLine, FormatsBeforeTheStatusBarExists) {
  ASSERT_EQ(statusControl, nullptr);
  showStatus("Removing ringing...... %d0%%", 3);
  EXPECT_STREQ(statusText, "Removing ringing...... 30%");
  showStatus("%s", "ready");
  EXPECT_STREQ(statusText, "ready");
}

TEST(Texts, HelpTextKeepsItsSpacing) {
  const std::string help = kHelpText;
  EXPECT_EQ(help.rfind("Keyboard Control\n\n", 0), 0u);
  const char* lines[] = {" Zoom in    :", " Zoom out :",      " Up            :",
                         " Down       :", " Left          :", " Right        :"};
  const int spaces[] = {4, 1, 12, 7, 10, 8};
  for (int k = 0; k < 6; ++k) {
    EXPECT_NE(help.find(lines[k]), std::string::npos) << lines[k];
    const std::string line = lines[k];
    int run = 0;
    for (size_t i = line.size() - 2; line[i] == ' '; --i) ++run;
    EXPECT_EQ(run, spaces[k]) << lines[k];
  }
  EXPECT_NE(help.find("PageUp / \"a\""), std::string::npos);
  EXPECT_NE(help.find("Right / \"c\""), std::string::npos);
}

TEST(CommandLine, VersionAndHelpPrintAndEverythingElseOpensTheWindow) {
  auto run = [](std::vector<std::string> words, std::string* printed) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::FILE* out = std::tmpfile();
    const int status = printInformation(static_cast<int>(words.size()), argv.data(), "1.3", out);
    std::rewind(out);
    printed->clear();
    for (int c; (c = std::fgetc(out)) != EOF;) printed->push_back(static_cast<char>(c));
    std::fclose(out);
    return status;
  };
  std::string printed;
  EXPECT_EQ(run({"nubo", "--version"}, &printed), 0);
  EXPECT_EQ(printed, "nubo 1.3\n");
  EXPECT_EQ(run({"nubo", "--help"}, &printed), 0);
  EXPECT_EQ(printed, kUsageText);
  for (const char* word : {"PICTURE", "Space", "v ", "Esc, Ctrl+Q", "wheel", "left drag", ".png"}) {
    EXPECT_NE(printed.find(word), std::string::npos) << word;
  }
  // A picture, no argument, or an option only after the picture: the window starts.
  EXPECT_EQ(run({"nubo", "photo.jpg"}, &printed), -1);
  EXPECT_EQ(run({"nubo"}, &printed), -1);
  EXPECT_EQ(run({"nubo", "photo.jpg", "--version"}, &printed), -1);
  EXPECT_EQ(printed, "");
}

TEST(Texts, HelpTextTellsTheNewKeysBelowTheKeyTable) {
  const std::string help = kHelpText;
  const size_t table = help.find(" Right        : Right / \"c\"");
  ASSERT_NE(table, std::string::npos);
  for (const char* word : {"Space", " V :", "Wheel", "Esc, Ctrl+Q", ".png", ".bmp"}) {
    EXPECT_GT(help.find(word), table) << word;
  }
}

}  // namespace
}  // namespace nubo
