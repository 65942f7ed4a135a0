// nubo-straight: the benchmark baseline. Cleans one picture the plain way, in
// the order the program's design describes: the whole picture in padded display
// buffers, full YIQ images, a grey and an edge image of three bytes a pixel,
// one thread, one distance at a time and a recursive tree search. Its output
// must equal nubo-clean's; it exists so that speed-ups are measured against it
// in the same run on the same machine.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/picture_files.h"
#include "app/working_image.h"
#include "engine/codebook.h"
#include "engine/colour.h"
#include "engine/search.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Plain recursive descent: one patchDistance per codeword, the lowest index
// wins a tie, a NaN distance replaces the best.
float searchPlain(const float* patch, const nubo::Codebook& cb, int node) {
  const nubo::CodebookNode& n = cb.nodes[node];
  if (n.type > 1) return -1.0f;
  double best = n.type == 0 ? 100000.0 : 10000000.0;  // the starting bounds
  int bestIndex = -1;
  for (int k = 0; k < n.count; ++k) {
    const double d = nubo::patchDistance(patch, cb.codewords[n.firstCodeword + k].patch.data());
    if (!(d >= best)) {
      best = d;
      bestIndex = k;
    }
  }
  if (bestIndex < 0) return -1.0f;
  if (n.type == 1) return cb.values[n.firstCodeword + bestIndex];
  return searchPlain(patch, cb, n.firstChild + bestIndex);
}

bool border(int y, int x, int w, int h) { return y < 2 || y >= h - 2 || x < 2 || x >= w - 2; }

// The display buffers plus the whole-picture float images and edge map the
// plain implementation keeps.
struct StraightImage : nubo::WorkingImage {
  std::vector<float> inputYiq;
  std::vector<float> outputYiq;
  std::vector<int32_t> edgeBlockMap;
};

}  // namespace

int main(int argc, char** argv) {
  std::string input, output, codebookPath;
  bool smooth = false;
  CLI::App app{"Baseline cleaner for the speed benchmark (one thread, no tricks).",
               "nubo-straight"};
  app.add_option("input", input, "picture to clean")->required();
  app.add_option("output", output, "BMP file to write")->required();
  app.add_option("--codebook", codebookPath, "codebook file")->required();
  app.add_flag("--smooth", smooth, "smooth the non-edge area");
  CLI11_PARSE(app, argc, argv);

  const auto all = Clock::now();
  auto t = Clock::now();
  nubo::Codebook cb;
  nubo::Status s = nubo::loadCodebook(&cb, codebookPath);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-straight: %s\n", s.message().c_str());
    return 1;
  }
  const double codebookMs = msSince(t);

  t = Clock::now();
  nubo::DecodedImage decoded;
  s = nubo::decodeImageFile(input, &decoded);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-straight: %s: %s\n", input.c_str(), s.message().c_str());
    return 1;
  }
  const double decodeMs = msSince(t);

  // Load: padded display buffers, 255 outside the picture, white interior.
  t = Clock::now();
  StraightImage img;
  const int w = decoded.width, h = decoded.height;
  img.imageWidth = w;
  img.imageHeight = h;
  img.paddedWidth = nubo::paddedSize(w);
  img.paddedHeight = nubo::paddedSize(h);
  const size_t displayBytes = static_cast<size_t>(img.paddedWidth) * img.paddedHeight * 3;
  img.inputDisplay.assign(displayBytes, 255);
  img.outputDisplay.assign(displayBytes, 255);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      for (int k = 0; k < 3; ++k) {
        const uint8_t v = decoded.rgb[(static_cast<size_t>(r) * w + c) * 3 + k];
        img.inputDisplay[img.displayOffset(r, c) + k] = v;
        if (border(h - 1 - r, c, w, h)) img.outputDisplay[img.displayOffset(r, c) + k] = v;
      }
    }
  }
  img.imageLoaded = 1;

  // Preprocess: full YIQ images.
  const size_t pixels = static_cast<size_t>(w) * h;
  img.inputYiq.assign(pixels * 3, 0.0f);
  img.outputYiq.assign(pixels * 3, 0.0f);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* rgb = img.inputDisplay.data() + img.displayOffset(h - 1 - y, x);
      float* in = img.inputYiq.data() + (static_cast<size_t>(y) * w + x) * 3;
      float* out = img.outputYiq.data() + (static_cast<size_t>(y) * w + x) * 3;
      nubo::rgbToYiq(in, rgb[0], rgb[1], rgb[2]);
      if (border(y, x, w, h)) out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
  // Edge detection: grey image and edge image of three bytes a pixel, the
  // Sobel magnitude with the picture's edge pixels replicated, then the
  // threshold (strength above 100) and the 8x8 block map.
  std::vector<uint8_t> grey(pixels * 3), edges(pixels * 3);
  for (size_t p = 0; p < pixels; ++p) {
    const uint8_t g = static_cast<uint8_t>(static_cast<int>(img.inputYiq[p * 3] * 255.0));
    grey[p * 3] = grey[p * 3 + 1] = grey[p * 3 + 2] = g;
  }
  auto at = [&](int y, int x) {
    y = std::min(std::max(y, 0), h - 1);
    x = std::min(std::max(x, 0), w - 1);
    return static_cast<int>(grey[(static_cast<size_t>(y) * w + x) * 3]);
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int gx = (at(y - 1, x + 1) + 2 * at(y, x + 1) + at(y + 1, x + 1)) -
                     (at(y - 1, x - 1) + 2 * at(y, x - 1) + at(y + 1, x - 1));
      const int gy = (at(y + 1, x - 1) + 2 * at(y + 1, x) + at(y + 1, x + 1)) -
                     (at(y - 1, x - 1) + 2 * at(y - 1, x) + at(y - 1, x + 1));
      const int strength = std::min(255, static_cast<int>(std::sqrt(double(gx * gx + gy * gy))));
      for (int k = 0; k < 3; ++k) edges[(static_cast<size_t>(y) * w + x) * 3 + k] = strength;
    }
  }
  for (size_t p = 0; p < pixels; ++p) {
    const uint8_t m = edges[p * 3] > 100 ? 255 : 0;  // strength above 100: an edge pixel
    grey[p * 3] = grey[p * 3 + 1] = grey[p * 3 + 2] = m;
  }
  img.edgeBlockMap.assign(pixels, 0);
  for (int u = 0; u * 8 < h; ++u) {
    for (int v = 0; v * 8 < w; ++v) {
      bool found = false;
      for (int y = 8 * u; y < std::min(8 * u + 8, h) && !found; ++y) {
        for (int x = 8 * v; x < std::min(8 * v + 8, w) && !found; ++x) {
          found = grey[(static_cast<size_t>(y) * w + x) * 3] == 255;
        }
      }
      for (int y = 8 * u; y < std::min(8 * u + 8, h); ++y) {
        for (int x = 8 * v; x < std::min(8 * v + 8, w); ++x) {
          img.edgeBlockMap[static_cast<size_t>(y) * w + x] = found ? 1 : 0;
        }
      }
    }
  }
  grey = std::vector<uint8_t>();
  edges = std::vector<uint8_t>();
  const double preprocessMs = msSince(t);

  // The pass.
  t = Clock::now();
  float patch[nubo::kPatchSize];
  for (int i = 2; i <= h - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      const size_t p = static_cast<size_t>(i) * w + j;
      bool nearEdge = false;
      for (int a = 0; a < 5; ++a) {
        for (int b = 0; b < 5; ++b) {
          const size_t q = static_cast<size_t>(i - 2 + a) * w + (j - 2 + b);
          patch[5 * a + b] = img.inputYiq[q * 3];
          nearEdge = nearEdge || img.edgeBlockMap[q] == 1;
        }
      }
      const float y = img.inputYiq[p * 3];
      float result = y;
      if (img.edgeBlockMap[p] == 0) {
        if (smooth && !nearEdge) result = static_cast<float>(nubo::patchMean(patch));
      } else {
        const float m = static_cast<float>(nubo::patchMean(patch));
        const float sd = static_cast<float>(nubo::patchStdDev(m, patch));
        if (sd != 0.0f) {
          for (float& v : patch)
            v = static_cast<float>((v - static_cast<double>(m)) * 0.3 / sd + 0.5);
          const float d = searchPlain(patch, cb, 0);
          if (d != -1.0f && !std::isnan(d)) {
            const double pred = ((d - 0.5) * sd) * 3.3333333333333335 + m;
            if (std::fabs(pred - y) < 0.08) result = static_cast<float>(pred);
          }
        }
      }
      img.outputYiq[p * 3] = result;
    }
  }
  const double passMs = msSince(t);

  t = Clock::now();
  for (int i = 2; i <= h - 3; ++i) {
    for (int j = 2; j <= w - 3; ++j) {
      const float* yiq = img.outputYiq.data() + (static_cast<size_t>(i) * w + j) * 3;
      nubo::yiqToRgb(img.outputDisplay.data() + img.displayOffset(h - 1 - i, j), yiq[0], yiq[1],
                     yiq[2]);
    }
  }
  const double backMs = msSince(t);

  t = Clock::now();
  s = nubo::savePicture(img, output, nubo::ImageFormat::kBmp, /*overwrite=*/true);
  if (!s.ok()) {
    std::fprintf(stderr, "nubo-straight: %s: %s\n", output.c_str(), s.message().c_str());
    return 1;
  }
  const double saveMs = msSince(t);
  std::printf(
      "codebook %.0f ms, decode %.0f ms, load+preprocess %.0f ms, pass %.0f ms, back %.0f ms, "
      "encode+write %.0f ms, whole %.0f ms\n",
      codebookMs, decodeMs, preprocessMs, passMs, backMs, saveMs, msSince(all));
  return 0;
}
