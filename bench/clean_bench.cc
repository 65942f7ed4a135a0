// clean-bench: megapixels per second of the ringing-removal pass on one
// picture, for one thread and for every core (best of several runs).
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/picture_files.h"
#include "app/working_image.h"
#include "engine/codebook.h"
#include "engine/preprocess.h"
#include "engine/ringing.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"
#include "tools/cli_util.h"

namespace {

double bestSeconds(const nubo::WorkingImage& loaded, const nubo::Codebook& codebook, int threads,
                   int repeats) {
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    nubo::WorkingImage image = loaded;
    nubo::CleanOptions options;
    options.threads = threads;
    const auto start = std::chrono::steady_clock::now();
    nubo::removeRinging(&image, codebook, options, {});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, codebookPath = "data/data";
  int repeats = 3;
  CLI::App app{"Times the ringing-removal pass.", "clean-bench"};
  app.add_option("input", input, "picture to clean")->required();
  app.add_option("--codebook", codebookPath, "codebook file")->capture_default_str();
  app.add_option("--repeats", repeats, "runs per setting (best is kept)")->capture_default_str();
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  nubo::Codebook codebook;
  nubo::Status s = nubo::loadCodebook(&codebook, codebookPath);
  if (!s.ok()) {
    std::fprintf(stderr, "clean-bench: %s\n", s.message().c_str());
    return 1;
  }
  nubo::WorkingImage image;
  s = nubo::loadInput(input, &image, {});
  if (!s.ok()) {
    std::fprintf(stderr, "clean-bench: %s: %s\n", input.c_str(), s.message().c_str());
    return 1;
  }
  const double megapixels = image.imageWidth * static_cast<double>(image.imageHeight) / 1e6;
  // The whole-picture analysis, for the share of edge blocks only (the display
  // rows are bottom first).
  nubo::AnalysedImage analysis;
  const int h = image.imageHeight;
  nubo::analyseImage(nubo::RgbRows{image.inputDisplay.data() + image.displayOffset(h - 1, 0),
                                   -static_cast<ptrdiff_t>(image.paddedWidth) * 3, false},
                     image.imageWidth, h, &analysis);
  long edge = 0;
  for (int32_t e : analysis.edgeBlockMap) edge += e;
  std::printf(
      "picture %s: %dx%d (%.2f MP), %.1f%% in edge blocks; codebook %s: depth %d, %d leaves, %zu "
      "codewords\n",
      input.c_str(), image.imageWidth, image.imageHeight, megapixels,
      100.0 * edge / analysis.edgeBlockMap.size(), codebookPath.c_str(), codebook.depth(),
      codebook.leafCount(), codebook.codewords.size());
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int threads : {1, cores}) {
    const double t = bestSeconds(image, codebook, threads, repeats);
    std::printf("clean pass, %d thread%s: %.3f s, %.2f MP/s\n", threads, threads == 1 ? "" : "s", t,
                megapixels / t);
  }
  return 0;
}
