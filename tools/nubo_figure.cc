// nubo-figure: puts the same magnified crop of several pictures side by side
// in one PNG (for before/after illustrations).
#include <cstdio>

#include "app/picture_files.h"
#include "app/working_image.h"
#include "imageio/image_io.h"
#include "tools/cli_util.h"

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  std::string output;
  std::vector<int> crop;
  int zoom = 3;
  int gap = 6;
  CLI::App app{"Writes magnified crops of pictures side by side as one PNG.", "nubo-figure"};
  app.add_option("pictures", inputs, "pictures of equal size, left to right")->required();
  app.add_option("-o,--out", output, "PNG file to write")->required();
  app.add_option("--crop", crop, "X Y WIDTH HEIGHT of the crop, from the top-left")
      ->expected(4)
      ->required();
  app.add_option("--zoom", zoom, "magnification")->check(CLI::Range(1, 16))->capture_default_str();
  app.add_option("--gap", gap, "white pixels between crops")->check(CLI::Range(0, 100));
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  const int cx = crop[0], cy = crop[1], cw = crop[2], ch = crop[3];
  const int n = static_cast<int>(inputs.size());
  const int width = n * cw * zoom + (n - 1) * gap, height = ch * zoom;
  if (cw < 1 || ch < 1 || cx < 0 || cy < 0 || static_cast<int64_t>(width) * height > (1 << 26)) {
    std::fprintf(stderr, "nubo-figure: bad crop\n");
    return 2;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 255);  // bottom row first
  for (int k = 0; k < n; ++k) {
    nubo::DecodedImage pic;
    const nubo::Status s = nubo::decodeImageFile(inputs[k], &pic);
    if (!s.ok()) {
      std::fprintf(stderr, "nubo-figure: %s: %s\n", inputs[k].c_str(), s.message().c_str());
      return 1;
    }
    if (cx + cw > pic.width || cy + ch > pic.height) {
      std::fprintf(stderr, "nubo-figure: %s: the crop lies outside the picture\n",
                   inputs[k].c_str());
      return 1;
    }
    const int left = k * (cw * zoom + gap);
    for (int y = 0; y < height; ++y) {
      const int srcRow = pic.height - 1 - (cy + y / zoom);  // decoded rows are bottom first
      for (int x = 0; x < cw * zoom; ++x) {
        const uint8_t* src =
            pic.rgb.data() + (static_cast<size_t>(srcRow) * pic.width + cx + x / zoom) * 3;
        uint8_t* dst = rgb.data() + (static_cast<size_t>(height - 1 - y) * width + left + x) * 3;
        std::copy(src, src + 3, dst);
      }
    }
  }
  nubo::WorkingImage figure;
  if (!nubo::fillDisplayBuffers(rgb.data(), width, height, &figure)) {
    std::fprintf(stderr, "nubo-figure: out of memory\n");
    return 1;
  }
  figure.outputDisplay = figure.inputDisplay;
  const nubo::Status s = nubo::savePicture(figure, output, nubo::ImageFormat::kPng, true);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-figure: %s: %s\n", output.c_str(), s.message().c_str());
    return 1;
  }
  return 0;
}
