// The BMP and PNG writers on fuzzed sizes and pixels: what is written reads
// back equal, and the BMP written from the display buffers is byte for byte
// the BMP written from the plain pixels.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/rgb_rows.h"
#include "fuzz/fuzz_check.h"
#include "imageio/image_io.h"

namespace {
// Sides up to this (and pictures up to kMaxPixels) cover every row padding and
// palette-sized picture while keeping each run short.
constexpr int kMaxSide = 1024;
constexpr size_t kMaxPixels = size_t{1} << 16;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo;
  if (size < 4) return 0;
  const int width = 1 + ((data[0] | (data[1] << 8)) % kMaxSide);
  const int height = 1 + ((data[2] | (data[3] << 8)) % kMaxSide);
  const size_t count = static_cast<size_t>(width) * height;
  if (count > kMaxPixels) return 0;
  // The pixels: the rest of the input, repeated to fill the picture.
  std::vector<uint8_t> pixels(count * 3, 0);
  if (size > 4) {
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[4 + i % (size - 4)];
  }

  std::vector<uint8_t> bmp;
  for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPng}) {
    std::vector<uint8_t> file;
    FUZZ_CHECK(encodePixels(pixels.data(), width, height, format, &file).ok(), "encodes");
    DecodedImage back;
    FUZZ_CHECK(decodeImage(file.data(), file.size(), &back).ok(), "what we wrote decodes");
    FUZZ_CHECK(back.width == width && back.height == height, "same size");
    FUZZ_CHECK(back.rgb == pixels, "same pixels");
    FUZZ_CHECK(back.metadata.empty(), "no metadata made up");
    if (format == ImageFormat::kBmp) bmp = file;
  }
  FUZZ_CHECK(bmp.size() == kBmpHeaderBytes + bmpRowBytes(width) * height, "BMP size");

  std::vector<uint8_t> own;
  FUZZ_CHECK(encodeOutput(bottomFirstRows(pixels.data(), width, height), width, height,
                          ImageFormat::kBmp, &own)
                 .ok(),
             "the rows encode");
  FUZZ_CHECK(own == bmp, "the rows' BMP is the pixels' BMP");
  return 0;
}
