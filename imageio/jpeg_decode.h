// JPEG decoding with libjpeg: grey, YCbCr/RGB, CMYK and YCCK files to 8-bit
// RGB, with the metadata segments (ICC, EXIF, XMP) and a warning when libjpeg
// had to get over damaged data.
#ifndef NUBO_IMAGEIO_JPEG_DECODE_H_
#define NUBO_IMAGEIO_JPEG_DECODE_H_

#include <cstddef>
#include <cstdint>

#include "engine/status.h"
#include "imageio/image_io.h"

namespace nubo {

// Decodes a JPEG file that checkImageFile accepted into out: rows bottom first,
// R, G, B; grey files give R = G = B. CMYK and YCCK pixels are converted to
// RGB, through their embedded CMYK profile when there is a usable one (out's
// ICC is then empty), else by the plain ink formula. out->metadata receives the
// ICC profile, EXIF and XMP as stored (unchecked EXIF: the caller normalises
// it); out->warning says "damaged JPEG data (...)" when libjpeg met corrupt
// data but still delivered pixels. The orientation is not applied here.
// Fails with the reason when no picture can be had; libjpeg's errors never
// escape as anything but a status.
Status decodeJpeg(const uint8_t* data, size_t size, DecodedImage* out);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_JPEG_DECODE_H_
