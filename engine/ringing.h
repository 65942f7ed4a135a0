// The ringing-removal pass: codebook prediction of the luminance of every
// interior pixel of an edge block, accepted within 0.08 of the input.
#ifndef NUBO_ENGINE_RINGING_H_
#define NUBO_ENGINE_RINGING_H_

#include <cstddef>
#include <vector>

#include "engine/codebook.h"
#include "engine/pixel_rule.h"
#include "engine/preprocess.h"
#include "engine/progress.h"
#include "engine/search.h"

namespace nubo {

class ThreadPool;

struct CleanOptions {
  bool smoothNonEdge = false;  // replace Y far from edge blocks by the 5x5 mean
  int threads = 0;             // 0: all cores; the output is the same for any count
  // Every interior pixel converted back from YIQ (yiqToRgb), whether the pass
  // changed it or not. Off by default: see pixelAfterPass.
  bool convertAll = false;
};

// The R, G, B bytes of an interior pixel after the pass, from its input bytes
// rgb (R, G, B), its input Y and the Y the pass gave it:
// - convertAll: yiqToRgb of (outputY, I, Q of the input), for every pixel; the
//   truncation of that conversion may lose a level per channel even where the
//   pass changed nothing.
// - otherwise a pixel whose Y is exactly its input Y keeps its input bytes; a
//   changed pixel whose input was grey (R = G = B) becomes grey again, all three
//   bytes lumaToByte(outputY) (the level of its new luminance, what yiqToRgb
//   gives without chrominance); any other changed pixel takes yiqToRgb. So a
//   picture the pass leaves alone comes out byte for byte, and a grey picture
//   stays grey.
void pixelAfterPass(const uint8_t* rgb, float inputY, float outputY, bool convertAll, uint8_t* out);

// The luminance result for interior pixel (i, j) (row 0 = top) by the rules of
// the pass, from the whole-picture analysis, one search at a time. For the
// trainer and for tests.
float cleanPixel(const AnalysedImage& image, const Codebook& codebook, bool smoothNonEdge, int i,
                 int j);

// The luminance result of one interior pixel from its gathered 5x5 window
// (patch, row-major, overwritten), its input Y, whether it lies in an edge block
// and whether any window pixel does. The per-pixel rule that every cleaning
// path (whole picture or bands) applies.
float cleanLuma(float* patch, float y, bool edgePixel, bool nearEdge, bool smoothNonEdge,
                const Codebook& codebook);

// The two halves of cleanLuma for an edge pixel, normaliseForSearch and
// acceptPrediction, are in engine/pixel_rule.h.

// Edge pixels cleaned a batch at a time (searchCodebookBatch), with the same
// result per pixel as cleanLuma. The caller gathers a pixel's window into
// nextPatch() and hands it over with addEdgePixel(at, y); the pixel's Y lands
// in out[at * outStride] at once or at the latest by flush(). Batches hold up
// to capacity pixels (at least 4); buffers (may be null) serve the search.
class EdgePixelBatch {
 public:
  EdgePixelBatch(const Codebook& book, int capacity, SearchBuffers* buffers);
  ~EdgePixelBatch() { flush(); }
  EdgePixelBatch(const EdgePixelBatch&) = delete;
  EdgePixelBatch& operator=(const EdgePixelBatch&) = delete;

  // Where results go from now on (flushes what is pending first).
  void setOutput(float* out, int outStride);
  float* nextPatch() { return patches_.data() + static_cast<size_t>(count_) * kPatchSize; }
  void addEdgePixel(size_t at, float y);
  // The edge pixels from..to (lanes 0..3) of the four adjacent pixels whose
  // first has its Y at centre (rows stride floats apart, every window pixel of
  // the four readable) and its result at out[at * outStride]; the same results
  // as gathering each window into nextPatch() and calling addEdgePixel.
  // Needs windowVectorsEnabled().
  void addEdgeFour(const float* centre, ptrdiff_t stride, size_t at, int from, int to);
  void flush();

 private:
  struct Pending {
    float m, s, y;
    size_t at;
  };
  const Codebook& codebook_;
  SearchBuffers* buffers_;
  float* out_ = nullptr;
  int outStride_ = 1;
  int count_ = 0;
  int capacity_;
  std::vector<float> patches_;
  std::vector<Pending> pending_;
  std::vector<float> found_;
};

// Gathers the 5x5 Y window of pixel (i, j) of image into patch (row-major) and
// returns whether any of its 25 pixels lies in an edge block.
bool gatherPatch(const AnalysedImage& image, int i, int j, float* patch);

}  // namespace nubo

#endif  // NUBO_ENGINE_RINGING_H_
