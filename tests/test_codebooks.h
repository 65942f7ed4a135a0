// Small codebooks made inside the tests: random trees and hand-built byte files.
#ifndef NUBO_TESTS_TEST_CODEBOOKS_H_
#define NUBO_TESTS_TEST_CODEBOOKS_H_

#include <array>
#include <cstdint>
#include <vector>

#include "engine/codebook.h"
#include "engine/search.h"

namespace nubo::testing {

using Patch = std::array<float, kPatchSize>;

// A full tree of the given depth (2 = root over leaves) whose codewords are
// seeded random patches in 0..1 and whose leaves hold leafSize codewords with
// random companion values in 0..1.
CodebookTree randomTree(int depth, int leafSize, uint32_t seed);

// Leaf with the given patches and values.
CodebookTree leaf(const std::vector<Patch>& patches, const std::vector<float>& values);

// Patch with every element v.
Patch constantPatch(float v);

// Serialises a tree, failing the test on error.
std::vector<uint8_t> bytesOf(const CodebookTree& tree);

// Parses bytes into a codebook, failing the test on error.
Codebook codebookOf(const CodebookTree& tree);

// Byte-level record writers, for files the tree writer cannot express.
void appendU32(std::vector<uint8_t>* out, uint32_t v);
void appendF32(std::vector<uint8_t>* out, float v);

// The plain recursive descent, one patchDistance at a time: what every search
// path must return, bit for bit.
inline float referenceSearch(const float* p, const Codebook& cb, int node = 0) {
  const CodebookNode& n = cb.nodes[node];
  if (n.type > 1) return -1.0f;
  double best = n.type == 0 ? 100000.0 : 10000000.0;
  int bestIndex = -1;
  for (int i = 0; i < n.count; ++i) {
    const double d = patchDistance(p, cb.codewords[n.firstCodeword + i].patch.data());
    if (!(d >= best)) {
      best = d;
      bestIndex = i;
    }
  }
  if (bestIndex < 0) return -1.0f;
  if (n.type == 0) return referenceSearch(p, cb, n.firstChild + bestIndex);
  return cb.values[n.firstCodeword + bestIndex];
}

}  // namespace nubo::testing

#endif  // NUBO_TESTS_TEST_CODEBOOKS_H_
