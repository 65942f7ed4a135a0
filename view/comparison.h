// Comparing in place: what the right panel shows (the cleaned picture, the
// input, or where the cleaning changed the luminance) and how the space bar
// and "v" switch it. Pure rules and a pure image function, shared by the
// window and the tests.
#ifndef NUBO_VIEW_COMPARISON_H_
#define NUBO_VIEW_COMPARISON_H_

#include <cstdint>
#include <vector>

namespace nubo {

enum class RightPanel { kCleaned, kInput, kDifference };

struct ComparisonState {
  bool cleaned = false;  // the loaded picture has a cleaned result
  RightPanel shown = RightPanel::kCleaned;
};

// What a handler must do after a key.
struct ComparisonResult {
  bool redraw = false;
  const char* status = nullptr;  // text for the status line; null: leave it
};

// The status line text that names what the right panel shows.
const char* rightPanelText(RightPanel shown);

// Space: cleaned <-> input; from the difference view back to cleaned. Does
// nothing before a clean.
ComparisonResult flipRightPanel(ComparisonState* state);

// "v": the difference view, or back to cleaned from it. Does nothing before a clean.
ComparisonResult toggleDifference(ComparisonState* state);

// After a load (cleaned false) or a clean (cleaned true): the cleaned side is shown.
void resetComparison(ComparisonState* state, bool cleaned);

// Amplification of the luminance difference.
constexpr int kDifferenceGain = 16;

// The difference view of two display buffers (paddedWidth x paddedHeight RGB
// pixels, rows bottom first, the picture in the first imageWidth columns of the
// first imageHeight rows): grey min(255, 16 x |Y_out - Y_in|) per picture pixel,
// Y = 0.299 R + 0.587 G + 0.114 B rounded to the nearest grey level; 0 (black)
// where the cleaning left the luminance alone. Padding stays white, as in the
// other panels' textures.
std::vector<uint8_t> differenceImage(const uint8_t* input, const uint8_t* output, int paddedWidth,
                                     int paddedHeight, int imageWidth, int imageHeight);

}  // namespace nubo

#endif  // NUBO_VIEW_COMPARISON_H_
