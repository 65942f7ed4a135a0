// Conversion between 8-bit RGB and single-precision NTSC YIQ. The forward matrix
// has three-digit, the inverse four-digit coefficients; the way back truncates,
// so a round trip may lose one level per channel.
#ifndef NUBO_ENGINE_COLOUR_H_
#define NUBO_ENGINE_COLOUR_H_

#include <cstdint>

namespace nubo {

// Writes Y, I, Q of the colour (r, g, b) into yiq[0..2]. Y lies in 0..1.
void rgbToYiq(float* yiq, int r, int g, int b);

// The Y alone of rgbToYiq (the same bits), for the stages that need no I and Q.
float rgbToLuma(int r, int g, int b);

// Writes R, G, B bytes for (y, i, q) into rgb[0..2]; each channel is clamped to
// 0..1 (NaN gives 0), scaled by 255 and truncated toward zero.
void yiqToRgb(uint8_t* rgb, float y, float i, float q);

// The byte of a luminance y alone: clamped to 0..1 (NaN gives 0), times 255,
// truncated toward zero; what yiqToRgb gives in every channel for I = Q = 0.
uint8_t lumaToByte(float y);

}  // namespace nubo

#endif  // NUBO_ENGINE_COLOUR_H_
