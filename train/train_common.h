// Helpers shared by the parts of the trainer (not installed, not public): a
// portable seeded generator and the work size of its parallel loops. The
// per-pixel rule comes from engine/pixel_rule.h, the threads from the engine's
// ThreadPool.
#ifndef NUBO_TRAIN_TRAIN_COMMON_H_
#define NUBO_TRAIN_TRAIN_COMMON_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace nubo {
namespace train {

// Progress of a long step: done out of total, with a short label.
using ProgressFn = std::function<void(const char* label, size_t done, size_t total)>;

namespace detail {

constexpr double kLevels2 = 255.0 * 255.0;  // Y units^2 -> grey levels^2

// Patches per work item of the parallel loops: big enough to amortise the
// scheduling, small enough to balance two cores on a single tree node.
constexpr size_t kChunk = 8192;

inline uint64_t splitmix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A small seeded generator whose output is the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() { return splitmix(&state_); }
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  size_t below(size_t n) { return static_cast<size_t>(uniform() * static_cast<double>(n)) % n; }

 private:
  uint64_t state_;
};

inline uint64_t mixSeed(uint64_t a, uint64_t b) {
  uint64_t state = a * 0x100000001B3ULL ^ b;
  splitmix(&state);
  return splitmix(&state);
}

inline void report(const ProgressFn& progress, const char* label, size_t done, size_t total) {
  if (progress) progress(label, done, total);
}

}  // namespace detail
}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_TRAIN_COMMON_H_
