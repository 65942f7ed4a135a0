// Small picture files made in memory (BMP, PNG, TIFF by hand), a scratch
// folder and file helpers, for the tests of decoding and of the load and save
// commands.
#ifndef NUBO_TESTS_TEST_IMAGE_FILES_H_
#define NUBO_TESTS_TEST_IMAGE_FILES_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdint>
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
#include <utility>
#include <vector>

#include "imageio/image_io.h"

namespace nubo {
namespace test_files {

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
inline Picture referencePicture() {
  return {3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}, {40, 50, 60}, {70, 80, 90}}};
}

inline Picture randomPicture(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p{width, height, std::vector<Rgb>(static_cast<size_t>(width) * height)};
  for (Rgb& px : p.topFirst) {
    for (uint8_t& ch : px) ch = static_cast<uint8_t>(rng());
  }
  return p;
}

// The picture as decodeImage returns it: bottom row first, R, G, B.
inline Bytes bottomFirstRgb(const Picture& p) {
  Bytes out;
  for (int y = p.height - 1; y >= 0; --y) {
    for (int x = 0; x < p.width; ++x) {
      const Rgb px = p.at(x, y);
      out.insert(out.end(), px.begin(), px.end());
    }
  }
  return out;
}

inline void putLe16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void appendBe32(Bytes* b, uint32_t v) {
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
inline Bytes makeBmp(const Picture& p, const BmpLayout& layout) {
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

inline uint32_t crc32Of(const uint8_t* data, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

inline void appendChunk(Bytes* png, const char* type, const Bytes& body) {
  appendBe32(png, static_cast<uint32_t>(body.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), body.begin(), body.end());
  appendBe32(png, crc32Of(png->data() + start, png->size() - start));
}

// A zlib stream holding raw in stored (uncompressed) blocks.
inline Bytes zlibStored(const Bytes& raw) {
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

inline Bytes pngHeader(uint32_t width, uint32_t height, int depth, int colourType) {
  Bytes ihdr;
  appendBe32(&ihdr, width);
  appendBe32(&ihdr, height);
  ihdr.push_back(static_cast<uint8_t>(depth));
  ihdr.push_back(static_cast<uint8_t>(colourType));
  ihdr.insert(ihdr.end(), {0, 0, 0});
  return ihdr;
}

// A PNG from rows (top first, packed samples, no filter byte).
inline Bytes makePng(int width, int depth, int colourType, const std::vector<Bytes>& rows,
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

inline Bytes makeRgbPng(const Picture& p) {
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

inline Bytes makeTiff(const Picture& p) {
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

inline Status decodeBytes(const Bytes& bytes, DecodedImage* out) {
  return decodeImage(bytes.data(), bytes.size(), out);
}

// Runs work in another thread and ends the whole program unless it returns
// within the given time: a hung decoder holds the DevIL lock, so nothing
// after it could run anyway.
inline void runWithin(int seconds, const char* what, std::function<void()> work) {
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
inline Status decodeQuickly(const Bytes& bytes, DecodedImage* out = nullptr) {
  auto result = std::make_shared<std::pair<Status, DecodedImage>>();
  runWithin(5, "decodeImage", [&bytes, result] {
    result->first = decodeImage(bytes.data(), bytes.size(), &result->second);
  });
  if (out != nullptr) *out = std::move(result->second);
  return result->first;
}

// A fresh folder for the files of this test program, removed at exit.
inline const std::string& tempDir() {
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

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << path;
}

inline Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Number of entries in a folder, to spot left-over temporary files.
inline int entriesIn(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

inline Bytes jpegFixture() {
  return readFile(std::string(NUBO_SOURCE_DIR) + "/tests/data/imageio/top_red_bottom_blue.jpg");
}

}  // namespace test_files
}  // namespace nubo

#endif  // NUBO_TESTS_TEST_IMAGE_FILES_H_
