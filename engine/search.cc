// Codebook search, patch distance and patch statistics.
#include "engine/search.h"

#include <cmath>
#include <cstring>

#include <immintrin.h>

namespace nubo {

const double kPatchWeights[kPatchSize] = {
    0.0121, 0.0261, 0.0337, 0.0261, 0.0121,  //
    0.0261, 0.0561, 0.0724, 0.0561, 0.0261,  //
    0.0337, 0.0724, 0.0935, 0.0724, 0.0337,  //
    0.0261, 0.0561, 0.0724, 0.0561, 0.0261,  //
    0.0121, 0.0261, 0.0337, 0.0261, 0.0121,
};

namespace {

// The search starts each node from a bound that every real distance beats.
constexpr double kInternalBound = 100000.0;
constexpr double kLeafBound = 10000000.0;

constexpr int kGroupDoubles = kLanes * kPatchSize;
// A group whose partial sums already put every lane at or beyond the best
// distance is dropped after this many elements (the first two rows, where the
// weights are small, cost little to sum and often settle it).
constexpr int kPruneAfter = 10;

// Distances from the patch to the kLanes codewords of each of K consecutive
// packed groups, each lane summed in element order 0..24 with the operations of
// patchDistance, so every lane gives exactly the scalar bits. K independent
// sums keep the adder busy. With prune, the groups are abandoned (returns
// false, out unset) once after kPruneAfter elements every lane's partial
// distance is at least bound: the terms are finite and non-negative (the
// caller checks), so a sum never decreases and no lane could beat bound.
template <int K>
__attribute__((target("avx2"))) bool groupDistancesAvx2(const double* patch, const double* groups,
                                                        bool prune, double bound, double* out) {
  __m256d acc[K];
  for (int k = 0; k < K; ++k) acc[k] = _mm256_setzero_pd();
  int e = 0;
  if (prune) {
    for (; e < kPruneAfter; ++e) {
      const __m256d pe = _mm256_broadcast_sd(patch + e);
      const __m256d w = _mm256_broadcast_sd(kPatchWeights + e);
      for (int k = 0; k < K; ++k) {
        const __m256d d = _mm256_sub_pd(pe, _mm256_loadu_pd(groups + k * kGroupDoubles + e * kLanes));
        acc[k] = _mm256_add_pd(acc[k], _mm256_mul_pd(_mm256_mul_pd(d, d), w));
      }
    }
    const __m256d scale = _mm256_set1_pd(0.04);
    const __m256d limit = _mm256_set1_pd(bound);
    int near = 0;
    for (int k = 0; k < K; ++k) {
      const __m256d partial = _mm256_sqrt_pd(_mm256_mul_pd(acc[k], scale));
      near |= _mm256_movemask_pd(_mm256_cmp_pd(partial, limit, _CMP_LT_OQ));
    }
    if (near == 0) return false;
  }
  for (; e < kPatchSize; ++e) {
    const __m256d pe = _mm256_broadcast_sd(patch + e);
    const __m256d w = _mm256_broadcast_sd(kPatchWeights + e);
    for (int k = 0; k < K; ++k) {
      const __m256d d = _mm256_sub_pd(pe, _mm256_loadu_pd(groups + k * kGroupDoubles + e * kLanes));
      acc[k] = _mm256_add_pd(acc[k], _mm256_mul_pd(_mm256_mul_pd(d, d), w));
    }
  }
  const __m256d scale = _mm256_set1_pd(0.04);
  for (int k = 0; k < K; ++k) {
    _mm256_storeu_pd(out + k * kLanes, _mm256_sqrt_pd(_mm256_mul_pd(acc[k], scale)));
  }
  return true;
}

// The same sums one lane at a time, for machines without AVX2.
bool groupDistancesPlain(const double* patch, const double* groups, int k, double* out) {
  for (int g = 0; g < k; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      double sum = 0.0;
      for (int e = 0; e < kPatchSize; ++e) {
        const double d = patch[e] - groups[g * kGroupDoubles + e * kLanes + l];
        sum += (d * d) * kPatchWeights[e];
      }
      out[g * kLanes + l] = std::sqrt(sum * 0.04);
    }
  }
  return true;
}

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

// Distances of K (1..4) groups; false when pruning dropped them all.
bool groupDistances(int k, const double* patch, const double* groups, bool prune, double bound,
                    double* out) {
  if (!haveAvx2()) return groupDistancesPlain(patch, groups, k, out);
  switch (k) {
    case 1:
      return groupDistancesAvx2<1>(patch, groups, prune, bound, out);
    case 2:
      return groupDistancesAvx2<2>(patch, groups, prune, bound, out);
    case 3:
      return groupDistancesAvx2<3>(patch, groups, prune, bound, out);
    default:
      return groupDistancesAvx2<4>(patch, groups, prune, bound, out);
  }
}

}  // namespace

double patchDistance(const float* a, const float* b) {
  double sum = 0.0;
  for (int i = 0; i < kPatchSize; ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += (d * d) * kPatchWeights[i];
  }
  return std::sqrt(sum * 0.04);
}

double patchMean(const float* patch) {
  double sum = 0.0;
  for (int i = 0; i < kPatchSize; ++i) sum += patch[i];
  return sum * 0.04;
}

double patchStdDev(double mean, const float* patch) {
  double sum = 0.0;
  for (int i = 0; i < kPatchSize; ++i) {
    const double d = patch[i] - mean;
    sum += d * d;
  }
  return std::sqrt(sum * 0.041666666666666664);  // divisor 24: sample deviation
}

namespace {

// Iterative descent from node; sets *codewordIndex to the chosen leaf codeword.
float descend(const float* patch, const Codebook& codebook, int node, int* codewordIndex) {
  *codewordIndex = -1;
  if (node < 0 || node >= static_cast<int>(codebook.nodes.size())) return -1.0f;
  double wide[kPatchSize];
  bool finitePatch = true;
  for (int e = 0; e < kPatchSize; ++e) {
    wide[e] = patch[e];
    finitePatch = finitePatch && std::isfinite(wide[e]);
  }
  double dist[4 * kLanes];
  for (;;) {
    const CodebookNode& n = codebook.nodes[node];
    if (n.type > 1) return -1.0f;
    double best = n.type == 0 ? kInternalBound : kLeafBound;
    int bestIndex = -1;
    const double* groups = codebook.packed.data() + n.packedOffset;
    const int firstGroup = static_cast<int>(n.packedOffset / kGroupDoubles);
    const int groupCount = (n.count + kLanes - 1) / kLanes;
    // Up to three groups at once (the nine codewords of an internal node), in
    // pairs after the first pair once a best distance is known.
    for (int g = 0; g < groupCount;) {
      int k = groupCount - g;
      if (g == 0 ? k > 3 : k > 2) k = 2;
      // A NaN best is replaced by anything that follows: no pruning then.
      bool prune = bestIndex >= 0 && finitePatch && !std::isnan(best);
      for (int j = 0; j < k && prune; ++j) prune = codebook.finiteGroups[firstGroup + g + j] != 0;
      if (groupDistances(k, wide, groups + static_cast<size_t>(g) * kGroupDoubles, prune, best,
                         dist)) {
        const int base = g * kLanes;
        const int lanes = n.count - base < k * kLanes ? n.count - base : k * kLanes;
        for (int l = 0; l < lanes; ++l) {
          // Not ">=": an equal distance keeps the earlier codeword, NaN replaces.
          if (!(dist[l] >= best)) {
            best = dist[l];
            bestIndex = base + l;
          }
        }
      }
      g += k;
    }
    if (bestIndex < 0) return -1.0f;
    if (n.type == 0) {
      node = n.firstChild + bestIndex;
      // Ask for the whole next node at once: its codewords are read in full
      // and a leaf seldom sits in the cache, so overlapping the misses pays.
      const CodebookNode& next = codebook.nodes[node];
      if (next.type <= 1) {
        const char* from = reinterpret_cast<const char*>(codebook.packed.data() + next.packedOffset);
        const size_t bytes = static_cast<size_t>((next.count + kLanes - 1) / kLanes) * kGroupDoubles * sizeof(double);
        for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(from + b);
      }
    } else {
      *codewordIndex = n.firstCodeword + bestIndex;
      return codebook.values[*codewordIndex];
    }
  }
}

}  // namespace

float searchCodebookIndex(const float* patch, const Codebook& codebook, int* codewordIndex) {
  return descend(patch, codebook, 0, codewordIndex);
}

float searchCodebook(const float* patch, const Codebook& codebook, int node) {
  int unused;
  return descend(patch, codebook, node, &unused);
}

}  // namespace nubo
