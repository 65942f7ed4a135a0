// PNG output through libpng: an 8-bit grey file when every pixel is grey, else
// 8-bit RGB, carrying the picture's colour profile (iCCP), EXIF (eXIf) and XMP
// (iTXt "XML:com.adobe.xmp") and no other text.
#ifndef NUBO_IMAGEIO_PNG_WRITE_H_
#define NUBO_IMAGEIO_PNG_WRITE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/status.h"
#include "imageio/metadata.h"

namespace nubo {

class ThreadPool;

// True when every one of the width x height R, G, B pixels has R = G = B.
// Rows as for encodePng.
bool isGreyPicture(const uint8_t* top, ptrdiff_t stride, int width, int height);

// Encodes width x height R, G, B pixels as a PNG file into *out. The top row of
// the picture starts at top and each next row lies stride bytes further (a
// negative stride walks a buffer stored bottom row first). Metadata that would
// make an invalid chunk (a damaged or mismatched ICC profile, EXIF that is no
// TIFF structure, XMP holding a NUL) is left out without failing the save.
// Fails only when memory runs out or libpng reports an error; *out is then empty.
// pool, when given, compresses bands of rows side by side; the bytes are the
// same with any pool or none.
Status encodePng(const uint8_t* top, ptrdiff_t stride, int width, int height,
                 const ImageMetadata& metadata, std::vector<uint8_t>* out,
                 ThreadPool* pool = nullptr);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_PNG_WRITE_H_
