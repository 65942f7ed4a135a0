// The working buffers of one loaded picture: the padded display buffers the
// window shows and saves, with the picture's geometry. The luminance and the
// edge blocks the pass needs live only inside the pass, a band at a time.
#ifndef NUBO_ENGINE_WORKING_IMAGE_H_
#define NUBO_ENGINE_WORKING_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nubo {

class ThreadPool;

struct WorkingImage {
  int imageLoaded = 0;  // 1 exactly while every buffer below describes one picture
  int imageWidth = 0;
  int imageHeight = 0;
  int paddedWidth = 0;   // smallest power of two >= imageWidth
  int paddedHeight = 0;  // smallest power of two >= imageHeight

  // paddedHeight rows of paddedWidth RGB pixels, row 0 = bottom row of the
  // picture (texture order); bytes outside the picture are 255.
  std::vector<uint8_t> inputDisplay;
  std::vector<uint8_t> outputDisplay;

  // Byte offset of display row r (0 = bottom), column c.
  size_t displayOffset(int r, int c) const {
    return (static_cast<size_t>(r) * paddedWidth + c) * 3;
  }
};

// Smallest power of two not below n (n >= 1); 512 gives 512, 513 gives 1024.
int paddedSize(int n);

// Releases every buffer and resets the geometry; imageLoaded becomes 0.
void releaseWorkingImage(WorkingImage* image);

// Fills the display buffers of image from rgb: width x height pixels of R, G, B
// bytes, rows without gaps, bottom row first. Sets the geometry and
// imageLoaded = 1. inputDisplay receives the picture; outputDisplay the same
// bytes on the two-pixel border and white inside; padding bytes are 255.
// Returns false (image left released) when the buffers cannot be allocated.
// With a pool the rows are shared out among its workers.
bool fillDisplayBuffers(const uint8_t* rgb, int width, int height, WorkingImage* image,
                        ThreadPool* pool = nullptr);

}  // namespace nubo

#endif  // NUBO_ENGINE_WORKING_IMAGE_H_
