// nubo-compress: JPEG-compresses a picture at a given quality with libjpeg,
// the way the evaluation and the trainer make their test pairs. --tile repeats
// the picture in a grid, to make large inputs for benchmarks.
#include <cstdio>

#include "fileio/file_util.h"
#include "imageio/image_io.h"
#include "jpegutil/jpeg_util.h"
#include "tools/cli_util.h"

int main(int argc, char** argv) {
  std::string input, output;
  int quality = 20;
  int tile = 1;
  bool force = false;
  CLI::App app{"JPEG-compresses a picture with libjpeg (4:2:0, integer DCT).", "nubo-compress"};
  app.add_option("input", input, "picture to compress (PNG, BMP, JPEG, TIFF)")->required();
  app.add_option("output", output, "JPEG file to write")->required();
  app.add_option("-q,--quality", quality, "JPEG quality 1..100")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  app.add_option("--tile", tile, "repeat the picture tile x tile times")
      ->check(CLI::Range(1, 16))
      ->capture_default_str();
  app.add_flag("-f,--force", force, "overwrite an existing output");
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  nubo::DecodedImage picture;
  nubo::Status s = nubo::decodeImageFile(input, &picture);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-compress: %s: %s\n", input.c_str(), s.message().c_str());
    return 1;
  }
  const int w = picture.width * tile, h = picture.height * tile;
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* src =
          picture.rgb.data() +
          (static_cast<size_t>(y % picture.height) * picture.width + x % picture.width) * 3;
      std::copy(src, src + 3, rgb.data() + (static_cast<size_t>(y) * w + x) * 3);
    }
  }
  std::vector<uint8_t> jpeg;
  s = nubo::compressJpeg(rgb.data(), w, h, quality, /*topRowFirst=*/false, &jpeg);
  if (s.ok()) s = nubo::writeFileAtomically(output, jpeg.data(), jpeg.size(), force);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-compress: %s: %s\n", output.c_str(), s.message().c_str());
    return 1;
  }
  return 0;
}
