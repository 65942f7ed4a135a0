// Output names: the ".bmp" rule and the save command's target.
#include "app/output_name.h"

#include <utility>

namespace nubo {

std::string lowerExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& ch : ext) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return ext;
}

bool applyBmpExtensionRule(std::string* path) {
  if (path->find(".BMP") != std::string::npos || path->find(".bmp") != std::string::npos) {
    return true;
  }
  if (path->size() + 4 > kMaxPathBytes) return false;
  path->append(".bmp");
  return true;
}

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
