// nubo-logo: draws the program's logo, a soft blue cloud ("nubo" is Esperanto
// for cloud) above the word "Nubo" in round strokes, anti-aliased by
// supersampling. Writes the 256 x 182 logo as a 24-bit BMP on white, or a
// square PNG icon with a transparent background.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fileio/file_util.h"

namespace {

// The logo's own size: the program stretches it to about 156 x 111 window
// pixels, so its aspect ratio is about 1.41.
constexpr int kLogoWidth = 256;
constexpr int kLogoHeight = 182;
// Subsamples per pixel side: 5 x 5 = 25 grey levels at every edge.
constexpr int kSupersampling = 5;
// Below this icon size the word would be an unreadable smudge: cloud only.
constexpr int kSmallestIconWithWord = 48;

struct Point {
  double x, y;
};

struct Circle {
  Point centre;
  double radius;
};

struct Segment {
  Point a, b;
};

struct Colour {
  double r, g, b;  // 0..1
};

// The cloud in logo coordinates (pixels of the 256 x 182 logo, y down): a
// flat-bottomed union of circles.
const Circle kCloud[] = {
    {{84, 68}, 31},  {{129, 52}, 41}, {{174, 66}, 32}, {{58, 88}, 20},
    {{200, 88}, 20}, {{104, 90}, 20}, {{152, 90}, 20}, {{128, 86}, 24},
};
constexpr double kCloudTop = 11;      // top of the largest circle
constexpr double kCloudBottom = 110;  // bottom of the lowest circles
constexpr double kCloudLeft = 38;
constexpr double kCloudRight = 220;
// Width of the darker rim that sets the cloud off the white background.
constexpr double kRimWidth = 3.2;

const Colour kSkyTop = {0.80, 0.91, 0.99};
const Colour kSkyBottom = {0.38, 0.64, 0.92};
const Colour kRim = {0.20, 0.47, 0.80};
const Colour kInk = {0.11, 0.27, 0.55};

// The word: glyphs drawn as strokes of round-ended lines in an em box
// (x right, y down; x-height at 0.45, baseline at 1).
constexpr double kEm = 48;           // em size in logo pixels
constexpr double kStroke = 0.13;     // stroke width in em
constexpr double kLetterGap = 0.17;  // space between letters in em
constexpr double kWordTop = 124;     // top of the em box in logo pixels
constexpr int kArcSteps = 48;        // segments of a full circle

void addArc(std::vector<Segment>* out, Point centre, double rx, double ry, double from, double to,
            double dx) {
  int steps = std::max(2, static_cast<int>(kArcSteps * std::fabs(to - from) / (2 * M_PI)));
  for (int i = 0; i < steps; ++i) {
    double t0 = from + (to - from) * i / steps;
    double t1 = from + (to - from) * (i + 1) / steps;
    out->push_back({{dx + centre.x + rx * std::cos(t0), centre.y + ry * std::sin(t0)},
                    {dx + centre.x + rx * std::cos(t1), centre.y + ry * std::sin(t1)}});
  }
}

void addLine(std::vector<Segment>* out, Point a, Point b, double dx) {
  out->push_back({{a.x + dx, a.y}, {b.x + dx, b.y}});
}

// The strokes of "Nubo" in em units, starting at x = 0; *width gets the
// word's width.
std::vector<Segment> wordStrokes(double* width) {
  std::vector<Segment> s;
  double x = 0;
  // N
  addLine(&s, {0, 1}, {0, 0}, x);
  addLine(&s, {0, 0}, {0.62, 1}, x);
  addLine(&s, {0.62, 1}, {0.62, 0}, x);
  x += 0.62 + kLetterGap;
  // u: two stems joined by a half circle at the bottom
  addLine(&s, {0, 0.45}, {0, 0.76}, x);
  addArc(&s, {0.24, 0.76}, 0.24, 0.24, M_PI, 0, x);
  addLine(&s, {0.48, 0.76}, {0.48, 0.45}, x);
  addLine(&s, {0.48, 0.45}, {0.48, 1}, x);
  x += 0.48 + kLetterGap;
  // b: a tall stem and a round bowl
  addLine(&s, {0, 0}, {0, 1}, x);
  addArc(&s, {0.26, 0.725}, 0.26, 0.275, 0, 2 * M_PI, x);
  x += 0.52 + kLetterGap;
  // o
  addArc(&s, {0.265, 0.725}, 0.265, 0.275, 0, 2 * M_PI, x);
  x += 0.53;
  *width = x;
  return s;
}

double distanceToSegment(Point p, const Segment& s) {
  double vx = s.b.x - s.a.x, vy = s.b.y - s.a.y;
  double wx = p.x - s.a.x, wy = p.y - s.a.y;
  double length2 = vx * vx + vy * vy;
  double t = length2 > 0 ? std::clamp((wx * vx + wy * vy) / length2, 0.0, 1.0) : 0.0;
  double dx = wx - t * vx, dy = wy - t * vy;
  return std::sqrt(dx * dx + dy * dy);
}

// The logo as a function of a point in logo coordinates.
class Scene {
 public:
  // rimWidth in logo pixels (kRimWidth, or more for a small icon).
  Scene(bool withWord, double rimWidth) : withWord_(withWord), rimWidth_(rimWidth) {
    double width = 0;
    std::vector<Segment> em = wordStrokes(&width);
    double left = (kLogoWidth - width * kEm) / 2;
    for (const Segment& s : em) {
      word_.push_back({{left + s.a.x * kEm, kWordTop + s.a.y * kEm},
                       {left + s.b.x * kEm, kWordTop + s.b.y * kEm}});
    }
  }

  // The colour at p and whether anything is drawn there.
  bool sample(Point p, Colour* colour) const {
    if (withWord_) {
      for (const Segment& s : word_) {
        if (distanceToSegment(p, s) <= kStroke * kEm / 2) {
          *colour = kInk;
          return true;
        }
      }
    }
    // Signed distance to the union of circles (negative inside).
    double inside = 1e9;
    for (const Circle& c : kCloud) {
      inside = std::min(inside, std::hypot(p.x - c.centre.x, p.y - c.centre.y) - c.radius);
    }
    if (inside > 0) return false;
    if (inside > -rimWidth_) {
      *colour = kRim;
      return true;
    }
    // Gentle vertical gradient, light at the top.
    double t = std::clamp((p.y - kCloudTop) / (kCloudBottom - kCloudTop), 0.0, 1.0);
    t = t * t * (3 - 2 * t);  // smooth step: no visible band at either end
    *colour = {kSkyTop.r + (kSkyBottom.r - kSkyTop.r) * t,
               kSkyTop.g + (kSkyBottom.g - kSkyTop.g) * t,
               kSkyTop.b + (kSkyBottom.b - kSkyTop.b) * t};
    return true;
  }

 private:
  bool withWord_;
  double rimWidth_;
  std::vector<Segment> word_;
};

// width x height RGBA pixels (top row first, straight alpha) of the scene,
// with output pixel (x, y) covering logo point (x0 + x / scale, y0 + y / scale).
std::vector<uint8_t> render(const Scene& scene, int width, int height, double x0, double y0,
                            double scale) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double r = 0, g = 0, b = 0, covered = 0;
      for (int sy = 0; sy < kSupersampling; ++sy) {
        for (int sx = 0; sx < kSupersampling; ++sx) {
          Point p = {x0 + (x + (sx + 0.5) / kSupersampling) / scale,
                     y0 + (y + (sy + 0.5) / kSupersampling) / scale};
          Colour c;
          if (scene.sample(p, &c)) {
            r += c.r;
            g += c.g;
            b += c.b;
            covered += 1;
          }
        }
      }
      uint8_t* out = &rgba[(static_cast<size_t>(y) * width + x) * 4];
      double n = kSupersampling * kSupersampling;
      if (covered > 0) {
        out[0] = static_cast<uint8_t>(std::lround(255 * r / covered));
        out[1] = static_cast<uint8_t>(std::lround(255 * g / covered));
        out[2] = static_cast<uint8_t>(std::lround(255 * b / covered));
      }
      out[3] = static_cast<uint8_t>(std::lround(255 * covered / n));
    }
  }
  return rgba;
}

void putLe(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An uncompressed 24-bit BMP (BITMAPINFOHEADER, bottom row first) of the RGBA
// pixels laid on white.
std::vector<uint8_t> encodeBmpOnWhite(const std::vector<uint8_t>& rgba, int width, int height) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;  // rows pad to 4 bytes
  const uint32_t pixelBytes = rowBytes * height;
  std::vector<uint8_t> bmp = {'B', 'M'};
  putLe(&bmp, 14 + 40 + pixelBytes, 4);
  putLe(&bmp, 0, 4);
  putLe(&bmp, 14 + 40, 4);
  putLe(&bmp, 40, 4);
  putLe(&bmp, width, 4);
  putLe(&bmp, height, 4);  // positive: bottom row first
  putLe(&bmp, 1, 2);
  putLe(&bmp, 24, 2);
  putLe(&bmp, 0, 4);  // BI_RGB
  putLe(&bmp, pixelBytes, 4);
  putLe(&bmp, 2835, 4);  // 72 dots per inch
  putLe(&bmp, 2835, 4);
  putLe(&bmp, 0, 4);
  putLe(&bmp, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
      double a = p[3] / 255.0;
      for (int c : {2, 1, 0}) {  // BMP stores blue, green, red
        bmp.push_back(static_cast<uint8_t>(std::lround(p[c] * a + 255 * (1 - a))));
      }
    }
    for (uint32_t i = static_cast<uint32_t>(width) * 3; i < rowBytes; ++i) bmp.push_back(0);
  }
  return bmp;
}

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// The RGBA pixels as a PNG; empty on failure.
std::vector<uint8_t> encodePng(const std::vector<uint8_t>& rgba, int width, int height) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return out;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendToVector, flushNothing);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, const_cast<png_bytep>(&rgba[static_cast<size_t>(y) * width * 4]));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

int usage() {
  std::fprintf(stderr,
               "usage: nubo-logo OUT.bmp           the 256 x 182 logo, 24-bit BMP on white\n"
               "       nubo-logo --icon SIZE OUT.png  a SIZE x SIZE icon (16 to 256),\n"
               "                                      transparent; the word from 48 on\n");
  return 2;
}

int save(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) {
    std::fprintf(stderr, "nubo-logo: cannot encode %s\n", path.c_str());
    return 1;
  }
  nubo::Status status = nubo::writeFileAtomically(path, bytes.data(), bytes.size(), true);
  if (!status.ok()) {
    std::fprintf(stderr, "nubo-logo: %s: %s\n", path.c_str(), status.message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && argv[1][0] != '-') {
    Scene scene(true, kRimWidth);
    std::vector<uint8_t> rgba = render(scene, kLogoWidth, kLogoHeight, 0, 0, 1);
    return save(argv[1], encodeBmpOnWhite(rgba, kLogoWidth, kLogoHeight));
  }
  if (argc == 4 && std::string(argv[1]) == "--icon") {
    char* end = nullptr;
    long size = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || size < 16 || size > 256) return usage();
    bool withWord = size >= kSmallestIconWithWord;
    // The drawn part of the logo, centred in the square with a small margin.
    double left = kCloudLeft, right = kCloudRight, top = kCloudTop;
    double bottom = withWord ? kWordTop + kEm + kStroke * kEm / 2 : kCloudBottom;
    double margin = size / 16.0;  // one sixteenth on each side
    double scale = (size - 2 * margin) / std::max(right - left, bottom - top);
    double x0 = (left + right) / 2 - size / (2 * scale);
    double y0 = (top + bottom) / 2 - size / (2 * scale);
    // At least about one icon pixel of rim, or small icons lose their outline.
    Scene scene(withWord, std::max(kRimWidth, 1.1 / scale));
    int n = static_cast<int>(size);
    return save(argv[3], encodePng(render(scene, n, n, x0, y0, scale), n, n));
  }
  return usage();
}
