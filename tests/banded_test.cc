// The band cleaner against the whole-picture pass: the same bytes for every
// size around the block and band boundaries, option and thread count.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/banded.h"
#include "engine/ringing.h"
#include "tests/test_codebooks.h"
#include "tests/test_images.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;

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

// The picture area of outputDisplay after the whole-picture pass, top row first.
Bytes wholePass(const std::vector<std::array<uint8_t, 3>>& px, int width, int height,
                const Codebook& cb, const CleanOptions& options) {
  WorkingImage img = testing::makeImage(
      width, height, [&](int y, int x) { return px[static_cast<size_t>(y) * width + x]; });
  removeRinging(&img, cb, options, {});
  Bytes out;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = img.outputDisplay.data() + img.displayOffset(height - 1 - y, 0);
    out.insert(out.end(), row, row + width * 3);
  }
  return out;
}

// The same through cleanInBands: input stored bottom first in R, G, B, output
// top first in B, G, R (the layouts the command line uses), read back as RGB.
Bytes bandedPass(const std::vector<std::array<uint8_t, 3>>& px, int width, int height,
                 const Codebook& cb, const CleanOptions& options, ThreadPool* pool, int bandRows) {
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

TEST(Banded, SameBytesAsTheWholePictureAroundBlockAndBandBoundaries) {
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
        options.threads = 1;
        const Bytes whole = wholePass(px, width, height, cb, options);
        ASSERT_EQ(bandedPass(px, width, height, cb, options, &one, kBand), whole)
            << width << "x" << height << " variant " << variant;
        ASSERT_EQ(bandedPass(px, width, height, cb, options, &three, kBand - 1), whole)
            << width << "x" << height << " variant " << variant << ", 3 threads";
        ASSERT_EQ(bandedPass(px, width, height, cb, options, &three, 0), whole);
        if (variant == 0 && width > 4 && height > 4) {
          changed += bandedPass(px, width, height, Codebook(), options, &one, kBand) != whole;
        }
      }
    }
  }
  EXPECT_GT(changed, 10);  // the codebook really changes pixels, so the check has teeth
}

TEST(Banded, LargerPictureWithManyBandsAndThreads) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 9, 5));
  const int width = 203, height = 301;  // neither a multiple of 8
  const auto px = testPicture(width, height, 42);
  ThreadPool pool(2);
  for (bool smooth : {false, true}) {
    CleanOptions options;
    options.smoothNonEdge = smooth;
    const Bytes whole = wholePass(px, width, height, cb, options);
    for (int band : {8, 24, 64, 127, 0}) {
      EXPECT_EQ(bandedPass(px, width, height, cb, options, &pool, band), whole) << band;
    }
  }
}

TEST(Banded, GreyPicturesGiveTheSameGreyBytesAsTheWholePicture) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  const int width = 61, height = 75;
  auto px = testPicture(width, height, 9);
  for (auto& p : px) p[1] = p[2] = p[0];
  ThreadPool pool(2);
  for (bool convertAll : {false, true}) {
    CleanOptions options;
    options.convertAll = convertAll;
    const Bytes whole = wholePass(px, width, height, cb, options);
    EXPECT_EQ(bandedPass(px, width, height, cb, options, &pool, 16), whole);
    int notGrey = 0;
    for (size_t k = 0; k < whole.size(); k += 3) {
      notGrey += whole[k] != whole[k + 1] || whole[k + 1] != whole[k + 2];
    }
    if (convertAll) {
      EXPECT_GT(notGrey, 0);
    } else {
      EXPECT_EQ(notGrey, 0);
    }
  }
}

TEST(Banded, ReportsTheTextsOfTheWholePass) {
  const auto px = testPicture(6, 103, 1);
  WorkingImage img = testing::makeImage(6, 103, [&](int y, int x) { return px[y * 6 + x]; });
  std::vector<std::string> whole, banded;
  CleanOptions options;
  removeRinging(&img, Codebook(), options, [&](const std::string& t) { whole.push_back(t); });
  Bytes in(6 * 103 * 3), out(in.size());
  ThreadPool pool(2);
  cleanInBands(RgbRows{in.data(), 18, false}, MutableRgbRows{out.data(), 18, false}, 6, 103,
               Codebook(), options, &pool, [&](const std::string& t) { banded.push_back(t); },
               nullptr, 16);
  EXPECT_EQ(banded, whole);
}

TEST(ThreadPool, RunsEveryIndexOnceAndReportsInOrder) {
  ThreadPool pool(3);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::atomic<int>> runs(37);
    std::vector<int> done;
    pool.run(
        37, [&](int i, int worker) {
          ASSERT_LT(worker, 3);
          ++runs[i];
        },
        [&](int i) { done.push_back(i); });
    for (auto& r : runs) ASSERT_EQ(r.load(), 1);
    ASSERT_EQ(done.size(), 37u);
    for (int i = 0; i < 37; ++i) ASSERT_EQ(done[i], i);
  }
}

}  // namespace
}  // namespace nubo
