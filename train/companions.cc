// Companion values chosen for the result after the engine's acceptance rule.
#include "train/companions.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "engine/pixel_rule.h"

namespace nubo {
namespace train {

using namespace detail;  // NOLINT(build/namespaces): the trainer's shared helpers

namespace {

// Squared-error pieces of one sample in u = v - kNormCentre: inside its acceptance
// interval (lo, hi) the error is (a u + c)^2, outside it is base.
struct Piece {
  double a, c, base, lo, hi;
};

Piece pieceOf(const PixelSample& s) {
  Piece p;
  p.a = static_cast<double>(s.s) * kInverseScale;
  p.c = static_cast<double>(s.m) - s.target;
  p.base = static_cast<double>(s.keepDiff) * s.keepDiff;
  p.lo = (static_cast<double>(s.y) - s.m - kAcceptLimit) / p.a;
  p.hi = (static_cast<double>(s.y) - s.m + kAcceptLimit) / p.a;
  return p;
}

}  // namespace

double perPixelOptimumGain(const std::vector<PixelSample>& samples) {
  double gain = 0.0;
  for (const PixelSample& s : samples) {
    const Piece piece = pieceOf(s);
    const double u = std::clamp(-piece.c / piece.a, piece.lo, piece.hi);
    const double inside = (piece.a * u + piece.c) * (piece.a * u + piece.c);
    gain += std::max(0.0, piece.base - inside);
  }
  return gain;
}

float acceptedOutput(float v, const PixelSample& sample) {
  return acceptedLuma(denormalised(v, sample.m, sample.s), sample.y);
}

double companionError(float v, const std::vector<PixelSample>& samples) {
  double sum = 0.0;
  for (const PixelSample& s : samples) {
    const double p = denormalised(v, s.m, s.s);
    const double d = withinAcceptLimit(p, s.y)
                         ? static_cast<double>(static_cast<float>(p)) - s.target
                         : static_cast<double>(s.keepDiff);
    sum += d * d;
  }
  return sum;
}

double keepError(const std::vector<PixelSample>& samples) {
  double sum = 0.0;
  for (const PixelSample& s : samples) sum += static_cast<double>(s.keepDiff) * s.keepDiff;
  return sum;
}

float bestCompanion(const std::vector<PixelSample>& samples) {
  if (samples.empty()) return kAbstainValue;
  std::vector<Piece> pieces;
  pieces.reserve(samples.size());
  for (const PixelSample& s : samples) pieces.push_back(pieceOf(s));
  // Sweep the interval ends; between two consecutive ends the active set is
  // fixed and the error is one quadratic in u.
  struct Event {
    double at;
    int32_t piece;  // >= 0 enters, ~piece leaves
  };
  std::vector<Event> events;
  events.reserve(pieces.size() * 2);
  double baseTotal = 0.0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    events.push_back({pieces[k].lo, static_cast<int32_t>(k)});
    events.push_back({pieces[k].hi, ~static_cast<int32_t>(k)});
    baseTotal += pieces[k].base;
  }
  std::sort(events.begin(), events.end(), [](const Event& x, const Event& y) {
    return x.at < y.at || (x.at == y.at && x.piece < y.piece);
  });
  double s2 = 0.0, s1 = 0.0, s0 = 0.0, baseActive = 0.0;
  // The few best candidates of the sweep are re-scored exactly (float value,
  // engine rounding), which also absorbs the drift of the running sums.
  constexpr size_t kCandidates = 12;
  std::vector<std::pair<double, double>> best;  // (sweep error, u)
  for (size_t e = 0; e < events.size();) {
    const double at = events[e].at;
    for (; e < events.size() && events[e].at == at; ++e) {
      const int32_t id = events[e].piece;
      const Piece& p = pieces[id >= 0 ? id : ~id];
      const double sign = id >= 0 ? 1.0 : -1.0;
      s2 += sign * p.a * p.a;
      s1 += sign * p.a * p.c;
      s0 += sign * p.c * p.c;
      baseActive += sign * p.base;
    }
    if (e >= events.size() || s2 <= 0.0) continue;
    const double next = events[e].at;
    // Keep strictly inside the open segment: the ends belong to other active sets.
    const double margin = (next - at) * 1e-6;
    const double u = std::clamp(-s1 / s2, at + margin, next - margin);
    const double error = (s2 * u + 2.0 * s1) * u + s0 + (baseTotal - baseActive);
    if (best.size() < kCandidates || error < best.back().first) {
      best.emplace_back(error, u);
      std::sort(best.begin(), best.end());
      if (best.size() > kCandidates) best.pop_back();
    }
  }
  const double keep = keepError(samples);
  float chosen = kAbstainValue;
  double chosenError = keep;
  for (const auto& candidate : best) {
    const float v = static_cast<float>(candidate.second + kNormCentre);
    if (!std::isfinite(v)) continue;
    const double error = companionError(v, samples);
    if (error < chosenError) {
      chosenError = error;
      chosen = v;
    }
  }
  return chosen;
}

float chooseCompanion(const std::vector<PixelSample>& fit, const std::vector<PixelSample>& held,
                      const CompanionRules& rules, const std::vector<float>& shared) {
  if (held.size() < rules.minHeldSamples) return kAbstainValue;
  const double keepHeld = keepError(held);
  double bestGain = rules.minHeldGain * static_cast<double>(held.size()) / kLevels2;
  float best = kAbstainValue;
  bool own = false;
  if (fit.size() >= rules.minFitSamples) {
    const float v = bestCompanion(fit);
    if (v != kAbstainValue) {
      const double gain = keepHeld - companionError(v, held);
      if (gain > bestGain) {
        best = v;
        bestGain = gain;
        own = true;
      }
    }
  }
  for (float v : shared) {
    if (v == kAbstainValue) continue;
    const double gain = keepHeld - companionError(v, held);
    if (gain > bestGain) {
      best = v;
      bestGain = gain;
      own = false;
    }
  }
  if (!own) return best;
  std::vector<PixelSample> all = fit;
  all.insert(all.end(), held.begin(), held.end());
  const float refit = bestCompanion(all);
  // The refit uses every sample; keep it only when it still helps the held-back ones.
  if (refit != kAbstainValue && companionError(refit, held) < keepHeld) return refit;
  return best;
}

size_t fitCompanions(const Codebook& codebook, const std::vector<int32_t>& assignment,
                     const SampleSet& set, const CompanionRules& rules, ThreadPool* pool,
                     CodebookTree* tree) {
  const std::vector<std::pair<CodebookTree*, int>> slots = codewordSlots(codebook, tree);
  const size_t codewords = slots.size();
  // Patches grouped by codeword (counting sort, patch order kept).
  std::vector<size_t> start(codewords + 1, 0);
  for (int32_t a : assignment) {
    if (a >= 0) ++start[a + 1];
  }
  for (size_t c = 0; c < codewords; ++c) start[c + 1] += start[c];
  std::vector<uint32_t> order(start[codewords]);
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t p = 0; p < assignment.size(); ++p) {
    if (assignment[p] >= 0) order[fill[assignment[p]]++] = static_cast<uint32_t>(p);
  }
  std::vector<int> leaves;
  for (size_t n = 0; n < codebook.nodes.size(); ++n) {
    if (codebook.nodes[n].type == 1) leaves.push_back(static_cast<int>(n));
  }
  std::atomic<size_t> acting{0};
  pool->parallelFor(leaves.size(), [&](size_t l) {
    const CodebookNode& node = codebook.nodes[leaves[l]];
    std::vector<std::vector<PixelSample>> fit(node.count), held(node.count);
    std::vector<PixelSample> leafFit;
    for (int k = 0; k < node.count; ++k) {
      const size_t c = static_cast<size_t>(node.firstCodeword) + k;
      for (size_t q = start[c]; q < start[c + 1]; ++q) {
        const size_t sample = order[q] / set.variants;
        (set.heldOut[sample] ? held[k] : fit[k]).push_back(set.samples[sample]);
      }
      leafFit.insert(leafFit.end(), fit[k].begin(), fit[k].end());
    }
    // One value for the whole leaf: a fallback for codewords whose own fit is noise.
    const std::vector<float> shared{bestCompanion(leafFit)};
    for (int k = 0; k < node.count; ++k) {
      const size_t c = static_cast<size_t>(node.firstCodeword) + k;
      const float v = chooseCompanion(fit[k], held[k], rules, shared);
      slots[c].first->values[slots[c].second] = v;
      if (v != kAbstainValue) acting.fetch_add(1);
    }
  });
  return acting.load();
}

}  // namespace train
}  // namespace nubo
