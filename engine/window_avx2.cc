// The pass's four-pixel window kernels with AVX2 (this file alone is compiled
// for it; windowVectorsEnabled checks the processor). Every operation is the
// one-pixel code's, lane by lane: the sums run in element order 0..24 in
// double precision, nothing is fused or reordered. Nothing here may
// instantiate a shared inline function (a library template, say): the linker
// could keep this file's AVX2 copy for the whole program.
#include <immintrin.h>

#include "engine/pixel_rule.h"  // its constants only: no call to its inline functions here
#include "engine/window_kernels.h"

namespace nubo {

namespace {

// Window element 5a+b of the four pixels (lanes), widened to double.
inline __m256d element(const float* topLeft, ptrdiff_t stride, int a, int b) {
  return _mm256_cvtps_pd(_mm_loadu_ps(topLeft + a * stride + b));
}

// The double sum of the 25 window values, element by element from 0.0.
inline __m256d windowSum(const float* topLeft, ptrdiff_t stride) {
  __m256d sum = _mm256_setzero_pd();
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) sum = _mm256_add_pd(sum, element(topLeft, stride, a, b));
  }
  return sum;
}

}  // namespace

void meanFourAvx2(const float* centre, ptrdiff_t stride, float* means) {
  const float* topLeft = centre - 2 * stride - 2;
  _mm_storeu_ps(means, _mm256_cvtpd_ps(
                           _mm256_mul_pd(windowSum(topLeft, stride), _mm256_set1_pd(kMeanFactor))));
}

void normaliseFourAvx2(const float* centre, ptrdiff_t stride, float* patches, float* means,
                       float* devs) {
  const float* topLeft = centre - 2 * stride - 2;
  __m256d v[25];
#pragma GCC unroll 25
  for (int e = 0; e < 25; ++e) v[e] = element(topLeft, stride, e / 5, e % 5);
  // patchMean, narrowed to float.
  __m256d sum = _mm256_setzero_pd();
#pragma GCC unroll 25
  for (int e = 0; e < 25; ++e) sum = _mm256_add_pd(sum, v[e]);
  const __m128 m = _mm256_cvtpd_ps(_mm256_mul_pd(sum, _mm256_set1_pd(kMeanFactor)));
  const __m256d md = _mm256_cvtps_pd(m);
  // patchStdDev about the narrowed mean, narrowed to float.
  __m256d squares = _mm256_setzero_pd();
#pragma GCC unroll 25
  for (int e = 0; e < 25; ++e) {
    const __m256d d = _mm256_sub_pd(v[e], md);
    squares = _mm256_add_pd(squares, _mm256_mul_pd(d, d));
  }
  const __m128 s =
      _mm256_cvtpd_ps(_mm256_sqrt_pd(_mm256_mul_pd(squares, _mm256_set1_pd(kVarianceFactor))));
  _mm_storeu_ps(means, m);
  _mm_storeu_ps(devs, s);
  const __m256d sd = _mm256_cvtps_pd(s);
  // normalisePatch: (v - m) * 0.3 / s + 0.5, narrowed to float; four elements
  // of the four pixels at a time, transposed into the pixels' patches.
  const __m256d scale = _mm256_set1_pd(kNormScale), centreValue = _mm256_set1_pd(kNormCentre);
  auto normalised = [&](int e) {
    return _mm256_cvtpd_ps(_mm256_add_pd(
        _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(v[e], md), scale), sd), centreValue));
  };
#pragma GCC unroll 6
  for (int e = 0; e < 24; e += 4) {
    __m128 r0 = normalised(e), r1 = normalised(e + 1), r2 = normalised(e + 2),
           r3 = normalised(e + 3);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_storeu_ps(patches + e, r0);
    _mm_storeu_ps(patches + 25 + e, r1);
    _mm_storeu_ps(patches + 50 + e, r2);
    _mm_storeu_ps(patches + 75 + e, r3);
  }
  // Element 24, the last: one lane to each patch.
  alignas(16) float last[4];
  _mm_store_ps(last, normalised(24));
  patches[24] = last[0];
  patches[49] = last[1];
  patches[74] = last[2];
  patches[99] = last[3];
}

int lumaRowAvx2(const uint8_t* pixels, bool bgr, int n, float* y, uint8_t* grey) {
  // Each coefficient is the float nearest the decimal, widened (as rgbToYiq).
  const __m256d kr = _mm256_set1_pd(static_cast<double>(0.299f));
  const __m256d kg = _mm256_set1_pd(static_cast<double>(0.587f));
  const __m256d kb = _mm256_set1_pd(static_cast<double>(0.114f));
  const __m256d inv255 = _mm256_set1_pd(0.00392156862745098);
  const __m256d k255 = _mm256_set1_pd(255.0);
  // Byte k of pixel p (of four) into 32-bit lane p.
  const __m128i first = _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
  const __m128i second = _mm_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1);
  const __m128i third = _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
  const __m128i rMask = bgr ? third : first, bMask = bgr ? first : third;
  int x = 0;
  // A 16-byte load reads the four pixels' 12 bytes and 4 more: stop 4 bytes short.
  for (; 3 * x + 16 <= 3 * n; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 3 * x));
    const __m256d r = _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, rMask));
    const __m256d g = _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, second));
    const __m256d b = _mm256_cvtepi32_pd(_mm_shuffle_epi8(v, bMask));
    const __m256d sum = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(kr, r), _mm256_mul_pd(kg, g)),
                                      _mm256_mul_pd(kb, b));
    const __m128 luma = _mm256_cvtpd_ps(_mm256_mul_pd(sum, inv255));
    _mm_storeu_ps(y + x, luma);
    // Grey level: Y (as stored) times 255, truncated toward zero; 0..255.
    const __m128i level = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(luma), k255));
    const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(level, level), level);
    const int four = _mm_cvtsi128_si32(bytes);
    __builtin_memcpy(grey + x, &four, 4);
  }
  return x;
}

namespace {

// The byte of each lane's channel value: below 0 or NaN gives 0, above 1 gives
// 1, times 255 truncated toward zero (as yiqToRgb's clamp).
inline __m128i channelBytes(__m256d v) {
  v = _mm256_and_pd(v, _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_GE_OQ));
  v = _mm256_min_pd(v, _mm256_set1_pd(1.0));
  return _mm256_cvttpd_epi32(_mm256_mul_pd(v, _mm256_set1_pd(255.0)));
}

}  // namespace

void afterPassFourAvx2(const uint8_t* in, bool inBgr, const float* inputY, const float* outputY,
                       bool convertAll, uint8_t* out, bool outBgr) {
  const int rAt = inBgr ? 2 : 0, bAt = inBgr ? 0 : 2;
  const __m256d r =
      _mm256_cvtepi32_pd(_mm_setr_epi32(in[rAt], in[3 + rAt], in[6 + rAt], in[9 + rAt]));
  const __m256d g = _mm256_cvtepi32_pd(_mm_setr_epi32(in[1], in[4], in[7], in[10]));
  const __m256d b =
      _mm256_cvtepi32_pd(_mm_setr_epi32(in[bAt], in[3 + bAt], in[6 + bAt], in[9 + bAt]));
  auto k = [](float c) { return _mm256_set1_pd(static_cast<double>(c)); };
  const __m256d inv255 = _mm256_set1_pd(0.00392156862745098);
  // I and Q of rgbToYiq, stored as floats.
  const __m256d i = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_mul_pd(
      _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(k(0.596f), r), _mm256_mul_pd(k(0.275f), g)),
                    _mm256_mul_pd(k(0.321f), b)),
      inv255)));
  const __m256d q = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_mul_pd(
      _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(k(0.212f), r), _mm256_mul_pd(k(0.523f), g)),
                    _mm256_mul_pd(k(0.311f), b)),
      inv255)));
  // yiqToRgb: red and green rounded to float, blue kept in double.
  const __m256d y = _mm256_cvtps_pd(_mm_loadu_ps(outputY));
  const __m256d red = _mm256_cvtps_pd(_mm256_cvtpd_ps(
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(k(0.9557f), i), _mm256_mul_pd(k(0.6199f), q)), y)));
  const __m256d green = _mm256_cvtps_pd(_mm256_cvtpd_ps(
      _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(-static_cast<double>(0.6469f)), q),
                                  _mm256_mul_pd(k(0.2716f), i)),
                    y)));
  const __m256d blue =
      _mm256_add_pd(y, _mm256_sub_pd(_mm256_mul_pd(k(1.7051f), q), _mm256_mul_pd(k(1.1082f), i)));
  alignas(16) int32_t rb[4], gb[4], bb[4], lb[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(rb), channelBytes(red));
  _mm_store_si128(reinterpret_cast<__m128i*>(gb), channelBytes(green));
  _mm_store_si128(reinterpret_cast<__m128i*>(bb), channelBytes(blue));
  _mm_store_si128(reinterpret_cast<__m128i*>(lb), channelBytes(y));  // lumaToByte
  const int rTo = outBgr ? 2 : 0, bTo = outBgr ? 0 : 2;
  for (int lane = 0; lane < 4; ++lane) {
    const uint8_t* p = in + 3 * lane;
    uint8_t* o = out + 3 * lane;
    if (!convertAll) {
      if (outputY[lane] == inputY[lane]) {  // Y as it was: the input bytes
        o[rTo] = p[rAt];
        o[1] = p[1];
        o[bTo] = p[bAt];
        continue;
      }
      if (p[0] == p[1] && p[1] == p[2]) {  // grey stays grey
        o[0] = o[1] = o[2] = static_cast<uint8_t>(lb[lane]);
        continue;
      }
    }
    o[rTo] = static_cast<uint8_t>(rb[lane]);
    o[1] = static_cast<uint8_t>(gb[lane]);
    o[bTo] = static_cast<uint8_t>(bb[lane]);
  }
}

}  // namespace nubo
