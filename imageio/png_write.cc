// PNG writing with libpng. libpng reports errors by longjmp: every libpng call
// happens inside writePngOnce, a C-style function that holds no C++ object
// across the setjmp, and its failures come back as a message.
#include "imageio/png_write.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace nubo {
namespace {

// Speed against size on photographs (a 48-megapixel cleaned mosaic, one
// thread, CPU seconds): zlib level 2 with the Paeth filter on every row writes
// it in about 1.7 s at 59.8 MB; level 3 takes 2.2 s for 58.3 MB, level 6 5.5 s
// for 56.8 MB, level 1 with the Up filter 1.4 s for 61.1 MB, and libpng's
// per-row filter choice adds a quarter to any level for no gain over Paeth.
// bench/png_bench.sh measures whole runs against BMP output.
constexpr int kZlibLevel = 2;
constexpr int kRowFilters = PNG_FILTER_PAETH;
// Image data goes out in IDAT chunks of this size (libpng's default of 8 KiB
// would cut a large picture into thousands of chunks).
constexpr size_t kIdatBytes = size_t{1} << 18;
// Largest profile, EXIF block or XMP packet carried: far above any real one
// (a JPEG holds at most about 16 MB of profile) and far below PNG's 2^31 - 1
// bytes per chunk.
constexpr size_t kMaxChunkBytes = size_t{1} << 26;
// The keyword under which XMP travels in PNG (Adobe's XMP specification, part 3).
constexpr char kXmpKey[] = "XML:com.adobe.xmp";
constexpr char kIccName[] = "ICC profile";

// One run of libpng: the picture, the chunks to carry and where the bytes go.
// Plain data only, so that a longjmp out of libpng skips no destructor.
struct PngJob {
  const uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;
  bool grey = false;
  const std::vector<uint8_t>* icc = nullptr;   // null: no iCCP
  const std::vector<uint8_t>* exif = nullptr;  // null: no eXIf
  const char* xmp = nullptr;                   // null: no iTXt
  // When set, a chunk that libpng declines without an error is a failure too
  // (used to try a chunk on its own before the real write).
  bool requireChunks = false;
  uint8_t* greyRow = nullptr;  // width bytes when grey
  std::vector<uint8_t>* out = nullptr;
  bool outOfMemory = false;
  char message[200] = {};
};

void keepMessage(PngJob* job, const char* text) {
  std::snprintf(job->message, sizeof job->message, "%s", text != nullptr ? text : "libpng error");
}

void onPngError(png_structp png, png_const_charp text) {
  keepMessage(static_cast<PngJob*>(png_get_error_ptr(png)), text);
  png_longjmp(png, 1);
}

// libpng's warnings (a chunk it declines, a profile it finds odd) are not
// printed: what is left out is decided here, and the save goes on.
void onPngWarning(png_structp, png_const_charp) {}

bool appendBytes(std::vector<uint8_t>* out, const uint8_t* data, size_t size) noexcept {
  try {
    out->insert(out->end(), data, data + size);
    return true;
  } catch (...) {
    return false;
  }
}

void onPngWrite(png_structp png, png_bytep data, size_t size) {
  PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (!appendBytes(job->out, data, size)) {
    job->outOfMemory = true;
    png_error(png, "out of memory");
  }
}

void onPngFlush(png_structp) {}

// Writes the whole file described by job; false with job->message on failure.
bool writePngOnce(PngJob* job) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, onPngError, onPngWarning);
  if (png == nullptr) {
    keepMessage(job, "out of memory");
    job->outOfMemory = true;
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    keepMessage(job, "out of memory");
    job->outOfMemory = true;
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, job, onPngWrite, onPngFlush);
  // PNG itself allows sides up to 2^31 - 1; libpng's default stops at a million.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  // Carry a profile as given: no extra sRGB, gAMA or cHRM chunks for ones that
  // libpng recognises as sRGB.
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_IHDR(png, info, static_cast<png_uint_32>(job->width),
               static_cast<png_uint_32>(job->height), 8,
               job->grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, kZlibLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, kRowFilters);
  png_set_compression_buffer_size(png, kIdatBytes);

  if (job->icc != nullptr) {
    png_set_iCCP(png, info, kIccName, PNG_COMPRESSION_TYPE_BASE, job->icc->data(),
                 static_cast<png_uint_32>(job->icc->size()));
    if (job->requireChunks && !png_get_valid(png, info, PNG_INFO_iCCP)) {
      png_error(png, "colour profile declined");
    }
  }
  if (job->exif != nullptr) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(job->exif->size()),
                   const_cast<png_bytep>(job->exif->data()));
    if (job->requireChunks && !png_get_valid(png, info, PNG_INFO_eXIf)) {
      png_error(png, "EXIF declined");
    }
  }
  if (job->xmp != nullptr) {
    png_text text;
    std::memset(&text, 0, sizeof text);
    text.compression = PNG_ITXT_COMPRESSION_NONE;
    text.key = const_cast<png_charp>(kXmpKey);
    text.text = const_cast<png_charp>(job->xmp);
    png_set_text(png, info, &text, 1);
    if (job->requireChunks && png_get_text(png, info, nullptr, nullptr) != 1) {
      png_error(png, "XMP declined");
    }
  }
  png_write_info(png, info);
  for (int r = 0; r < job->height; ++r) {
    const uint8_t* src = job->top + r * job->stride;
    if (job->grey) {
      for (int x = 0; x < job->width; ++x) job->greyRow[x] = src[3 * x];
      png_write_row(png, job->greyRow);
    } else {
      png_write_row(png, src);
    }
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Whether libpng writes a 1 x 1 picture of the given kind carrying only the
// chunks set in trial: its checks of a profile end in an error, so a chunk is
// tried on its own before it goes into the real file.
bool chunkWritable(PngJob trial, bool grey) {
  static const uint8_t kPixel[3] = {0, 0, 0};
  uint8_t greyRow[1];
  std::vector<uint8_t> scratch;
  trial.top = kPixel;
  trial.stride = 0;
  trial.width = 1;
  trial.height = 1;
  trial.grey = grey;
  trial.greyRow = greyRow;
  trial.requireChunks = true;
  trial.out = &scratch;
  return writePngOnce(&trial);
}

bool looksLikeExif(const std::vector<uint8_t>& exif) {
  static const uint8_t kIntel[4] = {'I', 'I', 42, 0};
  static const uint8_t kMotorola[4] = {'M', 'M', 0, 42};
  return exif.size() >= 8 && exif.size() <= kMaxChunkBytes &&
         (std::memcmp(exif.data(), kIntel, 4) == 0 || std::memcmp(exif.data(), kMotorola, 4) == 0);
}

}  // namespace

bool isGreyPicture(const uint8_t* top, ptrdiff_t stride, int width, int height) {
  for (int r = 0; r < height; ++r) {
    const uint8_t* p = top + r * stride;
    const uint8_t* end = p + static_cast<size_t>(width) * 3;
    for (; p != end; p += 3) {
      if (p[0] != p[1] || p[0] != p[2]) return false;
    }
  }
  return true;
}

Status encodePng(const uint8_t* top, ptrdiff_t stride, int width, int height,
                 const ImageMetadata& metadata, std::vector<uint8_t>* out) {
  out->clear();
  if (top == nullptr || width <= 0 || height <= 0) {
    return Status(StatusCode::kInvalidArgument, "empty picture");
  }
  try {
    PngJob job;
    job.top = top;
    job.stride = stride;
    job.width = width;
    job.height = height;
    job.grey = isGreyPicture(top, stride, width, height);
    job.out = out;

    // The profile: a grey file needs a grey profile and an RGB file an RGB one.
    // A grey picture that comes with a valid RGB profile is written as RGB, so
    // that the profile is kept.
    if (!metadata.icc.empty() && metadata.icc.size() <= kMaxChunkBytes) {
      PngJob trial;
      trial.icc = &metadata.icc;
      if (chunkWritable(trial, job.grey)) {
        job.icc = &metadata.icc;
      } else if (job.grey && chunkWritable(trial, false)) {
        job.icc = &metadata.icc;
        job.grey = false;
      }
    }
    if (looksLikeExif(metadata.exif)) job.exif = &metadata.exif;
    // XMP is text: trailing NULs (padding) are dropped, a packet holding other
    // NULs is not carried (iTXt text ends at the first).
    std::string xmp = metadata.xmp;
    while (!xmp.empty() && xmp.back() == '\0') xmp.pop_back();
    if (!xmp.empty() && xmp.size() <= kMaxChunkBytes && xmp.find('\0') == std::string::npos) {
      job.xmp = xmp.c_str();
    }

    std::vector<uint8_t> greyRow(static_cast<size_t>(width));
    job.greyRow = greyRow.data();
    bool written = writePngOnce(&job);
    if (!written && !job.outOfMemory &&
        (job.icc != nullptr || job.exif != nullptr || job.xmp != nullptr)) {
      // Never lose the picture over its metadata: once more without it.
      out->clear();
      job.icc = nullptr;
      job.exif = nullptr;
      job.xmp = nullptr;
      job.grey = isGreyPicture(top, stride, width, height);
      written = writePngOnce(&job);
    }
    if (!written) {
      out->clear();
      if (job.outOfMemory) {
        return Status(StatusCode::kTooLarge, "not enough memory for the picture");
      }
      return Status(StatusCode::kIoError, std::string("cannot encode picture: ") + job.message);
    }
  } catch (const std::bad_alloc&) {
    out->clear();
    return Status(StatusCode::kTooLarge, "not enough memory for the picture");
  }
  return Status::Ok();
}

}  // namespace nubo
