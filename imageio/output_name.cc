// The save command's output name.
#include "imageio/output_name.h"

namespace nubo {

Status outputTarget(const std::string& chosen, OutputTarget* target) {
  OutputTarget result;
  result.path = chosen;
  if (lowerExtension(chosen) == "png") {
    result.format = ImageFormat::kPng;
  } else {
    if (!applyBmpExtensionRule(&result.path)) {
      return Status(StatusCode::kInvalidArgument,
                    "file name too long (at most " + std::to_string(kMaxPathBytes) + " bytes)");
    }
    result.extended = result.path != chosen;
    const std::string ext = lowerExtension(result.path);
    if (ext == "bmp") {
      result.format = ImageFormat::kBmp;
    } else {
      return Status(StatusCode::kInvalidArgument,
                    "cannot write ." + ext + " files: end the name in .bmp or .png");
    }
  }
  if (result.path.size() > kMaxPathBytes) {
    return Status(StatusCode::kInvalidArgument,
                  "file name too long (at most " + std::to_string(kMaxPathBytes) + " bytes)");
  }
  *target = std::move(result);
  return Status::Ok();
}

}  // namespace nubo
