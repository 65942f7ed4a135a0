// Image input and output: the only module that talks to DevIL. Files are
// checked before DevIL sees them, so that damaged or hostile files give a clear
// reason instead of a hang, a crash or uninitialised pixels.
#ifndef NUBO_IMAGEIO_IMAGE_IO_H_
#define NUBO_IMAGEIO_IMAGE_IO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/progress.h"
#include "engine/status.h"
#include "engine/working_image.h"
#include "imageio/metadata.h"

namespace nubo {

// Largest picture we accept, in pixels of the padded display buffer; beyond it
// the working buffers (about 40 bytes per pixel) could not be allocated.
constexpr int64_t kMaxPaddedPixels = int64_t{1} << 28;
// Paths are kept in 256-byte buffers by the GUI: at most 255 bytes.
constexpr size_t kMaxPathBytes = 255;

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

// The load command: releases whatever image held, decodes the file and fills
// the display buffers, reporting "Preprocessing the contaminated image......",
// "Detecting edge in the contaminated image......" and "ready" (the luminance
// and the edge blocks themselves are the pass's, band by band). On failure image
// is left released with imageLoaded = 0 and the status gives the reason.
// metadata and warning (may be null) receive those of the decoded file.
Status loadInput(const std::string& inputPath, WorkingImage* image,
                 const StatusCallback& showStatus, ImageMetadata* metadata = nullptr,
                 std::string* warning = nullptr);

// The second half of loadInput, for a caller that decoded (and so checked)
// the file first. A picture whose working buffers would need more memory than
// is available is refused with image left as it was; otherwise releases
// whatever image held, fills the display buffers from
// *picture (rows shared out on pool, when not null), frees its pixels and
// reports the texts above. On failure image is left released with
// imageLoaded = 0.
Status loadDecoded(DecodedImage* picture, WorkingImage* image, const StatusCallback& showStatus,
                   ThreadPool* pool = nullptr);

enum class ImageFormat { kBmp, kPng };

// The lower-case extension of the last component of path, without the dot
// ("png" for "a/b.PNG"); empty when there is none.
std::string lowerExtension(const std::string& path);

// Appends ".bmp" unless path contains ".BMP" or ".bmp" anywhere. Returns false
// (path unchanged) when the result would exceed kMaxPathBytes.
bool applyBmpExtensionRule(std::string* path);

// Encodes the picture area of image.outputDisplay (exactly imageWidth x
// imageHeight pixels) in the given format; PNG carries metadata (grey pictures
// become grey PNGs), BMP none.
Status encodeOutput(const WorkingImage& image, ImageFormat format, std::vector<uint8_t>* out,
                    const ImageMetadata& metadata = ImageMetadata());

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

// Writes bytes to path through a temporary file in the same folder that is
// renamed over path once complete: path either keeps its old content or holds
// the complete new file. With overwrite false an existing path is refused.
Status writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           bool overwrite);

// The save command: applies the ".bmp" rule to *outputPath (kept extended) and
// writes the output picture as BMP, or as the format DevIL picks from the
// extension when the path already held ".bmp"/".BMP" elsewhere (we support BMP
// and PNG). Does nothing and returns ok when no image is loaded.
Status saveOutput(const WorkingImage& image, std::string* outputPath,
                  const ImageMetadata& metadata = ImageMetadata());

// Saves the output picture to path in format, without the extension rule.
Status savePicture(const WorkingImage& image, const std::string& path, ImageFormat format,
                   bool overwrite, const ImageMetadata& metadata = ImageMetadata());

}  // namespace nubo

#endif  // NUBO_IMAGEIO_IMAGE_IO_H_
