// Training samples: JPEG-compressed photographs loaded as the cleaner loads
// them, and for every interior edge-block pixel its normalised patch with what
// the engine knows about it and what the original says it should be.
#ifndef NUBO_TRAIN_SAMPLES_H_
#define NUBO_TRAIN_SAMPLES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codebook.h"
#include "engine/preprocess.h"
#include "engine/status.h"
#include "imageio/image_io.h"

namespace nubo {
namespace train {

// The 8 flips and rotations of the 5x5 window (variant 0 is the identity).
constexpr int kSymmetries = 8;

// Writes variant k (0..7) of the row-major 5x5 patch in to out (not aliased).
void symmetryVariant(const float* in, int k, float* out);

// Element of the row-major patch that element e of variant k copies:
// symmetryVariant(in, k, out) sets out[e] = in[kSymmetrySource.index[k][e]].
struct SymmetrySource {
  uint8_t index[kSymmetries][kPatchSize];
};

constexpr SymmetrySource makeSymmetrySource() {
  SymmetrySource t{};
  for (int k = 0; k < kSymmetries; ++k) {
    for (int a = 0; a < 5; ++a) {
      for (int b = 0; b < 5; ++b) {
        int r = (k & 4) ? b : a;  // transpose
        int c = (k & 4) ? a : b;
        if (k & 1) c = 4 - c;  // mirror left-right
        if (k & 2) r = 4 - r;  // mirror top-bottom
        t.index[k][5 * a + b] = static_cast<uint8_t>(5 * r + c);
      }
    }
  }
  return t;
}

inline constexpr SymmetrySource kSymmetrySource = makeSymmetrySource();

using PatchArray = std::array<float, kPatchSize>;

// What the engine knows about one training pixel besides its patch.
struct PixelSample {
  float y = 0;         // input (decoded) Y
  float m = 0;         // mean of the decoded window, as the engine rounds it
  float s = 0;         // deviation of the decoded window, as the engine rounds it (> 0)
  float target = 0;    // what an accepted prediction should be: the original's Y plus
                       // the mean level lost when the cleaner converts back to RGB
  float keepDiff = 0;  // luma the cleaner shows when the input is kept, minus the original's
};

// Training patches: every sample stands for `variants` patches (its symmetry
// variants, or only itself). Only each sample's own normalised window is
// stored; a variant is formed when it is read (a copy in another order), so
// the memory per patch is an eighth of a stored patch with the variants.
// Patch p is variant p % variants of sample p / variants.
struct SampleSet {
  int variants = kSymmetries;
  std::vector<float> windows;  // samples.size() * kPatchSize: variant 0 of every sample
  std::vector<PixelSample> samples;
  std::vector<uint8_t> heldOut;  // per sample: 1 when its picture is held back
  std::vector<float> moveLoss;   // per sample: luma lost (Y units) by the RGB conversion of a
                                 // slightly moved Y, to estimate the loss of accepted predictions

  size_t patchCount() const { return samples.size() * static_cast<size_t>(variants); }
  // Writes patch p to out (kPatchSize floats).
  void patchInto(size_t p, float* out) const {
    const float* window = windows.data() + (p / variants) * kPatchSize;
    const int k = static_cast<int>(p % variants);
    if (k == 0) {
      for (int e = 0; e < kPatchSize; ++e) out[e] = window[e];
    } else {
      const uint8_t* source = kSymmetrySource.index[k];
      for (int e = 0; e < kPatchSize; ++e) out[e] = window[source[e]];
    }
  }
  PatchArray patch(size_t p) const {
    PatchArray out;
    patchInto(p, out.data());
    return out;
  }
  // Adds a sample with its normalised window (variant 0).
  void add(const float* window, const PixelSample& sample, bool held, float loss);
  void append(const SampleSet& other);  // same variants required
  void reserve(size_t sampleCount);
};

// Orientation k (0..7) of picture, in the order of the patch variants: bit 4
// transposes, bit 1 mirrors left-right, bit 2 top-bottom (as the picture is
// seen, top row first). Orientation 0 is a copy; 4 to 7 swap width and height.
DecodedImage orientPicture(const DecodedImage& picture, int k);

// Y (engine colour conversion) of every pixel of a decoded picture, top row first.
std::vector<float> lumaOf(const DecodedImage& picture);

// A picture compressed and loaded back: its decoded bytes (rows packed, bottom
// row first, as decodeImage gives them) and their whole-picture analysis.
struct LoadedPicture {
  DecodedImage decoded;
  AnalysedImage analysis;
};

// Compresses picture at quality with libjpeg and decodes the result from
// memory as the cleaner does; the LoadedPicture form adds the whole-picture
// luminance and edge blocks the sample collection reads.
Status compressAndLoad(const DecodedImage& picture, int quality, DecodedImage* decoded);
Status compressAndLoad(const DecodedImage& picture, int quality, LoadedPicture* loaded);

// Number of pixels of image that would give a training sample at most (interior
// pixels of edge blocks).
size_t countCandidates(const AnalysedImage& image);

// Adds a sample for every interior edge-block pixel with a non-flat window,
// each kept with probability keep (decided by a generator seeded with seed).
// origY holds the original's Y, top row first. Targets are the original's Y;
// shiftTargets adds the conversion loss once all samples are in.
// keepBytes: the cleaner runs in its default mode, so a kept pixel shows its
// input bytes (its error is the decoded picture's own) instead of the YIQ round trip.
void collectSamples(const LoadedPicture& loaded, const std::vector<float>& origY, double keep,
                    uint64_t seed, bool heldOut, bool keepBytes, SampleSet* out);

// Luma (BT.601 on 8-bit RGB, Y units) of the pixel at byte offset of rgb.
double bytesLuma(const std::vector<uint8_t>& rgb, size_t offset);

// Adds the mean of moveLoss to every target (the cleaner's output loses it).
// Returns the shift in grey levels.
double shiftTargets(SampleSet* set);

// Luma (BT.601 on the 8-bit RGB, Y units) the cleaner shows for (y, i, q).
double displayedLuma(float y, float i, float q);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_SAMPLES_H_
