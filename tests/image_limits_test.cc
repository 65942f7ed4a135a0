// Tests of the size limits: a picture whose header promises more pixels than
// the padded limit, or more than the memory available, is refused with a clear
// message from the header alone, before anything is allocated for it.
#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;

void putBe16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = static_cast<uint8_t>(v >> 8);
  (*b)[at + 1] = static_cast<uint8_t>(v);
}
void putBe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void putLe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t crc32Of(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void appendChunk(Bytes* png, const char* type, const Bytes& body) {
  const size_t start = png->size();
  png->resize(start + 4);
  putBe32(png, start, static_cast<uint32_t>(body.size()));
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), body.begin(), body.end());
  const uint32_t crc = crc32Of(png->data() + start + 4, png->size() - start - 4);
  png->resize(png->size() + 4);
  putBe32(png, png->size() - 4, crc);
}

// A PNG whose header says width x height RGB pixels; its data holds far fewer.
Bytes craftedPng(uint32_t width, uint32_t height) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes ihdr(13, 0);
  putBe32(&ihdr, 0, width);
  putBe32(&ihdr, 4, height);
  ihdr[8] = 8;
  ihdr[9] = 2;
  appendChunk(&png, "IHDR", ihdr);
  appendChunk(&png, "IDAT", {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01});
  appendChunk(&png, "IEND", {});
  return png;
}

// A JPEG made of a baseline frame header and an empty scan.
Bytes craftedJpeg(uint32_t width, uint32_t height) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8,    0,    0,    0,    0,    3,    1,
                0x22, 0,    2,    0x11, 1,    3,    0x11, 1,    0xFF, 0xDA, 0x00, 0x0C, 3,
                1,    0x00, 2,    0x11, 3,    0x11, 0x00, 0x3F, 0x00, 0xFF, 0xD9};
  putBe16(&jpeg, 7, height);
  putBe16(&jpeg, 9, width);
  return jpeg;
}

// A 24-bit BMP header with as many pixel bytes as the size needs (all zero).
Bytes craftedBmp(uint32_t width, uint32_t height) {
  const size_t rowBytes = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  Bytes bmp(54 + rowBytes * height, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  putLe32(&bmp, 2, static_cast<uint32_t>(bmp.size()));
  putLe32(&bmp, 10, 54);
  putLe32(&bmp, 14, 40);
  putLe32(&bmp, 18, width);
  putLe32(&bmp, 22, height);
  bmp[26] = 1;
  bmp[28] = 24;
  return bmp;
}

void expectRefusedForMemory(const Status& s, const std::string& size) {
  EXPECT_EQ(s.code(), StatusCode::kTooLarge) << s.message();
  EXPECT_EQ(s.message().rfind("picture too large: " + size + " pixels need about ", 0), 0u)
      << s.message();
  EXPECT_NE(s.message().find(" MB of memory, only "), std::string::npos) << s.message();
}

TEST(ImageLimits, HeadersPromisingMoreThanTheMemoryAreRefused) {
  // 15000 x 12000 fits the padded limit (16384 x 16384) but needs gigabytes.
  CheckedImage checked;
  expectRefusedForMemory(checkImageFile(craftedPng(15000, 12000).data(),
                                        craftedPng(15000, 12000).size(), &checked, kGiB),
                         "15000 x 12000");
  const Bytes jpeg = craftedJpeg(15000, 12000);
  expectRefusedForMemory(checkImageFile(jpeg.data(), jpeg.size(), &checked, kGiB), "15000 x 12000");
  // The same headers pass when the memory is there (or unknown).
  EXPECT_TRUE(checkImageFile(jpeg.data(), jpeg.size(), &checked, 64 * kGiB).ok());
  EXPECT_EQ(checked.width, 15000);
  EXPECT_TRUE(checkImageFile(jpeg.data(), jpeg.size(), &checked, 0).ok());
  // A whole file: a BMP of 3000 x 2000 pixels (about 84 MB to decode).
  const Bytes bmp = craftedBmp(3000, 2000);
  expectRefusedForMemory(checkImageFile(bmp.data(), bmp.size(), &checked, 50 * kMiB),
                         "3000 x 2000");
  EXPECT_TRUE(checkImageFile(bmp.data(), bmp.size(), &checked, 200 * kMiB).ok());
}

TEST(ImageLimits, PaddedLimitComesFirstWhateverTheMemory) {
  CheckedImage checked;
  // 20000 x 10000 pads to 32768 x 16384: beyond 2^28 padded pixels.
  const Bytes png = craftedPng(20000, 10000);
  const Status s = checkImageFile(png.data(), png.size(), &checked, 1024 * kGiB);
  EXPECT_EQ(s.code(), StatusCode::kTooLarge);
  EXPECT_EQ(s.message(), "picture too large: 20000 x 10000 pixels");
  // Through the whole decode, with the system's own memory figure.
  DecodedImage decoded;
  EXPECT_EQ(decodeImage(png.data(), png.size(), &decoded).code(), StatusCode::kTooLarge);
  EXPECT_TRUE(decoded.rgb.empty());
}

TEST(ImageLimits, EstimatesCoverTheBuffersTheLoadAllocates) {
  // Decoding: at least the decoder's RGB picture and our copy of it.
  EXPECT_GE(decodeMemoryBytes(1000, 1000), uint64_t{6} * 1000 * 1000);
  // The window: two padded display buffers (1024 x 1024 x 3 each) and the
  // decoded picture they are filled from.
  EXPECT_GE(workingMemoryBytes(1000, 1000), uint64_t{2} * 1024 * 1024 * 3 + 3 * 1000 * 1000);
  // A picture one pixel past a power of two doubles the padded side.
  EXPECT_GT(workingMemoryBytes(1025, 1000) - workingMemoryBytes(1024, 1000),
            uint64_t{6} * 1024 * 1024);
}

TEST(ImageLimits, SmallPicturesNeverAskAndTheSystemFigureIsSane) {
  EXPECT_TRUE(checkPictureMemory(100, 100, 4 * kMiB).ok());
  EXPECT_TRUE(checkPictureMemory(100, 100, 4 * kMiB, 0).ok());
  EXPECT_FALSE(checkPictureMemory(100, 100, 4 * kMiB, 3 * kMiB).ok());
  const uint64_t available = availableMemoryBytes();
  EXPECT_GT(available, 16 * kMiB);  // Linux always reports MemAvailable
  EXPECT_LT(available, uint64_t{1} << 50);
  // Asking for more than there is fails through the system's own figure.
  expectRefusedForMemory(checkPictureMemory(16384, 16384, available + kGiB), "16384 x 16384");
}

}  // namespace
}  // namespace nubo
