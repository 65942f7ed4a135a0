// Tests of the display geometry, the navigation rules and texture reduction.
#include <GL/freeglut_std.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "view/comparison.h"
#include "view/geometry.h"
#include "view/navigation.h"
#include "view/texture.h"

namespace nubo {
namespace {

constexpr float kTol = 1e-6f;

TEST(Geometry, WorkedExampleOfALandscapePicture) {
  // 400 x 300 (padded 512 x 512) in 800 x 600 at zoom 2, no pan.
  const DisplayGeometry g = displayGeometry(400, 300, 512, 512, 800, 600, 2.0f, 0.0f, 0.0f);
  EXPECT_NEAR(g.fit, 0.852459f, kTol);
  EXPECT_NEAR(g.m, 2.346154f, kTol);
  EXPECT_NEAR(g.half, 0.2131147f, kTol);
  EXPECT_NEAR(g.s0, 0.2241291f, kTol);
  EXPECT_NEAR(g.s1, 0.5571209f, kTol);
  EXPECT_NEAR(g.t0, 0.1680968f, kTol);
  EXPECT_NEAR(g.t1, 0.4178407f, kTol);
  // Input panel: x -2.6999998 .. -0.1, y -1.675 .. 0.275; output panel x 0.1 .. 2.7.
  EXPECT_NEAR(g.inputPanel[0].x, -2.6999998f, kTol);
  EXPECT_NEAR(g.inputPanel[2].x, -0.1f, kTol);
  EXPECT_NEAR(g.inputPanel[0].y, -1.675f, kTol);
  EXPECT_NEAR(g.inputPanel[2].y, 0.275f, kTol);
  EXPECT_NEAR(g.outputPanel[0].x, 0.1f, kTol);
  EXPECT_NEAR(g.outputPanel[2].x, 2.7f, kTol);
  // Red rectangle: x -0.2131147 .. 0.2131147, y 1.440164 .. 1.759836.
  EXPECT_NEAR(g.rectangle[0][0], -0.2131147f, kTol);
  EXPECT_NEAR(g.rectangle[2][0], 0.2131147f, kTol);
  EXPECT_NEAR(g.rectangle[0][1], 1.440164f, kTol);
  EXPECT_NEAR(g.rectangle[2][1], 1.759836f, kTol);
  // Both panels use the same texture window; the overview the whole picture.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(g.inputPanel[k].s, g.outputPanel[k].s);
    EXPECT_EQ(g.inputPanel[k].t, g.outputPanel[k].t);
    EXPECT_EQ(g.inputPanel[k].y, g.outputPanel[k].y);
  }
  EXPECT_EQ(g.overview[2].s, g.sMax);
  EXPECT_EQ(g.overview[2].t, g.tMax);
  EXPECT_NEAR(g.overview[0].x, -0.5f, kTol);
  EXPECT_NEAR(g.overview[2].y, 1.6f + 0.375f, kTol);
}

TEST(Geometry, PanelShapeFollowsThePicture) {
  const DisplayGeometry landscape = displayGeometry(400, 300, 512, 512, 800, 600, 2, 0, 0);
  EXPECT_NEAR(2 * landscape.hx, 2.6f, kTol);
  EXPECT_NEAR(2 * landscape.hy, 1.95f, kTol);
  const DisplayGeometry portrait = displayGeometry(300, 400, 512, 512, 800, 600, 2, 0, 0);
  EXPECT_NEAR(2 * portrait.hx, 1.95f, kTol);
  EXPECT_NEAR(2 * portrait.hy, 2.6f, kTol);
  const DisplayGeometry square = displayGeometry(256, 256, 256, 256, 800, 600, 2, 0, 0);
  EXPECT_NEAR(2 * square.hx, 2.6f, kTol);
  EXPECT_NEAR(2 * square.hy, 2.6f, kTol);
  // Square pictures take the height branch of the fit.
  EXPECT_NEAR(square.fit, 600 * 2.6f * 0.2173913043478261 / 256, kTol);
  EXPECT_EQ(square.sMax, 1.0f);
  EXPECT_EQ(square.tMax, 1.0f);
}

TEST(Geometry, MagnificationOneShowsTheWholePicture) {
  const DisplayGeometry base = displayGeometry(400, 300, 512, 512, 800, 600, 2, 0, 0);
  // zoom equal to fit gives m = 1: the window is the whole picture.
  const DisplayGeometry g = displayGeometry(400, 300, 512, 512, 800, 600, base.fit, 0, 0);
  EXPECT_NEAR(g.m, 1.0f, kTol);
  EXPECT_NEAR(g.s0, 0.0f, kTol);
  EXPECT_NEAR(g.s1, g.sMax, kTol);
  EXPECT_NEAR(g.t0, 0.0f, kTol);
  EXPECT_NEAR(g.t1, g.tMax, kTol);
  // The rectangle outlines the whole overview.
  EXPECT_NEAR(g.rectangle[0][0], g.overview[0].x, kTol);
  EXPECT_NEAR(g.rectangle[2][1], g.overview[2].y, kTol);
}

TEST(Geometry, BelowMagnificationOneTheRectangleKeepsTheOverviewSizeAndFollowsThePan) {
  const DisplayGeometry base = displayGeometry(400, 300, 512, 512, 800, 600, 2, 0, 0);
  const DisplayGeometry g =
      displayGeometry(400, 300, 512, 512, 800, 600, base.fit * 0.5f, 0.1f, -0.2f);
  EXPECT_NEAR(g.m, 0.5f, kTol);
  // A window twice the picture's size.
  EXPECT_NEAR((g.s1 - g.s0) / g.sMax, 2.0f, 1e-5f);
  EXPECT_NEAR(g.rectangle[2][0] - g.rectangle[0][0], 1.0f, kTol);
  EXPECT_NEAR(g.rectangle[2][1] - g.rectangle[0][1], 0.75f, kTol);
  EXPECT_NEAR((g.rectangle[0][0] + g.rectangle[2][0]) / 2, 0.1f, kTol);
  EXPECT_NEAR((g.rectangle[0][1] + g.rectangle[2][1]) / 2, 1.6f - 0.2f * 0.75f, kTol);
}

TEST(Geometry, ResizingTheWindowChangesWhatTheSameZoomShows) {
  const DisplayGeometry small = displayGeometry(400, 300, 512, 512, 800, 600, 2, 0, 0);
  const DisplayGeometry large = displayGeometry(400, 300, 512, 512, 1600, 600, 2, 0, 0);
  EXPECT_NEAR(large.fit, 2 * small.fit, 1e-6f);
  EXPECT_GT(large.s1 - large.s0, small.s1 - small.s0);
}

TEST(Geometry, LogoQuadStaysInsideTheLogo) {
  TexVertex q[4];
  logoQuad(0.75f, 0.5f, q);
  EXPECT_EQ(q[0].x, -2.6999998f);
  EXPECT_NE(q[0].x, -2.7f);
  EXPECT_EQ(q[2].x, -1.4999999f);
  EXPECT_NE(q[2].x, -1.5f);
  EXPECT_EQ(q[0].y, 1.274f);
  EXPECT_EQ(q[1].y, 2.126f);
  EXPECT_EQ(q[0].s, 0.001f);
  EXPECT_EQ(q[0].t, 0.0f);
  EXPECT_EQ(q[2].s, 0.75f - 0.001f);
  EXPECT_EQ(q[2].t, 0.5f - 0.001f);
}

// The Zoom slider as navigation meets it: clamps to its limits and writes zoom back.
void applySlider(NavigationState* state, const NavigationResult& result, int* sliderMoves) {
  if (!result.setSlider) return;
  state->zoom = std::min(10.0f, std::max(0.5f, state->zoom));
  ++*sliderMoves;
}

struct Presses {
  int accepted = 0;  // presses that changed the value
  int redraws = 0;
  int sliderMoves = 0;
};

Presses pressUntilRefused(NavigationState* state, int key, bool special, float* value, int limit) {
  Presses p;
  for (int n = 0; n < limit; ++n) {
    const float before = *value;
    const NavigationResult r = special ? navigateSpecialKey(state, key) : navigateKey(state, key);
    applySlider(state, r, &p.sliderMoves);
    if (r.redraw) ++p.redraws;
    if (*value == before) break;
    ++p.accepted;
  }
  return p;
}

TEST(Navigation, PanKeysStopInsideTheBoundAndAlwaysRedraw) {
  NavigationState s;
  Presses p = pressUntilRefused(&s, 'c', false, &s.panX, 100);
  EXPECT_EQ(p.accepted, 9);
  EXPECT_EQ(s.panX, 0.45000005f);
  EXPECT_EQ(p.redraws, 10);  // the refused tenth press redraws too
  EXPECT_EQ(p.sliderMoves, 0);

  s = NavigationState();
  p = pressUntilRefused(&s, 'z', false, &s.panX, 100);
  EXPECT_EQ(p.accepted, 9);
  EXPECT_EQ(s.panX, -0.45000005f);

  s = NavigationState();
  p = pressUntilRefused(&s, 's', false, &s.panY, 100);
  EXPECT_EQ(p.accepted, 9);
  EXPECT_GT(s.panY, 0);
  s = NavigationState();
  p = pressUntilRefused(&s, 'x', false, &s.panY, 100);
  EXPECT_EQ(p.accepted, 9);
  EXPECT_LT(s.panY, 0);
}

TEST(Navigation, ArrowKeysPanTheOtherWayInSmallerSteps) {
  NavigationState s;
  Presses p = pressUntilRefused(&s, GLUT_KEY_LEFT, true, &s.panX, 100);
  EXPECT_EQ(p.accepted, 24);
  EXPECT_EQ(s.panX, 0.48000011f);
  EXPECT_EQ(p.redraws, 25);

  s = NavigationState();
  navigateSpecialKey(&s, GLUT_KEY_RIGHT);
  EXPECT_EQ(s.panX, -0.02f);
  navigateSpecialKey(&s, GLUT_KEY_UP);
  EXPECT_EQ(s.panY, -0.02f);
  navigateSpecialKey(&s, GLUT_KEY_DOWN);
  navigateSpecialKey(&s, GLUT_KEY_DOWN);
  EXPECT_EQ(s.panY, static_cast<float>(static_cast<float>(-0.02 + 0.02) + 0.02));
  // Keys leave the drag pair alone.
  EXPECT_EQ(s.dragPanX, 0.0f);
  EXPECT_EQ(s.dragPanY, 0.0f);
}

TEST(Navigation, ZoomOutStopsSilentlyAtTheLowerBound) {
  NavigationState s;
  int moves = 0, redraws = 0;
  for (int n = 0; n < 14; ++n) {
    const NavigationResult r = navigateKey(&s, 'd');
    applySlider(&s, r, &moves);
    redraws += r.redraw;
  }
  EXPECT_EQ(moves, 14);
  EXPECT_EQ(redraws, 14);
  EXPECT_NEAR(s.zoom, 0.6f, 1e-5f);
  const NavigationResult fifteenth = navigateKey(&s, 'd');
  EXPECT_FALSE(fifteenth.redraw);
  EXPECT_FALSE(fifteenth.setSlider);
  EXPECT_EQ(s.zoom, 0.5f);

  s = NavigationState();
  moves = 0;
  for (int n = 0; n < 30; ++n) applySlider(&s, navigateSpecialKey(&s, GLUT_KEY_PAGE_DOWN), &moves);
  EXPECT_EQ(moves, 30);
  EXPECT_NEAR(s.zoom, 0.5000008f, 1e-7f);
  const NavigationResult last = navigateSpecialKey(&s, GLUT_KEY_PAGE_DOWN);
  EXPECT_FALSE(last.redraw);
  EXPECT_FALSE(last.setSlider);
  EXPECT_EQ(s.zoom, 0.5f);
}

TEST(Navigation, ZoomInIsCappedByTheSlider) {
  NavigationState s;
  s.zoom = 10.0f;
  int moves = 0;
  NavigationResult r = navigateKey(&s, 'a');
  EXPECT_TRUE(r.redraw);
  applySlider(&s, r, &moves);
  EXPECT_EQ(s.zoom, 10.0f);
  r = navigateSpecialKey(&s, GLUT_KEY_PAGE_UP);
  applySlider(&s, r, &moves);
  EXPECT_EQ(s.zoom, 10.0f);
  EXPECT_EQ(moves, 2);
  s.zoom = 2.0f;
  navigateKey(&s, 'a');
  EXPECT_EQ(s.zoom, static_cast<float>(2.0f + 0.1));
}

TEST(Navigation, HelpAndUnknownKeys) {
  NavigationState s;
  EXPECT_TRUE(navigateKey(&s, 'h').showHelp);
  EXPECT_TRUE(navigateKey(&s, 'H').showHelp);
  EXPECT_TRUE(navigateKey(&s, 'c' + 256).redraw);  // only the low 8 bits count
  const NavigationResult none = navigateKey(&s, 'q');
  EXPECT_FALSE(none.redraw || none.setSlider || none.showHelp);
  const NavigationResult home = navigateSpecialKey(&s, GLUT_KEY_HOME);
  EXPECT_FALSE(home.redraw || home.setSlider || home.showHelp);
}

TEST(Navigation, DragsPanWithThePointerAboveTheSplitAndAgainstItBelow) {
  const int height = 600;
  NavigationState s;
  // Lower region (panels): press at y = 500 from the top (row 99 from the bottom).
  navigateMouse(&s, GLUT_LEFT_BUTTON, true, 100, 500, height);
  EXPECT_EQ(s.lastMouseY, 99);
  NavigationResult r = navigateMotion(&s, 110, 500, height, kDragGain);
  EXPECT_TRUE(r.redraw);
  EXPECT_NEAR(s.panX, -10 * 0.0008, 1e-7);
  EXPECT_EQ(s.panY, 0.0f);
  navigateMouse(&s, GLUT_LEFT_BUTTON, false, 110, 500, height);

  // Upper region (overview): the pan follows the pointer at the full gain.
  s = NavigationState();
  navigateMouse(&s, GLUT_LEFT_BUTTON, true, 400, 100, height);
  navigateMotion(&s, 405, 90, height, kDragGain);  // right 5, up 10
  EXPECT_NEAR(s.panX, 5 * 0.008, 1e-7);
  EXPECT_NEAR(s.panY, 10 * 0.008, 1e-7);
  // No movement: nothing happens.
  EXPECT_FALSE(navigateMotion(&s, 405, 90, height, kDragGain).redraw);
}

TEST(Navigation, OnlyTheLeftButtonAloneMovesTheView) {
  const int height = 600;
  NavigationState s;
  navigateMouse(&s, GLUT_RIGHT_BUTTON, true, 400, 100, height);
  EXPECT_FALSE(navigateMotion(&s, 420, 100, height, kDragGain).redraw);
  EXPECT_NEAR(s.dragPanX, 20 * 0.008, 1e-7);
  EXPECT_EQ(s.panX, 0.0f);
  navigateMouse(&s, GLUT_RIGHT_BUTTON, false, 420, 100, height);

  // Both buttons: still no view change.
  navigateMouse(&s, GLUT_LEFT_BUTTON, true, 420, 100, height);
  navigateMouse(&s, GLUT_RIGHT_BUTTON, true, 420, 100, height);
  EXPECT_FALSE(navigateMotion(&s, 430, 100, height, kDragGain).redraw);
  EXPECT_EQ(s.panX, 0.0f);
  navigateMouse(&s, GLUT_RIGHT_BUTTON, false, 430, 100, height);

  // Left alone: the accumulated pair applies at once.
  EXPECT_TRUE(navigateMotion(&s, 431, 100, height, kDragGain).redraw);
  EXPECT_NEAR(s.panX, 31 * 0.008, 1e-6);
}

TEST(Navigation, ARefusedAxisKeepsItsReferencePoint) {
  const int height = 600;
  NavigationState s;
  navigateMouse(&s, GLUT_LEFT_BUTTON, true, 0, 100, height);
  // 70 pixels right would reach 0.56: refused; 10 up is accepted.
  navigateMotion(&s, 70, 90, height, kDragGain);
  EXPECT_EQ(s.dragPanX, 0.0f);
  EXPECT_EQ(s.lastMouseX, 0);
  EXPECT_NEAR(s.dragPanY, 0.08, 1e-7);
  EXPECT_EQ(s.lastMouseY, height - 1 - 90);
  // Back to 60 pixels: measured from the old reference, 0.48 is accepted.
  navigateMotion(&s, 60, 90, height, kDragGain);
  EXPECT_NEAR(s.dragPanX, 0.48, 1e-6);
  // Exactly the bound is refused too.
  EXPECT_FALSE(insidePanBound(0.5));
  EXPECT_FALSE(insidePanBound(-0.5));
  EXPECT_TRUE(insidePanBound(0.4999999));
}

TEST(Navigation, KeysDoNotMoveTheDragPair) {
  const int height = 600;
  NavigationState s;
  navigateMouse(&s, GLUT_LEFT_BUTTON, true, 400, 100, height);
  navigateMotion(&s, 410, 100, height, kDragGain);
  navigateKey(&s, 'c');
  EXPECT_NEAR(s.panX, 0.08 + 0.05, 1e-6);
  // The next drag step sets the view from the drag pair again.
  navigateMotion(&s, 411, 100, height, kDragGain);
  EXPECT_NEAR(s.panX, 0.088, 1e-6);
}

TEST(Texture, ReductionFitsTheLargestSide) {
  EXPECT_EQ(textureReduction(512, 512, 16384), 1);
  EXPECT_EQ(textureReduction(8192, 4096, 8192), 1);
  EXPECT_EQ(textureReduction(16384, 4096, 8192), 2);
  EXPECT_EQ(textureReduction(32768, 32768, 8192), 4);
  EXPECT_EQ(unpackAlignment(1), 1);
  EXPECT_EQ(unpackAlignment(2), 1);
  EXPECT_EQ(unpackAlignment(4), 4);
}

TEST(Texture, ReducedBufferAveragesSquaresAndKeepsPaddingWhite) {
  // 4 x 2 buffer: picture in the left 2 x 2, padding white.
  std::vector<uint8_t> rgb(4 * 2 * 3, 255);
  const uint8_t picture[4][3] = {{0, 0, 0}, {10, 20, 30}, {1, 2, 3}, {101, 102, 103}};
  const int at[4] = {0, 1, 4, 5};
  for (int k = 0; k < 4; ++k) std::copy(picture[k], picture[k] + 3, rgb.begin() + at[k] * 3);
  const std::vector<uint8_t> out = reduceRgb(rgb.data(), 4, 2, 2);
  ASSERT_EQ(out.size(), 2u * 1 * 3);
  EXPECT_EQ(out[0], (0 + 10 + 1 + 101 + 2) / 4);
  EXPECT_EQ(out[1], (0 + 20 + 2 + 102 + 2) / 4);
  EXPECT_EQ(out[3], 255);
}

TEST(Wheel, NotchesMultiplyOrDivideByAQuarterWithinTheSliderRange) {
  NavigationState state;
  NavigationResult r = navigateWheel(&state, 1);
  EXPECT_FLOAT_EQ(state.zoom, 2.5f);
  EXPECT_TRUE(r.redraw);
  EXPECT_TRUE(r.setSlider);
  navigateWheel(&state, -1);
  EXPECT_FLOAT_EQ(state.zoom, 2.0f);
  // From 2 to 8 in seven notches (2 x 1.25^7 = 9.54 is still inside), the eighth stops at 10.
  for (int k = 0; k < 7; ++k) navigateWheel(&state, 1);
  EXPECT_NEAR(state.zoom, 9.5367432f, 1e-5f);
  navigateWheel(&state, 1);
  EXPECT_FLOAT_EQ(state.zoom, kMaxZoom);
  r = navigateWheel(&state, 1);  // at the limit nothing changes, nothing is redrawn
  EXPECT_FLOAT_EQ(state.zoom, kMaxZoom);
  EXPECT_FALSE(r.redraw);
  EXPECT_FALSE(r.setSlider);
  // Down to the lower limit, never below it.
  for (int k = 0; k < 20; ++k) navigateWheel(&state, -1);
  EXPECT_FLOAT_EQ(state.zoom, kMinZoom);
  EXPECT_FALSE(navigateWheel(&state, -3).redraw);
  // Several notches at once count each.
  state.zoom = 2.0f;
  navigateWheel(&state, 2);
  EXPECT_FLOAT_EQ(state.zoom, 3.125f);
  EXPECT_FALSE(navigateWheel(&state, 0).redraw);
}

TEST(Comparison, SpaceFlipsAndVShowsTheDifferenceOnlyAfterAClean) {
  ComparisonState state;
  ComparisonResult r = flipRightPanel(&state);
  EXPECT_FALSE(r.redraw);
  EXPECT_EQ(r.status, nullptr);
  EXPECT_FALSE(toggleDifference(&state).redraw);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);

  resetComparison(&state, true);  // a clean
  r = flipRightPanel(&state);
  EXPECT_TRUE(r.redraw);
  EXPECT_EQ(state.shown, RightPanel::kInput);
  EXPECT_STREQ(r.status, "Right panel: input");
  r = flipRightPanel(&state);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);
  EXPECT_STREQ(r.status, "Right panel: cleaned");
  // "v" from either side shows the difference; "v" or space leaves it for the cleaned side.
  flipRightPanel(&state);
  r = toggleDifference(&state);
  EXPECT_EQ(state.shown, RightPanel::kDifference);
  EXPECT_EQ(std::string(r.status).rfind("Right panel: difference", 0), 0u);
  toggleDifference(&state);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);
  toggleDifference(&state);
  r = flipRightPanel(&state);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);
  EXPECT_STREQ(r.status, "Right panel: cleaned");
  // A new clean shows the cleaned side again; a load forgets the result.
  flipRightPanel(&state);
  resetComparison(&state, true);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);
  flipRightPanel(&state);
  resetComparison(&state, false);
  EXPECT_EQ(state.shown, RightPanel::kCleaned);
  EXPECT_FALSE(flipRightPanel(&state).redraw);
}

TEST(Comparison, DifferenceIsSixteenTimesTheLuminanceChangeAsGreyOnBlack) {
  // A 3 x 2 picture in 4 x 2 buffers (rows bottom first).
  const int pw = 4, ph = 2;
  std::vector<uint8_t> in(pw * ph * 3, 255), out(pw * ph * 3, 255);
  auto set = [pw](std::vector<uint8_t>* b, int r, int c, int R, int G, int B) {
    uint8_t* p = b->data() + (r * pw + c) * 3;
    p[0] = static_cast<uint8_t>(R);
    p[1] = static_cast<uint8_t>(G);
    p[2] = static_cast<uint8_t>(B);
  };
  set(&in, 0, 0, 100, 100, 100);
  set(&out, 0, 0, 100, 100, 100);  // untouched: black
  set(&in, 0, 1, 100, 100, 100);
  set(&out, 0, 1, 103, 103, 103);  // +3 grey levels: 48
  set(&in, 0, 2, 50, 60, 70);
  set(&out, 0, 2, 40, 60, 70);  // -10 red: |Y| = 2.99, x16 = 47.84 -> 48
  set(&in, 1, 0, 0, 0, 0);
  set(&out, 1, 0, 0, 20, 0);  // 11.74 x16 = 187.84 -> 188
  set(&in, 1, 1, 0, 0, 0);
  set(&out, 1, 1, 200, 200, 200);  // saturates at 255
  set(&in, 1, 2, 10, 200, 30);
  set(&out, 1, 2, 10, 199, 30);  // 0.587 x16 = 9.39 -> 9
  const std::vector<uint8_t> d = differenceImage(in.data(), out.data(), pw, ph, 3, 2);
  ASSERT_EQ(d.size(), in.size());
  const int expected[2][3] = {{0, 48, 48}, {188, 255, 9}};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* p = d.data() + (r * pw + c) * 3;
      EXPECT_EQ(p[0], expected[r][c]) << r << "," << c;
      EXPECT_EQ(p[1], p[0]);
      EXPECT_EQ(p[2], p[0]);
    }
    // The padding column stays white.
    const uint8_t* pad = d.data() + (r * pw + 3) * 3;
    EXPECT_EQ(pad[0] + pad[1] + pad[2], 3 * 255);
  }
}

}  // namespace
}  // namespace nubo
