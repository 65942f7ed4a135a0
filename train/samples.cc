// Training samples from JPEG-compressed photographs, loaded as the cleaner loads them.
#include "train/samples.h"

#include <mutex>
#include <utility>

#include "engine/colour.h"
#include "engine/pixel_rule.h"
#include "engine/preprocess.h"
#include "engine/ringing.h"
#include "engine/search.h"
#include "jpegutil/jpeg_util.h"
#include "train/train_common.h"

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

namespace {

// DevIL keeps global state: one decode at a time.
std::mutex& devilMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void SampleSet::add(const float* window, const PixelSample& sample, bool held, float loss) {
  windows.insert(windows.end(), window, window + kPatchSize);
  samples.push_back(sample);
  heldOut.push_back(held ? 1 : 0);
  moveLoss.push_back(loss);
}

void SampleSet::reserve(size_t sampleCount) {
  windows.reserve(sampleCount * kPatchSize);
  samples.reserve(sampleCount);
  heldOut.reserve(sampleCount);
  moveLoss.reserve(sampleCount);
}

void SampleSet::append(const SampleSet& other) {
  windows.insert(windows.end(), other.windows.begin(), other.windows.end());
  samples.insert(samples.end(), other.samples.begin(), other.samples.end());
  heldOut.insert(heldOut.end(), other.heldOut.begin(), other.heldOut.end());
  moveLoss.insert(moveLoss.end(), other.moveLoss.begin(), other.moveLoss.end());
}

void symmetryVariant(const float* in, int k, float* out) {
  for (int e = 0; e < kPatchSize; ++e) out[e] = in[kSymmetrySource.index[k][e]];
}

DecodedImage orientPicture(const DecodedImage& picture, int k) {
  DecodedImage out;
  const bool transpose = (k & 4) != 0;
  out.width = transpose ? picture.height : picture.width;
  out.height = transpose ? picture.width : picture.height;
  out.rgb.resize(picture.rgb.size());
  for (int a = 0; a < out.height; ++a) {  // rows of the result, top first
    for (int b = 0; b < out.width; ++b) {
      int r = transpose ? b : a;
      int c = transpose ? a : b;
      if (k & 1) c = picture.width - 1 - c;
      if (k & 2) r = picture.height - 1 - r;
      // Rows are stored bottom first.
      const uint8_t* from = picture.rgb.data() +
                            (static_cast<size_t>(picture.height - 1 - r) * picture.width + c) * 3;
      uint8_t* to = out.rgb.data() + (static_cast<size_t>(out.height - 1 - a) * out.width + b) * 3;
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
  }
  return out;
}

std::vector<float> lumaOf(const DecodedImage& picture) {
  std::vector<float> y(static_cast<size_t>(picture.width) * picture.height);
  for (int i = 0; i < picture.height; ++i) {
    const uint8_t* row =
        picture.rgb.data() + static_cast<size_t>(picture.height - 1 - i) * picture.width * 3;
    for (int j = 0; j < picture.width; ++j) {
      float yiq[3];
      rgbToYiq(yiq, row[3 * j], row[3 * j + 1], row[3 * j + 2]);
      y[static_cast<size_t>(i) * picture.width + j] = yiq[0];
    }
  }
  return y;
}

Status compressAndLoad(const DecodedImage& picture, int quality, DecodedImage* decoded) {
  *decoded = DecodedImage();
  std::vector<uint8_t> jpeg;
  Status status = compressJpeg(picture.rgb.data(), picture.width, picture.height, quality,
                               /*topRowFirst=*/false, &jpeg);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> lock(devilMutex());
  return decodeImage(jpeg.data(), jpeg.size(), decoded);
}

Status compressAndLoad(const DecodedImage& picture, int quality, LoadedPicture* loaded) {
  Status status = compressAndLoad(picture, quality, &loaded->decoded);
  if (status.ok()) {
    const DecodedImage& d = loaded->decoded;
    analyseImage(bottomFirstRows(d.rgb.data(), d.width, d.height), d.width, d.height,
                 &loaded->analysis);
  }
  return status;
}

size_t countCandidates(const AnalysedImage& image) {
  size_t n = 0;
  for (int i = 2; i <= image.imageHeight - 3; ++i) {
    const int32_t* row = image.edgeBlockMap.data() + static_cast<size_t>(i) * image.imageWidth;
    for (int j = 2; j <= image.imageWidth - 3; ++j) n += row[j] != 0;
  }
  return n;
}

void collectSamples(const LoadedPicture& loaded, const std::vector<float>& origY, double keep,
                    uint64_t seed, bool heldOut, bool keepBytes, SampleSet* out) {
  const AnalysedImage& image = loaded.analysis;
  Rng rng(seed);
  const int w = image.imageWidth;
  for (int i = 2; i <= image.imageHeight - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      const size_t at = static_cast<size_t>(i) * w + j;
      if (image.edgeBlockMap[at] == 0) continue;
      if (keep < 1.0 && rng.uniform() >= keep) continue;
      float patch[kPatchSize];
      gatherPatch(image, i, j, patch);
      float m, s;
      if (!normaliseForSearch(patch, &m, &s)) continue;  // flat: the engine keeps its Y
      PixelSample sample;
      sample.y = image.inputYiq[at * 3];
      sample.m = m;
      sample.s = s;
      const float iq[2] = {image.inputYiq[at * 3 + 1], image.inputYiq[at * 3 + 2]};
      sample.target = origY[at];
      // The decoded rows are bottom first: picture row i is row imageHeight-1-i.
      const size_t bytesAt =
          (static_cast<size_t>(image.imageHeight - 1 - i) * w + j) * static_cast<size_t>(3);
      const double shown = keepBytes ? bytesLuma(loaded.decoded.rgb, bytesAt)
                                     : displayedLuma(sample.y, iq[0], iq[1]);
      sample.keepDiff = static_cast<float>(shown - origY[at]);
      // A prediction lands at an arbitrary point between two levels; a random
      // move of up to +-kMoveRange shows the loss such a point suffers.
      constexpr double kMoveRange = 0.03;
      const float moved = static_cast<float>(sample.y + (rng.uniform() * 2.0 - 1.0) * kMoveRange);
      out->add(patch, sample, heldOut,
               static_cast<float>(moved - displayedLuma(moved, iq[0], iq[1])));
    }
  }
}

double bytesLuma(const std::vector<uint8_t>& rgb, size_t offset) {
  const uint8_t* p = rgb.data() + offset;
  return (0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]) / 255.0;
}

double displayedLuma(float y, float i, float q) {
  uint8_t rgb[3];
  yiqToRgb(rgb, y, i, q);
  return (0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]) / 255.0;
}

double shiftTargets(SampleSet* set) {
  if (set->moveLoss.empty()) return 0.0;
  double sum = 0.0;
  for (float loss : set->moveLoss) sum += loss;
  const double shift = sum / static_cast<double>(set->moveLoss.size());
  for (PixelSample& s : set->samples) s.target = static_cast<float>(s.target + shift);
  return shift * 255.0;
}

}  // namespace train
}  // namespace nubo
