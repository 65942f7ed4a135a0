// The luminance and the map of 8x8 edge blocks of a whole picture, for the
// trainer and for tests. The pass (cleanInBands) computes the same band by band
// and never holds them for the whole picture.
#ifndef NUBO_ENGINE_PREPROCESS_H_
#define NUBO_ENGINE_PREPROCESS_H_

#include <cstdint>
#include <vector>

#include "engine/rgb_rows.h"

namespace nubo {

// Sobel edge strength threshold: a pixel is an edge pixel when its gradient
// magnitude, truncated to an integer, exceeds 100, i.e. gx^2 + gy^2 >= 101^2.
constexpr int kEdgeThreshold = 100;
constexpr int kBlockSize = 8;  // the JPEG block grid, anchored at the top-left pixel

// The whole-picture analysis of a picture.
struct AnalysedImage {
  int imageWidth = 0;
  int imageHeight = 0;
  // imageHeight rows of imageWidth (Y, I, Q) floats, row 0 = top row.
  std::vector<float> inputYiq;
  // imageHeight x imageWidth, 1 at every pixel of an 8x8 edge block, else 0.
  std::vector<int32_t> edgeBlockMap;
};

// Sets the geometry, inputYiq and edgeBlockMap of image from the width x height
// picture in rows.
void analyseImage(const RgbRows& rows, int width, int height, AnalysedImage* image);

// Builds edgeBlockMap from the Y of inputYiq (called by analyseImage).
void detectEdgeBlocks(AnalysedImage* image);

// One row of the edge mask: mask[x] = 1 where the Sobel magnitude over the grey
// rows up, mid and down (border columns replicated) exceeds 100, else 0.
void sobelMaskRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width,
                  uint8_t* mask);

// Edge mask of a width x height grey image (row 0 = top): 1 where the Sobel
// magnitude with border pixels replicated, truncated, exceeds 100.
std::vector<uint8_t> sobelEdgeMask(const uint8_t* grey, int width, int height);

}  // namespace nubo

#endif  // NUBO_ENGINE_PREPROCESS_H_
