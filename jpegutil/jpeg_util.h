// JPEG helpers built directly on libjpeg: compressing pictures the way most
// libjpeg-based programs do, reading quantisation tables back and estimating the
// quality a file was saved at.
#ifndef NUBO_JPEGUTIL_JPEG_UTIL_H_
#define NUBO_JPEGUTIL_JPEG_UTIL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/status.h"

namespace nubo {

// ---------------------------------------------------------------------------
// Compression and decoding
// ---------------------------------------------------------------------------

// Compresses width x height pixels of 8-bit R, G, B (3 bytes per pixel, rows
// packed without padding) to a baseline JFIF file in *out, with libjpeg's
// defaults (jpeg_set_defaults), jpeg_set_quality(quality, force_baseline TRUE),
// YCbCr 4:2:0 and the integer (islow) DCT. topRowFirst says whether the first
// row in rgb is the top of the picture (true) or the bottom (false, the order
// decodeImage gives). quality is 1..100. Same settings as
// "cjpeg -quality q -baseline"; plain cjpeg differs below quality 24, where it
// keeps quantiser values above 255 instead of clamping them.
Status compressJpeg(const uint8_t* rgb, int width, int height, int quality, bool topRowFirst,
                    std::vector<uint8_t>* out);

// Compresses width x height 8-bit grey pixels (one byte per pixel, top row
// first) to a one-component JFIF file in *out; otherwise as compressJpeg.
Status compressJpegGrey(const uint8_t* grey, int width, int height, int quality,
                        std::vector<uint8_t>* out);

// A one-byte-per-pixel picture, top row first.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// Decodes a JPEG held in memory to its luminance (the Y component for colour
// files, the only component for grey ones) with the integer (islow) IDCT.
Status decodeJpegGrey(const uint8_t* data, size_t size, GreyImage* out);

// ---------------------------------------------------------------------------
// Quality estimate
// ---------------------------------------------------------------------------

// JPEG allows at most four quantisation tables.
constexpr int kMaxQuantTables = 4;

// The quantisation tables of a JPEG file as libjpeg reads them.
struct JpegQuantTables {
  int componentCount = 0;                       // 1 for grey, 3 for YCbCr, ...
  std::array<bool, kMaxQuantTables> present{};  // which table slots the file defines
  // Values in natural (row-major) order, not zigzag.
  std::array<std::array<uint16_t, 64>, kMaxQuantTables> table{};
  // Table slot used by each of the first four components (-1 when absent).
  std::array<int, kMaxQuantTables> componentTable{-1, -1, -1, -1};
};

// Reads the frame header and quantisation tables of a JPEG held in memory.
// Fails with kInvalidData for anything that is not a readable JPEG.
Status readJpegQuantTables(const uint8_t* data, size_t size, JpegQuantTables* out);

// libjpeg's table for quality q (1..100): the standard luminance (chroma false)
// or chrominance table scaled as jpeg_set_quality does, natural order. With
// forceBaseline values are clamped to 255, otherwise to 32767.
std::array<uint16_t, 64> libjpegQuantTable(int quality, bool chroma, bool forceBaseline);

// The quality 1..100 whose libjpeg luminance table matches the first
// component's table best (least summed squared difference, tables with and
// without the baseline clamp both considered). The colour tables play no part:
// cleaning changes luminance only, so a file with much coarser colour tables
// (cjpeg -quality 90,20) is treated by its luminance quality. libjpeg's
// standard luminance tables differ at every quality 1..100, so files it wrote
// give their quality back exactly; other encoders' tables can match several
// qualities equally well, and then the highest of them is returned.
// *exact (optional) tells whether the match was exact. Returns -1 when the
// tables hold no table for the first component.
int estimateQualityFromTables(const JpegQuantTables& tables, bool* exact = nullptr);

// readJpegQuantTables + estimateQualityFromTables; -1 for non-JPEG or damaged data.
int estimateJpegQuality(const uint8_t* data, size_t size);

}  // namespace nubo

#endif  // NUBO_JPEGUTIL_JPEG_UTIL_H_
