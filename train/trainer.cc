// Codebook training: samples from the pictures, the tree, the engine-exact
// partition and the companions, in that order.
#include "train/trainer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

Status trainCodebook(const std::vector<DecodedImage>& pictures, const TrainOptions& options,
                     ThreadPool* pool, const ProgressFn& progress, CodebookTree* tree,
                     TrainReport* result) {
  if (pictures.empty()) return Status(StatusCode::kInvalidArgument, "no training pictures");
  if (options.qualities.empty()) return Status(StatusCode::kInvalidArgument, "no qualities");
  if (options.tree.depth < 2) return Status(StatusCode::kInvalidArgument, "depth must be >= 2");
  if (options.tree.leafSize < 1 || options.tree.leafSize > 256) {
    return Status(StatusCode::kInvalidArgument, "leaf size must be 1..256");
  }
  if (options.orientations != 1 && options.orientations != 2 && options.orientations != 4 &&
      options.orientations != 8) {
    return Status(StatusCode::kInvalidArgument, "orientations must be 1, 2, 4 or 8");
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
  const size_t heldCount = pictures.size() < 2
                               ? 0
                               : static_cast<size_t>(std::lround(
                                     options.heldFraction * static_cast<double>(pictures.size())));
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
  pool->parallelFor(pictures.size(), [&](size_t k) {
    LoadedPicture image;
    errors[k] = compressAndLoad(pictures[k], middle, &image);
    if (errors[k].ok()) candidates[k] = countCandidates(image.analysis);
    const size_t finished = done.fetch_add(1) + 1;
    std::lock_guard<std::mutex> lock(reportMutex);
    report(progress, "count", finished, pictures.size());
  });
  for (const Status& s : errors) {
    if (!s.ok()) return s;
  }
  double totalCandidates = 0.0;
  for (size_t c : candidates) totalCandidates += static_cast<double>(c);
  totalCandidates *= static_cast<double>(qualities.size() * options.orientations);
  const double keep =
      totalCandidates <= 0.0
          ? 1.0
          : std::min(1.0, static_cast<double>(options.maxSamples) / totalCandidates);

  // Samples of every (picture, orientation, quality) job, concatenated in job
  // order. Jobs run in batches, each batch appended and freed before the next,
  // so that the samples are held about once (not once in parts and once more
  // in the whole).
  const size_t perPicture = qualities.size() * static_cast<size_t>(options.orientations);
  const size_t jobs = pictures.size() * perPicture;
  SampleSet set;
  set.variants = variants;
  const double expected = std::min(totalCandidates, static_cast<double>(options.maxSamples));
  set.reserve(static_cast<size_t>(expected * 1.05) + 1024);
  const size_t batch = static_cast<size_t>(pool->size()) * 4;
  done = 0;
  for (size_t first = 0; first < jobs; first += batch) {
    const size_t count = std::min(batch, jobs - first);
    std::vector<SampleSet> parts(count);
    std::vector<Status> jobErrors(count);
    pool->parallelFor(count, [&](size_t b) {
      const size_t job = first + b;
      const size_t k = job / perPicture;
      const int orientation = static_cast<int>(job % perPicture / qualities.size());
      const int quality = qualities[job % qualities.size()];
      DecodedImage oriented;
      if (orientation != 0) oriented = orientPicture(pictures[k], orientation);
      const DecodedImage& picture = orientation != 0 ? oriented : pictures[k];
      LoadedPicture image;
      jobErrors[b] = compressAndLoad(picture, quality, &image);
      if (jobErrors[b].ok()) {
        parts[b].variants = variants;
        collectSamples(image, lumaOf(picture), keep, mixSeed(options.tree.seed, job + 1),
                       held[k] != 0, options.keepUntouched, &parts[b]);
      }
      const size_t finished = done.fetch_add(1) + 1;
      std::lock_guard<std::mutex> lock(reportMutex);
      report(progress, "samples", finished, jobs);
    });
    for (const Status& s : jobErrors) {
      if (!s.ok()) return s;
    }
    for (SampleSet& part : parts) {
      set.append(part);
      part = SampleSet();
    }
  }
  if (set.samples.size() * static_cast<size_t>(variants) >= std::numeric_limits<uint32_t>::max()) {
    return Status(StatusCode::kInvalidArgument, "too many patches");
  }
  if (set.samples.empty()) return Status(StatusCode::kInvalidData, "no training samples found");
  const double shift = shiftTargets(&set);

  *tree = buildTree(set, options.tree, pool, progress);
  Codebook codebook;
  Status status = toCodebook(*tree, &codebook);
  if (!status.ok()) return status;
  const std::vector<int32_t> assignment = assignPatches(codebook, set, pool, progress);
  const size_t acting = fitCompanions(codebook, assignment, set, options.rules, pool, tree);
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
    for (const CodebookNode& node : pruned.nodes)
      result->leafCodewords += node.type == 1 ? node.count : 0;
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
    const double oracle = perPixelOptimumGain(set.samples);
    result->oracleGain = oracle * kLevels2 / static_cast<double>(set.samples.size());
  }
  return Status::Ok();
}

}  // namespace train
}  // namespace nubo
