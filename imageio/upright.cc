// EXIF orientation applied to pixels (see upright.h).
#include "imageio/upright.h"

#include <cstring>
#include <vector>

namespace nubo {

void turnUpright(int orientation, DecodedImage* image) {
  if (orientation < 2 || orientation > 8) return;
  const int w = image->width, h = image->height;
  const bool swapsSides = orientation >= 5;
  const int outW = swapsSides ? h : w, outH = swapsSides ? w : h;
  std::vector<uint8_t> out(image->rgb.size());
  // Work in top-first coordinates: stored pixel (x, y) lies at row h - 1 - y
  // of the bottom-first buffer. For each shown pixel (x, y) find the stored one.
  for (int y = 0; y < outH; ++y) {
    uint8_t* dst = out.data() + static_cast<size_t>(outH - 1 - y) * outW * 3;
    for (int x = 0; x < outW; ++x) {
      int sx, sy;
      switch (orientation) {
        case 2:  // mirrored left to right
          sx = w - 1 - x, sy = y;
          break;
        case 3:  // turned half round
          sx = w - 1 - x, sy = h - 1 - y;
          break;
        case 4:  // mirrored top to bottom
          sx = x, sy = h - 1 - y;
          break;
        case 5:  // mirrored along the main diagonal
          sx = y, sy = x;
          break;
        case 6:  // shown after a quarter turn clockwise
          sx = y, sy = h - 1 - x;
          break;
        case 7:  // mirrored along the other diagonal
          sx = w - 1 - y, sy = h - 1 - x;
          break;
        default:  // 8: shown after a quarter turn anticlockwise
          sx = w - 1 - y, sy = x;
          break;
      }
      const uint8_t* src = image->rgb.data() + (static_cast<size_t>(h - 1 - sy) * w + sx) * 3;
      std::memcpy(dst + static_cast<size_t>(x) * 3, src, 3);
    }
  }
  image->rgb.swap(out);
  image->width = outW;
  image->height = outH;
}

}  // namespace nubo
