// Tests of PNG output: the pixels read back equal the BMP of the same picture,
// grey pictures become grey files, the ICC profile, EXIF and XMP travel in
// their chunks and nothing else does, and bad metadata never costs the picture.
// Files are read back with libpng itself, independent of the program's decoder.
#include "imageio/png_write.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/thread_pool.h"
#include "gtest/gtest.h"
#include "imageio/image_io.h"
#include "tests/test_codebooks.h"
#include "tools/clean_run.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;

// What libpng finds in a PNG file.
struct ReadPng {
  bool ok = false;
  std::string error;
  int width = 0, height = 0, colourType = -1, bitDepth = 0;
  Bytes topFirst;  // rows as stored: 1 or 3 bytes a pixel
  bool hasIcc = false;
  std::string iccName;
  Bytes icc;
  bool hasExif = false;
  Bytes exif;
  struct Text {
    int compression;
    std::string key, text;
  };
  std::vector<Text> texts;
};

struct ReadSource {
  const Bytes* file;
  size_t at;
  char error[200];
};

void onReadError(png_structp png, png_const_charp text) {
  auto* src = static_cast<ReadSource*>(png_get_error_ptr(png));
  std::snprintf(src->error, sizeof src->error, "%s", text);
  png_longjmp(png, 1);
}
void onReadWarning(png_structp, png_const_charp) {}
void onRead(png_structp png, png_bytep data, size_t size) {
  auto* src = static_cast<ReadSource*>(png_get_io_ptr(png));
  if (size > src->file->size() - src->at) png_error(png, "file ends early");
  std::memcpy(data, src->file->data() + src->at, size);
  src->at += size;
}

// libpng's reading, confined here because of its longjmp: fills *r (its
// vectors sized before the jump can happen).
bool readPngInto(ReadSource* src, ReadPng* r) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, src, onReadError, onReadWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, src, onRead);
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  r->width = static_cast<int>(png_get_image_width(png, info));
  r->height = static_cast<int>(png_get_image_height(png, info));
  r->colourType = png_get_color_type(png, info);
  r->bitDepth = png_get_bit_depth(png, info);
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLength = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength)) {
    r->hasIcc = true;
    r->iccName = name;
    r->icc.assign(profile, profile + profileLength);
  }
  png_bytep exif = nullptr;
  png_uint_32 exifLength = 0;
  if (png_get_eXIf_1(png, info, &exifLength, &exif)) {
    r->hasExif = true;
    r->exif.assign(exif, exif + exifLength);
  }
  png_textp texts = nullptr;
  int count = 0;
  png_get_text(png, info, &texts, &count);
  for (int i = 0; i < count; ++i) {
    const size_t length = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE ? texts[i].itxt_length
                                                                            : texts[i].text_length;
    r->texts.push_back({texts[i].compression, texts[i].key, std::string(texts[i].text, length)});
  }
  const size_t rowBytes = png_get_rowbytes(png, info);
  r->topFirst.resize(rowBytes * r->height);
  for (int y = 0; y < r->height; ++y) png_read_row(png, r->topFirst.data() + rowBytes * y, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

ReadPng readPng(const Bytes& file) {
  ReadPng r;
  ReadSource src{&file, 0, {}};
  r.ok = readPngInto(&src, &r);
  r.error = src.error;
  return r;
}

// The chunk types of a PNG file, in order.
std::vector<std::string> chunkTypes(const Bytes& png) {
  std::vector<std::string> types;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const size_t length = (size_t{png[at]} << 24) | (size_t{png[at + 1]} << 16) |
                          (size_t{png[at + 2]} << 8) | png[at + 3];
    types.emplace_back(reinterpret_cast<const char*>(png.data() + at + 4), 4);
    at += 12 + length;
  }
  return types;
}

// The ancillary chunks of a file (everything but IHDR, IDAT, IEND).
std::vector<std::string> ancillaryChunks(const Bytes& png) {
  std::vector<std::string> out;
  for (const std::string& t : chunkTypes(png)) {
    if (t != "IHDR" && t != "IDAT" && t != "IEND") out.push_back(t);
  }
  return out;
}

// Random R, G, B pixels, bottom row first as encodePixels takes them; grey
// pictures have R = G = B everywhere.
Bytes randomPixels(int width, int height, uint32_t seed, bool grey) {
  std::mt19937 rng(seed);
  Bytes p(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < p.size(); i += 3) {
    p[i] = static_cast<uint8_t>(rng());
    p[i + 1] = grey ? p[i] : static_cast<uint8_t>(rng());
    p[i + 2] = grey ? p[i] : static_cast<uint8_t>(rng());
  }
  return p;
}

// The pixels of a read PNG as R, G, B, bottom row first.
Bytes bottomFirstRgb(const ReadPng& r) {
  const int channels = r.colourType == PNG_COLOR_TYPE_GRAY ? 1 : 3;
  Bytes out;
  for (int y = r.height - 1; y >= 0; --y) {
    for (int x = 0; x < r.width; ++x) {
      const uint8_t* px = r.topFirst.data() + (static_cast<size_t>(y) * r.width + x) * channels;
      for (int k = 0; k < 3; ++k) out.push_back(px[channels == 1 ? 0 : k]);
    }
  }
  return out;
}

void putBe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A small but well-formed ICC profile (display class, XYZ connection space,
// D50 illuminant) for the colour space "RGB " or "GRAY", with one text tag.
Bytes makeIcc(const char* colourSpace) {
  const std::string note = "Nubo test profile";
  const size_t tagAt = 128 + 4 + 12;
  Bytes icc(tagAt + 8 + (note.size() + 1 + 3) / 4 * 4, 0);
  putBe32(&icc, 0, static_cast<uint32_t>(icc.size()));
  putBe32(&icc, 8, 0x02100000);  // version 2.1
  std::memcpy(&icc[12], "mntr", 4);
  std::memcpy(&icc[16], colourSpace, 4);
  std::memcpy(&icc[20], "XYZ ", 4);
  std::memcpy(&icc[36], "acsp", 4);
  putBe32(&icc, 68, 0x0000F6D6);  // D50 as s15.16: 0.9642, 1.0, 0.8249
  putBe32(&icc, 72, 0x00010000);
  putBe32(&icc, 76, 0x0000D32D);
  putBe32(&icc, 128, 1);  // one tag: the copyright text
  std::memcpy(&icc[132], "cprt", 4);
  putBe32(&icc, 136, static_cast<uint32_t>(tagAt));
  putBe32(&icc, 140, static_cast<uint32_t>(8 + note.size() + 1));
  std::memcpy(&icc[tagAt], "text", 4);
  std::memcpy(&icc[tagAt + 8], note.data(), note.size());
  return icc;
}

// EXIF as a TIFF structure: one directory with the orientation (1).
Bytes makeExif() {
  return {'I',  'I',  42, 0, 8, 0, 0, 0,              // header, directory at 8
          1,    0,                                    // one entry
          0x12, 0x01, 3,  0, 1, 0, 0, 0, 1, 0, 0, 0,  // 0x0112 Orientation, SHORT, 1 value: 1
          0,    0,    0,  0};                         // no next directory
}

const char kXmp[] =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"image/jpeg\"/>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

ImageMetadata fullMetadata(const char* colourSpace) {
  ImageMetadata m;
  m.icc = makeIcc(colourSpace);
  m.exif = makeExif();
  m.xmp = kXmp;
  return m;
}

Bytes encode(const Bytes& pixels, int width, int height, const ImageMetadata& m = ImageMetadata()) {
  Bytes png;
  const Status s = encodePixels(pixels.data(), width, height, ImageFormat::kPng, &png, m);
  EXPECT_TRUE(s.ok()) << s.message();
  return png;
}

TEST(PngWrite, PixelsReadBackEqualTheBmpOfTheSamePicture) {
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 5},  {7, 1},  {3, 2},
                                                  {5, 3}, {17, 9}, {33, 4}, {64, 3}};
  for (bool grey : {false, true}) {
    for (auto [w, h] : sizes) {
      const Bytes pixels = randomPixels(w, h, static_cast<uint32_t>(w * 1000 + h), grey);
      const Bytes png = encode(pixels, w, h);
      Bytes bmp;
      ASSERT_TRUE(encodePixels(pixels.data(), w, h, ImageFormat::kBmp, &bmp).ok());
      // libpng reads back exactly the pixels given ...
      const ReadPng r = readPng(png);
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.width, w);
      EXPECT_EQ(r.height, h);
      EXPECT_EQ(r.bitDepth, 8);
      EXPECT_EQ(bottomFirstRgb(r), pixels) << w << " x " << h << (grey ? " grey" : "");
      // ... and the program's own decoder reads the PNG as it reads the BMP.
      DecodedImage fromPng, fromBmp;
      ASSERT_TRUE(decodeImage(png.data(), png.size(), &fromPng).ok());
      ASSERT_TRUE(decodeImage(bmp.data(), bmp.size(), &fromBmp).ok());
      EXPECT_EQ(fromPng.rgb, fromBmp.rgb) << w << " x " << h;
      EXPECT_EQ(fromPng.rgb, pixels);
    }
  }
}

TEST(PngWrite, BandsJoinIntoOneStreamAndTheBytesDoNotDependOnThePool) {
  // Pictures of several compressed bands (about 2 MiB of rows each): narrow
  // rows, rows wider than deflate's 32 KiB window, grey and colour.
  ThreadPool one(1), three(3);
  struct Case {
    int width, height;
    bool grey;
  };
  for (const Case& c : {Case{1500, 1000, false}, Case{3000, 1500, true}, Case{20000, 120, false},
                        Case{40000, 70, true}}) {
    // Smooth gradients with noise, so that rows compress and refer back.
    std::mt19937 rng(static_cast<uint32_t>(c.width));
    Bytes pixels(static_cast<size_t>(c.width) * c.height * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
      const size_t x = i / 3 % c.width, y = i / 3 / c.width;
      pixels[i] = static_cast<uint8_t>(x / 7 + y / 3 + rng() % 4);
      pixels[i + 1] = c.grey ? pixels[i] : static_cast<uint8_t>(x / 5 + rng() % 3);
      pixels[i + 2] = c.grey ? pixels[i] : static_cast<uint8_t>(y + rng() % 2);
    }
    const uint8_t* top = pixels.data() + (c.height - 1) * size_t{3} * c.width;
    const ptrdiff_t stride = -3 * static_cast<ptrdiff_t>(c.width);
    Bytes alone, byOne, byThree;
    ASSERT_TRUE(encodePng(top, stride, c.width, c.height, ImageMetadata(), &alone).ok());
    ASSERT_TRUE(encodePng(top, stride, c.width, c.height, ImageMetadata(), &byOne, &one).ok());
    ASSERT_TRUE(encodePng(top, stride, c.width, c.height, ImageMetadata(), &byThree, &three).ok());
    EXPECT_EQ(byOne, alone) << c.width;
    EXPECT_EQ(byThree, alone) << c.width;
    const ReadPng r = readPng(alone);  // libpng checks the stream and its adler32
    ASSERT_TRUE(r.ok) << c.width << ": " << r.error;
    EXPECT_EQ(r.colourType, c.grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(bottomFirstRgb(r), pixels) << c.width;
    // Many IDAT chunks, then IEND; the data compresses.
    const std::vector<std::string> types = chunkTypes(alone);
    EXPECT_GT(std::count(types.begin(), types.end(), "IDAT"), 1);
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_LT(alone.size(), pixels.size() / (c.grey ? 3 : 1) * 3 / 4);
  }
}

TEST(PngWrite, GreyPicturesBecomeGreyFilesAndOneColouredPixelMakesRgb) {
  Bytes pixels = randomPixels(9, 5, 3, /*grey=*/true);
  EXPECT_EQ(readPng(encode(pixels, 9, 5)).colourType, PNG_COLOR_TYPE_GRAY);
  EXPECT_TRUE(isGreyPicture(pixels.data(), 27, 9, 5));
  // A single pixel with one channel off, first or last in the buffer, or in
  // any channel, makes the file RGB.
  for (size_t at : {size_t{0}, size_t{1}, size_t{2}, pixels.size() / 2, pixels.size() - 1}) {
    Bytes tinted = pixels;
    tinted[at] ^= 1;
    const ReadPng r = readPng(encode(tinted, 9, 5));
    EXPECT_EQ(r.colourType, PNG_COLOR_TYPE_RGB) << at;
    EXPECT_EQ(bottomFirstRgb(r), tinted);
  }
  EXPECT_EQ(readPng(encode(randomPixels(4, 4, 8, false), 4, 4)).colourType, PNG_COLOR_TYPE_RGB);
}

TEST(PngWrite, OnlyTheImageChunksWithoutMetadata) {
  // No text chunks of any kind (the image library used to write empty
  // "Author" and "Description" ones), no time, gamma or colour chunks.
  const Bytes png = encode(randomPixels(6, 4, 1, false), 6, 4);
  EXPECT_EQ(chunkTypes(png).front(), "IHDR");
  EXPECT_EQ(chunkTypes(png).back(), "IEND");
  EXPECT_TRUE(ancillaryChunks(png).empty());
  EXPECT_TRUE(readPng(png).texts.empty());
}

TEST(PngWrite, ProfileExifAndXmpTravelInTheirChunks) {
  for (bool grey : {false, true}) {
    const ImageMetadata m = fullMetadata(grey ? "GRAY" : "RGB ");
    const Bytes pixels = randomPixels(10, 7, 5, grey);
    const Bytes png = encode(pixels, 10, 7, m);
    const ReadPng r = readPng(png);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.colourType, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB);
    ASSERT_TRUE(r.hasIcc);
    EXPECT_EQ(r.icc, m.icc);
    EXPECT_EQ(r.iccName, "ICC profile");
    ASSERT_TRUE(r.hasExif);
    EXPECT_EQ(r.exif, m.exif);
    ASSERT_EQ(r.texts.size(), 1u);
    EXPECT_EQ(r.texts[0].compression, PNG_ITXT_COMPRESSION_NONE);
    EXPECT_EQ(r.texts[0].key, "XML:com.adobe.xmp");
    EXPECT_EQ(r.texts[0].text, m.xmp);
    EXPECT_EQ(bottomFirstRgb(r), pixels);
    // Exactly these three, once each, before the image data; no tEXt, zTXt,
    // other iTXt, nor sRGB/gAMA/cHRM derived from the profile.
    std::vector<std::string> extra = ancillaryChunks(png);
    std::sort(extra.begin(), extra.end());
    EXPECT_EQ(extra, (std::vector<std::string>{"eXIf", "iCCP", "iTXt"}));
    const std::vector<std::string> all = chunkTypes(png);
    const size_t firstIdat = std::find(all.begin(), all.end(), "IDAT") - all.begin();
    for (const char* t : {"eXIf", "iCCP", "iTXt"}) {
      EXPECT_LT(std::find(all.begin(), all.end(), t) - all.begin(), firstIdat) << t;
    }
  }
}

TEST(PngWrite, EachPieceOfMetadataAlone) {
  const Bytes pixels = randomPixels(3, 3, 9, false);
  const ImageMetadata all = fullMetadata("RGB ");
  ImageMetadata onlyIcc, onlyExif, onlyXmp;
  onlyIcc.icc = all.icc;
  onlyExif.exif = all.exif;
  onlyXmp.xmp = all.xmp;
  EXPECT_EQ(ancillaryChunks(encode(pixels, 3, 3, onlyIcc)), std::vector<std::string>{"iCCP"});
  EXPECT_EQ(ancillaryChunks(encode(pixels, 3, 3, onlyExif)), std::vector<std::string>{"eXIf"});
  EXPECT_EQ(ancillaryChunks(encode(pixels, 3, 3, onlyXmp)), std::vector<std::string>{"iTXt"});
  // Big-endian EXIF is as welcome as little-endian.
  ImageMetadata motorola;
  motorola.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(readPng(encode(pixels, 3, 3, motorola)).exif, motorola.exif);
}

TEST(PngWrite, BadProfilesAreDroppedAndThePictureKept) {
  const Bytes good = makeIcc("RGB ");
  std::vector<std::pair<std::string, Bytes>> bad;
  bad.push_back({"too short", Bytes(good.begin(), good.begin() + 100)});
  Bytes b = good;
  b.resize(good.size() - 4);  // the header's length no longer matches
  bad.push_back({"cut", b});
  b = good;
  putBe32(&b, 0, 1u << 30);
  bad.push_back({"length beyond the data", b});
  b = good;
  std::memcpy(&b[36], "xxxx", 4);
  bad.push_back({"no signature", b});
  b = good;
  putBe32(&b, 64, 7);
  bad.push_back({"rendering intent", b});
  b = good;
  putBe32(&b, 128, 0x01000000);
  bad.push_back({"tag count", b});
  b = good;
  putBe32(&b, 136, 0x7ffffff0);
  bad.push_back({"tag outside the profile", b});
  b = good;
  std::memcpy(&b[20], "CMYK", 4);
  bad.push_back({"connection space", b});
  bad.push_back({"a grey profile for a colour picture", makeIcc("GRAY")});
  bad.push_back({"a CMYK profile", makeIcc("CMYK")});
  std::mt19937 rng(4);
  Bytes noise(600);
  for (uint8_t& v : noise) v = static_cast<uint8_t>(rng());
  bad.push_back({"noise", noise});

  const Bytes pixels = randomPixels(5, 4, 2, false);
  for (const auto& [what, icc] : bad) {
    ImageMetadata m = fullMetadata("RGB ");
    m.icc = icc;
    Bytes png;
    const Status s = encodePixels(pixels.data(), 5, 4, ImageFormat::kPng, &png, m);
    ASSERT_TRUE(s.ok()) << what << ": " << s.message();
    const ReadPng r = readPng(png);
    ASSERT_TRUE(r.ok) << what << ": " << r.error;
    EXPECT_FALSE(r.hasIcc) << what;
    EXPECT_EQ(bottomFirstRgb(r), pixels) << what;
    EXPECT_EQ(r.exif, m.exif) << what;  // the rest still travels
    EXPECT_EQ(r.texts.size(), 1u) << what;
  }
}

TEST(PngWrite, MutatedProfilesNeverFailTheSave) {
  // Random damage to a good profile, its length field mostly kept so that the
  // damage reaches libpng's deeper checks (header fields, tag table).
  const Bytes good = makeIcc("RGB ");
  const Bytes pixels = randomPixels(4, 3, 8, false);
  std::mt19937 rng(99);
  int kept = 0;
  for (int i = 0; i < 400; ++i) {
    ImageMetadata m;
    m.icc = good;
    m.exif = makeExif();
    for (int e = 1 + rng() % 4; e > 0; --e) {
      m.icc[rng() % m.icc.size()] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 != 0) putBe32(&m.icc, 0, static_cast<uint32_t>(m.icc.size()));
    Bytes png;
    const Status s = encodePixels(pixels.data(), 4, 3, ImageFormat::kPng, &png, m);
    ASSERT_TRUE(s.ok()) << i << ": " << s.message();
    const ReadPng r = readPng(png);
    ASSERT_TRUE(r.ok) << i << ": " << r.error;
    ASSERT_EQ(bottomFirstRgb(r), pixels) << i;
    ASSERT_EQ(r.exif, m.exif) << i;  // a bad profile costs only itself
    if (r.hasIcc) {
      ASSERT_EQ(r.icc, m.icc) << i;  // carried whole or not at all
      ++kept;
    }
  }
  EXPECT_GT(kept, 0);  // harmless damage (in the text tag, say) keeps the profile
}

TEST(PngWrite, GreyPictureWithAnRgbProfileStaysRgbToKeepIt) {
  // A grey file cannot carry an RGB profile: the picture is written as RGB
  // (the same pixels) rather than lose its profile.
  const Bytes pixels = randomPixels(6, 6, 12, true);
  const ImageMetadata m = fullMetadata("RGB ");
  const ReadPng r = readPng(encode(pixels, 6, 6, m));
  EXPECT_EQ(r.colourType, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(r.icc, m.icc);
  EXPECT_EQ(bottomFirstRgb(r), pixels);
}

TEST(PngWrite, ExifAndXmpThatCannotMakeTheirChunksAreLeftOut) {
  const Bytes pixels = randomPixels(2, 2, 6, false);
  for (const Bytes& exif : {Bytes{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0},
                            Bytes{'I', 'I', 42}, Bytes{'M', 'M', 42, 0, 0, 0, 0, 8}}) {
    ImageMetadata m;
    m.exif = exif;
    EXPECT_TRUE(ancillaryChunks(encode(pixels, 2, 2, m)).empty());
  }
  ImageMetadata m;
  m.xmp = std::string("<x:xmpmeta>\0</x:xmpmeta>", 24);  // a NUL inside
  EXPECT_TRUE(ancillaryChunks(encode(pixels, 2, 2, m)).empty());
  m.xmp = std::string(kXmp) + std::string(3, '\0');  // NUL padding at the end is cut
  const ReadPng r = readPng(encode(pixels, 2, 2, m));
  ASSERT_EQ(r.texts.size(), 1u);
  EXPECT_EQ(r.texts[0].text, kXmp);
}

TEST(PngWrite, SidesBeyondAMillionPixels) {
  // PNG allows sides up to 2^31 - 1; libpng's own default limit is 10^6.
  const int w = 1100000;
  const Bytes pixels = randomPixels(w, 1, 13, false);
  const ReadPng r = readPng(encode(pixels, w, 1));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.width, w);
  EXPECT_EQ(bottomFirstRgb(r), pixels);
}

TEST(PngWrite, SavedFileCarriesTheMetadataOfTheSaveCall) {
  // The path the window and nubo-clean save through: rows in memory.
  const Bytes pixels = randomPixels(5, 3, 21, false);
  const RgbRows rows = bottomFirstRows(pixels.data(), 5, 3);
  Bytes png;
  const ImageMetadata m = fullMetadata("RGB ");
  ASSERT_TRUE(encodeOutput(rows, 5, 3, ImageFormat::kPng, &png, m).ok());
  const ReadPng r = readPng(png);
  EXPECT_EQ(bottomFirstRgb(r), pixels);
  EXPECT_EQ(r.icc, m.icc);
  EXPECT_EQ(r.exif, m.exif);
  // The window's save and nubo-clean's run give the same bytes.
  EXPECT_EQ(png, encode(pixels, 5, 3, m));
  // The BMP of the same call carries none of it: exactly header and pixels.
  Bytes bmp;
  ASSERT_TRUE(encodeOutput(rows, 5, 3, ImageFormat::kBmp, &bmp, m).ok());
  EXPECT_EQ(bmp.size(), kBmpHeaderBytes + bmpRowBytes(5) * 3);
}

TEST(PngWrite, CleanRunWritesThePixelsOfItsBmpAndTheMetadata) {
  // nubo-clean's path: the picture cleaned band by band, then encoded.
  const Codebook cb = testing::codebookOf(testing::randomTree(3, 6, 11));
  ThreadPool pool(2);
  char dirTemplate[] = "/tmp/nubo-png-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const int w = 37, h = 29;
  const Bytes input = randomPixels(w, h, 31, false);
  const ImageMetadata m = fullMetadata("RGB ");
  auto run = [&](ImageFormat format, const std::string& name) {
    DecodedImage picture;
    picture.width = w;
    picture.height = h;
    picture.rgb = input;
    picture.metadata = m;
    const std::string path = dir + "/" + name;
    const Status s = cleanToFile(&picture, cb, CleanOptions(), &pool, path, format,
                                 /*overwrite=*/false, {}, nullptr);
    EXPECT_TRUE(s.ok()) << s.message();
    std::ifstream file(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return bytes;
  };
  const Bytes bmp = run(ImageFormat::kBmp, "out.bmp");
  const Bytes png = run(ImageFormat::kPng, "out.png");
  rmdir(dir.c_str());
  DecodedImage fromBmp;
  ASSERT_TRUE(decodeImage(bmp.data(), bmp.size(), &fromBmp).ok());
  EXPECT_NE(fromBmp.rgb, input);  // the pass changed something
  const ReadPng r = readPng(png);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(bottomFirstRgb(r), fromBmp.rgb);
  EXPECT_EQ(r.icc, m.icc);
  EXPECT_EQ(r.exif, m.exif);
  ASSERT_EQ(r.texts.size(), 1u);
  EXPECT_EQ(r.texts[0].text, m.xmp);
}

}  // namespace
}  // namespace nubo
