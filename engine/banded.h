// Cleaning a picture band by band, for the command line: the same per-pixel
// rules as the whole-picture pass (removeRinging), but only a few rows of
// luminance and edge blocks exist at a time, so memory stays near the size of
// the input and output pictures themselves.
#ifndef NUBO_ENGINE_BANDED_H_
#define NUBO_ENGINE_BANDED_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/codebook.h"
#include "engine/progress.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"

namespace nubo {

// Rows of a picture in memory, 3 bytes a pixel: picture row y (0 = top) starts
// at top + y * stride (stride may be negative for rows stored bottom first).
// bgr: the bytes of a pixel are B, G, R instead of R, G, B.
struct RgbRows {
  const uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
  bool bgr = false;
};
struct MutableRgbRows {
  uint8_t* top = nullptr;
  ptrdiff_t stride = 0;
  bool bgr = false;
};

// Thread time spent in each stage, summed over the workers (nanoseconds).
struct BandTimes {
  std::atomic<int64_t> preprocessNs{0};  // luminance, grey, Sobel, edge blocks
  std::atomic<int64_t> passNs{0};        // the cleaning of the luminance
  std::atomic<int64_t> backNs{0};        // conversion back to RGB into the output
};

// Rows of a band: a multiple of the 8-row block height.
int bandRowsFor(int width, int height, int threads);

// Cleans the width x height picture in into out (which must not overlap it):
// every output byte equals what loadInput + removeRinging (same options) leave
// in the picture area of outputDisplay, whatever the band size and thread
// count. Bands of bandRows rows (0: bandRowsFor) run on pool. Reports the
// texts of removeRinging, in order, on the calling thread. times may be null.
// Allocates a few rows per worker; throws std::bad_alloc when it cannot.
void cleanInBands(const RgbRows& in, const MutableRgbRows& out, int width, int height,
                  const Codebook& codebook, const CleanOptions& options, ThreadPool* pool,
                  const StatusCallback& showStatus, BandTimes* times, int bandRows = 0);

}  // namespace nubo

#endif  // NUBO_ENGINE_BANDED_H_
