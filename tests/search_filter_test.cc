// The search's float filter: its error bound, and every way of searching
// (AVX2 filter, portable filter, plain exact distances) giving the plain
// recursive search's result bit for bit on near-ties and hostile values.
#include "engine/search_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/search.h"
#include "tests/test_codebooks.h"

namespace nubo {
namespace {

using testing::referenceSearch;

using testing::Patch;

// Sets a search path for one scope.
class PathScope {
 public:
  explicit PathScope(SearchPath path) { setSearchPath(path); }
  ~PathScope() { setSearchPath(SearchPath::kFastest); }
};

constexpr SearchPath kEveryPath[] = {SearchPath::kFastest, SearchPath::kPortable,
                                     SearchPath::kPlain};

// Patches like the pass makes: a smooth ramp with an edge, normalised to mean
// 0.5 and deviation 0.3.
Patch realLikePatch(std::mt19937* rng) {
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  const float gx = u(*rng), gy = u(*rng), step = 3.0f * u(*rng), cut = 2.0f * u(*rng);
  Patch p;
  for (int e = 0; e < kPatchSize; ++e) {
    const float x = static_cast<float>(e % 5 - 2), y = static_cast<float>(e / 5 - 2);
    p[e] = gx * x + gy * y + (x + 0.7f * y > cut ? step : 0.0f) + 0.05f * u(*rng);
  }
  const double mean = patchMean(p.data());
  const float m = static_cast<float>(mean);
  const float s = static_cast<float>(patchStdDev(m, p.data()));
  for (float& v : p) v = (v - m) * 0.3f / s + 0.5f;
  return p;
}

// Nudges v by `ulps` units in the last place.
float nudge(float v, int ulps) {
  for (int k = 0; k < std::abs(ulps); ++k) {
    v = std::nextafter(v, ulps > 0 ? std::numeric_limits<float>::infinity()
                                   : -std::numeric_limits<float>::infinity());
  }
  return v;
}

// Every node's codewords become near copies of its first one (a few
// elements nudged by a few units in the last place, some exact copies), so
// that distances tie exactly, differ in the last bits of the double sum, or
// meet only after the final multiply and square root.
void makeNearTies(CodebookTree* tree, std::mt19937* rng) {
  std::vector<CodebookTree*> nodes{tree};
  for (size_t k = 0; k < nodes.size(); ++k) {
    for (auto& child : nodes[k]->children) nodes.push_back(&child);
  }
  for (CodebookTree* node : nodes) {
    for (size_t c = 1; c < node->patches.size(); ++c) {
      node->patches[c] = node->patches[(*rng)() % c];
      const int changes = static_cast<int>((*rng)() % 3);
      for (int k = 0; k < changes; ++k) {
        float& v = node->patches[c][(*rng)() % kPatchSize];
        v = nudge(v, static_cast<int>((*rng)() % 7) - 3);
      }
    }
  }
}

// Compares the batch and the single search of every path with the reference.
void expectEveryPathMatches(const Codebook& cb, const std::vector<float>& patches,
                            const char* what) {
  const int count = static_cast<int>(patches.size() / kPatchSize);
  std::vector<float> want(count);
  for (int k = 0; k < count; ++k) want[k] = referenceSearch(patches.data() + k * kPatchSize, cb, 0);
  for (SearchPath path : kEveryPath) {
    PathScope scope(path);
    SearchBuffers buffers;
    std::vector<float> grouped(count), interleaved(count);
    searchCodebookBatch(patches.data(), count, cb, grouped.data(), &buffers);
    searchCodebookBatch(patches.data(), count, cb, interleaved.data(), nullptr);
    for (int k = 0; k < count; ++k) {
      const float single = searchCodebook(patches.data() + k * kPatchSize, cb);
      ASSERT_EQ(std::memcmp(&single, &want[k], 4), 0)
          << what << " path " << static_cast<int>(path) << " " << k;
      ASSERT_EQ(std::memcmp(&grouped[k], &want[k], 4), 0)
          << what << " path " << static_cast<int>(path) << " " << k;
      ASSERT_EQ(std::memcmp(&interleaved[k], &want[k], 4), 0)
          << what << " path " << static_cast<int>(path) << " " << k;
    }
  }
}

TEST(SearchFilter, ScaledWeightsAreTheFloatRootsOfTheWeights) {
  for (int e = 0; e < kPatchSize; ++e) {
    EXPECT_EQ(kScaledWeights[e], static_cast<float>(std::sqrt(kPatchWeights[e]))) << e;
  }
}

TEST(SearchFilter, FilterSumsStayWithinTheStatedBound) {
  // Real-like patches against real-like codewords, near-equal pairs, and
  // subnormal and tiny values; both kernels (AVX2 only where present).
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> noise(-1e-3f, 1e-3f);
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  double worst = 0.0;  // largest error as a share of the bound
  for (int n = 0; n < 20000; ++n) {
    Patch a = realLikePatch(&rng);
    float group[kFilterGroupValues];
    Patch b[kFilterLanes];
    for (int l = 0; l < kFilterLanes; ++l) {
      b[l] = l < 4 ? realLikePatch(&rng) : a;
      if (l >= 4 && l < 6)
        for (float& v : b[l]) v += noise(rng);
      if (l == 6) b[l][rng() % kPatchSize] = nudge(a[0], 1);
      if (l == 7)
        for (float& v : b[l]) v = 1e-40f * static_cast<float>(rng() % 5);
    }
    if (n % 10 == 0)
      for (float& v : a) v = 1e-41f * static_cast<float>(rng() % 7);
    float scaledA[kPatchSize];
    for (int e = 0; e < kPatchSize; ++e) scaledA[e] = kScaledWeights[e] * a[e];
    for (int l = 0; l < kFilterLanes; ++l) {
      for (int e = 0; e < kPatchSize; ++e)
        group[e * kFilterLanes + l] = kScaledWeights[e] * b[l][e];
    }
    float sums[2][kFilterLanes];
    filterSumsPortable(scaledA, group, 1, sums[0]);
    if (avx2) {
      filterSumsAvx2(scaledA, group, 1, sums[1]);
    } else {
      std::memcpy(sums[1], sums[0], sizeof sums[0]);
    }
    const double normA = normUpperBound(scaledA, kPatchSize);
    for (int l = 0; l < kFilterLanes; ++l) {
      float scaledB[kPatchSize];
      for (int e = 0; e < kPatchSize; ++e) scaledB[e] = group[e * kFilterLanes + l];
      long double exact = 0.0L;  // the real sum, to well beyond double precision
      for (int e = 0; e < kPatchSize; ++e) {
        const long double d = static_cast<long double>(a[e]) - b[l][e];
        exact += static_cast<long double>(kPatchWeights[e]) * d * d;
      }
      for (const auto& s : sums) {
        const double bound = kFilterRelative * std::sqrt(static_cast<double>(s[l])) +
                             kFilterNorm * (normA + normUpperBound(scaledB, kPatchSize)) +
                             kFilterAbsolute;
        const double error =
            std::fabs(static_cast<double>(std::sqrt(exact)) - std::sqrt(static_cast<double>(s[l])));
        ASSERT_LE(error, bound) << n << " " << l;
        worst = std::max(worst, error / bound);
      }
    }
  }
  EXPECT_GT(worst, 0.0);  // the filter does round: the bound is not vacuous
}

TEST(SearchFilter, CodewordsAboveTheLimitAreFartherThanTheSmallest) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> noise(-1e-6f, 1e-6f);
  for (int n = 0; n < 20000; ++n) {
    const Patch a = realLikePatch(&rng);
    Patch b = realLikePatch(&rng), c = b;
    for (float& v : c) v += noise(rng);
    float scaledA[kPatchSize], group[kFilterGroupValues] = {}, sums[kFilterLanes];
    for (int e = 0; e < kPatchSize; ++e) {
      scaledA[e] = kScaledWeights[e] * a[e];
      group[e * kFilterLanes] = kScaledWeights[e] * b[e];
      group[e * kFilterLanes + 1] = kScaledWeights[e] * c[e];
    }
    filterSumsPortable(scaledA, group, 1, sums);
    const int small = sums[1] < sums[0] ? 1 : 0;
    const double limit = survivorLimit(sums[small], normUpperBound(scaledA, kPatchSize) + 2.0);
    const double db = patchDistance(a.data(), b.data()), dc = patchDistance(a.data(), c.data());
    if (sums[1 - small] > limit) {
      ASSERT_GT(small == 0 ? dc : db, small == 0 ? db : dc) << n;
    }
    ASSERT_LE(sums[small], limit);
  }
}

TEST(SearchFilter, EveryPathMatchesThePlainSearchOnNearTies) {
  int roundingTies = 0;  // distinct double sums whose distances come out equal
  for (int leafSize : {1, 5, 8, 9, 16, 17, 33}) {
    CodebookTree tree = testing::randomTree(3, leafSize, 900 + leafSize);
    std::mt19937 rng(leafSize);
    makeNearTies(&tree, &rng);
    const Codebook cb = testing::codebookOf(tree);
    std::vector<float> patches;
    std::uniform_real_distribution<float> tiny(-1e-6f, 1e-6f);
    for (int n = 0; n < 3000; ++n) {
      Patch p;
      const CodebookNode& node = cb.nodes[rng() % cb.nodes.size()];
      p = cb.codewords[node.firstCodeword + static_cast<int>(rng() % node.count)].patch;
      if (n % 3 == 1)
        for (float& v : p) v += tiny(rng);
      if (n % 3 == 2) p[rng() % kPatchSize] = nudge(p[rng() % kPatchSize], 2);
      patches.insert(patches.end(), p.begin(), p.end());
      // Count the ties the final rounding makes, to show they are exercised.
      for (int i = 1; i < node.count; ++i) {
        const float* b0 = cb.codewords[node.firstCodeword].patch.data();
        const float* bi = cb.codewords[node.firstCodeword + i].patch.data();
        double s0 = 0.0, si = 0.0;
        for (int e = 0; e < kPatchSize; ++e) {
          const double d0 = static_cast<double>(p[e]) - b0[e],
                       di = static_cast<double>(p[e]) - bi[e];
          s0 += (d0 * d0) * kPatchWeights[e];
          si += (di * di) * kPatchWeights[e];
        }
        roundingTies += s0 != si && patchDistance(p.data(), b0) == patchDistance(p.data(), bi);
      }
    }
    expectEveryPathMatches(cb, patches, "near ties");
  }
  EXPECT_GT(roundingTies, 0);
}

TEST(SearchFilter, EveryPathMatchesThePlainSearchOnHostileValues) {
  // NaN, infinities, huge values (beyond the filter's limit and near it),
  // subnormals and zeros, in patches and in codewords; a leaf larger than
  // the filter takes.
  const float inf = std::numeric_limits<float>::infinity();
  const float oddValues[] = {std::numeric_limits<float>::quiet_NaN(),
                             inf,
                             -inf,
                             3e38f,
                             -1e20f,
                             4000.0f,
                             3600.0f,
                             -3500.0f,
                             1e-45f,
                             -1e-40f,
                             0.0f,
                             -0.0f,
                             1e-30f};
  for (int leafSize : {3, 16, kMaxFilterCodewords + 3}) {
    CodebookTree tree = testing::randomTree(leafSize > 100 ? 2 : 3, leafSize, 40 + leafSize);
    std::mt19937 rng(leafSize);
    std::vector<CodebookTree*> nodes{&tree};
    for (size_t k = 0; k < nodes.size(); ++k) {
      for (auto& child : nodes[k]->children) nodes.push_back(&child);
    }
    for (CodebookTree* node : nodes) {
      if (rng() % 3 != 0) continue;  // most nodes stay filterable
      node->patches[rng() % node->patches.size()][rng() % kPatchSize] =
          oddValues[rng() % std::size(oddValues)];
    }
    const Codebook cb = testing::codebookOf(tree);
    std::vector<float> patches;
    std::uniform_real_distribution<float> u(-0.5f, 1.5f);
    for (int n = 0; n < 2000; ++n) {
      Patch p;
      for (float& v : p) v = u(rng);
      if (n % 2 == 0) p[rng() % kPatchSize] = oddValues[rng() % std::size(oddValues)];
      if (n % 5 == 0)
        for (float& v : p) v *= 1e-38f;  // subnormal after scaling
      patches.insert(patches.end(), p.begin(), p.end());
    }
    expectEveryPathMatches(cb, patches, "hostile");
  }
}

}  // namespace
}  // namespace nubo
