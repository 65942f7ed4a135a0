// Hierarchical weighted k-means, the engine-exact partition and pruning.
#include "train/tree_builder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "engine/pixel_rule.h"
#include "engine/search.h"

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

namespace {

using Patch = std::array<float, kPatchSize>;

// The patch indices of a tree node: a list, or (the root) every patch of the
// set in order without a list, which saves a list as long as the set.
struct Members {
  std::vector<uint32_t> list;
  size_t all = 0;  // with an empty list: the members are 0..all-1
  bool identity = false;

  size_t size() const { return identity ? all : list.size(); }
  uint32_t operator[](size_t i) const { return identity ? static_cast<uint32_t>(i) : list[i]; }
};

// Weighted squared distances from x to K centroids stored transposed
// (element-major, kp lanes per element); returns the nearest (lowest index on ties).
// With lambda > 0 each distance also holds lambda (xf - extra[l])^2: the target
// feature xf of x against the centroids' features extra (kp lanes).
__attribute__((target_clones("avx2", "default"))) int nearestCentroid(
    const float* x, const std::vector<float>& transposed, int k, int kp, float* distance,
    float lambda = 0.0f, float xf = 0.0f, const float* extra = nullptr) {
  float acc[256];
  std::fill(acc, acc + kp, 0.0f);
  for (int e = 0; e < kPatchSize; ++e) {
    const float xe = x[e];
    const float we = static_cast<float>(kPatchWeights[e]);
    const float* c = transposed.data() + static_cast<size_t>(e) * kp;
    for (int l = 0; l < kp; ++l) {
      const float d = xe - c[l];
      acc[l] += we * (d * d);
    }
  }
  if (lambda > 0.0f) {
    for (int l = 0; l < kp; ++l) {
      const float d = xf - extra[l];
      acc[l] += lambda * (d * d);
    }
  }
  int best = 0;
  for (int l = 1; l < k; ++l) {
    if (acc[l] < acc[best]) best = l;
  }
  *distance = acc[best];
  return best;
}

std::vector<float> transpose(const std::vector<Patch>& centroids, int* kp) {
  const int k = static_cast<int>(centroids.size());
  *kp = (k + 7) / 8 * 8;
  std::vector<float> t(static_cast<size_t>(kPatchSize) * *kp, 0.0f);
  for (int c = 0; c < k; ++c) {
    for (int e = 0; e < kPatchSize; ++e) t[static_cast<size_t>(e) * *kp + c] = centroids[c][e];
  }
  return t;
}

__attribute__((target_clones("avx2", "default"))) float weightedDistance(const float* a,
                                                                         const float* b) {
  float sum = 0.0f;
  for (int e = 0; e < kPatchSize; ++e) {
    const float d = a[e] - b[e];
    sum += static_cast<float>(kPatchWeights[e]) * (d * d);
  }
  return sum;
}

Patch patchAt(const SampleSet& set, uint32_t p) {
  Patch out;
  set.patchInto(p, out.data());
  return out;
}

// The target feature of the trainer's k-means: the companion value that would
// make a sample's prediction hit its target, clamped to the values its
// acceptance window lets through.
std::vector<float> targetFeatures(const SampleSet& set) {
  std::vector<float> f(set.samples.size());
  for (size_t k = 0; k < f.size(); ++k) {
    const PixelSample& s = set.samples[k];
    const double centre = normalisedValue(s.y, s.m, s.s);
    const double wanted = normalisedValue(s.target, s.m, s.s);
    // Beyond the window a sample would rather be kept; also bounded by one
    // patch deviation so that near-flat windows do not dominate the distances.
    const double window = std::min(kAcceptLimit * kNormScale / s.s, kNormScale);
    f[k] = static_cast<float>(std::clamp(wanted, centre - window, centre + window));
  }
  return f;
}

// k-means with k centroids over the members (patch indices), k-means++ start.
// The centroid under a weighted squared distance is the plain mean. With
// lambda > 0 the points are the patches joined by their sample's feature
// (weight lambda); only the patch part of the centroids is returned.
std::vector<Patch> kMeans(const SampleSet& set, const Members& members, int k, uint64_t seed,
                          size_t fitLimit, const TreeOptions& options, ThreadPool* pool,
                          float lambda = 0.0f, const std::vector<float>* feature = nullptr) {
  if (feature == nullptr) lambda = 0.0f;
  auto featureOf = [&](uint32_t p) { return lambda > 0.0f ? (*feature)[p / set.variants] : 0.0f; };
  Rng rng(seed);
  std::vector<uint32_t> fit;
  const size_t memberCount = members.size();
  if (memberCount > fitLimit) {
    // The first fitLimit steps of a Fisher-Yates shuffle of the members, with
    // the moved entries in a map instead of a shuffled copy of all of them.
    std::unordered_map<size_t, uint32_t> moved;
    moved.reserve(2 * fitLimit);
    auto at = [&](size_t x) {
      const auto found = moved.find(x);
      return found != moved.end() ? found->second : members[x];
    };
    fit.resize(fitLimit);
    for (size_t i = 0; i < fitLimit; ++i) {
      const size_t j = i + rng.below(memberCount - i);
      const uint32_t here = at(i);
      fit[i] = at(j);
      moved[j] = here;
    }
    std::sort(fit.begin(), fit.end());  // memory order for the passes below
  } else {
    fit.resize(memberCount);
    for (size_t i = 0; i < memberCount; ++i) fit[i] = members[i];
  }
  std::vector<Patch> centroids;
  if (fit.empty()) return centroids;
  if (fit.size() <= static_cast<size_t>(k)) {
    for (uint32_t p : fit) centroids.push_back(patchAt(set, p));
    while (centroids.size() < static_cast<size_t>(k)) centroids.push_back(centroids[0]);
    return centroids;
  }
  // The fitted patches, formed once: every pass below reads them many times.
  std::vector<float> fitPatches(fit.size() * kPatchSize);
  for (size_t i = 0; i < fit.size(); ++i) set.patchInto(fit[i], fitPatches.data() + i * kPatchSize);
  auto fitPatch = [&](size_t i) { return fitPatches.data() + i * kPatchSize; };
  auto fitCopy = [&](size_t i) {
    Patch out;
    std::copy(fitPatch(i), fitPatch(i) + kPatchSize, out.begin());
    return out;
  };

  // k-means++: each next centre drawn with probability proportional to D^2.
  std::vector<float> centreFeature;
  auto featureDistance = [&](size_t i, float c) {
    const float d = featureOf(fit[i]) - c;
    return lambda * (d * d);
  };
  const size_t first = rng.below(fit.size());
  centroids.push_back(fitCopy(first));
  centreFeature.push_back(featureOf(fit[first]));
  std::vector<double> d2(fit.size());
  for (size_t i = 0; i < fit.size(); ++i) {
    d2[i] = weightedDistance(fitPatch(i), centroids[0].data());
    if (lambda > 0.0f) d2[i] += featureDistance(i, centreFeature[0]);
  }
  while (centroids.size() < static_cast<size_t>(k)) {
    double total = 0.0;
    for (double v : d2) total += v;
    size_t pick = 0;
    if (total > 0.0) {
      double target = rng.uniform() * total;
      for (pick = 0; pick + 1 < fit.size(); ++pick) {
        target -= d2[pick];
        if (target < 0.0) break;
      }
    } else {
      pick = rng.below(fit.size());
    }
    centroids.push_back(fitCopy(pick));
    centreFeature.push_back(featureOf(fit[pick]));
    const float* c = centroids.back().data();
    for (size_t i = 0; i < fit.size(); ++i) {
      double d = weightedDistance(fitPatch(i), c);
      if (lambda > 0.0f) d += featureDistance(i, centreFeature.back());
      d2[i] = std::min<double>(d2[i], d);
    }
  }

  // Lloyd iterations; per-chunk sums reduced in chunk order (deterministic).
  std::vector<int> label(fit.size(), -1);
  const size_t chunks = (fit.size() + kChunk - 1) / kChunk;
  std::vector<std::vector<double>> sums(chunks);
  std::vector<std::vector<size_t>> counts(chunks);
  std::vector<std::vector<double>> featureSums(chunks);
  std::vector<size_t> changed(chunks);
  for (int iteration = 0; iteration < options.iterations; ++iteration) {
    int kp = 0;
    const std::vector<float> t = transpose(centroids, &kp);
    std::vector<float> extra(kp, 0.0f);
    std::copy(centreFeature.begin(), centreFeature.end(), extra.begin());
    pool->parallelFor(chunks, [&](size_t c) {
      std::vector<double>& sum = sums[c];
      std::vector<size_t>& count = counts[c];
      sum.assign(static_cast<size_t>(k) * kPatchSize, 0.0);
      count.assign(k, 0);
      featureSums[c].assign(k, 0.0);
      changed[c] = 0;
      const size_t end = std::min(fit.size(), (c + 1) * kChunk);
      for (size_t i = c * kChunk; i < end; ++i) {
        const float* x = fitPatch(i);
        float distance = 0.0f;
        const float xf = featureOf(fit[i]);
        const int best = nearestCentroid(x, t, k, kp, &distance, lambda, xf, extra.data());
        featureSums[c][best] += xf;
        if (best != label[i]) ++changed[c];
        label[i] = best;
        ++count[best];
        double* s = sum.data() + static_cast<size_t>(best) * kPatchSize;
        for (int e = 0; e < kPatchSize; ++e) s[e] += x[e];
      }
    });
    size_t moved = 0;
    std::vector<double> total(static_cast<size_t>(k) * kPatchSize, 0.0);
    std::vector<size_t> n(k, 0);
    std::vector<double> featureTotal(k, 0.0);
    for (size_t c = 0; c < chunks; ++c) {
      moved += changed[c];
      for (size_t e = 0; e < total.size(); ++e) total[e] += sums[c][e];
      for (int j = 0; j < k; ++j) {
        n[j] += counts[c][j];
        featureTotal[j] += featureSums[c][j];
      }
    }
    for (int j = 0; j < k; ++j) {
      if (n[j] == 0) {
        const size_t restart = rng.below(fit.size());  // restart an empty cluster
        centroids[j] = fitCopy(restart);
        centreFeature[j] = featureOf(fit[restart]);
        continue;
      }
      centreFeature[j] = static_cast<float>(featureTotal[j] / static_cast<double>(n[j]));
      for (int e = 0; e < kPatchSize; ++e) {
        centroids[j][e] = static_cast<float>(total[static_cast<size_t>(j) * kPatchSize + e] /
                                             static_cast<double>(n[j]));
      }
    }
    if (moved * 1000 <= fit.size()) break;  // fewer than 0.1% moved: converged
  }
  return centroids;
}

// Splits members among the nearest of the centroids (stable order).
std::vector<std::vector<uint32_t>> partition(const SampleSet& set, const Members& members,
                                             const std::vector<Patch>& centroids,
                                             ThreadPool* pool) {
  const int k = static_cast<int>(centroids.size());
  int kp = 0;
  const std::vector<float> t = transpose(centroids, &kp);
  std::vector<uint8_t> label(members.size());
  const size_t chunks = (members.size() + kChunk - 1) / kChunk;
  pool->parallelFor(chunks, [&](size_t c) {
    const size_t end = std::min(members.size(), (c + 1) * kChunk);
    for (size_t i = c * kChunk; i < end; ++i) {
      float distance = 0.0f;
      float x[kPatchSize];
      set.patchInto(members[i], x);
      label[i] = static_cast<uint8_t>(nearestCentroid(x, t, k, kp, &distance));
    }
  });
  std::vector<size_t> sizes(k, 0);
  for (uint8_t l : label) ++sizes[l];
  std::vector<std::vector<uint32_t>> parts(k);
  for (int c = 0; c < k; ++c) parts[c].reserve(sizes[c]);  // exact: no spare capacity
  for (size_t i = 0; i < members.size(); ++i) parts[label[i]].push_back(members[i]);
  return parts;
}

struct TreeBuilder {
  const SampleSet& set;
  const TreeOptions& options;
  ThreadPool* pool;
  const ProgressFn& progress;
  const std::vector<float>* feature;  // per sample, when a target weight is set
  size_t nodesDone = 0;
  size_t nodesTotal = 0;

  void build(Members members, int levels, uint64_t nodeId, const Patch& centre,
             CodebookTree* node) {
    const uint64_t seed = mixSeed(options.seed, nodeId);
    if (levels <= 1) {
      node->type = 1;
      const int k =
          static_cast<int>(std::max<size_t>(1, std::min<size_t>(options.leafSize, members.size())));
      std::vector<Patch> centroids = kMeans(set, members, k, seed, options.leafFitLimit, options,
                                            pool, options.leafTargetWeight, feature);
      if (centroids.empty()) centroids.push_back(centre);  // no patch reached this leaf
      for (const Patch& c : centroids) {
        node->patches.push_back(c);
        node->values.push_back(kAbstainValue);
      }
    } else {
      node->type = 0;
      std::vector<Patch> centroids = kMeans(set, members, kBranching, seed, options.fitLimit,
                                            options, pool, options.nodeTargetWeight, feature);
      while (centroids.size() < static_cast<size_t>(kBranching)) centroids.push_back(centre);
      std::vector<std::vector<uint32_t>> parts = partition(set, members, centroids, pool);
      members = Members();
      node->patches.assign(centroids.begin(), centroids.end());
      node->values.assign(kBranching, 0.0f);  // internal values are never read
      node->children.resize(kBranching);
      ++nodesDone;
      report(progress, "tree", nodesDone, nodesTotal);
      for (int c = 0; c < kBranching; ++c) {
        Members child;
        child.list = std::move(parts[c]);
        build(std::move(child), levels - 1, nodeId * kBranching + c + 1, centroids[c],
              &node->children[c]);
      }
      return;
    }
    ++nodesDone;
    report(progress, "tree", nodesDone, nodesTotal);
  }
};

}  // namespace

CodebookTree buildTree(const SampleSet& set, const TreeOptions& options, ThreadPool* pool,
                       const ProgressFn& progress) {
  std::vector<float> feature;
  if (options.leafTargetWeight > 0.0f || options.nodeTargetWeight > 0.0f) {
    feature = targetFeatures(set);
  }
  TreeBuilder builder{set, options, pool, progress, &feature};
  size_t levelNodes = 1;
  for (int level = 0; level < options.depth; ++level) {
    builder.nodesTotal += levelNodes;
    levelNodes *= kBranching;
  }
  Members members;
  members.identity = true;
  members.all = set.patchCount();
  Patch centre{};
  centre.fill(static_cast<float>(kNormCentre));  // the middle of the normalised range
  CodebookTree tree;
  builder.build(std::move(members), std::max(2, options.depth), 0, centre, &tree);
  return tree;
}

std::vector<int32_t> assignPatches(const Codebook& codebook, const SampleSet& set, ThreadPool* pool,
                                   const ProgressFn& progress) {
  const size_t n = set.patchCount();
  std::vector<int32_t> assignment(n, -1);
  const size_t chunks = (n + kChunk - 1) / kChunk;
  std::atomic<size_t> done{0};
  std::mutex reportMutex;
  pool->parallelFor(chunks, [&](size_t c) {
    const size_t end = std::min(n, (c + 1) * kChunk);
    for (size_t p = c * kChunk; p < end; ++p) {
      int index = -1;
      float x[kPatchSize];
      set.patchInto(p, x);
      searchCodebookIndex(x, codebook, &index);
      assignment[p] = index;
    }
    const size_t finished = done.fetch_add(1) + 1;
    std::lock_guard<std::mutex> lock(reportMutex);
    report(progress, "assign", finished, chunks);
  });
  return assignment;
}

std::vector<std::pair<CodebookTree*, int>> codewordSlots(const Codebook& codebook,
                                                         CodebookTree* tree) {
  std::vector<std::pair<CodebookTree*, int>> slots(codebook.codewords.size(), {nullptr, -1});
  std::vector<std::pair<int, CodebookTree*>> stack{{0, tree}};
  while (!stack.empty()) {
    const auto [index, node] = stack.back();
    stack.pop_back();
    const CodebookNode& n = codebook.nodes[index];
    if (n.type == 1) {
      for (int k = 0; k < n.count; ++k) slots[n.firstCodeword + k] = {node, k};
    } else if (n.type == 0) {
      for (int c = 0; c < n.count && c < static_cast<int>(node->children.size()); ++c) {
        stack.push_back({n.firstChild + c, &node->children[c]});
      }
    }
  }
  return slots;
}

namespace {

// Whether node is a leaf holding a single abstaining codeword after pruning.
bool pruneNode(CodebookTree* node, bool isRoot, size_t* removed) {
  if (node->type == 1) {
    const bool silent = std::all_of(node->values.begin(), node->values.end(),
                                    [](float v) { return v == kAbstainValue; });
    if (silent && node->patches.size() > 1) {
      *removed += node->patches.size() - 1;
      node->patches.resize(1);
      node->values.resize(1);
    }
    return silent;
  }
  bool allSilent = true;
  for (CodebookTree& child : node->children) {
    allSilent = pruneNode(&child, false, removed) && allSilent;
  }
  if (!allSilent || isRoot) return false;
  // Every patch reaching this node ends abstaining: one leaf codeword does the same.
  *removed += node->patches.size();  // the 9 internal codewords, and 9 leaf ones less 1
  *removed += node->children.size() - 1;
  node->type = 1;
  node->patches.resize(1);
  node->values.assign(1, kAbstainValue);
  node->children.clear();
  return true;
}

}  // namespace

size_t pruneAbstaining(CodebookTree* tree) {
  size_t removed = 0;
  pruneNode(tree, true, &removed);
  return removed;
}

Status toCodebook(const CodebookTree& tree, Codebook* codebook) {
  std::vector<uint8_t> bytes;
  Status status = serializeCodebook(tree, &bytes);
  if (!status.ok()) return status;
  return parseCodebook(bytes.data(), bytes.size(), codebook);
}

}  // namespace train
}  // namespace nubo
