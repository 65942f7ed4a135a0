// Where the display puts things: the magnified panels, their texture window,
// the overview and its red rectangle, and the logo, in scene units (the plane
// z = 0 seen from 4 units away). Pure functions in single precision; the
// drawing and the tests share them.
#ifndef NUBO_VIEW_GEOMETRY_H_
#define NUBO_VIEW_GEOMETRY_H_

namespace nubo {

// Side of a magnified panel and of the overview along the picture's longer side.
constexpr float kPanelSize = 2.6f;
constexpr float kOverviewSize = 1.0f;  // also bounds the pan: |pan| < kOverviewSize / 2

// Centres of the input panel (the output panel mirrors it) and of the overview.
constexpr float kPanelOffsetX = 1.4f;
constexpr float kPanelOffsetY = 0.7f;
constexpr float kOverviewOffsetY = 1.6f;
constexpr float kRectangleDepth = 0.01f;  // the red rectangle lies just in front of the overview

// A quad vertex: texture coordinates and position in the plane.
struct TexVertex {
  float s, t, x, y;
};

// The logo quad (top-left corner of the scene); extentS, extentT are the part of
// its power-of-two texture that holds the logo. Texture coordinates stay 0.001
// inside the logo on the left, right and top sides.
void logoQuad(float extentS, float extentT, TexVertex quad[4]);

// Everything one frame with a picture needs.
struct DisplayGeometry {
  float sMax, tMax;          // part of each texture that holds the picture
  float aspX, aspY;          // picture aspect: the longer side is 1
  float fit;                 // window pixels per picture pixel when a panel shows the whole picture
  float m;                   // magnification zoom / fit
  float half;                // half the side of the texture window, in picture units
  float s0, s1, t0, t1;      // texture window of both panels
  float hx, hy;              // panel half sizes
  float ox, oy;              // overview half sizes
  TexVertex inputPanel[4];   // lower-left, upper-left, upper-right, lower-right
  TexVertex outputPanel[4];  // the same texture window, 2.8 units to the right
  TexVertex overview[4];     // the whole picture
  float rectangle[4][2];     // red rectangle on the overview (x, y), at z = kRectangleDepth
};

// The geometry for a picture of imageWidth x imageHeight pixels in textures of
// paddedWidth x paddedHeight, in a graphics area of windowWidth x windowHeight
// pixels, at the given zoom and pan.
DisplayGeometry displayGeometry(int imageWidth, int imageHeight, int paddedWidth, int paddedHeight,
                                int windowWidth, int windowHeight, float zoom, float panX,
                                float panY);

}  // namespace nubo

#endif  // NUBO_VIEW_GEOMETRY_H_
