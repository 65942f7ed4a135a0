// PNG writing. libpng writes the head of the file (IHDR and the metadata
// chunks, with its checks of them); the image data is filtered and deflated
// here, in bands that the run's thread pool compresses side by side and that
// join into one zlib stream. libpng reports errors by longjmp: every libpng
// call happens inside writePngHead, a C-style function that holds no C++
// object across the setjmp, and its failures come back as a message.
#include "imageio/png_write.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/thread_pool.h"

namespace nubo {
namespace {

// Speed against size on photographs (a 48-megapixel cleaned mosaic, one
// thread, CPU seconds): zlib level 2 with the Paeth filter on every row writes
// it in about 1.7 s at 59.8 MB; level 3 takes 2.2 s for 58.3 MB, level 6 5.5 s
// for 56.8 MB, level 1 with the Up filter 1.4 s for 61.1 MB, and a per-row
// choice among the filters adds a quarter to any level for no gain over Paeth.
// bench/png_bench.sh measures whole runs against BMP output.
constexpr int kZlibLevel = 2;
constexpr uint8_t kPaethFilter = 4;  // PNG's filter type byte
// The image data is deflated in bands of about this many filtered bytes, each
// band's window primed with the 32 KiB before it: the bytes of the file do not
// depend on the number of threads, and the 48-megapixel mosaic comes out no
// larger than as one stream (59.77 MB).
constexpr size_t kBandBytes = size_t{2} << 20;
constexpr size_t kWindowBytes = 32768;  // deflate's window
// Image data goes out in IDAT chunks of at most this size.
constexpr size_t kIdatBytes = size_t{1} << 20;
// Largest profile, EXIF block or XMP packet carried: far above any real one
// (a JPEG holds at most about 16 MB of profile) and far below PNG's 2^31 - 1
// bytes per chunk.
constexpr size_t kMaxChunkBytes = size_t{1} << 26;
// The keyword under which XMP travels in PNG (as Adobe's XMP documentation, part 3, names it).
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

// Writes the head of the file described by job: the signature, IHDR and the
// metadata chunks, everything before the image data. False with job->message
// on failure.
bool writePngHead(PngJob* job) {
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
  png_destroy_write_struct(&png, &info);
  return true;
}

// Whether libpng writes a 1 x 1 picture of the given kind carrying only the
// chunks set in trial: its checks of a profile end in an error, so a chunk is
// tried on its own before it goes into the real file.
bool chunkWritable(PngJob trial, bool grey) {
  static const uint8_t kPixel[3] = {0, 0, 0};
  std::vector<uint8_t> scratch;
  trial.top = kPixel;
  trial.stride = 0;
  trial.width = 1;
  trial.height = 1;
  trial.grey = grey;
  trial.requireChunks = true;
  trial.out = &scratch;
  return writePngHead(&trial);
}

bool looksLikeExif(const std::vector<uint8_t>& exif) {
  static const uint8_t kIntel[4] = {'I', 'I', 42, 0};
  static const uint8_t kMotorola[4] = {'M', 'M', 0, 42};
  return exif.size() >= 8 && exif.size() <= kMaxChunkBytes &&
         (std::memcmp(exif.data(), kIntel, 4) == 0 || std::memcmp(exif.data(), kMotorola, 4) == 0);
}

// The samples of picture row r: R, G, B, or only R (= G = B) when grey.
void rowSamples(const PngJob& job, int r, uint8_t* dst) {
  const uint8_t* src = job.top + r * job.stride;
  if (!job.grey) {
    std::memcpy(dst, src, static_cast<size_t>(job.width) * 3);
    return;
  }
  for (int x = 0; x < job.width; ++x) dst[x] = src[3 * x];
}

// PNG's Paeth predictor: of left a, above b and upper-left c, the one nearest
// to a + b - c, ties to a, then b.
inline uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = p > a ? p - a : a - p;
  const int pb = p > b ? p - b : b - p;
  const int pc = p > c ? p - c : c - p;
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Filters one row of n samples (bpp a pixel) with the Paeth filter into out:
// the filter type byte, then n bytes. above is the row above (zeros for the
// first row).
void paethRow(const uint8_t* row, const uint8_t* above, size_t n, int bpp, uint8_t* out) {
  out[0] = kPaethFilter;
  for (int i = 0; i < bpp; ++i) out[1 + i] = static_cast<uint8_t>(row[i] - above[i]);
  for (size_t i = bpp; i < n; ++i) {
    out[1 + i] = static_cast<uint8_t>(row[i] - paeth(row[i - bpp], above[i], above[i - bpp]));
  }
}

// One band of rows [firstRow, endRow), deflated.
struct Band {
  std::vector<uint8_t> packed;
  uLong adler = 1;      // adler32 of the band's filtered bytes
  size_t rawBytes = 0;  // how many filtered bytes
  bool ok = false;
};

// Filters rows [first, end) and deflates them as one piece of a raw deflate
// stream: primed with the filtered bytes before the band (up to the window),
// ended on a byte boundary (sync flush), or finished when last.
bool deflateBand(const PngJob& job, int first, int end, bool last, Band* band) {
  const int bpp = job.grey ? 1 : 3;
  const size_t n = static_cast<size_t>(job.width) * bpp;
  std::vector<uint8_t> above(n, 0), row(n), filtered(n + 1);
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, kZlibLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = true;
  // The window the decoder holds when it reaches this band.
  const int primeRows = std::min<int>(first, static_cast<int>((kWindowBytes + n) / (n + 1)));
  if (primeRows > 0) {
    std::vector<uint8_t> window;
    if (first - primeRows > 0) rowSamples(job, first - primeRows - 1, above.data());
    for (int r = first - primeRows; r < first; ++r) {
      rowSamples(job, r, row.data());
      paethRow(row.data(), above.data(), n, bpp, filtered.data());
      window.insert(window.end(), filtered.begin(), filtered.end());
      std::swap(row, above);
    }
    const size_t keep = std::min(window.size(), kWindowBytes);
    ok = deflateSetDictionary(&zs, window.data() + window.size() - keep, static_cast<uInt>(keep)) ==
         Z_OK;
  }
  band->rawBytes = (n + 1) * static_cast<size_t>(end - first);
  band->packed.resize(deflateBound(&zs, band->rawBytes) + 64);
  zs.next_out = band->packed.data();
  zs.avail_out = static_cast<uInt>(band->packed.size());
  auto pump = [&](int flush) {
    for (;;) {
      if (zs.avail_out == 0) {  // deflateBound should make this unreachable
        const size_t done = band->packed.size();
        band->packed.resize(done * 2);
        zs.next_out = band->packed.data() + done;
        zs.avail_out = static_cast<uInt>(band->packed.size() - done);
      }
      const int result = deflate(&zs, flush);
      if (result == Z_STREAM_END) return true;
      if (result != Z_OK && result != Z_BUF_ERROR) return false;
      if (flush == Z_NO_FLUSH && zs.avail_in == 0) return true;
      if (flush == Z_SYNC_FLUSH && zs.avail_out != 0) return true;
    }
  };
  for (int r = first; ok && r < end; ++r) {
    rowSamples(job, r, row.data());
    paethRow(row.data(), above.data(), n, bpp, filtered.data());
    band->adler = adler32(band->adler, filtered.data(), static_cast<uInt>(n + 1));
    zs.next_in = filtered.data();
    zs.avail_in = static_cast<uInt>(n + 1);
    ok = pump(Z_NO_FLUSH);
    std::swap(row, above);
  }
  if (ok) ok = pump(last ? Z_FINISH : Z_SYNC_FLUSH);
  band->packed.resize(ok ? band->packed.size() - zs.avail_out : 0);
  deflateEnd(&zs);
  return ok;
}

void appendBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Appends one chunk: length, type, data, CRC of type and data.
void appendChunk(std::vector<uint8_t>* out, const char* type, const uint8_t* data, size_t size) {
  appendBe32(out, static_cast<uint32_t>(size));
  const size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  if (size > 0) out->insert(out->end(), data, data + size);
  appendBe32(out,
             static_cast<uint32_t>(crc32(0, out->data() + start, static_cast<uInt>(size + 4))));
}

// Appends the IDAT chunks and IEND of the picture in job to *out (which holds
// the head). The zlib stream: a header, the bands' deflate pieces in order,
// the adler32 of all filtered bytes. False when memory or zlib fails.
bool appendImageData(const PngJob& job, ThreadPool* pool, std::vector<uint8_t>* out) {
  const size_t filteredRow = static_cast<size_t>(job.width) * (job.grey ? 1 : 3) + 1;
  const int bandRows = static_cast<int>(std::max<size_t>(1, kBandBytes / filteredRow));
  const int bands = (job.height + bandRows - 1) / bandRows;
  std::vector<Band> done(bands);
  // zlib header: deflate with a 32 KiB window, "fast" level; the check bits
  // make the 16-bit value a multiple of 31.
  std::vector<uint8_t> pending = {0x78, 0x5E};
  uLong adler = adler32(0, nullptr, 0);
  bool ok = true;
  auto task = [&](int b, int) {
    try {
      const int first = b * bandRows;
      done[b].ok =
          deflateBand(job, first, std::min(job.height, first + bandRows), b == bands - 1, &done[b]);
    } catch (...) {
      done[b].ok = false;
    }
  };
  // In band order, on the calling thread: into IDAT chunks, memory given back.
  auto emit = [&](int b) {
    Band& band = done[b];
    try {
      if (ok && band.ok) {
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.rawBytes));
        pending.insert(pending.end(), band.packed.begin(), band.packed.end());
        if (b == bands - 1) {
          for (int i = 3; i >= 0; --i) pending.push_back(static_cast<uint8_t>(adler >> (8 * i)));
        }
        size_t at = 0;
        const bool flushAll = b == bands - 1;
        while (pending.size() - at >= kIdatBytes || (flushAll && at < pending.size())) {
          const size_t size = std::min(kIdatBytes, pending.size() - at);
          appendChunk(out, "IDAT", pending.data() + at, size);
          at += size;
        }
        pending.erase(pending.begin(), pending.begin() + at);
      } else {
        ok = false;
      }
    } catch (...) {
      ok = false;
    }
    band = Band();
  };
  if (pool != nullptr && bands > 1) {
    pool->run(bands, task, emit);
  } else {
    for (int b = 0; b < bands; ++b) {
      task(b, 0);
      emit(b);
    }
  }
  if (!ok) return false;
  appendChunk(out, "IEND", nullptr, 0);
  return true;
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
                 const ImageMetadata& metadata, std::vector<uint8_t>* out, ThreadPool* pool) {
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
    const bool greyPixels = isGreyPicture(top, stride, width, height);
    job.grey = greyPixels;
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

    bool written = writePngHead(&job);
    if (!written && !job.outOfMemory &&
        (job.icc != nullptr || job.exif != nullptr || job.xmp != nullptr)) {
      // Never lose the picture over its metadata: once more without it.
      out->clear();
      job.icc = nullptr;
      job.exif = nullptr;
      job.xmp = nullptr;
      job.grey = greyPixels;
      written = writePngHead(&job);
    }
    if (!written) {
      out->clear();
      if (job.outOfMemory) {
        return tooLittleMemory();
      }
      return Status(StatusCode::kIoError, std::string("cannot encode picture: ") + job.message);
    }
    if (!appendImageData(job, pool, out)) {
      out->clear();
      return Status(StatusCode::kTooLarge, "not enough memory to compress the picture");
    }
  } catch (const std::bad_alloc&) {
    out->clear();
    return tooLittleMemory();
  }
  return Status::Ok();
}

}  // namespace nubo
