// A small user-interface toolkit on freeglut with the names and behaviour of
// GLUI 2.3x: control panels docked in GLUT subwindows of a main window, with
// panels, columns, buttons, checkboxes, static texts, spacers and a float
// slider. It knows nothing of the program that uses it.
//
// Coordinates inside a toolkit window are pixels from its top-left corner, y
// downwards. Layout (packing and alignment) is computed without a window
// system, so that it can be checked by tests; only drawing and event handling
// need GLUT, and every GLUT call of the event rules goes through
// GLUI_WindowSystem, which tests replace. This header is what a program using
// the toolkit needs; the layout's constants, the font and the window system
// are in toolkit/glui_internal.h.
#ifndef TOOLKIT_GLUI_H_
#define TOOLKIT_GLUI_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/slider_model.h"

// Subwindow placement flags (bit flags; create_glui_subwindow adds GLUI_SUBWINDOW).
#define GLUI_SUBWINDOW 2
#define GLUI_SUBWINDOW_TOP 4
#define GLUI_SUBWINDOW_BOTTOM 8
#define GLUI_SUBWINDOW_LEFT 16
#define GLUI_SUBWINDOW_RIGHT 32

// Panel frames.
#define GLUI_PANEL_NONE 0
#define GLUI_PANEL_EMBOSSED 1
#define GLUI_PANEL_RAISED 2

// Horizontal alignment of a control in its column.
#define GLUI_ALIGN_CENTER 1
#define GLUI_ALIGN_RIGHT 2
#define GLUI_ALIGN_LEFT 3

// Slider value types.
#define GLUI_SLIDER_INT 2
#define GLUI_SLIDER_FLOAT 3

// Longest label a control keeps, in bytes; longer texts are cut.
#define GLUI_MAX_LABEL 300

// Control callback: called with the control's id after its live variable has
// been written, with the window given to set_main_gfx_window current.
typedef void (*GLUI_Update_CB)(int id);

class GLUI;
class GLUI_Panel;

// An 8-bit colour, as the toolkit's windows keep their background and text.
struct GLUI_RGB {
  unsigned char r = 0, g = 0, b = 0;
  void set(int red, int green, int blue) {
    r = static_cast<unsigned char>(red);
    g = static_cast<unsigned char>(green);
    b = static_cast<unsigned char>(blue);
  }
};

// Base of every control. Position and size are set by packing.
class GLUI_Control {
 public:
  GLUI_Control();  // the default size and margins of the toolkit's layout
  virtual ~GLUI_Control();

  int x_abs = 0, y_abs = 0;  // top-left corner in the window
  int w = 0, h = 0;          // size
  int alignment = GLUI_ALIGN_LEFT;
  int id = -1;
  std::string name;  // label (at most GLUI_MAX_LABEL bytes)

  // Sets the width and repacks the window. With fixed true the control keeps
  // exactly this width; otherwise it still widens to fit its label.
  void set_w(int new_w, bool fixed = false);
  int get_w() const { return w; }
  // Sets GLUI_ALIGN_LEFT, _CENTER or _RIGHT and repacks the window.
  void set_alignment(int new_alignment);
  // Replaces the label (cut at GLUI_MAX_LABEL bytes).
  void set_name(const char* text);

  GLUI* glui() const { return glui_; }
  GLUI_Control* parent() const { return parent_; }
  const std::vector<std::unique_ptr<GLUI_Control>>& children() const { return children_; }
  // Whether window point (px, py) lies on the control (edges included).
  bool contains(int px, int py) const;

  // --- the toolkit's own (layout, drawing and event rules; see glui_internal.h) ---
  virtual bool is_container() const { return false; }
  virtual bool is_column() const { return false; }
  virtual bool can_focus() const { return false; }
  // Recomputes w and h from the label and the set width.
  virtual void update_size() {}
  virtual void draw() {}
  // Mouse in window coordinates, left button only; modifiers GLUI_MOD_*.
  virtual void mouse_down(int /*x*/, int /*y*/, int /*modifiers*/) {}
  virtual void mouse_held(int /*x*/, int /*y*/, bool /*inside*/) {}
  virtual void mouse_up(int /*x*/, int /*y*/, bool /*inside*/) {}
  // Keys while the control has the focus; return whether the control took it.
  virtual bool key(unsigned char /*key*/, int /*modifiers*/) { return false; }
  virtual bool special_key(int /*key*/, int /*modifiers*/) { return false; }
  virtual void focus_gained() {}
  virtual void focus_lost() {}

 protected:
  // The window adopts controls into its panels; the layout packs them.
  friend class GLUI;
  friend struct GLUI_Layout;
  bool fixed_width = false;
  int set_width = 0;  // the width last given by set_w
  int x_off = 0, y_off_top = 0, y_off_bot = 0;
  GLUI* glui_ = nullptr;
  GLUI_Control* parent_ = nullptr;
  std::vector<std::unique_ptr<GLUI_Control>> children_;
};

// A container; type GLUI_PANEL_NONE, _EMBOSSED or _RAISED.
class GLUI_Panel : public GLUI_Control {
 public:
  int type = GLUI_PANEL_EMBOSSED;
  // --- the toolkit's own ---
  bool is_container() const override { return true; }
  void update_size() override;
  void draw() override;
};

// Starts a new column in its panel; with draw_bar a vertical etched line.
class GLUI_Column : public GLUI_Control {
 public:
  bool draw_bar = true;
  // --- the toolkit's own ---
  bool is_column() const override { return true; }
  void draw() override;
};

// A control the left button or the space key presses: it shows whether the
// button is held over it, and a release over it (or space while it has the
// focus) acts and then calls back.
class GLUI_PressControl : public GLUI_Control {
 public:
  GLUI_Update_CB callback = nullptr;
  // --- the toolkit's own ---
  bool can_focus() const override { return true; }
  void mouse_down(int x, int y, int modifiers) override;
  void mouse_held(int x, int y, bool inside) override;
  void mouse_up(int x, int y, bool inside) override;
  bool key(unsigned char key, int modifiers) override;  // space presses

 protected:
  // Shows the button held over the control (over) or not; returns whether
  // the look changed.
  virtual bool show_held(bool over) = 0;
  // What a press does before the callback.
  virtual void press() = 0;
};

// A push button: pressed look while held over it, callback on release inside.
class GLUI_Button : public GLUI_PressControl {
 public:
  bool shown_pressed() const { return pressed; }  // whether it looks pressed now
  // --- the toolkit's own ---
  void update_size() override;
  void draw() override;

 private:
  bool show_held(bool over) override;
  void press() override;
  bool pressed = false;
};

// A checkbox with a live int (0 or 1), toggled on release inside.
class GLUI_Checkbox : public GLUI_PressControl {
 public:
  int* live_int = nullptr;      // written 0 or 1 after every toggle
  void set_int_val(int value);  // no callback
  int get_int_val() const { return int_val; }
  bool shown_val() const { return showing; }  // what the box shows now

  // --- the toolkit's own ---
  void update_size() override;
  void draw() override;

 private:
  friend class GLUI;  // starts it at its live variable's value
  bool show_held(bool over) override;
  void press() override;
  int int_val = 0;
  bool showing = false;
};

// One line of text; at least 100 pixels wide, wider for a longer text.
class GLUI_StaticText : public GLUI_Control {
 public:
  // Takes the new text and shows it at once: when the window exists, the whole
  // window is redrawn into its back buffer and swapped before this returns
  // (the previously current GLUT window is current again afterwards). A longer
  // text widens the control unless its width is fixed.
  void set_text(const char* text);
  // --- the toolkit's own ---
  void update_size() override;
  void draw() override;
};

// A vertical gap of a given height, empty or with an etched horizontal rule
// across the column (inset 5% of the column width at each end).
class GLUI_Spacer : public GLUI_Control {
 public:
  bool rule = false;
  // --- the toolkit's own ---
  void update_size() override;
  void draw() override;
  // Where the rule lies: pixel columns x0..x1 (inclusive) of its dark row y;
  // the light row is y + 1.
  void rule_extent(int* x0, int* x1, int* y) const;
};

// A horizontal slider with a numeric field, editing a float (or int) within
// clamping limits. The value changes by dragging the thumb (linear over the
// track), clicking an arrow end (one step), clicking the track beside the
// thumb (a step towards that side, repeated while held, the step growing by
// 1.05 per repetition up to a hundredth of the range), the Left and Right keys
// while it has the focus (one step), or typing into the field (Enter commits).
// The first step is range x 0.00125 x speed; Shift multiplies a step by 100,
// Ctrl by 0.01. After every user action the live variable is written and the
// callback runs if the value changed since the last callback (the very first
// action always calls back).
//
// Look: a row with the label and the numeric field (GLUI's edit text), then a
// track row (GLUI's horizontal scrollbar: arrow boxes at both ends, a
// checkerboard track and a raised thumb). 39 pixels high.
class GLUI_Slider : public GLUI_Control {
 public:
  ~GLUI_Slider() override;
  // Sets the value (clamped to the limits), shows it and writes the live
  // variable, without a callback.
  void set_float_val(float value);
  float get_float_val() const { return model.value(); }
  void set_int_val(int value) { set_float_val(static_cast<float>(value)); }
  int get_int_val() const { return static_cast<int>(model.value()); }
  void set_float_limits(float low, float high);
  void set_speed(float speed) { model.set_speed(speed); }

  // --- the toolkit's own ---
  bool can_focus() const override { return true; }
  void update_size() override;
  void draw() override;
  void mouse_down(int x, int y, int modifiers) override;
  void mouse_held(int x, int y, bool inside) override;
  void mouse_up(int x, int y, bool inside) override;
  bool key(unsigned char key, int modifiers) override;
  bool special_key(int key, int modifiers) override;
  void focus_lost() override;

  // Geometry, in window coordinates.
  int field_x() const;  // left edge of the numeric field's box
  int track_y() const;  // top of the track row
  int thumb_x() const;  // left edge of the thumb
  // Which part of the track row window x hits: -1 decrease, +1 increase, 0 thumb.
  int track_zone(int x) const;
  // One repetition of a held track click (the toolkit's timer calls it).
  void repeat_step();

  // What the mouse is doing with the slider.
  enum class Held { kNone, kArrowDown, kArrowUp, kTrack, kThumb, kField };
  Held held_part() const { return held; }

  int data_type = GLUI_SLIDER_FLOAT;
  float* live_float = nullptr;
  int* live_int = nullptr;
  GLUI_Update_CB callback = nullptr;
  GLUI_SliderModel model;

 private:
  friend class GLUI;  // writes the live variable it starts at
  // Writes the live variable and runs the callback as the model says, after a
  // user action.
  void finish_action();
  void write_live();

  Held held = Held::kNone;
  int held_direction = 0;  // -1 or +1 for arrows and the track
  int grab_dx = 0;         // pointer x minus thumb x when the thumb was grabbed
};

// One toolkit window: a GLUT subwindow docked to a side of a main window.
class GLUI {
 public:
  GLUI();
  ~GLUI();

  GLUI_RGB bkgd_color;  // clear colour of the window (default 200, 200, 200)
  GLUI_RGB text_color;  // labels of enabled controls (default black)
  void set_text_color(int red, int green, int blue) { text_color.set(red, green, blue); }

  GLUI_Panel* get_main_panel() { return main_panel; }

  GLUI_Panel* add_panel(const char* name, int type = GLUI_PANEL_EMBOSSED);
  GLUI_Panel* add_panel_to_panel(GLUI_Panel* panel, const char* name,
                                 int type = GLUI_PANEL_EMBOSSED);
  GLUI_Column* add_column(int draw_bar = true);
  GLUI_Column* add_column_to_panel(GLUI_Panel* panel, int draw_bar = true);
  GLUI_Button* add_button(const char* name, int id = -1, GLUI_Update_CB cb = nullptr);
  GLUI_Button* add_button_to_panel(GLUI_Panel* panel, const char* name, int id = -1,
                                   GLUI_Update_CB cb = nullptr);
  GLUI_Checkbox* add_checkbox(const char* name, int* live_var = nullptr, int id = -1,
                              GLUI_Update_CB cb = nullptr);
  GLUI_Checkbox* add_checkbox_to_panel(GLUI_Panel* panel, const char* name, int* live_var = nullptr,
                                       int id = -1, GLUI_Update_CB cb = nullptr);
  GLUI_StaticText* add_statictext(const char* name);
  GLUI_StaticText* add_statictext_to_panel(GLUI_Panel* panel, const char* name);
  GLUI_Spacer* add_spacer(int height, bool rule = false);
  GLUI_Spacer* add_spacer_to_panel(GLUI_Panel* panel, int height, bool rule = false);
  // data_type GLUI_SLIDER_FLOAT (live_var a float*) or GLUI_SLIDER_INT (an int*).
  // The slider starts at the live variable's value, clamped to [low, high].
  GLUI_Slider* add_slider(const char* name, int data_type, void* live_var, float low, float high,
                          int id = -1, GLUI_Update_CB cb = nullptr);
  GLUI_Slider* add_slider_to_panel(GLUI_Panel* panel, const char* name, int data_type,
                                   void* live_var, float low, float high, int id = -1,
                                   GLUI_Update_CB cb = nullptr);

  // The window made current around every callback and redrawn after a live
  // variable changes.
  void set_main_gfx_window(int window_id) { main_gfx_window = window_id; }
  int get_glut_window_id() const { return glut_window_id; }

  // --- the toolkit's own (layout, drawing, the event rules; tests read them) ---
  // Packs and aligns the controls: sets every x_abs, y_abs, w, h and the
  // window's own size (w, h below), then places the window. Runs after every
  // change of the layout.
  void pack_controls();
  // Window position in its parent (y from the top) for the current sizes.
  void position(int* x, int* y) const;
  // Redraws the whole window into its back buffer and swaps, at once.
  void redraw_now();
  void post_redisplay();
  // Draws every control (needs the window current and a GL context).
  void display();

  // Runs cb(id) with the main gfx window current, restoring the current window.
  void execute_callback(GLUI_Update_CB cb, int id);
  // Posts a redisplay of the main gfx window (after a live variable changed).
  void post_update_main_gfx();

  // Events arriving in this window (window coordinates). Return whether taken.
  bool handle_key(unsigned char key, int modifiers);
  bool handle_special(int key, int modifiers);
  void handle_mouse(int button, bool down, int x, int y, int modifiers);
  void handle_motion(int x, int y);
  // The innermost control under a point (columns skipped), or nullptr.
  GLUI_Control* find_control(int x, int y);
  // Focusable controls in tree order.
  std::vector<GLUI_Control*> focus_chain();

  int flags = 0;                   // GLUI_SUBWINDOW_* of a subwindow
  int parent_window = -1;          // GLUT id of the window it is docked to
  int parent_w = 0, parent_h = 0;  // its last known size
  int glut_window_id = -1;
  int main_gfx_window = -1;
  int w = 0, h = 0;  // window size after packing
  GLUI_Panel* main_panel = nullptr;
  // Where the window was last placed in its parent (GLUT geometry).
  int get_placed_x() const { return placed_x; }
  int get_placed_y() const { return placed_y; }

 private:
  friend class GLUI_Control;        // a control going away lets go of the mouse
  friend class GLUI_Master_Object;  // places the windows it creates
  int placed_x = -1, placed_y = -1, placed_w = -1, placed_h = -1;  // last GLUT geometry
  std::unique_ptr<GLUI_Panel> main_panel_owner;
  GLUI_Control* mouse_control = nullptr;  // control holding the pressed left button
  template <class T>
  T* adopt(GLUI_Panel* panel, std::unique_ptr<T> control);
  void place();
};

// The toolkit's one global object, as in GLUI.
class GLUI_Master_Object {
 public:
  // Creates a toolkit window docked to parent_window at the side given by
  // flags (GLUI_SUBWINDOW_RIGHT, _BOTTOM, ...). The previously current GLUT
  // window stays current.
  GLUI* create_glui_subwindow(int parent_window, long flags);

  // The part of the current GLUT window that its docked subwindows leave free,
  // as OpenGL viewport values (y from the bottom).
  void get_viewport_area(int* x, int* y, int* w, int* h);

  // Install the toolkit's handler on the current GLUT window and forward its
  // events to f. Reshape: f runs first, then the docked subwindows are placed.
  // Keyboard and special keys: while a control holds the keyboard focus a key
  // is offered to it first (its window current); a key it does not take goes
  // to f with that window still current, and the main window is current again
  // afterwards; without a focused control f runs with the main window current.
  // Mouse: a click first takes the focus away from any control, then reaches f.
  void set_glutReshapeFunc(void (*f)(int width, int height));
  void set_glutKeyboardFunc(void (*f)(unsigned char key, int x, int y));
  void set_glutSpecialFunc(void (*f)(int key, int x, int y));
  void set_glutMouseFunc(void (*f)(int button, int state, int x, int y));
  // Passed straight to GLUT (the toolkit needs no idle time of its own).
  void set_glutIdleFunc(void (*f)());

  // Places every docked subwindow of the current window again.
  void reshape();

  // Gives the keyboard focus to control (nullptr: to none). The control losing
  // it is told first (an edit field commits).
  void activate(GLUI_Control* control);

  // --- the toolkit's own (the event rules and tests; see glui_internal.h) ---

  // Without a window system (tests): create a toolkit window that only lays
  // out its controls, docked to a parent of the given size. parent_window is
  // the id the window system reports for that parent; the new window gets
  // window_id (both only matter to the event rules).
  GLUI* create_offscreen_glui(int parent_width, int parent_height, long flags,
                              int parent_window = 1, int window_id = -1);

  // The forwarding rules of the handlers above, for the given main window;
  // modifiers GLUI_MOD_* (glui_internal.h). The installed GLUT handlers call these.
  void main_reshape(int window, int width, int height);
  void main_keyboard(int window, unsigned char key, int x, int y, int modifiers);
  void main_special(int window, int key, int x, int y, int modifiers);
  void main_mouse(int window, int button, int state, int x, int y);
  // Forgets every window and handler (tests).
  void clear();
  GLUI* find_glui(int window_id);

  // The control holding the keyboard focus, or nullptr.
  GLUI_Control* get_active_control() const { return active_control; }

 private:
  // A window places itself beside the earlier ones; a window or control going
  // away drops the focus it holds.
  friend class GLUI;
  friend class GLUI_Control;
  GLUI_Control* active_control = nullptr;
  std::vector<std::unique_ptr<GLUI>> windows;

  struct Handlers {
    void (*reshape)(int, int) = nullptr;
    void (*keyboard)(unsigned char, int, int) = nullptr;
    void (*special)(int, int, int) = nullptr;
    void (*mouse)(int, int, int, int) = nullptr;
  };
  std::map<int, Handlers> handlers;  // per main window id
};

extern GLUI_Master_Object GLUI_Master;

#endif  // TOOLKIT_GLUI_H_
