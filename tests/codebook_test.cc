// The codebook format: parsing bytes and serialising trees.
#include "engine/codebook.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/search.h"
#include "tests/test_codebooks.h"

namespace nubo {
namespace {

using testing::appendF32;
using testing::appendU32;
using testing::bytesOf;
using testing::constantPatch;
using testing::randomTree;

Status parse(const std::vector<uint8_t>& bytes, Codebook* cb) {
  return parseCodebook(bytes.data(), bytes.size(), cb);
}

int internalCount(const CodebookTree& t) {
  if (t.type == 1) return 0;
  int n = 1;
  for (const auto& c : t.children) n += internalCount(c);
  return n;
}

int leafCodewords(const CodebookTree& t) {
  if (t.type == 1) return static_cast<int>(t.patches.size());
  int n = 0;
  for (const auto& c : t.children) n += leafCodewords(c);
  return n;
}

// A leaf record of `count` codewords, all patches v and companions v.
void appendLeaf(std::vector<uint8_t>* out, int count, float v) {
  for (int k = 0; k < 8; ++k) out->push_back(0xAB);
  appendU32(out, 1);
  appendU32(out, static_cast<uint32_t>(count));
  for (int c = 0; c < count; ++c) {
    for (int e = 0; e <= kPatchSize; ++e) appendF32(out, v);
  }
}

TEST(Codebook, RoundTripKeepsTreeAndHasTheFormatLength) {
  for (int depth : {2, 3}) {
    const CodebookTree tree = randomTree(depth, 5, 7);
    const std::vector<uint8_t> bytes = bytesOf(tree);
    EXPECT_EQ(bytes.size(), 1076u * internalCount(tree) + 16 + 104u * leafCodewords(tree));
    Codebook cb;
    ASSERT_TRUE(parse(bytes, &cb).ok());
    EXPECT_EQ(cb.depth(), depth);
    EXPECT_EQ(cb.leafCount(), 8 * internalCount(tree) + 1);
    // Every leaf companion comes back in pre-order.
    std::vector<float> expected;
    std::vector<const CodebookTree*> stack{&tree};
    while (!stack.empty()) {
      const CodebookTree* t = stack.back();
      stack.pop_back();
      if (t->type == 1) expected.insert(expected.end(), t->values.begin(), t->values.end());
      for (auto it = t->children.rbegin(); it != t->children.rend(); ++it) stack.push_back(&*it);
    }
    std::vector<float> got;
    std::vector<int> order{0};
    while (!order.empty()) {
      const CodebookNode& n = cb.nodes[order.back()];
      order.pop_back();
      if (n.type == 1) {
        for (int k = 0; k < n.count; ++k) got.push_back(cb.values[n.firstCodeword + k]);
      } else {
        for (int k = kBranching - 1; k >= 0; --k) order.push_back(n.firstChild + k);
      }
    }
    EXPECT_EQ(got, expected);
  }
}

TEST(Codebook, SmallestFileAndTrailingBytes) {
  const CodebookTree tree = randomTree(2, 1, 3);
  std::vector<uint8_t> bytes = bytesOf(tree);
  ASSERT_EQ(bytes.size(), 948u + 9 * (16 + 104));
  Codebook a, b;
  ASSERT_TRUE(parse(bytes, &a).ok());
  for (int k = 0; k < 1000; ++k) bytes.push_back(static_cast<uint8_t>(k));
  ASSERT_TRUE(parse(bytes, &b).ok());
  EXPECT_EQ(a.values, b.values);
  EXPECT_EQ(a.scaled, b.scaled);
}

TEST(Codebook, EveryTruncationFailsAsAWhole) {
  const std::vector<uint8_t> bytes = bytesOf(randomTree(2, 2, 11));
  for (size_t n = 0; n < bytes.size(); ++n) {
    Codebook cb;
    const Status s = parseCodebook(bytes.data(), n, &cb);
    ASSERT_FALSE(s.ok()) << n;
    EXPECT_EQ(s.code(), StatusCode::kInvalidData);
    EXPECT_TRUE(cb.empty());
  }
}

TEST(Codebook, BadLeafCountsAndLeafRootAreRefused) {
  const std::vector<uint8_t> good = bytesOf(randomTree(2, 1, 5));
  const size_t firstLeafCount = 948 + 12;
  for (int32_t count : {0, -1, -2147483647 - 1, 2, 1000000, 2147483647}) {
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 4; ++k)
      bytes[firstLeafCount + k] = static_cast<uint8_t>(static_cast<uint32_t>(count) >> (8 * k));
    Codebook cb;
    const Status s = parse(bytes, &cb);
    if (count == 2) {
      // Two codewords fit in the bytes left, but the tree then runs short.
      EXPECT_FALSE(s.ok());
    } else {
      EXPECT_FALSE(s.ok()) << count;
      EXPECT_NE(s.message().find("leaf"), std::string::npos) << s.message();
    }
    EXPECT_TRUE(cb.empty());
  }
  std::vector<uint8_t> leafRoot = good;
  leafRoot[8] = 1;
  Codebook cb;
  const Status s = parse(leafRoot, &cb);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("root"), std::string::npos);
}

TEST(Codebook, OtherRecordTypesAreSkippedAndOtherRootTypesNeverMatch) {
  CodebookTree tree = randomTree(2, 2, 9);
  std::vector<uint8_t> plain = bytesOf(tree);
  // Insert a 12-byte record of type 2 before the third child.
  const size_t leafBytes = 16 + 2 * 104;
  std::vector<uint8_t> skipped(plain.begin(), plain.begin() + 948 + 2 * leafBytes);
  for (int k = 0; k < 8; ++k) skipped.push_back(0x11);
  appendU32(&skipped, 2);
  skipped.insert(skipped.end(), plain.begin() + 948 + 2 * leafBytes, plain.end());
  Codebook a, b;
  ASSERT_TRUE(parse(plain, &a).ok());
  ASSERT_TRUE(parse(skipped, &b).ok());
  EXPECT_EQ(a.values, b.values);
  EXPECT_EQ(a.scaled, b.scaled);

  tree.type = 7;
  Codebook odd;
  ASSERT_TRUE(parse(bytesOf(tree), &odd).ok());
  const testing::Patch p = constantPatch(0.5f);
  EXPECT_EQ(searchCodebook(p.data(), odd), -1.0f);
  EXPECT_NE(searchCodebook(p.data(), a), -1.0f);
}

TEST(Codebook, HeadersAndInternalCompanionsDoNotMatter) {
  CodebookTree tree = randomTree(3, 3, 21);
  Codebook a = testing::codebookOf(tree);
  tree.header = {1, 2, 3, 4, 5, 6, 7, 8};
  tree.values.assign(kBranching, 0.0f);
  tree.children[4].header.fill(0xFF);
  tree.children[4].values.assign(kBranching, 0.0f);
  Codebook b = testing::codebookOf(tree);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(0.0f, 1.0f);
  for (int n = 0; n < 200; ++n) {
    testing::Patch p;
    for (float& v : p) v = dist(rng);
    EXPECT_EQ(searchCodebook(p.data(), a), searchCodebook(p.data(), b));
  }
}

TEST(Codebook, DeepFileLoadsAndSearchesWithoutRecursion) {
  // A chain of 3000 internal nodes, each with the chain in child 8 and leaves
  // elsewhere; the patch matches codeword 8 at every level.
  constexpr int kLevels = 3000;
  std::vector<uint8_t> bytes;
  for (int level = 0; level < kLevels; ++level) {
    for (int k = 0; k < 8; ++k) bytes.push_back(0);
    appendU32(&bytes, 0);
    for (int k = 0; k < kBranching; ++k) {
      for (int e = 0; e <= kPatchSize; ++e) appendF32(&bytes, k == 8 ? 0.5f : 100.0f);
    }
    for (int k = 0; k < 8; ++k) appendLeaf(&bytes, 1, 0.25f);
  }
  for (int k = 0; k < kBranching; ++k) appendLeaf(&bytes, 1, k == 0 ? 0.75f : 0.25f);
  Codebook cb;
  const Status s = parse(bytes, &cb);
  ASSERT_TRUE(s.ok()) << s.message();
  const testing::Patch p = constantPatch(0.5f);
  EXPECT_EQ(searchCodebook(p.data(), cb), 0.75f);
}

TEST(Codebook, WriterRefusesAMalformedTree) {
  CodebookTree bad = randomTree(3, 4, 2);
  bad.children[3].patches.pop_back();
  bad.children[3].patches.clear();
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(serializeCodebook(bad, &bytes).ok());
}

}  // namespace
}  // namespace nubo

namespace nubo {
namespace {

TEST(Codebook, RandomDamageNeverYieldsAHalfTree) {
  // Flipped bytes, cut files and junk: the parser either refuses the file or
  // gives a complete tree whose every reachable node the search can use.
  const std::vector<uint8_t> good = bytesOf(randomTree(3, 3, 17));
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    if (round % 3 == 0) bytes.resize(rng() % bytes.size());
    Codebook cb;
    if (!parse(bytes, &cb).ok()) {
      ASSERT_TRUE(cb.empty());
      continue;
    }
    for (const CodebookNode& n : cb.nodes) {
      if (n.type == 0) {
        ASSERT_EQ(n.count, kBranching);
      } else if (n.type == 1) {
        ASSERT_GE(n.count, 1);
        ASSERT_LE(static_cast<size_t>(n.firstCodeword + n.count), cb.values.size());
      }
    }
    const testing::Patch p = constantPatch(0.3f);
    (void)searchCodebook(p.data(), cb);
  }
}

}  // namespace
}  // namespace nubo
