// Tests of the window's load and save commands: the display buffers a load
// fills, a failed load after a good one, the format the save takes from the
// name, and atomic saving.
#include "app/picture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/working_image.h"
#include "engine/thread_pool.h"
#include "fileio/file_util.h"
#include "imageio/image_io.h"
#include "tests/test_image_files.h"

namespace nubo {
namespace {

using namespace test_files;

// A picture of the size of p loaded into a WorkingImage by hand, so that
// encoding can be tested on any outputDisplay content (including padding).
inline WorkingImage imageWithOutput(const Picture& p) {
  WorkingImage image;
  const Bytes rgb = bottomFirstRgb(p);
  EXPECT_TRUE(fillDisplayBuffers(rgb.data(), p.width, p.height, &image));
  image.outputDisplay = image.inputDisplay;
  return image;
}

// --- loadInput ---------------------------------------------------------------------

TEST(PictureFiles, LoadInputFillsDisplayBuffers) {
  const Picture p = randomPicture(11, 6, 5);
  const std::string path = tempDir() + "/load.png";
  writeFile(path, makeRgbPng(p));
  WorkingImage image;
  std::vector<std::string> texts;
  Status s = loadInput(path, &image, [&texts](const std::string& t) { texts.push_back(t); });
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(image.imageLoaded, 1);
  EXPECT_EQ(image.imageWidth, 11);
  EXPECT_EQ(image.imageHeight, 6);
  EXPECT_EQ(image.paddedWidth, 16);
  EXPECT_EQ(image.paddedHeight, 8);
  // The load's texts, as they always were (the edge blocks are the pass's now).
  EXPECT_EQ(texts,
            (std::vector<std::string>{"Preprocessing the contaminated image......",
                                      "Detecting edge in the contaminated image......", "ready"}));
  const Bytes rgb = bottomFirstRgb(p);
  for (int r = 0; r < image.paddedHeight; ++r) {
    for (int c = 0; c < image.paddedWidth; ++c) {
      for (int k = 0; k < 3; ++k) {
        const uint8_t in = image.inputDisplay[image.displayOffset(r, c) + k];
        const uint8_t out = image.outputDisplay[image.displayOffset(r, c) + k];
        if (r >= image.imageHeight || c >= image.imageWidth) {
          EXPECT_EQ(in, 255);  // padding
          EXPECT_EQ(out, 255);
          continue;
        }
        const uint8_t want = rgb[(static_cast<size_t>(r) * 11 + c) * 3 + k];
        EXPECT_EQ(in, want);
        const bool border =
            r < 2 || c < 2 || r >= image.imageHeight - 2 || c >= image.imageWidth - 2;
        EXPECT_EQ(out, border ? want : 255) << r << "," << c;
      }
    }
  }
}

TEST(PictureFiles, LoadOnAPoolGivesTheSameBuffers) {
  // Tall enough for many row tasks, widths around the two-pixel border.
  ThreadPool pool(3);
  for (int width : {1, 3, 4, 5, 37}) {
    const Picture p = randomPicture(width, 301, width);
    DecodedImage one, many;
    one.width = many.width = width;
    one.height = many.height = 301;
    one.rgb = many.rgb = bottomFirstRgb(p);
    WorkingImage alone, shared;
    ASSERT_TRUE(loadDecoded(&one, &alone, nullptr).ok());
    ASSERT_TRUE(loadDecoded(&many, &shared, nullptr, &pool).ok());
    EXPECT_EQ(shared.inputDisplay, alone.inputDisplay) << width;
    EXPECT_EQ(shared.outputDisplay, alone.outputDisplay) << width;
    EXPECT_TRUE(many.rgb.empty());  // the decoded pixels are given back
  }
}

TEST(PictureFiles, FailedLoadAfterGoodOneLeavesImageReleased) {
  const std::string good = tempDir() + "/good.bmp";
  const std::string bad = tempDir() + "/bad.png";
  writeFile(good, makeBmp(randomPicture(8, 8, 1), BmpLayout()));
  Bytes damaged = makeRgbPng(randomPicture(8, 8, 2));
  damaged.resize(damaged.size() / 2);
  writeFile(bad, damaged);
  for (const std::string& failing : {bad, tempDir() + "/missing.png"}) {
    WorkingImage image;
    ASSERT_TRUE(loadInput(good, &image, nullptr).ok());
    ASSERT_EQ(image.imageLoaded, 1);
    Status s = loadInput(failing, &image, nullptr);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.message().empty());
    EXPECT_EQ(s.message().find('\n'), std::string::npos);
    EXPECT_EQ(image.imageLoaded, 0);
    EXPECT_EQ(image.imageWidth, 0);
    EXPECT_EQ(image.paddedWidth, 0);
    EXPECT_TRUE(image.inputDisplay.empty());
    EXPECT_TRUE(image.outputDisplay.empty());
  }
}

// --- saving ------------------------------------------------------------------------

TEST(PictureFiles, SaveOutputChoosesFormatFromTheExtension) {
  const Picture p = randomPicture(7, 5, 13);
  WorkingImage image = imageWithOutput(p);
  const std::string dir = tempDir() + "/save";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);

  std::string path = dir + "/result";
  ASSERT_TRUE(saveOutput(image, &path).ok());
  EXPECT_EQ(path, dir + "/result.bmp");
  Bytes file = readFile(path);
  ASSERT_GE(file.size(), 2u);
  EXPECT_EQ(file[0], 'B');
  DecodedImage d;
  ASSERT_TRUE(decodeImageFile(path, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));

  path = dir + "/a.bmp.PNG";
  ASSERT_TRUE(saveOutput(image, &path).ok());
  EXPECT_EQ(path, dir + "/a.bmp.PNG");
  file = readFile(path);
  ASSERT_GE(file.size(), 8u);
  EXPECT_EQ(file[1], 'P');
  ASSERT_TRUE(decodeImageFile(path, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));

  // Saving again over the same file is allowed.
  ASSERT_TRUE(saveOutput(image, &path).ok());

  path = dir + "/a.bmp.tga";
  Status s = saveOutput(image, &path);
  EXPECT_EQ(s.message(), "unsupported output format");
  EXPECT_FALSE(exists(path));

  std::string longPath = dir + "/" + std::string(253 - dir.size() - 1, 'x');
  ASSERT_EQ(longPath.size(), 253u);
  const std::string before = longPath;
  s = saveOutput(image, &longPath);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(longPath, before);

  // Nothing loaded: nothing happens.
  WorkingImage empty;
  path = dir + "/nothing";
  EXPECT_TRUE(saveOutput(empty, &path).ok());
  EXPECT_EQ(path, dir + "/nothing");
  EXPECT_FALSE(exists(path + ".bmp"));
}

TEST(PictureFiles, AtomicWriteKeepsOldFileOnFailure) {
  const std::string dir = tempDir() + "/atomic";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  const std::string target = dir + "/keep.bmp";
  const Bytes old = {'o', 'l', 'd'};
  writeFile(target, old);

  // overwrite = false refuses an existing file and leaves it alone.
  Status s = writeFileAtomically(target, {'n', 'e', 'w'}, false);
  EXPECT_EQ(s.message(), "file exists");
  EXPECT_EQ(readFile(target), old);

  // A folder in the way of the target: the rename fails, nothing is left over.
  const std::string folderTarget = dir + "/folder.bmp";
  ASSERT_EQ(mkdir(folderTarget.c_str(), 0777), 0);
  const int before = entriesIn(dir);
  s = writeFileAtomically(folderTarget, {'n', 'e', 'w'}, true);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(s.message().empty());
  EXPECT_EQ(entriesIn(dir), before);

  // A folder that does not exist.
  s = writeFileAtomically(dir + "/no/such/folder/x.bmp", {'n'}, true);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.message().rfind("cannot create file: ", 0), 0u) << s.message();

  // Saving a picture into a missing folder reports and writes nothing.
  WorkingImage image = imageWithOutput(referencePicture());
  EXPECT_FALSE(savePicture(image, dir + "/missing/out.bmp", ImageFormat::kBmp, true).ok());

  // A successful overwrite replaces the content; the mode follows the umask.
  ASSERT_TRUE(writeFileAtomically(target, {'n', 'e', 'w'}, true).ok());
  EXPECT_EQ(readFile(target), (Bytes{'n', 'e', 'w'}));
  const mode_t mask = umask(022);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(entriesIn(dir), before);

  // overwrite = false creates a file that does not exist yet.
  const std::string fresh = dir + "/fresh.png";
  ASSERT_TRUE(savePicture(image, fresh, ImageFormat::kPng, false).ok());
  DecodedImage d;
  ASSERT_TRUE(decodeImageFile(fresh, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(referencePicture()));
}

}  // namespace
}  // namespace nubo
