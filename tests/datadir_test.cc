// Tests of the data-folder search: candidate order, the explicit folder, the
// installed folder found from the program's location, the source tree only
// for programs in the build folder, and the failure text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "datadir/data_dir.h"

namespace nubo {
namespace {

namespace fs = std::filesystem;
using Folders = std::vector<std::string>;

DataDirSources buildTreeSources() {
  DataDirSources s;
  s.environmentDir = "/env/data";
  s.executablePath = "/src/build/nubo-clean";
  s.buildDir = "/src/build";
  s.sourceDataDir = "/src/data";
  return s;
}

// A file-system test that accepts exactly the given folders.
std::function<bool(const std::string&)> only(std::set<std::string> usable) {
  return [usable](const std::string& dir) { return usable.count(dir) > 0; };
}

TEST(DataDir, CandidatesInSearchOrder) {
  EXPECT_EQ(dataDirCandidates(buildTreeSources()),
            (Folders{"data", "/env/data", "/src/share/nubo/data", "/src/data"}));
}

TEST(DataDir, ExplicitFolderIsTheOnlyCandidate) {
  DataDirSources s = buildTreeSources();
  s.explicitDir = "/mine";
  EXPECT_EQ(dataDirCandidates(s), Folders{"/mine"});
  const DataDirResult r = findDataDir(s, only({"data", "/src/data"}));
  EXPECT_EQ(r.dir, "");
  EXPECT_EQ(r.tried, Folders{"/mine"});
}

TEST(DataDir, InstalledFolderIsFoundFromTheProgramsLocation) {
  DataDirSources s;
  s.executablePath = "/opt/unpacked/usr/bin/nubo-clean";
  s.buildDir = "/src/build";
  s.sourceDataDir = "/src/data";
  EXPECT_EQ(dataDirCandidates(s), (Folders{"data", "/opt/unpacked/usr/share/nubo/data"}));
}

TEST(DataDir, SourceTreeOnlyForProgramsInTheBuildFolder) {
  DataDirSources s = buildTreeSources();
  s.executablePath = "/src/build/sub/nubo-clean";
  EXPECT_EQ(dataDirCandidates(s), (Folders{"data", "/env/data", "/src/build/share/nubo/data"}));
  s.executablePath = "/src/build/nubo-clean";
  s.buildDir = "/src/./build/";  // spelt differently, same folder
  EXPECT_EQ(dataDirCandidates(s).back(), "/src/data");
}

TEST(DataDir, EmptyAndRepeatedSourcesAreLeftOut) {
  DataDirSources s = buildTreeSources();
  s.environmentDir = "";
  s.startDataDir = "/src/data";
  EXPECT_EQ(dataDirCandidates(s), (Folders{"/src/data", "/src/share/nubo/data"}));
}

TEST(DataDir, RelativeOrMissingProgramPathAddsNothing) {
  DataDirSources s = buildTreeSources();
  s.executablePath = "nubo-clean";
  EXPECT_EQ(dataDirCandidates(s), (Folders{"data", "/env/data"}));
  s.executablePath = "";
  EXPECT_EQ(dataDirCandidates(s), (Folders{"data", "/env/data"}));
}

TEST(DataDir, FirstUsableFolderWins) {
  const DataDirSources s = buildTreeSources();
  DataDirResult r = findDataDir(s, only({"data", "/src/data"}));
  EXPECT_EQ(r.dir, "data");
  EXPECT_TRUE(r.firstChoice);
  EXPECT_EQ(r.tried, Folders{"data"});

  r = findDataDir(s, only({"/src/share/nubo/data", "/src/data"}));
  EXPECT_EQ(r.dir, "/src/share/nubo/data");
  EXPECT_FALSE(r.firstChoice);
  EXPECT_EQ(r.tried, (Folders{"data", "/env/data", "/src/share/nubo/data"}));
}

TEST(DataDir, OnlyUnusualFoldersAreWorthNaming) {
  DataDirSources s = buildTreeSources();
  EXPECT_TRUE(findDataDir(s, only({"data"})).usual);                  // below the current folder
  EXPECT_TRUE(findDataDir(s, only({"/src/share/nubo/data"})).usual);  // installed
  EXPECT_FALSE(findDataDir(s, only({"/env/data"})).usual);            // $NUBO_DATA_DIR
  EXPECT_FALSE(findDataDir(s, only({"/src/data"})).usual);            // the source tree
  EXPECT_FALSE(findDataDir(s, only({})).usual);
  s.explicitDir = "/mine";
  EXPECT_TRUE(findDataDir(s, only({"/mine"})).usual);  // asked for
}

TEST(DataDir, NothingUsableListsEveryFolderTried) {
  const DataDirResult r = findDataDir(buildTreeSources(), only({}));
  EXPECT_EQ(r.dir, "");
  EXPECT_FALSE(r.firstChoice);
  EXPECT_EQ(r.tried.size(), 4u);
  EXPECT_EQ(describeFailedSearch(r),
            "no codebook found in data, /env/data, /src/share/nubo/data or /src/data");
  DataDirResult one;
  one.tried = {"/x"};
  EXPECT_EQ(describeFailedSearch(one), "no codebook found in /x");
}

class DataDirFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "nubo-datadir-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_;
};

TEST_F(DataDirFiles, HoldsCodebookNeedsARegularFileNamedData) {
  EXPECT_FALSE(holdsCodebook(root_));
  fs::create_directory(root_ + "/data");  // a folder of that name is no codebook
  EXPECT_FALSE(holdsCodebook(root_));
  std::ofstream(root_ + "/data/data") << "x";
  EXPECT_TRUE(holdsCodebook(root_ + "/data"));
  EXPECT_FALSE(holdsCodebook(root_ + "/missing"));
}

TEST(DataDir, GathersThisProcesssSources) {
  ASSERT_EQ(setenv(kDataDirVariable, "/from/env", 1), 0);
  const DataDirSources s = gatherDataDirSources("/given");
  unsetenv(kDataDirVariable);
  EXPECT_EQ(s.explicitDir, "/given");
  EXPECT_EQ(s.environmentDir, "/from/env");
  EXPECT_EQ(fs::path(s.executablePath).filename(), "datadir_test");
  EXPECT_EQ(s.sourceDataDir, std::string(NUBO_SOURCE_DIR) + "/data");
  EXPECT_TRUE(gatherDataDirSources("").environmentDir.empty());
}

}  // namespace
}  // namespace nubo
