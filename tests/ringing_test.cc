// The ringing-removal pass.
#include "engine/ringing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "engine/colour.h"
#include "engine/search.h"
#include "tests/test_codebooks.h"
#include "tests/test_images.h"

namespace nubo {
namespace {

using testing::constantPatch;
using testing::makeImage;
using testing::TestImage;

// A codebook whose every search returns companion v.
Codebook constantCodebook(float v) {
  CodebookTree tree;
  tree.type = 0;
  for (int k = 0; k < kBranching; ++k) {
    tree.patches.push_back(constantPatch(0.5f));
    tree.values.push_back(0.0f);
    tree.children.push_back(testing::leaf({constantPatch(0.5f)}, {v}));
  }
  return testing::codebookOf(tree);
}

// Random noisy picture with strong edges in a few blocks.
TestImage noisyImage(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::array<uint8_t, 3>> px(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int base = ((x / 11 + y / 7) % 3 == 0) ? 200 : 40;
      px[y * width + x] = {uint8_t(base + rng() % 30), uint8_t(base + rng() % 20),
                           uint8_t(rng() % 255)};
    }
  }
  return makeImage(width, height, [&](int y, int x) { return px[y * width + x]; });
}

std::vector<std::string> progressFor(int height) {
  WorkingImage img = makeImage(6, height, [](int, int) {
    return std::array<uint8_t, 3>{50, 60, 70};
  });
  std::vector<std::string> texts;
  CleanOptions options;
  options.threads = 1;
  removeRinging(&img, Codebook(), options, [&](const std::string& t) { texts.push_back(t); });
  return texts;
}

std::string pct(int tenths) { return "Removing ringing...... " + std::to_string(tenths) + "0%"; }

TEST(Ringing, ProgressTextsForTheListedHeights) {
  std::vector<std::string> expected{"Removing ringing......"};
  for (int t = 1; t <= 9; ++t) expected.push_back(pct(t));
  expected.push_back("Ready");
  EXPECT_EQ(progressFor(100), expected);

  expected.insert(expected.end() - 1, pct(10));
  EXPECT_EQ(progressFor(103), expected);

  expected = {"Removing ringing......"};
  for (int row = 2; row <= 22; row += 2) expected.push_back(pct(row / 2));
  expected.push_back("Ready");
  EXPECT_EQ(progressFor(25), expected);

  expected = {"Removing ringing......"};
  for (int row = 2; row <= 12; ++row) expected.push_back(pct(row));
  expected.push_back("Ready");
  EXPECT_EQ(progressFor(15), expected);

  // Under 10 rows: a step of one row.
  EXPECT_EQ(progressFor(7),
            (std::vector<std::string>{"Removing ringing......", pct(2), pct(3), pct(4), "Ready"}));
  EXPECT_EQ(progressFor(4), (std::vector<std::string>{"Removing ringing......", "Ready"}));
}

TEST(Ringing, ThreadCountNeverChangesTheResultOrTheTexts) {
  const TestImage base = noisyImage(97, 61, 5);
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 8));
  std::vector<uint8_t> first;
  std::vector<std::string> firstTexts;
  for (int threads : {1, 2, 3, 8}) {
    WorkingImage img = base;
    std::vector<std::string> texts;
    CleanOptions options;
    options.threads = threads;
    const std::vector<float> y =
        testing::cleanedY(&img, cb, options, [&](const std::string& t) { texts.push_back(t); });
    removeRinging(&img, cb, options, {});  // a second run changes nothing
    if (first.empty()) {
      first = img.outputDisplay;
      firstTexts = texts;
      int changed = 0;
      for (size_t k = 0; k < y.size(); ++k) changed += y[k] != base.inputYiq[k * 3];
      EXPECT_GT(changed, 50);  // the codebook really acted
    } else {
      EXPECT_EQ(img.outputDisplay, first) << threads;
      EXPECT_EQ(texts, firstTexts) << threads;
    }
  }
}

TEST(Ringing, AcceptanceIsStrictlyBelowTheLimitBeforeNarrowing) {
  const TestImage img = noisyImage(40, 40, 3);
  // An edge pixel with a non-flat window.
  int ei = -1, ej = -1;
  for (int i = 2; i < 38 && ei < 0; ++i) {
    for (int j = 2; j < 38; ++j) {
      float patch[kPatchSize];
      gatherPatch(img, i, j, patch);
      if (img.edgeBlockMap[i * 40 + j] && patchStdDev(patchMean(patch), patch) > 0.01) {
        ei = i;
        ej = j;
        break;
      }
    }
  }
  ASSERT_GE(ei, 0);
  float patch[kPatchSize];
  gatherPatch(img, ei, ej, patch);
  const float m = static_cast<float>(patchMean(patch));
  const float s = static_cast<float>(patchStdDev(m, patch));
  const float y = img.inputYiq[(ei * 40 + ej) * 3];
  auto predicted = [&](float d) { return ((d - 0.5) * s) * 3.3333333333333335 + m; };
  // The smallest companion whose prediction is 0.08 or more above y.
  float d = static_cast<float>((y + 0.08 - m) / s * 0.3 + 0.5);
  while (predicted(d) - y >= 0.08) d = std::nextafter(d, -1e9f);
  while (predicted(d) - y < 0.08) d = std::nextafter(d, 1e9f);
  const float inside = std::nextafter(d, -1e9f);
  EXPECT_EQ(cleanPixel(img, constantCodebook(d), false, ei, ej), y);
  EXPECT_EQ(cleanPixel(img, constantCodebook(inside), false, ei, ej),
            static_cast<float>(predicted(inside)));
}

TEST(Ringing, PixelsWithoutAPredictionKeepTheirInput) {
  const TestImage img = noisyImage(33, 29, 9);
  CodebookTree odd = testing::randomTree(2, 2, 4);
  odd.type = 5;  // every search returns -1
  for (const Codebook& cb : {testing::codebookOf(odd), Codebook(), constantCodebook(1e6f)}) {
    WorkingImage out = img;
    const std::vector<float> y = testing::cleanedY(&out, cb, CleanOptions());
    for (size_t k = 0; k < y.size(); ++k) ASSERT_EQ(y[k], img.inputYiq[k * 3]);
    EXPECT_EQ(out.outputDisplay, img.inputDisplay);
  }
  // A flat window inside an edge block keeps its input even with a wild codebook.
  const TestImage flat = makeImage(30, 30, [](int y, int x) {
    const uint8_t v = (y == 0 && x == 0) ? 255 : 80;
    return std::array<uint8_t, 3>{v, v, v};
  });
  ASSERT_EQ(flat.edgeBlockMap[4 * 30 + 4], 1);
  EXPECT_EQ(cleanPixel(flat, constantCodebook(0.52f), false, 4, 4),
            flat.inputYiq[(4 * 30 + 4) * 3]);
}

TEST(Ringing, SmoothingTakesTheMeanAwayFromEdgeBlocksOnly) {
  // Left half noisy and soft (no edges); one hard step far right.
  std::mt19937 rng(2);
  std::vector<uint8_t> noise(48 * 32);
  for (auto& v : noise) v = static_cast<uint8_t>(100 + rng() % 8);
  const TestImage img = makeImage(48, 32, [&](int y, int x) {
    const uint8_t v = x >= 44 ? 255 : noise[y * 48 + x];
    return std::array<uint8_t, 3>{v, v, v};
  });
  WorkingImage plain = img, smooth = img;
  CleanOptions options;
  const std::vector<float> plainY = testing::cleanedY(&plain, Codebook(), options);
  options.smoothNonEdge = true;
  const std::vector<float> smoothY = testing::cleanedY(&smooth, Codebook(), options);
  for (int i = 0; i < 32; ++i) {
    for (int j = 0; j < 48; ++j) {
      const size_t at = (i * 48 + j) * 3;
      const bool interior = i >= 2 && i < 30 && j >= 2 && j < 46;
      EXPECT_EQ(plainY[at / 3], img.inputYiq[at]);
      if (!interior || j >= 38) {
        // Border, edge blocks (columns 40..47) and pixels within two of them.
        EXPECT_EQ(smoothY[at / 3], img.inputYiq[at]) << i << "," << j;
      } else {
        float patch[kPatchSize];
        gatherPatch(img, i, j, patch);
        EXPECT_EQ(smoothY[at / 3], static_cast<float>(patchMean(patch)));
      }
    }
  }
  // Border bytes of the display never change; the interior is yiqToRgb of Y.
  for (int r = 0; r < 32; ++r) {
    for (int c = 0; c < 48; ++c) {
      if (r >= 2 && r < 30 && c >= 2 && c < 46) continue;
      const size_t at = plain.displayOffset(r, c);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(plain.outputDisplay[at + k], img.inputDisplay[at + k]);
    }
  }
}

TEST(Ringing, ConvertAllTakesEveryInteriorPixelThroughYiqToRgb) {
  // The old every-pixel conversion back, byte for byte.
  const TestImage base = noisyImage(97, 61, 11);
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 8));
  for (bool smooth : {false, true}) {
    WorkingImage all = base;
    CleanOptions options;
    options.smoothNonEdge = smooth;
    options.threads = 2;
    options.convertAll = true;
    const std::vector<float> y = testing::cleanedY(&all, cb, options);
    for (int i = 2; i < base.imageHeight - 2; ++i) {
      for (int j = 2; j < base.imageWidth - 2; ++j) {
        const size_t at = (static_cast<size_t>(i) * base.imageWidth + j) * 3;
        uint8_t want[3];
        yiqToRgb(want, y[at / 3], base.inputYiq[at + 1], base.inputYiq[at + 2]);
        const size_t d = base.displayOffset(base.imageHeight - 1 - i, j);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(all.outputDisplay[d + k], want[k]) << i << "," << j;
      }
    }
  }
}

TEST(Ringing, ByDefaultUnchangedPixelsKeepTheirBytesAndChangedOnesAreConverted) {
  const TestImage base = noisyImage(97, 61, 11);
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 8));
  for (bool smooth : {false, true}) {
    WorkingImage all = base, kept = base;
    CleanOptions options;
    options.smoothNonEdge = smooth;
    options.threads = 2;
    const std::vector<float> keptY = testing::cleanedY(&kept, cb, options);
    options.convertAll = true;
    const std::vector<float> allY = testing::cleanedY(&all, cb, options);
    EXPECT_EQ(keptY, allY);
    int changed = 0, unchanged = 0, roundTripDiffers = 0;
    for (int i = 0; i < base.imageHeight; ++i) {
      for (int j = 0; j < base.imageWidth; ++j) {
        const size_t at = (static_cast<size_t>(i) * base.imageWidth + j) * 3;
        const size_t d = base.displayOffset(base.imageHeight - 1 - i, j);
        const bool same = allY[at / 3] == base.inputYiq[at];
        for (int k = 0; k < 3; ++k) {
          if (same) {
            ASSERT_EQ(kept.outputDisplay[d + k], base.inputDisplay[d + k]) << i << "," << j;
            roundTripDiffers += all.outputDisplay[d + k] != base.inputDisplay[d + k];
          } else {
            ASSERT_EQ(kept.outputDisplay[d + k], all.outputDisplay[d + k]) << i << "," << j;
          }
        }
        (same ? unchanged : changed) += 1;
      }
    }
    EXPECT_GT(changed, 50) << smooth;          // the codebook (and smoothing) acted
    EXPECT_GT(unchanged, 50) << smooth;        // and left pixels alone
    EXPECT_GT(roundTripDiffers, 0) << smooth;  // where --convert-all loses a level
  }
  // Padding bytes stay as they were.
  WorkingImage kept = base;
  removeRinging(&kept, cb, CleanOptions(), {});
  for (int r = base.imageHeight; r < base.paddedHeight; ++r) {
    for (int c = 0; c < base.paddedWidth; ++c) {
      EXPECT_EQ(kept.outputDisplay[kept.displayOffset(r, c)], 255);
    }
  }
}

TEST(Ringing, AnAbstainingCodebookReturnsTheInputByDefault) {
  WorkingImage img = noisyImage(40, 36, 4);
  WorkingImage all = img;
  removeRinging(&img, constantCodebook(1e6f), CleanOptions(), {});
  EXPECT_EQ(img.outputDisplay, img.inputDisplay);
  CleanOptions options;
  options.convertAll = true;
  removeRinging(&all, constantCodebook(1e6f), options, {});
  EXPECT_NE(all.outputDisplay, all.inputDisplay);  // the round trip loses levels
}

TEST(Ringing, GreyPixelsStayGreyByDefault) {
  // Grey levels with sharp steps, plus one coloured column: a changed grey
  // pixel takes the level of its new luminance in all three channels.
  std::mt19937 rng(7);
  const TestImage base = makeImage(64, 48, [&](int y, int x) {
    if (x == 40) return std::array<uint8_t, 3>{200, 30, 90};
    const uint8_t v = static_cast<uint8_t>(((x / 9 + y / 7) % 2 ? 190 : 40) + rng() % 12);
    return std::array<uint8_t, 3>{v, v, v};
  });
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 8));
  WorkingImage img = base, all = base;
  const std::vector<float> y = testing::cleanedY(&img, cb, CleanOptions());
  CleanOptions options;
  options.convertAll = true;
  removeRinging(&all, cb, options, {});
  int changedGrey = 0, tinted = 0;
  for (int i = 2; i < 46; ++i) {
    for (int j = 2; j < 62; ++j) {
      const size_t at = (static_cast<size_t>(i) * 64 + j) * 3;
      const size_t d = img.displayOffset(47 - i, j);
      const uint8_t* in = img.inputDisplay.data() + d;
      const uint8_t* out = img.outputDisplay.data() + d;
      const uint8_t* old = all.outputDisplay.data() + d;
      if (j == 40) {
        if (y[at / 3] != base.inputYiq[at]) {
          for (int k = 0; k < 3; ++k) EXPECT_EQ(out[k], old[k]);  // colour: converted back
        }
        continue;
      }
      ASSERT_EQ(out[0], out[1]) << i << "," << j;
      ASSERT_EQ(out[1], out[2]) << i << "," << j;
      if (y[at / 3] != base.inputYiq[at]) {
        ++changedGrey;
        EXPECT_EQ(out[0], lumaToByte(y[at / 3]));
      } else {
        EXPECT_EQ(out[0], in[0]);
      }
      tinted += old[0] != old[2];
    }
  }
  EXPECT_GT(changedGrey, 50);  // the codebook acted on grey pixels
  EXPECT_GT(tinted, 50);       // where --convert-all tints them
}

TEST(Ringing, NothingHappensWithoutAPicture) {
  WorkingImage none;
  std::vector<std::string> texts;
  removeRinging(&none, Codebook(), CleanOptions(),
                [&](const std::string& t) { texts.push_back(t); });
  EXPECT_TRUE(texts.empty());
}

}  // namespace
}  // namespace nubo
