// Where command-line outputs go: standard output, descriptors, devices and
// pipes written as they are, regular files written atomically.
#include "tools/clean_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace nubo {
namespace {

namespace fs = std::filesystem;

class CleanRunOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nubo-clean-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(CleanRunOutput, KindsByName) {
  EXPECT_EQ(outputKindOf("-"), OutputKind::kStandardOutput);
  for (const char* name :
       {"/dev/stdout", "/dev/stderr", "/dev/fd/1", "/proc/self/fd/2", "/dev/null"}) {
    EXPECT_EQ(outputKindOf(name), OutputKind::kInPlace) << name;
  }
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(outputKindOf(fifo), OutputKind::kInPlace);
  // Regular files, existing or to be made, and names that only look special.
  std::ofstream(dir_ + "/old.bmp") << "old";
  for (const std::string& name : {dir_ + "/old.bmp", dir_ + "/new.bmp", std::string("./-"),
                                  std::string("/dev/fd/x"), dir_ + "/dev/stdout"}) {
    EXPECT_EQ(outputKindOf(name), OutputKind::kRegularFile) << name;
  }
}

TEST_F(CleanRunOutput, PipesAreWrittenInPlaceAndRegularFilesAtomically) {
  const std::vector<uint8_t> bytes{'B', 'M', 0, 1, 2, 255};
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read(fifo); });
  const Status status = writeOutput(fifo, bytes, /*overwrite=*/false);
  reader.join();
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(received, std::string(bytes.begin(), bytes.end()));
  struct stat info;
  ASSERT_EQ(stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));  // still the pipe, not replaced by a file

  const std::string file = dir_ + "/out.bmp";
  std::ofstream(file) << "old";
  EXPECT_FALSE(writeOutput(file, bytes, /*overwrite=*/false).ok());
  EXPECT_EQ(read(file), "old");
  EXPECT_TRUE(writeOutput(file, bytes, /*overwrite=*/true).ok());
  EXPECT_EQ(read(file), std::string(bytes.begin(), bytes.end()));
  EXPECT_TRUE(writeOutput("/dev/null", bytes, false).ok());
}

TEST_F(CleanRunOutput, DescriptorNamesWriteToThatDescriptor) {
  // /dev/fd/N of a descriptor open on a file goes on where the descriptor
  // stands, as a shell redirection would: nothing is truncated or replaced.
  const std::string file = dir_ + "/redirected";
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "head:", 5), 5);
  const std::vector<uint8_t> bytes{'p', 'i', 'c'};
  EXPECT_TRUE(writeOutput("/dev/fd/" + std::to_string(fd), bytes, false).ok());
  close(fd);
  EXPECT_EQ(read(file), "head:pic");
  EXPECT_FALSE(writeOutput("/dev/fd/987", bytes, false).ok());  // not open
}

}  // namespace
}  // namespace nubo
