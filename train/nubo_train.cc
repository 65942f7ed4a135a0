// nubo-train: trains a ringing codebook from photographs, or scores a codebook
// on photographs compressed at given JPEG qualities.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/codebook.h"
#include "engine/thread_pool.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"
#include "tools/cli_util.h"
#include "train/trainer.h"

namespace {

namespace fs = std::filesystem;
using nubo::DecodedImage;
using nubo::Status;

bool isPictureName(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".tif" ||
         ext == ".tiff";
}

// Files named directly, and the pictures of named folders (sorted by name).
std::vector<std::string> listInputs(const std::vector<std::string>& inputs) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    if (fs::is_directory(input)) {
      std::vector<std::string> found;
      for (const auto& entry : fs::directory_iterator(input)) {
        if (entry.is_regular_file() && isPictureName(entry.path())) {
          found.push_back(entry.path().string());
        }
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(input);
    }
  }
  return files;
}

// A picture belongs to the evaluation share when the hash of its file name
// falls below the fraction: the same pictures whatever the seed or order.
bool isEvaluationPicture(const std::string& path, double fraction) {
  uint64_t h = 1469598103934665603ULL;  // FNV-1a offset basis
  for (unsigned char c : fs::path(path).filename().string()) {
    h = (h ^ c) * 1099511628211ULL;  // FNV-1a prime
  }
  return static_cast<double>(h % 10000) < fraction * 10000.0;
}

// One progress line on stderr, redrawn when the percentage changes.
class ProgressBar {
 public:
  void operator()(const char* label, size_t done, size_t total) {
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    // Workers finish out of order: never draw a smaller percentage.
    if (label_ == label && percent <= percent_) return;
    if (label_ != label && !label_.empty()) std::fputc('\n', stderr);
    label_ = label;
    percent_ = percent;
    const int filled = percent / 5;  // 20 cells
    std::fprintf(stderr, "\r%5.0f s %-7s [%s%s] %3d%% (%zu/%zu)", elapsed(), label,
                 std::string(filled, '#').c_str(), std::string(20 - filled, '.').c_str(), percent,
                 done, total);
    std::fflush(stderr);
  }
  double elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  void finish() {
    if (!label_.empty()) std::fputc('\n', stderr);
    label_.clear();
  }

 private:
  std::string label_;
  int percent_ = -1;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

Status loadPictures(const std::vector<std::string>& files, std::vector<DecodedImage>* pictures,
                    ProgressBar* bar) {
  pictures->resize(files.size());
  for (size_t k = 0; k < files.size(); ++k) {
    Status status = nubo::decodeImageFile(files[k], &(*pictures)[k]);
    if (!status.ok()) return Status(status.code(), files[k] + ": " + status.message());
    (*bar)("load", k + 1, files.size());
  }
  bar->finish();
  return Status::Ok();
}

// Scores codebook on every picture at every quality and prints the gains of
// the cleaner's --convert-all mode (gain) and of its default, where untouched
// pixels keep their bytes (keep_gain).
int evaluate(const std::vector<DecodedImage>& pictures, const std::vector<std::string>& names,
             const std::vector<int>& qualities, const nubo::Codebook& codebook,
             nubo::ThreadPool* pool, bool perPicture) {
  std::printf(
      "quality  pictures  decoded_dB  gain_dB  worst_gain_dB  keep_gain_dB  keep_worst_dB\n");
  for (int quality : qualities) {
    double decoded = 0.0, gain = 0.0, worst = 1e9, keepGain = 0.0, keepWorst = 1e9;
    for (size_t k = 0; k < pictures.size(); ++k) {
      nubo::train::PictureScore score;
      Status status = nubo::train::scorePicture(pictures[k], quality, codebook, pool, &score);
      if (!status.ok()) {
        std::fprintf(stderr, "nubo-train: %s: %s\n", names[k].c_str(), status.message().c_str());
        return 1;
      }
      const double g = score.cleanedPsnr - score.decodedPsnr;
      const double kg = score.keptPsnr - score.decodedPsnr;
      if (perPicture) {
        std::printf("  q%d %s %.3f %+.4f %+.4f\n", quality, names[k].c_str(), score.decodedPsnr, g,
                    kg);
      }
      decoded += score.decodedPsnr;
      gain += g;
      worst = std::min(worst, g);
      keepGain += kg;
      keepWorst = std::min(keepWorst, kg);
    }
    const double n = static_cast<double>(pictures.size());
    std::printf("%7d  %8zu  %10.3f  %+7.4f  %+13.4f  %+12.4f  %+13.4f\n", quality, pictures.size(),
                decoded / n, gain / n, worst, keepGain / n, keepWorst);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Trains a ringing codebook from photographs (or scores one with --evaluate).",
               "nubo-train"};
  std::vector<std::string> inputs;
  nubo::train::TrainOptions options;
  std::string out;
  std::string evaluateFile;
  size_t maxPatches = 8000000;
  int threads = 0;
  double evalFraction = 0.0;
  std::vector<int> evalQualities{10, 20, 30, 40, 50};
  bool perPicture = false;
  bool abstain = false;
  bool noAugment = false;
  app.add_option("inputs", inputs, "Picture files and folders of pictures")->required();
  app.add_option("--qualities", options.qualities, "JPEG qualities of the training pairs")
      ->delimiter(',')
      ->check(CLI::Range(1, 100));
  app.add_option("--depth", options.tree.depth, "Tree levels from the root to the leaves (>= 2)")
      ->check(CLI::Range(2, 8));
  app.add_option("--leaf-size", options.tree.leafSize, "Codewords per leaf")
      ->check(CLI::Range(1, 256));
  app.add_option("--seed", options.tree.seed, "Seed of every random choice");
  app.add_option("--max-patches", maxPatches,
                 "Training patches kept, symmetry variants included (about 25 bytes each)");
  app.add_option("--out", out, "Codebook file to write");
  app.add_option("--threads", threads, "Worker threads (0: all cores)")->check(CLI::Range(0, 256));
  app.add_option("--held-fraction", options.heldFraction,
                 "Share of training pictures that only judge the companions")
      ->check(CLI::Range(0.0, 0.9));
  app.add_option("--min-fit", options.rules.minFitSamples, "Fit patches a codeword needs to act");
  app.add_option("--min-held", options.rules.minHeldSamples,
                 "Held-back patches a codeword needs to act");
  app.add_option("--min-gain", options.rules.minHeldGain,
                 "Held-back gain per patch (grey levels^2) a codeword must exceed to act");
  app.add_option("--iterations", options.tree.iterations, "k-means iterations at most");
  app.add_option("--fit-limit", options.tree.fitLimit,
                 "Patches an internal node's k-means fits its centroids on");
  app.add_option("--leaf-fit-limit", options.tree.leafFitLimit,
                 "Patches a leaf's k-means fits its codewords on");
  app.add_flag("--keep-untouched", options.keepUntouched,
               "Train for the cleaner's default mode, where kept pixels show their input bytes "
               "(without it: for its --convert-all mode)");
  app.add_option("--leaf-target-weight", options.tree.leafTargetWeight,
                 "Weight of the wanted companion value joined to the patch in the leaves' k-means")
      ->check(CLI::Range(0.0, 100.0));
  app.add_option("--node-target-weight", options.tree.nodeTargetWeight,
                 "The same for the internal nodes' k-means")
      ->check(CLI::Range(0.0, 100.0));
  app.add_flag("--no-augment", noAugment, "Do not add the 8 flips and rotations of each patch");
  app.add_option("--orientations", options.orientations,
                 "Orientations (flips and rotations) of each original compressed as training "
                 "pairs of their own: 1, 2, 4 or 8")
      ->check(CLI::IsMember({1, 2, 4, 8}));
  app.add_option("--eval-fraction", evalFraction,
                 "Share of the pictures set aside (by file name) to score the result on")
      ->check(CLI::Range(0.0, 0.9));
  app.add_option("--eval-qualities", evalQualities, "Qualities to score at")
      ->delimiter(',')
      ->check(CLI::Range(1, 100));
  app.add_option("--evaluate", evaluateFile,
                 "Only score this codebook: on all the inputs, or with --eval-fraction on those a "
                 "training run would set aside");
  app.add_flag("--per-picture", perPicture, "Print the gain of every scored picture");
  app.add_flag("--abstain", abstain,
               "Write the smallest codebook that never changes a pixel, then stop");
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  // The workers of the whole run: training and scoring share them.
  nubo::ThreadPool pool(threads);
  options.augment = !noAugment;
  options.maxSamples = maxPatches / (options.augment ? nubo::train::kSymmetries : 1);
  ProgressBar bar;
  const auto progress = [&bar](const char* label, size_t done, size_t total) {
    bar(label, done, total);
  };

  if (abstain) {
    if (out.empty()) {
      std::fprintf(stderr, "nubo-train: --abstain needs --out\n");
      return 2;
    }
    // A root over 9 one-codeword leaves: the smallest tree the reader accepts.
    nubo::CodebookTree tree;
    tree.type = 0;
    tree.children.resize(nubo::kBranching);
    for (int c = 0; c < nubo::kBranching; ++c) {
      std::array<float, nubo::kPatchSize> patch;
      patch.fill(0.1f * static_cast<float>(c));  // distinct codewords, never acted upon
      tree.patches.push_back(patch);
      tree.values.push_back(0.0f);
      tree.children[c].type = 1;
      tree.children[c].patches.push_back(patch);
      tree.children[c].values.push_back(nubo::train::kAbstainValue);
    }
    Status status = nubo::writeCodebook(tree, out);
    if (!status.ok()) {
      std::fprintf(stderr, "nubo-train: %s\n", status.message().c_str());
      return 1;
    }
    return 0;
  }

  const std::vector<std::string> files = listInputs(inputs);
  std::vector<std::string> trainFiles, evalFiles;
  for (const std::string& f : files) {
    const bool setAside = isEvaluationPicture(f, evalFraction);
    // --evaluate scores every input, or with --eval-fraction only those a
    // training run with that share would set aside.
    if (!evaluateFile.empty()) {
      if (evalFraction == 0.0 || setAside) evalFiles.push_back(f);
    } else {
      (setAside ? evalFiles : trainFiles).push_back(f);
    }
  }

  const auto start = std::chrono::steady_clock::now();
  nubo::Codebook codebook;
  if (!evaluateFile.empty()) {
    Status status = nubo::loadCodebook(&codebook, evaluateFile);
    if (!status.ok()) {
      std::fprintf(stderr, "nubo-train: %s: %s\n", evaluateFile.c_str(), status.message().c_str());
      return 1;
    }
  } else {
    if (out.empty()) {
      std::fprintf(stderr, "nubo-train: --out is required for training\n");
      return 2;
    }
    std::vector<DecodedImage> pictures;
    Status status = loadPictures(trainFiles, &pictures, &bar);
    if (!status.ok()) {
      std::fprintf(stderr, "nubo-train: %s\n", status.message().c_str());
      return 1;
    }
    nubo::CodebookTree tree;
    nubo::train::TrainReport report;
    status = nubo::train::trainCodebook(pictures, options, &pool, progress, &tree, &report);
    bar.finish();
    if (status.ok()) status = nubo::writeCodebook(tree, out);
    if (status.ok()) status = nubo::loadCodebook(&codebook, out);
    if (!status.ok()) {
      std::fprintf(stderr, "nubo-train: %s\n", status.message().c_str());
      return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "trained %s: %zu pictures, %zu samples, %zu patches, %zu leaf codewords, %zu acting, "
        "training gain %.4f levels^2 per patch (per-pixel optimum %.4f), target shift %.3f levels, "
        "%.0f s\n",
        out.c_str(), report.pictures, report.samples, report.patches, report.leafCodewords,
        report.actingCodewords, report.fitGain, report.oracleGain, report.levelShift, seconds);
    std::fflush(stdout);
  }

  if (evalFiles.empty()) return 0;
  std::vector<DecodedImage> evalPictures;
  Status status = loadPictures(evalFiles, &evalPictures, &bar);
  if (!status.ok()) {
    std::fprintf(stderr, "nubo-train: %s\n", status.message().c_str());
    return 1;
  }
  std::vector<std::string> names;
  for (const std::string& f : evalFiles) names.push_back(fs::path(f).filename().string());
  return evaluate(evalPictures, names, evalQualities, codebook, &pool, perPicture);
}
