// Display buffers, the whole-picture analysis and the edge-block map.
#include "engine/preprocess.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/colour.h"
#include "tests/test_images.h"

namespace nubo {
namespace {

using testing::makeImage;
using testing::TestImage;

TEST(WorkingImage, PaddedSizesAndPaddingBytes) {
  EXPECT_EQ(paddedSize(1), 1);
  EXPECT_EQ(paddedSize(512), 512);
  EXPECT_EQ(paddedSize(513), 1024);
  EXPECT_EQ(paddedSize(300), 512);
  const TestImage img = makeImage(13, 6, [](int y, int x) {
    return std::array<uint8_t, 3>{uint8_t(y * 10), uint8_t(x), 7};
  });
  ASSERT_EQ(img.paddedWidth, 16);
  ASSERT_EQ(img.paddedHeight, 8);
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 16; ++c) {
      const size_t at = img.displayOffset(r, c);
      const bool picture = r < 6 && c < 13;
      const bool border = picture && (r < 2 || r >= 4 || c < 2 || c >= 11);
      for (int k = 0; k < 3; ++k) {
        if (!picture) {
          EXPECT_EQ(img.inputDisplay[at + k], 255);
          EXPECT_EQ(img.outputDisplay[at + k], 255);
        } else if (border) {
          EXPECT_EQ(img.outputDisplay[at + k], img.inputDisplay[at + k]);
        } else {
          EXPECT_EQ(img.outputDisplay[at + k], 255);
        }
      }
      if (picture) {
        // Display row 0 is the bottom picture row (y = 5).
        EXPECT_EQ(img.inputDisplay[at], (5 - r) * 10);
        EXPECT_EQ(img.inputDisplay[at + 1], c);
      }
    }
  }
}

TEST(Preprocess, SobelThresholdIsAMagnitudeAbove100) {
  // A vertical step of v grey levels gives gx = 4v beside it: 4 * 25 = 100 is
  // not an edge, 4 * 26 = 104 is.
  for (int v : {25, 26, 81, 255}) {
    std::vector<uint8_t> grey(10 * 10);
    for (int y = 0; y < 10; ++y) {
      for (int x = 5; x < 10; ++x) grey[y * 10 + x] = static_cast<uint8_t>(v);
    }
    const std::vector<uint8_t> mask = sobelEdgeMask(grey.data(), 10, 10);
    int edges = 0;
    for (uint8_t m : mask) edges += m;
    EXPECT_EQ(edges, v >= 26 ? 20 : 0) << v;
    if (v >= 26) {
      EXPECT_EQ(mask[0 * 10 + 4], 1);  // border rows replicate, so row 0 too
      EXPECT_EQ(mask[9 * 10 + 5], 1);
    }
  }
  // A diagonal case: gx = gy = 72 has magnitude 101.8, truncated 101.
  std::vector<uint8_t> corner(9, 0);
  corner[8] = 72;  // only the bottom-right neighbour of the centre is lit
  corner[5] = 18;
  corner[7] = 18;
  const std::vector<uint8_t> m = sobelEdgeMask(corner.data(), 3, 3);
  // centre: gx = (0+36+72)-(0) = 108, gy = (0+36+72) - 0 = 108
  EXPECT_EQ(m[4], 1);
}

TEST(Preprocess, OneEdgePixelMarksItsWholeBlockOnly) {
  // 24 x 17 grey picture, one bright pixel at (16, 19): row 16 is the third
  // block row on its own.
  const TestImage img = makeImage(24, 17, [](int y, int x) {
    const uint8_t v = (y == 16 && x == 19) ? 255 : 0;
    return std::array<uint8_t, 3>{v, v, v};
  });
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 24; ++x) {
      // The bright pixel lights the Sobel of its neighbours too, up to row 15
      // and columns 18..20: blocks (1, 2) and (2, 2).
      const bool expected = x >= 16 && y >= 8;
      EXPECT_EQ(img.edgeBlockMap[y * 24 + x], expected ? 1 : 0) << y << "," << x;
    }
  }
}

TEST(Preprocess, AnalysisHoldsTheYiqOfEveryPixelTopRowFirst) {
  const TestImage img = makeImage(9, 7, [](int y, int x) {
    return std::array<uint8_t, 3>{uint8_t(30 * y), uint8_t(20 * x), 99};
  });
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      float want[3];
      rgbToYiq(want, 30 * y, 20 * x, 99);
      const size_t at = (y * 9 + x) * 3;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(img.inputYiq[at + k], want[k]) << y << "," << x;
    }
  }
}

TEST(Preprocess, FlatPictureHasNoEdgeBlocks) {
  const TestImage img = makeImage(20, 20, [](int, int) {
    return std::array<uint8_t, 3>{90, 90, 90};
  });
  for (int32_t e : img.edgeBlockMap) EXPECT_EQ(e, 0);
}

}  // namespace
}  // namespace nubo
