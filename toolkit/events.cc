// Events arriving in a toolkit window: which control is hit, the focus chain
// and Tab, keys for the focused control, and the held mouse button.
#include <algorithm>
#include <vector>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"

namespace {

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

// ---- window: events ----

std::vector<GLUI_Control*> GLUI::focus_chain() {
  std::vector<GLUI_Control*> chain;
  collect_focusable(main_panel, &chain);
  return chain;
}

GLUI_Control* GLUI::find_control(int x, int y) { return find_in(main_panel, x, y); }

bool GLUI::handle_key(unsigned char key, int modifiers) {
  GLUI_Control* active = GLUI_Master.get_active_control();
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
  GLUI_Control* active = GLUI_Master.get_active_control();
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
