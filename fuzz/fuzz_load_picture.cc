// The load command on a fuzzed file: the file checks, decoding, conversion to
// 8-bit RGB and whatever the decoder reads besides the pixels, then the display
// buffers of the window. A file either loads into consistent buffers or is
// refused with a reason, leaving nothing loaded.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/picture_files.h"
#include "app/working_image.h"
#include "fuzz/fuzz_check.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"
#include "imageio/metadata.h"

namespace {

// Larger pictures are legal but slow to decode from a small file; leaving them
// out keeps every run fast. (The refusal of pictures beyond the limits is a
// test of its own.)
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 20;

const std::string& inputPath() {
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("nubo-fuzz-load-" + std::to_string(getpid()) + ".img"))
                                      .string();
  return path;
}

bool writeInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(inputPath().c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo;
  CheckedImage checked;
  if (checkImageFile(data, size, &checked).ok() &&
      int64_t{checked.width} * checked.height > kMaxFuzzPixels) {
    return 0;
  }
  if (!writeInput(data, size)) return 0;

  WorkingImage image;
  ImageMetadata metadata;
  std::string warning;
  const Status status = loadInput(
      inputPath(), &image, [](const std::string&) {}, &metadata, &warning);
  std::remove(inputPath().c_str());
  if (!status.ok()) {
    FUZZ_CHECK(!status.message().empty(), "a refusal gives a reason");
    FUZZ_CHECK(image.imageLoaded == 0, "a refused file leaves nothing loaded");
    FUZZ_CHECK(image.inputDisplay.empty() && image.outputDisplay.empty(), "buffers released");
    return 0;
  }
  const int w = image.imageWidth, h = image.imageHeight;
  FUZZ_CHECK(image.imageLoaded == 1, "a loaded picture is marked loaded");
  FUZZ_CHECK(w > 0 && h > 0, "a loaded picture has pixels");
  FUZZ_CHECK(image.paddedWidth == paddedSize(w) && image.paddedHeight == paddedSize(h),
             "padded sizes");
  const size_t padded = static_cast<size_t>(image.paddedWidth) * image.paddedHeight * 3;
  FUZZ_CHECK(image.inputDisplay.size() == padded && image.outputDisplay.size() == padded,
             "display buffer sizes");
  // Padding beyond the picture is white in both buffers.
  for (int r = 0; r < image.paddedHeight; ++r) {
    for (int c = (r < h ? w : 0); c < image.paddedWidth; ++c) {
      const size_t at = image.displayOffset(r, c);
      for (int k = 0; k < 3; ++k) {
        FUZZ_CHECK(image.inputDisplay[at + k] == 255 && image.outputDisplay[at + k] == 255,
                   "padding is white");
      }
    }
  }
  if (!metadata.exif.empty()) {
    const auto& e = metadata.exif;
    const bool tiffStart =
        e.size() >= 4 && ((e[0] == 'I' && e[1] == 'I' && e[2] == 42 && e[3] == 0) ||
                          (e[0] == 'M' && e[1] == 'M' && e[2] == 0 && e[3] == 42));
    FUZZ_CHECK(tiffStart, "EXIF kept as a TIFF structure");
  }
  return 0;
}
