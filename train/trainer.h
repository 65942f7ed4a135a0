// Codebook training: training pairs from JPEG-compressed photographs, a 9-ary
// tree grown by hierarchical weighted k-means, and companion values chosen for
// the result after the engine's acceptance rule, with abstention where a
// codeword does not help on held-back pictures.
#ifndef NUBO_TRAIN_TRAINER_H_
#define NUBO_TRAIN_TRAINER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/codebook.h"
#include "engine/status.h"
#include "engine/working_image.h"
#include "imageio/image_io.h"

namespace nubo {
namespace train {

// Companion value of a codeword that must never act: it de-normalises to a
// prediction hundreds of levels from the input, which the 0.08 limit rejects.
constexpr float kAbstainValue = 1.0e6f;

// The 8 flips and rotations of the 5x5 window (variant 0 is the identity).
constexpr int kSymmetries = 8;

// Writes variant k (0..7) of the row-major 5x5 patch in to out (not aliased).
void symmetryVariant(const float* in, int k, float* out);

// What the engine knows about one training pixel besides its patch.
struct PixelSample {
  float y = 0;     // input (decoded) Y
  float m = 0;     // mean of the decoded window, as the engine rounds it
  float s = 0;     // deviation of the decoded window, as the engine rounds it (> 0)
  float target = 0;    // what an accepted prediction should be: the original's Y plus
                       // the mean level lost when the cleaner converts back to RGB
  float keepDiff = 0;  // luma the cleaner shows when the input is kept, minus the original's
};

// Training patches: every sample owns `variants` consecutive normalised patches
// (its symmetry variants, or only itself).
struct SampleSet {
  int variants = kSymmetries;
  std::vector<float> patches;  // samples.size() * variants * kPatchSize
  std::vector<PixelSample> samples;
  std::vector<uint8_t> heldOut;  // per sample: 1 when its picture is held back
  std::vector<float> moveLoss;   // per sample: luma lost (Y units) by the RGB conversion of a
                                 // slightly moved Y, to estimate the loss of accepted predictions

  size_t patchCount() const { return samples.size() * static_cast<size_t>(variants); }
  const float* patch(size_t p) const { return patches.data() + p * kPatchSize; }
  void append(const SampleSet& other);  // same variants required
};

// Y (engine colour conversion) of every pixel of a decoded picture, top row first.
std::vector<float> lumaOf(const DecodedImage& picture);

// Compresses picture at quality with libjpeg and loads the result as the
// cleaner does (decode from memory, display buffers, preprocessing).
Status compressAndLoad(const DecodedImage& picture, int quality, WorkingImage* image);

// Number of pixels of image that would give a training sample at most (interior
// pixels of edge blocks).
size_t countCandidates(const WorkingImage& image);

// Adds a sample for every interior edge-block pixel with a non-flat window,
// each kept with probability keep (decided by a generator seeded with seed).
// origY holds the original's Y, top row first. Targets are the original's Y;
// shiftTargets adds the conversion loss once all samples are in.
void collectSamples(const WorkingImage& image, const std::vector<float>& origY, double keep,
                    uint64_t seed, bool heldOut, SampleSet* out);

// Adds the mean of moveLoss to every target (the cleaner's output loses it).
// Returns the shift in grey levels.
double shiftTargets(SampleSet* set);

// Luma (BT.601 on the 8-bit RGB, Y units) the cleaner shows for (y, i, q).
double displayedLuma(float y, float i, float q);

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
  size_t minFitSamples = 64;    // fewer assigned fit patches: abstain
  size_t minHeldSamples = 16;   // fewer assigned held-back patches: abstain
  double minHeldGain = 0.0;     // held-back gain (grey levels^2 per held-back patch) to beat
};

// Chooses a codeword's companion among its own fit on fit and the shared
// values (fitted on wider groups): the one that gains most on held (samples
// never seen by any fit), if that gain beats the rules; an own fit is then
// refitted on both sets. Otherwise kAbstainValue.
float chooseCompanion(const std::vector<PixelSample>& fit, const std::vector<PixelSample>& held,
                      const CompanionRules& rules, const std::vector<float>& shared = {});

// Progress of a long step: done out of total, with a short label.
using ProgressFn = std::function<void(const char* label, size_t done, size_t total)>;

struct TreeOptions {
  int depth = 3;          // levels from the root to the leaves (2: a root over leaves)
  int leafSize = 32;      // codewords per leaf (fewer when a leaf gets few patches)
  uint64_t seed = 1;
  int threads = 2;
  int iterations = 12;    // Lloyd iterations at most per k-means
  size_t fitLimit = 100000;  // k-means centroids are fitted on at most this many patches
  size_t leafFitLimit = 32000;  // the same for the leaves' k-means (the bulk of the time)
};

// Grows the codebook tree over the patches (values all kAbstainValue).
CodebookTree buildTree(const SampleSet& set, const TreeOptions& options,
                       const ProgressFn& progress);

// Leaf codeword of every patch as the engine's search chooses it (global
// codeword index, -1 when the search fails).
std::vector<int32_t> assignPatches(const Codebook& codebook, const SampleSet& set, int threads,
                                   const ProgressFn& progress);

// For every global codeword index of codebook: the tree's leaf and position
// (nullptr for internal codewords). The tree must be the one codebook was parsed from.
std::vector<std::pair<CodebookTree*, int>> codewordSlots(const Codebook& codebook,
                                                         CodebookTree* tree);

// Sets the companion of every leaf codeword of tree from the patches assigned
// to it. Returns the number of codewords that act.
size_t fitCompanions(const Codebook& codebook, const std::vector<int32_t>& assignment,
                     const SampleSet& set, const CompanionRules& rules, int threads,
                     CodebookTree* tree);

// Shrinks every subtree whose codewords all abstain to one abstaining leaf
// codeword (the root stays internal): the search then gives the same result for
// every patch, from a smaller file. Returns the number of codewords removed.
size_t pruneAbstaining(CodebookTree* tree);

// Parses the serialised tree into a searchable codebook.
Status toCodebook(const CodebookTree& tree, Codebook* codebook);

// Luminance PSNR (BT.601 Y on 8-bit RGB) of the decoded and the cleaned picture.
struct PictureScore {
  double decodedPsnr = 0;
  double cleanedPsnr = 0;
};

// Compresses picture at quality, cleans it with codebook and scores both results.
Status scorePicture(const DecodedImage& picture, int quality, const Codebook& codebook,
                    int threads, PictureScore* score);

struct TrainOptions {
  std::vector<int> qualities{10, 20, 30, 40};
  TreeOptions tree;
  CompanionRules rules;
  size_t maxSamples = 1000000;  // pixel samples kept in all (each gives 8 patches)
  double heldFraction = 0.25;   // pictures whose samples only judge companions
  bool augment = true;
};

// Everything the trainer measured, for the log.
struct TrainReport {
  size_t pictures = 0;
  size_t samples = 0;
  size_t patches = 0;
  size_t leafCodewords = 0;
  size_t actingCodewords = 0;
  double levelShift = 0;  // grey levels added to the targets (conversion loss)
  double fitGain = 0;
  double oracleGain = 0;  // the same if every pixel had its own best accepted value   // grey levels^2 per sample, all samples, final companions
};

// Trains a codebook from decoded original pictures.
Status trainCodebook(const std::vector<DecodedImage>& pictures, const TrainOptions& options,
                     const ProgressFn& progress, CodebookTree* tree, TrainReport* report);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_TRAINER_H_
