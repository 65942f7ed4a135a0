// Tests of the libjpeg helpers: compression settings, quality estimate at every
// quality, rejection of non-JPEG data.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jpegutil/jpeg_util.h"
#include "tests/test_jpegs.h"

// libjpeg's header needs FILE and size_t first.
#include <jpeglib.h>

namespace nubo {
namespace {

using testing::compressColour;
using testing::compressGrey;
using testing::compressPerComponent;
using testing::testPicture;

// Qualities whose libjpeg tables equal those of quality q: an estimate cannot
// tell them apart, so any of them is a correct answer.
bool sameTables(int q, int other, bool colour) {
  if (libjpegQuantTable(q, false, true) != libjpegQuantTable(other, false, true)) return false;
  return !colour || libjpegQuantTable(q, true, true) == libjpegQuantTable(other, true, true);
}

TEST(CompressJpeg, WritesLibjpegTablesFor420Colour) {
  for (int q : {1, 10, 23, 50, 75, 100}) {
    const std::vector<uint8_t> jpeg = compressColour(q);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    EXPECT_EQ(tables.componentCount, 3);
    ASSERT_EQ(tables.componentTable[0], 0);
    ASSERT_EQ(tables.componentTable[1], 1);
    EXPECT_EQ(tables.componentTable[2], 1);
    EXPECT_EQ(tables.table[0], libjpegQuantTable(q, false, true)) << "quality " << q;
    EXPECT_EQ(tables.table[1], libjpegQuantTable(q, true, true)) << "quality " << q;
  }
  // The SOF0 frame header gives the sampling factors: Y 2x2, Cb and Cr 1x1.
  const std::vector<uint8_t> jpeg = compressColour(50);
  bool found = false;
  for (size_t i = 0; i + 18 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      EXPECT_EQ(jpeg[i + 9], 3);      // components
      EXPECT_EQ(jpeg[i + 11], 0x22);  // Y sampling
      EXPECT_EQ(jpeg[i + 14], 0x11);  // Cb sampling
      EXPECT_EQ(jpeg[i + 17], 0x11);  // Cr sampling
      found = true;
      break;
    }
  }
  EXPECT_TRUE(found) << "no baseline frame header";
}

TEST(CompressJpeg, RowOrderFlagFlipsInput) {
  const int w = 16;
  const int h = 12;
  const std::vector<uint8_t> topFirst = testPicture(w, h, 3);
  std::vector<uint8_t> bottomFirst(topFirst.size());
  const size_t stride = static_cast<size_t>(w) * 3;
  for (int y = 0; y < h; ++y) {
    std::copy(topFirst.begin() + y * stride, topFirst.begin() + (y + 1) * stride,
              bottomFirst.begin() + (h - 1 - y) * stride);
  }
  std::vector<uint8_t> a;
  std::vector<uint8_t> b;
  ASSERT_TRUE(compressJpeg(topFirst.data(), w, h, 60, true, &a).ok());
  ASSERT_TRUE(compressJpeg(bottomFirst.data(), w, h, 60, false, &b).ok());
  EXPECT_EQ(a, b);
}

TEST(CompressJpeg, RejectsBadArguments) {
  const std::vector<uint8_t> rgb = testPicture(8, 8, 3);
  std::vector<uint8_t> out;
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 0, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 101, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 0, 8, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, -1, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(nullptr, 8, 8, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 50, true, nullptr).ok());
  EXPECT_FALSE(compressJpegGrey(rgb.data(), 70000, 1, 50, &out).ok());
}

TEST(DecodeJpegGrey, GivesLuminanceOfGreyAndColourFiles) {
  const std::vector<uint8_t> grey = testPicture(40, 24, 1);
  GreyImage decoded;
  const std::vector<uint8_t> greyJpeg = compressGrey(100);
  ASSERT_TRUE(decodeJpegGrey(greyJpeg.data(), greyJpeg.size(), &decoded).ok());
  ASSERT_EQ(decoded.width, 40);
  ASSERT_EQ(decoded.height, 24);
  ASSERT_EQ(decoded.pixels.size(), grey.size());
  for (size_t i = 0; i < grey.size(); ++i) {
    // Quality 100 still rounds DCT coefficients: a step or two of error.
    EXPECT_NEAR(decoded.pixels[i], grey[i], 2) << "pixel " << i;
  }
  const std::vector<uint8_t> colourJpeg = compressColour(90);
  ASSERT_TRUE(decodeJpegGrey(colourJpeg.data(), colourJpeg.size(), &decoded).ok());
  EXPECT_EQ(decoded.width, 40);
  EXPECT_EQ(decoded.height, 24);

  const uint8_t notJpeg[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  EXPECT_FALSE(decodeJpegGrey(notJpeg, sizeof(notJpeg), &decoded).ok());
  EXPECT_TRUE(decoded.pixels.empty());
}

TEST(QualityEstimate, ReturnsEveryQualityOfColourFiles) {
  for (int q = 1; q <= 100; ++q) {
    const std::vector<uint8_t> jpeg = compressColour(q);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    bool exact = false;
    const int estimate = estimateQualityFromTables(tables, &exact);
    EXPECT_TRUE(exact) << "quality " << q;
    EXPECT_TRUE(estimate == q || sameTables(q, estimate, true))
        << "quality " << q << " estimated " << estimate;
    EXPECT_EQ(estimateJpegQuality(jpeg.data(), jpeg.size()), estimate);
  }
}

TEST(QualityEstimate, ReturnsEveryQualityOfGreyFiles) {
  for (int q = 1; q <= 100; ++q) {
    const std::vector<uint8_t> jpeg = compressGrey(q);
    const int estimate = estimateJpegQuality(jpeg.data(), jpeg.size());
    EXPECT_TRUE(estimate == q || sameTables(q, estimate, false))
        << "quality " << q << " estimated " << estimate;
  }
}

TEST(QualityEstimate, LibjpegTablesDifferAtEveryQuality) {
  // Documents why the estimate is exact for libjpeg files: no two qualities
  // share both tables, nor even the luminance table alone.
  for (int q = 1; q < 100; ++q) {
    EXPECT_FALSE(sameTables(q, q + 1, false)) << "qualities " << q << " and " << q + 1;
  }
}

TEST(QualityEstimate, NearestQualityForForeignTables) {
  JpegQuantTables tables;
  tables.componentCount = 3;
  tables.present = {true, true, false, false};
  tables.componentTable = {0, 1, 1, -1};
  tables.table[0] = libjpegQuantTable(37, false, true);
  tables.table[1] = libjpegQuantTable(37, true, true);
  tables.table[0][5] += 3;  // an encoder rounding differently
  tables.table[1][0] -= 1;
  bool exact = true;
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 37);
  EXPECT_FALSE(exact);

  // Tables written without the baseline clamp (16-bit entries) at low quality.
  tables.table[0] = libjpegQuantTable(8, false, false);
  tables.table[1] = libjpegQuantTable(8, true, false);
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 8);
  EXPECT_TRUE(exact);

  // One table for all components: judged on luminance only.
  tables.componentTable = {0, 0, 0, -1};
  tables.table[0] = libjpegQuantTable(64, false, true);
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 64);

  tables.componentTable = {-1, -1, -1, -1};
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), -1);
}

TEST(QualityEstimate, TheLuminanceTableAloneDecides) {
  for (const auto& [luma, colour] :
       std::vector<std::pair<int, int>>{{90, 20}, {20, 90}, {75, 5}, {95, 50}, {50, 50}}) {
    const std::vector<uint8_t> jpeg = compressPerComponent(luma, colour);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    ASSERT_EQ(tables.table[tables.componentTable[1]], libjpegQuantTable(colour, true, true));
    bool exact = false;
    EXPECT_EQ(estimateQualityFromTables(tables, &exact), luma) << luma << "," << colour;
    EXPECT_TRUE(exact);
  }
}

TEST(QualityEstimate, RejectsNonJpegData) {
  const uint8_t png[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
  const uint8_t soiOnly[] = {0xFF, 0xD8};
  const uint8_t soiGarbage[] = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  JpegQuantTables tables;
  EXPECT_EQ(estimateJpegQuality(png, sizeof(png)), -1);
  EXPECT_EQ(estimateJpegQuality(soiOnly, sizeof(soiOnly)), -1);
  EXPECT_EQ(estimateJpegQuality(soiGarbage, sizeof(soiGarbage)), -1);
  EXPECT_EQ(estimateJpegQuality(nullptr, 0), -1);
  EXPECT_EQ(readJpegQuantTables(png, sizeof(png), &tables).code(), StatusCode::kInvalidData);
  EXPECT_EQ(readJpegQuantTables(soiGarbage, sizeof(soiGarbage), &tables).code(),
            StatusCode::kInvalidData);
}

TEST(QualityEstimate, SurvivesTruncatedAndDamagedHeaders) {
  const std::vector<uint8_t> jpeg = compressColour(42);
  // Every cut inside the header must fail cleanly (or succeed) without crashing.
  for (size_t cut = 0; cut < 700 && cut < jpeg.size(); ++cut) {
    const int q = estimateJpegQuality(jpeg.data(), cut);
    EXPECT_TRUE(q == -1 || q == 42) << "cut at " << cut;
  }
  uint32_t state = 99;
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<uint8_t> damaged = jpeg;
    for (int k = 0; k < 3; ++k) {
      state = state * 1664525u + 1013904223u;
      damaged[2 + (state >> 8) % (damaged.size() - 2)] = static_cast<uint8_t>(state >> 24);
    }
    const int q = estimateJpegQuality(damaged.data(), damaged.size());
    EXPECT_TRUE(q >= -1 && q <= 100);
    GreyImage grey;
    (void)decodeJpegGrey(damaged.data(), damaged.size(), &grey);
  }
}

}  // namespace
}  // namespace nubo
