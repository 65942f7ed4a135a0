// Controls and toolkit windows without drawing: creation, packing and
// alignment, and what each control does with mouse and keys.
#include <algorithm>
#include <cstring>

#include "toolkit/glui.h"
#include "toolkit/internal.h"

namespace {

// A held track click repeats first after this delay, then at this interval
// (milliseconds): slow enough for a single click, then smooth.
constexpr unsigned kFirstRepeatMs = 300;
constexpr unsigned kRepeatMs = 30;
// Blank space between a button's label and its edges, in total.
constexpr int kButtonLabelMargin = 16;
// Checkbox: its label starts here; six more pixels follow the label.
constexpr int kCheckboxLabelX = 18;
constexpr int kCheckboxTail = 6;
// Slider field: where its box starts at least, and its least width (GLUI's
// edit text: label offset 55, minimum field 50).
constexpr int kFieldOffset = 55;
constexpr int kFieldMinWidth = 50;

// The slider whose track click is held, and the generation of its timer
// chain: a timer from an older press is ignored.
GLUI_Slider* g_repeating = nullptr;
int g_repeat_generation = 0;

void repeat_timer(int generation) {
  if (generation != g_repeat_generation || g_repeating == nullptr) return;
  g_repeating->repeat_step();
}

std::string cut_label(const char* text) {
  std::string s = text ? text : "";
  if (s.size() > GLUI_MAX_LABEL) s.resize(GLUI_MAX_LABEL);
  return s;
}

// Packs control c with its top-left corner at (x, y).
void pack(GLUI_Control* c, int x, int y) {
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

void shift(GLUI_Control* c, int dx) {
  c->x_abs += dx;
  for (const auto& kid : c->children()) shift(kid.get(), dx);
}

// Aligns the children of container c in their columns, parents first.
void align(GLUI_Control* c) {
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

void collect_focusable(GLUI_Control* c, std::vector<GLUI_Control*>* out) {
  for (const auto& kid : c->children()) {
    if (kid->can_focus()) out->push_back(kid.get());
    collect_focusable(kid.get(), out);
  }
}

GLUI_Control* find_in(GLUI_Control* c, int x, int y) {
  for (const auto& kid : c->children()) {
    if (kid->is_column() || !kid->contains(x, y)) continue;
    if (!kid->is_container()) return kid.get();
    GLUI_Control* inner = find_in(kid.get(), x, y);
    return inner ? inner : kid.get();
  }
  return nullptr;
}

}  // namespace

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

// ---- GLUI_Control ----

GLUI_Control::~GLUI_Control() {
  if (GLUI_Master.active_control == this) GLUI_Master.active_control = nullptr;
  if (glui_ && glui_->mouse_control == this) glui_->mouse_control = nullptr;
}

void GLUI_Control::set_w(int new_w, bool fixed) {
  set_width = new_w;
  fixed_width = fixed;
  w = new_w;
  update_size();
  if (glui_) glui_->pack_controls();
}

void GLUI_Control::set_alignment(int new_alignment) {
  alignment = new_alignment;
  if (glui_) glui_->pack_controls();
}

void GLUI_Control::set_name(const char* text) { name = cut_label(text); }

bool GLUI_Control::contains(int px, int py) const {
  return px >= x_abs && px <= x_abs + w && py >= y_abs && py <= y_abs + h;
}

// ---- sizes ----

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

// ---- button ----

void GLUI_Button::mouse_down(int, int, int) {
  pressed = true;
  glui_->post_redisplay();
}

void GLUI_Button::mouse_held(int, int, bool inside) {
  if (pressed == inside) return;
  pressed = inside;
  glui_->post_redisplay();
}

void GLUI_Button::mouse_up(int, int, bool inside) {
  pressed = false;
  glui_->post_redisplay();
  if (inside) glui_->execute_callback(callback, id);
}

bool GLUI_Button::key(unsigned char key, int) {
  if (key != ' ') return false;
  glui_->post_redisplay();
  glui_->execute_callback(callback, id);
  return true;
}

// ---- checkbox ----

void GLUI_Checkbox::set_int_val(int value) {
  int_val = value != 0;
  showing = int_val;
  if (live_int) {
    *live_int = int_val;
    glui_->post_update_main_gfx();
  }
  glui_->post_redisplay();
}

void GLUI_Checkbox::mouse_down(int, int, int) {
  showing = !int_val;
  glui_->post_redisplay();
}

void GLUI_Checkbox::mouse_held(int, int, bool inside) {
  showing = inside ? !int_val : int_val;
  glui_->post_redisplay();
}

void GLUI_Checkbox::mouse_up(int, int, bool inside) {
  if (!inside) {
    showing = int_val;
    glui_->post_redisplay();
    return;
  }
  set_int_val(!int_val);
  glui_->execute_callback(callback, id);
}

bool GLUI_Checkbox::key(unsigned char key, int) {
  if (key != ' ') return false;
  set_int_val(!int_val);
  glui_->execute_callback(callback, id);
  return true;
}

// ---- static text ----

void GLUI_StaticText::set_text(const char* text) {
  set_name(text);
  const int old_w = w;
  update_size();
  if (w != old_w && glui_) glui_->pack_controls();
  if (glui_) glui_->redraw_now();
}

// ---- slider ----

GLUI_Slider::~GLUI_Slider() {
  if (g_repeating == this) g_repeating = nullptr;
}

int GLUI_Slider::field_x() const {
  return x_abs + std::max(kFieldOffset, glui_text_width(name) + 5);  // label, 3 px, the box
}

int GLUI_Slider::thumb_x() const {
  const int travel = w - 3 * GLUI_SCROLL_ARROW_SIZE;  // track minus the thumb
  return x_abs + GLUI_SCROLL_ARROW_SIZE + static_cast<int>(model.fraction() * std::max(travel, 0));
}

int GLUI_Slider::track_zone(int x) const {
  const int thumb = thumb_x();
  if (x < thumb) return -1;
  if (x > thumb + GLUI_SCROLL_ARROW_SIZE) return 1;
  return 0;
}

void GLUI_Slider::set_float_limits(float low, float high) {
  model.set_limits(low, high);
  write_live();
  if (glui_) glui_->post_redisplay();
}

void GLUI_Slider::set_float_val(float value) {
  model.set_value(value);
  write_live();
  if (glui_) {
    glui_->post_update_main_gfx();
    glui_->post_redisplay();
  }
}

void GLUI_Slider::write_live() {
  if (live_float) *live_float = model.value();
  if (live_int) *live_int = static_cast<int>(model.value());
}

void GLUI_Slider::finish_action() {
  write_live();
  if (live_float || live_int) glui_->post_update_main_gfx();
  glui_->post_redisplay();
  if (model.take_callback()) glui_->execute_callback(callback, id);
}

void GLUI_Slider::mouse_down(int x, int y, int modifiers) {
  held = Held::kNone;
  if (y < track_y()) {
    if (x >= field_x()) {
      held = Held::kField;
      model.select_all();
      glui_->post_redisplay();
    }
    return;
  }
  if (model.dirty()) model.commit();  // typing gives way to the pointer
  const int local = x - x_abs;
  if (local < GLUI_SCROLL_ARROW_SIZE || local >= w - GLUI_SCROLL_ARROW_SIZE) {
    held = local < GLUI_SCROLL_ARROW_SIZE ? Held::kArrowDown : Held::kArrowUp;
    model.press(held == Held::kArrowDown ? -1 : 1, modifiers);
    finish_action();
    return;
  }
  const int zone = track_zone(x);
  if (zone == 0) {
    held = Held::kThumb;
    grab_dx = x - thumb_x();
    glui_->post_redisplay();
    return;
  }
  held = Held::kTrack;
  held_direction = zone;
  model.press(zone, modifiers);
  finish_action();
  g_repeating = this;
  glui_window_system().set_timer(kFirstRepeatMs, repeat_timer, ++g_repeat_generation);
}

void GLUI_Slider::repeat_step() {
  if (held != Held::kTrack) return;
  model.repeat();
  finish_action();
  glui_window_system().set_timer(kRepeatMs, repeat_timer, g_repeat_generation);
}

void GLUI_Slider::mouse_held(int x, int, bool) {
  if (held != Held::kThumb) return;
  const int travel = w - 3 * GLUI_SCROLL_ARROW_SIZE;
  if (travel <= 0) return;
  const int offset = x - grab_dx - (x_abs + GLUI_SCROLL_ARROW_SIZE);
  model.set_fraction(static_cast<double>(offset) / travel);
  finish_action();
}

void GLUI_Slider::mouse_up(int, int, bool) {
  if (g_repeating == this) g_repeating = nullptr;
  ++g_repeat_generation;
  if (held != Held::kField) held = Held::kNone;
  glui_->post_redisplay();
}

bool GLUI_Slider::key(unsigned char key, int modifiers) {
  const GLUI_SliderModel::Result result = model.key(key, modifiers);
  if (result == GLUI_SliderModel::Result::kRefused) return false;
  if (result == GLUI_SliderModel::Result::kAction) {
    finish_action();
  } else {
    glui_->post_redisplay();
  }
  return true;
}

bool GLUI_Slider::special_key(int key, int modifiers) {
  const bool typed = model.dirty();
  if (typed && (key == GLUI_KEY_LEFT || key == GLUI_KEY_RIGHT)) model.commit();
  if (model.special(key, modifiers) == GLUI_SliderModel::Result::kRefused) return false;
  finish_action();
  return true;
}

void GLUI_Slider::focus_lost() {
  held = Held::kNone;
  if (model.focus_lost()) {
    finish_action();
  } else {
    glui_->post_redisplay();
  }
}

// ---- window: creation ----

GLUI::GLUI() {
  bkgd_color.set(200, 200, 200);  // GLUI 2.3x's grey
  text_color.set(0, 0, 0);
  main_panel_owner = std::make_unique<GLUI_Panel>();
  main_panel = main_panel_owner.get();
  main_panel->glui_ = this;
  main_panel->type = GLUI_PANEL_EMBOSSED;
}

GLUI::~GLUI() {
  if (GLUI_Master.active_control && GLUI_Master.active_control->glui() == this) {
    GLUI_Master.active_control = nullptr;
  }
}

template <class T>
T* GLUI::adopt(GLUI_Panel* panel, std::unique_ptr<T> control) {
  GLUI_Panel* into = panel ? panel : main_panel;
  T* raw = control.get();
  raw->glui_ = this;
  raw->parent_ = into;
  into->children_.push_back(std::move(control));
  pack_controls();
  post_redisplay();
  return raw;
}

GLUI_Panel* GLUI::add_panel(const char* name, int type) {
  return add_panel_to_panel(main_panel, name, type);
}

GLUI_Panel* GLUI::add_panel_to_panel(GLUI_Panel* panel, const char* name, int type) {
  auto p = std::make_unique<GLUI_Panel>();
  p->set_name(name);
  p->type = type;
  p->alignment = GLUI_ALIGN_CENTER;
  // A named embossed panel leaves room for its title above the content.
  if (type == GLUI_PANEL_EMBOSSED && !p->name.empty()) p->y_off_top = GLUI_YOFF + 8;
  return adopt(panel, std::move(p));
}

GLUI_Column* GLUI::add_column(int draw_bar) { return add_column_to_panel(main_panel, draw_bar); }

GLUI_Column* GLUI::add_column_to_panel(GLUI_Panel* panel, int draw_bar) {
  auto c = std::make_unique<GLUI_Column>();
  c->draw_bar = draw_bar != 0;
  c->w = 0;
  c->h = 0;
  return adopt(panel, std::move(c));
}

GLUI_Button* GLUI::add_button(const char* name, int id, GLUI_Update_CB cb) {
  return add_button_to_panel(main_panel, name, id, cb);
}

GLUI_Button* GLUI::add_button_to_panel(GLUI_Panel* panel, const char* name, int id,
                                       GLUI_Update_CB cb) {
  auto b = std::make_unique<GLUI_Button>();
  b->set_name(name);
  b->id = id;
  b->callback = cb;
  b->alignment = GLUI_ALIGN_CENTER;
  return adopt(panel, std::move(b));
}

GLUI_Checkbox* GLUI::add_checkbox(const char* name, int* live_var, int id, GLUI_Update_CB cb) {
  return add_checkbox_to_panel(main_panel, name, live_var, id, cb);
}

GLUI_Checkbox* GLUI::add_checkbox_to_panel(GLUI_Panel* panel, const char* name, int* live_var,
                                           int id, GLUI_Update_CB cb) {
  auto c = std::make_unique<GLUI_Checkbox>();
  c->set_name(name);
  c->live_int = live_var;
  c->id = id;
  c->callback = cb;
  c->int_val = live_var ? (*live_var != 0) : 0;
  c->showing = c->int_val;
  return adopt(panel, std::move(c));
}

GLUI_StaticText* GLUI::add_statictext(const char* name) {
  return add_statictext_to_panel(main_panel, name);
}

GLUI_StaticText* GLUI::add_statictext_to_panel(GLUI_Panel* panel, const char* name) {
  auto t = std::make_unique<GLUI_StaticText>();
  t->set_name(name);
  return adopt(panel, std::move(t));
}

GLUI_Spacer* GLUI::add_spacer(int height, bool rule) {
  return add_spacer_to_panel(main_panel, height, rule);
}

GLUI_Spacer* GLUI::add_spacer_to_panel(GLUI_Panel* panel, int height, bool rule) {
  auto s = std::make_unique<GLUI_Spacer>();
  s->h = std::max(height, 0);
  s->rule = rule;
  return adopt(panel, std::move(s));
}

GLUI_Slider* GLUI::add_slider(const char* name, int data_type, void* live_var, float low,
                              float high, int id, GLUI_Update_CB cb) {
  return add_slider_to_panel(main_panel, name, data_type, live_var, low, high, id, cb);
}

GLUI_Slider* GLUI::add_slider_to_panel(GLUI_Panel* panel, const char* name, int data_type,
                                       void* live_var, float low, float high, int id,
                                       GLUI_Update_CB cb) {
  auto s = std::make_unique<GLUI_Slider>();
  s->set_name(name);
  s->data_type = data_type;
  s->id = id;
  s->callback = cb;
  s->w = GLUI_SLIDER_DEFAULT_WIDTH;
  s->model.set_int_mode(data_type == GLUI_SLIDER_INT);
  s->model.set_limits(low, high);
  float start = low;
  if (data_type == GLUI_SLIDER_INT) {
    s->live_int = static_cast<int*>(live_var);
    if (s->live_int) start = static_cast<float>(*s->live_int);
  } else {
    s->live_float = static_cast<float*>(live_var);
    if (s->live_float) start = *s->live_float;
  }
  s->model.set_value(start);
  s->write_live();
  return adopt(panel, std::move(s));
}

// ---- window: layout ----

void GLUI::pack_controls() {
  pack(main_panel, 0, 0);
  align(main_panel);
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

void GLUI::post_redisplay() {
  if (glut_window_id > 0) glui_window_system().post_redisplay(glut_window_id);
}

void GLUI::post_update_main_gfx() {
  if (main_gfx_window > 0) glui_window_system().post_redisplay(main_gfx_window);
}

void GLUI::execute_callback(GLUI_Update_CB cb, int control_id) {
  if (cb == nullptr) return;
  if (main_gfx_window <= 0) {
    cb(control_id);
    return;
  }
  GLUI_WindowSystem& ws = glui_window_system();
  const int previous = ws.get_window();
  ws.set_window(main_gfx_window);
  cb(control_id);
  if (previous > 0) ws.set_window(previous);
}

// ---- window: events ----

std::vector<GLUI_Control*> GLUI::focus_chain() {
  std::vector<GLUI_Control*> chain;
  collect_focusable(main_panel, &chain);
  return chain;
}

GLUI_Control* GLUI::find_control(int x, int y) { return find_in(main_panel, x, y); }

bool GLUI::handle_key(unsigned char key, int modifiers) {
  GLUI_Control* active = GLUI_Master.active_control;
  if (key == '\t') {
    // Tab: next focusable control, Shift-Tab the previous; past either end
    // nothing is focused, and the next Tab starts again.
    const std::vector<GLUI_Control*> chain = focus_chain();
    if (chain.empty()) return true;
    const auto it = std::find(chain.begin(), chain.end(), active);
    GLUI_Control* next = nullptr;
    if (modifiers & GLUI_MOD_SHIFT) {
      if (it == chain.end()) {
        next = chain.back();
      } else if (it != chain.begin()) {
        next = *(it - 1);
      }
    } else {
      if (it == chain.end()) {
        next = chain.front();
      } else if (it + 1 != chain.end()) {
        next = *(it + 1);
      }
    }
    GLUI_Master.activate(next);
    return true;
  }
  if (active == nullptr || active->glui() != this) return false;
  return active->key(key, modifiers);
}

bool GLUI::handle_special(int key, int modifiers) {
  GLUI_Control* active = GLUI_Master.active_control;
  if (active == nullptr || active->glui() != this) return false;
  return active->special_key(key, modifiers);
}

void GLUI::handle_mouse(int button, bool down, int x, int y, int modifiers) {
  if (button != 0) return;  // only the left button does anything
  if (down) {
    GLUI_Control* hit = find_control(x, y);
    if (hit == nullptr || !hit->can_focus()) {
      GLUI_Master.activate(nullptr);
      return;
    }
    GLUI_Master.activate(hit);
    mouse_control = hit;
    hit->mouse_down(x, y, modifiers);
    return;
  }
  GLUI_Control* held = mouse_control;
  mouse_control = nullptr;
  if (held) held->mouse_up(x, y, held->contains(x, y));
}

void GLUI::handle_motion(int x, int y) {
  if (mouse_control) mouse_control->mouse_held(x, y, mouse_control->contains(x, y));
}
