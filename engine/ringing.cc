// The ringing-removal pass. Every pixel's result depends only on the input
// buffers, so rows are shared out among threads and the output is the same for
// any thread count; progress texts are produced on the calling thread, in order.
#include "engine/ringing.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/colour.h"
#include "engine/search.h"

namespace nubo {

namespace {

// Normalised patches are spread to a deviation of 0.3 around 0.5; predictions
// are scaled back by the reciprocal (the double nearest 10/3).
constexpr double kNormScale = 0.3;
constexpr double kNormCentre = 0.5;
constexpr double kInverseScale = 3.3333333333333335;

void report(const StatusCallback& showStatus, const std::string& text) {
  if (showStatus) showStatus(text);
}

std::string progressText(int tenths) {
  char text[64];
  std::snprintf(text, sizeof text, "Removing ringing...... %d0%%", tenths);
  return text;
}

int threadCount(int requested) {
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

// Runs rowFn(i, worker) for every row in [first, last] on `threads` workers
// (worker: 0..threads-1, the one running the row). Before row
// i is started (single thread) or once all rows before i are finished (several
// threads), beforeRow(i) runs on the calling thread, in increasing i.
template <typename RowFn, typename BeforeFn>
void forEachRow(int first, int last, int threads, RowFn rowFn, BeforeFn beforeRow) {
  if (last < first) return;
  const int rows = last - first + 1;
  if (threads > rows) threads = rows;
  if (threads <= 1) {
    for (int i = first; i <= last; ++i) {
      beforeRow(i);
      rowFn(i, 0);
    }
    return;
  }
  std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[rows]);
  for (int k = 0; k < rows; ++k) done[k].store(false, std::memory_order_relaxed);
  std::atomic<int> next{first};
  std::mutex mutex;
  std::condition_variable rowDone;
  std::vector<std::thread> workers;
  workers.reserve(threads);
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (;;) {
        const int i = next.fetch_add(1);
        if (i > last) return;
        rowFn(i, t);
        done[i - first].store(true, std::memory_order_release);
        { std::lock_guard<std::mutex> lock(mutex); }
        rowDone.notify_one();
      }
    });
  }
  for (int i = first; i <= last; ++i) {
    beforeRow(i);
    std::unique_lock<std::mutex> lock(mutex);
    rowDone.wait(lock, [&] { return done[i - first].load(std::memory_order_acquire); });
  }
  for (std::thread& worker : workers) worker.join();
}

}  // namespace

bool gatherPatch(const WorkingImage& image, int i, int j, float* patch) {
  const int w = image.imageWidth;
  bool nearEdge = false;
  for (int a = 0; a < 5; ++a) {
    const size_t row = static_cast<size_t>(i - 2 + a) * w + (j - 2);
    const float* y = image.inputYiq.data() + row * 3;
    const int32_t* edge = image.edgeBlockMap.data() + row;
    for (int b = 0; b < 5; ++b) {
      patch[5 * a + b] = y[3 * b];
      nearEdge = nearEdge || edge[b] != 0;
    }
  }
  return nearEdge;
}

void normalisePatch(float* patch, float m, float s) {
  for (int k = 0; k < kPatchSize; ++k) {
    patch[k] =
        static_cast<float>((static_cast<double>(patch[k]) - m) * kNormScale / s + kNormCentre);
  }
}

bool normaliseForSearch(float* patch, float* m, float* s) {
  *m = static_cast<float>(patchMean(patch));
  *s = static_cast<float>(patchStdDev(*m, patch));
  if (*s == 0.0f) return false;  // flat window: nothing to normalise by
  normalisePatch(patch, *m, *s);
  return true;
}

float acceptPrediction(float d, float m, float s, float y) {
  if (d == -1.0f || std::isnan(d)) return y;
  const double p = ((d - kNormCentre) * s) * kInverseScale + m;
  return std::fabs(p - y) < kAcceptLimit ? static_cast<float>(p) : y;
}

float cleanLuma(float* patch, float y, bool edgePixel, bool nearEdge, bool smoothNonEdge,
                const Codebook& codebook) {
  if (!edgePixel) {
    // Smooth only where no edge block lies within the window.
    return !smoothNonEdge || nearEdge ? y : static_cast<float>(patchMean(patch));
  }
  float m, s;
  if (!normaliseForSearch(patch, &m, &s)) return y;
  return acceptPrediction(searchCodebook(patch, codebook), m, s, y);
}

EdgePixelBatch::EdgePixelBatch(const Codebook& book, int capacity, SearchBuffers* buffers)
    : codebook_(book),
      buffers_(buffers),
      capacity_(capacity < 1 ? 1 : capacity),
      patches_(static_cast<size_t>(capacity_) * kPatchSize),
      pending_(capacity_),
      found_(capacity_) {}

void EdgePixelBatch::setOutput(float* out, int outStride) {
  flush();
  out_ = out;
  outStride_ = outStride;
}

void EdgePixelBatch::addEdgePixel(size_t at, float y) {
  float m, s;
  if (!normaliseForSearch(nextPatch(), &m, &s)) {
    out_[at * outStride_] = y;
    return;
  }
  pending_[count_] = {m, s, y, at};
  if (++count_ == capacity_) flush();
}

void EdgePixelBatch::flush() {
  if (count_ == 0) return;
  searchCodebookBatch(patches_.data(), count_, codebook_, found_.data(), buffers_);
  for (int k = 0; k < count_; ++k) {
    const Pending& p = pending_[k];
    out_[p.at * outStride_] = acceptPrediction(found_[k], p.m, p.s, p.y);
  }
  count_ = 0;
}

void pixelAfterPass(const uint8_t* rgb, float inputY, float outputY, bool convertAll,
                    uint8_t* out) {
  if (!convertAll) {
    if (outputY == inputY) {
      // Y as it was: the input bytes, without the truncating round trip.
      out[0] = rgb[0];
      out[1] = rgb[1];
      out[2] = rgb[2];
      return;
    }
    if (rgb[0] == rgb[1] && rgb[1] == rgb[2]) {
      out[0] = out[1] = out[2] = lumaToByte(outputY);
      return;
    }
  }
  float yiq[3];
  rgbToYiq(yiq, rgb[0], rgb[1], rgb[2]);
  yiqToRgb(out, outputY, yiq[1], yiq[2]);
}

float cleanPixel(const WorkingImage& image, const Codebook& codebook, bool smoothNonEdge, int i,
                 int j) {
  const size_t at = static_cast<size_t>(i) * image.imageWidth + j;
  const float y = image.inputYiq[at * 3];
  const bool edgePixel = image.edgeBlockMap[at] != 0;
  if (!edgePixel && !smoothNonEdge) return y;
  float patch[kPatchSize];
  const bool nearEdge = gatherPatch(image, i, j, patch);
  return cleanLuma(patch, y, edgePixel, nearEdge, smoothNonEdge, codebook);
}

void removeRinging(WorkingImage* image, const Codebook& codebook, const CleanOptions& options,
                   const StatusCallback& showStatus) {
  if (!image->imageLoaded) return;
  report(showStatus, "Removing ringing......");
  const int w = image->imageWidth;
  const int h = image->imageHeight;
  // Progress in tenths of the height; pictures under 10 rows report every row.
  const int step = h / 10 > 0 ? h / 10 : 1;
  const int threads = threadCount(options.threads);
  const WorkingImage& in = *image;
  float* outY = image->outputYiq.data();
  // One batch a worker, for a row's edge pixels a few dozen at a time: the
  // buffers stay small and are made once.
  std::vector<std::unique_ptr<EdgePixelBatch>> batches;
  for (int t = 0; t < threads; ++t)
    batches.push_back(std::make_unique<EdgePixelBatch>(codebook, 64, nullptr));
  forEachRow(
      2, h - 3, threads,
      [&](int i, int worker) {
        float* rowY = outY + static_cast<size_t>(i) * w * 3;
        EdgePixelBatch& batch = *batches[worker];
        batch.setOutput(rowY, 3);
        for (int j = 2; j <= w - 3; ++j) {
          const size_t at = static_cast<size_t>(i) * w + j;
          if (in.edgeBlockMap[at] == 0) {
            rowY[j * 3] = cleanPixel(in, codebook, options.smoothNonEdge, i, j);
            continue;
          }
          gatherPatch(in, i, j, batch.nextPatch());
          batch.addEdgePixel(j, in.inputYiq[at * 3]);
        }
        batch.flush();
      },
      [&](int i) {
        if (i % step == 0) report(showStatus, progressText(i / step));
      });
  report(showStatus, "Ready");
  uint8_t* display = image->outputDisplay.data();
  forEachRow(
      2, h - 3, threads,
      [&](int i, int) {
        for (int j = 2; j <= w - 3; ++j) {
          const size_t at = (static_cast<size_t>(i) * w + j) * 3;
          const size_t offset = in.displayOffset(h - 1 - i, j);
          pixelAfterPass(in.inputDisplay.data() + offset, in.inputYiq[at], in.outputYiq[at],
                         options.convertAll, display + offset);
        }
      },
      [](int) {});
}

}  // namespace nubo
