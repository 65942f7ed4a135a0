// Scoring a codebook on one picture with the engine's real pass.
#include "train/scorer.h"

#include <cmath>
#include <utility>
#include <vector>

#include "engine/banded.h"
#include "engine/colour.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"
#include "train/samples.h"
#include "train/train_common.h"

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

namespace {

// Luminance PSNR of RGB bytes (rows packed, bottom row first, as the
// picture's) against the picture.
double lumaPsnr(const DecodedImage& picture, const std::vector<uint8_t>& rgb) {
  double sum = 0.0;
  for (int r = 0; r < picture.height; ++r) {
    const uint8_t* a = picture.rgb.data() + static_cast<size_t>(r) * picture.width * 3;
    const uint8_t* b = rgb.data() + static_cast<size_t>(r) * picture.width * 3;
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
  DecodedImage decoded;
  Status status = compressAndLoad(picture, quality, &decoded);
  if (!status.ok()) return status;
  score->decodedPsnr = lumaPsnr(picture, decoded.rgb);
  CleanOptions options;
  options.threads = pool->size();
  options.convertAll = true;
  const int w = decoded.width;
  const int h = decoded.height;
  std::vector<uint8_t> cleaned(decoded.rgb.size());
  std::vector<float> cleanedY(static_cast<size_t>(w) * h);
  cleanInBands(bottomFirstRows(decoded.rgb.data(), w, h), bottomFirstRows(cleaned.data(), w, h), w,
               h, codebook, options, pool, nullptr, nullptr, 0, cleanedY.data());
  score->cleanedPsnr = lumaPsnr(picture, cleaned);
  // The cleaner's default mode from the same pass: pixelAfterPass of each
  // interior pixel (one pass serves both modes).
  std::vector<uint8_t> kept = std::move(cleaned);
  for (int i = 2; i <= h - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      // The rows are bottom first: picture row i is row h-1-i.
      const size_t offset = (static_cast<size_t>(h - 1 - i) * w + j) * 3;
      const uint8_t* rgb = decoded.rgb.data() + offset;
      float yiq[3];
      rgbToYiq(yiq, rgb[0], rgb[1], rgb[2]);
      pixelAfterPass(rgb, yiq[0], cleanedY[static_cast<size_t>(i) * w + j], false,
                     kept.data() + offset);
    }
  }
  score->keptPsnr = lumaPsnr(picture, kept);
  return Status::Ok();
}

}  // namespace train
}  // namespace nubo
