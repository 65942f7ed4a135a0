// The band cleaner. A band of block rows [u0, u1) computes the luminance of its
// rows and 9 rows either side (the Sobel of the neighbouring block rows needs
// one more row beyond them), the edge blocks of its own and the neighbouring
// block rows (the 5x5 window reaches two rows into them), then cleans and
// converts its rows. Bands overlap only in what they read, so they run in any
// order on any worker.
#include "engine/banded.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/colour.h"
#include "engine/pixel_rule.h"
#include "engine/preprocess.h"
#include "engine/window_kernels.h"

namespace nubo {

namespace {

// Rows of luminance a band computes beyond its own, above and below: two for
// the window, up to eight more for the neighbouring block row's Sobel, and its
// own row beyond that.
constexpr int kMargin = kBlockSize + 1;

// Edge pixels searched at once: enough for many to share a node of the tree,
// few enough that their patches (100 bytes each, twice) stay in the caches.
constexpr int kEdgeBatch = 16384;

using Clock = std::chrono::steady_clock;

int64_t nsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

struct Scratch {
  std::vector<float> y;         // luminance rows yLo.., width each
  std::vector<uint8_t> grey;    // the same rows as grey levels
  std::vector<uint8_t> mask;    // one row of the edge mask
  std::vector<uint8_t> blocks;  // edge flags of block rows ub0.., one per block column
  std::vector<float> outY;      // the band's cleaned rows
  SearchBuffers search;
  std::unique_ptr<EdgePixelBatch> batch;  // the band's edge pixels, searched together
};

inline void rgbOf(const uint8_t* p, bool bgr, int* r, int* g, int* b) {
  *r = bgr ? p[2] : p[0];
  *g = p[1];
  *b = bgr ? p[0] : p[2];
}

inline void putRgb(uint8_t* p, bool bgr, const uint8_t* rgb) {
  p[0] = bgr ? rgb[2] : rgb[0];
  p[1] = rgb[1];
  p[2] = bgr ? rgb[0] : rgb[2];
}

inline void copyPixel(const uint8_t* from, bool fromBgr, uint8_t* to, bool toBgr) {
  to[0] = fromBgr == toBgr ? from[0] : from[2];
  to[1] = from[1];
  to[2] = fromBgr == toBgr ? from[2] : from[0];
}

struct Job {
  const RgbRows* in;
  const MutableRgbRows* out;
  int width;
  int height;
  int bandRows;
  const Codebook* codebook;
  const CleanOptions* options;
  BandTimes* times;
  float* cleanedLuma;
};

void cleanBand(const Job& job, int band, Scratch* s) {
  const int w = job.width, h = job.height;
  const int blockCols = (w + kBlockSize - 1) / kBlockSize;
  const int blockRows = (h + kBlockSize - 1) / kBlockSize;
  const int r0 = band * job.bandRows, r1 = std::min(h, r0 + job.bandRows);
  const int yLo = std::max(0, r0 - kMargin), yHi = std::min(h, r1 + kMargin);
  const int u0 = r0 / kBlockSize, u1 = (r1 + kBlockSize - 1) / kBlockSize;
  const int ub0 = std::max(0, u0 - 1), ub1 = std::min(blockRows, u1 + 1);
  const RgbRows& in = *job.in;
  auto inRow = [&](int y) { return in.top + static_cast<ptrdiff_t>(y) * in.stride; };

  auto start = Clock::now();
  const bool vectors = windowVectorsEnabled();
  for (int y = yLo; y < yHi; ++y) {
    const uint8_t* p = inRow(y);
    float* yRow = s->y.data() + static_cast<size_t>(y - yLo) * w;
    uint8_t* gRow = s->grey.data() + static_cast<size_t>(y - yLo) * w;
    const int done = vectors ? lumaRowAvx2(p, in.bgr, w, yRow, gRow) : 0;
    p += 3 * done;
    for (int x = done; x < w; ++x, p += 3) {
      int r, g, b;
      rgbOf(p, in.bgr, &r, &g, &b);
      yRow[x] = rgbToLuma(r, g, b);
      // Y times 255, truncated: Y = 1 gives 255 (as detectEdgeBlocks).
      gRow[x] = static_cast<uint8_t>(static_cast<int>(static_cast<double>(yRow[x]) * 255.0));
    }
  }
  auto greyRow = [&](int y) {
    y = std::min(std::max(y, 0), h - 1);
    return s->grey.data() + static_cast<size_t>(y - yLo) * w;
  };
  std::fill(s->blocks.begin(), s->blocks.end(), 0);
  for (int u = ub0; u < ub1; ++u) {
    uint8_t* flags = s->blocks.data() + static_cast<size_t>(u - ub0) * blockCols;
    for (int y = u * kBlockSize; y < std::min(h, (u + 1) * kBlockSize); ++y) {
      sobelMaskRow(greyRow(y - 1), greyRow(y), greyRow(y + 1), w, s->mask.data());
      for (int v = 0; v < blockCols; ++v) {
        if (flags[v]) continue;
        const uint8_t* m = s->mask.data() + v * kBlockSize;
        const int n = std::min(kBlockSize, w - v * kBlockSize);
        for (int k = 0; k < n; ++k) flags[v] |= m[k];
      }
    }
  }
  int64_t preprocessNs = nsSince(start), passNs = 0, backNs = 0;

  auto edgeAt = [&](int y, int x) {
    return s->blocks[static_cast<size_t>(y / kBlockSize - ub0) * blockCols + x / kBlockSize] != 0;
  };
  const bool smooth = job.options->smoothNonEdge;
  const bool convertAll = job.options->convertAll;
  const MutableRgbRows& out = *job.out;
  auto interior = [&](int i) { return i >= 2 && i < h - 2 && w >= 5; };
  // The pass over the band's rows first, so that the edge pixels of all of
  // them are searched together. Four adjacent pixels at a time where the
  // processor allows (and the picture is at least 8 wide, so that four
  // interior pixels fit side by side).
  start = Clock::now();
  EdgePixelBatch& batch = *s->batch;
  batch.setOutput(s->outY.data(), 1);
  const bool fours = vectors && w >= 8;
  float local[kPatchSize];
  for (int i = r0; i < r1; ++i) {
    if (!interior(i)) continue;
    const float* yRow = s->y.data() + static_cast<size_t>(i - yLo) * w;
    float* outRow = s->outY.data() + static_cast<size_t>(i - r0) * w;
    const size_t rowAt = static_cast<size_t>(i - r0) * w;
    auto gather = [&](int j, float* patch) { gatherWindow(yRow + j, w, 1, patch); };
    // Every pixel's Y as it was; edge pixels get theirs from the batch.
    std::memcpy(outRow + 2, yRow + 2, static_cast<size_t>(w - 4) * sizeof(float));
    const uint8_t* flags = s->blocks.data() + static_cast<size_t>(i / kBlockSize - ub0) * blockCols;
    for (int j = 2; j <= w - 3;) {
      if (!flags[j / kBlockSize]) {
        j = (j / kBlockSize + 1) * kBlockSize;
        continue;
      }
      // A run of edge pixels: whole edge blocks side by side, within the interior.
      int last = std::min(w - 3, j / kBlockSize * kBlockSize + kBlockSize - 1);
      while (last < w - 3 && flags[(last + 1) / kBlockSize]) {
        last = std::min(w - 3, last + kBlockSize);
      }
      if (fours) {
        for (int g = j; g <= last; g += 4) {
          const int at = std::min(g, w - 6);  // four interior pixels from at
          batch.addEdgeFour(yRow + at, w, rowAt + at, g - at, std::min(g + 3, last) - at);
        }
      } else {
        for (int k = j; k <= last; ++k) {
          gather(k, batch.nextPatch());
          batch.addEdgePixel(rowAt + k, yRow[k]);
        }
      }
      j = last + 1;
    }
    if (!smooth) continue;
    // Smoothing: the window mean of non-edge pixels with no edge block within
    // their window (the window spans at most two block rows and two block
    // columns); means computed four at a time and kept for the next pixels.
    float means[4];
    int meansFrom = -8;
    for (int j = 2; j <= w - 3; ++j) {
      if (edgeAt(i, j)) continue;
      const bool nearEdge = edgeAt(i - 2, j - 2) || edgeAt(i - 2, j + 2) || edgeAt(i + 2, j - 2) ||
                            edgeAt(i + 2, j + 2);
      if (nearEdge) continue;
      if (!fours) {
        gather(j, local);
        outRow[j] = cleanLuma(local, yRow[j], false, false, true, *job.codebook);
        continue;
      }
      if (j > meansFrom + 3) {
        meansFrom = std::min(j, w - 6);
        meanFourAvx2(yRow + meansFrom, w, means);
      }
      outRow[j] = means[j - meansFrom];
    }
  }
  batch.flush();
  passNs += nsSince(start);

  start = Clock::now();
  for (int i = r0; i < r1; ++i) {
    const uint8_t* src = inRow(i);
    uint8_t* dst = out.top + static_cast<ptrdiff_t>(i) * out.stride;
    if (!interior(i)) {
      for (int x = 0; x < w; ++x) copyPixel(src + 3 * x, in.bgr, dst + 3 * x, out.bgr);
      continue;
    }
    const float* yRow = s->y.data() + static_cast<size_t>(i - yLo) * w;
    const float* outRow = s->outY.data() + static_cast<size_t>(i - r0) * w;
    for (int x = 0; x < 2; ++x) {
      copyPixel(src + 3 * x, in.bgr, dst + 3 * x, out.bgr);
      copyPixel(src + 3 * (w - 1 - x), in.bgr, dst + 3 * (w - 1 - x), out.bgr);
    }
    int j = 2;
    if (vectors) {
      for (; j + 3 <= w - 3; j += 4) {
        const uint8_t* p = src + 3 * j;
        if (!convertAll && outRow[j] == yRow[j] && outRow[j + 1] == yRow[j + 1] &&
            outRow[j + 2] == yRow[j + 2] && outRow[j + 3] == yRow[j + 3]) {
          for (int k = 0; k < 4; ++k) copyPixel(p + 3 * k, in.bgr, dst + 3 * (j + k), out.bgr);
          continue;
        }
        afterPassFourAvx2(p, in.bgr, yRow + j, outRow + j, convertAll, dst + 3 * j, out.bgr);
      }
    }
    for (; j <= w - 3; ++j) {
      const uint8_t* p = src + 3 * j;
      if (!convertAll && outRow[j] == yRow[j]) {
        copyPixel(p, in.bgr, dst + 3 * j, out.bgr);
        continue;
      }
      int r, g, b;
      rgbOf(p, in.bgr, &r, &g, &b);
      const uint8_t rgbIn[3] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                                static_cast<uint8_t>(b)};
      uint8_t rgb[3];
      pixelAfterPass(rgbIn, yRow[j], outRow[j], convertAll, rgb);
      putRgb(dst + 3 * j, out.bgr, rgb);
    }
  }
  backNs += nsSince(start);
  if (job.cleanedLuma != nullptr) {
    for (int i = r0; i < r1; ++i) {
      const float* yRow = s->y.data() + static_cast<size_t>(i - yLo) * w;
      float* to = job.cleanedLuma + static_cast<size_t>(i) * w;
      std::copy(yRow, yRow + w, to);
      if (!interior(i)) continue;
      const float* outRow = s->outY.data() + static_cast<size_t>(i - r0) * w;
      std::memcpy(to + 2, outRow + 2, static_cast<size_t>(w - 4) * sizeof(float));
    }
  }
  if (job.times != nullptr) {
    job.times->preprocessNs += preprocessNs;
    job.times->passNs += passNs;
    job.times->backNs += backNs;
  }
}

}  // namespace

int bandRowsFor(int width, int height, int threads) {
  (void)width;
  // About eight bands a worker balance the load; 128 rows at most keep a band's
  // rows in the caches, 16 at least keep the recomputed margins small.
  const int blockRows = (height + kBlockSize - 1) / kBlockSize;
  const int perBand = (blockRows + 8 * threads - 1) / (8 * threads);
  return std::min(16, std::max(2, perBand)) * kBlockSize;
}

void cleanInBands(const RgbRows& in, const MutableRgbRows& out, int width, int height,
                  const Codebook& codebook, const CleanOptions& options, ThreadPool* pool,
                  const StatusCallback& showStatus, BandTimes* times, int bandRows,
                  float* cleanedLuma) {
  if (width < 1 || height < 1) return;
  if (showStatus) showStatus("Removing ringing......");
  if (bandRows <= 0) bandRows = bandRowsFor(width, height, pool->size());
  bandRows = (bandRows + kBlockSize - 1) / kBlockSize * kBlockSize;
  const int bands = (height + bandRows - 1) / bandRows;
  const int blockCols = (width + kBlockSize - 1) / kBlockSize;
  const int bufferRows = std::min(height, bandRows + 2 * kMargin);
  std::vector<Scratch> scratch(pool->size());
  for (Scratch& s : scratch) {
    s.y.resize(static_cast<size_t>(bufferRows) * width);
    s.grey.resize(static_cast<size_t>(bufferRows) * width);
    s.mask.resize(static_cast<size_t>(blockCols) * kBlockSize);
    s.blocks.resize(static_cast<size_t>(bandRows / kBlockSize + 2) * blockCols);
    s.outY.resize(static_cast<size_t>(std::min(height, bandRows)) * width);
    s.batch = std::make_unique<EdgePixelBatch>(codebook, kEdgeBatch, &s.search);
  }
  const Job job{&in, &out, width, height, bandRows, &codebook, &options, times, cleanedLuma};
  // Progress in tenths of the height, before the first row of each tenth;
  // pictures under 10 rows report every row.
  const int step = height / 10 > 0 ? height / 10 : 1;
  int nextRow = 2;
  pool->run(
      bands, [&](int band, int worker) { cleanBand(job, band, &scratch[worker]); },
      [&](int band) {
        if (!showStatus) return;
        const int last = std::min(height - 3, (band + 1) * bandRows - 1);
        for (; nextRow <= last; ++nextRow) {
          if (nextRow % step == 0) {
            char text[64];
            std::snprintf(text, sizeof text, "Removing ringing...... %d0%%", nextRow / step);
            showStatus(text);
          }
        }
      });
  if (showStatus) showStatus("Ready");
}

}  // namespace nubo
