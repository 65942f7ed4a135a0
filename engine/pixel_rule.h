// The per-pixel rule of the ringing-removal pass in one place: how a pixel's
// 5x5 window is gathered and normalised for the codebook search, how the search's result is
// scaled back to a luminance, and when that prediction is accepted. The pass
// (one pixel at a time, in batches and in the four-pixel vector kernels) and
// the trainer both use these, so they cannot drift apart. Every expression keeps
// its order of operations and precision: results are the same bits everywhere.
#ifndef NUBO_ENGINE_PIXEL_RULE_H_
#define NUBO_ENGINE_PIXEL_RULE_H_

#include <cmath>
#include <cstddef>

#include "engine/codebook.h"
#include "engine/search.h"

namespace nubo {

// A pixel's window: the 5x5 values around it, row-major (element 5a + b is row
// a, column b), so the two rows and columns of the picture's border have none.
constexpr int kWindowRadius = 2;

// Gathers the window of the value at centre into patch: rows are rowStride
// values apart, pixels pixelStride apart, and all 25 must be readable.
inline void gatherWindow(const float* centre, ptrdiff_t rowStride, ptrdiff_t pixelStride,
                         float* patch) {
  for (int a = 0; a < 5; ++a) {
    const float* row = centre + (a - kWindowRadius) * rowStride - kWindowRadius * pixelStride;
    for (int b = 0; b < 5; ++b) patch[5 * a + b] = row[b * pixelStride];
  }
}

// The window statistics: the mean is the double sum of the 25 values times
// 1/25, the deviation the square root of the summed squares times 1/24 (the
// sample deviation); both factors are the doubles nearest those fractions.
constexpr double kMeanFactor = 0.04;
constexpr double kVarianceFactor = 0.041666666666666664;

// Normalised patches are spread to a deviation of 0.3 around 0.5, the range the
// codebook's codewords live in; a prediction is scaled back by the reciprocal
// of the spread (the double nearest 10/3).
constexpr double kNormScale = 0.3;
constexpr double kNormCentre = 0.5;
constexpr double kInverseScale = 3.3333333333333335;

// Largest change a codebook prediction may make to a pixel's Y (0..1 scale,
// about 20 of 255 grey levels): a prediction this far or further is discarded.
constexpr double kAcceptLimit = 0.08;

// What the search returns when it finds no codeword.
constexpr float kNoPrediction = -1.0f;

// Value v of a window with mean m and deviation s (s != 0) on the normalised
// scale, in double precision: (v - m) * 0.3 / s + 0.5.
inline double normalisedValue(double v, float m, float s) {
  return (v - m) * kNormScale / s + kNormCentre;
}

// Normalises patch in place with mean m and deviation s (s != 0), each value
// normalisedValue stored as float.
inline void normalisePatch(float* patch, float m, float s) {
  for (int k = 0; k < kPatchSize; ++k) {
    patch[k] = static_cast<float>(normalisedValue(patch[k], m, s));
  }
}

// Gives the window's mean m and deviation s, both narrowed to float, and
// normalises patch in place with them; false (patch untouched) when the window
// is flat (s is 0) and the pixel keeps its Y.
inline bool normaliseForSearch(float* patch, float* m, float* s) {
  *m = static_cast<float>(patchMean(patch));
  *s = static_cast<float>(patchStdDev(*m, patch));
  if (*s == 0.0f) return false;  // flat window: nothing to normalise by
  normalisePatch(patch, *m, *s);
  return true;
}

// The luminance a normalised prediction d stands for in a window with mean m
// and deviation s, in double precision: ((d - 0.5) * s) * 10/3 + m.
inline double denormalised(float d, float m, float s) {
  return ((d - kNormCentre) * s) * kInverseScale + m;
}

// Whether prediction p (denormalised) may replace input luminance y: it lies
// less than kAcceptLimit from it.
inline bool withinAcceptLimit(double p, float y) { return std::fabs(p - y) < kAcceptLimit; }

// The pixel's Y from prediction p: p narrowed to float when accepted, else y.
inline float acceptedLuma(double p, float y) {
  return withinAcceptLimit(p, y) ? static_cast<float>(p) : y;
}

// The pixel's Y from the search's result d for its window normalised with m
// and s: y when there is no prediction (kNoPrediction or NaN) or it lies
// kAcceptLimit or more from y.
inline float acceptPrediction(float d, float m, float s, float y) {
  if (d == kNoPrediction || std::isnan(d)) return y;
  return acceptedLuma(denormalised(d, m, s), y);
}

}  // namespace nubo

#endif  // NUBO_ENGINE_PIXEL_RULE_H_
