// RGB <-> YIQ with single-precision coefficients and double-precision sums.
#include "engine/colour.h"

namespace nubo {

namespace {

// Each coefficient is the float nearest the decimal; the arithmetic widens it.
constexpr double kYr = 0.299f, kYg = 0.587f, kYb = 0.114f;
constexpr double kIr = 0.596f, kIg = 0.275f, kIb = 0.321f;
constexpr double kQr = 0.212f, kQg = 0.523f, kQb = 0.311f;
constexpr double kRi = 0.9557f, kRq = 0.6199f;
constexpr double kGi = 0.2716f, kGq = 0.6469f;
constexpr double kBi = 1.1082f, kBq = 1.7051f;
constexpr double kInv255 = 0.00392156862745098;

uint8_t toByte(double v) {
  if (!(v >= 0.0)) return 0;  // also NaN
  if (v > 1.0) v = 1.0;
  return static_cast<uint8_t>(static_cast<int>(v * 255.0));
}

}  // namespace

float rgbToLuma(int r, int g, int b) {
  return static_cast<float>(((kYr * r + kYg * g) + kYb * b) * kInv255);
}

void rgbToYiq(float* yiq, int r, int g, int b) {
  yiq[0] = rgbToLuma(r, g, b);
  yiq[1] = static_cast<float>(((kIr * r - kIg * g) - kIb * b) * kInv255);
  yiq[2] = static_cast<float>(((kQr * r - kQg * g) + kQb * b) * kInv255);
}

void yiqToRgb(uint8_t* rgb, float y, float i, float q) {
  const float r = static_cast<float>((kRi * i + kRq * q) + y);
  const float g = static_cast<float>((-kGq * q - kGi * i) + y);
  // Blue stays in double precision: a value a hair below a level boundary
  // truncates one level lower than its float rounding would.
  const double b = y + (kBq * q - kBi * i);
  rgb[0] = toByte(r);
  rgb[1] = toByte(g);
  rgb[2] = toByte(b);
}

uint8_t lumaToByte(float y) { return toByte(y); }

}  // namespace nubo
