// Tests of decoding and encoding: orientation and channel order for every
// supported layout, exact round trips, hostile and damaged files (which must
// fail quickly with a reason).
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

#include "engine/rgb_rows.h"
#include "engine/thread_pool.h"
#include "gtest/gtest.h"
#include "imageio/image_check.h"
#include "imageio/image_io.h"
#include "tests/test_image_files.h"

namespace nubo {
namespace {
using namespace test_files;

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
  const Bytes rgb = bottomFirstRgb(p);
  Bytes deflatedPng;  // a PNG with real (compressed) image data
  ASSERT_TRUE(encodeOutput(bottomFirstRows(rgb.data(), p.width, p.height), p.width, p.height,
                           ImageFormat::kPng, &deflatedPng)
                  .ok());
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
    // The rows in a wider buffer, bottom row first, with more rows than the
    // picture: pixels outside the picture must not leak into the file.
    const int bufferWidth = w + 3;
    const Bytes rgb = bottomFirstRgb(p);
    Bytes buffer(static_cast<size_t>(bufferWidth) * (h + 2) * 3, 7);
    for (int r = 0; r < h; ++r) {
      std::copy_n(rgb.begin() + static_cast<ptrdiff_t>(r) * w * 3, w * 3,
                  buffer.begin() + static_cast<ptrdiff_t>(r) * bufferWidth * 3);
    }
    const RgbRows rows{buffer.data() + static_cast<size_t>(h - 1) * bufferWidth * 3,
                       -static_cast<ptrdiff_t>(bufferWidth) * 3, false};
    for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPng}) {
      Bytes file;
      ASSERT_TRUE(encodeOutput(rows, w, h, format, &file).ok());
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
  const Bytes rgb = bottomFirstRgb(p);
  Bytes bmp;
  ASSERT_TRUE(encodeOutput(bottomFirstRows(rgb.data(), p.width, p.height), p.width, p.height,
                           ImageFormat::kBmp, &bmp)
                  .ok());
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
      Bytes ours, library;
      ASSERT_TRUE(encodeOutput(bottomFirstRows(pixels.data(), width, height), width, height,
                               ImageFormat::kBmp, &ours)
                      .ok());
      ASSERT_TRUE(encodePixels(pixels.data(), width, height, ImageFormat::kBmp, &library).ok());
      ASSERT_EQ(ours, library) << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace nubo
