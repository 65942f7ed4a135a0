// Codebook search, patch distance and patch statistics.
#include "engine/search.h"

#include <cmath>
#include <cstdint>
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

constexpr int kGroupValues = kLanes * kPatchSize;  // floats in one packed group
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
__attribute__((target("avx2"))) bool groupDistancesAvx2(const double* patch, const float* groups,
                                                        bool prune, double bound, double* out) {
  __m256d acc[K];
  for (int k = 0; k < K; ++k) acc[k] = _mm256_setzero_pd();
  int e = 0;
  if (prune) {
    for (; e < kPruneAfter; ++e) {
      const __m256d pe = _mm256_broadcast_sd(patch + e);
      const __m256d w = _mm256_broadcast_sd(kPatchWeights + e);
      for (int k = 0; k < K; ++k) {
        const __m256d d = _mm256_sub_pd(pe, _mm256_cvtps_pd(_mm_loadu_ps(groups + k * kGroupValues + e * kLanes)));
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
      const __m256d d = _mm256_sub_pd(pe, _mm256_cvtps_pd(_mm_loadu_ps(groups + k * kGroupValues + e * kLanes)));
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
bool groupDistancesPlain(const double* patch, const float* groups, int k, double* out) {
  for (int g = 0; g < k; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      double sum = 0.0;
      for (int e = 0; e < kPatchSize; ++e) {
        const double d = patch[e] - static_cast<double>(groups[g * kGroupValues + e * kLanes + l]);
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
bool groupDistances(int k, const double* patch, const float* groups, bool prune, double bound,
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

// A patch widened to double once, with whether all its values are finite
// (partial sums may prune only then).
struct WidePatch {
  double v[kPatchSize];
  bool finite;
};

void widen(const float* patch, WidePatch* wide) {
  // Branch-free so that it vectorises: a float is finite unless its exponent
  // bits are all ones.
  uint32_t bits[kPatchSize];
  std::memcpy(bits, patch, sizeof bits);
  uint32_t notFinite = 0;
  for (int e = 0; e < kPatchSize; ++e) {
    wide->v[e] = patch[e];
    notFinite |= static_cast<uint32_t>((bits[e] & 0x7f800000u) == 0x7f800000u);
  }
  wide->finite = notFinite == 0;
}

// The nearest codeword of node n (type 0 or 1) to the patch: its index within
// the node, or -1 when none comes closer than the node's starting bound.
int nearestInNode(const WidePatch& patch, const Codebook& codebook, const CodebookNode& n) {
  double best = n.type == 0 ? kInternalBound : kLeafBound;
  int bestIndex = -1;
  double dist[4 * kLanes];
  const float* groups = codebook.packed.data() + n.packedOffset;
  const int firstGroup = static_cast<int>(n.packedOffset / kGroupValues);
  const int groupCount = (n.count + kLanes - 1) / kLanes;
  // Up to three groups at once (the nine codewords of an internal node), in
  // pairs after the first pair once a best distance is known.
  for (int g = 0; g < groupCount;) {
    int k = groupCount - g;
    if (g == 0 ? k > 3 : k > 2) k = 2;
    // A NaN best is replaced by anything that follows: no pruning then.
    bool prune = bestIndex >= 0 && patch.finite && !std::isnan(best);
    for (int j = 0; j < k && prune; ++j) prune = codebook.finiteGroups[firstGroup + g + j] != 0;
    if (groupDistances(k, patch.v, groups + static_cast<size_t>(g) * kGroupValues, prune, best,
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
  return bestIndex;
}

// Asks for the whole of a node's codewords at once: they are read in full and
// a leaf seldom sits in the cache, so overlapping the misses pays.
void prefetchNode(const Codebook& codebook, const CodebookNode& n) {
  if (n.type > 1) return;
  const char* from = reinterpret_cast<const char*>(codebook.packed.data() + n.packedOffset);
  const size_t bytes = static_cast<size_t>((n.count + kLanes - 1) / kLanes) * kGroupValues * sizeof(float);
  for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(from + b);
}

// One step of a descent at node: the next node (>= 0) or, at the end, -1 with
// *codewordIndex set to the chosen leaf codeword (-1 when the search fails).
int step(const WidePatch& patch, const Codebook& codebook, int node, int* codewordIndex) {
  const CodebookNode& n = codebook.nodes[node];
  *codewordIndex = -1;
  if (n.type > 1) return -1;
  const int best = nearestInNode(patch, codebook, n);
  if (best < 0) return -1;
  if (n.type == 1) {
    *codewordIndex = n.firstCodeword + best;
    return -1;
  }
  const int next = n.firstChild + best;
  prefetchNode(codebook, codebook.nodes[next]);
  return next;
}

// Iterative descent from node; sets *codewordIndex to the chosen leaf codeword.
float descend(const float* patch, const Codebook& codebook, int node, int* codewordIndex) {
  *codewordIndex = -1;
  if (node < 0 || node >= static_cast<int>(codebook.nodes.size())) return -1.0f;
  WidePatch wide;
  widen(patch, &wide);
  while (node >= 0) node = step(wide, codebook, node, codewordIndex);
  return *codewordIndex < 0 ? -1.0f : codebook.values[*codewordIndex];
}

// Descents interleaved in a batch: while one patch's next node is on its way
// from memory, the others compute. Enough for the misses of a level to overlap,
// few enough that the prefetched nodes stay in the first-level cache.
constexpr int kInterleave = 16;

}  // namespace

namespace {

void searchInterleaved(const float* patches, int count, const Codebook& codebook, float* values) {
  WidePatch wide[kInterleave];
  int node[kInterleave];
  for (int first = 0; first < count; first += kInterleave) {
    const int n = count - first < kInterleave ? count - first : kInterleave;
    for (int k = 0; k < n; ++k) {
      widen(patches + static_cast<size_t>(first + k) * kPatchSize, &wide[k]);
      node[k] = 0;
    }
    for (int active = n; active > 0;) {
      active = 0;
      for (int k = 0; k < n; ++k) {
        if (node[k] < 0) continue;
        int index;
        node[k] = step(wide[k], codebook, node[k], &index);
        if (node[k] >= 0) {
          ++active;
        } else {
          values[first + k] = index < 0 ? -1.0f : codebook.values[index];
        }
      }
    }
  }
}

// Groups this far ahead have their node's codewords asked for while a group
// is searched, so that the misses overlap when groups are small.
constexpr size_t kGroupsAhead = 4;

// Level by level: the patches are kept sorted by the node they have reached,
// so every node's codewords are read once per level for all of its patches
// and stay in the first-level cache meanwhile. Each patch still takes exactly
// the steps of its own descent.
void searchGrouped(const float* patches, int count, const Codebook& codebook, float* values,
                   SearchBuffers* b) {
  for (int k = 0; k < 2; ++k) {
    b->patches[k].resize(static_cast<size_t>(count) * kPatchSize);
    b->origin[k].resize(count);
    b->groups[k].clear();
  }
  b->child.resize(count);
  std::memcpy(b->patches[0].data(), patches, static_cast<size_t>(count) * kPatchSize * sizeof(float));
  for (int k = 0; k < count; ++k) b->origin[0][k] = k;
  b->groups[0].push_back({0, 0, count});
  for (int cur = 0; !b->groups[cur].empty(); cur = 1 - cur) {
    const int nxt = 1 - cur;
    const float* from = b->patches[cur].data();
    const int* origin = b->origin[cur].data();
    float* to = b->patches[nxt].data();
    int* toOrigin = b->origin[nxt].data();
    int* child = b->child.data();
    const std::vector<SearchBuffers::Group>& groups = b->groups[cur];
    std::vector<SearchBuffers::Group>& next = b->groups[nxt];
    next.clear();
    int write = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
      if (g + kGroupsAhead < groups.size()) {
        prefetchNode(codebook, codebook.nodes[groups[g + kGroupsAhead].node]);
      }
      const SearchBuffers::Group& group = groups[g];
      const CodebookNode& n = codebook.nodes[group.node];
      if (n.type > 1) {
        for (int k = group.begin; k < group.end; ++k) values[origin[k]] = -1.0f;
        continue;
      }
      int counts[kBranching] = {};
      for (int k = group.begin; k < group.end; ++k) {
        WidePatch wide;
        widen(from + static_cast<size_t>(k) * kPatchSize, &wide);
        const int best = nearestInNode(wide, codebook, n);
        child[k] = -1;
        if (best < 0) {
          values[origin[k]] = -1.0f;
        } else if (n.type == 1) {
          values[origin[k]] = codebook.values[n.firstCodeword + best];
        } else {
          child[k] = best;
          ++counts[best];
        }
      }
      if (n.type == 1) continue;
      int start[kBranching];
      for (int c = 0; c < kBranching; ++c) {
        start[c] = write;
        if (counts[c] > 0) next.push_back({n.firstChild + c, write, write + counts[c]});
        write += counts[c];
      }
      for (int k = group.begin; k < group.end; ++k) {
        if (child[k] < 0) continue;  // no codeword near enough: finished above
        const int at = start[child[k]]++;
        std::memcpy(to + static_cast<size_t>(at) * kPatchSize, from + static_cast<size_t>(k) * kPatchSize,
                    kPatchSize * sizeof(float));
        toOrigin[at] = origin[k];
      }
    }
  }
}

}  // namespace

void searchCodebookBatch(const float* patches, int count, const Codebook& codebook, float* values,
                         SearchBuffers* buffers) {
  if (codebook.nodes.empty()) {
    for (int k = 0; k < count; ++k) values[k] = -1.0f;
    return;
  }
  if (buffers == nullptr || count < kGroupedFrom) {
    searchInterleaved(patches, count, codebook, values);
  } else {
    searchGrouped(patches, count, codebook, values, buffers);
  }
}

float searchCodebookIndex(const float* patch, const Codebook& codebook, int* codewordIndex) {
  return descend(patch, codebook, 0, codewordIndex);
}

float searchCodebook(const float* patch, const Codebook& codebook, int node) {
  int unused;
  return descend(patch, codebook, node, &unused);
}

}  // namespace nubo
