// Scoring a codebook on one picture with the engine's real pass.
#include "train/scorer.h"

#include <cmath>
#include <vector>

#include "engine/colour.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"
#include "engine/working_image.h"
#include "train/samples.h"
#include "train/train_common.h"

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

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
                    ThreadPool* pool, PictureScore* score) {
  WorkingImage image;
  Status status = compressAndLoad(picture, quality, &image);
  if (!status.ok()) return status;
  score->decodedPsnr = lumaPsnr(picture, image, image.inputDisplay);
  CleanOptions options;
  options.threads = pool->size();
  options.convertAll = true;
  const int w = image.imageWidth;
  const int h = image.imageHeight;
  std::vector<float> cleanedY(static_cast<size_t>(w) * h);
  removeRinging(&image, codebook, options, pool, nullptr, cleanedY.data());
  score->cleanedPsnr = lumaPsnr(picture, image, image.outputDisplay);
  // The cleaner's default mode from the same pass: pixelAfterPass of each
  // interior pixel (one pass serves both modes).
  std::vector<uint8_t> kept = image.outputDisplay;
  for (int i = 2; i <= h - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      const size_t offset = image.displayOffset(h - 1 - i, j);
      const uint8_t* rgb = image.inputDisplay.data() + offset;
      float yiq[3];
      rgbToYiq(yiq, rgb[0], rgb[1], rgb[2]);
      pixelAfterPass(rgb, yiq[0], cleanedY[static_cast<size_t>(i) * w + j], false,
                     kept.data() + offset);
    }
  }
  score->keptPsnr = lumaPsnr(picture, image, kept);
  return Status::Ok();
}

}  // namespace train
}  // namespace nubo
