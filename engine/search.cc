// Codebook search, patch distance and patch statistics.
#include "engine/search.h"

#include <cmath>
#include <cstring>

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

typedef double Doubles __attribute__((vector_size(kLanes * sizeof(double))));

// Distances from the patch to the codewords of K consecutive packed groups
// (kLanes codewords each). Every lane is summed in element order 0..24 with
// the same double operations as patchDistance, so the vector lanes give
// exactly the scalar bits on every instruction set; K independent sums keep
// the adder busy. The compiler splits the eight lanes into the widest vectors
// the machine has.
template <int K>
__attribute__((target_clones("avx512f", "avx2", "default"))) void groupDistances(
    const double* patch, const double* groups, double* out) {
  Doubles acc[K];
  for (int k = 0; k < K; ++k) acc[k] = Doubles{} + 0.0;
  for (int e = 0; e < kPatchSize; ++e) {
    const Doubles pe = Doubles{} + patch[e];
    const Doubles w = Doubles{} + kPatchWeights[e];
    for (int k = 0; k < K; ++k) {
      Doubles c;
      std::memcpy(&c, groups + (k * kPatchSize + e) * kLanes, sizeof c);
      const Doubles d = pe - c;
      acc[k] += (d * d) * w;
    }
  }
  for (int k = 0; k < K; ++k) {
    for (int l = 0; l < kLanes; ++l) out[k * kLanes + l] = std::sqrt(acc[k][l] * 0.04);
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
  for (int e = 0; e < kPatchSize; ++e) wide[e] = patch[e];
  double dist[2 * kLanes];
  for (;;) {
    const CodebookNode& n = codebook.nodes[node];
    if (n.type > 1) return -1.0f;
    double best = n.type == 0 ? kInternalBound : kLeafBound;
    int bestIndex = -1;
    const double* groups = codebook.packed.data() + n.packedOffset;
    const int groupCount = (n.count + kLanes - 1) / kLanes;
    // Two groups at a time: the nine codewords of an internal node at once.
    for (int g = 0; g < groupCount; g += 2, groups += 2 * kLanes * kPatchSize) {
      const int k = groupCount - g < 2 ? groupCount - g : 2;
      if (k == 2) {
        groupDistances<2>(wide, groups, dist);
      } else {
        groupDistances<1>(wide, groups, dist);
      }
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
