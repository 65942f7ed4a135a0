// Display geometry, computed in the order and precision the display has always
// used, so that the picture lands on the same pixels on every machine.
#include "view/geometry.h"

namespace nubo {

namespace {

// Reciprocals of the scene's visible width (6.1) and height (4.6) at the
// default window size: with them fit is the number of window pixels that one
// picture pixel covers when a panel shows the whole picture.
constexpr double kInverseSceneWidth = 0.1639344262295082;
constexpr double kInverseSceneHeight = 0.2173913043478261;

void quad(float s0, float t0, float s1, float t1, float x0, float y0, float x1, float y1,
          TexVertex out[4]) {
  out[0] = {s0, t0, x0, y0};
  out[1] = {s0, t1, x0, y1};
  out[2] = {s1, t1, x1, y1};
  out[3] = {s1, t0, x1, y0};
}

}  // namespace

void logoQuad(float extentS, float extentT, TexVertex out[4]) {
  // The floats next above -2.7 and -1.5: the logo's left and right edges.
  constexpr float kLeft = -2.6999998f;
  constexpr float kRight = -1.4999999f;
  constexpr float kBottom = 1.274f;
  constexpr float kTop = 2.126f;
  constexpr float kInset = 0.001f;  // keeps linear filtering off the texture's padding
  out[0] = {kInset, 0.0f, kLeft, kBottom};
  out[1] = {kInset, extentT - kInset, kLeft, kTop};
  out[2] = {extentS - kInset, extentT - kInset, kRight, kTop};
  out[3] = {extentS - kInset, 0.0f, kRight, kBottom};
}

DisplayGeometry displayGeometry(int imageWidth, int imageHeight, int paddedWidth, int paddedHeight,
                                int windowWidth, int windowHeight, float zoom, float panX,
                                float panY) {
  DisplayGeometry g;
  const int w = imageWidth;
  const int h = imageHeight;
  g.sMax = static_cast<float>(w) / static_cast<float>(paddedWidth);
  g.tMax = static_cast<float>(h) / static_cast<float>(paddedHeight);
  if (w > h) {
    g.aspX = 1.0f;
    g.aspY = static_cast<float>(h) / static_cast<float>(w);
    g.fit = static_cast<float>(windowWidth * kPanelSize * kInverseSceneWidth / w);
  } else {
    g.aspX = static_cast<float>(w) / static_cast<float>(h);
    g.aspY = 1.0f;
    g.fit = static_cast<float>(windowHeight * kPanelSize * kInverseSceneHeight / h);
  }
  g.m = zoom / g.fit;
  g.half = 1.0f / (2.0f * g.m);
  g.s0 = (panX + 0.5f - g.half) * g.sMax;
  g.s1 = (panX + 0.5f + g.half) * g.sMax;
  g.t0 = (panY + 0.5f - g.half) * g.tMax;
  g.t1 = (panY + 0.5f + g.half) * g.tMax;
  g.hx = kPanelSize * g.aspX * 0.5f;
  g.hy = kPanelSize * g.aspY * 0.5f;
  g.ox = kOverviewSize * g.aspX * 0.5f;
  g.oy = kOverviewSize * g.aspY * 0.5f;

  quad(g.s0, g.t0, g.s1, g.t1, -g.hx - kPanelOffsetX, -g.hy - kPanelOffsetY, g.hx - kPanelOffsetX,
       g.hy - kPanelOffsetY, g.inputPanel);
  quad(g.s0, g.t0, g.s1, g.t1, -g.hx + kPanelOffsetX, -g.hy - kPanelOffsetY, g.hx + kPanelOffsetX,
       g.hy - kPanelOffsetY, g.outputPanel);
  quad(0.0f, 0.0f, g.sMax, g.tMax, -g.ox, -g.oy + kOverviewOffsetY, g.ox, g.oy + kOverviewOffsetY,
       g.overview);

  // Below a magnification of 1 the panels show more than the picture; the
  // rectangle then stays the size of the overview.
  const float mc = g.m < 1.0f ? 1.0f : g.m;
  const float q = kOverviewSize / (2.0f * mc);
  const float qx = q * g.aspX;
  const float qy = q * g.aspY;
  const float cx = kOverviewSize * panX * g.aspX;
  const float cy = kOverviewSize * panY * g.aspY;
  const float corners[4][2] = {{cx - qx, cy - qy + kOverviewOffsetY},
                               {cx - qx, cy + qy + kOverviewOffsetY},
                               {cx + qx, cy + qy + kOverviewOffsetY},
                               {cx + qx, cy - qy + kOverviewOffsetY}};
  for (int k = 0; k < 4; ++k) {
    g.rectangle[k][0] = corners[k][0];
    g.rectangle[k][1] = corners[k][1];
  }
  return g;
}

}  // namespace nubo
