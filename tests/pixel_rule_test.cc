// Tests of the per-pixel rule: its constants, normalising and scaling back as
// inverses, flat windows and missing predictions.
#include "engine/pixel_rule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace nubo {
namespace {

TEST(PixelRule, ConstantsAreTheDoublesNearestTheirFractions) {
  EXPECT_EQ(kMeanFactor, 1.0 / 25.0);
  EXPECT_EQ(kVarianceFactor, 1.0 / 24.0);
  EXPECT_EQ(kInverseScale, 10.0 / 3.0);
  EXPECT_EQ(kNormScale * 10.0, 3.0);
}

TEST(PixelRule, ScalingBackUndoesTheNormalisation) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int round = 0; round < 200; ++round) {
    float window[kPatchSize], patch[kPatchSize];
    const float spread = 0.01f + 0.5f * unit(gen);
    for (int k = 0; k < kPatchSize; ++k) window[k] = patch[k] = unit(gen) * spread;
    float m = 0, s = 0;
    ASSERT_TRUE(normaliseForSearch(patch, &m, &s));
    EXPECT_EQ(m, static_cast<float>(patchMean(window)));
    EXPECT_EQ(s, static_cast<float>(patchStdDev(m, window)));
    // The normalised window is spread 0.3 around 0.5.
    EXPECT_NEAR(patchMean(patch), kNormCentre, 1e-6);
    EXPECT_NEAR(patchStdDev(patchMean(patch), patch), kNormScale, 1e-5);
    for (int k = 0; k < kPatchSize; ++k) {
      EXPECT_EQ(patch[k], static_cast<float>(normalisedValue(window[k], m, s)));
      EXPECT_NEAR(denormalised(patch[k], m, s), window[k], 1e-6);
    }
  }
}

TEST(PixelRule, FlatWindowsAndMissingPredictionsKeepTheInput) {
  float flat[kPatchSize];
  for (float& v : flat) v = 0.25f;
  float m = -1, s = -1;
  EXPECT_FALSE(normaliseForSearch(flat, &m, &s));
  for (float v : flat) EXPECT_EQ(v, 0.25f);

  const float y = 0.4f;
  EXPECT_EQ(acceptPrediction(kNoPrediction, 0.4f, 0.1f, y), y);
  EXPECT_EQ(acceptPrediction(std::numeric_limits<float>::quiet_NaN(), 0.4f, 0.1f, y), y);
  // A prediction at the centre is the window's mean: accepted when near y.
  EXPECT_EQ(acceptPrediction(0.5f, 0.41f, 0.1f, y), 0.41f);
  EXPECT_EQ(acceptPrediction(0.5f, 0.49f, 0.1f, y), y);  // 0.09 away
  EXPECT_TRUE(withinAcceptLimit(y + 0.0799, y));
  EXPECT_FALSE(withinAcceptLimit(y - 0.0801, y));
}

}  // namespace
}  // namespace nubo
