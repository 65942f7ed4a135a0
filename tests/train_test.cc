// Tests of the codebook trainer: tree files, the engine-exact partition, the
// companion choice and a tiny end-to-end training run.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codebooks/codebook_choice.h"
#include "engine/banded.h"
#include "engine/codebook.h"
#include "engine/ringing.h"
#include "engine/search.h"
#include "engine/thread_pool.h"
#include "fileio/codebook_file.h"
#include "jpegutil/jpeg_util.h"
#include "train/trainer.h"

namespace nubo::train {
namespace {

// Random normalised-looking patches: a blurred step at a random angle plus noise.
SampleSet randomPatches(size_t samples, int variants, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  SampleSet set;
  set.variants = variants;
  for (size_t k = 0; k < samples; ++k) {
    float patch[kPatchSize];
    const float angle = unit(gen) * 6.2832f;
    const float offset = unit(gen) * 2.0f - 1.0f;
    for (int e = 0; e < kPatchSize; ++e) {
      const float x = static_cast<float>(e % 5 - 2), y = static_cast<float>(e / 5 - 2);
      const float side = std::cos(angle) * x + std::sin(angle) * y - offset;
      patch[e] = (side > 0 ? 0.8f : 0.2f) + 0.05f * (unit(gen) - 0.5f);
    }
    PixelSample sample;
    sample.y = 0.5f;
    sample.m = 0.5f;
    sample.s = 0.1f;
    sample.target = 0.5f;
    set.add(patch, sample, k % 4 == 0, 0.0f);
  }
  return set;
}

TreeOptions smallTree(int depth, int leafSize) {
  TreeOptions options;
  options.depth = depth;
  options.leafSize = leafSize;
  options.seed = 7;
  options.iterations = 10;
  return options;
}

// Pools of 1, 2 and 3 workers, shared by the tests.
ThreadPool* workers(int threads) {
  static ThreadPool one(1), two(2), three(3);
  return threads == 1 ? &one : threads == 2 ? &two : &three;
}

// Counts internal nodes and leaf codewords of a tree.
void countTree(const CodebookTree& tree, size_t* internal, size_t* leafCodewords) {
  if (tree.type == 1) {
    *leafCodewords += tree.patches.size();
    return;
  }
  ++*internal;
  for (const CodebookTree& child : tree.children) countTree(child, internal, leafCodewords);
}

// Checks that the parsed node `index` holds exactly the tree's patches and values.
void expectSameTree(const Codebook& codebook, int index, const CodebookTree& tree) {
  const CodebookNode& node = codebook.nodes[index];
  ASSERT_EQ(node.type, tree.type);
  ASSERT_EQ(static_cast<size_t>(tree.type == 1 ? node.count : kBranching), tree.patches.size());
  for (size_t k = 0; k < tree.patches.size(); ++k) {
    const Codeword& cw = codebook.codewords[node.firstCodeword + k];
    EXPECT_EQ(cw.patch, tree.patches[k]);
    EXPECT_EQ(cw.value, tree.values[k]);
  }
  if (tree.type == 0) {
    for (int c = 0; c < kBranching; ++c) {
      expectSameTree(codebook, node.firstChild + c, tree.children[c]);
    }
  }
}

TEST(TrainPrune, SilentSubtreesShrinkToOneCodeword) {
  const SampleSet set = randomPatches(1500, kSymmetries, 4);
  CodebookTree tree = buildTree(set, smallTree(3, 4), workers(2), nullptr);
  // Child 0 acts in one codeword; every other subtree abstains.
  tree.children[0].children[2].values[1] = 0.6f;
  Codebook before;
  ASSERT_TRUE(toCodebook(tree, &before).ok());
  pruneAbstaining(&tree);
  EXPECT_EQ(tree.type, 0u);
  EXPECT_EQ(tree.children[0].type, 0u);
  EXPECT_EQ(tree.children[0].children[2].patches.size(), 4u);
  EXPECT_EQ(tree.children[0].children[3].patches.size(), 1u);
  for (int c = 1; c < kBranching; ++c) {
    EXPECT_EQ(tree.children[c].type, 1u);
    EXPECT_EQ(tree.children[c].patches.size(), 1u);
  }
  Codebook after;
  ASSERT_TRUE(toCodebook(tree, &after).ok());
  const SampleSet probes = randomPatches(2000, 1, 6);
  for (size_t p = 0; p < probes.patchCount(); ++p) {
    EXPECT_EQ(searchCodebook(probes.patch(p).data(), after),
              searchCodebook(probes.patch(p).data(), before));
  }
}

TEST(TrainSymmetry, VariantsArePermutationsThatKeepDistances) {
  float a[kPatchSize], b[kPatchSize];
  for (int e = 0; e < kPatchSize; ++e) {
    a[e] = static_cast<float>(e);
    b[e] = static_cast<float>((e * 7) % 11) * 0.1f;
  }
  std::vector<std::vector<float>> seen;
  for (int k = 0; k < kSymmetries; ++k) {
    float va[kPatchSize], vb[kPatchSize];
    symmetryVariant(a, k, va);
    symmetryVariant(b, k, vb);
    EXPECT_EQ(va[12], a[12]);  // the centre never moves
    EXPECT_DOUBLE_EQ(patchDistance(va, vb), patchDistance(a, b));
    std::vector<float> sorted(va, va + kPatchSize);
    seen.emplace_back(va, va + kPatchSize);
    std::sort(sorted.begin(), sorted.end());
    for (int e = 0; e < kPatchSize; ++e) EXPECT_EQ(sorted[e], static_cast<float>(e));
  }
  for (int x = 0; x < kSymmetries; ++x) {
    for (int y = x + 1; y < kSymmetries; ++y) EXPECT_NE(seen[x], seen[y]);
  }
}

TEST(TrainTree, WrittenAndReadBackIsTheSameTreeOfTheExpectedLength) {
  const SampleSet set = randomPatches(3000, kSymmetries, 1);
  CodebookTree tree = buildTree(set, smallTree(3, 6), workers(2), nullptr);
  for (CodebookTree& child : tree.children) {
    for (CodebookTree& leaf : child.children) {
      for (size_t k = 0; k < leaf.values.size(); ++k) leaf.values[k] = 0.25f * k;
    }
  }
  size_t internal = 0, leafCodewords = 0;
  countTree(tree, &internal, &leafCodewords);
  EXPECT_EQ(internal, 10u);  // root and its 9 children

  const std::string path =
      (std::filesystem::temp_directory_path() / "nubo_train_test_tree.cb").string();
  ASSERT_TRUE(writeCodebook(tree, path).ok());
  EXPECT_EQ(std::filesystem::file_size(path), 1076 * internal + 16 + 104 * leafCodewords);
  Codebook codebook;
  ASSERT_TRUE(loadCodebook(&codebook, path).ok());
  std::filesystem::remove(path);
  EXPECT_EQ(codebook.depth(), 3);
  expectSameTree(codebook, 0, tree);
}

// randomPatches with targets that depend on the patch's side of the step
// (wanted companions disagree among look-alike patches).
SampleSet targetedPatches(size_t samples, uint32_t seed) {
  SampleSet set = randomPatches(samples, kSymmetries, seed);
  std::mt19937 gen(seed + 1000);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (size_t k = 0; k < set.samples.size(); ++k) {
    const float centre = set.patch(k * kSymmetries)[12];
    set.samples[k].target = 0.5f + (centre > 0.5f ? 0.02f : -0.02f) * unit(gen);
    set.samples[k].keepDiff = set.samples[k].y - set.samples[k].target;
  }
  return set;
}

TEST(TrainTree, TargetWeightedTreeWritesBackAndItsAssignmentEqualsTheSearch) {
  const SampleSet set = targetedPatches(2500, 4);
  TreeOptions options = smallTree(3, 6);
  options.leafTargetWeight = 0.5f;
  options.nodeTargetWeight = 0.5f;
  CodebookTree tree = buildTree(set, options, workers(2), nullptr);
  std::vector<uint8_t> plain, weighted;
  ASSERT_TRUE(serializeCodebook(buildTree(set, smallTree(3, 6), workers(2), nullptr), &plain).ok());
  ASSERT_TRUE(serializeCodebook(tree, &weighted).ok());
  EXPECT_NE(plain, weighted);  // the target changed the cells

  const std::string path =
      (std::filesystem::temp_directory_path() / "nubo_train_test_target.cb").string();
  ASSERT_TRUE(writeCodebook(tree, path).ok());
  Codebook codebook;
  ASSERT_TRUE(loadCodebook(&codebook, path).ok());
  std::filesystem::remove(path);
  expectSameTree(codebook, 0, tree);

  const std::vector<int32_t> assignment = assignPatches(codebook, set, workers(2), nullptr);
  const auto slots = codewordSlots(codebook, &tree);
  for (size_t p = 0; p < set.patchCount(); ++p) {
    int index = -2;
    searchCodebookIndex(set.patch(p).data(), codebook, &index);
    ASSERT_EQ(assignment[p], index);
    ASSERT_GE(index, 0);
    ASSERT_NE(slots[index].first, nullptr);
  }

  // Deterministic for any thread count, like the plain tree.
  std::vector<uint8_t> one;
  ASSERT_TRUE(serializeCodebook(buildTree(set, options, workers(1), nullptr), &one).ok());
  EXPECT_EQ(one, weighted);
}

TEST(TrainTree, SameSeedSameTreeForAnyThreadCount) {
  const SampleSet set = randomPatches(2000, kSymmetries, 2);
  const TreeOptions options = smallTree(2, 8);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(serializeCodebook(buildTree(set, options, workers(1), nullptr), &a).ok());
  ASSERT_TRUE(serializeCodebook(buildTree(set, options, workers(2), nullptr), &b).ok());
  EXPECT_EQ(a, b);
}

TEST(TrainAssign, EqualsTheEngineSearchAndMapsToTheTreeLeaf) {
  const SampleSet set = randomPatches(1500, kSymmetries, 3);
  CodebookTree tree = buildTree(set, smallTree(3, 5), workers(2), nullptr);
  Codebook codebook;
  ASSERT_TRUE(toCodebook(tree, &codebook).ok());
  const SampleSet probes = randomPatches(500, 1, 99);
  const std::vector<int32_t> assignment = assignPatches(codebook, probes, workers(2), nullptr);
  const auto slots = codewordSlots(codebook, &tree);
  ASSERT_EQ(assignment.size(), probes.patchCount());
  for (size_t p = 0; p < probes.patchCount(); ++p) {
    int index = -2;
    searchCodebookIndex(probes.patch(p).data(), codebook, &index);
    ASSERT_EQ(assignment[p], index);
    ASSERT_GE(index, 0);
    ASSERT_NE(slots[index].first, nullptr);
    EXPECT_EQ(slots[index].first->patches[slots[index].second], codebook.codewords[index].patch);
  }
}

// A sample whose window has mean 0.5 and whose input Y is 0.5; deviation s
// gives predictions p = (v - 0.5) * s * 10/3 + 0.5.
PixelSample handSample(float s, float target) {
  PixelSample sample;
  sample.y = 0.5f;
  sample.m = 0.5f;
  sample.s = s;
  sample.target = target;
  sample.keepDiff = 0.5f - target;
  return sample;
}

TEST(TrainCompanion, HandMadeSetGivesTheMeanCorrection) {
  // Both pixels want to rise (by 0.02 and 0.04): the best prediction is +0.03.
  const std::vector<PixelSample> samples{handSample(0.03f, 0.52f), handSample(0.03f, 0.54f)};
  const double a = static_cast<double>(0.03f) * 3.3333333333333335;
  const float v = bestCompanion(samples);
  EXPECT_NEAR(v, 0.5 + 0.03 / a, 1e-5);  // 0.8 up to the rounding of s
  EXPECT_NEAR(companionError(v, samples), 2 * 0.01 * 0.01, 1e-9);
  EXPECT_NEAR(keepError(samples), 0.02 * 0.02 + 0.04 * 0.04, 1e-9);
}

TEST(TrainCompanion, StopsJustInsideTheAcceptanceLimit) {
  // Unconstrained, the best rise is (0.02 + 0.02 + 0.2) / 3 = 0.08: exactly the
  // limit, which is rejected. The best accepted rise approaches 0.08 from below.
  const std::vector<PixelSample> samples{handSample(0.03f, 0.52f), handSample(0.03f, 0.52f),
                                         handSample(0.03f, 0.7f)};
  const double a = static_cast<double>(0.03f) * 3.3333333333333335;
  const float v = bestCompanion(samples);
  EXPECT_LT(v, 0.5 + 0.08 / a);
  EXPECT_GT(v, 0.5 + 0.0799 / a);
  EXPECT_NEAR(companionError(v, samples), 2 * 0.06 * 0.06 + 0.12 * 0.12, 1e-5);
  EXPECT_NE(acceptedOutput(v, samples[0]), samples[0].y);
}

TEST(TrainCompanion, AbstainsWhenNothingHelps) {
  // One pixel wants +0.05, the other -0.05: any shared prediction does no better.
  const std::vector<PixelSample> samples{handSample(0.03f, 0.55f), handSample(0.03f, 0.45f)};
  EXPECT_EQ(bestCompanion(samples), kAbstainValue);
  EXPECT_EQ(acceptedOutput(kAbstainValue, samples[0]), samples[0].y);
  // Pixels that are already right leave nothing to gain either.
  EXPECT_EQ(bestCompanion({handSample(0.03f, 0.5f)}), kAbstainValue);
}

TEST(TrainCompanion, ErrorsAreThoseOfTheEnginesAcceptance) {
  // Random values around the limit: the trainer's result for a companion is
  // what the pass makes of the same prediction, and its error follows from it.
  std::mt19937 gen(21);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  int moved = 0, rejected = 0;
  for (int k = 0; k < 2000; ++k) {
    PixelSample sample;
    sample.y = unit(gen);
    sample.m = sample.y + 0.1f * (unit(gen) - 0.5f);
    sample.s = 0.001f + 0.1f * unit(gen);
    sample.target = sample.y + 0.05f * (unit(gen) - 0.5f);
    sample.keepDiff = sample.y - sample.target;
    const float v = 0.5f + (unit(gen) - 0.5f) * 0.2f / (sample.s * 3.3333333333333335f);
    const float engine = acceptPrediction(v, sample.m, sample.s, sample.y);
    ASSERT_EQ(acceptedOutput(v, sample), engine) << k;
    const double error = companionError(v, {sample});
    if (engine != sample.y) {
      ++moved;
      const double d = static_cast<double>(engine) - sample.target;
      ASSERT_EQ(error, d * d) << k;
    } else if (std::fabs(denormalised(v, sample.m, sample.s) - sample.y) >= 0.08) {
      ++rejected;
      ASSERT_EQ(error, static_cast<double>(sample.keepDiff) * sample.keepDiff) << k;
    }
  }
  EXPECT_GT(moved, 200);
  EXPECT_GT(rejected, 200);
}

TEST(TrainCompanion, HeldBackSamplesDecide) {
  const std::vector<PixelSample> fit(8, handSample(0.03f, 0.53f));
  CompanionRules rules;
  rules.minFitSamples = 4;
  rules.minHeldSamples = 2;
  // Held-back pixels that want the same change: the codeword acts.
  const std::vector<PixelSample> agree(4, handSample(0.03f, 0.53f));
  EXPECT_NEAR(chooseCompanion(fit, agree, rules), 0.8, 1e-5);
  // Held-back pixels that want the opposite: the fit was noise, abstain.
  const std::vector<PixelSample> disagree(4, handSample(0.03f, 0.47f));
  EXPECT_EQ(chooseCompanion(fit, disagree, rules), kAbstainValue);
  // Too few samples: abstain.
  EXPECT_EQ(chooseCompanion(fit, {handSample(0.03f, 0.53f)}, rules), kAbstainValue);
}

// A small picture of sharp coloured shapes, bottom row first (decodeImage's order).
DecodedImage shapes(int width, int height, int seed) {
  DecodedImage picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int dx = x - width / 2 - seed * 3, dy = y - height / 2;
      const bool disc = dx * dx + dy * dy < (width / 3) * (width / 3);
      const bool stripe = ((x + 2 * y + seed) / 9) % 2 == 0;
      uint8_t* p = picture.rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
      p[0] = disc ? 220 : (stripe ? 40 : 180);
      p[1] = disc ? 60 : (stripe ? 50 : 170);
      p[2] = disc ? 40 : (stripe ? 160 : 60);
    }
  }
  return picture;
}

TEST(TrainEndToEnd, TinyRunGivesACodebookThatCleans) {
  const std::vector<DecodedImage> pictures{shapes(96, 80, 0), shapes(96, 80, 1)};
  TrainOptions options;
  options.qualities = {10, 15};
  options.tree = smallTree(2, 4);
  options.rules.minFitSamples = 8;
  options.rules.minHeldSamples = 4;
  options.heldFraction = 0.5;
  options.maxSamples = 20000;
  CodebookTree tree;
  TrainReport report;
  ASSERT_TRUE(trainCodebook(pictures, options, workers(2), nullptr, &tree, &report).ok());
  EXPECT_GT(report.samples, 100u);
  EXPECT_GT(report.actingCodewords, 0u);

  const std::string path =
      (std::filesystem::temp_directory_path() / "nubo_train_test_e2e.cb").string();
  ASSERT_TRUE(writeCodebook(tree, path).ok());
  Codebook codebook;
  ASSERT_TRUE(loadCodebook(&codebook, path).ok());
  std::filesystem::remove(path);

  LoadedPicture loaded;
  ASSERT_TRUE(compressAndLoad(pictures[0], 10, &loaded).ok());
  const AnalysedImage& image = loaded.analysis;
  std::vector<float> cleaned(static_cast<size_t>(image.imageWidth) * image.imageHeight);
  std::vector<uint8_t> cleanedBytes(loaded.decoded.rgb.size());
  cleanInBands(bottomFirstRows(loaded.decoded.rgb.data(), image.imageWidth, image.imageHeight),
               bottomFirstRows(cleanedBytes.data(), image.imageWidth, image.imageHeight),
               image.imageWidth, image.imageHeight, codebook, CleanOptions(), workers(1), nullptr,
               nullptr, 0, cleaned.data());
  size_t changed = 0;
  for (int i = 2; i < image.imageHeight - 2; ++i) {
    for (int j = 2; j < image.imageWidth - 2; ++j) {
      const size_t at = static_cast<size_t>(i) * image.imageWidth + j;
      changed += cleaned[at] != image.inputYiq[at * 3];
    }
  }
  EXPECT_GT(changed, 0u);

  // Pruning the silent subtrees changes no search result.
  CodebookTree pruned = tree;
  pruneAbstaining(&pruned);
  Codebook small;
  ASSERT_TRUE(toCodebook(pruned, &small).ok());
  EXPECT_LE(small.codewords.size(), codebook.codewords.size());
  const SampleSet probes = randomPatches(400, 1, 5);
  for (size_t p = 0; p < probes.patchCount(); ++p) {
    EXPECT_EQ(searchCodebook(probes.patch(p).data(), small),
              searchCodebook(probes.patch(p).data(), codebook));
  }

  // Its score on the training picture is no worse than keeping every pixel.
  PictureScore score;
  ASSERT_TRUE(scorePicture(pictures[0], 10, codebook, workers(1), &score).ok());
  Codebook none;
  PictureScore kept;
  ASSERT_TRUE(scorePicture(pictures[0], 10, none, workers(1), &kept).ok());
  EXPECT_GT(score.cleanedPsnr, kept.cleanedPsnr);
}

// Luminance PSNR of bytes (rows packed, bottom row first) against the
// picture, as the scorer computes it.
double bytesPsnr(const DecodedImage& picture, const std::vector<uint8_t>& rgb) {
  double sum = 0.0;
  for (int r = 0; r < picture.height; ++r) {
    for (int c = 0; c < picture.width; ++c) {
      const uint8_t* a = picture.rgb.data() + (static_cast<size_t>(r) * picture.width + c) * 3;
      const uint8_t* b = rgb.data() + (static_cast<size_t>(r) * picture.width + c) * 3;
      const double d = (0.299 * a[0] + 0.587 * a[1] + 0.114 * a[2]) -
                       (0.299 * b[0] + 0.587 * b[1] + 0.114 * b[2]);
      sum += d * d;
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 * picture.width * picture.height / sum);
}

TEST(TrainScore, BothModesAreWhatTheCleanerShows) {
  const DecodedImage picture = shapes(96, 80, 2);
  const Codebook codebook = [] {
    Codebook cb;
    CodebookTree tree;
    tree.type = 0;
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int c = 0; c < kBranching; ++c) {
      std::array<float, kPatchSize> patch;
      for (float& v : patch) v = unit(gen);
      tree.patches.push_back(patch);
      tree.values.push_back(0.0f);
      CodebookTree leaf;
      leaf.type = 1;
      leaf.patches.push_back(patch);
      leaf.values.push_back(c % 3 == 0 ? kAbstainValue : 0.48f + 0.01f * c);
      tree.children.push_back(leaf);
    }
    EXPECT_TRUE(toCodebook(tree, &cb).ok());
    return cb;
  }();
  PictureScore score;
  ASSERT_TRUE(scorePicture(picture, 20, codebook, workers(2), &score).ok());
  for (bool keep : {false, true}) {
    DecodedImage decoded;
    ASSERT_TRUE(compressAndLoad(picture, 20, &decoded).ok());
    EXPECT_EQ(score.decodedPsnr, bytesPsnr(picture, decoded.rgb));
    CleanOptions options;
    options.convertAll = !keep;
    const int w = decoded.width, h = decoded.height;
    std::vector<uint8_t> cleaned(decoded.rgb.size());
    ThreadPool pool(options.threads);
    cleanInBands(bottomFirstRows(decoded.rgb.data(), w, h), bottomFirstRows(cleaned.data(), w, h),
                 w, h, codebook, options, &pool, nullptr, nullptr);
    EXPECT_EQ(keep ? score.keptPsnr : score.cleanedPsnr, bytesPsnr(picture, cleaned)) << keep;
  }
  EXPECT_NE(score.keptPsnr, score.cleanedPsnr);
}

TEST(TrainSamples, KeepBytesTakesTheKeptErrorFromTheInputBytes) {
  const DecodedImage picture = shapes(64, 48, 1);
  LoadedPicture loaded;
  ASSERT_TRUE(compressAndLoad(picture, 15, &loaded).ok());
  const AnalysedImage& image = loaded.analysis;
  const std::vector<float> origY = lumaOf(picture);
  SampleSet roundTrip, bytes;
  collectSamples(loaded, origY, 1.0, 1, false, false, &roundTrip);
  collectSamples(loaded, origY, 1.0, 1, false, true, &bytes);
  ASSERT_EQ(roundTrip.samples.size(), bytes.samples.size());
  ASSERT_GT(bytes.samples.size(), 100u);
  EXPECT_EQ(roundTrip.windows, bytes.windows);
  size_t differ = 0;
  size_t k = 0;
  for (int i = 2; i <= image.imageHeight - 3; ++i) {
    for (int j = 2; j <= image.imageWidth - 3; ++j) {
      const size_t at = static_cast<size_t>(i) * image.imageWidth + j;
      if (image.edgeBlockMap[at] == 0) continue;
      float patch[kPatchSize];
      gatherPatch(image, i, j, patch);
      if (patchStdDev(static_cast<float>(patchMean(patch)), patch) == 0.0) continue;
      ASSERT_LT(k, bytes.samples.size());
      const double shown =
          bytesLuma(loaded.decoded.rgb,
                    (static_cast<size_t>(image.imageHeight - 1 - i) * image.imageWidth + j) * 3);
      EXPECT_EQ(bytes.samples[k].keepDiff, static_cast<float>(shown - origY[at]));
      differ += bytes.samples[k].keepDiff != roundTrip.samples[k].keepDiff;
      ++k;
    }
  }
  EXPECT_EQ(k, bytes.samples.size());
  EXPECT_GT(differ, 0u);  // the round trip loses levels the bytes do not
}

TEST(TrainEndToEnd, TinyRunInEachModeFinishesAndGainsWhereItKeepsBytes) {
  const std::vector<DecodedImage> pictures{shapes(96, 80, 0), shapes(96, 80, 1), shapes(96, 80, 3)};
  for (bool keep : {false, true}) {
    TrainOptions options;
    options.augment = !keep;  // both with and without the patch variants
    options.qualities = {10, 15};
    options.tree = smallTree(2, 4);
    options.tree.leafTargetWeight = 0.5f;
    options.rules.minFitSamples = 8;
    options.rules.minHeldSamples = 4;
    options.heldFraction = 0.34;
    options.maxSamples = 20000;
    options.keepUntouched = keep;
    CodebookTree tree;
    TrainReport report;
    ASSERT_TRUE(trainCodebook(pictures, options, workers(2), nullptr, &tree, &report).ok()) << keep;
    EXPECT_GT(report.samples, 100u);
    EXPECT_GE(report.fitGain, 0.0);
    Codebook codebook;
    ASSERT_TRUE(toCodebook(tree, &codebook).ok());
    PictureScore score;
    ASSERT_TRUE(scorePicture(pictures[0], 10, codebook, workers(1), &score).ok());
    EXPECT_GE(score.keptPsnr, score.decodedPsnr) << keep;
  }
}

// Y of the picture's top-left 5x5 pixels, top row first (as patches are laid out).
std::array<float, kPatchSize> corner(const DecodedImage& picture) {
  const std::vector<float> y = lumaOf(picture);
  std::array<float, kPatchSize> out{};
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) out[5 * a + b] = y[static_cast<size_t>(a) * picture.width + b];
  }
  return out;
}

TEST(TrainOrientation, OrientedPicturesAreTheFlipsAndRotationsOfThePatches) {
  // A 5x5 picture of distinct greys: orientation k is patch variant k.
  DecodedImage square;
  square.width = square.height = 5;
  for (int v = 0; v < kPatchSize; ++v) {
    const uint8_t g = static_cast<uint8_t>(10 * v);
    square.rgb.insert(square.rgb.end(), {g, g, g});
  }
  const std::array<float, kPatchSize> original = corner(square);
  for (int k = 0; k < kSymmetries; ++k) {
    std::array<float, kPatchSize> variant{};
    symmetryVariant(original.data(), k, variant.data());
    EXPECT_EQ(corner(orientPicture(square, k)), variant) << k;
  }
  // The variants by their geometric meaning (row-major, top row first).
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) {
      EXPECT_EQ(kSymmetrySource.index[1][5 * a + b], 5 * a + 4 - b);        // mirror left-right
      EXPECT_EQ(kSymmetrySource.index[2][5 * a + b], 5 * (4 - a) + b);      // mirror top-bottom
      EXPECT_EQ(kSymmetrySource.index[4][5 * a + b], 5 * b + a);            // transpose
      EXPECT_EQ(kSymmetrySource.index[3][5 * a + b], 5 * (4 - a) + 4 - b);  // half turn
    }
  }

  // A wide picture: transposing orientations swap the sides, and every one is
  // undone by itself or (quarter turns) by the opposite turn.
  const DecodedImage wide = shapes(13, 7, 2);
  for (int k = 0; k < kSymmetries; ++k) {
    const DecodedImage turned = orientPicture(wide, k);
    EXPECT_EQ(turned.width, k & 4 ? 7 : 13);
    EXPECT_EQ(turned.height, k & 4 ? 13 : 7);
    const int inverse = (k == 5 || k == 6) ? 11 - k : k;
    EXPECT_EQ(orientPicture(turned, inverse).rgb, wide.rgb) << k;
  }
}

TEST(TrainSamples, EveryPatchIsTheVariantItsIndexNamesOfItsSamplesWindow) {
  const SampleSet set = randomPatches(50, kSymmetries, 9);
  ASSERT_EQ(set.patchCount(), 50u * kSymmetries);
  for (size_t p = 0; p < set.patchCount(); ++p) {
    std::array<float, kPatchSize> expected{};
    symmetryVariant(set.windows.data() + (p / kSymmetries) * kPatchSize,
                    static_cast<int>(p % kSymmetries), expected.data());
    EXPECT_EQ(set.patch(p), expected) << p;
  }
  // Without the variants a patch is its sample's window.
  const SampleSet plain = randomPatches(20, 1, 9);
  for (size_t p = 0; p < plain.patchCount(); ++p) {
    EXPECT_TRUE(std::equal(plain.windows.begin() + p * kPatchSize,
                           plain.windows.begin() + (p + 1) * kPatchSize, plain.patch(p).begin()));
  }
}

TEST(TrainAssign, AssignmentOfFormedVariantsEqualsTheSearchOfEachVariant) {
  const SampleSet set = randomPatches(600, kSymmetries, 4);
  TreeOptions options = smallTree(3, 3);
  Codebook codebook;
  ASSERT_TRUE(toCodebook(buildTree(set, options, workers(2), nullptr), &codebook).ok());
  for (int threads : {1, 3}) {
    const std::vector<int32_t> assignment = assignPatches(codebook, set, workers(threads), nullptr);
    ASSERT_EQ(assignment.size(), set.patchCount());
    for (size_t p = 0; p < set.patchCount(); ++p) {
      float variant[kPatchSize];
      symmetryVariant(set.windows.data() + (p / kSymmetries) * kPatchSize,
                      static_cast<int>(p % kSymmetries), variant);
      int index = -1;
      searchCodebookIndex(variant, codebook, &index);
      ASSERT_EQ(assignment[p], index) << p;
    }
  }
}

TEST(TrainEndToEnd, OrientedTrainingIsTheSameForAnyThreadCountAndAddsItsPairs) {
  const std::vector<DecodedImage> pictures{shapes(40, 32, 0), shapes(32, 40, 1), shapes(40, 40, 2)};
  TrainOptions options;
  options.qualities = {10, 20};
  options.tree = smallTree(2, 4);
  options.tree.iterations = 4;
  options.tree.nodeTargetWeight = 8.0f;
  options.tree.leafTargetWeight = 8.0f;
  options.rules.minFitSamples = 8;
  options.rules.minHeldSamples = 4;
  options.heldFraction = 0.34;
  options.maxSamples = 1000000;  // every candidate pixel
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<size_t> samples;
  for (int orientations : {1, 8}) {
    for (int threads : {1, 3}) {
      options.orientations = orientations;
      CodebookTree tree;
      TrainReport report;
      ASSERT_TRUE(trainCodebook(pictures, options, workers(threads), nullptr, &tree, &report).ok());
      std::vector<uint8_t> out;
      ASSERT_TRUE(serializeCodebook(tree, &out).ok());
      bytes.push_back(out);
      samples.push_back(report.samples);
      EXPECT_EQ(report.patches, report.samples * kSymmetries);
    }
  }
  EXPECT_EQ(bytes[0], bytes[1]);  // one orientation, 1 and 3 threads
  EXPECT_EQ(bytes[2], bytes[3]);  // eight orientations
  EXPECT_NE(bytes[0], bytes[2]);
  // The flipped and rotated originals give pairs of their own, each with about
  // as many samples as the original (JPEG blocks fall differently on them).
  EXPECT_GT(samples[2], samples[0] * 6);
  EXPECT_LT(samples[2], samples[0] * 10);

  options.orientations = 3;
  CodebookTree tree;
  EXPECT_FALSE(trainCodebook(pictures, options, workers(2), nullptr, &tree, nullptr).ok());
}

TEST(TrainShipped, IndexCoversEveryQualityWithLoadableCodebooks) {
  const std::string dataDir = std::string(NUBO_SOURCE_DIR) + "/data";
  std::ifstream file(dataDir + "/" + kCodebookIndexName);
  if (!file) GTEST_SKIP() << "no data/index";
  std::stringstream text;
  text << file.rdbuf();
  std::vector<CodebookBand> bands;
  ASSERT_TRUE(parseCodebookIndex(text.str(), &bands).ok());
  std::vector<int> covered(101, 0);
  for (const CodebookBand& band : bands) {
    for (int q = band.minQuality; q <= band.maxQuality; ++q) ++covered[q];
    Codebook codebook;
    EXPECT_TRUE(loadCodebook(&codebook, dataDir + "/" + band.file).ok()) << band.file;
    // Shipped codebooks stay small enough to keep in the repository.
    EXPECT_LE(std::filesystem::file_size(dataDir + "/" + band.file), 16u << 20) << band.file;
  }
  for (int q = 1; q <= 100; ++q) EXPECT_EQ(covered[q], 1) << "quality " << q;
  Codebook fallback;
  EXPECT_TRUE(loadCodebook(&fallback, dataDir + "/" + kDefaultCodebookName).ok());
}

}  // namespace
}  // namespace nubo::train
