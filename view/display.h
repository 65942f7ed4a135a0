// Drawing of the graphics area: the fixed GL state, the projection, and one
// frame with the logo, the overview and the two magnified panels. Everything
// it draws comes in as arguments; it keeps no state of its own.
#ifndef NUBO_VIEW_DISPLAY_H_
#define NUBO_VIEW_DISPLAY_H_

#include "view/geometry.h"

namespace nubo {

// What one frame shows.
struct FrameContent {
  unsigned logoTexture = 0;  // 0: no logo
  float logoExtentS = 1.0f, logoExtentT = 1.0f;
  bool pictureLoaded = false;
  unsigned inputTexture = 0, outputTexture = 0;
  DisplayGeometry geometry{};  // valid when pictureLoaded
};

// The GL state set once, at start-up, for the current window; ends with setView.
void initGlState(float fieldOfView, float aspectRatio);

// Loads the perspective projection (near 1, far 5000) and selects the model view.
void setProjection(float fieldOfView, float aspectRatio);

// setProjection, then the model view: the camera 4 units in front of z = 0.
void setView(float fieldOfView, float aspectRatio);

// Draws one frame's content (the caller clears and swaps).
void drawView(const FrameContent& frame);

}  // namespace nubo

#endif  // NUBO_VIEW_DISPLAY_H_
