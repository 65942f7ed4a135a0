// Rows of a picture in memory, as the pass and the whole-picture analysis read
// and write them.
#ifndef NUBO_ENGINE_RGB_ROWS_H_
#define NUBO_ENGINE_RGB_ROWS_H_

#include <cstddef>
#include <cstdint>

namespace nubo {

// Rows of a picture in memory, 3 bytes a pixel: picture row y (0 = top) starts
// at top + y * stride (stride may be negative for rows stored bottom first).
// bgr: the bytes of a pixel are B, G, R instead of R, G, B.
struct RgbRows {
  const uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
  bool bgr = false;
};
struct MutableRgbRows {
  uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
  bool bgr = false;
  operator RgbRows() const { return RgbRows{top, stride, bgr}; }  // NOLINT: read access
};

// The rows of width x height pixels packed without gaps, bottom row first.
inline RgbRows bottomFirstRows(const uint8_t* rgb, int width, int height) {
  const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * 3;
  return RgbRows{rgb + (height - 1) * stride, -stride, false};
}
inline MutableRgbRows bottomFirstRows(uint8_t* rgb, int width, int height) {
  const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * 3;
  return MutableRgbRows{rgb + (height - 1) * stride, -stride, false};
}

}  // namespace nubo

#endif  // NUBO_ENGINE_RGB_ROWS_H_
