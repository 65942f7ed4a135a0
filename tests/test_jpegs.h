// Small JPEG files made in memory with libjpeg, for the tests of the quality
// estimate and of the codebook choice.
#ifndef NUBO_TESTS_TEST_JPEGS_H_
#define NUBO_TESTS_TEST_JPEGS_H_

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "jpegutil/jpeg_util.h"

// libjpeg's header needs FILE and size_t first.
#include <jpeglib.h>

namespace nubo {
namespace testing {

// A deterministic picture with edges and texture, so every DCT band is used.
inline std::vector<uint8_t> testPicture(int width, int height, int channels) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        state = state * 1664525u + 1013904223u;  // LCG constants from Numerical Recipes
        const int edge = (x / 8 + y / 8) % 2 ? 180 : 40;
        const int noise = static_cast<int>(state >> 27);  // 0..31
        pixels[(static_cast<size_t>(y) * width + x) * channels + c] =
            static_cast<uint8_t>(edge + noise + 10 * c);
      }
    }
  }
  return pixels;
}

inline std::vector<uint8_t> compressColour(int quality) {
  static const std::vector<uint8_t> rgb = testPicture(40, 24, 3);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(compressJpeg(rgb.data(), 40, 24, quality, true, &jpeg).ok());
  return jpeg;
}

inline std::vector<uint8_t> compressGrey(int quality) {
  static const std::vector<uint8_t> grey = testPicture(40, 24, 1);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(compressJpegGrey(grey.data(), 40, 24, quality, &jpeg).ok());
  return jpeg;
}

// Compresses the test picture with libjpeg at separate luminance and colour
// qualities, as "cjpeg -quality LUMA,COLOUR" does.
inline std::vector<uint8_t> compressPerComponent(int lumaQuality, int colourQuality) {
  static const std::vector<uint8_t> rgb = testPicture(40, 24, 3);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 40;
  cinfo.image_height = 24;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, lumaQuality, TRUE);
  const std::array<uint16_t, 64> colour = libjpegQuantTable(colourQuality, true, true);
  unsigned int table[64];
  for (int k = 0; k < 64; ++k) table[k] = colour[k];
  jpeg_add_quant_table(&cinfo, 1, table, 100, TRUE);  // scale 100: the values as they are
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + cinfo.next_scanline * 40 * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  std::free(buffer);
  return jpeg;
}

}  // namespace testing
}  // namespace nubo

#endif  // NUBO_TESTS_TEST_JPEGS_H_
