// What a picture file carries besides its pixels and what we keep of it: the
// colour profile, the camera's EXIF data and the XMP packet. Read when a file
// is decoded, written into PNG output; BMP output carries none of it.
#ifndef NUBO_IMAGEIO_METADATA_H_
#define NUBO_IMAGEIO_METADATA_H_

#include <cstdint>
#include <string>
#include <vector>

namespace nubo {

struct ImageMetadata {
  // ICC profile, as embedded (for PNG's iCCP chunk, uncompressed here). Empty
  // when the file has none, or when the pixels were converted out of the
  // profile's colour space as they were decoded.
  std::vector<uint8_t> icc;
  // EXIF as a TIFF structure (starting "II*\0" or "MM\0*", without the
  // "Exif\0\0" of a JPEG APP1 segment), the content of PNG's eXIf chunk. The
  // decoder has already turned the pixels upright: the orientation here is 1
  // and any embedded thumbnail is gone.
  std::vector<uint8_t> exif;
  // XMP packet (UTF-8 XML), for PNG's iTXt chunk "XML:com.adobe.xmp".
  std::string xmp;

  bool empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

}  // namespace nubo

#endif  // NUBO_IMAGEIO_METADATA_H_
