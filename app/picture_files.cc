// The window's load and save commands (see picture_files.h).
#include "app/picture_files.h"

#include <new>
#include <utility>
#include <vector>

#include "app/output_name.h"
#include "fileio/file_util.h"
#include "imageio/image_check.h"

namespace nubo {

Status loadInput(const std::string& inputPath, WorkingImage* image,
                 const StatusCallback& showStatus, ImageMetadata* metadata, std::string* warning) {
  releaseWorkingImage(image);
  DecodedImage decoded;
  Status status = decodeImageFile(inputPath, &decoded);
  if (!status.ok()) return status;
  if (metadata != nullptr) *metadata = std::move(decoded.metadata);
  if (warning != nullptr) *warning = std::move(decoded.warning);
  return loadDecoded(&decoded, image, showStatus);
}

Status loadDecoded(DecodedImage* picture, WorkingImage* image, const StatusCallback& showStatus,
                   ThreadPool* pool) {
  DecodedImage& decoded = *picture;
  // The working buffers take several times the decoded picture: refuse before
  // anything is released or allocated when the memory is not there.
  const Status status = checkPictureMemory(decoded.width, decoded.height,
                                           workingMemoryBytes(decoded.width, decoded.height));
  if (!status.ok()) return status;
  releaseWorkingImage(image);
  try {
    if (showStatus) showStatus("Preprocessing the contaminated image......");
    if (!fillDisplayBuffers(decoded.rgb.data(), decoded.width, decoded.height, image, pool)) {
      releaseWorkingImage(image);
      return tooLittleMemory();
    }
    decoded.rgb = std::vector<uint8_t>();  // give the memory back before the textures
    // The edge blocks are found by the pass, band by band, when it runs.
    if (showStatus) showStatus("Detecting edge in the contaminated image......");
    if (showStatus) showStatus("ready");
  } catch (const std::bad_alloc&) {
    releaseWorkingImage(image);
    return tooLittleMemory();
  } catch (...) {
    releaseWorkingImage(image);
    throw;
  }
  return Status::Ok();
}

Status encodeOutput(const WorkingImage& image, ImageFormat format, std::vector<uint8_t>* out,
                    const ImageMetadata& metadata) {
  out->clear();
  const int width = image.imageWidth, height = image.imageHeight;
  if (!image.imageLoaded) return Status(StatusCode::kInvalidArgument, "no picture loaded");
  if (width <= 0 || height <= 0 || width > image.paddedWidth || height > image.paddedHeight ||
      image.outputDisplay.size() <
          static_cast<size_t>(image.paddedWidth) * image.paddedHeight * 3) {
    return Status(StatusCode::kInvalidArgument, "output buffer does not match the picture size");
  }
  // Display row 0 is the bottom picture row: the rows run downwards from row h-1.
  const RgbRows rows{image.outputDisplay.data() + image.displayOffset(height - 1, 0),
                     -static_cast<ptrdiff_t>(image.paddedWidth) * 3, false};
  return encodeOutput(rows, width, height, format, out, metadata);
}

Status savePicture(const WorkingImage& image, const std::string& path, ImageFormat format,
                   bool overwrite, const ImageMetadata& metadata) {
  std::vector<uint8_t> bytes;
  Status status = encodeOutput(image, format, &bytes, metadata);
  if (!status.ok()) return status;
  return writeFileAtomically(path, bytes, overwrite);
}

Status saveOutput(const WorkingImage& image, std::string* outputPath,
                  const ImageMetadata& metadata) {
  if (!image.imageLoaded) return Status::Ok();
  if (!applyBmpExtensionRule(outputPath) || outputPath->size() > kMaxPathBytes) {
    return Status(StatusCode::kInvalidArgument,
                  "file name too long (at most " + std::to_string(kMaxPathBytes) + " bytes)");
  }
  const std::string ext = lowerExtension(*outputPath);
  ImageFormat format;
  if (ext == "bmp") {
    format = ImageFormat::kBmp;
  } else if (ext == "png") {
    format = ImageFormat::kPng;
  } else {
    return Status(StatusCode::kInvalidArgument, "unsupported output format");
  }
  return savePicture(image, *outputPath, format, /*overwrite=*/true, metadata);
}

}  // namespace nubo
