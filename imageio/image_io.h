// Pictures from bytes and back: decoding files (and their metadata) to pixels,
// encoding pixels as BMP or PNG. The only module that talks to DevIL; the load
// and save commands that use it live with the window (app/picture_files.h) and
// the command line's run with nubo-clean (tools/clean_run.h). Files are
// checked before DevIL sees them, so that damaged or hostile files give a clear
// reason instead of a hang, a crash or uninitialised pixels.
#ifndef NUBO_IMAGEIO_IMAGE_IO_H_
#define NUBO_IMAGEIO_IMAGE_IO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/rgb_rows.h"
#include "engine/status.h"
#include "imageio/metadata.h"

namespace nubo {

// Largest picture we accept, in pixels of the padded display buffer; beyond it
// the working buffers (about 40 bytes per pixel) could not be allocated.
constexpr int64_t kMaxPaddedPixels = int64_t{1} << 28;

// A decoded picture: width x height pixels of R, G, B bytes, bottom row first.
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  ImageMetadata metadata;  // what the output carries over (PNG only)
  // Empty when the file decoded cleanly; otherwise why the pixels may be
  // damaged, for a warning ("damaged JPEG data (...)"). The caller names the file.
  std::string warning;
};

// Checks and decodes an image held in memory (JPEG, PNG, BMP, TIFF, ...).
// Grey, palette, alpha and 16-bit pictures are converted to 8-bit RGB, CMYK
// and YCCK JPEGs too. The picture is turned upright from its EXIF
// orientation; out->metadata holds the ICC, EXIF and XMP of JPEG and PNG
// files, out->warning any damage the JPEG decoder got over.
Status decodeImage(const uint8_t* data, size_t size, DecodedImage* out);

// Reads the file at path and decodes it as decodeImage does. The message names
// the reason only (the caller adds the file name).
Status decodeImageFile(const std::string& path, DecodedImage* out);

enum class ImageFormat { kBmp, kPng };

// Encodes the width x height picture in rows (R, G, B: bgr rows are refused)
// in the given format; PNG carries metadata (grey pictures become grey PNGs),
// BMP none. Bytes beyond width pixels of a row are never read.
Status encodeOutput(const RgbRows& rows, int width, int height, ImageFormat format,
                    std::vector<uint8_t>* out, const ImageMetadata& metadata = ImageMetadata());

// Encodes width x height R, G, B pixels (rows packed, bottom row first) in the
// given format: PNG through libpng as encodePng (png_write.h) writes it, with
// metadata; BMP through DevIL, the same bytes as encodeOutput's, without.
Status encodePixels(const uint8_t* pixels, int width, int height, ImageFormat format,
                    std::vector<uint8_t>* out, const ImageMetadata& metadata = ImageMetadata());

// The BMP files we write: a 14-byte file header and a 40-byte info header,
// then 24-bit rows, bottom first, B, G, R, each padded with zeros to 4 bytes.
constexpr size_t kBmpHeaderBytes = 54;
size_t bmpRowBytes(int width);
// Writes the kBmpHeaderBytes header of a width x height 24-bit BMP.
void writeBmpHeader(int width, int height, uint8_t* header);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_IMAGE_IO_H_
