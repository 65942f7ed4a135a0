// The banded run: decoded rows in, output file bytes out.
#include "tools/clean_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <vector>

#include "fileio/file_util.h"
#include "imageio/png_write.h"

namespace nubo {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Writes all of bytes to the open descriptor fd.
Status writeAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      return Status(StatusCode::kIoError,
                    std::string("write error: ") + std::strerror(n < 0 ? errno : EIO));
    }
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

// The descriptor a name stands for: 1 for "-" and /dev/stdout, 2 for
// /dev/stderr, N for /dev/fd/N and /proc/self/fd/N; -1 for any other name.
int descriptorNamed(const std::string& path) {
  if (path == "-" || path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
    int fd = 0;
    for (size_t k = n; k < path.size(); ++k) {
      if (path[k] < '0' || path[k] > '9') return -1;
      fd = fd * 10 + (path[k] - '0');
    }
    return fd;
  }
  return -1;
}

}  // namespace

OutputKind outputKindOf(const std::string& path) {
  if (path == "-") return OutputKind::kStandardOutput;
  if (descriptorNamed(path) >= 0) return OutputKind::kInPlace;
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    return OutputKind::kInPlace;
  }
  return OutputKind::kRegularFile;
}

Status writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite) {
  switch (outputKindOf(path)) {
    case OutputKind::kStandardOutput:
      return writeAll(STDOUT_FILENO, bytes);
    case OutputKind::kInPlace: {
      // A name of one of our descriptors: that descriptor, as the shell set it up.
      if (const int named = descriptorNamed(path); named >= 0) return writeAll(named, bytes);
      // An existing device or pipe; O_CREAT is not needed, nothing new is made.
      const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0) {
        return Status(StatusCode::kIoError, std::string("cannot open: ") + std::strerror(errno));
      }
      Status s = writeAll(fd, bytes);
      if (::close(fd) != 0 && s.ok()) {
        s = Status(StatusCode::kIoError, std::string("write error: ") + std::strerror(errno));
      }
      return s;
    }
    case OutputKind::kRegularFile:
      break;
  }
  return writeFileAtomically(path, bytes.data(), bytes.size(), overwrite);
}

Status cleanToFile(DecodedImage* picture, const Codebook& codebook, const CleanOptions& options,
                   ThreadPool* pool, const std::string& path, ImageFormat format, bool overwrite,
                   const StatusCallback& showStatus, RunTimes* times) {
  std::vector<uint8_t> bytes;
  const Status s =
      cleanToBytes(picture, codebook, options, pool, format, showStatus, times, &bytes);
  if (!s.ok()) return s;
  const auto start = Clock::now();
  const Status written = writeOutput(path, bytes, overwrite);
  if (times != nullptr) times->writeMs = msSince(start);
  return written;
}

Status cleanToBytes(DecodedImage* picture, const Codebook& codebook, const CleanOptions& options,
                    ThreadPool* pool, ImageFormat format, const StatusCallback& showStatus,
                    RunTimes* times, std::vector<uint8_t>* result) {
  std::vector<uint8_t>& bytes = *result;
  bytes.clear();
  const int w = picture->width, h = picture->height;
  if (w < 1 || h < 1 || picture->rgb.size() < static_cast<size_t>(w) * h * 3) {
    return Status(StatusCode::kInvalidArgument, "no picture");
  }
  const size_t row = static_cast<size_t>(w) * 3;
  // Decoded rows are bottom first: picture row 0 (the top) is the last one.
  const RgbRows in{picture->rgb.data() + (h - 1) * row, -static_cast<ptrdiff_t>(row), false};
  BandTimes bandTimes;
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
      const Status s = encodePng(pixels.data() + (h - 1) * row, -static_cast<ptrdiff_t>(row), w, h,
                                 metadata, &bytes, pool);
      if (!s.ok()) return s;
      if (times != nullptr) times->encodeMs = msSince(start);
    }
  } catch (const std::bad_alloc&) {
    return tooLittleMemory();
  }
  if (times != nullptr) {
    const double perWorker = 1e-6 / pool->size();
    times->preprocessMs = bandTimes.preprocessNs * perWorker;
    times->passMs = bandTimes.passNs * perWorker;
    times->backMs = bandTimes.backNs * perWorker;
  }
  return Status::Ok();
}

}  // namespace nubo
