// Image decoding through DevIL, behind structural file checks; encoding as BMP
// (our own writer) or PNG (libpng, png_write.h).
#include "imageio/image_io.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "fileio/file_util.h"
#include "imageio/image_check.h"
#include "imageio/jpeg_decode.h"
#include "imageio/metadata_read.h"
#include "imageio/png_write.h"
#include "imageio/upright.h"

namespace nubo {
namespace {

// DevIL takes lump sizes as 32-bit unsigned integers.
constexpr uint64_t kMaxFileBytes = std::numeric_limits<ILuint>::max();

// DevIL keeps global state and is not thread-safe: every call into it happens
// under this lock.
std::mutex& devilMutex() {
  static std::mutex mutex;
  return mutex;
}

// Initialises DevIL once; call with devilMutex held.
void initDevil() {
  static std::once_flag once;
  std::call_once(once, [] {
    ilInit();
    iluInit();
  });
}

// Empties DevIL's error stack; returns the first error found or IL_NO_ERROR.
ILenum drainDevilErrors() {
  ILenum first = IL_NO_ERROR;
  ILenum error;
  while ((error = ilGetError()) != IL_NO_ERROR) {
    if (first == IL_NO_ERROR) first = error;
  }
  return first;
}

std::string devilErrorText(ILenum error) {
  if (error == IL_NO_ERROR) return "unknown decoder error";
  const char* text = iluErrorString(error);
  return text != nullptr && *text != '\0' ? text : "decoder error " + std::to_string(error);
}

// One DevIL image, bound while the object lives and deleted with it.
class BoundDevilImage {
 public:
  BoundDevilImage() {
    ilGenImages(1, &id_);
    ilBindImage(id_);
  }
  ~BoundDevilImage() {
    ilBindImage(0);
    ilDeleteImages(1, &id_);
    drainDevilErrors();
  }
  BoundDevilImage(const BoundDevilImage&) = delete;
  BoundDevilImage& operator=(const BoundDevilImage&) = delete;

 private:
  ILuint id_ = 0;
};

const char* fileTypeName(FileType type) {
  switch (type) {
    case FileType::kJpeg:
      return "JPEG";
    case FileType::kPng:
      return "PNG";
    case FileType::kBmp:
      return "BMP";
    case FileType::kTiff:
      return "TIFF";
    case FileType::kUnknown:
      break;
  }
  return "image";
}

ILenum devilType(FileType type) {
  switch (type) {
    case FileType::kJpeg:
      return IL_JPG;
    case FileType::kPng:
      return IL_PNG;
    case FileType::kBmp:
      return IL_BMP;
    case FileType::kTiff:
      return IL_TIF;
    case FileType::kUnknown:
      break;
  }
  return IL_TYPE_UNKNOWN;
}

// Decodes a checked file with DevIL into out (bottom row first, RGB).
Status decodeWithDevil(const uint8_t* lump, size_t size, const CheckedImage& checked,
                       DecodedImage* out) {
  const std::string failure =
      std::string("cannot decode ") + fileTypeName(checked.type) + " file: ";
  std::lock_guard<std::mutex> lock(devilMutex());
  initDevil();
  drainDevilErrors();
  BoundDevilImage image;
  ilEnable(IL_ORIGIN_SET);
  ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
  ILenum error = drainDevilErrors();
  if (error != IL_NO_ERROR) return Status(StatusCode::kIoError, failure + devilErrorText(error));

  const ILboolean loaded = ilLoadL(devilType(checked.type), lump, static_cast<ILuint>(size));
  error = drainDevilErrors();
  if (!loaded || error != IL_NO_ERROR) {
    if (error == IL_OUT_OF_MEMORY) return tooLittleMemory();
    return Status(StatusCode::kInvalidData, failure + devilErrorText(error));
  }
  const ILboolean converted = ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE);
  error = drainDevilErrors();
  if (!converted || error != IL_NO_ERROR) {
    if (error == IL_OUT_OF_MEMORY) return tooLittleMemory();
    return Status(StatusCode::kInvalidData, failure + devilErrorText(error));
  }

  const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
  const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
  const ILint bytesPerPixel = ilGetInteger(IL_IMAGE_BYTES_PER_PIXEL);
  const ILint dataBytes = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
  const ILint origin = ilGetInteger(IL_IMAGE_ORIGIN);
  const ILubyte* pixels = ilGetData();
  error = drainDevilErrors();
  if (width != checked.width || height != checked.height) {
    return Status(StatusCode::kInvalidData, failure + "picture size differs from the header");
  }
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const size_t bytes = rowBytes * static_cast<size_t>(height);
  if (error != IL_NO_ERROR || pixels == nullptr || bytesPerPixel != 3 || dataBytes < 0 ||
      static_cast<size_t>(dataBytes) < bytes) {
    return Status(StatusCode::kInvalidData, failure + "unexpected pixel layout");
  }
  out->rgb.resize(bytes);
  if (origin == IL_ORIGIN_UPPER_LEFT) {
    for (ILint r = 0; r < height; ++r) {
      std::memcpy(out->rgb.data() + r * rowBytes, pixels + (height - 1 - r) * rowBytes, rowBytes);
    }
  } else {
    std::memcpy(out->rgb.data(), pixels, bytes);
  }
  out->width = width;
  out->height = height;
  return Status::Ok();
}

}  // namespace

Status decodeImage(const uint8_t* data, size_t size, DecodedImage* out) {
  *out = DecodedImage();
  if (data == nullptr && size != 0) return Status(StatusCode::kInvalidArgument, "no data");
  try {
    CheckedImage checked;
    Status status = checkImageFile(data, size, &checked);
    if (!status.ok()) return status;
    const uint8_t* lump = checked.rewritten.empty() ? data : checked.rewritten.data();
    const size_t lumpSize = checked.rewritten.empty() ? size : checked.rewritten.size();
    if (checked.type == FileType::kJpeg) {
      status = decodeJpeg(data, size, out);
    } else if (lumpSize > kMaxFileBytes) {
      status = Status(StatusCode::kTooLarge, "file too large");
    } else {
      status = decodeWithDevil(lump, lumpSize, checked, out);
      if (status.ok() && checked.type == FileType::kPng) {
        out->metadata = readPngMetadata(data, size);
      }
    }
    if (!status.ok()) {
      *out = DecodedImage();
      return status;
    }
    // Upright before anyone sees the pixels; EXIF and XMP then say so. EXIF
    // decides; XMP's orientation only counts in files whose EXIF has none.
    const int exifOrientation = normaliseExif(&out->metadata.exif);
    const int xmpOrientation = normaliseXmpOrientation(&out->metadata.xmp);
    turnUpright(exifOrientation != 0 ? exifOrientation : xmpOrientation, out);
    return status;
  } catch (const std::bad_alloc&) {
    *out = DecodedImage();
    return tooLittleMemory();
  }
}

Status decodeImageFile(const std::string& path, DecodedImage* out) {
  *out = DecodedImage();
  std::vector<uint8_t> bytes;
  try {
    Status status = readWholeFile(path, kMaxFileBytes, &bytes);
    if (!status.ok()) return status;
  } catch (const std::bad_alloc&) {
    return tooLittleMemory();
  }
  return decodeImage(bytes.data(), bytes.size(), out);
}

Status encodeOutput(const RgbRows& rows, int width, int height, ImageFormat format,
                    std::vector<uint8_t>* out, const ImageMetadata& metadata) {
  out->clear();
  if (width <= 0 || height <= 0 || rows.top == nullptr || rows.bgr) {
    return Status(StatusCode::kInvalidArgument, "no picture rows to encode");
  }
  try {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if (format == ImageFormat::kBmp) {
      // BMP stores the bottom row first: walk the rows upwards.
      const size_t bmpRow = bmpRowBytes(width);
      out->assign(kBmpHeaderBytes + bmpRow * height, 0);
      writeBmpHeader(width, height, out->data());
      for (int r = 0; r < height; ++r) {
        const uint8_t* src = rows.top + static_cast<ptrdiff_t>(height - 1 - r) * rows.stride;
        uint8_t* dst = out->data() + kBmpHeaderBytes + bmpRow * r;
        for (size_t k = 0; k < rowBytes; k += 3) {
          dst[k] = src[k + 2];
          dst[k + 1] = src[k + 1];
          dst[k + 2] = src[k];
        }
      }
      return Status::Ok();
    }
    // PNG stores the top row first, as the rows run.
    return encodePng(rows.top, rows.stride, width, height, metadata, out);
  } catch (const std::bad_alloc&) {
    out->clear();
    return tooLittleMemory();
  }
}

size_t bmpRowBytes(int width) { return (static_cast<size_t>(width) * 3 + 3) / 4 * 4; }

void writeBmpHeader(int width, int height, uint8_t* header) {
  auto put = [&](int at, uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) header[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  std::memset(header, 0, kBmpHeaderBytes);
  header[0] = 'B';
  header[1] = 'M';
  put(2, static_cast<uint32_t>(kBmpHeaderBytes + bmpRowBytes(width) * height), 4);
  put(10, kBmpHeaderBytes, 4);  // pixel data offset
  put(14, 40, 4);               // BITMAPINFOHEADER
  put(18, static_cast<uint32_t>(width), 4);
  put(22, static_cast<uint32_t>(height), 4);  // positive: rows bottom first
  put(26, 1, 2);                              // planes
  put(28, 24, 2);                             // bits per pixel; no compression, no palette
}

Status encodePixels(const uint8_t* pixels, int width, int height, ImageFormat format,
                    std::vector<uint8_t>* out, const ImageMetadata& metadata) {
  out->clear();
  if (pixels == nullptr || width <= 0 || height <= 0) {
    return Status(StatusCode::kInvalidArgument, "empty picture");
  }
  if (format == ImageFormat::kPng) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    return encodePng(pixels + (height - 1) * rowBytes, -static_cast<ptrdiff_t>(rowBytes), width,
                     height, metadata, out);
  }
  try {
    const std::string failure = "cannot encode picture: ";
    std::lock_guard<std::mutex> lock(devilMutex());
    initDevil();
    drainDevilErrors();
    BoundDevilImage devilImage;
    const ILboolean made =
        ilTexImage(width, height, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, const_cast<uint8_t*>(pixels));
    ILenum error = drainDevilErrors();
    if (!made || error != IL_NO_ERROR) {
      return Status(StatusCode::kIoError, failure + devilErrorText(error));
    }
    // Our rows are bottom first; writers flip pictures stored top first.
    if (ilGetInteger(IL_IMAGE_ORIGIN) != IL_ORIGIN_LOWER_LEFT)
      ilRegisterOrigin(IL_ORIGIN_LOWER_LEFT);
    const ILuint needed = ilSaveL(IL_BMP, nullptr, 0);  // a null lump asks for the size
    error = drainDevilErrors();
    if (needed == 0 || error != IL_NO_ERROR) {
      return Status(StatusCode::kIoError, failure + devilErrorText(error));
    }
    out->resize(needed);
    const ILuint written = ilSaveL(IL_BMP, out->data(), needed);
    error = drainDevilErrors();
    if (written == 0 || written > needed || error != IL_NO_ERROR) {
      out->clear();
      return Status(StatusCode::kIoError, failure + devilErrorText(error));
    }
    out->resize(written);
  } catch (const std::bad_alloc&) {
    out->clear();
    return tooLittleMemory();
  }
  return Status::Ok();
}

}  // namespace nubo
