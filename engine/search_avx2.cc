// The search filter's sums with AVX2 and fused multiply-adds (this file alone
// is compiled for those instructions; the caller checks the processor). The
// bound in search.cc covers any order of the float sum and fused operations.
// Nothing here may instantiate a shared inline function (a library template,
// say): the linker could keep this file's AVX2 copy for the whole program.
#include <immintrin.h>

#include "engine/search_filter.h"

namespace nubo {

namespace {

// A count known when compiling, for withCount.
template <int K>
struct Count {
  static constexpr int value = K;
};

// Runs run(Count<k>()) for 1 <= k <= Max: the kernels below are templates on
// how many groups or codewords they take at once, and the last step of a loop
// takes fewer. (Our own: no library template may be instantiated here.)
template <int Max, typename Run>
inline void withCount(int k, const Run& run) {
  if constexpr (Max == 1) {
    run(Count<1>());
  } else if (k == Max) {
    run(Count<Max>());
  } else {
    withCount<Max - 1>(k, run);
  }
}

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
    const __m256 d0 =
        _mm256_sub_ps(p0, _mm256_loadu_ps(groups + k * kFilterGroupValues + e * kFilterLanes));
    even[k] = _mm256_fmadd_ps(d0, d0, even[k]);
    _mm256_storeu_ps(out + k * kFilterLanes, _mm256_add_ps(even[k], odd[k]));
  }
}

}  // namespace

void filterSumsAvx2(const float* scaledPatch, const float* groups, int groupCount, float* out) {
  for (int g = 0; g < groupCount; g += 4) {
    const int left = groupCount - g;
    withCount<4>(left < 4 ? left : 4, [&](auto k) {
      sumsK<decltype(k)::value>(scaledPatch, groups + g * kFilterGroupValues,
                                out + g * kFilterLanes);
    });
  }
}

int filterNearestAvx2(const float* scaledPatch, const float* groups, int count, double normSum,
                      float* sums, int* survivors) {
  const int groupCount = (count + kFilterLanes - 1) / kFilterLanes;
  filterSumsAvx2(scaledPatch, groups, groupCount, sums);
  for (int i = count; i < groupCount * kFilterLanes; ++i) sums[i] = __builtin_inff();
  __m256 m = _mm256_loadu_ps(sums);
  for (int g = 1; g < groupCount; ++g)
    m = _mm256_min_ps(m, _mm256_loadu_ps(sums + g * kFilterLanes));
  __m128 h = _mm_min_ps(_mm256_castps256_ps128(m), _mm256_extractf128_ps(m, 1));
  h = _mm_min_ps(h, _mm_movehl_ps(h, h));
  h = _mm_min_ss(h, _mm_shuffle_ps(h, h, 1));
  const float least = _mm_cvtss_f32(h);
  int index = 0;
  for (int g = 0; g < groupCount; ++g) {
    const int mask = _mm256_movemask_ps(
        _mm256_cmp_ps(_mm256_loadu_ps(sums + g * kFilterLanes), _mm256_set1_ps(least), _CMP_EQ_OQ));
    if (mask != 0) {
      index = g * kFilterLanes + __builtin_ctz(static_cast<unsigned>(mask));
      break;
    }
  }
  // The limit as a float no smaller than it: inflated past the conversion's
  // rounding (relative 2^-24, or 2^-150 among subnormals).
  const double limit = survivorLimit(least, normSum);
  const __m256 bound = _mm256_set1_ps(static_cast<float>(limit * (1.0 + 0x1p-22) + 0x1p-148));
  int n = 0;
  for (int g = 0; g < groupCount; ++g) {
    n += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(
        _mm256_cmp_ps(_mm256_loadu_ps(sums + g * kFilterLanes), bound, _CMP_LE_OQ))));
  }
  *survivors = n;
  return index;
}

void transposeBlockAvx2(const float* const* rows, float* transposed) {
  for (int e0 = 0; e0 + 8 <= kPatchSize; e0 += 8) {
    __m256 r[8];
    for (int l = 0; l < 8; ++l) r[l] = _mm256_loadu_ps(rows[l] + e0);
    // The usual 8 x 8 transpose: pairs, then quads, then halves.
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xee);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xee);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xee);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xee);
    float* out = transposed + e0 * kFilterLanes;
    _mm256_storeu_ps(out + 0 * kFilterLanes, _mm256_permute2f128_ps(u0, u4, 0x20));
    _mm256_storeu_ps(out + 1 * kFilterLanes, _mm256_permute2f128_ps(u1, u5, 0x20));
    _mm256_storeu_ps(out + 2 * kFilterLanes, _mm256_permute2f128_ps(u2, u6, 0x20));
    _mm256_storeu_ps(out + 3 * kFilterLanes, _mm256_permute2f128_ps(u3, u7, 0x20));
    _mm256_storeu_ps(out + 4 * kFilterLanes, _mm256_permute2f128_ps(u0, u4, 0x31));
    _mm256_storeu_ps(out + 5 * kFilterLanes, _mm256_permute2f128_ps(u1, u5, 0x31));
    _mm256_storeu_ps(out + 6 * kFilterLanes, _mm256_permute2f128_ps(u2, u6, 0x31));
    _mm256_storeu_ps(out + 7 * kFilterLanes, _mm256_permute2f128_ps(u3, u7, 0x31));
  }
  for (int e = kPatchSize / 8 * 8; e < kPatchSize; ++e) {
    for (int l = 0; l < 8; ++l) transposed[e * kFilterLanes + l] = rows[l][e];
  }
}

namespace {

// survivorLimit of search.cc on four lanes, operation for operation.
inline __m256d limits4(__m128 smallest, __m256d normSum) {
  const __m256d margin = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(kFilterNorm), normSum),
                                       _mm256_set1_pd(kFilterAbsolute));
  const __m256d upper = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(1.0 + kFilterRelative),
                                                    _mm256_sqrt_pd(_mm256_cvtps_pd(smallest))),
                                      margin);
  const __m256d sum =
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(upper, _mm256_set1_pd(1.0 + kExactRelative)),
                                  _mm256_set1_pd(kExactAbsolute)),
                    margin);
  const __m256d root = _mm256_mul_pd(sum, _mm256_set1_pd(1.0 + 2.0 * kFilterRelative));
  return _mm256_mul_pd(_mm256_mul_pd(root, root), _mm256_set1_pd(1.0 + 1e-10));
}

// Sums of codewords c0 .. c0 + K - 1 for the eight lanes, stored, and the
// running smallest sum and its first index updated.
template <int K>
inline void chunk(const float* transposed, const float* groups, int c0, float* sums, __m256* least,
                  __m256i* leastIndex) {
  __m256 acc[K];
  const float* b[K];
  for (int j = 0; j < K; ++j) {
    acc[j] = _mm256_setzero_ps();
    const int c = c0 + j;
    b[j] = groups + (c / kFilterLanes) * kFilterGroupValues + c % kFilterLanes;
  }
  for (int e = 0; e < kPatchSize; ++e) {
    const __m256 p = _mm256_loadu_ps(transposed + e * kFilterLanes);
    for (int j = 0; j < K; ++j) {
      const __m256 d = _mm256_sub_ps(p, _mm256_broadcast_ss(b[j] + e * kFilterLanes));
      acc[j] = _mm256_fmadd_ps(d, d, acc[j]);
    }
  }
  for (int j = 0; j < K; ++j) {
    const int c = c0 + j;
    _mm256_storeu_ps(sums + c * kFilterLanes, acc[j]);
    if (c == 0) {
      *least = acc[0];
      continue;
    }
    // Strictly smaller: the first index of the smallest sum is kept.
    const __m256 lt = _mm256_cmp_ps(acc[j], *least, _CMP_LT_OQ);
    *least = _mm256_blendv_ps(*least, acc[j], lt);
    *leastIndex = _mm256_blendv_epi8(*leastIndex, _mm256_set1_epi32(c), _mm256_castps_si256(lt));
  }
}

}  // namespace

void filterBlockAvx2(const float* transposed, const float* groups, int count,
                     const double* normSums, float* sums, int* smallest, int* survivors) {
  __m256 least = _mm256_set1_ps(0.0f);
  __m256i leastIndex = _mm256_setzero_si256();
  // Up to nine codewords at a time: independent chains, all in registers.
  for (int c0 = 0; c0 < count;) {
    const int left = count - c0;
    const int k = left == 9 ? 9 : left > 8 ? 8 : left;
    withCount<9>(k, [&](auto n) {
      chunk<decltype(n)::value>(transposed, groups, c0, sums, &least, &leastIndex);
    });
    c0 += k;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(smallest), leastIndex);
  const __m256d limitLow = limits4(_mm256_castps256_ps128(least), _mm256_loadu_pd(normSums));
  const __m256d limitHigh = limits4(_mm256_extractf128_ps(least, 1), _mm256_loadu_pd(normSums + 4));
  __m256i counts = _mm256_setzero_si256();
  for (int c = 0; c < count; ++c) {
    const __m256 s = _mm256_loadu_ps(sums + c * kFilterLanes);
    const __m256d low =
        _mm256_cmp_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(s)), limitLow, _CMP_LE_OQ);
    const __m256d high =
        _mm256_cmp_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(s, 1)), limitHigh, _CMP_LE_OQ);
    // Each lane's 64-bit mask narrowed to 32 bits: all ones (-1) or zero.
    const __m128 lowMask = _mm256_castps256_ps128(
        _mm256_permutevar8x32_ps(_mm256_castpd_ps(low), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
    const __m128 highMask = _mm256_castps256_ps128(_mm256_permutevar8x32_ps(
        _mm256_castpd_ps(high), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
    counts = _mm256_sub_epi32(counts, _mm256_castps_si256(_mm256_set_m128(highMask, lowMask)));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(survivors), counts);
}

}  // namespace nubo
