// The codebook loader on fuzzed bytes: a file either gives a complete tree in
// which every node the search can reach is whole, or is refused with a reason
// and an empty codebook. A loaded tree is then searched: the batch search must
// give the one-at-a-time results bit for bit.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/codebook.h"
#include "engine/search.h"
#include "fuzz/fuzz_check.h"

namespace {

using nubo::Codebook;
using nubo::CodebookNode;

void checkTree(const Codebook& codebook) {
  const size_t nodes = codebook.nodes.size(), codewords = codebook.codewords.size();
  FUZZ_CHECK(codebook.values.size() == codewords, "one value per codeword");
  FUZZ_CHECK(codebook.nodes[0].type != 1, "the root is not a leaf");
  for (size_t i = 0; i < nodes; ++i) {
    const CodebookNode& node = codebook.nodes[i];
    FUZZ_CHECK(
        i == 0 ? node.parent == -1 : node.parent >= 0 && static_cast<size_t>(node.parent) < i,
        "parents come before their children");
    if (node.type == 1) {
      FUZZ_CHECK(node.count >= 1, "every leaf holds a codeword");
      FUZZ_CHECK(node.firstCodeword >= 0 &&
                     static_cast<size_t>(node.firstCodeword) + node.count <= codewords,
                 "leaf codewords lie in the codebook");
    } else if (i == 0 || node.type == 0) {
      FUZZ_CHECK(node.count == nubo::kBranching, "a complete tree fills every child slot");
      FUZZ_CHECK(
          node.firstChild > 0 && static_cast<size_t>(node.firstChild) + nubo::kBranching <= nodes,
          "children lie in the tree");
      FUZZ_CHECK(node.firstCodeword >= 0 &&
                     static_cast<size_t>(node.firstCodeword) + nubo::kBranching <= codewords,
                 "codewords lie in the codebook");
    }
  }
  FUZZ_CHECK(codebook.depth() >= 2, "a root over leaves at least");
  FUZZ_CHECK(codebook.leafCount() >= nubo::kBranching, "at least nine leaves");
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Patches made from the file's own bytes, and a few extreme ones.
std::vector<float> patchesFrom(const uint8_t* data, size_t size, int count) {
  std::vector<float> patches(static_cast<size_t>(count) * nubo::kPatchSize);
  for (size_t i = 0; i < patches.size(); ++i) {
    const uint8_t byte = data[(i * 7919) % size];
    patches[i] = (static_cast<float>(byte) - 128.0f) / 32.0f;
  }
  for (int e = 0; e < nubo::kPatchSize; ++e) {
    patches[e] = 0.0f;
    patches[nubo::kPatchSize + e] = std::numeric_limits<float>::quiet_NaN();
    patches[2 * nubo::kPatchSize + e] = e % 2 ? std::numeric_limits<float>::infinity() : -1e30f;
  }
  return patches;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Codebook codebook;
  const nubo::Status status = nubo::parseCodebook(data, size, &codebook);
  if (!status.ok()) {
    FUZZ_CHECK(!status.message().empty(), "a refusal gives a reason");
    FUZZ_CHECK(codebook.empty(), "a refused file leaves the codebook empty");
    return 0;
  }
  FUZZ_CHECK(!codebook.empty(), "a loaded codebook has a root");
  checkTree(codebook);

  // Enough patches for the grouped batch search as well as the interleaved one.
  for (int count : {5, nubo::kGroupedFrom + 3}) {
    const std::vector<float> patches = patchesFrom(data, size, count);
    std::vector<float> batch(count), grouped(count);
    nubo::searchCodebookBatch(patches.data(), count, codebook, batch.data());
    nubo::SearchBuffers buffers;
    nubo::searchCodebookBatch(patches.data(), count, codebook, grouped.data(), &buffers);
    for (int k = 0; k < count; ++k) {
      const float one = nubo::searchCodebook(patches.data() + k * nubo::kPatchSize, codebook);
      FUZZ_CHECK(sameBits(one, batch[k]) && sameBits(one, grouped[k]),
                 "batch search gives the single search's value");
    }
  }
  return 0;
}
