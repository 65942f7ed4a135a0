// Status line updates.
#include "app/status_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/state.h"
#include "toolkit/glui.h"

namespace nubo {

bool replaceStatusText(char* current, size_t size, const char* text) {
  if (std::strcmp(current, text) == 0) return false;
  std::snprintf(current, size, "%s", text);
  return true;
}

void showStatus(const char* format, ...) {
  char text[kTextBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (!replaceStatusText(statusText, sizeof statusText, text)) return;
  if (statusControl != nullptr) statusControl->set_text(statusText);
}

}  // namespace nubo
