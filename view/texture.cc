// Texture upload of the display buffers.
#include "view/texture.h"

#include <GL/gl.h>

#include <cstddef>

namespace nubo {

int textureReduction(int paddedWidth, int paddedHeight, int maxTextureSize) {
  if (maxTextureSize < 1) maxTextureSize = 1;
  int factor = 1;
  while (paddedWidth / factor > maxTextureSize || paddedHeight / factor > maxTextureSize) {
    factor *= 2;
  }
  return factor;
}

std::vector<uint8_t> reduceRgb(const uint8_t* rgb, int paddedWidth, int paddedHeight, int factor) {
  const int w = paddedWidth / factor;
  const int h = paddedHeight / factor;
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3);
  const unsigned area = static_cast<unsigned>(factor) * factor;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      unsigned sum[3] = {0, 0, 0};
      for (int dr = 0; dr < factor; ++dr) {
        const uint8_t* src =
            rgb + (static_cast<size_t>(r * factor + dr) * paddedWidth + c * factor) * 3;
        for (int dc = 0; dc < factor * 3; dc += 3) {
          sum[0] += src[dc];
          sum[1] += src[dc + 1];
          sum[2] += src[dc + 2];
        }
      }
      uint8_t* dst = out.data() + (static_cast<size_t>(r) * w + c) * 3;
      for (int k = 0; k < 3; ++k) dst[k] = static_cast<uint8_t>((sum[k] + area / 2) / area);
    }
  }
  return out;
}

int unpackAlignment(int width) { return (width * 3) % 4 == 0 ? 4 : 1; }

void uploadPictureTexture(unsigned texture, const uint8_t* rgb, int width, int height) {
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment(width));
  glTexImage2D(GL_TEXTURE_2D, 0, 3, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

unsigned createPictureTexture(const uint8_t* rgb, int width, int height) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  if (texture == 0) return 0;
  uploadPictureTexture(texture, rgb, width, height);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, white);
  return texture;
}

int maxTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  return size > 0 ? size : 1024;
}

}  // namespace nubo
