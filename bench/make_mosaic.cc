// nubo-mosaic: a benchmark picture made of distinct photographs side by side,
// JPEG-compressed with libjpeg. A mosaic repeats no patch, unlike a tiled
// picture, so the codebook search meets the cache the way real photos make it.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "fileio/file_util.h"
#include "imageio/image_io.h"
#include "jpegutil/jpeg_util.h"

int main(int argc, char** argv) {
  std::string output;
  std::vector<std::string> inputs;
  int cols = 2, rows = 2, cellWidth = 640, cellHeight = 400, quality = 20;
  bool force = false;
  CLI::App app{"Makes a JPEG mosaic of distinct photos, each cropped about its centre.",
               "nubo-mosaic"};
  app.add_option("output", output, "JPEG file to write")->required();
  app.add_option("inputs", inputs, "photos, at least cols x rows, used in order")->required();
  app.add_option("--cols", cols, "cells across")->check(CLI::Range(1, 64))->capture_default_str();
  app.add_option("--rows", rows, "cells down")->check(CLI::Range(1, 64))->capture_default_str();
  app.add_option("--cell-width", cellWidth, "cell width")->check(CLI::Range(1, 8192));
  app.add_option("--cell-height", cellHeight, "cell height")->check(CLI::Range(1, 8192));
  app.add_option("-q,--quality", quality, "JPEG quality")->check(CLI::Range(1, 100));
  app.add_flag("-f,--force", force, "overwrite an existing output");
  CLI11_PARSE(app, argc, argv);
  if (static_cast<int>(inputs.size()) < cols * rows) {
    std::fprintf(stderr, "nubo-mosaic: need %d photos, got %zu\n", cols * rows, inputs.size());
    return 1;
  }
  const int w = cols * cellWidth, h = rows * cellHeight;
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);  // top row first
  for (int cell = 0; cell < cols * rows; ++cell) {
    nubo::DecodedImage photo;  // bottom row first
    const nubo::Status s = nubo::decodeImageFile(inputs[cell], &photo);
    if (!s.ok()) {
      std::fprintf(stderr, "nubo-mosaic: %s: %s\n", inputs[cell].c_str(), s.message().c_str());
      return 1;
    }
    const int x0 = (photo.width - cellWidth) / 2, y0 = (photo.height - cellHeight) / 2;
    for (int y = 0; y < cellHeight; ++y) {
      // Photos smaller than the cell are mirrored at their edges.
      auto fold = [](int v, int n) {
        v = v < 0 ? -v : v;
        v %= 2 * n;
        return v < n ? v : 2 * n - 1 - v;
      };
      const int sy = fold(y0 + y, photo.height);
      for (int x = 0; x < cellWidth; ++x) {
        const int sx = fold(x0 + x, photo.width);
        const uint8_t* src =
            photo.rgb.data() + (static_cast<size_t>(photo.height - 1 - sy) * photo.width + sx) * 3;
        const size_t at =
            (static_cast<size_t>(cell / cols * cellHeight + y) * w + cell % cols * cellWidth + x) *
            3;
        std::copy(src, src + 3, rgb.data() + at);
      }
    }
  }
  std::vector<uint8_t> jpeg;
  nubo::Status s = nubo::compressJpeg(rgb.data(), w, h, quality, /*topRowFirst=*/true, &jpeg);
  if (s.ok()) s = nubo::writeFileAtomically(output, jpeg.data(), jpeg.size(), force);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-mosaic: %s: %s\n", output.c_str(), s.message().c_str());
    return 1;
  }
  return 0;
}
