// The window's clean against the command line's: the same bytes for every size
// around the block and band boundaries, option, band size and thread count, and
// both equal to the per-pixel rules applied to the whole-picture analysis.
#include "engine/banded.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/ringing.h"
#include "tests/test_codebooks.h"
#include "tests/test_images.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TestImage;

// Smooth areas, sharp steps (edge blocks next to flat ones) and noise.
std::vector<std::array<uint8_t, 3>> testPicture(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::array<uint8_t, 3>> px(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool bright = (x / 13 + y / 11) % 4 == 0;
      const int base = bright ? 190 : 30 + (x + y) % 40;
      const int noise = bright ? static_cast<int>(rng() % 25) : 0;
      px[static_cast<size_t>(y) * width + x] = {uint8_t(base + noise), uint8_t(base + noise / 2),
                                                uint8_t(rng() % 256)};
    }
  }
  return px;
}

// The picture area of a display buffer, top row first.
Bytes pictureBytes(const WorkingImage& img, const std::vector<uint8_t>& display) {
  Bytes out;
  for (int y = 0; y < img.imageHeight; ++y) {
    const uint8_t* row = display.data() + img.displayOffset(img.imageHeight - 1 - y, 0);
    out.insert(out.end(), row, row + img.imageWidth * 3);
  }
  return out;
}

// What the rules give, pixel by pixel, one search at a time, from the whole
// picture's luminance and edge blocks: cleanPixel and pixelAfterPass.
Bytes referencePass(const std::vector<std::array<uint8_t, 3>>& px, int width, int height,
                    const Codebook& cb, const CleanOptions& options) {
  const TestImage img = testing::makeImage(
      width, height, [&](int y, int x) { return px[static_cast<size_t>(y) * width + x]; });
  Bytes out;
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      const auto& in = px[static_cast<size_t>(i) * width + j];
      if (i < 2 || i >= height - 2 || j < 2 || j >= width - 2) {
        out.insert(out.end(), in.begin(), in.end());
        continue;
      }
      const float y = img.inputYiq[(static_cast<size_t>(i) * width + j) * 3];
      uint8_t rgb[3];
      pixelAfterPass(in.data(), y, cleanPixel(img, cb, options.smoothNonEdge, i, j),
                     options.convertAll, rgb);
      out.insert(out.end(), rgb, rgb + 3);
    }
  }
  return out;
}

// The window's clean: load into the display buffers, removeRinging on a pool,
// the picture area of outputDisplay (what the window saves).
Bytes windowPass(const std::vector<std::array<uint8_t, 3>>& px, int width, int height,
                 const Codebook& cb, const CleanOptions& options, ThreadPool* pool) {
  WorkingImage img = testing::makeImage(
      width, height, [&](int y, int x) { return px[static_cast<size_t>(y) * width + x]; });
  removeRinging(&img, cb, options, pool, {});
  return pictureBytes(img, img.outputDisplay);
}

// nubo-clean's pass: cleanInBands with the input stored bottom first in R, G, B
// and the output top first in B, G, R (the layouts of a decoded picture and of
// a BMP written top first), read back as RGB.
Bytes commandLinePass(const std::vector<std::array<uint8_t, 3>>& px, int width, int height,
                      const Codebook& cb, const CleanOptions& options, ThreadPool* pool,
                      int bandRows) {
  const size_t row = static_cast<size_t>(width) * 3;
  Bytes in(row * height), bgr(row * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto& p = px[static_cast<size_t>(y) * width + x];
      std::copy(p.begin(), p.end(), in.begin() + (height - 1 - y) * row + x * 3);
    }
  }
  RgbRows from{in.data() + (height - 1) * row, -static_cast<ptrdiff_t>(row), false};
  MutableRgbRows to{bgr.data(), static_cast<ptrdiff_t>(row), true};
  cleanInBands(from, to, width, height, cb, options, pool, {}, nullptr, bandRows);
  for (size_t k = 0; k < bgr.size(); k += 3) std::swap(bgr[k], bgr[k + 2]);
  return bgr;
}

TEST(OnePath, WindowEqualsCommandLineAroundBlockAndBandBoundaries) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  ThreadPool one(1), three(3);
  constexpr int kBand = 16;  // two block rows: sizes below cross band boundaries too
  const std::vector<int> sizes{1, 2, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33};
  int changed = 0;
  for (int width : sizes) {
    for (int height : sizes) {
      const auto px = testPicture(width, height, width * 100 + height);
      for (int variant = 0; variant < 4; ++variant) {
        CleanOptions options;
        options.smoothNonEdge = variant & 1;
        options.convertAll = variant & 2;
        const Bytes reference = referencePass(px, width, height, cb, options);
        const Bytes window = windowPass(px, width, height, cb, options, &three);
        ASSERT_EQ(window, reference) << width << "x" << height << " variant " << variant;
        ASSERT_EQ(windowPass(px, width, height, cb, options, &one), window);
        ASSERT_EQ(commandLinePass(px, width, height, cb, options, &one, kBand), window)
            << width << "x" << height << " variant " << variant;
        ASSERT_EQ(commandLinePass(px, width, height, cb, options, &three, kBand - 1), window)
            << width << "x" << height << " variant " << variant << ", 3 threads";
        ASSERT_EQ(commandLinePass(px, width, height, cb, options, &three, 0), window);
        if (variant == 0 && width > 4 && height > 4) {
          changed += commandLinePass(px, width, height, Codebook(), options, &one, kBand) != window;
        }
      }
    }
  }
  EXPECT_GT(changed, 10);  // the codebook really changes pixels, so the check has teeth
}

TEST(OnePath, LargerPictureWithManyBandsAndThreads) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 9, 5));
  // Neither size a multiple of 8; 301 rows make many of the window's bands.
  const int width = 203, height = 301;
  const auto px = testPicture(width, height, 42);
  ThreadPool pool(2);
  for (bool smooth : {false, true}) {
    CleanOptions options;
    options.smoothNonEdge = smooth;
    const Bytes window = windowPass(px, width, height, cb, options, &pool);
    EXPECT_EQ(window, referencePass(px, width, height, cb, options));
    for (int band : {8, 24, 64, 127, 0}) {
      EXPECT_EQ(commandLinePass(px, width, height, cb, options, &pool, band), window) << band;
    }
  }
}

TEST(OnePath, GreyPicturesGiveTheSameGreyBytesInBoth) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  const int width = 61, height = 75;
  auto px = testPicture(width, height, 9);
  for (auto& p : px) p[1] = p[2] = p[0];
  ThreadPool pool(2);
  for (bool convertAll : {false, true}) {
    CleanOptions options;
    options.convertAll = convertAll;
    const Bytes window = windowPass(px, width, height, cb, options, &pool);
    EXPECT_EQ(commandLinePass(px, width, height, cb, options, &pool, 16), window);
    int notGrey = 0;
    for (size_t k = 0; k < window.size(); k += 3) {
      notGrey += window[k] != window[k + 1] || window[k + 1] != window[k + 2];
    }
    if (convertAll) {
      EXPECT_GT(notGrey, 0);
    } else {
      EXPECT_EQ(notGrey, 0);
    }
  }
}

TEST(OnePath, WindowAndCommandLineReportTheSameTexts) {
  const auto px = testPicture(6, 103, 1);
  WorkingImage img = testing::makeImage(6, 103, [&](int y, int x) { return px[y * 6 + x]; });
  std::vector<std::string> window, commandLine;
  CleanOptions options;
  ThreadPool pool(2);
  removeRinging(&img, Codebook(), options, &pool,
                [&](const std::string& t) { window.push_back(t); });
  Bytes in(6 * 103 * 3), out(in.size());
  cleanInBands(
      RgbRows{in.data(), 18, false}, MutableRgbRows{out.data(), 18, false}, 6, 103, Codebook(),
      options, &pool, [&](const std::string& t) { commandLine.push_back(t); }, nullptr, 16);
  EXPECT_EQ(commandLine, window);
  EXPECT_EQ(window.front(), "Removing ringing......");
  EXPECT_EQ(window.back(), "Ready");
  EXPECT_EQ(window.size(), 12u);  // ten tenths, 10% to 100%
}

TEST(OnePath, CleanedLumaIsTheYOfThePass) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  const int width = 45, height = 39;
  const auto px = testPicture(width, height, 3);
  const TestImage base = testing::makeImage(
      width, height, [&](int y, int x) { return px[static_cast<size_t>(y) * width + x]; });
  for (bool smooth : {false, true}) {
    CleanOptions options;
    options.smoothNonEdge = smooth;
    options.threads = 2;
    WorkingImage img = base;
    const std::vector<float> y = testing::cleanedY(&img, cb, options);
    for (int i = 0; i < height; ++i) {
      for (int j = 0; j < width; ++j) {
        const size_t at = static_cast<size_t>(i) * width + j;
        const bool border = i < 2 || i >= height - 2 || j < 2 || j >= width - 2;
        ASSERT_EQ(y[at], border ? base.inputYiq[at * 3] : cleanPixel(base, cb, smooth, i, j))
            << i << "," << j;
      }
    }
  }
}

}  // namespace
}  // namespace nubo
