// Codebook training: training pairs from JPEG-compressed photographs, a 9-ary
// tree grown by hierarchical weighted k-means, and companion values chosen for
// the result after the engine's acceptance rule, with abstention where a
// codeword does not help on held-back pictures.
#ifndef NUBO_TRAIN_TRAINER_H_
#define NUBO_TRAIN_TRAINER_H_

#include <cstddef>
#include <vector>

#include "engine/codebook.h"
#include "engine/status.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"
#include "train/companions.h"
#include "train/samples.h"
#include "train/scorer.h"
#include "train/train_common.h"
#include "train/tree_builder.h"

namespace nubo {
namespace train {

struct TrainOptions {
  std::vector<int> qualities{10, 20, 30, 40};
  TreeOptions tree;
  CompanionRules rules;
  size_t maxSamples = 1000000;  // pixel samples kept in all (each gives 8 patches)
  double heldFraction = 0.25;   // pictures whose samples only judge companions
  bool augment = true;          // each sample also stands for its 7 flipped and rotated patches
  int orientations = 1;         // 1, 2, 4 or 8: orientations of each original compressed as
                                // training pairs of their own (orientPicture 0..n-1)
  bool keepUntouched = false;   // train for the cleaner's keepUntouched mode
};

// Everything the trainer measured, for the log.
struct TrainReport {
  size_t pictures = 0;
  size_t samples = 0;
  size_t patches = 0;
  size_t leafCodewords = 0;
  size_t actingCodewords = 0;
  double levelShift = 0;  // grey levels added to the targets (conversion loss)
  double fitGain = 0;     // grey levels^2 per patch over keeping, all patches, final companions
  double oracleGain = 0;  // the same per sample if every pixel had its own best accepted value
};

// Trains a codebook from decoded original pictures, every parallel step on
// pool; the codebook is the same for any pool size.
Status trainCodebook(const std::vector<DecodedImage>& pictures, const TrainOptions& options,
                     ThreadPool* pool, const ProgressFn& progress, CodebookTree* tree,
                     TrainReport* report);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_TRAINER_H_
