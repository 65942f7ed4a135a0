// Tests of the logo tool and the shipped logo: data/logo.bmp is what
// nubo-logo draws, DevIL reads it as a 256 x 182 picture on white with a blue
// cloud and dark letters, and the icons are square PNGs of the asked size.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "gtest/gtest.h"
#include "imageio/image_io.h"

namespace nubo {
namespace {

const std::string kTool = std::string(NUBO_BINARY_DIR) + "/nubo-logo";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Exit status of the tool run with arguments (no shell-special characters).
int runTool(const std::string& arguments) {
  int status = std::system((kTool + " " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Pixel {
  int r, g, b;
};

// Pixel (x, y) counted from the top row.
Pixel at(const DecodedImage& image, int x, int y) {
  const uint8_t* p = &image.rgb[(static_cast<size_t>(image.height - 1 - y) * image.width + x) * 3];
  return {p[0], p[1], p[2]};
}

class LogoTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nubo-logo-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

TEST_F(LogoTest, ShippedLogoIsWhatTheToolDraws) {
  ASSERT_EQ(runTool(dir_ + "/logo.bmp"), 0);
  std::string drawn = readFile(dir_ + "/logo.bmp");
  EXPECT_EQ(drawn.size(), 54u + 256 * 3 * 182);  // 24-bit, rows of 768 bytes need no padding
  EXPECT_EQ(drawn, readFile(std::string(NUBO_SOURCE_DIR) + "/data/logo.bmp"))
      << "run scripts/make-logo.sh after changing the logo";
}

TEST_F(LogoTest, LogoIsACloudAndAWordOnWhite) {
  DecodedImage logo;
  Status status = decodeImageFile(std::string(NUBO_SOURCE_DIR) + "/data/logo.bmp", &logo);
  ASSERT_TRUE(status.ok()) << status.message();
  ASSERT_EQ(logo.width, 256);
  ASSERT_EQ(logo.height, 182);
  for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {0, 181}, {255, 181}}) {
    Pixel p = at(logo, x, y);
    EXPECT_EQ(p.r + p.g + p.b, 3 * 255) << x << "," << y;
  }
  Pixel cloud = at(logo, 128, 60);  // inside the largest circle
  EXPECT_GT(cloud.b, cloud.r + 20);
  Pixel stem = at(logo, 128 - 66, 150);  // the N's left stem
  EXPECT_LT(stem.r + stem.g + stem.b, 3 * 128);
}

TEST_F(LogoTest, IconsAreSquarePngs) {
  for (int size : {16, 47, 48, 256}) {
    std::string path = dir_ + "/icon" + std::to_string(size) + ".png";
    ASSERT_EQ(runTool("--icon " + std::to_string(size) + " " + path), 0);
    std::string bytes = readFile(path);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    DecodedImage icon;
    Status status = decodeImageFile(path, &icon);
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(icon.width, size);
    EXPECT_EQ(icon.height, size);
  }
}

TEST_F(LogoTest, BadArgumentsAreRefused) {
  EXPECT_EQ(runTool("--icon 15 " + dir_ + "/a.png"), 2);
  EXPECT_EQ(runTool("--icon 257 " + dir_ + "/a.png"), 2);
  EXPECT_EQ(runTool("--icon 32x " + dir_ + "/a.png"), 2);
  EXPECT_EQ(runTool(""), 2);
  EXPECT_EQ(runTool(dir_ + "/missing/logo.bmp"), 1);
}

}  // namespace
}  // namespace nubo
