// The working buffers of one loaded picture in the window: the padded display
// buffers the window shows as textures and saves, with the picture's geometry,
// and the window's clean of them. The luminance and the edge blocks the pass
// needs live only inside the pass (engine/banded.h), a band at a time.
#ifndef NUBO_APP_WORKING_IMAGE_H_
#define NUBO_APP_WORKING_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codebook.h"
#include "engine/progress.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"

namespace nubo {

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

// The window's clean: cleanInBands from inputDisplay into the picture area of
// outputDisplay, on pool (so the same bytes as nubo-clean for the same options).
// Reports "Removing ringing......", "Removing ringing...... N0%" per tenth of the
// rows and "Ready", in that order, on the calling thread. Does nothing when
// image->imageLoaded is 0. With an empty codebook every prediction is missing
// and each edge pixel keeps its input Y. cleanedLuma (may be null): see
// cleanInBands. Throws std::bad_alloc when a band's rows cannot be allocated.
void removeRinging(WorkingImage* image, const Codebook& codebook, const CleanOptions& options,
                   ThreadPool* pool, const StatusCallback& showStatus,
                   float* cleanedLuma = nullptr);
// The same on a pool of options.threads workers made for this call.
void removeRinging(WorkingImage* image, const Codebook& codebook, const CleanOptions& options,
                   const StatusCallback& showStatus);

}  // namespace nubo

#endif  // NUBO_APP_WORKING_IMAGE_H_
