// The file layer: whole-file reading, atomic writing and codebook files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fileio/codebook_file.h"
#include "fileio/file_util.h"
#include "tests/test_codebooks.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;

// A fresh folder of its own under the test's temporary folder.
std::string freshDir() {
  std::string dir = ::testing::TempDir() + "/nubo_fileio_XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return dir;
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

TEST(FileUtil, ReadWholeFileHonoursTheCapAndRefusesFolders) {
  const std::string dir = freshDir();
  const std::string path = dir + "/five";
  const Bytes five = {1, 2, 3, 4, 5};
  ASSERT_TRUE(writeFileAtomically(path, five, false).ok());

  Bytes out;
  ASSERT_TRUE(readWholeFile(path, 5, &out).ok());
  EXPECT_EQ(out, five);

  Status s = readWholeFile(path, 4, &out);
  EXPECT_EQ(s.code(), StatusCode::kTooLarge);
  EXPECT_EQ(s.message(), "file too large");
  EXPECT_TRUE(out.empty());

  s = readWholeFile(dir, 100, &out);
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
  EXPECT_EQ(s.message(), "cannot open file: not a regular file");

  s = readWholeFile(dir + "/missing", 100, &out);
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
  EXPECT_EQ(s.message().rfind("cannot open file: ", 0), 0u) << s.message();
}

TEST(FileUtil, AtomicWriteNeedsAFileName) {
  for (const std::string& path : {std::string(), freshDir() + "/"}) {
    const Status s = writeFileAtomically(path, Bytes{'x'}, true);
    EXPECT_EQ(s.code(), StatusCode::kInvalidArgument) << path;
    EXPECT_EQ(s.message(), "no file name given") << path;
  }
}

TEST(CodebookFile, MissingFileSaysCantOpen) {
  Codebook cb;
  Status s = loadCodebook(&cb, "/nonexistent/folder/data");
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
  EXPECT_EQ(s.message(), "can't open file /nonexistent/folder/data");
  EXPECT_TRUE(cb.empty());

  // A folder cannot be opened as a codebook either.
  const std::string dir = freshDir();
  s = loadCodebook(&cb, dir);
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
  EXPECT_EQ(s.message(), "can't open file " + dir);
}

TEST(CodebookFile, WriterRoundTripsThroughAFile) {
  const CodebookTree tree = testing::randomTree(3, 4, 2);
  const std::string path = freshDir() + "/codebook.bin";
  ASSERT_TRUE(writeCodebook(tree, path).ok());
  Codebook fromFile;
  ASSERT_TRUE(loadCodebook(&fromFile, path).ok());
  EXPECT_EQ(fromFile.scaled, testing::codebookOf(tree).scaled);
  Bytes onDisk;
  ASSERT_TRUE(readWholeFile(path, 1 << 20, &onDisk).ok());
  EXPECT_EQ(onDisk, testing::bytesOf(tree));

  // A malformed tree is refused before anything is written: the old file stays.
  CodebookTree bad = tree;
  bad.children[3].patches.clear();
  EXPECT_FALSE(writeCodebook(bad, path).ok());
  Bytes after;
  ASSERT_TRUE(readWholeFile(path, 1 << 20, &after).ok());
  EXPECT_EQ(after, onDisk);
  const std::string fresh = path + ".new";
  EXPECT_FALSE(writeCodebook(bad, fresh).ok());
  EXPECT_FALSE(exists(fresh));
}

TEST(CodebookFile, DamagedFileNamesTheFileAndTheProblem) {
  Bytes bytes = testing::bytesOf(testing::randomTree(2, 2, 7));
  bytes.resize(100);  // inside the root record
  const std::string path = freshDir() + "/short.bin";
  ASSERT_TRUE(writeFileAtomically(path, bytes, false).ok());
  Codebook cb;
  const Status s = loadCodebook(&cb, path);
  EXPECT_EQ(s.code(), StatusCode::kInvalidData);
  EXPECT_EQ(
      s.message().rfind("codebook " + path + ": the file ends before the tree is complete", 0), 0u)
      << s.message();
  EXPECT_TRUE(cb.empty());
}

}  // namespace
}  // namespace nubo
