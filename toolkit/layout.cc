// Layout of the toolkit's windows without drawing or events: the size of each
// control, packing into columns and panels, alignment, and where a docked
// window sits in its parent.
#include <algorithm>
#include <vector>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

// Blank space between a button's label and its edges, in total.
constexpr int kButtonLabelMargin = 16;
// Checkbox: its label starts here; six more pixels follow the label.
constexpr int kCheckboxLabelX = 18;
constexpr int kCheckboxTail = 6;
// Slider field: where its box starts at least, and its least width (GLUI's
// edit text: label offset 55, minimum field 50).
constexpr int kFieldOffset = 55;
constexpr int kFieldMinWidth = 50;

}  // namespace

// Packing and alignment: the toolkit's one reader of the controls' margins.
struct GLUI_Layout {
  // Packs control c with its top-left corner at (x, y).
  static void pack(GLUI_Control* c, int x, int y) {
    c->x_abs = x;
    c->y_abs = y;
    c->update_size();
    if (!c->is_container()) return;
    const int top = y + c->y_off_top;
    int left = x + c->x_off;  // content-left of the current column
    int cursor = top;
    int widest = 0;  // widest child of the current column
    int bottom = top;
    bool any = false;
    std::vector<int> column_widest;  // widest child of each column, first one included
    const auto& kids = c->children();
    for (size_t i = 0; i < kids.size(); ++i) {
      GLUI_Control* child = kids[i].get();
      if (child->is_column()) {
        column_widest.push_back(widest);
        const int column_x = left + widest + c->x_off;
        child->x_abs = column_x;
        child->y_abs = top;
        left = column_x + c->x_off;
        cursor = top;
        widest = 0;
        continue;
      }
      // Panels get an item spacing of padding above and below.
      const int pad = child->is_container() ? GLUI_ITEMSPACING : 0;
      cursor += pad;
      pack(child, left, cursor);
      cursor += child->h + pad;
      widest = std::max(widest, child->w);
      bottom = std::max(bottom, cursor);
      any = true;
      if (i + 1 < kids.size()) cursor += GLUI_ITEMSPACING;
    }
    column_widest.push_back(widest);
    if (!any) {
      c->w = GLUI_DEFAULT_CONTROL_WIDTH;
      c->h = GLUI_DEFAULT_CONTROL_HEIGHT;
    } else {
      c->h = bottom + c->y_off_bot - y;
      c->w = left + widest + 2 * c->x_off - x;
    }
    c->update_size();  // a panel keeps room for its title
    // Each column is as tall as the content and as wide as its widest child + 6.
    size_t column = 0;
    for (const auto& kid : kids) {
      if (!kid->is_column()) continue;
      ++column;
      kid->h = c->h - c->y_off_top - c->y_off_bot;
      kid->w = column_widest[column] + c->x_off;
    }
  }

  static void shift(GLUI_Control* c, int dx) {
    c->x_abs += dx;
    for (const auto& kid : c->children()) shift(kid.get(), dx);
  }

  // Aligns the children of container c in their columns, parents first.
  static void align(GLUI_Control* c) {
    for (const auto& kid : c->children()) {
      GLUI_Control* child = kid.get();
      if (child->is_column()) continue;
      int left = 0, width = 0;
      glui_column_dims(child, &left, &width);
      const int margin = c->x_off;
      int x = child->x_abs;
      if (child->alignment == GLUI_ALIGN_LEFT) {
        x = left + margin;
      } else if (child->alignment == GLUI_ALIGN_RIGHT) {
        x = left + width - margin - child->w;
      } else if (child->alignment == GLUI_ALIGN_CENTER) {
        x = left + (width - child->w) / 2;
      }
      shift(child, x - child->x_abs);
      if (child->is_container()) align(child);
    }
  }
};

void glui_column_dims(const GLUI_Control* control, int* left, int* width) {
  const GLUI_Control* parent = control->parent();
  if (parent == nullptr) {
    *left = control->x_abs;
    *width = control->w;
    return;
  }
  const GLUI_Control* before = nullptr;
  const GLUI_Control* after = nullptr;
  bool seen = false;
  for (const auto& kid : parent->children()) {
    if (kid.get() == control) {
      seen = true;
    } else if (kid->is_column()) {
      if (!seen) before = kid.get();
      if (seen && after == nullptr) after = kid.get();
    }
  }
  if (before) {
    *left = before->x_abs;
    *width = before->w;
  } else if (after) {
    *left = parent->x_abs;
    *width = after->x_abs - parent->x_abs;
  } else {
    *left = parent->x_abs;
    *width = parent->w;
  }
}

// ---- sizes ----

GLUI_Control::GLUI_Control()
    : w(GLUI_DEFAULT_CONTROL_WIDTH),
      h(GLUI_DEFAULT_CONTROL_HEIGHT),
      set_width(GLUI_DEFAULT_CONTROL_WIDTH),
      x_off(GLUI_XOFF),
      y_off_top(GLUI_YOFF),
      y_off_bot(GLUI_YOFF) {}

void GLUI_Panel::update_size() {
  if (!name.empty()) w = std::max(w, glui_text_width(name) + 16);  // title and its patch
}

void GLUI_Button::update_size() {
  h = GLUI_BUTTON_SIZE;
  w = fixed_width ? set_width : std::max(w, glui_text_width(name) + kButtonLabelMargin);
}

void GLUI_Checkbox::update_size() {
  h = GLUI_CHECKBOX_SIZE;
  w = fixed_width ? set_width : kCheckboxLabelX + glui_text_width(name) + kCheckboxTail;
}

void GLUI_StaticText::update_size() {
  h = GLUI_STATICTEXT_SIZE;
  w = fixed_width ? set_width : std::max(w, glui_text_width(name));
}

void GLUI_Spacer::update_size() {
  if (fixed_width) w = set_width;
}

void GLUI_Spacer::rule_extent(int* x0, int* x1, int* y) const {
  // GLUI's separator line: the column less its margins, less 5% at each end,
  // in the middle of the gap.
  int left = 0, width = 0;
  glui_column_dims(this, &left, &width);
  const int line = width - 2 * GLUI_XOFF;
  const int inset = line * 5 / 100;
  *x0 = left + GLUI_XOFF + inset;
  *x1 = left + GLUI_XOFF + line - inset - 1;
  *y = y_abs + h / 2 - 1;
}

void GLUI_Slider::update_size() {
  h = GLUI_SLIDER_HEIGHT;
  const int least = field_x() - x_abs + kFieldMinWidth;
  w = fixed_width ? set_width : std::max(w, least);
}
int GLUI_Slider::track_y() const { return y_abs + GLUI_EDITTEXT_HEIGHT + GLUI_ITEMSPACING; }

int GLUI_Slider::field_x() const {
  return x_abs + std::max(kFieldOffset, glui_text_width(name) + 5);  // label, 3 px, the box
}
// ---- window: layout ----

void GLUI::pack_controls() {
  GLUI_Layout::pack(main_panel, 0, 0);
  GLUI_Layout::align(main_panel);
  // A side window spans its parent's height, a top or bottom one its width;
  // the main panel's frame follows the window.
  if (flags & (GLUI_SUBWINDOW_LEFT | GLUI_SUBWINDOW_RIGHT)) {
    main_panel->h = std::max(main_panel->h, parent_h);
  }
  if (flags & (GLUI_SUBWINDOW_TOP | GLUI_SUBWINDOW_BOTTOM)) {
    main_panel->w = std::max(main_panel->w, parent_w);
  }
  w = main_panel->w;
  h = main_panel->h;
  place();
}

void GLUI::position(int* x, int* y) const {
  int px = 0, py = 0;
  if (flags & GLUI_SUBWINDOW_RIGHT) px = parent_w - w;
  if (flags & GLUI_SUBWINDOW_BOTTOM) py = parent_h - h;
  // Earlier windows on the same side push this one inwards; top windows push
  // side windows down.
  for (const auto& other : GLUI_Master.windows) {
    if (other.get() == this) break;
    if (other->parent_window != parent_window) continue;
    const int side = flags & ~GLUI_SUBWINDOW;
    const int other_side = other->flags & ~GLUI_SUBWINDOW;
    if (other_side == GLUI_SUBWINDOW_TOP &&
        (side == GLUI_SUBWINDOW_LEFT || side == GLUI_SUBWINDOW_RIGHT || side == other_side)) {
      py += other->h;
    }
    if (side != other_side) continue;
    if (side == GLUI_SUBWINDOW_RIGHT) px -= other->w;
    if (side == GLUI_SUBWINDOW_LEFT) px += other->w;
    if (side == GLUI_SUBWINDOW_BOTTOM) py -= other->h;
  }
  *x = std::max(px, 0);
  *y = std::max(py, 0);
}
