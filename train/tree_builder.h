// The codebook tree: hierarchical weighted k-means over the training patches,
// the partition the engine's search makes of them, and pruning of silent subtrees.
#ifndef NUBO_TRAIN_TREE_BUILDER_H_
#define NUBO_TRAIN_TREE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/codebook.h"
#include "engine/status.h"
#include "engine/thread_pool.h"
#include "train/samples.h"
#include "train/train_common.h"

namespace nubo {
namespace train {

// Companion value of a codeword that must never act: it de-normalises to a
// prediction hundreds of levels from the input, which the acceptance limit
// (kAcceptLimit) rejects.
constexpr float kAbstainValue = 1.0e6f;

struct TreeOptions {
  int depth = 3;      // levels from the root to the leaves (2: a root over leaves)
  int leafSize = 32;  // codewords per leaf (fewer when a leaf gets few patches)
  uint64_t seed = 1;
  int iterations = 12;          // Lloyd iterations at most per k-means
  size_t fitLimit = 100000;     // k-means centroids are fitted on at most this many patches
  size_t leafFitLimit = 32000;  // the same for the leaves' k-means (the bulk of the time)
  // Weight of the target feature (the companion value a sample wants) joined to
  // the patch while the k-means of the leaves and of the internal nodes fit their
  // centroids; 0: patches alone. Patches are always split among the children by
  // patch distance alone, as the search does.
  float leafTargetWeight = 0.0f;
  float nodeTargetWeight = 0.0f;
};

// Grows the codebook tree over the patches (values all kAbstainValue), its
// k-means and partitions on pool (the same tree for any pool size). Targets
// must already be final (shiftTargets) when a target weight is set.
CodebookTree buildTree(const SampleSet& set, const TreeOptions& options, ThreadPool* pool,
                       const ProgressFn& progress);

// Leaf codeword of every patch as the engine's search chooses it (global
// codeword index, -1 when the search fails), searched on pool.
std::vector<int32_t> assignPatches(const Codebook& codebook, const SampleSet& set, ThreadPool* pool,
                                   const ProgressFn& progress);

// For every global codeword index of codebook: the tree's leaf and position
// (nullptr for internal codewords). The tree must be the one codebook was parsed from.
std::vector<std::pair<CodebookTree*, int>> codewordSlots(const Codebook& codebook,
                                                         CodebookTree* tree);

// Shrinks every subtree whose codewords all abstain to one abstaining leaf
// codeword (the root stays internal): the search then gives the same result for
// every patch, from a smaller file. Returns the number of codewords removed.
size_t pruneAbstaining(CodebookTree* tree);

// Parses the serialised tree into a searchable codebook.
Status toCodebook(const CodebookTree& tree, Codebook* codebook);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_TREE_BUILDER_H_
