// Output names: the window's path limit, the ".bmp" rule (which nubo-clean
// follows too), and the file the window's save command writes for a name
// chosen in the save dialog: the name itself when it ends in ".png" (any case),
// else the name with the ".bmp" rule applied. The caller asks before it
// replaces a file whose name the rule made, since the dialog only checked the
// name as typed.
#ifndef NUBO_APP_OUTPUT_NAME_H_
#define NUBO_APP_OUTPUT_NAME_H_

#include <cstddef>
#include <string>

#include "engine/status.h"
#include "imageio/image_io.h"

namespace nubo {

// Paths are kept in 256-byte buffers by the GUI: at most 255 bytes.
constexpr size_t kMaxPathBytes = 255;

// The lower-case extension of the last component of path, without the dot
// ("png" for "a/b.PNG"); empty when there is none.
std::string lowerExtension(const std::string& path);

// Appends ".bmp" unless path contains ".BMP" or ".bmp" anywhere. Returns false
// (path unchanged) when the result would exceed kMaxPathBytes.
bool applyBmpExtensionRule(std::string* path);

// What the save command writes for a name chosen in the save dialog.
struct OutputTarget {
  std::string path;  // the file to write
  ImageFormat format = ImageFormat::kBmp;
  bool extended = false;  // ".bmp" was appended to the chosen name
};

// Fills *target for chosen. Fails (target unchanged) when the final path would
// be longer than kMaxPathBytes, or when a name that already holds ".bmp"/".BMP"
// ends in an extension we cannot write (neither BMP nor PNG).
Status outputTarget(const std::string& chosen, OutputTarget* target);

}  // namespace nubo

#endif  // NUBO_APP_OUTPUT_NAME_H_
