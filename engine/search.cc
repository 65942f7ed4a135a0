// Codebook search, patch distance and patch statistics.
#include "engine/search.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/pixel_rule.h"
#include "engine/search_filter.h"

namespace nubo {

const double kPatchWeights[kPatchSize] = {
    0.0121, 0.0261, 0.0337, 0.0261, 0.0121,  //
    0.0261, 0.0561, 0.0724, 0.0561, 0.0261,  //
    0.0337, 0.0724, 0.0935, 0.0724, 0.0337,  //
    0.0261, 0.0561, 0.0724, 0.0561, 0.0261,  //
    0.0121, 0.0261, 0.0337, 0.0261, 0.0121,
};

// The float filter and why it is exact.
//
// u = 2^-24 (float rounding), ud = 2^-53 (double). For a patch a and a codeword
// b (floats, every prescaled value finite and |s_e x_e| <= kFilterLimit), let
// sigma_e = sqrt(w_e) (real), s_e = float(sigma_e), T = sum_e w_e (a_e - b_e)^2
// the exact real sum, and S^ the float filter sum of search_filter.h.
//
// 1. Prescaling. s_e = sigma_e (1 + r), |r| <= u + ud; a~_e = s_e a_e (1 + t)
//    + h, |t| <= u, |h| <= 2^-150 (underflow). Hence
//    |a~_e - sigma_e a_e| <= 2.02 u |a~_e| + 2^-149, the same for b~_e.
// 2. Difference. d~_e = fl(a~_e - b~_e) = (a~_e - b~_e)(1 + t'), |t'| <= u
//    (exact when subnormal). With m_e = |a~_e| + |b~_e|:
//    |d~_e - sigma_e (a_e - b_e)| <= eps_e = 1.0001 u |d~_e| + 2.02 u m_e + 2^-148.
// 3. The vector sigma (a - b) has norm sqrt(T); the vector d~ has norm
//    sqrt(P), P = sum_e d~_e^2 (real). By the triangle inequality and
//    Minkowski's: |sqrt(T) - sqrt(P)| <= |eps| <= 1.0001 u sqrt(P)
//    + 2.02 u (|a~| + |b~|) + 5 * 2^-148, since |m| <= |a~| + |b~|.
// 4. The float sum of 25 non-negative products, in any order and with or
//    without fused multiply-adds, rounds each term at most 25 times:
//    |S^ - P| <= g P + 25 * 2^-150, g = 25u / (1 - 25u) < 1.5e-6 (the last term
//    for products that underflow). So |sqrt(P) - sqrt(S^)| <= 0.5001 g sqrt(S^)
//    + 5.1 * 2^-75. No sum overflows: every |d~_e| <= 2000.
// 5. Together: |sqrt(T) - sqrt(S^)| <= 8.1e-7 sqrt(S^) + 2.02 u (|a~| + |b~|)
//    + 1.4e-22, within kFilterRelative (2^-20 = 9.5e-7), kFilterNorm (2^-22)
//    and kFilterAbsolute (2^-70).
// 6. What the search compares is D = sqrt(fl(0.04 * S)), S the double sum in
//    element order: S = T (1 + q), |q| <= 27 ud, and a few more ud for the
//    multiply and the root, so D is a non-decreasing function of S and, for
//    T_i, T_j as here, sqrt(T_i) > sqrt(T_j) (1 + kExactRelative)
//    + kExactAbsolute gives D_i > D_j strictly: codeword i can neither be the
//    nearest nor tie with codeword j (no final rounding can make them equal).
// 7. So with j the codeword of smallest S^ and M >= |a~| + |b~| for every
//    codeword of the node, upper_j = (1 + rel) sqrt(S^_j) + norm M + abs,
//    codeword i certainly loses when (1 - rel) sqrt(S^_i) - norm M - abs >
//    upper_j (1 + kExactRelative) + kExactAbsolute, that is when S^_i is above
//    survivorLimit (computed in double and inflated past its own rounding).
//    The codewords at or below the limit (j among them) are the only ones that
//    can be nearest; when there are several, their exact double distances are
//    compared in index order with the search's own rule.
const float kScaledWeights[kPatchSize] = {
    0x1.c28f5cp-4f, 0x1.4add52p-3f, 0x1.77f67cp-3f, 0x1.4add52p-3f, 0x1.c28f5cp-4f,  //
    0x1.4add52p-3f, 0x1.e513eap-3f, 0x1.1387bcp-2f, 0x1.e513eap-3f, 0x1.4add52p-3f,  //
    0x1.77f67cp-3f, 0x1.1387bcp-2f, 0x1.391dcap-2f, 0x1.1387bcp-2f, 0x1.77f67cp-3f,  //
    0x1.4add52p-3f, 0x1.e513eap-3f, 0x1.1387bcp-2f, 0x1.e513eap-3f, 0x1.4add52p-3f,  //
    0x1.c28f5cp-4f, 0x1.4add52p-3f, 0x1.77f67cp-3f, 0x1.4add52p-3f, 0x1.c28f5cp-4f,
};

double normUpperBound(const float* v, int n) {
  // Five independent sums (any order will do for a bound): a short chain.
  double sum[5] = {};
  int e = 0;
  for (; e + 5 <= n; e += 5) {
    for (int k = 0; k < 5; ++k) sum[k] += static_cast<double>(v[e + k]) * v[e + k];
  }
  for (; e < n; ++e) sum[0] += static_cast<double>(v[e]) * v[e];
  // n + 2 double roundings and a root: far below 1e-12 relative for n <= 1000.
  return std::sqrt((sum[0] + sum[1]) + (sum[2] + sum[3]) + sum[4]) * (1.0 + 1e-12) + 1e-300;
}

double survivorLimit(float smallest, double normSum) {
  const double margin = kFilterNorm * normSum + kFilterAbsolute;
  const double upper = (1.0 + kFilterRelative) * std::sqrt(static_cast<double>(smallest)) + margin;
  // 1 + 2 kFilterRelative > 1 / (1 - kFilterRelative).
  const double root =
      (upper * (1.0 + kExactRelative) + kExactAbsolute + margin) * (1.0 + 2.0 * kFilterRelative);
  // A handful of double roundings above: 1e-10 relative covers them.
  return root * root * (1.0 + 1e-10);
}

void filterSumsPortable(const float* scaledPatch, const float* groups, int groupCount, float* out) {
  for (int g = 0; g < groupCount; ++g) {
    float sum[kFilterLanes] = {};
    const float* group = groups + static_cast<size_t>(g) * kFilterGroupValues;
    for (int e = 0; e < kPatchSize; ++e) {
      for (int l = 0; l < kFilterLanes; ++l) {
        const float d = scaledPatch[e] - group[e * kFilterLanes + l];
        sum[l] += d * d;
      }
    }
    for (int l = 0; l < kFilterLanes; ++l) out[g * kFilterLanes + l] = sum[l];
  }
}

void filterBlockPortable(const float* transposed, const float* groups, int count,
                         const double* normSums, float* sums, int* smallest, int* survivors) {
  for (int c = 0; c < count; ++c) {
    float sum[kFilterLanes] = {};
    for (int e = 0; e < kPatchSize; ++e) {
      const float b =
          groups[(c / kFilterLanes) * kFilterGroupValues + e * kFilterLanes + c % kFilterLanes];
      for (int l = 0; l < kFilterLanes; ++l) {
        const float d = transposed[e * kFilterLanes + l] - b;
        sum[l] += d * d;
      }
    }
    for (int l = 0; l < kFilterLanes; ++l) sums[c * kFilterLanes + l] = sum[l];
  }
  for (int l = 0; l < kFilterLanes; ++l) {
    int least = 0;
    for (int c = 1; c < count; ++c) {
      if (sums[c * kFilterLanes + l] < sums[least * kFilterLanes + l]) least = c;
    }
    const double limit = survivorLimit(sums[least * kFilterLanes + l], normSums[l]);
    int n = 0;
    for (int c = 0; c < count; ++c) n += static_cast<int>(sums[c * kFilterLanes + l] <= limit);
    smallest[l] = least;
    survivors[l] = n;
  }
}

namespace {

std::atomic<int> chosenPath{static_cast<int>(SearchPath::kFastest)};

bool haveAvx2Fma() {
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return have;
}

// The search starts each node from a bound that every real distance beats.
constexpr double kInternalBound = 100000.0;
constexpr double kLeafBound = 10000000.0;

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
  return sum * kMeanFactor;
}

double patchStdDev(double mean, const float* patch) {
  double sum = 0.0;
  for (int i = 0; i < kPatchSize; ++i) {
    const double d = patch[i] - mean;
    sum += d * d;
  }
  return std::sqrt(sum * kVarianceFactor);  // divisor 24: sample deviation
}

namespace {

// The nearest codeword of node n (type 0 or 1) to the patch by the exact rule
// among those i that candidate(i) lets through, one patchDistance at a time:
// its index within the node, or -1 when none comes closer than the node's
// starting bound. An equal distance keeps the earlier codeword, a NaN distance
// replaces the best.
template <typename Candidate>
int nearestExactlyAmong(const float* patch, const Codebook& codebook, const CodebookNode& n,
                        const Candidate& candidate) {
  double best = n.type == 0 ? kInternalBound : kLeafBound;
  int bestIndex = -1;
  for (int i = 0; i < n.count; ++i) {
    if (!candidate(i)) continue;
    const double d = patchDistance(patch, codebook.codewords[n.firstCodeword + i].patch.data());
    if (!(d >= best)) {
      best = d;
      bestIndex = i;
    }
  }
  return bestIndex;
}

// The same among all of the node's codewords.
int nearestExactly(const float* patch, const Codebook& codebook, const CodebookNode& n) {
  return nearestExactlyAmong(patch, codebook, n, [](int) { return true; });
}

// Asks for the whole of a node's codewords at once: they are read in full and
// a leaf seldom sits in the cache, so overlapping the misses pays.
// Locality 3 brings the lines into the first-level cache, 2 into the second.
template <int Locality = 3>
void prefetchNode(const Codebook& codebook, const CodebookNode& n) {
  if (n.type > 1) return;
  const char* from = reinterpret_cast<const char*>(codebook.scaled.data() + n.scaledOffset);
  const size_t bytes = static_cast<size_t>((n.count + kFilterLanes - 1) / kFilterLanes) *
                       kFilterGroupValues * sizeof(float);
  for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(from + b, 0, Locality);
}

// A patch as the search sees it: its floats, and prescaled for the filter.
struct PatchView {
  const float* raw;
  const float* scaled;
  double norm;  // upper bound of |scaled|; negative when not filterable
};

// Writes raw prescaled into scaled; returns the norm bound, or -1 when a
// prescaled value is not finite or beyond kFilterLimit (the patch is then
// searched exactly).
double prescale(const float* raw, float* scaled) {
  int outside = 0;
  for (int e = 0; e < kPatchSize; ++e) {
    scaled[e] = kScaledWeights[e] * raw[e];
    outside |= static_cast<int>(!(std::fabs(scaled[e]) <= kFilterLimit));  // NaN too
  }
  return outside == 0 ? normUpperBound(scaled, kPatchSize) : -1.0;
}

// The filter kernel a search uses (resolved once per search or batch).
enum Kernel { kKernelPlain, kKernelPortable, kKernelAvx2 };

Kernel currentKernel() {
  switch (static_cast<SearchPath>(chosenPath.load(std::memory_order_relaxed))) {
    case SearchPath::kPlain:
      return kKernelPlain;
    case SearchPath::kPortable:
      return kKernelPortable;
    default:
      return haveAvx2Fma() ? kKernelAvx2 : kKernelPortable;
  }
}

// The nearest codeword of node n to the patch given the filter sums of its
// codewords (sums[i * stride]): the one of smallest sum when no other can be
// as near, else the exact rule among those that can.
int chooseFromSums(const PatchView& p, const Codebook& codebook, const CodebookNode& n,
                   const float* sums, int stride) {
  int smallestIndex = 0;
  float smallest = sums[0];
  for (int i = 1; i < n.count; ++i) {
    if (sums[i * stride] < smallest) {
      smallest = sums[i * stride];
      smallestIndex = i;
    }
  }
  const double limit = survivorLimit(smallest, p.norm + n.maxScaledNorm);
  int survivors = 0;
  for (int i = 0; i < n.count; ++i) survivors += static_cast<int>(sums[i * stride] <= limit);
  if (survivors == 1) return smallestIndex;
  // Exact distances of the survivors, in index order with the search's rule
  // (finite here, and all far below the starting bounds).
  return nearestExactlyAmong(p.raw, codebook, n, [&](int i) { return sums[i * stride] <= limit; });
}

// The nearest codeword of node n (type 0 or 1) to the patch, as nearestInNode
// gives it: through the filter when the patch and the node allow it.
int nearest(const PatchView& p, const Codebook& codebook, const CodebookNode& n, Kernel kernel) {
  if (kernel == kKernelPlain || p.norm < 0.0 || !n.filterable)
    return nearestExactly(p.raw, codebook, n);
  alignas(32) float sums[kMaxFilterCodewords];
  const float* groups = codebook.scaled.data() + n.scaledOffset;
  const int groupCount = (n.count + kFilterLanes - 1) / kFilterLanes;
  if (kernel == kKernelAvx2) {
    int survivors;
    const int smallest =
        filterNearestAvx2(p.scaled, groups, n.count, p.norm + n.maxScaledNorm, sums, &survivors);
    if (survivors == 1) return smallest;
  } else {
    filterSumsPortable(p.scaled, groups, groupCount, sums);
  }
  return chooseFromSums(p, codebook, n, sums, 1);
}

// One step of a descent at node: the next node (>= 0) or, at the end, -1 with
// *codewordIndex set to the chosen leaf codeword (-1 when the search fails).
int step(const PatchView& patch, const Codebook& codebook, int node, Kernel kernel,
         int* codewordIndex) {
  const CodebookNode& n = codebook.nodes[node];
  *codewordIndex = -1;
  if (n.type > 1) return -1;
  const int best = nearest(patch, codebook, n, kernel);
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
  alignas(32) float scaled[kPatchSize];
  const PatchView view{patch, scaled, prescale(patch, scaled)};
  const Kernel kernel = currentKernel();
  while (node >= 0) node = step(view, codebook, node, kernel, codewordIndex);
  return *codewordIndex < 0 ? -1.0f : codebook.values[*codewordIndex];
}

// Descents interleaved in a batch: while one patch's next node is on its way
// from memory, the others compute. Enough for the misses of a level to overlap,
// few enough that the prefetched nodes stay in the first-level cache.
constexpr int kInterleave = 16;

}  // namespace

namespace {

void searchInterleaved(const float* patches, int count, const Codebook& codebook, float* values) {
  alignas(32) float scaled[kInterleave][kPatchSize];
  PatchView view[kInterleave];
  int node[kInterleave];
  const Kernel kernel = currentKernel();
  for (int first = 0; first < count; first += kInterleave) {
    const int n = count - first < kInterleave ? count - first : kInterleave;
    for (int k = 0; k < n; ++k) {
      const float* raw = patches + static_cast<size_t>(first + k) * kPatchSize;
      view[k] = PatchView{raw, scaled[k], prescale(raw, scaled[k])};
      node[k] = 0;
    }
    for (int active = n; active > 0;) {
      active = 0;
      for (int k = 0; k < n; ++k) {
        if (node[k] < 0) continue;
        int index;
        node[k] = step(view[k], codebook, node[k], kernel, &index);
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
// is searched, so that the misses overlap when groups are small: into the
// second-level cache far ahead (the leaves come from memory), into the first
// shortly before.
constexpr size_t kGroupsAhead = 4;
constexpr size_t kGroupsFarAhead = 16;

// best[k] = the nearest codeword of node n to patch k, for k in [begin, end):
// scaled patch k at scaled + 25 k with its norm bound norms[k], its floats at
// raw + 25 origin[k]. An internal node's patches are filtered kFilterLanes at
// a time, one per lane, against its 9 codewords.
void nearestOfGroup(const float* raw, const float* scaled, const double* norms, const int* origin,
                    int begin, int end, const Codebook& codebook, const CodebookNode& n,
                    Kernel kernel, int* best) {
  auto view = [&](int k) {
    return PatchView{raw + static_cast<size_t>(origin[k]) * kPatchSize,
                     scaled + static_cast<size_t>(k) * kPatchSize, norms[k]};
  };
  int k = begin;
  if (kernel != kKernelPlain && n.filterable) {
    const float* groups = codebook.scaled.data() + n.scaledOffset;
    alignas(32) float transposed[kFilterGroupValues];
    alignas(32) float sums[kMaxFilterCodewords * kFilterLanes];
    double normSums[kFilterLanes];
    int smallest[kFilterLanes], survivors[kFilterLanes];
    // A last block of fewer patches fills its spare lanes with copies of its
    // first patch (their results are not used) when that takes no more vector
    // operations than searching them one by one (each patch a group of lanes
    // per kFilterLanes codewords).
    const int groupsPerPatch = (n.count + kFilterLanes - 1) / kFilterLanes;
    while (end - k >= kFilterLanes || (end > k && (end - k) * groupsPerPatch >= n.count)) {
      const int lanes = end - k < kFilterLanes ? end - k : kFilterLanes;
      const float* rows[kFilterLanes];
      for (int l = 0; l < kFilterLanes; ++l) {
        const int at = l < lanes ? k + l : k;
        rows[l] = scaled + static_cast<size_t>(at) * kPatchSize;
        normSums[l] = norms[at] + n.maxScaledNorm;
      }
      if (kernel == kKernelAvx2) {
        transposeBlockAvx2(rows, transposed);
      } else {
        for (int l = 0; l < kFilterLanes; ++l) {
          for (int e = 0; e < kPatchSize; ++e) transposed[e * kFilterLanes + l] = rows[l][e];
        }
      }
      if (kernel == kKernelAvx2) {
        filterBlockAvx2(transposed, groups, n.count, normSums, sums, smallest, survivors);
      } else {
        filterBlockPortable(transposed, groups, n.count, normSums, sums, smallest, survivors);
      }
      for (int l = 0; l < lanes; ++l) {
        if (norms[k + l] < 0.0) {
          best[k + l] = nearest(view(k + l), codebook, n, kernel);
        } else if (survivors[l] == 1) {
          best[k + l] = smallest[l];
        } else {
          best[k + l] = chooseFromSums(view(k + l), codebook, n, sums + l, kFilterLanes);
        }
      }
      k += lanes;
    }
  }
  for (; k < end; ++k) best[k] = nearest(view(k), codebook, n, kernel);
}

// Level by level: the patches are kept sorted by the node they have reached,
// so every node's codewords are read once per level for all of its patches
// and stay in the first-level cache meanwhile. Each patch still takes exactly
// the steps of its own descent.
void searchGrouped(const float* patches, int count, const Codebook& codebook, float* values,
                   SearchBuffers* b) {
  for (int k = 0; k < 2; ++k) {
    b->patches[k].resize(static_cast<size_t>(count) * kPatchSize);
    b->norms[k].resize(count);
    b->origin[k].resize(count);
    b->groups[k].clear();
  }
  b->child.resize(count);
  for (int k = 0; k < count; ++k) {
    const size_t at = static_cast<size_t>(k) * kPatchSize;
    b->norms[0][k] = prescale(patches + at, b->patches[0].data() + at);
    b->origin[0][k] = k;
  }
  b->groups[0].push_back({0, 0, count});
  const Kernel kernel = currentKernel();
  for (int cur = 0; !b->groups[cur].empty(); cur = 1 - cur) {
    const int nxt = 1 - cur;
    const float* from = b->patches[cur].data();
    const double* norms = b->norms[cur].data();
    const int* origin = b->origin[cur].data();
    float* to = b->patches[nxt].data();
    double* toNorms = b->norms[nxt].data();
    int* toOrigin = b->origin[nxt].data();
    int* child = b->child.data();
    const std::vector<SearchBuffers::Group>& groups = b->groups[cur];
    std::vector<SearchBuffers::Group>& next = b->groups[nxt];
    next.clear();
    int write = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
      if (g + kGroupsFarAhead < groups.size()) {
        prefetchNode<2>(codebook, codebook.nodes[groups[g + kGroupsFarAhead].node]);
      }
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
      nearestOfGroup(patches, from, norms, origin, group.begin, group.end, codebook, n, kernel,
                     child);
      for (int k = group.begin; k < group.end; ++k) {
        const int best = child[k];
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
        std::memcpy(to + static_cast<size_t>(at) * kPatchSize,
                    from + static_cast<size_t>(k) * kPatchSize, kPatchSize * sizeof(float));
        toNorms[at] = norms[k];
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

void setSearchPath(SearchPath path) {
  chosenPath.store(static_cast<int>(path), std::memory_order_relaxed);
}

SearchPath searchPath() {
  return static_cast<SearchPath>(chosenPath.load(std::memory_order_relaxed));
}

float searchCodebookIndex(const float* patch, const Codebook& codebook, int* codewordIndex) {
  return descend(patch, codebook, 0, codewordIndex);
}

float searchCodebook(const float* patch, const Codebook& codebook, int node) {
  int unused;
  return descend(patch, codebook, node, &unused);
}

}  // namespace nubo
