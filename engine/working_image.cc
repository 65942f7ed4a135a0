// Geometry and display buffers of a loaded picture.
#include "engine/working_image.h"

#include <new>

namespace nubo {

int paddedSize(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

void releaseWorkingImage(WorkingImage* image) { *image = WorkingImage(); }

bool fillDisplayBuffers(const uint8_t* rgb, int width, int height, WorkingImage* image) {
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
  for (int r = 0; r < height; ++r) {
    const bool borderRow = r < 2 || r >= height - 2;
    for (int c = 0; c < width; ++c) {
      const uint8_t* src = rgb + (static_cast<size_t>(r) * width + c) * 3;
      const size_t at = img.displayOffset(r, c);
      for (int k = 0; k < 3; ++k) img.inputDisplay[at + k] = src[k];
      if (borderRow || c < 2 || c >= width - 2) {
        for (int k = 0; k < 3; ++k) img.outputDisplay[at + k] = src[k];
      }
    }
  }
  img.imageLoaded = 1;
  *image = std::move(img);
  return true;
}

}  // namespace nubo
