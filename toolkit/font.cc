// Glyph widths of GLUT's 12-point Helvetica bitmap font, so that text can be
// measured without a window (the toolkit test checks them against GLUT).
#include <string>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

// glutBitmapWidth(GLUT_BITMAP_HELVETICA_12, c) for c = 0..255, as freeglut's
// font data gives them.
constexpr unsigned char kHelvetica12Widths[256] = {
    0,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4, 4, 4,  4,  4,  4,   // 0x00
    4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4, 4, 4,  4,  4,  4,   // 0x10
    4,  3,  5,  7,  7,  11, 9,  3,  4,  4,  5, 7, 4,  8,  3,  4,   // 0x20
    7,  7,  7,  7,  7,  7,  7,  7,  7,  7,  3, 3, 7,  7,  7,  7,   // 0x30
    12, 9,  8,  9,  9,  8,  8,  9,  9,  3,  7, 8, 7,  11, 9,  10,  // 0x40
    8,  10, 8,  8,  7,  8,  9,  11, 9,  9,  9, 3, 4,  3,  6,  7,   // 0x50
    3,  7,  7,  7,  7,  7,  3,  7,  7,  3,  3, 6, 3,  9,  7,  7,   // 0x60
    7,  7,  4,  6,  3,  7,  7,  9,  6,  7,  6, 4, 3,  4,  7,  4,   // 0x70
    4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4, 4, 4,  4,  4,  4,   // 0x80
    4,  4,  4,  4,  4,  4,  4,  4,  4,  4,  4, 4, 4,  4,  4,  4,   // 0x90
    4,  3,  7,  7,  7,  7,  3,  6,  3,  11, 5, 7, 8,  5,  11, 4,   // 0xa0
    5,  7,  4,  4,  2,  7,  7,  3,  3,  4,  5, 7, 10, 10, 10, 7,   // 0xb0
    9,  9,  9,  9,  9,  9,  11, 9,  8,  8,  8, 8, 3,  3,  3,  3,   // 0xc0
    9,  9,  10, 10, 10, 10, 10, 7,  10, 8,  8, 8, 8,  9,  8,  7,   // 0xd0
    7,  7,  7,  7,  7,  7,  11, 7,  7,  7,  7, 7, 3,  3,  3,  3,   // 0xe0
    7,  7,  7,  7,  7,  7,  7,  7,  7,  7,  7, 7, 7,  7,  7,  7,   // 0xf0
};

}  // namespace

int glui_char_width(unsigned char c) { return kHelvetica12Widths[c]; }

int glui_text_width(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) width += kHelvetica12Widths[c];
  return width;
}
