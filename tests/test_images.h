// Small pictures made inside the tests.
#ifndef NUBO_TESTS_TEST_IMAGES_H_
#define NUBO_TESTS_TEST_IMAGES_H_

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/working_image.h"
#include "engine/codebook.h"
#include "engine/preprocess.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"

namespace nubo::testing {

using PixelFn = std::function<std::array<uint8_t, 3>(int y, int x)>;  // y = 0 at the top

// A picture loaded as the window holds it (display buffers) and analysed as
// the trainer does (whole-picture luminance and edge blocks).
struct TestImage : WorkingImage, AnalysedImage {
  using WorkingImage::imageHeight;
  using WorkingImage::imageWidth;
};

// A loaded and analysed picture whose pixel (y, x) is pixel(y, x).
inline TestImage makeImage(int width, int height, const PixelFn& pixel) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto p = pixel(y, x);
      const size_t at = (static_cast<size_t>(height - 1 - y) * width + x) * 3;
      for (int k = 0; k < 3; ++k) rgb[at + k] = p[k];
    }
  }
  TestImage img;
  fillDisplayBuffers(rgb.data(), width, height, &img);
  analyseImage(bottomFirstRows(rgb.data(), width, height), width, height, &img);
  return img;
}

// The window's clean of img (on a pool of options.threads); returns the Y of
// every pixel after the pass, top row first.
inline std::vector<float> cleanedY(WorkingImage* img, const Codebook& codebook,
                                   const CleanOptions& options,
                                   const StatusCallback& showStatus = {}) {
  std::vector<float> y(static_cast<size_t>(img->imageWidth) * img->imageHeight);
  ThreadPool pool(options.threads);
  removeRinging(img, codebook, options, &pool, showStatus, y.data());
  return y;
}

}  // namespace nubo::testing

#endif  // NUBO_TESTS_TEST_IMAGES_H_
