// The pass's per-pixel window arithmetic for four horizontally adjacent pixels
// at once, one pixel per vector lane. Every lane performs exactly the
// operations of the one-pixel code (patchMean, patchStdDev, normalisePatch and
// the luminance of rgbToYiq), in the same order and precision, so the results
// are the same bits; the lanes only spare the work of doing it four times.
#ifndef NUBO_ENGINE_WINDOW_KERNELS_H_
#define NUBO_ENGINE_WINDOW_KERNELS_H_

#include <cstddef>
#include <cstdint>

namespace nubo {

// Whether the vector kernels below may run: the processor has AVX2 and the
// search is not forced onto its portable or plain path (setSearchPath), which
// also forces the pass onto its one-pixel code.
bool windowVectorsEnabled();

// The windows of pixels j..j+3 of a row: centre points at pixel j's Y, rows
// are stride floats apart, and every window pixel (two rows and two columns
// around each of the four) must be readable. For lane k (pixel j+k):
// means[k] = float(patchMean(window)), devs[k] = float(patchStdDev(means[k],
// window)), and patches + 25k the window normalised with them (normalisePatch;
// meaningless where devs[k] is 0).
void normaliseFourAvx2(const float* centre, ptrdiff_t stride, float* patches, float* means,
                       float* devs);

// means[k] = float(patchMean(window of pixel j+k)), as above.
void meanFourAvx2(const float* centre, ptrdiff_t stride, float* means);

// Luminance of n pixels of 3 bytes (R, G, B, or B, G, R when bgr): y[x] is the
// Y of rgbToYiq, grey[x] that Y times 255, truncated. Returns how many pixels
// it did (a multiple of 4; it reads no byte beyond the n pixels), the rest is
// left to the caller.
int lumaRowAvx2(const uint8_t* pixels, bool bgr, int n, float* y, uint8_t* grey);

// pixelAfterPass for four adjacent pixels: in holds their 3 bytes each (R, G,
// B, or B, G, R when inBgr), inputY and outputY their Y before and after the
// pass; out receives their bytes in the order outBgr says.
void afterPassFourAvx2(const uint8_t* in, bool inBgr, const float* inputY, const float* outputY,
                       bool convertAll, uint8_t* out, bool outBgr);

}  // namespace nubo

#endif  // NUBO_ENGINE_WINDOW_KERNELS_H_
