// EXIF orientation applied to pixels (see upright.h).
#include "imageio/upright.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace nubo {

void turnUpright(int orientation, DecodedImage* image) {
  if (orientation < 2 || orientation > 8) return;
  const int64_t w = image->width, h = image->height;
  const bool swapsSides = orientation >= 5;
  const int64_t outW = swapsSides ? h : w, outH = swapsSides ? w : h;
  // The stored pixel shown at (x, y), both counted from the top left, is
  // (sx0 + sxx x + sxy y, sy0 + syx x + syy y).
  int64_t sx0 = 0, sxx = 1, sxy = 0, sy0 = 0, syx = 0, syy = 1;
  switch (orientation) {
    case 2:  // mirrored left to right
      sx0 = w - 1, sxx = -1;
      break;
    case 3:  // turned half round
      sx0 = w - 1, sxx = -1, sy0 = h - 1, syy = -1;
      break;
    case 4:  // mirrored top to bottom
      sy0 = h - 1, syy = -1;
      break;
    case 5:  // mirrored along the main diagonal
      sxx = 0, sxy = 1, syx = 1, syy = 0;
      break;
    case 6:  // shown after a quarter turn clockwise
      sxx = 0, sxy = 1, sy0 = h - 1, syx = -1, syy = 0;
      break;
    case 7:  // mirrored along the other diagonal
      sx0 = w - 1, sxx = 0, sxy = -1, sy0 = h - 1, syx = -1, syy = 0;
      break;
    default:  // 8: shown after a quarter turn anticlockwise
      sx0 = w - 1, sxx = 0, sxy = -1, syx = 1, syy = 0;
      break;
  }
  // Stored row sy lies at row h - 1 - sy of the bottom-first buffer: the
  // source pixel index is base + x stepX + y stepY.
  const int64_t base = (h - 1 - sy0) * w + sx0;
  const int64_t stepX = sxx - syx * w, stepY = sxy - syy * w;
  std::vector<uint8_t> out(image->rgb.size());
  const uint8_t* src = image->rgb.data();
  // In tiles, so that the column-wise reads of a quarter turn stay in cache.
  constexpr int64_t kTile = 64;
  for (int64_t y0 = 0; y0 < outH; y0 += kTile) {
    const int64_t y1 = std::min(outH, y0 + kTile);
    for (int64_t x0 = 0; x0 < outW; x0 += kTile) {
      const int64_t x1 = std::min(outW, x0 + kTile);
      for (int64_t y = y0; y < y1; ++y) {
        uint8_t* dst = out.data() + ((outH - 1 - y) * outW + x0) * 3;
        int64_t from = base + x0 * stepX + y * stepY;
        for (int64_t x = x0; x < x1; ++x, dst += 3, from += stepX) {
          std::memcpy(dst, src + from * 3, 3);
        }
      }
    }
  }
  image->rgb.swap(out);
  image->width = static_cast<int>(outW);
  image->height = static_cast<int>(outH);
}

}  // namespace nubo
