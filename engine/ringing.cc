// The per-pixel rules of the ringing-removal pass.
#include "engine/ringing.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/colour.h"
#include "engine/search.h"
#include "engine/window_kernels.h"

namespace nubo {

bool windowVectorsEnabled() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have && searchPath() == SearchPath::kFastest;
}

bool gatherPatch(const AnalysedImage& image, int i, int j, float* patch) {
  const int w = image.imageWidth;
  const size_t at = static_cast<size_t>(i) * w + j;
  gatherWindow(image.inputYiq.data() + at * 3, static_cast<ptrdiff_t>(w) * 3, 3, patch);
  bool nearEdge = false;
  for (int a = -kWindowRadius; a <= kWindowRadius; ++a) {
    const int32_t* edge = image.edgeBlockMap.data() + at + static_cast<ptrdiff_t>(a) * w;
    for (int b = -kWindowRadius; b <= kWindowRadius; ++b) nearEdge = nearEdge || edge[b] != 0;
  }
  return nearEdge;
}

float cleanLuma(float* patch, float y, bool edgePixel, bool nearEdge, bool smoothNonEdge,
                const Codebook& codebook) {
  if (!edgePixel) {
    // Smooth only where no edge block lies within the window.
    return !smoothNonEdge || nearEdge ? y : static_cast<float>(patchMean(patch));
  }
  float m, s;
  if (!normaliseForSearch(patch, &m, &s)) return y;
  return acceptPrediction(searchCodebook(patch, codebook), m, s, y);
}

EdgePixelBatch::EdgePixelBatch(const Codebook& book, int capacity, SearchBuffers* buffers)
    : codebook_(book),
      buffers_(buffers),
      capacity_(capacity < 4 ? 4 : capacity),
      patches_(static_cast<size_t>(capacity_) * kPatchSize),
      pending_(capacity_),
      found_(capacity_) {}

void EdgePixelBatch::setOutput(float* out, int outStride) {
  flush();
  out_ = out;
  outStride_ = outStride;
}

void EdgePixelBatch::addEdgePixel(size_t at, float y) {
  float m, s;
  if (!normaliseForSearch(nextPatch(), &m, &s)) {
    out_[at * outStride_] = y;
    return;
  }
  pending_[count_] = {m, s, y, at};
  if (++count_ == capacity_) flush();
}

void EdgePixelBatch::addEdgeFour(const float* centre, ptrdiff_t stride, size_t at, int from,
                                 int to) {
  if (count_ + 4 > capacity_) flush();
  const int first = count_;
  float* slots = patches_.data() + static_cast<size_t>(first) * kPatchSize;
  float m[4], s[4];
  normaliseFourAvx2(centre, stride, slots, m, s);
  for (int k = from; k <= to; ++k) {
    const float y = centre[k];
    if (s[k] == 0.0f) {  // flat window: the pixel keeps its Y
      out_[(at + k) * outStride_] = y;
      continue;
    }
    if (count_ != first + k) {
      std::memcpy(nextPatch(), slots + static_cast<size_t>(k) * kPatchSize,
                  kPatchSize * sizeof(float));
    }
    pending_[count_++] = {m[k], s[k], y, at + k};
  }
}

void EdgePixelBatch::flush() {
  if (count_ == 0) return;
  searchCodebookBatch(patches_.data(), count_, codebook_, found_.data(), buffers_);
  for (int k = 0; k < count_; ++k) {
    const Pending& p = pending_[k];
    out_[p.at * outStride_] = acceptPrediction(found_[k], p.m, p.s, p.y);
  }
  count_ = 0;
}

void pixelAfterPass(const uint8_t* rgb, float inputY, float outputY, bool convertAll,
                    uint8_t* out) {
  if (!convertAll) {
    if (outputY == inputY) {
      // Y as it was: the input bytes, without the truncating round trip.
      out[0] = rgb[0];
      out[1] = rgb[1];
      out[2] = rgb[2];
      return;
    }
    if (rgb[0] == rgb[1] && rgb[1] == rgb[2]) {
      out[0] = out[1] = out[2] = lumaToByte(outputY);
      return;
    }
  }
  float yiq[3];
  rgbToYiq(yiq, rgb[0], rgb[1], rgb[2]);
  yiqToRgb(out, outputY, yiq[1], yiq[2]);
}

float cleanPixel(const AnalysedImage& image, const Codebook& codebook, bool smoothNonEdge, int i,
                 int j) {
  const size_t at = static_cast<size_t>(i) * image.imageWidth + j;
  const float y = image.inputYiq[at * 3];
  const bool edgePixel = image.edgeBlockMap[at] != 0;
  if (!edgePixel && !smoothNonEdge) return y;
  float patch[kPatchSize];
  const bool nearEdge = gatherPatch(image, i, j, patch);
  return cleanLuma(patch, y, edgePixel, nearEdge, smoothNonEdge, codebook);
}

}  // namespace nubo
