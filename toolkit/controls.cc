// What each control does with the mouse and keys, and the settings a program
// changes on a control (width, alignment, label, value, limits).
#include <algorithm>
#include <string>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

// A held track click repeats first after this delay, then at this interval
// (milliseconds): slow enough for a single click, then smooth.
constexpr unsigned kFirstRepeatMs = 300;
constexpr unsigned kRepeatMs = 30;

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

}  // namespace

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
// ---- press controls: button and checkbox ----

void GLUI_PressControl::mouse_down(int, int, int) {
  show_held(true);
  glui_->post_redisplay();
}

void GLUI_PressControl::mouse_held(int, int, bool inside) {
  if (show_held(inside)) glui_->post_redisplay();
}

void GLUI_PressControl::mouse_up(int, int, bool inside) {
  show_held(false);
  if (!inside) {
    glui_->post_redisplay();
    return;
  }
  press();
  glui_->execute_callback(callback, id);
}

bool GLUI_PressControl::key(unsigned char key, int) {
  if (key != ' ') return false;
  press();
  glui_->execute_callback(callback, id);
  return true;
}

bool GLUI_Button::show_held(bool over) {
  if (pressed == over) return false;
  pressed = over;
  return true;
}

void GLUI_Button::press() { glui_->post_redisplay(); }

void GLUI_Checkbox::set_int_val(int value) {
  int_val = value != 0;
  showing = int_val;
  if (live_int) {
    *live_int = int_val;
    glui_->post_update_main_gfx();
  }
  glui_->post_redisplay();
}

// Held over, the box shows what a release would make it.
bool GLUI_Checkbox::show_held(bool over) {
  const bool shown = over ? !int_val : int_val;
  if (showing == shown) return false;
  showing = shown;
  return true;
}

void GLUI_Checkbox::press() { set_int_val(!int_val); }

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
