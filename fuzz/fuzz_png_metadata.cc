// What a picture carries into PNG output: a fuzzed file that decodes is written
// as PNG with the metadata read from it, and that PNG must decode back to the
// same pixels and the same metadata, without a warning. The checksums of a
// fuzzed PNG's chunks are made right first, so that mutated chunks reach the
// decoder instead of stopping at the checksum test.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"

namespace {
// Larger pictures are legal but slow to decode and encode (see fuzz_load_picture).
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 18;

uint32_t crc32Of(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void fixPngChecksums(std::vector<uint8_t>* png) {
  if (png->size() < 8 || std::memcmp(png->data(), "\x89PNG\r\n\x1a\n", 8) != 0) return;
  size_t pos = 8;
  while (png->size() - pos >= 12) {
    const uint8_t* p = png->data() + pos;
    const size_t length = (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | p[3];
    if (length > png->size() - pos - 12) return;
    const uint32_t crc = crc32Of(p + 4, length + 4);
    for (int i = 0; i < 4; ++i) {
      (*png)[pos + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
    pos += 12 + length;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* fuzzed, size_t fuzzedSize) {
  using namespace nubo;
  std::vector<uint8_t> input(fuzzed, fuzzed + fuzzedSize);
  fixPngChecksums(&input);
  const uint8_t* data = input.data();
  const size_t size = input.size();
  CheckedImage checked;
  if (!checkImageFile(data, size, &checked).ok() ||
      int64_t{checked.width} * checked.height > kMaxFuzzPixels) {
    return 0;
  }
  DecodedImage decoded;
  if (!decodeImage(data, size, &decoded).ok()) return 0;

  std::vector<uint8_t> png;
  const Status encoded = encodePixels(decoded.rgb.data(), decoded.width, decoded.height,
                                      ImageFormat::kPng, &png, decoded.metadata);
  FUZZ_CHECK(encoded.ok(), "a decoded picture can be written as PNG");
  DecodedImage back;
  const Status reread = decodeImage(png.data(), png.size(), &back);
  FUZZ_CHECK(reread.ok(), "our PNG decodes");
  FUZZ_CHECK(back.warning.empty(), "our PNG decodes cleanly");
  FUZZ_CHECK(back.width == decoded.width && back.height == decoded.height, "same size");
  FUZZ_CHECK(back.rgb == decoded.rgb, "same pixels");
  // A profile that the colour library reads but libpng refuses (a tag that
  // runs past the profile's end, say) is left out of the PNG rather than
  // failing the save; any profile that is written must come back unchanged.
  FUZZ_CHECK(back.metadata.icc == decoded.metadata.icc || back.metadata.icc.empty(),
             "same colour profile, or none");
  FUZZ_CHECK(back.metadata.exif == decoded.metadata.exif, "same EXIF");
  FUZZ_CHECK(back.metadata.xmp == decoded.metadata.xmp, "same XMP");
  return 0;
}
