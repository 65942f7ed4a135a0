// nubo-devcodebook: writes a small synthetic codebook for development and
// tests. Its codewords are ideal soft edges (9 orientations, each with leaves of
// shifted edges) and each companion is its codeword's own centre value, so a
// matching patch is pulled towards a clean edge. The trained codebooks replace
// it for real use.
#include <cmath>
#include <cstdio>

#include "engine/codebook.h"
#include "engine/ringing.h"
#include "engine/search.h"
#include "fileio/codebook_file.h"
#include "tools/cli_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A soft edge at angle (radians) shifted by offset pixels, normalised as the
// cleaning pass normalises patches.
std::array<float, nubo::kPatchSize> edgePatch(double angle, double offset, double softness) {
  std::array<float, nubo::kPatchSize> p;
  const double nx = std::cos(angle), ny = std::sin(angle);
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) {
      const double dist = (b - 2) * nx + (a - 2) * ny - offset;
      p[5 * a + b] = static_cast<float>(1.0 / (1.0 + std::exp(-dist / softness)));
    }
  }
  const float m = static_cast<float>(nubo::patchMean(p.data()));
  const float s = static_cast<float>(nubo::patchStdDev(m, p.data()));
  nubo::normalisePatch(p.data(), m, s);
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = "data/data";
  int leafSize = 8;
  double softness = 0.35;
  CLI::App app{"Writes a small synthetic development codebook.", "nubo-devcodebook"};
  app.add_option("--out", out, "output file")->capture_default_str();
  app.add_option("--leaf-size", leafSize, "codewords per leaf")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--softness", softness, "edge softness in pixels")
      ->check(CLI::Range(0.05, 5.0))
      ->capture_default_str();
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  nubo::CodebookTree root;
  root.type = 0;
  for (int k = 0; k < nubo::kBranching; ++k) {
    const double angle = k * kPi / nubo::kBranching * 2.0;  // 40 degree steps round the circle
    root.patches.push_back(edgePatch(angle, 0.0, softness));
    root.values.push_back(root.patches.back()[12]);
    nubo::CodebookTree leaf;
    leaf.type = 1;
    for (int n = 0; n < leafSize; ++n) {
      const double offset = leafSize == 1 ? 0.0 : -1.5 + 3.0 * n / (leafSize - 1);
      leaf.patches.push_back(edgePatch(angle, offset, softness));
      leaf.values.push_back(leaf.patches.back()[12]);
    }
    root.children.push_back(leaf);
  }
  const nubo::Status s = nubo::writeCodebook(root, out);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-devcodebook: %s: %s\n", out.c_str(), s.message().c_str());
    return 1;
  }
  return 0;
}
