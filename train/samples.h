// Training samples: JPEG-compressed photographs loaded as the cleaner loads
// them, and for every interior edge-block pixel its normalised patch with what
// the engine knows about it and what the original says it should be.
#ifndef NUBO_TRAIN_SAMPLES_H_
#define NUBO_TRAIN_SAMPLES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codebook.h"
#include "engine/preprocess.h"
#include "engine/status.h"
#include "engine/working_image.h"
#include "imageio/image_io.h"

namespace nubo {
namespace train {

// The 8 flips and rotations of the 5x5 window (variant 0 is the identity).
constexpr int kSymmetries = 8;

// Writes variant k (0..7) of the row-major 5x5 patch in to out (not aliased).
void symmetryVariant(const float* in, int k, float* out);

// What the engine knows about one training pixel besides its patch.
struct PixelSample {
  float y = 0;         // input (decoded) Y
  float m = 0;         // mean of the decoded window, as the engine rounds it
  float s = 0;         // deviation of the decoded window, as the engine rounds it (> 0)
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
// cleaner does (decode from memory, display buffers); the AnalysedImage form
// adds the whole-picture luminance and edge blocks the sample collection reads.
Status compressAndLoad(const DecodedImage& picture, int quality, WorkingImage* image);
Status compressAndLoad(const DecodedImage& picture, int quality, AnalysedImage* image);

// Number of pixels of image that would give a training sample at most (interior
// pixels of edge blocks).
size_t countCandidates(const AnalysedImage& image);

// Adds a sample for every interior edge-block pixel with a non-flat window,
// each kept with probability keep (decided by a generator seeded with seed).
// origY holds the original's Y, top row first. Targets are the original's Y;
// shiftTargets adds the conversion loss once all samples are in.
// keepBytes: the cleaner runs in its default mode, so a kept pixel shows its
// input bytes (its error is the decoded picture's own) instead of the YIQ round trip.
void collectSamples(const AnalysedImage& image, const std::vector<float>& origY, double keep,
                    uint64_t seed, bool heldOut, bool keepBytes, SampleSet* out);

// Luma (BT.601 on 8-bit RGB, Y units) of the display pixel at offset of buffer.
double bytesLuma(const std::vector<uint8_t>& display, size_t offset);

// Adds the mean of moveLoss to every target (the cleaner's output loses it).
// Returns the shift in grey levels.
double shiftTargets(SampleSet* set);

// Luma (BT.601 on the 8-bit RGB, Y units) the cleaner shows for (y, i, q).
double displayedLuma(float y, float i, float q);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_SAMPLES_H_
