// The whole-picture luminance and the 8x8 edge-block map.
#include "engine/preprocess.h"

#include <algorithm>

#include "engine/colour.h"

namespace nubo {

void analyseImage(const RgbRows& rows, int width, int height, AnalysedImage* image) {
  const int w = width;
  const int h = height;
  image->imageWidth = w;
  image->imageHeight = h;
  image->inputYiq.assign(static_cast<size_t>(w) * h * 3, 0.0f);
  const int red = rows.bgr ? 2 : 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = rows.top + static_cast<ptrdiff_t>(y) * rows.stride;
    for (int x = 0; x < w; ++x) {
      const uint8_t* rgb = row + static_cast<size_t>(x) * 3;
      rgbToYiq(image->inputYiq.data() + (static_cast<size_t>(y) * w + x) * 3, rgb[red], rgb[1],
               rgb[2 - red]);
    }
  }
  detectEdgeBlocks(image);
}

void sobelMaskRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int width,
                  uint8_t* mask) {
  // 101^2: the truncated magnitude exceeds 100 exactly when gx^2+gy^2 >= 10201.
  constexpr int kMinSquare = (kEdgeThreshold + 1) * (kEdgeThreshold + 1);
  auto at = [&](int x) {
    const int l = x > 0 ? x - 1 : 0;
    const int r = x + 1 < width ? x + 1 : width - 1;
    const int gx = (up[r] + 2 * mid[r] + down[r]) - (up[l] + 2 * mid[l] + down[l]);
    const int gy = (down[l] + 2 * down[x] + down[r]) - (up[l] + 2 * up[x] + up[r]);
    mask[x] = gx * gx + gy * gy >= kMinSquare ? 1 : 0;
  };
  if (width < 3) {
    for (int x = 0; x < width; ++x) at(x);
    return;
  }
  at(0);
  // Inner columns without the clamps, so the compiler can vectorise them.
  for (int x = 1; x < width - 1; ++x) {
    const int gx =
        (up[x + 1] + 2 * mid[x + 1] + down[x + 1]) - (up[x - 1] + 2 * mid[x - 1] + down[x - 1]);
    const int gy = (down[x - 1] + 2 * down[x] + down[x + 1]) - (up[x - 1] + 2 * up[x] + up[x + 1]);
    mask[x] = gx * gx + gy * gy >= kMinSquare ? 1 : 0;
  }
  at(width - 1);
}

std::vector<uint8_t> sobelEdgeMask(const uint8_t* grey, int width, int height) {
  std::vector<uint8_t> mask(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* up = grey + static_cast<size_t>(std::max(y - 1, 0)) * width;
    const uint8_t* mid = grey + static_cast<size_t>(y) * width;
    const uint8_t* down = grey + static_cast<size_t>(std::min(y + 1, height - 1)) * width;
    sobelMaskRow(up, mid, down, width, mask.data() + static_cast<size_t>(y) * width);
  }
  return mask;
}

void detectEdgeBlocks(AnalysedImage* image) {
  const int w = image->imageWidth;
  const int h = image->imageHeight;
  std::vector<uint8_t> grey(static_cast<size_t>(w) * h);
  for (size_t p = 0; p < grey.size(); ++p) {
    // Y times 255, truncated: Y = 1 gives 255.
    grey[p] =
        static_cast<uint8_t>(static_cast<int>(static_cast<double>(image->inputYiq[p * 3]) * 255.0));
  }
  const std::vector<uint8_t> mask = sobelEdgeMask(grey.data(), w, h);
  image->edgeBlockMap.assign(static_cast<size_t>(w) * h, 0);
  for (int top = 0; top < h; top += kBlockSize) {
    const int bottom = std::min(top + kBlockSize, h);
    for (int left = 0; left < w; left += kBlockSize) {
      const int right = std::min(left + kBlockSize, w);
      bool edge = false;
      for (int y = top; y < bottom && !edge; ++y) {
        for (int x = left; x < right; ++x) {
          if (mask[static_cast<size_t>(y) * w + x]) {
            edge = true;
            break;
          }
        }
      }
      if (!edge) continue;
      for (int y = top; y < bottom; ++y) {
        std::fill_n(image->edgeBlockMap.begin() + static_cast<size_t>(y) * w + left, right - left,
                    1);
      }
    }
  }
}

}  // namespace nubo
