// Structural checks of image files before any decoder sees them: the format is
// recognised by content, and headers, chunk and segment lengths and picture
// dimensions are checked against the file size, so that the decoder only ever
// receives files whose framing is sound.
#ifndef NUBO_IMAGEIO_IMAGE_CHECK_H_
#define NUBO_IMAGEIO_IMAGE_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/status.h"

namespace nubo {

enum class FileType { kUnknown, kJpeg, kPng, kBmp, kTiff };

// What checkImageFile learnt about a file.
struct CheckedImage {
  FileType type = FileType::kUnknown;
  int width = 0;  // picture size from the header
  int height = 0;
  // For BMPs the decoder cannot read safely as they are (info headers other
  // than 40 bytes, short palettes): the same picture rewritten with a 40-byte
  // info header and a full palette. Empty otherwise.
  std::vector<uint8_t> rewritten;
};

// Recognises the format from the first bytes; kUnknown for anything else.
FileType sniffFileType(const uint8_t* data, size_t size);

// Checks that data holds a well-formed JPEG, PNG, BMP or TIFF file whose
// picture fits kMaxPaddedPixels once padded; the status gives the reason.
Status checkImageFile(const uint8_t* data, size_t size, CheckedImage* out);

// True when a width x height picture, each side padded to the next power of
// two, needs at most kMaxPaddedPixels pixels. Sides must be positive.
bool fitsPaddedLimit(int64_t width, int64_t height);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_IMAGE_CHECK_H_
