// Companion values: for each leaf codeword the value whose prediction, after
// the engine's acceptance rule, best matches the originals, or abstention
// where no value beats leaving the pixels alone on held-back pictures.
#ifndef NUBO_TRAIN_COMPANIONS_H_
#define NUBO_TRAIN_COMPANIONS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codebook.h"
#include "engine/thread_pool.h"
#include "train/samples.h"
#include "train/tree_builder.h"

namespace nubo {
namespace train {

// Engine result for a prediction from companion value v (the acceptance rule).
float acceptedOutput(float v, const PixelSample& sample);

// Summed squared error (Y units) of the displayed luma over samples when their
// codeword carries v (accepted outputs are compared with the shifted target).
double companionError(float v, const std::vector<PixelSample>& samples);

// Summed squared error when every sample keeps its input Y.
double keepError(const std::vector<PixelSample>& samples);

// The value minimising companionError (exact over the piecewise quadratic),
// or kAbstainValue when no value does better than keepError.
float bestCompanion(const std::vector<PixelSample>& samples);

struct CompanionRules {
  size_t minFitSamples = 64;   // fewer assigned fit patches: abstain
  size_t minHeldSamples = 16;  // fewer assigned held-back patches: abstain
  double minHeldGain = 0.0;    // held-back gain (grey levels^2 per held-back patch) to beat
};

// Chooses a codeword's companion among its own fit on fit and the shared
// values (fitted on wider groups): the one that gains most on held (samples
// never seen by any fit), if that gain beats the rules; an own fit is then
// refitted on both sets. Otherwise kAbstainValue.
float chooseCompanion(const std::vector<PixelSample>& fit, const std::vector<PixelSample>& held,
                      const CompanionRules& rules, const std::vector<float>& shared = {});

// Summed gain (Y units^2) over keeping if every sample had its own best
// accepted prediction: the ceiling of any codebook on these samples.
double perPixelOptimumGain(const std::vector<PixelSample>& samples);

// Sets the companion of every leaf codeword of tree from the patches assigned
// to it, the leaves on pool. Returns the number of codewords that act.
size_t fitCompanions(const Codebook& codebook, const std::vector<int32_t>& assignment,
                     const SampleSet& set, const CompanionRules& rules, ThreadPool* pool,
                     CodebookTree* tree);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_COMPANIONS_H_
