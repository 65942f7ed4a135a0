// The right panel's comparison rules and the difference image.
#include "view/comparison.h"

#include <cstddef>
#include <cstdlib>

namespace nubo {

namespace {

// Luminance in thousandths of a grey level, exact in integers.
int lumaMilli(const uint8_t* p) { return 299 * p[0] + 587 * p[1] + 114 * p[2]; }

ComparisonResult show(ComparisonState* state, RightPanel shown) {
  state->shown = shown;
  ComparisonResult result;
  result.redraw = true;
  result.status = rightPanelText(shown);
  return result;
}

}  // namespace

const char* rightPanelText(RightPanel shown) {
  switch (shown) {
    case RightPanel::kInput:
      return "Right panel: input";
    case RightPanel::kDifference:
      return "Right panel: difference |Y out - Y in| x16 (black: unchanged)";
    case RightPanel::kCleaned:
      break;
  }
  return "Right panel: cleaned";
}

ComparisonResult flipRightPanel(ComparisonState* state) {
  if (!state->cleaned) return {};
  return show(state,
              state->shown == RightPanel::kCleaned ? RightPanel::kInput : RightPanel::kCleaned);
}

ComparisonResult toggleDifference(ComparisonState* state) {
  if (!state->cleaned) return {};
  return show(state, state->shown == RightPanel::kDifference ? RightPanel::kCleaned
                                                             : RightPanel::kDifference);
}

void resetComparison(ComparisonState* state, bool cleaned) {
  state->cleaned = cleaned;
  state->shown = RightPanel::kCleaned;
}

std::vector<uint8_t> differenceImage(const uint8_t* input, const uint8_t* output, int paddedWidth,
                                     int paddedHeight, int imageWidth, int imageHeight) {
  std::vector<uint8_t> grey(static_cast<size_t>(paddedWidth) * paddedHeight * 3, 255);
  for (int r = 0; r < imageHeight; ++r) {
    const size_t row = static_cast<size_t>(r) * paddedWidth * 3;
    for (int c = 0; c < imageWidth; ++c) {
      const size_t at = row + static_cast<size_t>(c) * 3;
      const int d = std::abs(lumaMilli(output + at) - lumaMilli(input + at)) * kDifferenceGain;
      const int level = (d + 500) / 1000;
      const uint8_t g = static_cast<uint8_t>(level > 255 ? 255 : level);
      grey[at] = grey[at + 1] = grey[at + 2] = g;
    }
  }
  return grey;
}

}  // namespace nubo
