// The slider's behaviour without drawing: clamping, stepping, typing, callbacks.
#include "toolkit/slider_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "toolkit/glui_internal.h"

namespace {

// The first step is this fraction of the range (GLUI's 800 growth steps).
constexpr float kFirstStepFraction = 0.00125f;
// A held step grows by this factor per repetition ...
constexpr float kGrowthFactor = 1.05f;
// ... until it reaches this fraction of the range (GLUI's 100 growth steps).
constexpr float kMaxStepFraction = 0.01f;
// Longest text the field takes: more digits than a float holds.
constexpr size_t kMaxFieldLength = 16;

}  // namespace

GLUI_SliderModel::GLUI_SliderModel() { set_value(value_); }

void GLUI_SliderModel::set_limits(float low, float high) {
  low_ = std::min(low, high);
  high_ = std::max(low, high);
  set_value(value_);
}

void GLUI_SliderModel::set_int_mode(bool int_mode) {
  int_mode_ = int_mode;
  set_value(value_);
}

float GLUI_SliderModel::clamp(float value) const {
  if (std::isnan(value)) return low_;
  return std::min(std::max(value, low_), high_);
}

void GLUI_SliderModel::set_value(float value) {
  value_ = clamp(value);
  text_ = format(value_);
  dirty_ = false;
  all_selected_ = false;
}

float GLUI_SliderModel::modifier_factor(int modifiers) {
  if (modifiers & GLUI_MOD_SHIFT) return 100.0f;
  if (modifiers & GLUI_MOD_CTRL) return 0.01f;
  return 1.0f;
}

void GLUI_SliderModel::press(int direction, int modifiers) {
  direction_ = direction < 0 ? -1 : 1;
  modifier_ = modifier_factor(modifiers);
  growth_ = range() * kFirstStepFraction;
  step();
}

void GLUI_SliderModel::repeat() {
  growth_ = std::min(growth_ * kGrowthFactor, range() * kMaxStepFraction);
  step();
}

void GLUI_SliderModel::step() {
  last_increment_ = growth_ * modifier_ * speed_ * static_cast<float>(direction_);
  set_value(value_ + last_increment_);
}

void GLUI_SliderModel::set_fraction(double fraction) {
  fraction = std::min(std::max(fraction, 0.0), 1.0);
  set_value(static_cast<float>(low_ + fraction * range()));
}

double GLUI_SliderModel::fraction() const {
  if (range() <= 0.0f) return 0.0;
  return (static_cast<double>(value_) - low_) / range();
}

GLUI_SliderModel::Result GLUI_SliderModel::key(unsigned char key, int /*modifiers*/) {
  if (key == 13) {  // Enter
    commit();
    all_selected_ = true;  // as GLUI's edit text: the next typing replaces it
    return Result::kAction;
  }
  if (key == 8) {  // Backspace
    if (all_selected_) {
      text_.clear();
    } else if (!text_.empty()) {
      text_.pop_back();
    }
    all_selected_ = false;
    dirty_ = true;
    return Result::kEdited;
  }
  const bool digit = key >= '0' && key <= '9';
  if (!digit && key != '-' && key != '.') return Result::kRefused;
  std::string next = all_selected_ ? std::string() : text_;
  if (key == '-' && !next.empty()) return Result::kEdited;  // only first, so only once
  if (key == '.' && (int_mode_ || next.find('.') != std::string::npos)) return Result::kEdited;
  if (next.size() >= kMaxFieldLength) return Result::kEdited;
  text_ = next + static_cast<char>(key);
  all_selected_ = false;
  dirty_ = true;
  return Result::kEdited;
}

GLUI_SliderModel::Result GLUI_SliderModel::special(int key, int modifiers) {
  if (key != GLUI_KEY_LEFT && key != GLUI_KEY_RIGHT) return Result::kRefused;
  press(key == GLUI_KEY_LEFT ? -1 : 1, modifiers);
  return Result::kAction;
}

void GLUI_SliderModel::commit() {
  // Only digits, '-' and '.' can be in the text, so strtod sees a plain
  // number or a prefix of one; an empty or sign-only text reads as 0.
  set_value(static_cast<float>(std::strtod(text_.c_str(), nullptr)));
}

bool GLUI_SliderModel::focus_lost() {
  all_selected_ = false;
  if (!dirty_) return false;
  commit();
  return true;
}

bool GLUI_SliderModel::take_callback() {
  const bool call = !called_back_ || value_ != last_callback_value_;
  called_back_ = true;
  last_callback_value_ = value_;
  return call;
}

std::string GLUI_SliderModel::format(float value) const {
  char buffer[64];
  if (int_mode_) {
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%#g", static_cast<double>(value));
  std::string text = buffer;
  const size_t exponent = text.find_first_of("eE");
  std::string tail = exponent == std::string::npos ? "" : text.substr(exponent);
  std::string mantissa = text.substr(0, exponent);
  const size_t point = mantissa.find('.');
  if (point != std::string::npos) {
    size_t end = mantissa.size();
    while (end > point + 2 && mantissa[end - 1] == '0') --end;
    mantissa.resize(end);
  }
  return mantissa + tail;
}
