// Codebook search, patch distance and patch statistics.
#include "engine/search.h"

#include <cmath>

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

// Distances from the patch to the kLanes codewords of one packed group. Each
// lane is summed in element order 0..24 exactly as patchDistance sums, so the
// vectorised lanes give the same bits as the scalar function.
__attribute__((target_clones("avx2", "default"))) void groupDistances(const double* patch,
                                                                      const float* group,
                                                                      double* out) {
  double acc[kLanes] = {};
  for (int e = 0; e < kPatchSize; ++e) {
    const double pe = patch[e];
    const double w = kPatchWeights[e];
    const float* lane = group + e * kLanes;
    for (int l = 0; l < kLanes; ++l) {
      const double d = pe - static_cast<double>(lane[l]);
      acc[l] += (d * d) * w;
    }
  }
  for (int l = 0; l < kLanes; ++l) out[l] = std::sqrt(acc[l] * 0.04);
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
  for (int e = 0; e < kPatchSize; ++e) wide[e] = patch[e];
  double dist[kLanes];
  for (;;) {
    const CodebookNode& n = codebook.nodes[node];
    if (n.type > 1) return -1.0f;
    double best = n.type == 0 ? kInternalBound : kLeafBound;
    int bestIndex = -1;
    const float* group = codebook.packed.data() + n.packedOffset;
    for (int base = 0; base < n.count; base += kLanes, group += kLanes * kPatchSize) {
      groupDistances(wide, group, dist);
      const int lanes = n.count - base < kLanes ? n.count - base : kLanes;
      for (int l = 0; l < lanes; ++l) {
        // Not ">=": an equal distance keeps the earlier codeword, NaN replaces.
        if (!(dist[l] >= best)) {
          best = dist[l];
          bestIndex = base + l;
        }
      }
    }
    if (bestIndex < 0) return -1.0f;
    if (n.type == 0) {
      node = n.firstChild + bestIndex;
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
