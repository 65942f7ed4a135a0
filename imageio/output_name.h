// The file the window's save command writes for a name chosen in the save
// dialog: the name itself when it ends in ".png" (any case), else the name
// with the ".bmp" rule applied. The caller asks before it replaces a file whose
// name the rule made, since the dialog only checked the name as typed.
#ifndef NUBO_IMAGEIO_OUTPUT_NAME_H_
#define NUBO_IMAGEIO_OUTPUT_NAME_H_

#include <string>

#include "engine/status.h"
#include "imageio/image_io.h"

namespace nubo {

struct OutputTarget {
  std::string path;                     // the file to write
  ImageFormat format = ImageFormat::kBmp;
  bool extended = false;                // ".bmp" was appended to the chosen name
};

// Fills *target for chosen. Fails (target unchanged) when the final path would
// be longer than kMaxPathBytes, or when a name that already holds ".bmp"/".BMP"
// ends in an extension we cannot write (neither BMP nor PNG).
Status outputTarget(const std::string& chosen, OutputTarget* target);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_OUTPUT_NAME_H_
