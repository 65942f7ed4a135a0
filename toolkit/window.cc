// A toolkit window's controls: creating them into panels, and running their
// callbacks and redraw requests through the window system.
#include <algorithm>
#include <memory>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

// A new control with its label, id and callback.
template <class T>
std::unique_ptr<T> labelled(const char* name, int id, GLUI_Update_CB cb) {
  auto control = std::make_unique<T>();
  control->set_name(name);
  control->id = id;
  control->callback = cb;
  return control;
}

}  // namespace

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
  auto b = labelled<GLUI_Button>(name, id, cb);
  b->alignment = GLUI_ALIGN_CENTER;
  return adopt(panel, std::move(b));
}

GLUI_Checkbox* GLUI::add_checkbox(const char* name, int* live_var, int id, GLUI_Update_CB cb) {
  return add_checkbox_to_panel(main_panel, name, live_var, id, cb);
}

GLUI_Checkbox* GLUI::add_checkbox_to_panel(GLUI_Panel* panel, const char* name, int* live_var,
                                           int id, GLUI_Update_CB cb) {
  auto c = labelled<GLUI_Checkbox>(name, id, cb);
  c->live_int = live_var;
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
  auto s = labelled<GLUI_Slider>(name, id, cb);
  s->data_type = data_type;
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
