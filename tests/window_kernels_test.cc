// The pass's four-pixel window kernels against the one-pixel code: the same
// bits in every lane, on real luminance and on values chosen to be awkward;
// and the band cleaner giving the same bytes with and without them.
#include "engine/window_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/banded.h"
#include "engine/colour.h"
#include "engine/ringing.h"
#include "engine/search.h"
#include "tests/test_codebooks.h"

namespace nubo {
namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Rows of 5 x kWidth values; the four pixels at columns j..j+3 of row 2.
constexpr int kWidth = 12;

// Checks the kernels on the windows of columns 2..5 of row 2 against
// patchMean, patchStdDev and normalisePatch; returns how many lanes had a
// deviation of 0 (flat windows, whose patch means nothing).
int checkFour(const std::vector<float>& rows, int j) {
  const float* centre = rows.data() + 2 * kWidth + j;
  float patches[4 * kPatchSize], means[4], devs[4], smoothMeans[4];
  normaliseFourAvx2(centre, kWidth, patches, means, devs);
  meanFourAvx2(centre, kWidth, smoothMeans);
  int flat = 0;
  for (int k = 0; k < 4; ++k) {
    float patch[kPatchSize];
    for (int e = 0; e < kPatchSize; ++e) patch[e] = rows[(e / 5) * kWidth + j + k - 2 + e % 5];
    const float m = static_cast<float>(patchMean(patch));
    const float s = static_cast<float>(patchStdDev(m, patch));
    EXPECT_TRUE(sameBits(means[k], m)) << "lane " << k << ": " << means[k] << " vs " << m;
    EXPECT_TRUE(sameBits(smoothMeans[k], m)) << "lane " << k;
    EXPECT_TRUE(sameBits(devs[k], s)) << "lane " << k << ": " << devs[k] << " vs " << s;
    if (s == 0.0f) {
      ++flat;
      continue;
    }
    normalisePatch(patch, m, s);
    for (int e = 0; e < kPatchSize; ++e) {
      EXPECT_TRUE(sameBits(patches[k * kPatchSize + e], patch[e]))
          << "lane " << k << " element " << e << ": " << patches[k * kPatchSize + e] << " vs "
          << patch[e];
    }
  }
  return flat;
}

TEST(WindowKernels, FourLanesGiveTheOnePixelBitsOnLuminanceAndAwkwardValues) {
  if (!windowVectorsEnabled()) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 rng(5);
  std::vector<float> rows(5 * kWidth);
  int flat = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const int kind = trial % 5;
    for (float& v : rows) {
      const int r = static_cast<int>(rng() % 256), g = static_cast<int>(rng() % 256),
                b = static_cast<int>(rng() % 256);
      switch (kind) {
        case 0:  // any colour
          v = rgbToLuma(r, g, b);
          break;
        case 1:  // two nearby levels: tiny deviations, many near-ties in rounding
          v = rgbToLuma(100 + r % 2, 100, 100 + b % 2);
          break;
        case 2:  // mostly flat, so some windows have no deviation at all
          v = rng() % 40 == 0 ? rgbToLuma(r, g, b) : rgbToLuma(7, 7, 7);
          break;
        case 3:  // values no luminance has: large, tiny, subnormal, negative
          v = std::ldexp(static_cast<float>(rng() % 2000) - 1000.0f,
                         static_cast<int>(rng() % 300) - 160);
          break;
        default:  // grey levels
          v = rgbToLuma(r, r, r);
      }
    }
    for (int j = 2; j + 3 < kWidth - 2; ++j) flat += checkFour(rows, j);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(flat, 100);  // flat windows were met
}

TEST(WindowKernels, LuminanceRowOfEveryColourIsRgbToLuma) {
  if (!windowVectorsEnabled()) GTEST_SKIP() << "no AVX2 here";
  constexpr int kPixels = 4099;  // not a multiple of 4
  std::vector<uint8_t> pixels(3 * kPixels);
  std::vector<float> y(kPixels);
  std::vector<uint8_t> grey(kPixels);
  for (bool bgr : {false, true}) {
    for (uint32_t first = 0; first < (1u << 24); first += kPixels) {
      for (int x = 0; x < kPixels; ++x) {
        const uint32_t c = (first + x) & 0xffffff;
        pixels[3 * x] = c >> 16;
        pixels[3 * x + 1] = (c >> 8) & 255;
        pixels[3 * x + 2] = c & 255;
      }
      const int done = lumaRowAvx2(pixels.data(), bgr, kPixels, y.data(), grey.data());
      ASSERT_EQ(done % 4, 0);
      ASSERT_GE(done, kPixels - 8);  // at most the last pixels left over
      ASSERT_LE(done, kPixels);
      for (int x = 0; x < done; ++x) {
        const uint8_t* p = &pixels[3 * x];
        const float want = bgr ? rgbToLuma(p[2], p[1], p[0]) : rgbToLuma(p[0], p[1], p[2]);
        ASSERT_TRUE(sameBits(y[x], want)) << "colour " << first + x << (bgr ? " bgr" : "");
        ASSERT_EQ(grey[x], static_cast<int>(static_cast<double>(want) * 255.0));
      }
    }
  }
  // Short rows: nothing read beyond them, the caller converts what is left.
  // (four pixels take 12 bytes, the kernel loads 16).
  EXPECT_EQ(lumaRowAvx2(pixels.data(), false, 6, y.data(), grey.data()), 4);
  EXPECT_EQ(lumaRowAvx2(pixels.data(), false, 5, y.data(), grey.data()), 0);
}

TEST(WindowKernels, FourPixelsAfterThePassArePixelAfterPass) {
  if (!windowVectorsEnabled()) GTEST_SKIP() << "no AVX2 here";
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> near(-0.1f, 1.1f);
  int grey = 0, kept = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    uint8_t rgb[12], in[12], out[12];
    float inputY[4], outputY[4];
    for (int k = 0; k < 4; ++k) {
      const int kind = static_cast<int>(rng() % 6);
      for (int c = 0; c < 3; ++c) rgb[3 * k + c] = static_cast<uint8_t>(rng() % 256);
      if (kind == 0) rgb[3 * k + 1] = rgb[3 * k + 2] = rgb[3 * k];  // grey
      inputY[k] = rgbToLuma(rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]);
      switch (kind) {
        case 1:  // unchanged
          outputY[k] = inputY[k];
          break;
        case 2:  // just off a level boundary, or beyond 0..1
          outputY[k] =
              std::nextafter(static_cast<float>(rng() % 257) / 255.0f, rng() % 2 ? 2.0f : -1.0f);
          break;
        case 3:
          outputY[k] = rng() % 2 ? std::numeric_limits<float>::quiet_NaN() : -0.0f;
          break;
        default:
          outputY[k] = inputY[k] + (near(rng) - 0.5f) * 0.16f;
      }
      grey += kind == 0;
      kept += kind == 1;
    }
    const bool convertAll = trial % 3 == 0, inBgr = trial % 2 == 0, outBgr = trial % 5 < 2;
    for (int k = 0; k < 4; ++k) {
      for (int c = 0; c < 3; ++c) in[3 * k + c] = rgb[3 * k + (inBgr ? 2 - c : c)];
    }
    afterPassFourAvx2(in, inBgr, inputY, outputY, convertAll, out, outBgr);
    for (int k = 0; k < 4; ++k) {
      uint8_t want[3];
      pixelAfterPass(rgb + 3 * k, inputY[k], outputY[k], convertAll, want);
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(out[3 * k + (outBgr ? 2 - c : c)], want[c])
            << "trial " << trial << " lane " << k << " channel " << c << " y " << outputY[k];
      }
    }
  }
  EXPECT_GT(grey, 1000);
  EXPECT_GT(kept, 1000);
}

// Sets a search path (and with it the pass's kernels) for one scope.
class PathScope {
 public:
  explicit PathScope(SearchPath path) : old_(searchPath()) { setSearchPath(path); }
  ~PathScope() { setSearchPath(old_); }

 private:
  SearchPath old_;
};

TEST(WindowKernels, BandsGiveTheSameBytesWithAndWithoutTheKernels) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  ThreadPool pool(2);
  std::mt19937 rng(9);
  for (int width : {5, 7, 8, 9, 10, 11, 12, 13, 19, 26, 41, 64, 67}) {
    const int height = 24 + width % 7;
    // Blocks of noise (edge blocks) among flat and gently sloping ones.
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const bool noisy = ((x / 8) * 3 + (y / 8)) % 4 == 1;
        for (int c = 0; c < 3; ++c) {
          px[(static_cast<size_t>(y) * width + x) * 3 + c] =
              noisy ? static_cast<uint8_t>(rng() % 256) : static_cast<uint8_t>(60 + x + c);
        }
      }
    }
    for (int variant = 0; variant < 4; ++variant) {
      CleanOptions options;
      options.smoothNonEdge = variant & 1;
      options.convertAll = variant & 2;
      auto run = [&](SearchPath path) {
        PathScope scope(path);
        std::vector<uint8_t> out(px.size());
        const ptrdiff_t row = static_cast<ptrdiff_t>(width) * 3;
        cleanInBands(RgbRows{px.data(), row, variant == 3}, MutableRgbRows{out.data(), row, false},
                     width, height, cb, options, &pool, {}, nullptr, 8);
        return out;
      };
      const std::vector<uint8_t> fast = run(SearchPath::kFastest);
      EXPECT_EQ(fast, run(SearchPath::kPortable)) << width << " wide, variant " << variant;
      EXPECT_NE(fast, px) << width << " wide, variant " << variant;  // the pass did something
    }
  }
}

}  // namespace
}  // namespace nubo
