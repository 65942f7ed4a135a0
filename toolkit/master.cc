// The toolkit's global object and its GLUT side: subwindow creation and
// placement, the handlers installed on the main window and on toolkit
// windows, focus, and the GLUT implementation of the window system.
#include <GL/freeglut.h>

#include <algorithm>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

GLUI_Master_Object GLUI_Master;

namespace {

// The window system that calls GLUT.
class GlutWindowSystem : public GLUI_WindowSystem {
 public:
  bool real() const override { return true; }
  int get_window() override { return glutGetWindow(); }
  void set_window(int window) override {
    if (window > 0) glutSetWindow(window);
  }
  void post_redisplay(int window) override {
    if (window > 0) glutPostWindowRedisplay(window);
  }
  void set_timer(unsigned msecs, void (*f)(int), int value) override {
    glutTimerFunc(msecs, f, value);
  }
};

GlutWindowSystem g_glut;
GLUI_WindowSystem* g_system = &g_glut;

int modifiers_now() {
  const int m = glutGetModifiers();
  return ((m & GLUT_ACTIVE_SHIFT) ? GLUI_MOD_SHIFT : 0) |
         ((m & GLUT_ACTIVE_CTRL) ? GLUI_MOD_CTRL : 0) | ((m & GLUT_ACTIVE_ALT) ? GLUI_MOD_ALT : 0);
}

// ---- handlers on the main window ----

void main_reshape_cb(int width, int height) {
  GLUI_Master.main_reshape(glutGetWindow(), width, height);
}
void main_keyboard_cb(unsigned char key, int x, int y) {
  GLUI_Master.main_keyboard(glutGetWindow(), key, x, y, modifiers_now());
}
void main_special_cb(int key, int x, int y) {
  GLUI_Master.main_special(glutGetWindow(), key, x, y, modifiers_now());
}
void main_mouse_cb(int button, int state, int x, int y) {
  GLUI_Master.main_mouse(glutGetWindow(), button, state, x, y);
}

// ---- handlers on toolkit windows ----

GLUI* current_glui() { return GLUI_Master.find_glui(glutGetWindow()); }

void glui_display_cb() {
  if (GLUI* g = current_glui()) g->display();
}
void glui_reshape_cb(int width, int height) {
  glViewport(0, 0, width, height);
  if (GLUI* g = current_glui()) g->post_redisplay();
}
void glui_keyboard_cb(unsigned char key, int, int) {
  if (GLUI* g = current_glui()) g->handle_key(key, modifiers_now());
}
void glui_special_cb(int key, int, int) {
  if (GLUI* g = current_glui()) g->handle_special(key, modifiers_now());
}
void glui_mouse_cb(int button, int state, int x, int y) {
  if (GLUI* g = current_glui()) g->handle_mouse(button, state == GLUT_DOWN, x, y, modifiers_now());
}
void glui_motion_cb(int x, int y) {
  if (GLUI* g = current_glui()) g->handle_motion(x, y);
}

// The key rule of main_keyboard and main_special: with a control holding the
// focus, offer(its window) first, with that window current; pass() when the
// key is not taken (still in that window) or when no control has the focus,
// and the main window current again afterwards.
template <typename Offer, typename Pass>
void route_key(GLUI_Control* active, int window, const Offer& offer, const Pass& pass) {
  if (active == nullptr) {
    pass();
    return;
  }
  GLUI* g = active->glui();
  g_system->set_window(g->glut_window_id);
  const bool taken = offer(g);
  if (!taken) pass();
  g_system->set_window(window);
}

}  // namespace

GLUI_WindowSystem::~GLUI_WindowSystem() = default;

void glui_set_window_system(GLUI_WindowSystem* system) { g_system = system ? system : &g_glut; }

GLUI_WindowSystem& glui_window_system() { return *g_system; }

// ---- GLUI: the GLUT side of a window ----

void GLUI::place() {
  if (glut_window_id <= 0 || !g_system->real()) return;
  int x = 0, y = 0;
  position(&x, &y);
  if (x == placed_x && y == placed_y && w == placed_w && h == placed_h) return;
  const int previous = glutGetWindow();
  glutSetWindow(glut_window_id);
  if (w != placed_w || h != placed_h) glutReshapeWindow(std::max(w, 1), std::max(h, 1));
  if (x != placed_x || y != placed_y) glutPositionWindow(x, y);
  glutPostRedisplay();
  if (previous > 0) glutSetWindow(previous);
  placed_x = x;
  placed_y = y;
  placed_w = w;
  placed_h = h;
}

void GLUI::redraw_now() {
  if (glut_window_id <= 0 || !g_system->real()) return;
  const int previous = glutGetWindow();
  glutSetWindow(glut_window_id);
  display();
  if (previous > 0) glutSetWindow(previous);
}

// ---- GLUI_Master ----

GLUI* GLUI_Master_Object::create_glui_subwindow(int parent_window, long flags) {
  auto owned = std::make_unique<GLUI>();
  GLUI* g = owned.get();
  windows.push_back(std::move(owned));
  g->flags = static_cast<int>(flags) | GLUI_SUBWINDOW;
  g->parent_window = parent_window;
  if (!g_system->real()) {
    g->pack_controls();
    return g;
  }
  const int previous = glutGetWindow();
  glutSetWindow(parent_window);
  g->parent_w = glutGet(GLUT_WINDOW_WIDTH);
  g->parent_h = glutGet(GLUT_WINDOW_HEIGHT);
  g->pack_controls();
  int x = 0, y = 0;
  g->position(&x, &y);
  // Toolkit windows are always double-buffered, whatever mode the program set.
  const unsigned int mode = static_cast<unsigned int>(glutGet(GLUT_INIT_DISPLAY_MODE));
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
  g->glut_window_id =
      glutCreateSubWindow(parent_window, x, y, std::max(g->w, 1), std::max(g->h, 1));
  glutInitDisplayMode(mode);
  g->placed_x = x;
  g->placed_y = y;
  g->placed_w = g->w;
  g->placed_h = g->h;
  glutDisplayFunc(glui_display_cb);
  glutReshapeFunc(glui_reshape_cb);
  glutKeyboardFunc(glui_keyboard_cb);
  glutSpecialFunc(glui_special_cb);
  glutMouseFunc(glui_mouse_cb);
  glutMotionFunc(glui_motion_cb);
  if (previous > 0) glutSetWindow(previous);
  return g;
}

GLUI* GLUI_Master_Object::create_offscreen_glui(int parent_width, int parent_height, long flags,
                                                int parent_window, int window_id) {
  auto owned = std::make_unique<GLUI>();
  GLUI* g = owned.get();
  windows.push_back(std::move(owned));
  g->flags = static_cast<int>(flags) | GLUI_SUBWINDOW;
  g->parent_window = parent_window;
  g->parent_w = parent_width;
  g->parent_h = parent_height;
  g->glut_window_id = window_id;
  g->pack_controls();
  return g;
}

GLUI* GLUI_Master_Object::find_glui(int window_id) {
  if (window_id <= 0) return nullptr;
  for (const auto& g : windows) {
    if (g->glut_window_id == window_id) return g.get();
  }
  return nullptr;
}

void GLUI_Master_Object::get_viewport_area(int* x, int* y, int* w, int* h) {
  const int current = g_system->get_window();
  int width = 0, height = 0;
  bool known = false;
  if (g_system->real() && current > 0) {
    width = glutGet(GLUT_WINDOW_WIDTH);
    height = glutGet(GLUT_WINDOW_HEIGHT);
    known = true;
  }
  int vx = 0, vy = 0;
  for (const auto& g : windows) {
    if (g->parent_window != current) continue;
    if (!known) {
      width = g->parent_w;
      height = g->parent_h;
      known = true;
    }
  }
  int vw = width, vh = height;
  for (const auto& g : windows) {
    if (g->parent_window != current) continue;
    if (g->flags & GLUI_SUBWINDOW_LEFT) {
      vx += g->w;
      vw -= g->w;
    } else if (g->flags & GLUI_SUBWINDOW_BOTTOM) {
      vy += g->h;
      vh -= g->h;
    } else if (g->flags & GLUI_SUBWINDOW_RIGHT) {
      vw -= g->w;
    } else if (g->flags & GLUI_SUBWINDOW_TOP) {
      vh -= g->h;
    }
    vx = std::max(vx, 0);
    vy = std::max(vy, 0);
    vw = std::max(vw, 0);
    vh = std::max(vh, 0);
  }
  *x = vx;
  *y = vy;
  *w = vw;
  *h = vh;
}

void GLUI_Master_Object::set_glutReshapeFunc(void (*f)(int, int)) {
  handlers[g_system->get_window()].reshape = f;
  if (g_system->real()) glutReshapeFunc(main_reshape_cb);
}

void GLUI_Master_Object::set_glutKeyboardFunc(void (*f)(unsigned char, int, int)) {
  handlers[g_system->get_window()].keyboard = f;
  if (g_system->real()) glutKeyboardFunc(main_keyboard_cb);
}

void GLUI_Master_Object::set_glutSpecialFunc(void (*f)(int, int, int)) {
  handlers[g_system->get_window()].special = f;
  if (g_system->real()) glutSpecialFunc(main_special_cb);
}

void GLUI_Master_Object::set_glutMouseFunc(void (*f)(int, int, int, int)) {
  handlers[g_system->get_window()].mouse = f;
  if (g_system->real()) glutMouseFunc(main_mouse_cb);
}

void GLUI_Master_Object::set_glutIdleFunc(void (*f)()) {
  if (g_system->real()) glutIdleFunc(f);
}

void GLUI_Master_Object::reshape() {
  const int current = g_system->get_window();
  int width = 0, height = 0;
  if (g_system->real() && current > 0) {
    width = glutGet(GLUT_WINDOW_WIDTH);
    height = glutGet(GLUT_WINDOW_HEIGHT);
  }
  for (const auto& g : windows) {
    if (g->parent_window != current) continue;
    if (g_system->real()) {
      g->parent_w = width;
      g->parent_h = height;
    }
    g->pack_controls();
  }
}

void GLUI_Master_Object::main_reshape(int window, int width, int height) {
  const auto it = handlers.find(window);
  if (it != handlers.end() && it->second.reshape) it->second.reshape(width, height);
  for (const auto& g : windows) {
    if (g->parent_window != window) continue;
    g->parent_w = width;
    g->parent_h = height;
    g->pack_controls();
    g->post_redisplay();
  }
  g_system->set_window(window);
}

void GLUI_Master_Object::main_keyboard(int window, unsigned char key, int x, int y, int modifiers) {
  const auto it = handlers.find(window);
  void (*f)(unsigned char, int, int) = it == handlers.end() ? nullptr : it->second.keyboard;
  route_key(
      active_control, window, [&](GLUI* g) { return g->handle_key(key, modifiers); },
      [&]() {
        if (f) f(key, x, y);
      });
}

void GLUI_Master_Object::main_special(int window, int key, int x, int y, int modifiers) {
  const auto it = handlers.find(window);
  void (*f)(int, int, int) = it == handlers.end() ? nullptr : it->second.special;
  route_key(
      active_control, window, [&](GLUI* g) { return g->handle_special(key, modifiers); },
      [&]() {
        if (f) f(key, x, y);
      });
}

void GLUI_Master_Object::main_mouse(int window, int button, int state, int x, int y) {
  activate(nullptr);  // an edit field commits, and may call back
  const auto it = handlers.find(window);
  if (it != handlers.end() && it->second.mouse) it->second.mouse(button, state, x, y);
}

void GLUI_Master_Object::activate(GLUI_Control* control) {
  if (control == active_control) return;
  GLUI_Control* old = active_control;
  active_control = nullptr;
  if (old) {
    old->focus_lost();
    old->glui()->post_redisplay();
  }
  active_control = control;
  if (control) {
    control->focus_gained();
    control->glui()->post_redisplay();
  }
}

void GLUI_Master_Object::clear() {
  active_control = nullptr;
  windows.clear();
  handlers.clear();
}
