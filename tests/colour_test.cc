// RGB <-> YIQ conversion.
#include "engine/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace nubo {
namespace {

std::array<int, 3> roundTrip(int r, int g, int b) {
  float yiq[3];
  rgbToYiq(yiq, r, g, b);
  uint8_t rgb[3];
  yiqToRgb(rgb, yiq[0], yiq[1], yiq[2]);
  return {rgb[0], rgb[1], rgb[2]};
}

TEST(Colour, PrimariesGiveTheirColumns) {
  float yiq[3];
  rgbToYiq(yiq, 0, 0, 0);
  EXPECT_EQ(yiq[0], 0.0f);
  EXPECT_EQ(yiq[1], 0.0f);
  EXPECT_EQ(yiq[2], 0.0f);
  rgbToYiq(yiq, 255, 0, 0);
  EXPECT_EQ(yiq[0], 0.299f);
  EXPECT_EQ(yiq[1], 0.596f);
  EXPECT_EQ(yiq[2], 0.212f);
  rgbToYiq(yiq, 0, 255, 0);
  EXPECT_EQ(yiq[0], 0.587f);
  EXPECT_EQ(yiq[1], -0.275f);
  EXPECT_EQ(yiq[2], -0.523f);
  rgbToYiq(yiq, 0, 0, 255);
  EXPECT_EQ(yiq[0], 0.114f);
  EXPECT_EQ(yiq[1], -0.321f);
  EXPECT_EQ(yiq[2], 0.311f);
  EXPECT_EQ(roundTrip(0, 0, 0), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(roundTrip(255, 0, 0), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(roundTrip(0, 255, 0), (std::array<int, 3>{0, 255, 0}));
  EXPECT_EQ(roundTrip(0, 0, 255), (std::array<int, 3>{0, 0, 255}));
}

TEST(Colour, RoundTripTruncatesAsDocumented) {
  EXPECT_EQ(roundTrip(100, 150, 200), (std::array<int, 3>{99, 150, 200}));
  EXPECT_EQ(roundTrip(255, 255, 0), (std::array<int, 3>{254, 255, 0}));
  EXPECT_EQ(roundTrip(255, 255, 255), (std::array<int, 3>{255, 255, 254}));
  float yiq[3];
  rgbToYiq(yiq, 255, 255, 255);
  EXPECT_EQ(yiq[0], 1.0f);
  EXPECT_EQ(yiq[1], 0.0f);
  EXPECT_LT(std::fabs(yiq[2] + 1.49e-8f), 1e-9f);
  int greysLower = 0;
  for (int v = 0; v < 256; ++v) {
    rgbToYiq(yiq, v, v, v);
    EXPECT_EQ(yiq[1], 0.0f) << v;
    const auto back = roundTrip(v, v, v);
    EXPECT_EQ(back[0], v);
    EXPECT_EQ(back[1], v);
    if (back[2] == v - 1) ++greysLower;
  }
  EXPECT_EQ(greysLower, 150);
  EXPECT_EQ(roundTrip(3, 3, 3), (std::array<int, 3>{3, 3, 2}));
  EXPECT_EQ(roundTrip(254, 254, 254), (std::array<int, 3>{254, 254, 253}));
  EXPECT_EQ(roundTrip(128, 128, 128), (std::array<int, 3>{128, 128, 128}));
}

TEST(Colour, EveryColourLosesAtMostOneLevel) {
  long unchanged = 0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        const auto back = roundTrip(r, g, b);
        const int in[3] = {r, g, b};
        for (int k = 0; k < 3; ++k) {
          ASSERT_LE(back[k], in[k]);
          ASSERT_GE(back[k], in[k] - 1);
        }
        unchanged += back[0] == r && back[1] == g && back[2] == b;
      }
    }
  }
  EXPECT_LT(unchanged, 16777216L / 20);
}

TEST(Colour, InverseClampsAndTruncates) {
  uint8_t rgb[3];
  yiqToRgb(rgb, 1.0f, 0.0f, 0.0f);
  EXPECT_EQ(rgb[0], 255);
  EXPECT_EQ(rgb[1], 255);
  EXPECT_EQ(rgb[2], 255);
  yiqToRgb(rgb, 0.5f, 0.0f, 0.0f);
  EXPECT_EQ(rgb[0], 127);
  yiqToRgb(rgb, 2.0f, 0.0f, 0.0f);
  EXPECT_EQ(rgb[0], 255);
  yiqToRgb(rgb, -0.5f, 0.0f, 0.0f);
  EXPECT_EQ(rgb[2], 0);
  yiqToRgb(rgb, std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f);
  EXPECT_EQ(rgb[0], 0);
  EXPECT_EQ(rgb[1], 0);
  EXPECT_EQ(rgb[2], 0);
}

TEST(Colour, LumaAloneGivesWhatYiqToRgbGivesWithoutChrominance) {
  // The level a changed grey pixel takes: every channel of yiqToRgb(y, 0, 0).
  for (float y : {0.0f, 1.0f / 255, 0.5f, 0.99999f, 1.0f, 1.07f, -0.03f,
                  std::numeric_limits<float>::quiet_NaN()}) {
    uint8_t rgb[3];
    yiqToRgb(rgb, y, 0.0f, 0.0f);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(lumaToByte(y), rgb[k]) << y;
  }
  // Grey levels keep their level through their own luminance, but for the
  // truncation of the forward conversion (never more than one level).
  int same = 0;
  for (int v = 0; v < 256; ++v) {
    float yiq[3];
    rgbToYiq(yiq, v, v, v);
    EXPECT_LE(v - lumaToByte(yiq[0]), 1);
    EXPECT_GE(v - lumaToByte(yiq[0]), 0);
    same += lumaToByte(yiq[0]) == v;
  }
  EXPECT_GT(same, 0);
}

}  // namespace
}  // namespace nubo
