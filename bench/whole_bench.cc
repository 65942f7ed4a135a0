// whole-bench: per-stage milliseconds of whole nubo-clean runs (decode, the
// three band stages, encode, write) for one picture, one thread and every core,
// best of several runs by total time.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/output_name.h"
#include "engine/codebook.h"
#include "engine/search.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"
#include "tools/clean_run.h"

int main(int argc, char** argv) {
  std::string input, codebookPath = "data/data", output = "/tmp/whole-bench-out.bmp";
  int repeats = 3;
  std::string path = "fastest";
  CLI::App app{"Times the stages of a whole cleaning run.", "whole-bench"};
  app.add_option("input", input, "picture to clean")->required();
  app.add_option("--codebook", codebookPath, "codebook file")->capture_default_str();
  app.add_option("--out", output, "output file (.bmp or .png)")->capture_default_str();
  app.add_option("--repeats", repeats, "runs per setting (best is kept)")->capture_default_str();
  app.add_option("--search", path, "how the search finds the nearest codeword (same results)")
      ->check(CLI::IsMember({"fastest", "portable", "plain"}))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  nubo::setSearchPath(path == "plain"      ? nubo::SearchPath::kPlain
                      : path == "portable" ? nubo::SearchPath::kPortable
                                           : nubo::SearchPath::kFastest);
  nubo::Codebook codebook;
  nubo::Status s = nubo::loadCodebook(&codebook, codebookPath);
  if (!s.ok()) {
    std::fprintf(stderr, "whole-bench: %s\n", s.message().c_str());
    return 1;
  }
  const nubo::ImageFormat format =
      nubo::lowerExtension(output) == "png" ? nubo::ImageFormat::kPng : nubo::ImageFormat::kBmp;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf(
      "| threads | MP | decode | preprocess | pass | back | encode | write | total ms | MP/s |\n");
  for (int threads : {1, cores}) {
    nubo::ThreadPool pool(threads);
    nubo::RunTimes best;
    double bestTotal = 1e30, mp = 0;
    for (int r = 0; r < repeats; ++r) {
      nubo::RunTimes t;
      const auto start = std::chrono::steady_clock::now();
      nubo::DecodedImage picture;
      s = nubo::decodeImageFile(input, &picture);
      if (!s.ok()) {
        std::fprintf(stderr, "whole-bench: %s: %s\n", input.c_str(), s.message().c_str());
        return 1;
      }
      t.decodeMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      mp = picture.width * static_cast<double>(picture.height) / 1e6;
      s = nubo::cleanToFile(&picture, codebook, nubo::CleanOptions(), &pool, output, format, true,
                            {}, &t);
      const double total =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      if (!s.ok()) {
        std::fprintf(stderr, "whole-bench: %s\n", s.message().c_str());
        return 1;
      }
      if (total < bestTotal) bestTotal = total, best = t;
    }
    std::printf("| %d | %.1f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.2f |\n", threads,
                mp, best.decodeMs, best.preprocessMs, best.passMs, best.backMs, best.encodeMs,
                best.writeMs, bestTotal, mp / (bestTotal / 1000));
  }
  return 0;
}
