// window-bench: what the desktop program does with one picture, without the
// window: decode, load into the display buffers on the pool, clean with
// removeRinging on the same pool, encode the saved BMP; then the command line's
// pass (cleanInBands from the decoded rows into a separate picture) for the
// speed per pixel. Prints each stage's time, the peak memory of the process up
// to the window's save in bytes per picture pixel, and whether the window's saved file equals what
// the command line's pass writes. Textures are not made (no GL here): they add what the GL keeps of
// two textures of paddedWidth x paddedHeight.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/picture_files.h"
#include "app/working_image.h"
#include "engine/banded.h"
#include "engine/codebook.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, codebookPath = "data/q16-25.cb";
  int threads = 0;
  bool compare = true;
  CLI::App app{"Times the desktop program's load and clean of one picture.", "window-bench"};
  app.add_option("input", input, "picture to load and clean")->required();
  app.add_option("--codebook", codebookPath, "codebook file")->capture_default_str();
  app.add_option("--threads", threads, "workers (0: one per core)")->capture_default_str();
  app.add_flag("!--no-compare", compare, "skip the command line's pass");
  CLI11_PARSE(app, argc, argv);

  nubo::Codebook codebook;
  nubo::Status s = nubo::loadCodebook(&codebook, codebookPath);
  if (!s.ok()) {
    std::fprintf(stderr, "window-bench: %s\n", s.message().c_str());
    return 1;
  }
  const long codebookKb = peakKb();
  nubo::ThreadPool pool(threads);

  auto start = Clock::now();
  nubo::DecodedImage decoded;
  s = nubo::decodeImageFile(input, &decoded);
  if (!s.ok()) {
    std::fprintf(stderr, "window-bench: %s: %s\n", input.c_str(), s.message().c_str());
    return 1;
  }
  const double decodeMs = msSince(start);
  const int w = decoded.width, h = decoded.height;
  const double pixels = static_cast<double>(w) * h;
  const long beforeLoadKb = peakKb();

  start = Clock::now();
  nubo::WorkingImage image;
  int texts = 0;
  s = nubo::loadDecoded(
      &decoded, &image, [&](const std::string&) { ++texts; }, &pool);
  if (!s.ok()) {
    std::fprintf(stderr, "window-bench: %s\n", s.message().c_str());
    return 1;
  }
  const double fillMs = msSince(start);

  nubo::CleanOptions options;
  start = Clock::now();
  removeRinging(&image, codebook, options, &pool, [&](const std::string&) { ++texts; });
  const double cleanMs = msSince(start);

  start = Clock::now();
  std::vector<uint8_t> saved;
  s = nubo::encodeOutput(image, nubo::ImageFormat::kBmp, &saved);
  const double encodeMs = msSince(start);
  if (!s.ok()) {
    std::fprintf(stderr, "window-bench: %s\n", s.message().c_str());
    return 1;
  }
  const long windowKb = peakKb();

  std::printf("picture %s: %d x %d (%.1f MP), padded %d x %d, %d workers\n", input.c_str(), w, h,
              pixels / 1e6, image.paddedWidth, image.paddedHeight, pool.size());
  std::printf("load: decode %.0f ms, display buffers %.0f ms, total %.0f ms\n", decodeMs, fillMs,
              decodeMs + fillMs);
  std::printf("window clean: %.0f ms, %.2f MP/s; BMP encode %.0f ms\n", cleanMs,
              pixels / 1e3 / cleanMs, encodeMs);
  std::printf(
      "peak memory after load, clean and encode: %ld MB (%.1f bytes per picture pixel;"
      " %ld MB before the load, codebook %ld MB)\n",
      windowKb / 1024, windowKb * 1024.0 / pixels, beforeLoadKb / 1024, codebookKb / 1024);
  if (!compare) return 0;

  // nubo-clean's pass, after the window's figures are taken: the file decoded
  // again, bottom-first R, G, B rows into top-first B, G, R rows (a BMP's).
  std::vector<uint8_t>().swap(saved);
  s = nubo::decodeImageFile(input, &decoded);
  if (!s.ok()) return 1;
  const std::vector<uint8_t>& rows = decoded.rgb;
  const size_t rowBytes = static_cast<size_t>(w) * 3;
  std::vector<uint8_t> out(rowBytes * h);
  const nubo::RgbRows in{rows.data() + (h - 1) * rowBytes, -static_cast<ptrdiff_t>(rowBytes),
                         false};
  const nubo::MutableRgbRows to{out.data(), static_cast<ptrdiff_t>(rowBytes), true};
  start = Clock::now();
  nubo::cleanInBands(in, to, w, h, codebook, options, &pool, {}, nullptr);
  const double lineMs = msSince(start);
  std::printf("command line pass: %.0f ms, %.2f MP/s; window/command line time %.2f\n", lineMs,
              pixels / 1e3 / lineMs, cleanMs / lineMs);
  bool same = true;
  for (int y = 0; y < h && same; ++y) {
    const uint8_t* a = image.outputDisplay.data() + image.displayOffset(h - 1 - y, 0);
    const uint8_t* b = out.data() + y * rowBytes;
    for (size_t k = 0; k < rowBytes; k += 3) {
      if (a[k] != b[k + 2] || a[k + 1] != b[k + 1] || a[k + 2] != b[k]) {
        same = false;
        break;
      }
    }
  }
  std::printf("window output %s the command line's\n", same ? "equals" : "DIFFERS FROM");
  return same ? 0 : 1;
}
