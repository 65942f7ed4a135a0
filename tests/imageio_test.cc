// Tests of image loading and saving: orientation and channel order for every
// supported layout, exact round trips, hostile and damaged files (which must
// fail quickly with a reason), the ".bmp" rule and atomic saving.
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/thread_pool.h"
#include "engine/working_image.h"
#include "gtest/gtest.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;

// A small picture given top row first, as a person would draw it.
struct Picture {
  int width;
  int height;
  std::vector<Rgb> topFirst;  // height rows of width pixels
  Rgb at(int x, int yFromTop) const { return topFirst[yFromTop * width + x]; }
};

// 3 x 2 picture with a different colour in every pixel and every channel.
Picture referencePicture() {
  return {3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}, {40, 50, 60}, {70, 80, 90}}};
}

Picture randomPicture(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p{width, height, std::vector<Rgb>(static_cast<size_t>(width) * height)};
  for (Rgb& px : p.topFirst) {
    for (uint8_t& ch : px) ch = static_cast<uint8_t>(rng());
  }
  return p;
}

// The picture as decodeImage returns it: bottom row first, R, G, B.
Bytes bottomFirstRgb(const Picture& p) {
  Bytes out;
  for (int y = p.height - 1; y >= 0; --y) {
    for (int x = 0; x < p.width; ++x) {
      const Rgb px = p.at(x, y);
      out.insert(out.end(), px.begin(), px.end());
    }
  }
  return out;
}

void putLe16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void appendBe32(Bytes* b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// --- BMP writer ---------------------------------------------------------------

struct BmpLayout {
  uint32_t headerSize = 40;  // 40, 52, 56, 108 or 124
  int bits = 24;             // 8 (palette), 24 or 32
  bool bitfields = false;    // 32-bit only: BI_BITFIELDS with masks
  bool topDown = false;      // negative height
};

// Writes p as a BMP; an 8-bit BMP gets a palette with one entry per pixel.
Bytes makeBmp(const Picture& p, const BmpLayout& layout) {
  const size_t masks = (layout.bitfields && layout.headerSize == 40) ? 12 : 0;
  const size_t palette = layout.bits == 8 ? 256 * 4 : 0;
  const size_t rowBytes = (static_cast<size_t>(p.width) * layout.bits + 31) / 32 * 4;
  const size_t offset = 14 + layout.headerSize + masks + palette;
  Bytes b(offset + rowBytes * p.height, 0);
  b[0] = 'B';
  b[1] = 'M';
  putLe32(&b, 2, static_cast<uint32_t>(b.size()));
  putLe32(&b, 10, static_cast<uint32_t>(offset));
  putLe32(&b, 14, layout.headerSize);
  putLe32(&b, 18, static_cast<uint32_t>(p.width));
  putLe32(&b, 22, static_cast<uint32_t>(layout.topDown ? -p.height : p.height));
  putLe16(&b, 26, 1);
  putLe16(&b, 28, static_cast<uint32_t>(layout.bits));
  putLe32(&b, 30, layout.bitfields ? 3 : 0);
  putLe32(&b, 34, static_cast<uint32_t>(rowBytes * p.height));
  if (layout.bitfields) {  // masks right after the 40-byte part in every layout
    putLe32(&b, 54, 0x00FF0000);
    putLe32(&b, 58, 0x0000FF00);
    putLe32(&b, 62, 0x000000FF);
    if (layout.headerSize >= 56) putLe32(&b, 66, 0xFF000000);
  }
  if (layout.headerSize >= 108) putLe32(&b, 70, 0x73524742);  // 'sRGB' colour space
  const size_t paletteAt = 14 + layout.headerSize + masks;
  for (int y = 0; y < p.height; ++y) {
    const int fileRow = layout.topDown ? y : p.height - 1 - y;
    for (int x = 0; x < p.width; ++x) {
      const Rgb px = p.at(x, y);
      const size_t at = offset + fileRow * rowBytes + x * layout.bits / 8;
      if (layout.bits == 8) {
        const int index = y * p.width + x;
        b[at] = static_cast<uint8_t>(index);
        b[paletteAt + 4 * index] = px[2];
        b[paletteAt + 4 * index + 1] = px[1];
        b[paletteAt + 4 * index + 2] = px[0];
      } else {
        b[at] = px[2];
        b[at + 1] = px[1];
        b[at + 2] = px[0];
        if (layout.bits == 32) b[at + 3] = 255;
      }
    }
  }
  return b;
}

// --- PNG writer (stored deflate blocks, so any layout can be produced) --------

uint32_t crc32Of(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void appendChunk(Bytes* png, const char* type, const Bytes& body) {
  appendBe32(png, static_cast<uint32_t>(body.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), body.begin(), body.end());
  appendBe32(png, crc32Of(png->data() + start, png->size() - start));
}

// A zlib stream holding raw in stored (uncompressed) blocks.
Bytes zlibStored(const Bytes& raw) {
  Bytes z = {0x78, 0x01};
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - pos, 65535);  // stored block limit
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, s = 0;  // Adler-32
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    s = (s + a) % 65521;
  }
  appendBe32(&z, (s << 16) | a);
  return z;
}

Bytes pngHeader(uint32_t width, uint32_t height, int depth, int colourType) {
  Bytes ihdr;
  appendBe32(&ihdr, width);
  appendBe32(&ihdr, height);
  ihdr.push_back(static_cast<uint8_t>(depth));
  ihdr.push_back(static_cast<uint8_t>(colourType));
  ihdr.insert(ihdr.end(), {0, 0, 0});
  return ihdr;
}

// A PNG from rows (top first, packed samples, no filter byte).
Bytes makePng(int width, int depth, int colourType, const std::vector<Bytes>& rows,
              const Bytes& palette = {}) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  appendChunk(&png, "IHDR",
              pngHeader(width, static_cast<uint32_t>(rows.size()), depth, colourType));
  if (!palette.empty()) appendChunk(&png, "PLTE", palette);
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);  // filter type None
    raw.insert(raw.end(), row.begin(), row.end());
  }
  appendChunk(&png, "IDAT", zlibStored(raw));
  appendChunk(&png, "IEND", {});
  return png;
}

Bytes makeRgbPng(const Picture& p) {
  std::vector<Bytes> rows(p.height);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const Rgb px = p.at(x, y);
      rows[y].insert(rows[y].end(), px.begin(), px.end());
    }
  }
  return makePng(p.width, 8, 2, rows);
}

// --- TIFF writer (one uncompressed RGB strip) -----------------------------------

Bytes makeTiff(const Picture& p) {
  Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const uint32_t entries = 10;
  const uint32_t bitsAt = 8 + 2 + entries * 12 + 4;
  const uint32_t dataAt = bitsAt + 6;
  const uint32_t dataBytes = static_cast<uint32_t>(p.width * p.height * 3);
  const Entry list[entries] = {
      {256, 4, 1, static_cast<uint32_t>(p.width)},   // ImageWidth
      {257, 4, 1, static_cast<uint32_t>(p.height)},  // ImageLength
      {258, 3, 3, bitsAt},                           // BitsPerSample 8,8,8
      {259, 3, 1, 1},                                // no compression
      {262, 3, 1, 2},                                // RGB
      {273, 4, 1, dataAt},                           // StripOffsets
      {277, 3, 1, 3},                                // SamplesPerPixel
      {278, 4, 1, static_cast<uint32_t>(p.height)},  // RowsPerStrip
      {279, 4, 1, dataBytes},                        // StripByteCounts
      {284, 3, 1, 1},                                // PlanarConfiguration: chunky
  };
  t.push_back(entries);
  t.push_back(0);
  for (const Entry& e : list) {
    t.push_back(static_cast<uint8_t>(e.tag));
    t.push_back(static_cast<uint8_t>(e.tag >> 8));
    t.push_back(static_cast<uint8_t>(e.type));
    t.push_back(0);
    for (int i = 0; i < 4; ++i) t.push_back(static_cast<uint8_t>(e.count >> (8 * i)));
    for (int i = 0; i < 4; ++i) t.push_back(static_cast<uint8_t>(e.value >> (8 * i)));
  }
  t.insert(t.end(), {0, 0, 0, 0});  // no next directory
  t.insert(t.end(), {8, 0, 8, 0, 8, 0});
  for (const Rgb& px : p.topFirst) t.insert(t.end(), px.begin(), px.end());
  return t;
}

// --- helpers ---------------------------------------------------------------------

// A picture of the size of p loaded into a WorkingImage by hand, so that
// encoding can be tested on any outputDisplay content (including padding).
WorkingImage imageWithOutput(const Picture& p) {
  WorkingImage image;
  const Bytes rgb = bottomFirstRgb(p);
  EXPECT_TRUE(fillDisplayBuffers(rgb.data(), p.width, p.height, &image));
  image.outputDisplay = image.inputDisplay;
  return image;
}

Status decodeBytes(const Bytes& bytes, DecodedImage* out) {
  return decodeImage(bytes.data(), bytes.size(), out);
}

// Runs work in another thread and ends the whole program unless it returns
// within the given time: a hung decoder holds the DevIL lock, so nothing
// after it could run anyway.
void runWithin(int seconds, const char* what, std::function<void()> work) {
  auto finished = std::make_shared<std::promise<void>>();
  std::future<void> done = finished->get_future();
  std::thread([work = std::move(work), finished] {
    work();
    finished->set_value();
  }).detach();
  if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not finish within %d s\n", what, seconds);
    std::_Exit(2);
  }
}

// Decodes bytes, failing the program if the decoder takes more than 5 s.
Status decodeQuickly(const Bytes& bytes, DecodedImage* out = nullptr) {
  auto result = std::make_shared<std::pair<Status, DecodedImage>>();
  runWithin(5, "decodeImage", [&bytes, result] {
    result->first = decodeImage(bytes.data(), bytes.size(), &result->second);
  });
  if (out != nullptr) *out = std::move(result->second);
  return result->first;
}

// A fresh folder for the files of this test program, removed at exit.
const std::string& tempDir() {
  // Never destroyed, so that the exit handler can still use it.
  static const std::string& dir = *[] {
    auto* templ = new std::string(::testing::TempDir() + "nubo-imageio-XXXXXX");
    EXPECT_NE(mkdtemp(templ->data()), nullptr);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(tempDir(), ignored);
    });
    return templ;
  }();
  return dir;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << path;
}

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Number of entries in a folder, to spot left-over temporary files.
int entriesIn(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

Bytes jpegFixture() {
  return readFile(std::string(NUBO_SOURCE_DIR) + "/tests/data/imageio/top_red_bottom_blue.jpg");
}

// --- loading: orientation and channel order -----------------------------------

TEST(ImageIo, RgbPngLoadsBottomRowFirstInRgbOrder) {
  const Picture p = referencePicture();
  DecodedImage d;
  ASSERT_TRUE(decodeBytes(makeRgbPng(p), &d).ok());
  EXPECT_EQ(d.width, 3);
  EXPECT_EQ(d.height, 2);
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));
  // Display row 0 is the bottom row of the picture.
  EXPECT_EQ(d.rgb[0], 10);
  EXPECT_EQ(d.rgb[1], 20);
  EXPECT_EQ(d.rgb[2], 30);
}

TEST(ImageIo, GreyPaletteAlphaAndSixteenBitPngsBecomeRgb) {
  const Picture p = referencePicture();
  const Bytes expected = bottomFirstRgb(p);

  // Grey: top row 0, 100, 200; bottom row 50, 150, 250.
  DecodedImage d;
  ASSERT_TRUE(decodeBytes(makePng(3, 8, 0, {{0, 100, 200}, {50, 150, 250}}), &d).ok());
  EXPECT_EQ(d.rgb, (Bytes{50, 50, 50, 150, 150, 150, 250, 250, 250, 0, 0, 0, 100, 100, 100, 200,
                          200, 200}));

  // Palette: one entry per pixel, in top-first order.
  Bytes palette;
  for (const Rgb& px : p.topFirst) palette.insert(palette.end(), px.begin(), px.end());
  ASSERT_TRUE(decodeBytes(makePng(3, 8, 3, {{0, 1, 2}, {3, 4, 5}}, palette), &d).ok());
  EXPECT_EQ(d.rgb, expected);

  // RGBA, opaque: alpha is dropped.
  std::vector<Bytes> rgbaRows(2), rows16(2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const Rgb px = p.at(x, y);
      rgbaRows[y].insert(rgbaRows[y].end(), {px[0], px[1], px[2], 255});
      for (uint8_t v : px) rows16[y].insert(rows16[y].end(), {v, v});  // v * 257
    }
  }
  ASSERT_TRUE(decodeBytes(makePng(3, 8, 6, rgbaRows), &d).ok());
  EXPECT_EQ(d.rgb, expected);

  // 16 bits per sample: v * 257 comes back as v.
  ASSERT_TRUE(decodeBytes(makePng(3, 16, 2, rows16), &d).ok());
  EXPECT_EQ(d.rgb, expected);

  // Grey with alpha and 1-bit grey load too.
  EXPECT_TRUE(decodeBytes(makePng(2, 8, 4, {{7, 255, 9, 128}}), &d).ok());
  EXPECT_EQ(d.rgb, (Bytes{7, 7, 7, 9, 9, 9}));
  ASSERT_TRUE(decodeBytes(makePng(3, 1, 0, {{0xA0}, {0x40}}), &d).ok());
  EXPECT_EQ(d.rgb, (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255}));
}

TEST(ImageIo, BmpLoadsUprightWhetherStoredBottomUpOrTopDown) {
  const Picture p = referencePicture();
  for (bool topDown : {false, true}) {
    for (int bits : {8, 24, 32}) {
      DecodedImage d;
      BmpLayout layout;
      layout.bits = bits;
      layout.topDown = topDown;
      Status s = decodeBytes(makeBmp(p, layout), &d);
      ASSERT_TRUE(s.ok()) << s.message() << " bits " << bits << " topDown " << topDown;
      EXPECT_EQ(d.rgb, bottomFirstRgb(p)) << "bits " << bits << " topDown " << topDown;
    }
  }
}

TEST(ImageIo, BmpWithLongInfoHeadersLoads) {
  const Picture p = randomPicture(5, 3, 7);  // odd width: rows are padded
  for (uint32_t header : {52u, 56u, 108u, 124u}) {
    for (int bits : {8, 24, 32}) {
      for (bool bitfields : {false, true}) {
        if (bitfields && bits != 32) continue;
        for (bool topDown : {false, true}) {
          BmpLayout layout;
          layout.headerSize = header;
          layout.bits = bits;
          layout.bitfields = bitfields;
          layout.topDown = topDown;
          DecodedImage d;
          Status s = decodeBytes(makeBmp(p, layout), &d);
          ASSERT_TRUE(s.ok()) << s.message() << " header " << header << " bits " << bits;
          EXPECT_EQ(d.rgb, bottomFirstRgb(p))
              << "header " << header << " bits " << bits << " bitfields " << bitfields;
        }
      }
    }
  }
}

TEST(ImageIo, Os2BmpAndShortPaletteLoad) {
  // OS/2 header (12 bytes, 16-bit sizes), 24 bits, rows of 9 bytes padded to 12.
  const Picture p = referencePicture();
  Bytes os2(14 + 12 + 2 * 12, 0);
  os2[0] = 'B';
  os2[1] = 'M';
  putLe32(&os2, 2, static_cast<uint32_t>(os2.size()));
  putLe32(&os2, 10, 26);
  putLe32(&os2, 14, 12);
  putLe16(&os2, 18, 3);
  putLe16(&os2, 20, 2);
  putLe16(&os2, 22, 1);
  putLe16(&os2, 24, 24);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const Rgb px = p.at(x, y);
      const size_t at = 26 + (1 - y) * 12 + x * 3;
      os2[at] = px[2];
      os2[at + 1] = px[1];
      os2[at + 2] = px[0];
    }
  }
  DecodedImage d;
  Status s = decodeBytes(os2, &d);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));

  // A palette of 6 colours while an index points past it: that pixel is black.
  BmpLayout layout;
  layout.bits = 8;
  Bytes shortPalette = makeBmp(p, layout);
  const size_t paletteAt = 14 + 40, pixelsAt = paletteAt + 256 * 4;
  Bytes trimmed(shortPalette.begin(), shortPalette.begin() + paletteAt + 6 * 4);
  trimmed.insert(trimmed.end(), shortPalette.begin() + pixelsAt, shortPalette.end());
  putLe32(&trimmed, 2, static_cast<uint32_t>(trimmed.size()));
  putLe32(&trimmed, 10, static_cast<uint32_t>(paletteAt + 6 * 4));
  putLe32(&trimmed, 46, 6);          // colours used
  trimmed[paletteAt + 6 * 4] = 200;  // bottom-left pixel: index 200
  s = decodeBytes(trimmed, &d);
  ASSERT_TRUE(s.ok()) << s.message();
  Bytes expected = bottomFirstRgb(p);
  expected[0] = expected[1] = expected[2] = 0;
  EXPECT_EQ(d.rgb, expected);
}

TEST(ImageIo, JpegLoadsUpright) {
  const Bytes jpeg = jpegFixture();
  ASSERT_FALSE(jpeg.empty());
  DecodedImage d;
  Status s = decodeBytes(jpeg, &d);
  ASSERT_TRUE(s.ok()) << s.message();
  ASSERT_EQ(d.width, 16);
  ASSERT_EQ(d.height, 16);
  // The top half is red, the bottom half blue; row 0 is the bottom row.
  auto pixel = [&d](int row, int col) {
    const uint8_t* px = &d.rgb[(static_cast<size_t>(row) * d.width + col) * 3];
    return Rgb{px[0], px[1], px[2]};
  };
  for (int col : {0, 7, 15}) {
    const Rgb bottom = pixel(2, col), top = pixel(13, col);
    EXPECT_GT(bottom[2], 180);
    EXPECT_LT(bottom[0], 70);
    EXPECT_GT(top[0], 180);
    EXPECT_LT(top[2], 70);
  }
}

TEST(ImageIo, TiffLoadsUpright) {
  const Picture p = randomPicture(5, 4, 11);
  DecodedImage d;
  Status s = decodeBytes(makeTiff(p), &d);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));
}

TEST(ImageIo, DecodeIsSafeFromSeveralThreads) {
  const Picture p = randomPicture(9, 7, 3);
  const Bytes png = makeRgbPng(p), bmp = makeBmp(p, BmpLayout());
  const Bytes expected = bottomFirstRgb(p);
  std::vector<std::future<bool>> runs;
  for (int t = 0; t < 4; ++t) {
    runs.push_back(std::async(std::launch::async, [&, t] {
      bool good = true;
      for (int i = 0; i < 50; ++i) {
        DecodedImage d;
        good = good && decodeBytes((i + t) % 2 ? png : bmp, &d).ok() && d.rgb == expected;
      }
      return good;
    }));
  }
  for (auto& run : runs) EXPECT_TRUE(run.get());
}

// --- loadInput ---------------------------------------------------------------------

TEST(ImageIo, LoadInputFillsDisplayBuffers) {
  const Picture p = randomPicture(11, 6, 5);
  const std::string path = tempDir() + "/load.png";
  writeFile(path, makeRgbPng(p));
  WorkingImage image;
  std::vector<std::string> texts;
  Status s = loadInput(path, &image, [&texts](const std::string& t) { texts.push_back(t); });
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(image.imageLoaded, 1);
  EXPECT_EQ(image.imageWidth, 11);
  EXPECT_EQ(image.imageHeight, 6);
  EXPECT_EQ(image.paddedWidth, 16);
  EXPECT_EQ(image.paddedHeight, 8);
  // The load's texts, as they always were (the edge blocks are the pass's now).
  EXPECT_EQ(texts, (std::vector<std::string>{"Preprocessing the contaminated image......",
                                             "Detecting edge in the contaminated image......",
                                             "ready"}));
  const Bytes rgb = bottomFirstRgb(p);
  for (int r = 0; r < image.paddedHeight; ++r) {
    for (int c = 0; c < image.paddedWidth; ++c) {
      for (int k = 0; k < 3; ++k) {
        const uint8_t in = image.inputDisplay[image.displayOffset(r, c) + k];
        const uint8_t out = image.outputDisplay[image.displayOffset(r, c) + k];
        if (r >= image.imageHeight || c >= image.imageWidth) {
          EXPECT_EQ(in, 255);  // padding
          EXPECT_EQ(out, 255);
          continue;
        }
        const uint8_t want = rgb[(static_cast<size_t>(r) * 11 + c) * 3 + k];
        EXPECT_EQ(in, want);
        const bool border =
            r < 2 || c < 2 || r >= image.imageHeight - 2 || c >= image.imageWidth - 2;
        EXPECT_EQ(out, border ? want : 255) << r << "," << c;
      }
    }
  }
}

TEST(ImageIo, LoadOnAPoolGivesTheSameBuffers) {
  // Tall enough for many row tasks, widths around the two-pixel border.
  ThreadPool pool(3);
  for (int width : {1, 3, 4, 5, 37}) {
    const Picture p = randomPicture(width, 301, width);
    DecodedImage one, many;
    one.width = many.width = width;
    one.height = many.height = 301;
    one.rgb = many.rgb = bottomFirstRgb(p);
    WorkingImage alone, shared;
    ASSERT_TRUE(loadDecoded(&one, &alone, nullptr).ok());
    ASSERT_TRUE(loadDecoded(&many, &shared, nullptr, &pool).ok());
    EXPECT_EQ(shared.inputDisplay, alone.inputDisplay) << width;
    EXPECT_EQ(shared.outputDisplay, alone.outputDisplay) << width;
    EXPECT_TRUE(many.rgb.empty());  // the decoded pixels are given back
  }
}

TEST(ImageIo, FailedLoadAfterGoodOneLeavesImageReleased) {
  const std::string good = tempDir() + "/good.bmp";
  const std::string bad = tempDir() + "/bad.png";
  writeFile(good, makeBmp(randomPicture(8, 8, 1), BmpLayout()));
  Bytes damaged = makeRgbPng(randomPicture(8, 8, 2));
  damaged.resize(damaged.size() / 2);
  writeFile(bad, damaged);
  for (const std::string& failing : {bad, tempDir() + "/missing.png"}) {
    WorkingImage image;
    ASSERT_TRUE(loadInput(good, &image, nullptr).ok());
    ASSERT_EQ(image.imageLoaded, 1);
    Status s = loadInput(failing, &image, nullptr);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.message().empty());
    EXPECT_EQ(s.message().find('\n'), std::string::npos);
    EXPECT_EQ(image.imageLoaded, 0);
    EXPECT_EQ(image.imageWidth, 0);
    EXPECT_EQ(image.paddedWidth, 0);
    EXPECT_TRUE(image.inputDisplay.empty());
    EXPECT_TRUE(image.outputDisplay.empty());
  }
}

TEST(ImageIo, MissingFileCannotBeOpened) {
  DecodedImage d;
  Status s = decodeImageFile(tempDir() + "/no-such-file.jpg", &d);
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
  EXPECT_EQ(s.message(), "cannot open file: No such file or directory");
  s = decodeImageFile(tempDir(), &d);  // a folder
  EXPECT_EQ(s.code(), StatusCode::kCannotOpen);
}

// --- hostile and damaged files ---------------------------------------------------

TEST(ImageIo, UnsupportedContentIsRefusedByContentNotName) {
  const std::string textJpg = tempDir() + "/note.jpg";
  const std::string text = "This is a text file, not a picture.\n";
  writeFile(textJpg, Bytes(text.begin(), text.end()));
  DecodedImage d;
  Status s = decodeImageFile(textJpg, &d);
  EXPECT_EQ(s.code(), StatusCode::kInvalidData);
  EXPECT_EQ(s.message(), "unsupported image format");

  const std::string gif = "GIF89a\x01\x00\x01\x00\x80\x00\x00";
  EXPECT_EQ(decodeQuickly(Bytes(gif.begin(), gif.end())).message(), "unsupported image format");
  EXPECT_EQ(decodeQuickly(Bytes{}).message(), "the file is empty");

  // A PNG named .jpg loads: the name does not matter.
  const std::string pngJpg = tempDir() + "/really-a-png.jpg";
  writeFile(pngJpg, makeRgbPng(referencePicture()));
  EXPECT_TRUE(decodeImageFile(pngJpg, &d).ok());

  std::mt19937 rng(42);
  for (int i = 0; i < 50; ++i) {
    Bytes noise(1 + rng() % 2000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    EXPECT_FALSE(decodeQuickly(noise).ok());
  }
}

TEST(ImageIo, TruncatedPngsFail) {
  const Bytes png = makeRgbPng(randomPicture(20, 10, 9));
  for (size_t cut = 0; cut < png.size(); ++cut) {
    Status s = decodeQuickly(Bytes(png.begin(), png.begin() + cut));
    EXPECT_FALSE(s.ok()) << "cut at " << cut;
    EXPECT_FALSE(s.message().empty());
  }
}

TEST(ImageIo, PngWithIncompleteImageDataFails) {
  // Sound framing and checksums, but the compressed data stops half-way.
  const Picture p = randomPicture(20, 10, 4);
  Bytes raw;
  for (int y = 0; y < p.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < p.width; ++x) {
      const Rgb px = p.at(x, y);
      raw.insert(raw.end(), px.begin(), px.end());
    }
  }
  const Bytes z = zlibStored(raw);
  for (size_t keep : {size_t{2}, size_t{7}, z.size() / 2, z.size() - 4}) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    appendChunk(&png, "IHDR", pngHeader(20, 10, 8, 2));
    appendChunk(&png, "IDAT", Bytes(z.begin(), z.begin() + keep));
    appendChunk(&png, "IEND", {});
    EXPECT_FALSE(decodeQuickly(png).ok()) << "kept " << keep;
  }
  // No image data at all, and a missing IEND.
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  appendChunk(&png, "IHDR", pngHeader(20, 10, 8, 2));
  Bytes noIdat = png;
  appendChunk(&noIdat, "IEND", {});
  EXPECT_FALSE(decodeQuickly(noIdat).ok());
  appendChunk(&png, "IDAT", z);
  EXPECT_FALSE(decodeQuickly(png).ok());
}

TEST(ImageIo, PngWithAbsurdSizeIsRefusedBeforeDecoding) {
  for (auto [w, h] : std::vector<std::pair<uint32_t, uint32_t>>{{0x7FFFFFFF, 0x7FFFFFFF},
                                                                {0xFFFFFFFF, 1},
                                                                {1, 0x80000000u},
                                                                {100000, 100000},
                                                                {20000, 10000},
                                                                {0, 10},
                                                                {10, 0}}) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    appendChunk(&png, "IHDR", pngHeader(w, h, 8, 2));
    appendChunk(&png, "IDAT", zlibStored(Bytes(64, 0)));
    appendChunk(&png, "IEND", {});
    Status s = decodeQuickly(png);
    EXPECT_FALSE(s.ok()) << w << " x " << h;
    if (w == 100000 || w == 20000) {
      EXPECT_EQ(s.code(), StatusCode::kTooLarge);
      EXPECT_EQ(s.message().rfind("picture too large", 0), 0u) << s.message();
    }
  }
}

TEST(ImageIo, PaddedSizeLimit) {
  EXPECT_TRUE(fitsPaddedLimit(16384, 16384));  // exactly 2^28 once padded
  EXPECT_FALSE(fitsPaddedLimit(16385, 16384));
  EXPECT_TRUE(fitsPaddedLimit(1, int64_t{1} << 28));
  EXPECT_FALSE(fitsPaddedLimit(1, (int64_t{1} << 28) + 1));
  EXPECT_FALSE(fitsPaddedLimit(int64_t{1} << 40, 1));
}

TEST(ImageIo, HostileBmpsFail) {
  const Bytes bmp = makeBmp(randomPicture(7, 5, 8), BmpLayout());
  for (size_t cut = 0; cut < bmp.size(); ++cut) {
    Status s = decodeQuickly(Bytes(bmp.begin(), bmp.begin() + cut));
    EXPECT_FALSE(s.ok()) << "cut at " << cut;
  }
  auto withSize = [&bmp](int32_t w, int32_t h) {
    Bytes b = bmp;
    putLe32(&b, 18, static_cast<uint32_t>(w));
    putLe32(&b, 22, static_cast<uint32_t>(h));
    return b;
  };
  for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1 << 30, 1 << 30},
                                                              {100000, 100000},
                                                              {20000, -10000},
                                                              {0x7FFFFFFF, 1},
                                                              {1, INT32_MIN}}) {
    Status s = decodeQuickly(withSize(w, h));
    EXPECT_EQ(s.code(), StatusCode::kTooLarge) << w << " x " << h << ": " << s.message();
  }
  for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{
           {4000, 4000}, {0, 5}, {7, 0}, {-7, 5}, {9, 5}, {7, 6}}) {
    Status s = decodeQuickly(withSize(w, h));
    EXPECT_EQ(s.code(), StatusCode::kInvalidData) << w << " x " << h << ": " << s.message();
  }
  Bytes badOffset = bmp;
  putLe32(&badOffset, 10, 0xFFFFFF00u);
  EXPECT_FALSE(decodeQuickly(badOffset).ok());
  Bytes badHeader = bmp;
  putLe32(&badHeader, 14, 64);
  EXPECT_FALSE(decodeQuickly(badHeader).ok());
  Bytes badBits = bmp;
  putLe16(&badBits, 28, 7);
  EXPECT_FALSE(decodeQuickly(badBits).ok());
}

TEST(ImageIo, DamagedJpegsFailOrLoadWithoutHanging) {
  const Bytes jpeg = jpegFixture();
  ASSERT_FALSE(jpeg.empty());
  size_t sos = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      sos = i;
      break;
    }
  }
  ASSERT_GT(sos, 0u);
  for (size_t cut = 0; cut < jpeg.size(); ++cut) {
    Status s = decodeQuickly(Bytes(jpeg.begin(), jpeg.begin() + cut));
    // Cut inside the headers must fail; a cut in the scan may decode partly.
    if (cut <= sos) {
      EXPECT_FALSE(s.ok()) << "cut at " << cut;
    }
  }
  // A frame header with no rows.
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      Bytes zero = jpeg;
      zero[i + 5] = 0;
      zero[i + 6] = 0;
      EXPECT_FALSE(decodeQuickly(zero).ok());
      Bytes huge = jpeg;
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
      EXPECT_EQ(decodeQuickly(huge).code(), StatusCode::kTooLarge);
      break;
    }
  }
}

TEST(ImageIo, HostileTiffsFail) {
  const Bytes tiff = makeTiff(randomPicture(6, 4, 12));
  const size_t directoryEnd = 8 + 2 + 10 * 12 + 4;
  for (size_t cut = 0; cut < tiff.size(); ++cut) {
    Status s = decodeQuickly(Bytes(tiff.begin(), tiff.begin() + cut));
    // Cut in the header or directory must fail; a cut in the pixels may not.
    if (cut < directoryEnd) {
      EXPECT_FALSE(s.ok()) << "cut at " << cut;
    }
  }
  // Entry i of the first directory starts at 10 + 12 i; its value at + 8.
  auto withValue = [&tiff](int entry, uint32_t value) {
    Bytes b = tiff;
    for (int i = 0; i < 4; ++i) b[10 + 12 * entry + 8 + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
  };
  EXPECT_FALSE(decodeQuickly(withValue(5, 0x80000000u)).ok());  // strip far outside the file
  EXPECT_FALSE(decodeQuickly(withValue(2, 0xFFFFFFF0u)).ok());  // bits per sample outside
  EXPECT_EQ(decodeQuickly(withValue(0, 1u << 30)).code(), StatusCode::kTooLarge);
  EXPECT_FALSE(decodeQuickly(withValue(0, 1u << 20)).ok());  // far more pixels than data
  EXPECT_FALSE(decodeQuickly(withValue(1, 0)).ok());
  Bytes noColourModel = tiff;
  noColourModel[10 + 12 * 4] = 0x07;  // tag 262 becomes 263
  EXPECT_FALSE(decodeQuickly(noColourModel).ok());
  Bytes loop = tiff;
  loop[directoryEnd - 4] = 8;  // the next directory is the first one again
  EXPECT_FALSE(decodeQuickly(loop).ok());
}

// Recomputes the checksum of every chunk so mutations get past the framing
// checks and reach the decoder itself.
void fixPngChecksums(Bytes* png) {
  size_t pos = 8;
  while (pos + 12 <= png->size()) {
    const size_t length = (size_t{(*png)[pos]} << 24) | ((*png)[pos + 1] << 16) |
                          ((*png)[pos + 2] << 8) | (*png)[pos + 3];
    if (length > png->size() - pos - 12) return;
    const uint32_t crc = crc32Of(png->data() + pos + 4, length + 4);
    for (int i = 0; i < 4; ++i)
      (*png)[pos + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    pos += 12 + length;
  }
}

TEST(ImageIo, RandomMutationsNeverCrashOrHang) {
  const Picture p = randomPicture(12, 9, 21);
  WorkingImage image = imageWithOutput(p);
  Bytes deflatedPng;  // a PNG with real (compressed) image data
  ASSERT_TRUE(encodeOutput(image, ImageFormat::kPng, &deflatedPng).ok());
  BmpLayout palette;
  palette.bits = 8;
  const std::vector<Bytes> seeds = {
      makeRgbPng(p), deflatedPng, makeBmp(p, BmpLayout()), makeBmp(randomPicture(5, 3, 2), palette),
      jpegFixture(), makeTiff(p)};
  std::mt19937 rng(20240611);
  const auto start = std::chrono::steady_clock::now();
  int decoded = 0;
  runWithin(60, "the mutation loop", [&] {
    for (int i = 0; i < 5000; ++i) {
      const size_t which = i % seeds.size();
      Bytes b = seeds[which];
      const int edits = 1 + rng() % 6;
      for (int e = 0; e < edits; ++e) {
        switch (rng() % 5) {
          case 0:
            b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
          case 1:
            b[rng() % b.size()] = static_cast<uint8_t>(rng());
            break;
          case 2:
            b[rng() % b.size()] = (rng() % 2) ? 0xFF : 0x00;
            break;
          case 3:
            b.resize(1 + rng() % b.size());
            break;
          default:
            b.erase(b.begin() + rng() % b.size());
            if (b.empty()) b.push_back(0);
            break;
        }
      }
      if (which <= 1 && rng() % 4 != 0) fixPngChecksums(&b);
      DecodedImage d;
      Status s = decodeImage(b.data(), b.size(), &d);
      if (s.ok()) {
        ++decoded;
        ASSERT_EQ(d.rgb.size(), static_cast<size_t>(d.width) * d.height * 3);
      } else {
        ASSERT_FALSE(s.message().empty());
        ASSERT_TRUE(d.rgb.empty());
      }
    }
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 15.0);
  EXPECT_GT(decoded, 0);  // some mutations are harmless
}

// --- saving ------------------------------------------------------------------------

TEST(ImageIo, EncodedBmpAndPngRoundTripExactly) {
  for (auto [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {3, 2}, {5, 3}, {6, 7}, {17, 9}}) {
    const Picture p = randomPicture(w, h, static_cast<uint32_t>(w * 100 + h));
    WorkingImage image = imageWithOutput(p);
    // Pixels outside the picture must not leak into the file.
    for (size_t i = 0; i < image.outputDisplay.size(); ++i) {
      const size_t pixel = i / 3;
      if (static_cast<int>(pixel % image.paddedWidth) >= w ||
          static_cast<int>(pixel / image.paddedWidth) >= h) {
        image.outputDisplay[i] = 7;
      }
    }
    for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPng}) {
      Bytes file;
      ASSERT_TRUE(encodeOutput(image, format, &file).ok());
      DecodedImage d;
      Status s = decodeBytes(file, &d);
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(d.width, w);
      EXPECT_EQ(d.height, h);
      EXPECT_EQ(d.rgb, bottomFirstRgb(p)) << w << " x " << h;
    }
  }
}

TEST(ImageIo, EncodedBmpIsAPlainBottomUpBmp) {
  const Picture p = randomPicture(5, 3, 77);
  WorkingImage image = imageWithOutput(p);
  Bytes bmp;
  ASSERT_TRUE(encodeOutput(image, ImageFormat::kBmp, &bmp).ok());
  ASSERT_GE(bmp.size(), 54u);
  auto le32 = [&bmp](size_t at) {
    return uint32_t{bmp[at]} | (uint32_t{bmp[at + 1]} << 8) | (uint32_t{bmp[at + 2]} << 16) |
           (uint32_t{bmp[at + 3]} << 24);
  };
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(le32(14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(static_cast<int32_t>(le32(18)), 5);
  EXPECT_EQ(static_cast<int32_t>(le32(22)), 3);  // positive: bottom-up
  EXPECT_EQ(bmp[28], 24);
  EXPECT_EQ(le32(30), 0u);  // BI_RGB
  const size_t offset = le32(10);
  const size_t rowBytes = 16;  // 5 * 3 = 15, padded to a multiple of 4
  ASSERT_EQ(bmp.size(), offset + rowBytes * 3);
  // The first row in the file is the bottom row of the picture, in B, G, R.
  for (int x = 0; x < 5; ++x) {
    const Rgb px = p.at(x, 2);
    EXPECT_EQ(bmp[offset + 3 * x], px[2]);
    EXPECT_EQ(bmp[offset + 3 * x + 1], px[1]);
    EXPECT_EQ(bmp[offset + 3 * x + 2], px[0]);
  }
}

TEST(ImageIo, BmpExtensionRule) {
  auto apply = [](std::string path) {
    EXPECT_TRUE(applyBmpExtensionRule(&path));
    return path;
  };
  EXPECT_EQ(apply("result"), "result.bmp");
  EXPECT_EQ(apply("result.Bmp"), "result.Bmp.bmp");
  EXPECT_EQ(apply("result.png"), "result.png.bmp");
  EXPECT_EQ(apply("a.bmp.png"), "a.bmp.png");
  EXPECT_EQ(apply("A.BMP"), "A.BMP");
  EXPECT_EQ(apply("dir.bmp/result"), "dir.bmp/result");
  EXPECT_EQ(apply(""), ".bmp");

  std::string fits(251, 'x');  // 251 + 4 = 255 bytes
  EXPECT_TRUE(applyBmpExtensionRule(&fits));
  EXPECT_EQ(fits.size(), 255u);
  std::string tooLong(252, 'x');
  EXPECT_FALSE(applyBmpExtensionRule(&tooLong));
  EXPECT_EQ(tooLong, std::string(252, 'x'));
}

TEST(ImageIo, SaveOutputChoosesFormatFromTheExtension) {
  const Picture p = randomPicture(7, 5, 13);
  WorkingImage image = imageWithOutput(p);
  const std::string dir = tempDir() + "/save";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);

  std::string path = dir + "/result";
  ASSERT_TRUE(saveOutput(image, &path).ok());
  EXPECT_EQ(path, dir + "/result.bmp");
  Bytes file = readFile(path);
  ASSERT_GE(file.size(), 2u);
  EXPECT_EQ(file[0], 'B');
  DecodedImage d;
  ASSERT_TRUE(decodeImageFile(path, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));

  path = dir + "/a.bmp.PNG";
  ASSERT_TRUE(saveOutput(image, &path).ok());
  EXPECT_EQ(path, dir + "/a.bmp.PNG");
  file = readFile(path);
  ASSERT_GE(file.size(), 8u);
  EXPECT_EQ(file[1], 'P');
  ASSERT_TRUE(decodeImageFile(path, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(p));

  // Saving again over the same file is allowed.
  ASSERT_TRUE(saveOutput(image, &path).ok());

  path = dir + "/a.bmp.tga";
  Status s = saveOutput(image, &path);
  EXPECT_EQ(s.message(), "unsupported output format");
  EXPECT_FALSE(exists(path));

  std::string longPath = dir + "/" + std::string(253 - dir.size() - 1, 'x');
  ASSERT_EQ(longPath.size(), 253u);
  const std::string before = longPath;
  s = saveOutput(image, &longPath);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(longPath, before);

  // Nothing loaded: nothing happens.
  WorkingImage empty;
  path = dir + "/nothing";
  EXPECT_TRUE(saveOutput(empty, &path).ok());
  EXPECT_EQ(path, dir + "/nothing");
  EXPECT_FALSE(exists(path + ".bmp"));
}

TEST(ImageIo, AtomicWriteKeepsOldFileOnFailure) {
  const std::string dir = tempDir() + "/atomic";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  const std::string target = dir + "/keep.bmp";
  const Bytes old = {'o', 'l', 'd'};
  writeFile(target, old);

  // overwrite = false refuses an existing file and leaves it alone.
  Status s = writeFileAtomically(target, {'n', 'e', 'w'}, false);
  EXPECT_EQ(s.message(), "file exists");
  EXPECT_EQ(readFile(target), old);

  // A folder in the way of the target: the rename fails, nothing is left over.
  const std::string folderTarget = dir + "/folder.bmp";
  ASSERT_EQ(mkdir(folderTarget.c_str(), 0777), 0);
  const int before = entriesIn(dir);
  s = writeFileAtomically(folderTarget, {'n', 'e', 'w'}, true);
  EXPECT_FALSE(s.ok());
  EXPECT_FALSE(s.message().empty());
  EXPECT_EQ(entriesIn(dir), before);

  // A folder that does not exist.
  s = writeFileAtomically(dir + "/no/such/folder/x.bmp", {'n'}, true);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.message().rfind("cannot create file: ", 0), 0u) << s.message();

  // Saving a picture into a missing folder reports and writes nothing.
  WorkingImage image = imageWithOutput(referencePicture());
  EXPECT_FALSE(savePicture(image, dir + "/missing/out.bmp", ImageFormat::kBmp, true).ok());

  // A successful overwrite replaces the content; the mode follows the umask.
  ASSERT_TRUE(writeFileAtomically(target, {'n', 'e', 'w'}, true).ok());
  EXPECT_EQ(readFile(target), (Bytes{'n', 'e', 'w'}));
  const mode_t mask = umask(022);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(entriesIn(dir), before);

  // overwrite = false creates a file that does not exist yet.
  const std::string fresh = dir + "/fresh.png";
  ASSERT_TRUE(savePicture(image, fresh, ImageFormat::kPng, false).ok());
  DecodedImage d;
  ASSERT_TRUE(decodeImageFile(fresh, &d).ok());
  EXPECT_EQ(d.rgb, bottomFirstRgb(referencePicture()));
}

}  // namespace
}  // namespace nubo

namespace nubo {
namespace {

TEST(ImageIo, OwnBmpWriterGivesTheImageLibrarysBytes) {
  // Every row padding (widths 1..9) and a few heights, random pixels.
  std::mt19937 rng(7);
  for (int width = 1; width <= 9; ++width) {
    for (int height : {1, 2, 3, 17}) {
      Bytes pixels(static_cast<size_t>(width) * height * 3);
      for (uint8_t& v : pixels) v = static_cast<uint8_t>(rng());
      WorkingImage image;
      ASSERT_TRUE(fillDisplayBuffers(pixels.data(), width, height, &image));
      image.outputDisplay = image.inputDisplay;
      Bytes ours, library;
      ASSERT_TRUE(encodeOutput(image, ImageFormat::kBmp, &ours).ok());
      ASSERT_TRUE(encodePixels(pixels.data(), width, height, ImageFormat::kBmp, &library).ok());
      ASSERT_EQ(ours, library) << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace nubo
