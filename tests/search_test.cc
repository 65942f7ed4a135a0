// Patch statistics, the weighted distance and the codebook search.
#include "engine/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tests/test_codebooks.h"

namespace nubo {
namespace {

using testing::constantPatch;
using testing::Patch;
using testing::referenceSearch;

// Spoils about 3 in `oneIn` codewords of every node: one element NaN, one
// element `infinity`, or a copy of an earlier codeword of the node (an exact tie).
void spoilCodewords(CodebookTree* tree, unsigned oneIn, float infinity, std::mt19937* rng) {
  std::vector<CodebookTree*> nodes{tree};
  for (size_t k = 0; k < nodes.size(); ++k) {
    for (auto& child : nodes[k]->children) nodes.push_back(&child);
  }
  for (CodebookTree* node : nodes) {
    for (size_t c = 0; c < node->patches.size(); ++c) {
      const unsigned pick = (*rng)() % oneIn;
      if (pick == 0)
        node->patches[c][(*rng)() % kPatchSize] = std::numeric_limits<float>::quiet_NaN();
      if (pick == 1) node->patches[c][(*rng)() % kPatchSize] = infinity;
      if (pick == 2 && c > 0) node->patches[c] = node->patches[(*rng)() % c];
    }
  }
}

TEST(Search, DistancesHaveTheirExactValues) {
  const Patch zero = constantPatch(0.0f);
  const Patch one = constantPatch(1.0f);
  EXPECT_EQ(patchDistance(zero.data(), one.data()), 0.19994999374843703);
  Patch centre = zero;
  centre[12] = 1.0f;
  EXPECT_EQ(patchDistance(zero.data(), centre.data()), 0.06115553940568262);
  Patch corner = zero;
  corner[0] = 1.0f;
  EXPECT_EQ(patchDistance(corner.data(), zero.data()), 0.022);
  EXPECT_EQ(patchDistance(one.data(), one.data()), 0.0);
}

TEST(Search, MeanAndDeviation) {
  Patch p = constantPatch(0.0f);
  p[24] = 1.0f;  // the one at the end: the sum order shows in the last bit
  EXPECT_EQ(patchMean(p.data()), 0.04);
  EXPECT_EQ(patchStdDev(0.04, p.data()), 0.19999999999999998);
  const Patch flat = constantPatch(0.375f);
  EXPECT_EQ(patchMean(flat.data()), 0.375);
  EXPECT_EQ(patchStdDev(0.375, flat.data()), 0.0);
}

TEST(Search, MatchesThePlainDescentBitForBit) {
  // Leaf sizes around the packing width exercise partly filled groups.
  for (int leafSize : {1, 7, 8, 9, 13, 32}) {
    const Codebook cb = testing::codebookOf(testing::randomTree(3, leafSize, 100 + leafSize));
    std::mt19937 rng(leafSize);
    std::uniform_real_distribution<float> dist(-0.5f, 1.5f);
    for (int n = 0; n < 2000; ++n) {
      Patch p;
      for (float& v : p) v = dist(rng);
      int index;
      const float got = searchCodebookIndex(p.data(), cb, &index);
      ASSERT_EQ(got, referenceSearch(p.data(), cb));
      ASSERT_GE(index, 0);
      ASSERT_EQ(cb.values[index], got);
    }
  }
}

TEST(Search, MatchesThePlainDescentWithNaNInfinityAndTiedCodewords) {
  // Codewords holding NaN or infinity, and duplicated codewords (exact ties),
  // in leaves of several sizes: the vector scan must follow the plain rule.
  for (int leafSize : {3, 8, 16, 17, 40}) {
    CodebookTree tree = testing::randomTree(3, leafSize, 300 + leafSize);
    std::mt19937 rng(leafSize);
    spoilCodewords(&tree, 10, std::numeric_limits<float>::infinity(), &rng);
    const Codebook cb = testing::codebookOf(tree);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    for (int n = 0; n < 3000; ++n) {
      Patch p;
      for (float& v : p) v = dist(rng);
      if (n % 7 == 0) {
        // Exactly a codeword of some leaf: distance 0, often tied with a copy.
        const CodebookNode& leaf = cb.nodes[cb.nodes.size() - 1 - n % 50];
        if (leaf.type == 1) p = cb.codewords[leaf.firstCodeword + n % leaf.count].patch;
      }
      ASSERT_EQ(searchCodebook(p.data(), cb), referenceSearch(p.data(), cb))
          << leafSize << " " << n;
    }
  }
}

TEST(Search, TiesKeepTheLowerIndexAndExactMatchesWin) {
  const Patch a = constantPatch(0.25f), b = constantPatch(0.75f);
  CodebookTree tree;
  tree.type = 0;
  for (int k = 0; k < kBranching; ++k) {
    tree.patches.push_back(k < 4 ? constantPatch(0.25f) : constantPatch(0.75f));
    tree.values.push_back(0.0f);
    tree.children.push_back(
        testing::leaf({a, a, b, b}, {1.0f * k, 10.0f + k, 20.0f + k, 30.0f + k}));
  }
  const Codebook cb = testing::codebookOf(tree);
  EXPECT_EQ(searchCodebook(a.data(), cb), 0.0f);   // child 0, leaf codeword 0
  EXPECT_EQ(searchCodebook(b.data(), cb), 24.0f);  // child 4, leaf codeword 2
  const Patch mid = constantPatch(0.5f);           // equidistant from both
  EXPECT_EQ(searchCodebook(mid.data(), cb), 0.0f);
}

TEST(Search, NaNPatchTakesTheLastCodewordEverywhere) {
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 5, 77));
  const Patch nan = constantPatch(std::numeric_limits<float>::quiet_NaN());
  int node = 0;
  while (cb.nodes[node].type == 0) node = cb.nodes[node].firstChild + 8;
  const CodebookNode& leaf = cb.nodes[node];
  EXPECT_EQ(searchCodebook(nan.data(), cb), cb.values[leaf.firstCodeword + leaf.count - 1]);
}

TEST(Search, NoCodewordWithinTheBoundGivesNoPrediction) {
  // Infinite distances never beat the starting bound.
  const Patch huge = constantPatch(std::numeric_limits<float>::infinity());
  const Codebook cb = testing::codebookOf(testing::randomTree(2, 3, 1));
  EXPECT_EQ(searchCodebook(huge.data(), cb), -1.0f);
  EXPECT_EQ(searchCodebook(huge.data(), Codebook()), -1.0f);
}

TEST(Search, BatchGivesEachPatchsSearchBitForBit) {
  // Codebooks with NaN, infinite and duplicated codewords and patches with NaN
  // and infinity; batch sizes around the interleaving width.
  SearchBuffers shared;
  for (int leafSize : {1, 9, 16, 33}) {
    CodebookTree tree = testing::randomTree(3, leafSize, 500 + leafSize);
    std::mt19937 rng(leafSize);
    spoilCodewords(&tree, 12, -std::numeric_limits<float>::infinity(), &rng);
    const Codebook cb = testing::codebookOf(tree);
    std::uniform_real_distribution<float> dist(-0.2f, 1.2f);
    for (int count : {0, 1, 15, 16, 17, 40, 255, 256, 3000}) {
      std::vector<float> patches(static_cast<size_t>(count) * kPatchSize);
      for (float& v : patches) v = dist(rng);
      for (int k = 0; k < count; k += 7) {
        float* p = patches.data() + static_cast<size_t>(k) * kPatchSize;
        if (k % 3 == 0) p[rng() % kPatchSize] = std::numeric_limits<float>::quiet_NaN();
        if (k % 3 == 1) p[rng() % kPatchSize] = std::numeric_limits<float>::infinity();
        if (k % 3 == 2) {
          const CodebookNode& leaf = cb.nodes[cb.nodes.size() - 1 - k % 40];
          if (leaf.type == 1) {
            const Patch& exact = cb.codewords[leaf.firstCodeword + k % leaf.count].patch;
            std::copy(exact.begin(), exact.end(), p);
          }
        }
      }
      // Without buffers (interleaved descents), then with buffers reused
      // across batches (grouped by node from kGroupedFrom patches on).
      for (SearchBuffers* buffers : {static_cast<SearchBuffers*>(nullptr), &shared}) {
        std::vector<float> got(count + 1, 123.0f);
        searchCodebookBatch(patches.data(), count, cb, got.data(), buffers);
        for (int k = 0; k < count; ++k) {
          const float want =
              searchCodebook(patches.data() + static_cast<size_t>(k) * kPatchSize, cb);
          ASSERT_EQ(std::memcmp(&got[k], &want, sizeof want), 0)
              << leafSize << " " << count << " " << k << " " << (buffers != nullptr);
        }
        EXPECT_EQ(got[count], 123.0f);  // nothing written past the batch
      }
    }
  }
  // No codebook: every patch has no prediction.
  std::vector<float> patches(3 * kPatchSize, 0.5f), got(3);
  searchCodebookBatch(patches.data(), 3, Codebook(), got.data());
  EXPECT_EQ(got, std::vector<float>(3, -1.0f));
}

}  // namespace
}  // namespace nubo
