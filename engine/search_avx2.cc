// The search filter's sums with AVX2 and fused multiply-adds (this file alone
// is compiled for those instructions; the caller checks the processor). The
// bound in search.cc covers any order of the float sum and fused operations.
#include <immintrin.h>

#include "engine/search_filter.h"

namespace nubo {

namespace {

// K groups at once, each summed in two chains (even and odd elements) so
// that 2K independent additions keep the unit busy.
template <int K>
inline void sumsK(const float* scaledPatch, const float* groups, float* out) {
  __m256 even[K], odd[K];
  for (int k = 0; k < K; ++k) {
    even[k] = _mm256_setzero_ps();
    odd[k] = _mm256_setzero_ps();
  }
  int e = 0;
  for (; e + 1 < kPatchSize; e += 2) {
    const __m256 p0 = _mm256_broadcast_ss(scaledPatch + e);
    const __m256 p1 = _mm256_broadcast_ss(scaledPatch + e + 1);
    for (int k = 0; k < K; ++k) {
      const float* g = groups + k * kFilterGroupValues + e * kFilterLanes;
      const __m256 d0 = _mm256_sub_ps(p0, _mm256_loadu_ps(g));
      const __m256 d1 = _mm256_sub_ps(p1, _mm256_loadu_ps(g + kFilterLanes));
      even[k] = _mm256_fmadd_ps(d0, d0, even[k]);
      odd[k] = _mm256_fmadd_ps(d1, d1, odd[k]);
    }
  }
  const __m256 p0 = _mm256_broadcast_ss(scaledPatch + e);
  for (int k = 0; k < K; ++k) {
    const __m256 d0 = _mm256_sub_ps(p0, _mm256_loadu_ps(groups + k * kFilterGroupValues + e * kFilterLanes));
    even[k] = _mm256_fmadd_ps(d0, d0, even[k]);
    _mm256_storeu_ps(out + k * kFilterLanes, _mm256_add_ps(even[k], odd[k]));
  }
}

}  // namespace

void filterSumsAvx2(const float* scaledPatch, const float* groups, int groupCount, float* out) {
  int g = 0;
  for (; g + 4 <= groupCount; g += 4) {
    sumsK<4>(scaledPatch, groups + g * kFilterGroupValues, out + g * kFilterLanes);
  }
  switch (groupCount - g) {
    case 3:
      sumsK<3>(scaledPatch, groups + g * kFilterGroupValues, out + g * kFilterLanes);
      break;
    case 2:
      sumsK<2>(scaledPatch, groups + g * kFilterGroupValues, out + g * kFilterLanes);
      break;
    case 1:
      sumsK<1>(scaledPatch, groups + g * kFilterGroupValues, out + g * kFilterLanes);
      break;
    default:
      break;
  }
}

void filterSums8Avx2(const float* transposed, const float* groups, float* out) {
  __m256 acc[kBranching];
  for (int c = 0; c < kBranching; ++c) acc[c] = _mm256_setzero_ps();
  for (int e = 0; e < kPatchSize; ++e) {
    const __m256 p = _mm256_loadu_ps(transposed + e * kFilterLanes);
    for (int c = 0; c < kBranching; ++c) {
      const float* b = groups + (c / kFilterLanes) * kFilterGroupValues + e * kFilterLanes + c % kFilterLanes;
      const __m256 d = _mm256_sub_ps(p, _mm256_broadcast_ss(b));
      acc[c] = _mm256_fmadd_ps(d, d, acc[c]);
    }
  }
  for (int c = 0; c < kBranching; ++c) _mm256_storeu_ps(out + c * kFilterLanes, acc[c]);
}

}  // namespace nubo
