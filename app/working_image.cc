// Geometry and display buffers of a loaded picture, and the window's clean.
#include "app/working_image.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/banded.h"
#include "engine/thread_pool.h"

namespace nubo {

namespace {

// Display rows [r0, r1) of img from rgb (bottom row first): the picture bytes
// into inputDisplay, the border bytes into outputDisplay, white elsewhere in
// the rows' picture area; padding is left as it is (255).
void fillRows(const uint8_t* rgb, int r0, int r1, WorkingImage* img) {
  const int width = img->imageWidth, height = img->imageHeight;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int r = r0; r < r1; ++r) {
    const uint8_t* src = rgb + static_cast<size_t>(r) * rowBytes;
    const size_t at = img->displayOffset(r, 0);
    std::memcpy(img->inputDisplay.data() + at, src, rowBytes);
    uint8_t* out = img->outputDisplay.data() + at;
    if (r < 2 || r >= height - 2 || width <= 4) {
      std::memcpy(out, src, rowBytes);
      continue;
    }
    std::memcpy(out, src, 6);
    std::memcpy(out + rowBytes - 6, src + rowBytes - 6, 6);
  }
}

}  // namespace

int paddedSize(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

void releaseWorkingImage(WorkingImage* image) { *image = WorkingImage(); }

bool fillDisplayBuffers(const uint8_t* rgb, int width, int height, WorkingImage* image,
                        ThreadPool* pool) {
  releaseWorkingImage(image);
  if (width < 1 || height < 1) return false;
  WorkingImage img;
  img.imageWidth = width;
  img.imageHeight = height;
  img.paddedWidth = paddedSize(width);
  img.paddedHeight = paddedSize(height);
  const size_t bytes = static_cast<size_t>(img.paddedWidth) * img.paddedHeight * 3;
  try {
    img.inputDisplay.assign(bytes, 255);
    img.outputDisplay.assign(bytes, 255);
  } catch (const std::bad_alloc&) {
    return false;
  }
  constexpr int kRowsPerTask = 64;
  const int tasks = (height + kRowsPerTask - 1) / kRowsPerTask;
  auto task = [&](int t, int) {
    fillRows(rgb, t * kRowsPerTask, std::min(height, (t + 1) * kRowsPerTask), &img);
  };
  if (pool != nullptr && tasks > 1) {
    pool->run(tasks, task);
  } else {
    for (int t = 0; t < tasks; ++t) task(t, 0);
  }
  img.imageLoaded = 1;
  *image = std::move(img);
  return true;
}

void removeRinging(WorkingImage* image, const Codebook& codebook, const CleanOptions& options,
                   ThreadPool* pool, const StatusCallback& showStatus, float* cleanedLuma) {
  if (!image->imageLoaded) return;
  const int w = image->imageWidth;
  const int h = image->imageHeight;
  // Display row 0 is the bottom picture row: picture row y is display row h-1-y.
  const ptrdiff_t stride = static_cast<ptrdiff_t>(image->paddedWidth) * 3;
  const RgbRows in{image->inputDisplay.data() + image->displayOffset(h - 1, 0), -stride, false};
  const MutableRgbRows out{image->outputDisplay.data() + image->displayOffset(h - 1, 0), -stride,
                           false};
  cleanInBands(in, out, w, h, codebook, options, pool, showStatus, nullptr, 0, cleanedLuma);
}

void removeRinging(WorkingImage* image, const Codebook& codebook, const CleanOptions& options,
                   const StatusCallback& showStatus) {
  if (!image->imageLoaded) return;
  ThreadPool pool(options.threads);
  removeRinging(image, codebook, options, &pool, showStatus);
}

}  // namespace nubo
