// The slider's behaviour without any drawing or window: value and clamping
// limits, stepping with growth and modifier keys, the numeric field's typing
// and commit, and the rule that decides when the callback runs. The slider
// control drives it; the tests drive it directly.
#ifndef TOOLKIT_SLIDER_MODEL_H_
#define TOOLKIT_SLIDER_MODEL_H_

#include <string>

// Key codes the model understands (GLUT's values for the special keys).
#define GLUI_KEY_LEFT 100
#define GLUI_KEY_RIGHT 102

class GLUI_SliderModel {
 public:
  // What an event did: nothing (the key is not the slider's), changed only the
  // field being typed, or finished a user action (write the live variable and
  // ask take_callback()).
  enum class Result { kRefused, kEdited, kAction };

  GLUI_SliderModel();

  // Limits in either order; the value is clamped into them and shown.
  void set_limits(float low, float high);
  float low() const { return low_; }
  float high() const { return high_; }
  float range() const { return high_ - low_; }
  // Multiplies every step (default 1).
  void set_speed(float speed) { speed_ = speed; }
  float speed() const { return speed_; }
  // Integer mode: the field shows whole numbers and takes no '.'.
  void set_int_mode(bool int_mode);

  float value() const { return value_; }
  // Sets the value clamped to the limits and shows it in the field (drops
  // any typing). Touches no callback bookkeeping.
  void set_value(float value);
  float clamp(float value) const;

  // Stepping. A press (arrow end, track, key) starts with the first step,
  // range x 0.00125; each repetition of a held track click grows the step by
  // 1.05 until it reaches range / 100. The modifier factor (Shift x100, Ctrl
  // x0.01, from GLUI_MOD_* bits) is the one read at the press.
  void press(int direction, int modifiers);  // first step towards direction (-1, +1)
  void repeat();                             // next step of the held press
  float growth() const { return growth_; }   // the step before speed and modifier
  float last_increment() const { return last_increment_; }
  static float modifier_factor(int modifiers);

  // Thumb: value from its position as a fraction 0..1 of its travel (clamped).
  void set_fraction(double fraction);
  double fraction() const;

  // Numeric field. Keys: digits, '-' (first position, once), '.' (once; not in
  // integer mode), Backspace (8), Enter (13, commits); Left and Right step.
  Result key(unsigned char key, int modifiers);
  Result special(int key, int modifiers);
  const std::string& text() const { return text_; }
  bool all_selected() const { return all_selected_; }
  void select_all() { all_selected_ = true; }
  bool dirty() const { return dirty_; }  // typed into since the last commit
  // Parses the field (empty or "-" count as 0), clamps, reformats.
  void commit();
  // Commits typing when focus leaves; true when that was a user action.
  bool focus_lost();

  // After a user action: whether the callback runs (the value differs from the
  // one at the last callback, or there was no callback yet). Notes the value.
  bool take_callback();

  // Field text of a value: floats as "%#g" without trailing zeros but with one
  // digit after the point (2 -> "2.0", 0.5 -> "0.5"), ints as "%d".
  std::string format(float value) const;

 private:
  void step();
  float low_ = 0.0f, high_ = 100.0f;
  float value_ = 0.0f;
  float speed_ = 1.0f;
  bool int_mode_ = false;
  float growth_ = 0.0f;
  float modifier_ = 1.0f;
  int direction_ = 0;
  float last_increment_ = 0.0f;
  std::string text_;
  bool all_selected_ = false;
  bool dirty_ = false;
  bool called_back_ = false;
  float last_callback_value_ = 0.0f;
};

#endif  // TOOLKIT_SLIDER_MODEL_H_
