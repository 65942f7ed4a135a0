// Tests of the window's output name: what the save command writes for a chosen name.
#include "app/output_name.h"

#include <gtest/gtest.h>

#include <string>

namespace nubo {
namespace {

TEST(OutputName, PngNamesStayAndEveryOtherNameFollowsTheBmpRule) {
  struct Case {
    const char* chosen;
    const char* path;
    ImageFormat format;
    bool extended;
  };
  const Case cases[] = {
      {"x.png", "x.png", ImageFormat::kPng, false},
      {"dir/x.PNG", "dir/x.PNG", ImageFormat::kPng, false},
      {"x.Png", "x.Png", ImageFormat::kPng, false},
      {"a.bmp.png", "a.bmp.png", ImageFormat::kPng, false},
      {"gui_z", "gui_z.bmp", ImageFormat::kBmp, true},
      {"result.bmp", "result.bmp", ImageFormat::kBmp, false},
      {"result.BMP", "result.BMP", ImageFormat::kBmp, false},
      {"result.Bmp", "result.Bmp.bmp", ImageFormat::kBmp, true},
      {"photo.jpg", "photo.jpg.bmp", ImageFormat::kBmp, true},
      {"x.png.d/y", "x.png.d/y.bmp", ImageFormat::kBmp, true},  // the folder's dot does not count
  };
  for (const Case& c : cases) {
    OutputTarget target;
    ASSERT_TRUE(outputTarget(c.chosen, &target).ok()) << c.chosen;
    EXPECT_EQ(target.path, c.path) << c.chosen;
    EXPECT_EQ(target.format, c.format) << c.chosen;
    EXPECT_EQ(target.extended, c.extended) << c.chosen;
  }
}

TEST(OutputName, RefusesWhatCannotBeWrittenAndLeavesTheTargetAlone) {
  OutputTarget target;
  target.path = "kept";
  Status status = outputTarget("a.bmp.gif", &target);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(".gif"), std::string::npos) << status.message();
  // 252 bytes fit, but not with ".bmp" appended; a .png name of the same length does.
  status = outputTarget(std::string(252, 'a'), &target);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("too long"), std::string::npos);
  EXPECT_EQ(target.path, "kept");
  EXPECT_TRUE(outputTarget(std::string(248, 'a') + ".png", &target).ok());
  EXPECT_FALSE(outputTarget(std::string(252, 'a') + ".png", &target).ok());
}

TEST(OutputName, BmpExtensionRule) {
  auto apply = [](std::string path) {
    EXPECT_TRUE(applyBmpExtensionRule(&path));
    return path;
  };
  EXPECT_EQ(apply("result"), "result.bmp");
  EXPECT_EQ(apply("result.Bmp"), "result.Bmp.bmp");
  EXPECT_EQ(apply("result.png"), "result.png.bmp");
  EXPECT_EQ(apply("a.bmp.png"), "a.bmp.png");
  EXPECT_EQ(apply("A.BMP"), "A.BMP");
  EXPECT_EQ(apply("dir.bmp/result"), "dir.bmp/result");
  EXPECT_EQ(apply(""), ".bmp");

  std::string fits(251, 'x');  // 251 + 4 = 255 bytes
  EXPECT_TRUE(applyBmpExtensionRule(&fits));
  EXPECT_EQ(fits.size(), 255u);
  std::string tooLong(252, 'x');
  EXPECT_FALSE(applyBmpExtensionRule(&tooLong));
  EXPECT_EQ(tooLong, std::string(252, 'x'));
}

}  // namespace
}  // namespace nubo
