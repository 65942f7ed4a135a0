// Finds a toolkit control by its label, for tests that click the program's panel.
#ifndef NUBO_TESTS_FIND_CONTROL_H_
#define NUBO_TESTS_FIND_CONTROL_H_

#include <string>

#include "toolkit/glui.h"

// The first control named name in control's tree (depth first), or null.
inline GLUI_Control* findControl(GLUI_Control* control, const std::string& name) {
  if (control->name == name) return control;
  for (const auto& child : control->children()) {
    if (GLUI_Control* found = findControl(child.get(), name)) return found;
  }
  return nullptr;
}

#endif  // NUBO_TESTS_FIND_CONTROL_H_
