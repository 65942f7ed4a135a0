// Drawing of toolkit windows and controls with OpenGL, in window pixels (y
// down): every shape is a set of whole pixels, so the look does not depend on
// how a driver rasterises lines.
#include <GL/freeglut.h>

#include <algorithm>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

// The window being drawn (for its colours).
const GLUI* g_drawing = nullptr;

void colour(int r, int g, int b) {
  glColor3ub(static_cast<GLubyte>(r), static_cast<GLubyte>(g), static_cast<GLubyte>(b));
}
void colour(const GLUI_RGB& c) { glColor3ub(c.r, c.g, c.b); }
void grey(int v) { colour(v, v, v); }
void background() { colour(g_drawing->bkgd_color); }

// Pixels x0..x1-1 by y0..y1-1.
void fill(int x0, int y0, int x1, int y1) {
  if (x1 > x0 && y1 > y0) glRecti(x0, y0, x1, y1);
}
// Inclusive pixel runs.
void hline(int x0, int x1, int y) { fill(x0, y, x1 + 1, y + 1); }
void vline(int x, int y0, int y1) { fill(x, y0, x + 1, y1 + 1); }
void outline(int x0, int y0, int x1, int y1) {
  hline(x0, x1, y0);
  hline(x0, x1, y1);
  vline(x0, y0, y1);
  vline(x1, y0, y1);
}
// Every other pixel of an outline (GLUI's focus rectangle), in black.
void dotted(int x0, int y0, int x1, int y1) {
  grey(0);
  glBegin(GL_POINTS);
  for (int x = x0; x <= x1; ++x) {
    for (int y : {y0, y1}) {
      if ((x + y) % 2 == 0) glVertex2f(x + 0.5f, y + 0.5f);
    }
  }
  for (int y = y0 + 1; y < y1; ++y) {
    for (int x : {x0, x1}) {
      if ((x + y) % 2 == 0) glVertex2f(x + 0.5f, y + 0.5f);
    }
  }
  glEnd();
}

// Text with its baseline on pixel row y, starting at pixel column x.
void text(int x, int y, const std::string& s) {
  glRasterPos2f(x + 0.5f, y + 0.5f);
  for (unsigned char c : s) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_12, c);
}
// A label: a copy in the background colour one pixel down-right, then the
// window's text colour (GLUI's enabled label).
void label(int x, int y, const std::string& s) {
  background();
  text(x + 1, y + 1, s);
  colour(g_drawing->text_color);
  text(x, y, s);
}

// GLUI's raised box over pixels x..x+w by y..y+h: white top and left, black
// bottom and right, a grey inner shadow.
void raised_box(int x, int y, int w, int h) {
  grey(255);
  hline(x, x + w - 1, y);
  vline(x, y, y + h - 1);
  grey(0);
  hline(x, x + w, y + h);
  vline(x + w, y, y + h);
  grey(128);
  hline(x + 1, x + w - 1, y + h - 1);
  vline(x + w - 1, y + 1, y + h - 1);
}

// A filled triangle; corners in pixel units from (ox, oy).
void triangle(int ox, int oy, float ax, float ay, float bx, float by, float cx, float cy) {
  glBegin(GL_TRIANGLES);
  glVertex2f(ox + ax, oy + ay);
  glVertex2f(ox + bx, oy + by);
  glVertex2f(ox + cx, oy + cy);
  glEnd();
}

// One 16 x 16 arrow box of the slider, pointing left (dir -1) or right (+1).
void arrow_box(int x, int y, int dir, bool pressed) {
  background();
  fill(x, y, x + GLUI_SCROLL_ARROW_SIZE, y + GLUI_SCROLL_ARROW_SIZE);
  int shift = 0;
  if (pressed) {
    grey(128);
    outline(x, y, x + GLUI_SCROLL_ARROW_SIZE - 1, y + GLUI_SCROLL_ARROW_SIZE - 1);
    shift = 1;
  } else {
    raised_box(x, y, GLUI_SCROLL_ARROW_SIZE - 1, GLUI_SCROLL_ARROW_SIZE - 1);
  }
  grey(0);
  // GLUI's corners plus half a pixel, which its drawing offset adds.
  if (dir < 0) {
    triangle(x + shift, y + shift, 9.0f, 5.0f, 9.0f, 12.0f, 5.0f, 8.5f);
  } else {
    triangle(x + shift, y + shift, 6.0f, 5.0f, 6.0f, 12.0f, 10.0f, 8.5f);
  }
}

}  // namespace

void GLUI_Panel::draw() {
  if (type == GLUI_PANEL_EMBOSSED) {
    const int top = y_abs + (name.empty() ? 0 : 4);  // a title sits on the frame
    grey(255);
    outline(x_abs + 1, top + 1, x_abs + w, y_abs + h);
    grey(128);
    outline(x_abs, top, x_abs + w - 1, y_abs + h - 1);
    if (!name.empty()) {
      background();
      fill(x_abs + 4, y_abs, x_abs + 11 + glui_text_width(name), y_abs + 10);
      label(x_abs + 7, y_abs + 8, name);
    }
  } else if (type == GLUI_PANEL_RAISED) {
    grey(255);
    hline(x_abs, x_abs + w, y_abs);
    vline(x_abs, y_abs, y_abs + h);
    grey(128);
    hline(x_abs, x_abs + w, y_abs + h);
    vline(x_abs + w, y_abs, y_abs + h);
  }
}

void GLUI_Column::draw() {
  if (!draw_bar) return;
  grey(128);
  vline(x_abs - 2, y_abs, y_abs + h);
  grey(255);
  vline(x_abs - 1, y_abs, y_abs + h);
}

void GLUI_Button::draw() {
  const int x = x_abs, y = y_abs;
  if (pressed) {
    background();
    fill(x + 3, y + 3, x + w - 1, y + h - 1);
    grey(0);
    outline(x, y, x + w, y + h);
    outline(x + 1, y + 1, x + w - 1, y + h - 1);
  } else {
    raised_box(x, y, w, h);
    background();
    fill(x + 2, y + 2, x + w - 2, y + h - 2);
  }
  const int offset = pressed ? 1 : 0;
  const int tx = std::max((w - glui_text_width(name)) / 2, 0);
  label(x + tx + offset, y + 13 + offset, name);  // baseline 13 of 20
  if (GLUI_Master.get_active_control() == this) dotted(x + 3, y + 3, x + w - 3, y + h - 3);
}

void GLUI_Checkbox::draw() {
  // The 13 x 13 sunken box one pixel in from the control's corner.
  const int bx = x_abs + 1, by = y_abs + 1;
  grey(255);
  fill(bx + 2, by + 2, bx + 11, by + 11);
  grey(128);
  hline(bx, bx + 11, by);
  vline(bx, by, by + 11);
  grey(0);
  hline(bx + 1, bx + 10, by + 1);
  vline(bx + 1, by + 1, by + 10);
  grey(255);
  hline(bx, bx + 12, by + 12);
  vline(bx + 12, by, by + 12);
  grey(192);
  hline(bx + 1, bx + 11, by + 11);
  vline(bx + 11, by + 1, by + 11);
  if (showing) {
    // The tick: three pixels tall per column, down to the right, then up.
    static const int kTop[] = {5, 6, 7, 6, 5, 4, 3};
    grey(0);
    for (int i = 0; i < 7; ++i) vline(bx + 3 + i, by + kTop[i], by + kTop[i] + 2);
  }
  label(x_abs + 18, y_abs + 10, name);
  if (GLUI_Master.get_active_control() == this) {
    dotted(x_abs + 15, y_abs, x_abs + 22 + glui_text_width(name), y_abs + 14);
  }
}

void GLUI_StaticText::draw() {
  background();
  fill(x_abs, y_abs, x_abs + w, y_abs + h);
  label(x_abs, y_abs + 9, name);  // baseline 9 of 13
}

void GLUI_Spacer::draw() {
  if (!rule) return;
  int x0 = 0, x1 = 0, y = 0;
  rule_extent(&x0, &x1, &y);
  grey(128);
  hline(x0, x1, y);
  grey(255);
  hline(x0, x1, y + 1);
}

void GLUI_Slider::draw() {
  const bool focused = GLUI_Master.get_active_control() == this;
  // Field row: the label right-aligned before GLUI's edit box.
  const int fx = field_x();
  const int right = x_abs + w;
  const int fy = y_abs, fb = y_abs + GLUI_EDITTEXT_HEIGHT;
  label(std::max(fx - glui_text_width(name) - 3, x_abs), y_abs + 13, name);
  grey(128);
  hline(fx, right - 1, fy);
  vline(fx, fy, fb - 1);
  grey(255);
  hline(fx, right, fb);
  vline(right, fy, fb);
  grey(0);
  hline(fx + 1, right - 2, fy + 1);
  vline(fx + 1, fy + 1, fb - 2);
  grey(191);
  hline(fx + 1, right - 1, fb - 1);
  vline(right - 1, fy + 1, fb - 1);
  grey(255);
  fill(fx + 2, fy + 2, right - 1, fb - 1);
  const std::string& value_text = model.text();
  const int tx = fx + 5;
  const int tw = glui_text_width(value_text);
  if (focused && model.all_selected()) {
    colour(0, 0, 153);
    fill(tx, fy + 2, tx + tw + 1, fb - 1);
    grey(255);
  } else {
    grey(0);
  }
  glEnable(GL_SCISSOR_TEST);  // long typing stays inside the box
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glScissor(fx + 2, viewport[3] - (fb - 1), std::max(right - fx - 3, 0), GLUI_EDITTEXT_HEIGHT - 3);
  text(tx, y_abs + 13, value_text);
  glDisable(GL_SCISSOR_TEST);
  if (focused && !model.all_selected()) {
    grey(0);
    vline(tx + tw, fy + 4, fb - 3);
  }

  // Track row: GLUI's horizontal scrollbar.
  const int ty = track_y();
  const int track_right = right - GLUI_SCROLL_ARROW_SIZE;
  glBegin(GL_POINTS);
  for (int y = ty; y < ty + GLUI_SCROLL_ARROW_SIZE; ++y) {
    for (int x = x_abs + GLUI_SCROLL_ARROW_SIZE; x < track_right; ++x) {
      if ((x + y) % 2 == 0) {
        glColor3ub(212, 208, 200);
      } else {
        glColor3ub(255, 255, 255);
      }
      glVertex2f(x + 0.5f, y + 0.5f);
    }
  }
  glEnd();
  arrow_box(x_abs, ty, -1, held == Held::kArrowDown);
  arrow_box(track_right, ty, 1, held == Held::kArrowUp);
  const int thumb = thumb_x();
  background();
  fill(thumb, ty, thumb + GLUI_SCROLL_ARROW_SIZE, ty + GLUI_SCROLL_ARROW_SIZE);
  raised_box(thumb, ty, GLUI_SCROLL_ARROW_SIZE - 1, GLUI_SCROLL_ARROW_SIZE - 1);
  if (focused) dotted(thumb + 2, ty + 2, thumb + 12, ty + 12);
}

namespace {

void draw_tree(GLUI_Control* c) {
  c->draw();
  for (const auto& kid : c->children()) draw_tree(kid.get());
}

}  // namespace

void GLUI::display() {
  const int width = glutGet(GLUT_WINDOW_WIDTH);
  const int height = glutGet(GLUT_WINDOW_HEIGHT);
  glDrawBuffer(GL_BACK);
  glViewport(0, 0, width, height);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glClearColor(bkgd_color.r / 255.0f, bkgd_color.g / 255.0f, bkgd_color.b / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, -1, 1);  // window pixels, y down
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  g_drawing = this;
  draw_tree(main_panel);
  g_drawing = nullptr;
  glutSwapBuffers();
}
