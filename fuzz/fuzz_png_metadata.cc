// What a picture carries into PNG output: a fuzzed file that decodes is written
// as PNG with the metadata read from it, and that PNG must decode back to the
// same pixels and the same metadata, without a warning.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"

namespace {
// Larger pictures are legal but slow to decode and encode (see fuzz_load_picture).
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 18;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo;
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
  FUZZ_CHECK(back.metadata.icc == decoded.metadata.icc, "same colour profile");
  FUZZ_CHECK(back.metadata.exif == decoded.metadata.exif, "same EXIF");
  FUZZ_CHECK(back.metadata.xmp == decoded.metadata.xmp, "same XMP");
  return 0;
}
