// Tests of the GUI toolkit without a window: packing and alignment, set_w,
// the slider's rules, callbacks and the focus and key forwarding rules. The
// font table is checked against GLUT when an X display is available.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "toolkit/glui.h"
#include "toolkit/glui_internal.h"
#include "toolkit/slider_model.h"

// Last, and only for XOpenDisplay: its macros clash with other headers.
#include <X11/Xlib.h>
#undef None
#undef Bool
#undef Status
#undef True
#undef False

namespace {

// A window system that only records: the current window, redisplay requests
// and timers, which a test fires by hand.
class FakeWindowSystem : public GLUI_WindowSystem {
 public:
  bool real() const override { return false; }
  int get_window() override { return current; }
  void set_window(int window) override {
    if (window > 0) current = window;
  }
  void post_redisplay(int window) override { redisplays.push_back(window); }
  void set_timer(unsigned msecs, void (*f)(int), int value) override {
    timers.push_back({msecs, f, value});
  }
  // Fires the oldest pending timer; false when none is left.
  bool fire() {
    if (timers.empty()) return false;
    const Timer t = timers.front();
    timers.erase(timers.begin());
    t.f(t.value);
    return true;
  }
  struct Timer {
    unsigned msecs;
    void (*f)(int);
    int value;
  };
  int current = 1;
  std::vector<int> redisplays;
  std::vector<Timer> timers;
};

constexpr int kMain = 1;   // id of the pretend main window
constexpr int kPanel = 2;  // id of the pretend toolkit window

// What callbacks and handlers saw.
struct Calls {
  std::vector<int> ids;
  std::vector<int> windows;  // current window at each callback
  std::vector<int> keys;
  std::vector<int> key_windows;
  std::vector<int> mouse;
};
Calls g_calls;
FakeWindowSystem* g_fake = nullptr;

void on_control(int id) {
  g_calls.ids.push_back(id);
  g_calls.windows.push_back(g_fake->current);
}
void on_key(unsigned char key, int, int) {
  g_calls.keys.push_back(key);
  g_calls.key_windows.push_back(g_fake->current);
}
void on_special(int key, int, int) {
  g_calls.keys.push_back(1000 + key);
  g_calls.key_windows.push_back(g_fake->current);
}
void on_mouse(int button, int, int, int) { g_calls.mouse.push_back(button); }

class Toolkit : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake;
    glui_set_window_system(&fake);
    GLUI_Master.clear();
    g_calls = Calls();
  }
  void TearDown() override {
    GLUI_Master.clear();
    glui_set_window_system(nullptr);
    g_fake = nullptr;
  }
  FakeWindowSystem fake;
};

// The program's control panel, built with the calls it makes.
struct ControlPanel {
  GLUI* panel = nullptr;
  GLUI_Spacer* top[3] = {};
  GLUI_Panel* about_row = nullptr;
  GLUI_Column* columns[2] = {};
  GLUI_Button* help = nullptr;
  GLUI_Button* about = nullptr;
  GLUI_Spacer* middle[4] = {};
  GLUI_Panel* commands = nullptr;
  GLUI_Button* load = nullptr;
  GLUI_Spacer* gap1 = nullptr;
  GLUI_Button* clean = nullptr;
  GLUI_Checkbox* smooth = nullptr;
  GLUI_Spacer* gap2 = nullptr;
  GLUI_Button* save = nullptr;
  GLUI_Spacer* bottom[5] = {};
  GLUI_Slider* zoom = nullptr;
};

float g_zoom = 2.0f;
int g_smooth = 0;

ControlPanel build_control_panel(int parent_w, int parent_h) {
  ControlPanel c;
  c.panel =
      GLUI_Master.create_offscreen_glui(parent_w, parent_h, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  GLUI* p = c.panel;
  p->bkgd_color.set(240, 240, 240);
  p->set_text_color(50, 30, 75);
  GLUI_Panel* main = p->get_main_panel();
  c.top[0] = p->add_spacer_to_panel(main, 2);
  c.top[1] = p->add_spacer_to_panel(main, 8, true);
  c.top[2] = p->add_spacer_to_panel(main, 5);
  c.about_row = p->add_panel_to_panel(main, "", GLUI_PANEL_NONE);
  c.columns[0] = p->add_column_to_panel(c.about_row, false);
  c.help = p->add_button_to_panel(c.about_row, "Help", 10, on_control);
  c.columns[1] = p->add_column_to_panel(c.about_row, false);
  c.about = p->add_button_to_panel(c.about_row, "About", 11, on_control);
  for (GLUI_Button* b : {c.help, c.about}) {
    b->set_w(41, true);
    b->set_alignment(GLUI_ALIGN_CENTER);
  }
  c.middle[0] = p->add_spacer_to_panel(main, 5);
  c.middle[1] = p->add_spacer_to_panel(main, 8, true);
  c.middle[2] = p->add_spacer_to_panel(main, 10);
  c.middle[3] = p->add_spacer_to_panel(main, 1);
  c.commands = p->add_panel_to_panel(main, "", GLUI_PANEL_NONE);
  c.load = p->add_button_to_panel(c.commands, "1. Load input ", 30, on_control);
  c.gap1 = p->add_spacer_to_panel(c.commands, 15);
  c.clean = p->add_button_to_panel(c.commands, "2. Clean       ", 32, on_control);
  c.smooth =
      p->add_checkbox_to_panel(c.commands, "Smooth non-edge area", &g_smooth, 21, on_control);
  c.gap2 = p->add_spacer_to_panel(c.commands, 15);
  c.save = p->add_button_to_panel(c.commands, "3. Save output", 33, on_control);
  for (GLUI_Button* b : {c.load, c.clean, c.save}) {
    b->set_w(103, true);
    b->set_alignment(GLUI_ALIGN_CENTER);
  }
  c.bottom[0] = p->add_spacer_to_panel(main, 0);
  c.bottom[1] = p->add_spacer_to_panel(main, 18);
  c.bottom[2] = p->add_spacer_to_panel(main, 0, true);
  c.bottom[3] = p->add_spacer_to_panel(main, 8);
  c.bottom[4] = p->add_spacer_to_panel(main, 12);
  c.zoom =
      p->add_slider_to_panel(main, "Zoom", GLUI_SLIDER_FLOAT, &g_zoom, 0.5f, 10.0f, 20, on_control);
  c.zoom->set_speed(1.0f);
  c.zoom->set_w(160, true);
  c.zoom->set_alignment(GLUI_ALIGN_CENTER);
  p->set_main_gfx_window(kMain);
  return c;
}

void expect_box(const GLUI_Control* c, int x, int y, int w, int h) {
  EXPECT_EQ(c->x_abs, x) << c->name;
  EXPECT_EQ(c->y_abs, y) << c->name;
  EXPECT_EQ(c->w, w) << c->name;
  EXPECT_EQ(c->h, h) << c->name;
}

// ---- font ----

TEST(ToolkitFont, WidthIsTheSumOfGlyphWidths) {
  EXPECT_EQ(glui_text_width(""), 0);
  const std::string s = "Smooth non-edge area";
  int sum = 0;
  for (unsigned char ch : s) sum += glui_char_width(ch);
  EXPECT_EQ(glui_text_width(s), sum);
  // Proportional: a capital W is wider than an i.
  EXPECT_GT(glui_char_width('W'), glui_char_width('i'));
}

TEST(ToolkitFont, MatchesGlutBitmapWidth) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) GTEST_SKIP() << "no X display";
  int argc = 1;
  char name[] = "toolkit_test";
  char* argv[] = {name, nullptr};
  glutInit(&argc, argv);
  // Closed only now: a server that resets when its last client leaves would
  // refuse GLUT's connection for a moment.
  XCloseDisplay(display);
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(glui_char_width(static_cast<unsigned char>(c)),
              glutBitmapWidth(GLUT_BITMAP_HELVETICA_12, c))
        << "character " << c;
  }
}

// ---- layout ----

// Widths in the 12-point Helvetica font of the labels below.
constexpr int kSmoothLabel = 131;  // "Smooth non-edge area"

TEST_F(Toolkit, ControlPanelPacking) {
  ASSERT_EQ(glui_text_width("Smooth non-edge area"), kSmoothLabel);
  const ControlPanel c = build_control_panel(800, 600);
  // The widest item is the command group: the checkbox (18 + label + 6)
  // plus the group's margins (6 + 12); the main panel adds 18 more.
  const int checkbox_w = 24 + kSmoothLabel;  // 155
  const int group_w = checkbox_w + 18;       // 173
  const int panel_w = group_w + 18;          // 191
  // Items stack from y 6 with 3 px between; sub-panels get 3 px more above
  // and below.
  expect_box(c.top[0], 6, 6, 100, 2);
  expect_box(c.top[1], 6, 11, 100, 8);
  expect_box(c.top[2], 6, 22, 100, 5);
  // Help/About row: column (x 6+0+6), Help at 18, column at 18+41+6 = 65,
  // About at 71; w = 71 + 41 + 12 = 124, h = 6 + 20 + 6; centred in 191.
  const int row_x = (panel_w - 124) / 2;  // 33
  expect_box(c.about_row, row_x, 33, 124, 32);
  EXPECT_EQ(c.columns[0]->x_abs, row_x + 12);
  EXPECT_EQ(c.columns[1]->x_abs, row_x + 65);
  EXPECT_EQ(c.columns[0]->w, 41 + 6);
  EXPECT_EQ(c.columns[0]->h, 20);
  // Centred in their columns (w 47): 3 px right of each column's x.
  expect_box(c.help, row_x + 15, 39, 41, 20);
  expect_box(c.about, row_x + 68, 39, 41, 20);
  expect_box(c.middle[0], 6, 71, 100, 5);
  expect_box(c.middle[1], 6, 79, 100, 8);
  expect_box(c.middle[2], 6, 90, 100, 10);
  expect_box(c.middle[3], 6, 103, 100, 1);
  // Command group at 104 + 3 + 3; its content from y 116.
  const int group_x = (panel_w - group_w) / 2;  // 9
  expect_box(c.commands, group_x, 110, group_w, 130);
  const int button_x = group_x + (group_w - 103) / 2;
  expect_box(c.load, button_x, 116, 103, 20);
  expect_box(c.gap1, group_x + 6, 139, 100, 15);
  expect_box(c.clean, button_x, 157, 103, 20);
  expect_box(c.smooth, group_x + 6, 180, checkbox_w, 13);
  expect_box(c.gap2, group_x + 6, 196, 100, 15);
  expect_box(c.save, button_x, 214, 103, 20);
  // 110 + 130 + 3 below the group + 3 spacing.
  expect_box(c.bottom[0], 6, 246, 100, 0);
  expect_box(c.bottom[1], 6, 249, 100, 18);
  expect_box(c.bottom[2], 6, 270, 100, 0);
  expect_box(c.bottom[3], 6, 273, 100, 8);
  expect_box(c.bottom[4], 6, 284, 100, 12);
  expect_box(c.zoom, (panel_w - 160) / 2, 299, 160, GLUI_SLIDER_HEIGHT);
  EXPECT_EQ(GLUI_SLIDER_HEIGHT, 39);
  // The window: content width, as tall as its parent.
  EXPECT_EQ(c.panel->w, panel_w);
  EXPECT_EQ(c.panel->h, 600);
  int x = 0, y = 0;
  c.panel->position(&x, &y);
  EXPECT_EQ(x, 800 - panel_w);
  EXPECT_EQ(y, 0);
}

TEST_F(Toolkit, SpacerRulesSpanTheColumnLessFivePercent) {
  const ControlPanel c = build_control_panel(800, 600);
  // Column 191 wide: line 191 - 12 = 179, inset floor(8.95) = 8 at each end.
  int x0 = 0, x1 = 0, y = 0;
  c.top[1]->rule_extent(&x0, &x1, &y);
  EXPECT_EQ(x0, 6 + 8);
  EXPECT_EQ(x1, 6 + 179 - 8 - 1);
  EXPECT_EQ(y, 11 + 3);  // dark row 3 and light row 4 of the 8-pixel gap
  c.bottom[2]->rule_extent(&x0, &x1, &y);
  EXPECT_EQ(y, 270 - 1);  // a rule without height straddles its place
  // In a narrower column the inset shrinks with it.
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, 5);
  GLUI_Spacer* s = g->add_spacer(8, true);
  s->rule_extent(&x0, &x1, &y);
  EXPECT_EQ(g->w, 118);
  EXPECT_EQ(x0, 6 + 5);  // line 106, inset 5
  EXPECT_EQ(x1, 6 + 106 - 5 - 1);
}

TEST_F(Toolkit, IntSliderWritesWholeNumbers) {
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  int level = 250;  // beyond the limits: pulled in at creation
  GLUI_Slider* s = g->add_slider("Level", GLUI_SLIDER_INT, &level, 0, 100, 4, on_control);
  EXPECT_EQ(level, 100);
  EXPECT_EQ(s->model.text(), "100");
  s->set_int_val(42);
  EXPECT_EQ(level, 42);
  EXPECT_TRUE(g_calls.ids.empty());
  GLUI_Master.activate(s);
  s->model.select_all();
  EXPECT_TRUE(g->handle_key('7', 0));
  EXPECT_TRUE(g->handle_key('.', 0));  // taken, but no point in whole numbers
  EXPECT_TRUE(g->handle_key(13, 0));
  EXPECT_EQ(level, 7);
  EXPECT_EQ(g_calls.ids.size(), 1u);
}

TEST_F(Toolkit, SliderWithoutRangeNeverMoves) {
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  float v = 3.0f;
  GLUI_Slider* s = g->add_slider("Fixed", GLUI_SLIDER_FLOAT, &v, 3.0f, 3.0f);
  const int ty = s->track_y() + 8;
  g->handle_mouse(0, true, s->x_abs + s->w - 4, ty, GLUI_MOD_SHIFT);
  g->handle_mouse(0, false, s->x_abs + s->w - 4, ty, 0);
  g->handle_mouse(0, true, s->thumb_x() + 4, ty, 0);
  g->handle_motion(s->thumb_x() + 90, ty);
  g->handle_mouse(0, false, s->thumb_x() + 90, ty, 0);
  EXPECT_EQ(v, 3.0f);
  EXPECT_EQ(s->thumb_x(), s->x_abs + 16);
}

TEST_F(Toolkit, ControlPanelIsTallerThanAShortParent) {
  const ControlPanel c = build_control_panel(800, 100);
  EXPECT_EQ(c.panel->h, 299 + 39 + 6);  // the slider's bottom plus the margin
}

TEST_F(Toolkit, StatusBarAndViewport) {
  const ControlPanel c = build_control_panel(800, 600);
  GLUI* bar = GLUI_Master.create_offscreen_glui(800, 600, GLUI_SUBWINDOW_BOTTOM, kMain, 3);
  bar->bkgd_color.set(220, 220, 220);
  GLUI_StaticText* status = bar->add_statictext("ready");
  status->set_w(790);
  status->set_alignment(GLUI_ALIGN_LEFT);
  expect_box(status, 6, 6, 790, 13);
  EXPECT_EQ(bar->h, 25);
  EXPECT_EQ(bar->w, 808);  // wider than its parent: text + margins
  int x = 0, y = 0;
  bar->position(&x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 600 - 25);
  fake.current = kMain;
  int vx, vy, vw, vh;
  GLUI_Master.get_viewport_area(&vx, &vy, &vw, &vh);
  EXPECT_EQ(vx, 0);
  EXPECT_EQ(vy, 25);
  EXPECT_EQ(vw, 800 - 191);
  EXPECT_EQ(vh, 600 - 25);
  // After the program enlarges the main window by the panel and the bar, the
  // free area is 800 x 600 again and the bar spans the new width.
  GLUI_Master.main_reshape(kMain, 2 * 800 - vw, 2 * 600 - vh);
  GLUI_Master.get_viewport_area(&vx, &vy, &vw, &vh);
  EXPECT_EQ(vw, 800);
  EXPECT_EQ(vh, 600);
  EXPECT_EQ(bar->w, 991);
  EXPECT_EQ(bar->h, 25);
  EXPECT_EQ(c.panel->h, 625);
  c.panel->position(&x, &y);
  EXPECT_EQ(x, 800);
}

TEST_F(Toolkit, StatusTextWidensForALongerTextUnlessFixed) {
  GLUI* bar = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_BOTTOM, kMain, 3);
  GLUI_StaticText* t = bar->add_statictext("ready");
  EXPECT_EQ(t->w, 100);  // least width
  t->set_w(50);
  EXPECT_EQ(t->w, 50);
  const std::string longer(40, 'W');  // 40 x 11 px
  t->set_text(longer.c_str());
  EXPECT_EQ(t->w, 440);
  EXPECT_EQ(bar->w, 440 + 18);
  t->set_w(50, true);
  t->set_text(longer.c_str());
  EXPECT_EQ(t->w, 50);
  const std::string huge(1000, 'x');
  t->set_text(huge.c_str());
  EXPECT_EQ(t->name.size(), static_cast<size_t>(GLUI_MAX_LABEL));
}

TEST_F(Toolkit, SetWidthWithAndWithoutFixedFlag) {
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  GLUI_Button* b = g->add_button("About");  // label 33 px
  EXPECT_EQ(b->w, 100);
  b->set_w(41);
  EXPECT_EQ(b->w, 33 + 16);  // at least the label and its margins
  b->set_w(41, true);
  EXPECT_EQ(b->w, 41);
  b->set_w(120);
  EXPECT_EQ(b->w, 120);
  GLUI_Slider* s = g->add_slider("Zoom", GLUI_SLIDER_FLOAT, nullptr, 0, 1);
  EXPECT_EQ(s->w, GLUI_SLIDER_DEFAULT_WIDTH);
  s->set_w(60);
  EXPECT_EQ(s->w, 55 + 50);  // the field needs its least width
  s->set_w(60, true);
  EXPECT_EQ(s->w, 60);
}

TEST_F(Toolkit, ColumnsAndCentring) {
  // A frameless panel with button A, a column without bar and button B.
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  GLUI_Panel* p = g->add_panel_to_panel(g->get_main_panel(), "", GLUI_PANEL_NONE);
  GLUI_Button* a = g->add_button_to_panel(p, "A");
  GLUI_Column* col = g->add_column_to_panel(p, false);
  GLUI_Button* b = g->add_button_to_panel(p, "B");
  EXPECT_EQ(p->w, 230);
  EXPECT_EQ(a->x_abs - p->x_abs, (112 - 100) / 2);  // centred in the first column's 112
  EXPECT_EQ(col->x_abs - p->x_abs, 112);
  EXPECT_EQ(b->x_abs - p->x_abs, 115);
  EXPECT_EQ(g->w, 230 + 18);
  a->set_alignment(GLUI_ALIGN_LEFT);
  b->set_alignment(GLUI_ALIGN_RIGHT);
  EXPECT_EQ(a->x_abs - p->x_abs, 6);
  EXPECT_EQ(b->x_abs - p->x_abs, 112 + 106 - 6 - 100);
}

TEST_F(Toolkit, DefaultControlsStack) {
  GLUI* g = GLUI_Master.create_offscreen_glui(500, 400, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  GLUI_StaticText* t = g->add_statictext("Zoom: 100%");
  GLUI_Button* b = g->add_button("Reset");
  GLUI_Checkbox* c = g->add_checkbox("Grid");
  GLUI_Spacer* s = g->add_spacer(8, true);
  expect_box(t, 6, 6, 100, 13);
  expect_box(b, 9, 22, 100, 20);
  expect_box(c, 6, 45, 24 + glui_text_width("Grid"), 13);
  expect_box(s, 6, 61, 100, 8);
  EXPECT_EQ(g->get_main_panel()->w, 118);
  EXPECT_EQ(g->w, 118);
  EXPECT_EQ(g->h, 400);
  fake.current = kMain;
  int vx, vy, vw, vh;
  GLUI_Master.get_viewport_area(&vx, &vy, &vw, &vh);
  EXPECT_EQ(vw, 500 - 118);
  EXPECT_EQ(vh, 400);
}

// ---- slider model ----

TEST(ToolkitSliderModel, ClampsToTheNearerLimit) {
  GLUI_SliderModel m;
  m.set_limits(10.0f, 0.5f);  // either order
  EXPECT_EQ(m.low(), 0.5f);
  EXPECT_EQ(m.high(), 10.0f);
  m.set_value(12.0f);
  EXPECT_EQ(m.value(), 10.0f);
  m.set_value(-3.0f);
  EXPECT_EQ(m.value(), 0.5f);
  m.set_value(NAN);
  EXPECT_EQ(m.value(), 0.5f);
  m.set_value(9.99f);
  m.press(+1, GLUI_MOD_SHIFT);  // a step far beyond the limit
  EXPECT_EQ(m.value(), 10.0f);
}

TEST(ToolkitSliderModel, FirstStepAndGrowth) {
  GLUI_SliderModel m;
  m.set_limits(0.5f, 10.0f);
  m.set_value(2.0f);
  m.press(+1, 0);
  const float first = 9.5f * 0.00125f;
  EXPECT_FLOAT_EQ(m.last_increment(), first);
  EXPECT_FLOAT_EQ(m.value(), 2.0f + first);
  // Each repetition grows the step by 1.05 until it is a hundredth of the range.
  float expected = first;
  int repeats = 0;
  while (expected < 0.095f) {
    m.repeat();
    ++repeats;
    expected = std::min(expected * 1.05f, 0.095f);
    EXPECT_FLOAT_EQ(m.last_increment(), expected) << "repeat " << repeats;
  }
  // 1.05^k reaches 8 after 43 repetitions.
  EXPECT_EQ(repeats, 43);
  m.repeat();
  EXPECT_FLOAT_EQ(m.last_increment(), 0.095f);
  // A new press starts small again; speed multiplies every step.
  m.set_speed(2.0f);
  m.press(-1, 0);
  EXPECT_FLOAT_EQ(m.last_increment(), -2.0f * first);
}

TEST(ToolkitSliderModel, ShiftAndCtrlFactors) {
  GLUI_SliderModel m;
  m.set_limits(0.5f, 10.0f);
  m.set_value(2.0f);
  m.press(+1, GLUI_MOD_SHIFT);
  EXPECT_FLOAT_EQ(m.last_increment(), 9.5f * 0.00125f * 100.0f);
  m.set_value(2.0f);
  m.press(+1, GLUI_MOD_CTRL);
  EXPECT_FLOAT_EQ(m.last_increment(), 9.5f * 0.00125f * 0.01f);
  m.repeat();  // the factor read at the press stays for its repetitions
  EXPECT_FLOAT_EQ(m.last_increment(), 9.5f * 0.00125f * 1.05f * 0.01f);
}

TEST(ToolkitSliderModel, ArrowKeysStep) {
  GLUI_SliderModel m;
  m.set_limits(0.0f, 8.0f);
  m.set_value(4.0f);
  EXPECT_EQ(m.special(GLUI_KEY_RIGHT, 0), GLUI_SliderModel::Result::kAction);
  EXPECT_FLOAT_EQ(m.value(), 4.01f);
  EXPECT_EQ(m.special(GLUI_KEY_LEFT, GLUI_MOD_SHIFT), GLUI_SliderModel::Result::kAction);
  EXPECT_FLOAT_EQ(m.value(), 3.01f);
  EXPECT_EQ(m.special(101 /* up */, 0), GLUI_SliderModel::Result::kRefused);
}

TEST(ToolkitSliderModel, TypedField) {
  GLUI_SliderModel m;
  m.set_limits(0.5f, 10.0f);
  m.set_value(2.0f);
  EXPECT_EQ(m.text(), "2.0");
  m.select_all();
  EXPECT_EQ(m.key('7', 0), GLUI_SliderModel::Result::kEdited);  // replaces the selection
  EXPECT_EQ(m.text(), "7");
  EXPECT_EQ(m.key('.', 0), GLUI_SliderModel::Result::kEdited);
  EXPECT_EQ(m.key('.', 0), GLUI_SliderModel::Result::kEdited);  // a second point is dropped
  EXPECT_EQ(m.key('5', 0), GLUI_SliderModel::Result::kEdited);
  EXPECT_EQ(m.key('-', 0), GLUI_SliderModel::Result::kEdited);  // '-' only first
  EXPECT_EQ(m.text(), "7.5");
  EXPECT_EQ(m.key('x', 0), GLUI_SliderModel::Result::kRefused);
  EXPECT_EQ(m.value(), 2.0f);  // nothing commits before Enter
  EXPECT_EQ(m.key(13, 0), GLUI_SliderModel::Result::kAction);
  EXPECT_EQ(m.value(), 7.5f);
  EXPECT_EQ(m.text(), "7.5");
  // Typed values outside the limits are pulled in and shown as such.
  m.select_all();
  m.key('2', 0);
  m.key('5', 0);
  m.key(13, 0);
  EXPECT_EQ(m.value(), 10.0f);
  EXPECT_EQ(m.text(), "10.0");
  m.select_all();
  m.key('-', 0);
  m.key('3', 0);
  EXPECT_EQ(m.text(), "-3");
  m.key(13, 0);
  EXPECT_EQ(m.value(), 0.5f);
  EXPECT_EQ(m.text(), "0.5");
  // Backspace; an emptied field reads as 0, clamped.
  m.key(8, 0);  // all selected after Enter: clears
  EXPECT_EQ(m.text(), "");
  m.key('1', 0);
  m.key('2', 0);
  m.key(8, 0);
  EXPECT_EQ(m.text(), "1");
  EXPECT_TRUE(m.focus_lost());  // losing the focus commits typing
  EXPECT_EQ(m.value(), 1.0f);
  EXPECT_FALSE(m.focus_lost());  // nothing typed since
  m.select_all();
  m.key(8, 0);
  m.key(13, 0);
  EXPECT_EQ(m.value(), 0.5f);
}

TEST(ToolkitSliderModel, Format) {
  GLUI_SliderModel m;
  m.set_limits(-1e9f, 1e9f);
  EXPECT_EQ(m.format(2.0f), "2.0");
  EXPECT_EQ(m.format(0.5f), "0.5");
  EXPECT_EQ(m.format(10.0f), "10.0");
  EXPECT_EQ(m.format(1.25f), "1.25");
  EXPECT_EQ(m.format(1.0f / 3.0f), "0.333333");
  EXPECT_EQ(m.format(-3.0f), "-3.0");
  m.set_int_mode(true);
  EXPECT_EQ(m.format(7.9f), "7");
}

TEST(ToolkitSliderModel, CallbackRule) {
  GLUI_SliderModel m;
  m.set_limits(0.5f, 10.0f);
  m.set_value(10.0f);
  m.press(+1, 0);                  // stays at the limit ...
  EXPECT_TRUE(m.take_callback());  // ... but the very first action calls back
  m.press(+1, 0);
  EXPECT_FALSE(m.take_callback());  // unchanged since the last callback
  m.press(-1, 0);
  EXPECT_TRUE(m.take_callback());
  // Setting the value from the program is not an action; the next action
  // compares with the value at the last callback.
  const float last = m.value();
  m.set_value(3.0f);
  m.set_value(last);
  m.press(+1, 0);
  m.press(-1, 0);
  EXPECT_FALSE(m.take_callback());
}

// ---- slider control ----

TEST_F(Toolkit, SliderArrowsTrackAndCallbacks) {
  ControlPanel c = build_control_panel(800, 600);
  GLUI_Slider* s = c.zoom;
  g_zoom = 2.0f;
  s->set_float_val(2.0f);
  EXPECT_TRUE(g_calls.ids.empty());  // set_float_val never calls back
  const int ty = s->track_y() + 8;
  // Right arrow end: one step up, zoom written, callback with the main window.
  fake.current = kPanel;
  c.panel->handle_mouse(0, true, s->x_abs + s->w - 4, ty, 0);
  c.panel->handle_mouse(0, false, s->x_abs + s->w - 4, ty, 0);
  EXPECT_FLOAT_EQ(g_zoom, 2.0f + 0.011875f);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.ids[0], 20);
  EXPECT_EQ(g_calls.windows[0], kMain);
  EXPECT_EQ(fake.current, kPanel);   // restored after the callback
  EXPECT_TRUE(fake.timers.empty());  // arrow ends do not repeat
  EXPECT_EQ(GLUI_Master.get_active_control(), s);
  // Track left of the thumb: a step down at once, then repeats on the timer.
  g_calls = Calls();
  const float before = g_zoom;
  c.panel->handle_mouse(0, true, s->x_abs + 18, ty, GLUI_MOD_CTRL);
  EXPECT_FLOAT_EQ(g_zoom, before - 0.011875f * 0.01f);
  ASSERT_EQ(fake.timers.size(), 1u);
  EXPECT_EQ(fake.timers[0].msecs, 300u);
  fake.fire();
  EXPECT_FLOAT_EQ(g_zoom, before - 0.011875f * 0.01f * (1.0f + 1.05f));
  ASSERT_EQ(fake.timers.size(), 1u);
  EXPECT_EQ(fake.timers[0].msecs, 30u);
  EXPECT_EQ(g_calls.ids.size(), 2u);
  c.panel->handle_mouse(0, false, s->x_abs + 18, ty, 0);
  const float released = g_zoom;
  fake.fire();  // a timer after the release does nothing
  EXPECT_EQ(g_zoom, released);
  EXPECT_TRUE(fake.timers.empty());
}

TEST_F(Toolkit, SliderThumbDragIsLinear) {
  ControlPanel c = build_control_panel(800, 600);
  GLUI_Slider* s = c.zoom;
  s->set_float_val(0.5f);
  const int ty = s->track_y() + 8;
  const int grab = s->thumb_x() + 8;
  EXPECT_EQ(s->thumb_x(), s->x_abs + 16);
  c.panel->handle_mouse(0, true, grab, ty, 0);
  EXPECT_EQ(s->held_part(), GLUI_Slider::Held::kThumb);
  const int travel = s->w - 48;  // track minus the thumb
  c.panel->handle_motion(grab + travel / 2, ty);
  EXPECT_FLOAT_EQ(g_zoom, 0.5f + 9.5f * (travel / 2) / travel);
  c.panel->handle_motion(grab + travel + 50, ty);  // beyond the end
  EXPECT_EQ(g_zoom, 10.0f);
  EXPECT_EQ(s->thumb_x(), s->x_abs + 16 + travel);
  c.panel->handle_mouse(0, false, grab + travel + 50, ty, 0);
  EXPECT_EQ(g_calls.ids.size(), 2u);
}

TEST_F(Toolkit, SliderFieldCommitsOnEnterAndOnAClickElsewhere) {
  ControlPanel c = build_control_panel(800, 600);
  GLUI_Slider* s = c.zoom;
  fake.current = kPanel;
  c.panel->handle_mouse(0, true, s->field_x() + 10, s->y_abs + 10, 0);
  c.panel->handle_mouse(0, false, s->field_x() + 10, s->y_abs + 10, 0);
  EXPECT_TRUE(s->model.all_selected());
  EXPECT_TRUE(c.panel->handle_key('4', 0));
  EXPECT_TRUE(c.panel->handle_key(13, 0));
  EXPECT_EQ(g_zoom, 4.0f);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  c.panel->handle_key('6', 0);
  EXPECT_EQ(g_zoom, 4.0f);
  // A click on the panel's background commits and drops the focus.
  c.panel->handle_mouse(0, true, 2, 595, 0);
  EXPECT_EQ(g_zoom, 6.0f);
  EXPECT_EQ(GLUI_Master.get_active_control(), nullptr);
  EXPECT_EQ(g_calls.ids.size(), 2u);
}

// ---- other controls ----

TEST_F(Toolkit, ButtonCallsBackOnReleaseInside) {
  ControlPanel c = build_control_panel(800, 600);
  GLUI_Button* b = c.load;
  c.panel->handle_mouse(0, true, b->x_abs + 5, b->y_abs + 5, 0);
  EXPECT_TRUE(b->shown_pressed());
  c.panel->handle_motion(b->x_abs - 30, b->y_abs + 5);
  EXPECT_FALSE(b->shown_pressed());
  c.panel->handle_mouse(0, false, b->x_abs - 30, b->y_abs + 5, 0);
  EXPECT_TRUE(g_calls.ids.empty());
  c.panel->handle_mouse(0, true, b->x_abs + 5, b->y_abs + 5, 0);
  c.panel->handle_mouse(0, false, b->x_abs + 6, b->y_abs + 6, 0);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.ids[0], 30);
  EXPECT_EQ(GLUI_Master.get_active_control(), b);  // focus stays after the release
}

TEST_F(Toolkit, CheckboxTogglesItsLiveInt) {
  ControlPanel c = build_control_panel(800, 600);
  g_smooth = 0;
  c.smooth->set_int_val(0);
  GLUI_Checkbox* box = c.smooth;
  fake.redisplays.clear();
  c.panel->handle_mouse(0, true, box->x_abs + 4, box->y_abs + 4, 0);
  EXPECT_TRUE(box->shown_val());
  EXPECT_EQ(g_smooth, 0);
  c.panel->handle_mouse(0, false, box->x_abs + 4, box->y_abs + 4, 0);
  EXPECT_EQ(g_smooth, 1);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.ids[0], 21);
  EXPECT_NE(std::find(fake.redisplays.begin(), fake.redisplays.end(), kMain),
            fake.redisplays.end());  // the live variable's window is redrawn
  // Released outside: no change, no callback.
  c.panel->handle_mouse(0, true, box->x_abs + 4, box->y_abs + 4, 0);
  c.panel->handle_mouse(0, false, box->x_abs + 4, box->y_abs + 300, 0);
  EXPECT_EQ(g_smooth, 1);
  EXPECT_TRUE(box->shown_val());
  EXPECT_EQ(g_calls.ids.size(), 1u);
}

// Button and checkbox share one press rule: the look follows the held button
// out of the control and back, and only a release over it acts.
TEST_F(Toolkit, PressedLookFollowsTheHeldButtonOutAndBack) {
  ControlPanel c = build_control_panel(800, 600);
  g_smooth = 0;
  c.smooth->set_int_val(0);
  GLUI_Button* b = c.load;
  GLUI_Checkbox* box = c.smooth;
  for (GLUI_Control* control : {static_cast<GLUI_Control*>(b), static_cast<GLUI_Control*>(box)}) {
    const int x = control->x_abs + 4, y = control->y_abs + 4;
    auto looks_pressed = [&] { return control == b ? b->shown_pressed() : box->shown_val(); };
    c.panel->handle_mouse(0, true, x, y, 0);
    EXPECT_TRUE(looks_pressed());
    c.panel->handle_motion(x, y + 300);
    EXPECT_FALSE(looks_pressed());
    fake.redisplays.clear();
    c.panel->handle_motion(x + 1, y + 301);  // still outside: the look stays
    EXPECT_FALSE(looks_pressed());
    EXPECT_TRUE(fake.redisplays.empty());
    c.panel->handle_motion(x + 1, y);
    EXPECT_TRUE(looks_pressed());
    EXPECT_FALSE(fake.redisplays.empty());
    c.panel->handle_mouse(0, false, x, y + 300, 0);
    EXPECT_FALSE(looks_pressed());
  }
  EXPECT_EQ(g_smooth, 0);
  EXPECT_TRUE(g_calls.ids.empty());
}

TEST_F(Toolkit, TabMovesTheFocusAndSpaceClicks) {
  ControlPanel c = build_control_panel(800, 600);
  c.panel->handle_key('\t', 0);
  EXPECT_EQ(GLUI_Master.get_active_control(), c.help);
  c.panel->handle_key('\t', 0);
  EXPECT_EQ(GLUI_Master.get_active_control(), c.about);
  c.panel->handle_key('\t', GLUI_MOD_SHIFT);
  EXPECT_EQ(GLUI_Master.get_active_control(), c.help);
  c.panel->handle_key(' ', 0);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.ids[0], 10);
  for (int i = 0; i < 4; ++i) c.panel->handle_key('\t', 0);  // About, Load, Clean, Smooth
  EXPECT_EQ(GLUI_Master.get_active_control(), c.smooth);
  const int before = g_smooth;
  c.panel->handle_key(' ', 0);
  EXPECT_EQ(g_smooth, 1 - before);
  c.panel->handle_key('\t', 0);  // Save
  c.panel->handle_key('\t', 0);  // Zoom
  EXPECT_EQ(GLUI_Master.get_active_control(), c.zoom);
  c.panel->handle_key('\t', 0);  // past the end: nothing
  EXPECT_EQ(GLUI_Master.get_active_control(), nullptr);
  c.panel->handle_key('\t', 0);
  EXPECT_EQ(GLUI_Master.get_active_control(), c.help);
}

// ---- forwarding from the main window ----

TEST_F(Toolkit, KeysGoToTheFocusedControlFirst) {
  ControlPanel c = build_control_panel(800, 600);
  fake.current = kMain;
  GLUI_Master.set_glutKeyboardFunc(on_key);
  GLUI_Master.set_glutSpecialFunc(on_special);
  GLUI_Master.set_glutMouseFunc(on_mouse);
  // Without focus every key reaches the program with the main window current.
  GLUI_Master.main_keyboard(kMain, 'a', 0, 0, 0);
  ASSERT_EQ(g_calls.keys.size(), 1u);
  EXPECT_EQ(g_calls.key_windows[0], kMain);
  // Focus the slider's field.
  GLUI_Master.activate(c.zoom);
  c.zoom->model.select_all();
  g_calls = Calls();
  fake.current = kMain;
  GLUI_Master.main_keyboard(kMain, '3', 0, 0, 0);  // the field takes it
  EXPECT_TRUE(g_calls.keys.empty());
  EXPECT_EQ(fake.current, kMain);
  GLUI_Master.main_keyboard(kMain, 'a', 0, 0, 0);  // refused: the program gets it
  ASSERT_EQ(g_calls.keys.size(), 1u);
  EXPECT_EQ(g_calls.keys[0], 'a');
  EXPECT_EQ(g_calls.key_windows[0], kPanel);  // with the toolkit window current
  EXPECT_EQ(fake.current, kMain);             // and the main window current after
  const float before = g_zoom;
  GLUI_Master.main_special(kMain, GLUI_KEY_RIGHT, 0, 0, 0);  // one step (commits "3" first)
  EXPECT_FLOAT_EQ(g_zoom, 3.0f + 0.011875f);
  EXPECT_NE(g_zoom, before);
  EXPECT_EQ(g_calls.keys.size(), 1u);
  GLUI_Master.main_special(kMain, 104 /* page up */, 0, 0, 0);
  ASSERT_EQ(g_calls.keys.size(), 2u);
  EXPECT_EQ(g_calls.keys[1], 1104);
  EXPECT_EQ(g_calls.key_windows[1], kPanel);
  // Typing, then a click in the main window: the field commits, calls back
  // with the main window current, loses the focus, then the program sees the
  // click.
  c.zoom->model.select_all();
  GLUI_Master.main_keyboard(kMain, '5', 0, 0, 0);
  g_calls.ids.clear();
  GLUI_Master.main_mouse(kMain, 0, 0, 10, 10);
  EXPECT_EQ(g_zoom, 5.0f);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.windows[0], kMain);
  EXPECT_EQ(GLUI_Master.get_active_control(), nullptr);
  EXPECT_EQ(g_calls.mouse.size(), 1u);
}

TEST_F(Toolkit, ReshapeRunsTheProgramFirst) {
  static GLUI* panel = nullptr;
  static int seen_height = -1;
  panel = GLUI_Master.create_offscreen_glui(800, 600, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  panel->add_button("B");
  fake.current = kMain;
  GLUI_Master.set_glutReshapeFunc([](int, int) { seen_height = panel->h; });
  GLUI_Master.main_reshape(kMain, 900, 700);
  EXPECT_EQ(seen_height, 600);  // not yet placed when the program ran
  EXPECT_EQ(panel->h, 700);
  int x = 0, y = 0;
  panel->position(&x, &y);
  EXPECT_EQ(x, 900 - panel->w);
}

TEST_F(Toolkit, CallbackWithoutMainWindowRunsInPlace) {
  GLUI* g = GLUI_Master.create_offscreen_glui(400, 300, GLUI_SUBWINDOW_RIGHT, kMain, kPanel);
  GLUI_Button* b = g->add_button("B", 7, on_control);
  fake.current = kPanel;
  g->handle_mouse(0, true, b->x_abs + 2, b->y_abs + 2, 0);
  g->handle_mouse(0, false, b->x_abs + 2, b->y_abs + 2, 0);
  ASSERT_EQ(g_calls.ids.size(), 1u);
  EXPECT_EQ(g_calls.windows[0], kPanel);
}

}  // namespace
