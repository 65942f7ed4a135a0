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

// availableMemory value that makes the checks ask the system.
constexpr uint64_t kAskSystemForMemory = ~uint64_t{0};

// Checks that data holds a well-formed JPEG, PNG, BMP or TIFF file whose
// picture fits kMaxPaddedPixels once padded and whose decoding fits in
// availableMemory bytes (see checkPictureMemory); the status gives the reason.
Status checkImageFile(const uint8_t* data, size_t size, CheckedImage* out,
                      uint64_t availableMemory = kAskSystemForMemory);

// Memory a width x height picture needs at the peak of decoding: the decoder's
// own copy in the file's layout (up to 8 bytes a pixel), its 8-bit RGB
// conversion and ours (3 bytes a pixel each, part of it at once).
uint64_t decodeMemoryBytes(int64_t width, int64_t height);
// Memory the load command's working buffers need: the two display buffers (3
// bytes per pixel of the padded picture each) and the decoded picture that is
// still held while they are filled (3 bytes a pixel). The pass's luminance and
// edge blocks are made a band at a time and are not counted.
uint64_t workingMemoryBytes(int64_t width, int64_t height);

// Bytes the system can still give without swapping (MemAvailable in
// /proc/meminfo); 0 when it cannot tell.
uint64_t availableMemoryBytes();

// Refuses a picture whose needed bytes exceed availableMemory, before anything
// is allocated: kTooLarge, "picture too large: W x H pixels need about N MB of
// memory, only M MB is available". kAskSystemForMemory asks the system, but
// only when more than 64 MB are needed; an availableMemory of 0 (unknown)
// refuses nothing.
Status checkPictureMemory(int64_t width, int64_t height, uint64_t needed,
                          uint64_t availableMemory = kAskSystemForMemory);

// True when a width x height picture, each side padded to the next power of
// two, needs at most kMaxPaddedPixels pixels. Sides must be positive.
bool fitsPaddedLimit(int64_t width, int64_t height);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_IMAGE_CHECK_H_
