// Codebook training: sample collection, hierarchical k-means, the engine-exact
// partition and the acceptance-aware companion values.
#include "train/trainer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/colour.h"
#include "engine/preprocess.h"
#include "engine/ringing.h"
#include "engine/search.h"
#include "jpegutil/jpeg_util.h"

namespace nubo {
namespace train {

namespace {

// The engine's de-normalisation factor (the double nearest 10/3) and centre.
constexpr double kInverseScale = 3.3333333333333335;
constexpr double kNormCentre = 0.5;
constexpr double kLevels2 = 255.0 * 255.0;  // Y units^2 -> grey levels^2

// Patches per work item of the parallel loops: big enough to amortise the
// scheduling, small enough to balance two cores on a single tree node.
constexpr size_t kChunk = 8192;

// DevIL keeps global state: one decode at a time.
std::mutex& devilMutex() {
  static std::mutex mutex;
  return mutex;
}

uint64_t splitmix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A small seeded generator whose output is the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() { return splitmix(&state_); }
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  size_t below(size_t n) { return static_cast<size_t>(uniform() * static_cast<double>(n)) % n; }

 private:
  uint64_t state_;
};

uint64_t mixSeed(uint64_t a, uint64_t b) {
  uint64_t state = a * 0x100000001B3ULL ^ b;
  splitmix(&state);
  return splitmix(&state);
}

// Runs fn(item) for item 0..n-1 on up to `threads` workers. Callers write
// results into per-item slots, so the outcome does not depend on the schedule.
template <typename Fn>
void parallelFor(int threads, size_t n, Fn fn) {
  if (threads <= 1 || n <= 1) {
    for (size_t k = 0; k < n; ++k) fn(k);
    return;
  }
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  const size_t count = std::min(static_cast<size_t>(threads), n);
  for (size_t t = 0; t < count; ++t) {
    workers.emplace_back([&] {
      for (;;) {
        const size_t k = next.fetch_add(1);
        if (k >= n) return;
        fn(k);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
}

void report(const ProgressFn& progress, const char* label, size_t done, size_t total) {
  if (progress) progress(label, done, total);
}

using Patch = std::array<float, kPatchSize>;

// Weighted squared distances from x to K centroids stored transposed
// (element-major, kp lanes per element); returns the nearest (lowest index on ties).
__attribute__((target_clones("avx2", "default"))) int nearestCentroid(const float* x, const std::vector<float>& transposed, int k, int kp,
                    float* distance) {
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
  std::copy(set.patch(p), set.patch(p) + kPatchSize, out.begin());
  return out;
}

// k-means with k centroids over the members (patch indices), k-means++ start.
// The centroid under a weighted squared distance is the plain mean.
std::vector<Patch> kMeans(const SampleSet& set, const std::vector<uint32_t>& members, int k,
                          uint64_t seed, size_t fitLimit, const TreeOptions& options) {
  Rng rng(seed);
  std::vector<uint32_t> fit = members;
  if (fit.size() > fitLimit) {
    for (size_t i = 0; i < fitLimit; ++i) {
      std::swap(fit[i], fit[i + rng.below(fit.size() - i)]);
    }
    fit.resize(fitLimit);
    std::sort(fit.begin(), fit.end());  // memory order for the passes below
  }
  std::vector<Patch> centroids;
  if (fit.empty()) return centroids;
  if (fit.size() <= static_cast<size_t>(k)) {
    for (uint32_t p : fit) centroids.push_back(patchAt(set, p));
    while (centroids.size() < static_cast<size_t>(k)) centroids.push_back(centroids[0]);
    return centroids;
  }

  // k-means++: each next centre drawn with probability proportional to D^2.
  centroids.push_back(patchAt(set, fit[rng.below(fit.size())]));
  std::vector<double> d2(fit.size());
  for (size_t i = 0; i < fit.size(); ++i) d2[i] = weightedDistance(set.patch(fit[i]), centroids[0].data());
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
    centroids.push_back(patchAt(set, fit[pick]));
    const float* c = centroids.back().data();
    for (size_t i = 0; i < fit.size(); ++i) {
      d2[i] = std::min<double>(d2[i], weightedDistance(set.patch(fit[i]), c));
    }
  }

  // Lloyd iterations; per-chunk sums reduced in chunk order (deterministic).
  std::vector<int> label(fit.size(), -1);
  const size_t chunks = (fit.size() + kChunk - 1) / kChunk;
  std::vector<std::vector<double>> sums(chunks);
  std::vector<std::vector<size_t>> counts(chunks);
  std::vector<size_t> changed(chunks);
  for (int iteration = 0; iteration < options.iterations; ++iteration) {
    int kp = 0;
    const std::vector<float> t = transpose(centroids, &kp);
    parallelFor(options.threads, chunks, [&](size_t c) {
      std::vector<double>& sum = sums[c];
      std::vector<size_t>& count = counts[c];
      sum.assign(static_cast<size_t>(k) * kPatchSize, 0.0);
      count.assign(k, 0);
      changed[c] = 0;
      const size_t end = std::min(fit.size(), (c + 1) * kChunk);
      for (size_t i = c * kChunk; i < end; ++i) {
        const float* x = set.patch(fit[i]);
        float distance = 0.0f;
        const int best = nearestCentroid(x, t, k, kp, &distance);
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
    for (size_t c = 0; c < chunks; ++c) {
      moved += changed[c];
      for (size_t e = 0; e < total.size(); ++e) total[e] += sums[c][e];
      for (int j = 0; j < k; ++j) n[j] += counts[c][j];
    }
    for (int j = 0; j < k; ++j) {
      if (n[j] == 0) {
        centroids[j] = patchAt(set, fit[rng.below(fit.size())]);  // restart an empty cluster
        continue;
      }
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
std::vector<std::vector<uint32_t>> partition(const SampleSet& set,
                                             const std::vector<uint32_t>& members,
                                             const std::vector<Patch>& centroids, int threads) {
  const int k = static_cast<int>(centroids.size());
  int kp = 0;
  const std::vector<float> t = transpose(centroids, &kp);
  std::vector<uint8_t> label(members.size());
  const size_t chunks = (members.size() + kChunk - 1) / kChunk;
  parallelFor(threads, chunks, [&](size_t c) {
    const size_t end = std::min(members.size(), (c + 1) * kChunk);
    for (size_t i = c * kChunk; i < end; ++i) {
      float distance = 0.0f;
      label[i] = static_cast<uint8_t>(nearestCentroid(set.patch(members[i]), t, k, kp, &distance));
    }
  });
  std::vector<std::vector<uint32_t>> parts(k);
  for (size_t i = 0; i < members.size(); ++i) parts[label[i]].push_back(members[i]);
  return parts;
}

struct TreeBuilder {
  const SampleSet& set;
  const TreeOptions& options;
  const ProgressFn& progress;
  size_t nodesDone = 0;
  size_t nodesTotal = 0;

  void build(std::vector<uint32_t> members, int levels, uint64_t nodeId, const Patch& centre,
             CodebookTree* node) {
    const uint64_t seed = mixSeed(options.seed, nodeId);
    if (levels <= 1) {
      node->type = 1;
      const int k = static_cast<int>(
          std::max<size_t>(1, std::min<size_t>(options.leafSize, members.size())));
      std::vector<Patch> centroids = kMeans(set, members, k, seed, options.leafFitLimit, options);
      if (centroids.empty()) centroids.push_back(centre);  // no patch reached this leaf
      for (const Patch& c : centroids) {
        node->patches.push_back(c);
        node->values.push_back(kAbstainValue);
      }
    } else {
      node->type = 0;
      std::vector<Patch> centroids = kMeans(set, members, kBranching, seed, options.fitLimit, options);
      while (centroids.size() < static_cast<size_t>(kBranching)) centroids.push_back(centre);
      std::vector<std::vector<uint32_t>> parts =
          partition(set, members, centroids, options.threads);
      members.clear();
      members.shrink_to_fit();
      node->patches.assign(centroids.begin(), centroids.end());
      node->values.assign(kBranching, 0.0f);  // internal values are never read
      node->children.resize(kBranching);
      ++nodesDone;
      report(progress, "tree", nodesDone, nodesTotal);
      for (int c = 0; c < kBranching; ++c) {
        build(std::move(parts[c]), levels - 1, nodeId * kBranching + c + 1, centroids[c],
              &node->children[c]);
      }
      return;
    }
    ++nodesDone;
    report(progress, "tree", nodesDone, nodesTotal);
  }
};

// Squared-error pieces of one sample in u = v - 0.5: inside its acceptance
// interval (lo, hi) the error is (a u + c)^2, outside it is base.
struct Piece {
  double a, c, base, lo, hi;
};

Piece pieceOf(const PixelSample& s) {
  Piece p;
  p.a = static_cast<double>(s.s) * kInverseScale;
  p.c = static_cast<double>(s.m) - s.target;
  p.base = static_cast<double>(s.keepDiff) * s.keepDiff;
  p.lo = (static_cast<double>(s.y) - s.m - kAcceptLimit) / p.a;
  p.hi = (static_cast<double>(s.y) - s.m + kAcceptLimit) / p.a;
  return p;
}

}  // namespace

void SampleSet::append(const SampleSet& other) {
  patches.insert(patches.end(), other.patches.begin(), other.patches.end());
  samples.insert(samples.end(), other.samples.begin(), other.samples.end());
  heldOut.insert(heldOut.end(), other.heldOut.begin(), other.heldOut.end());
  moveLoss.insert(moveLoss.end(), other.moveLoss.begin(), other.moveLoss.end());
}

void symmetryVariant(const float* in, int k, float* out) {
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) {
      int r = a, c = b;
      if (k & 4) std::swap(r, c);  // transpose
      if (k & 1) c = 4 - c;        // mirror left-right
      if (k & 2) r = 4 - r;        // mirror top-bottom
      out[5 * a + b] = in[5 * r + c];
    }
  }
}

std::vector<float> lumaOf(const DecodedImage& picture) {
  std::vector<float> y(static_cast<size_t>(picture.width) * picture.height);
  for (int i = 0; i < picture.height; ++i) {
    const uint8_t* row =
        picture.rgb.data() + static_cast<size_t>(picture.height - 1 - i) * picture.width * 3;
    for (int j = 0; j < picture.width; ++j) {
      float yiq[3];
      rgbToYiq(yiq, row[3 * j], row[3 * j + 1], row[3 * j + 2]);
      y[static_cast<size_t>(i) * picture.width + j] = yiq[0];
    }
  }
  return y;
}

Status compressAndLoad(const DecodedImage& picture, int quality, WorkingImage* image) {
  std::vector<uint8_t> jpeg;
  Status status = compressJpeg(picture.rgb.data(), picture.width, picture.height, quality,
                               /*topRowFirst=*/false, &jpeg);
  if (!status.ok()) return status;
  DecodedImage decoded;
  {
    std::lock_guard<std::mutex> lock(devilMutex());
    status = decodeImage(jpeg.data(), jpeg.size(), &decoded);
  }
  if (!status.ok()) return status;
  if (!fillDisplayBuffers(decoded.rgb.data(), decoded.width, decoded.height, image)) {
    return Status(StatusCode::kTooLarge, "cannot allocate the working buffers");
  }
  preprocessImage(image, nullptr);
  return Status::Ok();
}

size_t countCandidates(const WorkingImage& image) {
  size_t n = 0;
  for (int i = 2; i <= image.imageHeight - 3; ++i) {
    const int32_t* row = image.edgeBlockMap.data() + static_cast<size_t>(i) * image.imageWidth;
    for (int j = 2; j <= image.imageWidth - 3; ++j) n += row[j] != 0;
  }
  return n;
}

void collectSamples(const WorkingImage& image, const std::vector<float>& origY, double keep,
                    uint64_t seed, bool heldOut, SampleSet* out) {
  Rng rng(seed);
  const int w = image.imageWidth;
  for (int i = 2; i <= image.imageHeight - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      const size_t at = static_cast<size_t>(i) * w + j;
      if (image.edgeBlockMap[at] == 0) continue;
      if (keep < 1.0 && rng.uniform() >= keep) continue;
      float patch[kPatchSize];
      gatherPatch(image, i, j, patch);
      const float m = static_cast<float>(patchMean(patch));
      const float s = static_cast<float>(patchStdDev(m, patch));
      if (s == 0.0f) continue;  // the engine keeps flat windows untouched
      normalisePatch(patch, m, s);
      PixelSample sample;
      sample.y = image.inputYiq[at * 3];
      sample.m = m;
      sample.s = s;
      const float iq[2] = {image.inputYiq[at * 3 + 1], image.inputYiq[at * 3 + 2]};
      sample.target = origY[at];
      sample.keepDiff = static_cast<float>(displayedLuma(sample.y, iq[0], iq[1]) - origY[at]);
      // A prediction lands at an arbitrary point between two levels; a random
      // move of up to +-kMoveRange shows the loss such a point suffers.
      constexpr double kMoveRange = 0.03;
      const float moved =
          static_cast<float>(sample.y + (rng.uniform() * 2.0 - 1.0) * kMoveRange);
      out->moveLoss.push_back(static_cast<float>(moved - displayedLuma(moved, iq[0], iq[1])));
      out->samples.push_back(sample);
      out->heldOut.push_back(heldOut ? 1 : 0);
      for (int k = 0; k < out->variants; ++k) {
        float variant[kPatchSize];
        symmetryVariant(patch, k, variant);
        out->patches.insert(out->patches.end(), variant, variant + kPatchSize);
      }
    }
  }
}

double displayedLuma(float y, float i, float q) {
  uint8_t rgb[3];
  yiqToRgb(rgb, y, i, q);
  return (0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]) / 255.0;
}

double shiftTargets(SampleSet* set) {
  if (set->moveLoss.empty()) return 0.0;
  double sum = 0.0;
  for (float loss : set->moveLoss) sum += loss;
  const double shift = sum / static_cast<double>(set->moveLoss.size());
  for (PixelSample& s : set->samples) s.target = static_cast<float>(s.target + shift);
  return shift * 255.0;
}

float acceptedOutput(float v, const PixelSample& sample) {
  // Same expression and rounding as the engine's cleanPixel.
  const double p = ((v - kNormCentre) * sample.s) * kInverseScale + sample.m;
  return std::fabs(p - sample.y) < kAcceptLimit ? static_cast<float>(p) : sample.y;
}

double companionError(float v, const std::vector<PixelSample>& samples) {
  double sum = 0.0;
  for (const PixelSample& s : samples) {
    const double p = ((v - kNormCentre) * s.s) * kInverseScale + s.m;
    const double d = std::fabs(p - s.y) < kAcceptLimit
                         ? static_cast<double>(static_cast<float>(p)) - s.target
                         : static_cast<double>(s.keepDiff);
    sum += d * d;
  }
  return sum;
}

double keepError(const std::vector<PixelSample>& samples) {
  double sum = 0.0;
  for (const PixelSample& s : samples) sum += static_cast<double>(s.keepDiff) * s.keepDiff;
  return sum;
}

float bestCompanion(const std::vector<PixelSample>& samples) {
  if (samples.empty()) return kAbstainValue;
  std::vector<Piece> pieces;
  pieces.reserve(samples.size());
  for (const PixelSample& s : samples) pieces.push_back(pieceOf(s));
  // Sweep the interval ends; between two consecutive ends the active set is
  // fixed and the error is one quadratic in u.
  struct Event {
    double at;
    int32_t piece;  // >= 0 enters, ~piece leaves
  };
  std::vector<Event> events;
  events.reserve(pieces.size() * 2);
  double baseTotal = 0.0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    events.push_back({pieces[k].lo, static_cast<int32_t>(k)});
    events.push_back({pieces[k].hi, ~static_cast<int32_t>(k)});
    baseTotal += pieces[k].base;
  }
  std::sort(events.begin(), events.end(), [](const Event& x, const Event& y) {
    return x.at < y.at || (x.at == y.at && x.piece < y.piece);
  });
  double s2 = 0.0, s1 = 0.0, s0 = 0.0, baseActive = 0.0;
  // The few best candidates of the sweep are re-scored exactly (float value,
  // engine rounding), which also absorbs the drift of the running sums.
  constexpr size_t kCandidates = 12;
  std::vector<std::pair<double, double>> best;  // (sweep error, u)
  for (size_t e = 0; e < events.size();) {
    const double at = events[e].at;
    for (; e < events.size() && events[e].at == at; ++e) {
      const int32_t id = events[e].piece;
      const Piece& p = pieces[id >= 0 ? id : ~id];
      const double sign = id >= 0 ? 1.0 : -1.0;
      s2 += sign * p.a * p.a;
      s1 += sign * p.a * p.c;
      s0 += sign * p.c * p.c;
      baseActive += sign * p.base;
    }
    if (e >= events.size() || s2 <= 0.0) continue;
    const double next = events[e].at;
    // Keep strictly inside the open segment: the ends belong to other active sets.
    const double margin = (next - at) * 1e-6;
    const double u = std::clamp(-s1 / s2, at + margin, next - margin);
    const double error = (s2 * u + 2.0 * s1) * u + s0 + (baseTotal - baseActive);
    if (best.size() < kCandidates || error < best.back().first) {
      best.emplace_back(error, u);
      std::sort(best.begin(), best.end());
      if (best.size() > kCandidates) best.pop_back();
    }
  }
  const double keep = keepError(samples);
  float chosen = kAbstainValue;
  double chosenError = keep;
  for (const auto& candidate : best) {
    const float v = static_cast<float>(candidate.second + kNormCentre);
    if (!std::isfinite(v)) continue;
    const double error = companionError(v, samples);
    if (error < chosenError) {
      chosenError = error;
      chosen = v;
    }
  }
  return chosen;
}

float chooseCompanion(const std::vector<PixelSample>& fit, const std::vector<PixelSample>& held,
                      const CompanionRules& rules, const std::vector<float>& shared) {
  if (held.size() < rules.minHeldSamples) return kAbstainValue;
  const double keepHeld = keepError(held);
  double bestGain = rules.minHeldGain * static_cast<double>(held.size()) / kLevels2;
  float best = kAbstainValue;
  bool own = false;
  if (fit.size() >= rules.minFitSamples) {
    const float v = bestCompanion(fit);
    if (v != kAbstainValue) {
      const double gain = keepHeld - companionError(v, held);
      if (gain > bestGain) {
        best = v;
        bestGain = gain;
        own = true;
      }
    }
  }
  for (float v : shared) {
    if (v == kAbstainValue) continue;
    const double gain = keepHeld - companionError(v, held);
    if (gain > bestGain) {
      best = v;
      bestGain = gain;
      own = false;
    }
  }
  if (!own) return best;
  std::vector<PixelSample> all = fit;
  all.insert(all.end(), held.begin(), held.end());
  const float refit = bestCompanion(all);
  // The refit uses every sample; keep it only when it still helps the held-back ones.
  if (refit != kAbstainValue && companionError(refit, held) < keepHeld) return refit;
  return best;
}

CodebookTree buildTree(const SampleSet& set, const TreeOptions& options,
                       const ProgressFn& progress) {
  TreeBuilder builder{set, options, progress};
  size_t levelNodes = 1;
  for (int level = 0; level < options.depth; ++level) {
    builder.nodesTotal += levelNodes;
    levelNodes *= kBranching;
  }
  std::vector<uint32_t> members(set.patchCount());
  for (size_t p = 0; p < members.size(); ++p) members[p] = static_cast<uint32_t>(p);
  Patch centre{};
  centre.fill(0.5f);
  CodebookTree tree;
  builder.build(std::move(members), std::max(2, options.depth), 0, centre, &tree);
  return tree;
}

std::vector<int32_t> assignPatches(const Codebook& codebook, const SampleSet& set, int threads,
                                   const ProgressFn& progress) {
  const size_t n = set.patchCount();
  std::vector<int32_t> assignment(n, -1);
  const size_t chunks = (n + kChunk - 1) / kChunk;
  std::atomic<size_t> done{0};
  std::mutex reportMutex;
  parallelFor(threads, chunks, [&](size_t c) {
    const size_t end = std::min(n, (c + 1) * kChunk);
    for (size_t p = c * kChunk; p < end; ++p) {
      int index = -1;
      searchCodebookIndex(set.patch(p), codebook, &index);
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

size_t fitCompanions(const Codebook& codebook, const std::vector<int32_t>& assignment,
                     const SampleSet& set, const CompanionRules& rules, int threads,
                     CodebookTree* tree) {
  const std::vector<std::pair<CodebookTree*, int>> slots = codewordSlots(codebook, tree);
  const size_t codewords = slots.size();
  // Patches grouped by codeword (counting sort, patch order kept).
  std::vector<size_t> start(codewords + 1, 0);
  for (int32_t a : assignment) {
    if (a >= 0) ++start[a + 1];
  }
  for (size_t c = 0; c < codewords; ++c) start[c + 1] += start[c];
  std::vector<uint32_t> order(start[codewords]);
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t p = 0; p < assignment.size(); ++p) {
    if (assignment[p] >= 0) order[fill[assignment[p]]++] = static_cast<uint32_t>(p);
  }
  std::vector<int> leaves;
  for (size_t n = 0; n < codebook.nodes.size(); ++n) {
    if (codebook.nodes[n].type == 1) leaves.push_back(static_cast<int>(n));
  }
  std::atomic<size_t> acting{0};
  parallelFor(threads, leaves.size(), [&](size_t l) {
    const CodebookNode& node = codebook.nodes[leaves[l]];
    std::vector<std::vector<PixelSample>> fit(node.count), held(node.count);
    std::vector<PixelSample> leafFit;
    for (int k = 0; k < node.count; ++k) {
      const size_t c = static_cast<size_t>(node.firstCodeword) + k;
      for (size_t q = start[c]; q < start[c + 1]; ++q) {
        const size_t sample = order[q] / set.variants;
        (set.heldOut[sample] ? held[k] : fit[k]).push_back(set.samples[sample]);
      }
      leafFit.insert(leafFit.end(), fit[k].begin(), fit[k].end());
    }
    // One value for the whole leaf: a fallback for codewords whose own fit is noise.
    const std::vector<float> shared{bestCompanion(leafFit)};
    for (int k = 0; k < node.count; ++k) {
      const size_t c = static_cast<size_t>(node.firstCodeword) + k;
      const float v = chooseCompanion(fit[k], held[k], rules, shared);
      slots[c].first->values[slots[c].second] = v;
      if (v != kAbstainValue) acting.fetch_add(1);
    }
  });
  return acting.load();
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

namespace {

// Luminance PSNR of an RGB buffer (display layout) against the picture.
double lumaPsnr(const DecodedImage& picture, const WorkingImage& image,
                const std::vector<uint8_t>& display) {
  double sum = 0.0;
  for (int r = 0; r < picture.height; ++r) {
    const uint8_t* a = picture.rgb.data() + static_cast<size_t>(r) * picture.width * 3;
    const uint8_t* b = display.data() + image.displayOffset(r, 0);
    for (int c = 0; c < picture.width; ++c) {
      // BT.601 luma on 8-bit values, as papers on artefact removal report it.
      const double ya = 0.299 * a[3 * c] + 0.587 * a[3 * c + 1] + 0.114 * a[3 * c + 2];
      const double yb = 0.299 * b[3 * c] + 0.587 * b[3 * c + 1] + 0.114 * b[3 * c + 2];
      sum += (ya - yb) * (ya - yb);
    }
  }
  const double mse = sum / (static_cast<double>(picture.width) * picture.height);
  if (mse <= 0.0) return 100.0;  // identical pictures: report a finite ceiling
  return 10.0 * std::log10(kLevels2 / mse);
}

}  // namespace

Status scorePicture(const DecodedImage& picture, int quality, const Codebook& codebook,
                    int threads, PictureScore* score) {
  WorkingImage image;
  Status status = compressAndLoad(picture, quality, &image);
  if (!status.ok()) return status;
  score->decodedPsnr = lumaPsnr(picture, image, image.inputDisplay);
  CleanOptions options;
  options.threads = threads;
  removeRinging(&image, codebook, options, nullptr);
  score->cleanedPsnr = lumaPsnr(picture, image, image.outputDisplay);
  return Status::Ok();
}

Status trainCodebook(const std::vector<DecodedImage>& pictures, const TrainOptions& options,
                     const ProgressFn& progress, CodebookTree* tree, TrainReport* result) {
  if (pictures.empty()) return Status(StatusCode::kInvalidArgument, "no training pictures");
  if (options.qualities.empty()) return Status(StatusCode::kInvalidArgument, "no qualities");
  if (options.tree.depth < 2) return Status(StatusCode::kInvalidArgument, "depth must be >= 2");
  if (options.tree.leafSize < 1 || options.tree.leafSize > 256) {
    return Status(StatusCode::kInvalidArgument, "leaf size must be 1..256");
  }
  const int variants = options.augment ? kSymmetries : 1;
  // Patch indices are 32-bit.
  if (options.maxSamples * variants >= std::numeric_limits<uint32_t>::max()) {
    return Status(StatusCode::kInvalidArgument, "too many patches");
  }

  // Held-back pictures, chosen by the seed.
  std::vector<size_t> order(pictures.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  Rng rng(mixSeed(options.tree.seed, 0x4845));
  for (size_t k = order.size(); k > 1; --k) std::swap(order[k - 1], order[rng.below(k)]);
  std::vector<uint8_t> held(pictures.size(), 0);
  const size_t heldCount = pictures.size() < 2 ? 0
                           : static_cast<size_t>(std::lround(options.heldFraction *
                                                             static_cast<double>(pictures.size())));
  for (size_t k = 0; k < heldCount && k < pictures.size(); ++k) held[order[k]] = 1;

  // Candidate count at the middle quality, times the number of qualities,
  // sets the share of pixels kept.
  std::vector<int> qualities = options.qualities;
  std::sort(qualities.begin(), qualities.end());
  const int middle = qualities[qualities.size() / 2];
  std::vector<size_t> candidates(pictures.size(), 0);
  std::vector<Status> errors(pictures.size());
  std::atomic<size_t> done{0};
  std::mutex reportMutex;
  parallelFor(options.tree.threads, pictures.size(), [&](size_t k) {
    WorkingImage image;
    errors[k] = compressAndLoad(pictures[k], middle, &image);
    if (errors[k].ok()) candidates[k] = countCandidates(image);
    const size_t finished = done.fetch_add(1) + 1;
    std::lock_guard<std::mutex> lock(reportMutex);
    report(progress, "count", finished, pictures.size());
  });
  for (const Status& s : errors) {
    if (!s.ok()) return s;
  }
  double totalCandidates = 0.0;
  for (size_t c : candidates) totalCandidates += static_cast<double>(c);
  totalCandidates *= static_cast<double>(qualities.size());
  const double keep =
      totalCandidates <= 0.0 ? 1.0
                             : std::min(1.0, static_cast<double>(options.maxSamples) / totalCandidates);

  // Samples of every (picture, quality) pair, concatenated in job order.
  const size_t jobs = pictures.size() * qualities.size();
  std::vector<SampleSet> parts(jobs);
  std::vector<Status> jobErrors(jobs);
  done = 0;
  parallelFor(options.tree.threads, jobs, [&](size_t job) {
    const size_t k = job / qualities.size();
    const int quality = qualities[job % qualities.size()];
    WorkingImage image;
    jobErrors[job] = compressAndLoad(pictures[k], quality, &image);
    if (jobErrors[job].ok()) {
      parts[job].variants = variants;
      collectSamples(image, lumaOf(pictures[k]), keep, mixSeed(options.tree.seed, job + 1),
                     held[k] != 0, &parts[job]);
    }
    const size_t finished = done.fetch_add(1) + 1;
    std::lock_guard<std::mutex> lock(reportMutex);
    report(progress, "samples", finished, jobs);
  });
  for (const Status& s : jobErrors) {
    if (!s.ok()) return s;
  }
  SampleSet set;
  set.variants = variants;
  size_t total = 0;
  for (const SampleSet& part : parts) total += part.samples.size();
  set.patches.reserve(total * variants * kPatchSize);
  set.samples.reserve(total);
  set.heldOut.reserve(total);
  set.moveLoss.reserve(total);
  for (SampleSet& part : parts) {
    set.append(part);
    part = SampleSet();
  }
  if (set.samples.empty()) return Status(StatusCode::kInvalidData, "no training samples found");
  const double shift = shiftTargets(&set);

  *tree = buildTree(set, options.tree, progress);
  Codebook codebook;
  Status status = toCodebook(*tree, &codebook);
  if (!status.ok()) return status;
  const std::vector<int32_t> assignment =
      assignPatches(codebook, set, options.tree.threads, progress);
  const size_t acting =
      fitCompanions(codebook, assignment, set, options.rules, options.tree.threads, tree);
  Codebook final;
  status = toCodebook(*tree, &final);  // before pruning: the partition of the assignment
  if (!status.ok()) return status;
  pruneAbstaining(tree);

  if (result != nullptr) {
    result->pictures = pictures.size();
    result->samples = set.samples.size();
    result->patches = set.patchCount();
    Codebook pruned;
    status = toCodebook(*tree, &pruned);
    if (!status.ok()) return status;
    result->leafCodewords = 0;
    for (const CodebookNode& node : pruned.nodes) result->leafCodewords += node.type == 1 ? node.count : 0;
    result->actingCodewords = acting;
    // Gain of the final codebook over all training patches.
    double gain = 0.0;
    for (size_t p = 0; p < assignment.size(); ++p) {
      if (assignment[p] < 0) continue;
      const std::vector<PixelSample> one{set.samples[p / set.variants]};
      gain += keepError(one) - companionError(final.values[assignment[p]], one);
    }
    result->levelShift = shift;
    result->fitGain = gain * kLevels2 / static_cast<double>(assignment.size());
    double oracle = 0.0;
    for (const PixelSample& s : set.samples) {
      const Piece piece = pieceOf(s);
      const double u = std::clamp(-piece.c / piece.a, piece.lo, piece.hi);
      const double inside = (piece.a * u + piece.c) * (piece.a * u + piece.c);
      oracle += std::max(0.0, piece.base - inside);
    }
    result->oracleGain = oracle * kLevels2 / static_cast<double>(set.samples.size());
  }
  return Status::Ok();
}

}  // namespace train
}  // namespace nubo
