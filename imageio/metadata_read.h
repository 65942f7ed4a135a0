// What we keep of a file's metadata and how it is checked: ICC profiles and
// XMP packets are checked before they are kept, EXIF is read and rewritten
// with libexif (orientation 1, no thumbnail), and PNG files' iCCP, eXIf and
// iTXt chunks are read. Anything malformed is dropped, never an error.
#ifndef NUBO_IMAGEIO_METADATA_READ_H_
#define NUBO_IMAGEIO_METADATA_READ_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/metadata.h"

namespace nubo {

// Bounds on what is kept: ICC profiles of CMYK printing conditions run to a
// few megabytes; EXIF must fit one JPEG APP1 segment after its 6-byte
// "Exif\0\0" prefix (65533 bytes of payload); XMP beyond 1 MiB is not a
// packet anyone writes by hand or camera.
constexpr size_t kMaxIccBytes = size_t{16} << 20;
constexpr size_t kMaxExifBytes = 65533 - 6;
constexpr size_t kMaxXmpBytes = size_t{1} << 20;

// The colours an ICC profile must describe to suit the pixels it comes with.
enum class ProfileColours { kGrey, kRgb, kCmyk };

// True when icc is a complete ICC profile that the colour library reads, of
// at most kMaxIccBytes, whose data colour space is colours.
bool iccProfileFits(const std::vector<uint8_t>& icc, ProfileColours colours);

// True when xmp can be carried as it is: non-empty, at most kMaxXmpBytes,
// valid UTF-8 without NUL bytes.
bool xmpUsable(const std::string& xmp);

// Reads the metadata of a PNG file that checkImageFile accepted: iCCP
// (inflated, kept when it fits the PNG's colour type), eXIf (raw, to be
// normalised) and the iTXt chunk "XML:com.adobe.xmp". Chunks with a wrong
// checksum or a malformed body are skipped.
ImageMetadata readPngMetadata(const uint8_t* data, size_t size);

// Parses *exif (a TIFF structure) with libexif and rewrites it with the
// orientation set to 1 and any thumbnail dropped. Returns the orientation it
// held, 1..8; 1 when it was out of range; 0 when there was none. *exif is
// emptied when it is too long or libexif finds no directory in it.
int normaliseExif(std::vector<uint8_t>* exif);

// Sets every tiff:Orientation of an XMP packet (attribute or element) to 1.
// Returns the first value found, 1..8 (1 when out of range); 0 when none.
int normaliseXmpOrientation(std::string* xmp);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_METADATA_READ_H_
