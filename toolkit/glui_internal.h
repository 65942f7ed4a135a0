// What the toolkit's own files (and its tests) share and a program using the
// toolkit does not need: the layout's constants, the font's widths, the window
// system the event rules call, and the modifier bits of those rules.
#ifndef TOOLKIT_GLUI_INTERNAL_H_
#define TOOLKIT_GLUI_INTERNAL_H_

#include <string>

#include "toolkit/glui.h"

// Layout constants (pixels).
#define GLUI_XOFF 6
#define GLUI_YOFF 6
#define GLUI_ITEMSPACING 3
#define GLUI_DEFAULT_CONTROL_WIDTH 100
#define GLUI_DEFAULT_CONTROL_HEIGHT 13
#define GLUI_BUTTON_SIZE 20
#define GLUI_CHECKBOX_SIZE 13
#define GLUI_STATICTEXT_SIZE 13
#define GLUI_EDITTEXT_HEIGHT 20
#define GLUI_SCROLL_ARROW_SIZE 16
// The slider: its numeric field row, a gap of one item spacing, its track row.
#define GLUI_SLIDER_HEIGHT (GLUI_EDITTEXT_HEIGHT + GLUI_ITEMSPACING + GLUI_SCROLL_ARROW_SIZE)
#define GLUI_SLIDER_DEFAULT_WIDTH 130

// Width in pixels of text in GLUT's 12-point Helvetica bitmap font, the font of
// every control; needs no window (the widths are the font's own).
int glui_text_width(const std::string& text);
// Width of one character code (0..255) in that font.
int glui_char_width(unsigned char c);

// The GLUT services the event rules use. The default one calls GLUT; tests
// install their own (glui_set_window_system) to run the rules without windows.
class GLUI_WindowSystem {
 public:
  virtual ~GLUI_WindowSystem();
  // Whether toolkit windows are real GLUT windows (drawn, with callbacks).
  virtual bool real() const = 0;
  virtual int get_window() = 0;                 // the current window, 0 if none
  virtual void set_window(int window) = 0;      // make a window current
  virtual void post_redisplay(int window) = 0;  // ask for a redraw of a window
  // Calls f(value) once after msecs milliseconds.
  virtual void set_timer(unsigned msecs, void (*f)(int), int value) = 0;
};

// Replaces the window system (nullptr: GLUT again). The object stays the caller's.
void glui_set_window_system(GLUI_WindowSystem* system);
GLUI_WindowSystem& glui_window_system();

// Modifier bits as the control methods receive them (GLUT's values).
#define GLUI_MOD_SHIFT 1
#define GLUI_MOD_CTRL 2
#define GLUI_MOD_ALT 4

// The left edge and width of the column a control sits in: the nearest
// preceding column of its siblings, else the parent up to the next column,
// else the whole parent.
void glui_column_dims(const GLUI_Control* control, int* left, int* width);

#endif  // TOOLKIT_GLUI_INTERNAL_H_
