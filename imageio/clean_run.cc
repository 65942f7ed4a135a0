// The banded run: decoded rows in, output file bytes out.
#include "imageio/clean_run.h"

#include <chrono>
#include <new>
#include <vector>

#include "engine/file_util.h"
#include "imageio/png_write.h"

namespace nubo {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

Status cleanToFile(DecodedImage* picture, const Codebook& codebook, const CleanOptions& options,
                   ThreadPool* pool, const std::string& path, ImageFormat format, bool overwrite,
                   const StatusCallback& showStatus, RunTimes* times) {
  const int w = picture->width, h = picture->height;
  if (w < 1 || h < 1 || picture->rgb.size() < static_cast<size_t>(w) * h * 3) {
    return Status(StatusCode::kInvalidArgument, "no picture");
  }
  const size_t row = static_cast<size_t>(w) * 3;
  // Decoded rows are bottom first: picture row 0 (the top) is the last one.
  const RgbRows in{picture->rgb.data() + (h - 1) * row, -static_cast<ptrdiff_t>(row), false};
  BandTimes bandTimes;
  std::vector<uint8_t> bytes;
  try {
    if (format == ImageFormat::kBmp) {
      // Clean straight into the file's pixel rows (bottom first, B, G, R).
      const size_t bmpRow = bmpRowBytes(w);
      bytes.resize(kBmpHeaderBytes + bmpRow * h);
      writeBmpHeader(w, h, bytes.data());
      for (int r = 0; r < h; ++r) {  // row padding
        std::fill(bytes.begin() + kBmpHeaderBytes + bmpRow * r + row,
                  bytes.begin() + kBmpHeaderBytes + bmpRow * (r + 1), 0);
      }
      const MutableRgbRows out{bytes.data() + kBmpHeaderBytes + (h - 1) * bmpRow,
                               -static_cast<ptrdiff_t>(bmpRow), true};
      cleanInBands(in, out, w, h, codebook, options, pool, showStatus, &bandTimes);
      *picture = DecodedImage();
    } else {
      const ImageMetadata metadata = std::move(picture->metadata);
      std::vector<uint8_t> pixels(row * h);
      const MutableRgbRows out{pixels.data() + (h - 1) * row, -static_cast<ptrdiff_t>(row), false};
      cleanInBands(in, out, w, h, codebook, options, pool, showStatus, &bandTimes);
      *picture = DecodedImage();
      const auto start = Clock::now();
      // The cleaned rows are bottom first; the pool compresses bands of them.
      const Status s = encodePng(pixels.data() + (h - 1) * row, -static_cast<ptrdiff_t>(row), w,
                                 h, metadata, &bytes, pool);
      if (!s.ok()) return s;
      if (times != nullptr) times->encodeMs = msSince(start);
    }
  } catch (const std::bad_alloc&) {
    return Status(StatusCode::kTooLarge, "not enough memory for the picture");
  }
  if (times != nullptr) {
    const double perWorker = 1e-6 / pool->size();
    times->preprocessMs = bandTimes.preprocessNs * perWorker;
    times->passMs = bandTimes.passNs * perWorker;
    times->backMs = bandTimes.backNs * perWorker;
  }
  const auto start = Clock::now();
  const Status s = writeFileAtomically(path, bytes.data(), bytes.size(), overwrite);
  if (times != nullptr) times->writeMs = msSince(start);
  return s;
}

}  // namespace nubo
