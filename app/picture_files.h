// The window's load and save commands on the picture in memory: a file is
// decoded (imageio) into the working image's display buffers, and the cleaned
// picture is encoded and written under the name the ".bmp" rule gives.
#ifndef NUBO_APP_PICTURE_FILES_H_
#define NUBO_APP_PICTURE_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/working_image.h"
#include "engine/progress.h"
#include "engine/status.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"
#include "imageio/metadata.h"

namespace nubo {

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

// Encodes the picture area of image.outputDisplay (exactly imageWidth x
// imageHeight pixels) in the given format, as encodeOutput on rows does.
Status encodeOutput(const WorkingImage& image, ImageFormat format, std::vector<uint8_t>* out,
                    const ImageMetadata& metadata = ImageMetadata());

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

#endif  // NUBO_APP_PICTURE_FILES_H_
