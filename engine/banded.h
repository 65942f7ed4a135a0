// Cleaning a picture band by band: the one cleaning path of the command line,
// the window (removeRinging, app/working_image.h) and the trainer's scorer. Only a few rows of
// luminance and edge blocks exist at a time, so memory stays near the size of
// the input and output pictures themselves.
#ifndef NUBO_ENGINE_BANDED_H_
#define NUBO_ENGINE_BANDED_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/codebook.h"
#include "engine/progress.h"
#include "engine/rgb_rows.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"

namespace nubo {

// Thread time spent in each stage, summed over the workers (nanoseconds).
struct BandTimes {
  std::atomic<int64_t> preprocessNs{0};  // luminance, grey, Sobel, edge blocks
  std::atomic<int64_t> passNs{0};        // the cleaning of the luminance
  std::atomic<int64_t> backNs{0};        // conversion back to RGB into the output
};

// Rows of a band: a multiple of the 8-row block height.
int bandRowsFor(int width, int height, int threads);

// Cleans the width x height picture in into out (which must not overlap it):
// the two-pixel border is copied, every interior pixel gets its Y from
// cleanLuma's rules (the luminance and the Sobel edge blocks of the input) and
// its bytes from pixelAfterPass; the same bytes whatever the band size and
// thread count. Bands of bandRows rows (0: bandRowsFor) run on pool. Reports
// "Removing ringing......", "Removing ringing...... N0%" before the first row
// of each tenth of the height (every row under 10 rows) and "Ready", in order,
// on the calling thread. times may be null. cleanedLuma, when not null, receives
// the Y of every pixel after the pass (height rows of width floats, top row
// first; the border keeps its input Y). Allocates a few rows per worker; throws
// std::bad_alloc when it cannot.
void cleanInBands(const RgbRows& in, const MutableRgbRows& out, int width, int height,
                  const Codebook& codebook, const CleanOptions& options, ThreadPool* pool,
                  const StatusCallback& showStatus, BandTimes* times, int bandRows = 0,
                  float* cleanedLuma = nullptr);

}  // namespace nubo

#endif  // NUBO_ENGINE_BANDED_H_
