// Small codebooks made inside the tests.
#include "tests/test_codebooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace nubo::testing {

namespace {

Patch randomPatch(std::mt19937* rng) {
  std::uniform_real_distribution<float> dist(0.0f, 1.0f);
  Patch p;
  for (float& v : p) v = dist(*rng);
  return p;
}

CodebookTree randomNode(int depth, int leafSize, std::mt19937* rng) {
  CodebookTree node;
  std::uniform_real_distribution<float> dist(0.0f, 1.0f);
  if (depth <= 1) {
    node.type = 1;
    for (int k = 0; k < leafSize; ++k) {
      node.patches.push_back(randomPatch(rng));
      node.values.push_back(dist(*rng));
    }
    return node;
  }
  node.type = 0;
  for (int k = 0; k < kBranching; ++k) {
    node.patches.push_back(randomPatch(rng));
    node.values.push_back(dist(*rng));
    node.children.push_back(randomNode(depth - 1, leafSize, rng));
  }
  return node;
}

}  // namespace

CodebookTree randomTree(int depth, int leafSize, uint32_t seed) {
  std::mt19937 rng(seed);
  return randomNode(depth, leafSize, &rng);
}

CodebookTree leaf(const std::vector<Patch>& patches, const std::vector<float>& values) {
  CodebookTree node;
  node.type = 1;
  node.patches = patches;
  node.values = values;
  return node;
}

Patch constantPatch(float v) {
  Patch p;
  p.fill(v);
  return p;
}

std::vector<uint8_t> bytesOf(const CodebookTree& tree) {
  std::vector<uint8_t> bytes;
  const Status s = serializeCodebook(tree, &bytes);
  EXPECT_TRUE(s.ok()) << s.message();
  return bytes;
}

Codebook codebookOf(const CodebookTree& tree) {
  const std::vector<uint8_t> bytes = bytesOf(tree);
  Codebook cb;
  const Status s = parseCodebook(bytes.data(), bytes.size(), &cb);
  EXPECT_TRUE(s.ok()) << s.message();
  return cb;
}

void appendU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void appendF32(std::vector<uint8_t>* out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  appendU32(out, bits);
}

}  // namespace nubo::testing
