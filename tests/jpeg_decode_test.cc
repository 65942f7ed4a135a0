// Tests of JPEG decoding and of the metadata a picture brings along: the same
// pixels as the image library gave for colour and grey files, damage and
// truncation reported, CMYK and YCCK converted (with and without a profile,
// inverted or not), ICC/EXIF/XMP read from JPEG and PNG and checked, and the
// eight EXIF orientations turned upright. Every file is made here.
#include <IL/il.h>
#include <lcms2.h>
#include <libexif/exif-data.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "gtest/gtest.h"
#include "imageio/image_io.h"
#include "imageio/metadata_read.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;

// --- making files ------------------------------------------------------------------

struct JpegSettings {
  J_COLOR_SPACE in = JCS_RGB;        // what samples holds: RGB, grey or CMYK
  J_COLOR_SPACE stored = JCS_YCbCr;  // how the file stores it
  int quality = 90;
  bool adobeMarker = true;           // only for CMYK/YCCK: libjpeg writes one by default
  int hSampling = 2, vSampling = 2;  // of the first component
  bool progressive = false;
  std::vector<std::pair<int, Bytes>> segments;  // APPn markers and payloads
};

// Compresses width x height samples (top row first, in.components bytes a
// pixel) with libjpeg.
Bytes writeJpeg(const Bytes& samples, int width, int height, const JpegSettings& s) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;  // NOLINT(runtime/int): libjpeg's type
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = s.in == JCS_GRAYSCALE ? 1 : s.in == JCS_CMYK ? 4 : 3;
  cinfo.in_color_space = s.in;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, s.stored);
  jpeg_set_quality(&cinfo, s.quality, TRUE);
  if (s.stored == JCS_CMYK || s.stored == JCS_YCCK) cinfo.write_Adobe_marker = s.adobeMarker;
  cinfo.comp_info[0].h_samp_factor = s.hSampling;
  cinfo.comp_info[0].v_samp_factor = s.vSampling;
  if (s.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  for (const auto& segment : s.segments) {
    jpeg_write_marker(&cinfo, segment.first, segment.second.data(),
                      static_cast<unsigned>(segment.second.size()));
  }
  const size_t stride = static_cast<size_t>(width) * cinfo.input_components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + cinfo.next_scanline * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// A photo-like picture: smooth gradients, a few hard edges and some noise.
Bytes photoSamples(int width, int height, int components, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(static_cast<size_t>(width) * height * components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        int v = (x * (3 + c) + y * (5 - c)) % 256;
        if ((x / 7 + y / 5 + c) % 3 == 0) v = 255 - v;
        v += static_cast<int>(rng() % 9) - 4;
        out[(static_cast<size_t>(y) * width + x) * components + c] =
            static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
  return out;
}

Bytes photoJpeg(int width, int height, uint32_t seed, JpegSettings s = JpegSettings()) {
  const int components = s.in == JCS_GRAYSCALE ? 1 : s.in == JCS_CMYK ? 4 : 3;
  return writeJpeg(photoSamples(width, height, components, seed), width, height, s);
}

// The image library's decode, bottom row first, RGB.
Bytes imageLibraryDecode(const Bytes& file, int* width, int* height) {
  static const bool ready = [] {
    ilInit();
    return true;
  }();
  (void)ready;
  ILuint id;
  ilGenImages(1, &id);
  ilBindImage(id);
  ilEnable(IL_ORIGIN_SET);
  ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
  Bytes out;
  if (ilLoadL(IL_JPG, file.data(), static_cast<ILuint>(file.size())) &&
      ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE)) {
    *width = ilGetInteger(IL_IMAGE_WIDTH);
    *height = ilGetInteger(IL_IMAGE_HEIGHT);
    const size_t row = static_cast<size_t>(*width) * 3;
    const bool topFirst = ilGetInteger(IL_IMAGE_ORIGIN) == IL_ORIGIN_UPPER_LEFT;
    const uint8_t* data = ilGetData();
    for (int r = 0; r < *height; ++r) {
      const int from = topFirst ? *height - 1 - r : r;
      out.insert(out.end(), data + from * row, data + (from + 1) * row);
    }
  }
  ilDeleteImages(1, &id);
  return out;
}

DecodedImage decode(const Bytes& file) {
  DecodedImage d;
  Status s = decodeImage(file.data(), file.size(), &d);
  EXPECT_TRUE(s.ok()) << s.message();
  return d;
}

// Pixel (x, y), y counted from the top, of a decoded picture.
std::array<uint8_t, 3> pixelAt(const DecodedImage& d, int x, int y) {
  const uint8_t* p = &d.rgb[(static_cast<size_t>(d.height - 1 - y) * d.width + x) * 3];
  return {p[0], p[1], p[2]};
}

// A minimal little-endian EXIF block holding only an orientation.
Bytes exifWithOrientation(int orientation) {
  return {'I',  'I',  42, 0, 8, 0, 0, 0,  // header, IFD0 at 8
          1,    0,                        // one entry
          0x12, 0x01, 3,  0, 1, 0, 0, 0, static_cast<uint8_t>(orientation),
          0,    0,    0,  0, 0, 0, 0};  // no next directory
}

Bytes withPrefix(const char* prefix, size_t prefixBytes, const Bytes& payload) {
  Bytes out(prefixBytes + payload.size());
  std::memcpy(out.data(), prefix, prefixBytes);
  std::copy(payload.begin(), payload.end(), out.begin() + static_cast<ptrdiff_t>(prefixBytes));
  return out;
}

Bytes exifSegment(const Bytes& tiff) { return withPrefix("Exif\0", 6, tiff); }

Bytes profileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  EXPECT_TRUE(cmsSaveProfileToMem(profile, nullptr, &size));
  Bytes out(size);
  EXPECT_TRUE(cmsSaveProfileToMem(profile, out.data(), &size));
  cmsCloseProfile(profile);
  return out;
}

// APP2 segments carrying icc in parts of at most partBytes, numbered 1..n.
std::vector<std::pair<int, Bytes>> iccSegments(const Bytes& icc, size_t partBytes) {
  const size_t parts = (icc.size() + partBytes - 1) / partBytes;
  std::vector<std::pair<int, Bytes>> out;
  for (size_t i = 0; i < parts; ++i) {
    Bytes seg = withPrefix("ICC_PROFILE", 12, {});
    seg.push_back(static_cast<uint8_t>(i + 1));
    seg.push_back(static_cast<uint8_t>(parts));
    const size_t end = std::min(icc.size(), (i + 1) * partBytes);
    seg.insert(seg.end(), icc.begin() + i * partBytes, icc.begin() + end);
    out.emplace_back(JPEG_APP0 + 2, seg);
  }
  return out;
}

// A CMYK printing profile whose inks show as other colours than their names
// (cyan ink prints yellow, magenta cyan, yellow magenta), so that a
// conversion through it cannot be mistaken for the plain formula.
Bytes swappedInkProfile() {
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM toLab =
      cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
  cmsStageSampleCLut16bit(
      clut,
      [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
        double ink[4];
        for (int i = 0; i < 4; ++i) ink[i] = in[i] / 65535.0;
        const double rgb[3] = {(1 - ink[1]) * (1 - ink[3]), (1 - ink[2]) * (1 - ink[3]),
                               (1 - ink[0]) * (1 - ink[3])};
        cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, out, 1);
        return 1;
      },
      toLab, 0);
  // Stored as lutAtoBType: curves, table, curves (identity curves here).
  cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
  cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 4.3);
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(pipeline);
  cmsDeleteTransform(toLab);
  cmsCloseProfile(lab);
  cmsCloseProfile(srgb);
  return profileBytes(profile);
}

// --- the same pixels as before ---------------------------------------------------------

TEST(JpegDecode, GivesTheImageLibrarysPixelsForColourAndGreyFiles) {
  struct Case {
    int width, height;
    JpegSettings settings;
  };
  std::vector<Case> cases;
  cases.push_back({64, 48, JpegSettings()});  // 4:2:0
  JpegSettings s444;
  s444.hSampling = s444.vSampling = 1;
  s444.quality = 75;
  cases.push_back({37, 29, s444});  // odd sizes, partial blocks
  JpegSettings s422;
  s422.vSampling = 1;
  cases.push_back({50, 17, s422});
  JpegSettings progressive;
  progressive.progressive = true;
  progressive.quality = 30;
  cases.push_back({71, 40, progressive});
  JpegSettings grey;
  grey.in = grey.stored = JCS_GRAYSCALE;
  grey.hSampling = grey.vSampling = 1;
  cases.push_back({45, 33, grey});
  JpegSettings rgbStored;  // three components stored as RGB (Adobe transform 0)
  rgbStored.stored = JCS_RGB;
  rgbStored.hSampling = rgbStored.vSampling = 1;
  cases.push_back({24, 24, rgbStored});
  uint32_t seed = 1;
  for (const Case& c : cases) {
    const Bytes file = photoJpeg(c.width, c.height, seed++, c.settings);
    int w = 0, h = 0;
    const Bytes expected = imageLibraryDecode(file, &w, &h);
    ASSERT_FALSE(expected.empty());
    const DecodedImage d = decode(file);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_TRUE(d.rgb == expected) << c.width << " x " << c.height;
    EXPECT_EQ(d.warning, "");
    EXPECT_TRUE(d.metadata.empty());
  }
}

TEST(JpegDecode, GreyFilesGiveEqualChannels) {
  JpegSettings grey;
  grey.in = grey.stored = JCS_GRAYSCALE;
  const DecodedImage d = decode(photoJpeg(33, 19, 7, grey));
  ASSERT_EQ(d.rgb.size(), size_t{33} * 19 * 3);
  int distinct = 0;
  for (size_t i = 0; i < d.rgb.size(); i += 3) {
    EXPECT_EQ(d.rgb[i], d.rgb[i + 1]);
    EXPECT_EQ(d.rgb[i], d.rgb[i + 2]);
    distinct += d.rgb[i] != d.rgb[0];
  }
  EXPECT_GT(distinct, 0);
}

// --- damage --------------------------------------------------------------------------

size_t scanStart(const Bytes& jpeg) {
  for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + (jpeg[i + 2] << 8) + jpeg[i + 3];
  }
  return 0;
}

TEST(JpegDecode, DamagedDataStillDecodesWithAWarning) {
  for (bool progressive : {false, true}) {
    JpegSettings s;
    s.progressive = progressive;
    const Bytes good = photoJpeg(160, 120, 3, s);
    const size_t scan = scanStart(good);
    ASSERT_GT(scan, 0u);
    ASSERT_GT(good.size(), scan + 1200);
    Bytes bad = good;
    std::mt19937 rng(5);
    // Bytes short of 0xFF: damaged codes (an 0xFF would make a marker, which
    // libjpeg may not get over).
    size_t from = scan + 500;
    while (bad[from - 1] == 0xFF) ++from;  // an 0xFF kept before would pair with new bytes
    for (size_t i = from; i < from + 300; ++i) bad[i] = static_cast<uint8_t>(rng() % 255);
    const DecodedImage d = decode(bad);
    EXPECT_EQ(d.width, 160);
    EXPECT_EQ(d.height, 120);
    EXPECT_EQ(d.warning.rfind("damaged JPEG data (", 0), 0u) << d.warning;
    EXPECT_EQ(d.warning.back(), ')');
    EXPECT_NE(d.warning, "damaged JPEG data (file ends early)");
    EXPECT_EQ(d.warning.find("Corrupt"), std::string::npos) << "libjpeg's prefix is dropped";
  }
}

TEST(JpegDecode, AMarkerMadeUpByDamageStillGivesThePicture) {
  const Bytes good = photoJpeg(160, 120, 8);
  const size_t scan = scanStart(good);
  Bytes bad = good;
  size_t at = scan + (good.size() - scan) * 3 / 4;  // in the bottom rows
  while (bad[at - 1] == 0xFF) ++at;
  bad[at] = 0xFF;  // a marker no JPEG has, in the middle of the scan
  bad[at + 1] = 0x63;
  const DecodedImage d = decode(bad);
  EXPECT_EQ(d.width, 160);
  EXPECT_EQ(d.warning.rfind("damaged JPEG data (", 0), 0u) << d.warning;
  // The top rows, coded before the damage, are as in the sound file.
  const DecodedImage sound = decode(good);
  for (int x = 0; x < 160; x += 7) EXPECT_EQ(pixelAt(d, x, 0), pixelAt(sound, x, 0));
}

TEST(JpegDecode, TruncatedFilesSayTheFileEndsEarly) {
  const Bytes good = photoJpeg(160, 120, 4);
  const size_t scan = scanStart(good);
  ASSERT_GT(scan, 0u);
  // Cut in the scan data: the rows up to the cut, and a warning.
  DecodedImage d = decode(Bytes(good.begin(), good.begin() + (scan + good.size()) / 2));
  EXPECT_EQ(d.width, 160);
  EXPECT_EQ(d.warning, "damaged JPEG data (file ends early)");
  // A progressive file cut in its later scans: the picture as far as it came.
  JpegSettings progressive;
  progressive.progressive = true;
  const Bytes layered = photoJpeg(160, 120, 4, progressive);
  d = decode(Bytes(layered.begin(), layered.begin() + layered.size() * 3 / 4));
  EXPECT_EQ(d.height, 120);
  EXPECT_EQ(d.warning, "damaged JPEG data (file ends early)");
  // Cut before any scan data (in the headers before or after the frame
  // header, in the scan header): no picture, and the same reason.
  size_t frame = 0;
  for (size_t i = 2; i + 1 < good.size() && frame == 0; ++i) {
    if (good[i] == 0xFF && good[i + 1] == 0xC0) frame = i;
  }
  ASSERT_GT(frame, 0u);
  for (size_t cut : {size_t{40}, frame + 4, frame + 20, scan - 3, scan}) {
    const Bytes cutFile(good.begin(), good.begin() + cut);
    Status s = decodeImage(cutFile.data(), cutFile.size(), &d);
    EXPECT_FALSE(s.ok()) << "cut at " << cut;
    EXPECT_EQ(s.message(), "damaged JPEG file: file ends early") << "cut at " << cut;
  }
}

TEST(JpegDecode, EndlesslyRepeatedScansAreRefused) {
  JpegSettings s;
  s.progressive = true;
  const Bytes good = photoJpeg(64, 64, 6, s);
  size_t lastScan = 0;
  for (size_t i = 2; i + 1 < good.size(); ++i) {
    if (good[i] == 0xFF && good[i + 1] == 0xDA) lastScan = i;
  }
  ASSERT_GT(lastScan, 0u);
  const Bytes scan(good.begin() + lastScan, good.end() - 2);  // up to the end marker
  Bytes bomb(good.begin(), good.end() - 2);
  for (int k = 0; k < 1100; ++k) bomb.insert(bomb.end(), scan.begin(), scan.end());
  bomb.insert(bomb.end(), {0xFF, 0xD9});
  DecodedImage d;
  Status status = decodeImage(bomb.data(), bomb.size(), &d);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("more than 1000 scans"), std::string::npos) << status.message();
  // A few repeats are within bounds: decoded, with libjpeg's complaint.
  Bytes few(good.begin(), good.end() - 2);
  for (int k = 0; k < 3; ++k) few.insert(few.end(), scan.begin(), scan.end());
  few.insert(few.end(), {0xFF, 0xD9});
  EXPECT_TRUE(decodeImage(few.data(), few.size(), &d).ok());
}

// --- CMYK and YCCK ---------------------------------------------------------------------

// Four 8 x 8 blocks a row: each block one CMYK ink mix, so that the lossy
// round trip stays close to the mix.
const std::vector<std::array<uint8_t, 4>>& inkMixes() {
  static const std::vector<std::array<uint8_t, 4>> mixes = {
      {0, 0, 0, 0},   {255, 0, 0, 0},   {0, 255, 0, 0},    {0, 0, 255, 0},
      {0, 0, 0, 255}, {128, 64, 0, 32}, {20, 200, 100, 0}, {255, 255, 0, 0}};
  return mixes;
}

Bytes cmykFile(J_COLOR_SPACE stored, bool inverted,
               const std::vector<std::pair<int, Bytes>>& segs) {
  const auto& mixes = inkMixes();
  const int width = 32, height = 16;
  Bytes samples(width * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto& mix = mixes[(y / 8) * 4 + x / 8];
      for (int c = 0; c < 4; ++c) {
        samples[(y * width + x) * 4 + c] = inverted ? 255 - mix[c] : mix[c];
      }
    }
  }
  JpegSettings s;
  s.in = JCS_CMYK;
  s.stored = stored;
  s.quality = 100;
  s.hSampling = s.vSampling = 1;
  s.adobeMarker = inverted;
  s.segments = segs;
  return writeJpeg(samples, width, height, s);
}

void expectNear(const std::array<uint8_t, 3>& got, const std::array<int, 3>& want, int tolerance,
                const std::string& what) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(got[c], want[c], tolerance) << what << " channel " << c;
  }
}

TEST(JpegDecode, CmykAndYcckWithoutProfileUseThePlainFormula) {
  for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    for (bool inverted : {false, true}) {
      if (stored == JCS_YCCK && !inverted) continue;  // YCCK files come from Adobe's programs
      const DecodedImage d = decode(cmykFile(stored, inverted, {}));
      ASSERT_EQ(d.width, 32);
      EXPECT_TRUE(d.metadata.icc.empty());
      for (size_t i = 0; i < inkMixes().size(); ++i) {
        const auto& ink = inkMixes()[i];
        std::array<int, 3> want;
        for (int c = 0; c < 3; ++c) want[c] = (255 - ink[c]) * (255 - ink[3]) / 255;
        const std::string what = std::string(stored == JCS_CMYK ? "CMYK" : "YCCK") +
                                 (inverted ? " inverted" : "") + " mix " + std::to_string(i);
        expectNear(pixelAt(d, (i % 4) * 8 + 4, (i / 4) * 8 + 4), want, 3, what);
      }
    }
  }
}

TEST(JpegDecode, CmykWithProfileConvertsThroughItAndCarriesNoProfile) {
  const Bytes profile = swappedInkProfile();
  ASSERT_TRUE(iccProfileFits(profile, ProfileColours::kCmyk));
  for (bool inverted : {false, true}) {
    const DecodedImage d = decode(cmykFile(JCS_CMYK, inverted, iccSegments(profile, 300)));
    EXPECT_TRUE(d.metadata.icc.empty()) << "the pixels are sRGB now";
    expectNear(pixelAt(d, 4, 4), {255, 255, 255}, 4, "paper");
    expectNear(pixelAt(d, 12, 4), {255, 255, 0}, 8, "cyan ink through the profile");
    expectNear(pixelAt(d, 20, 4), {0, 255, 255}, 8, "magenta ink through the profile");
    expectNear(pixelAt(d, 4, 12), {0, 0, 0}, 4, "black ink");
  }
  // A profile that is not for CMYK is of no use: the plain formula, no profile.
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  const DecodedImage d = decode(cmykFile(JCS_CMYK, true, iccSegments(profileBytes(srgb), 5000)));
  expectNear(pixelAt(d, 12, 4), {0, 255, 255}, 3, "cyan ink, plain");
  EXPECT_TRUE(d.metadata.icc.empty());
}

// --- metadata from JPEG -------------------------------------------------------------

// EXIF made with libexif: a camera make, the orientation and a thumbnail.
Bytes cameraExif(int orientation) {
  ExifData* ed = exif_data_new();
  exif_data_set_byte_order(ed, EXIF_BYTE_ORDER_MOTOROLA);
  ExifEntry* make = exif_entry_new();
  exif_content_add_entry(ed->ifd[EXIF_IFD_0], make);
  exif_entry_initialize(make, EXIF_TAG_MAKE);
  static const char kMake[] = "NuboCam";
  std::free(make->data);  // libexif's default memory is malloc's
  make->data = static_cast<unsigned char*>(std::malloc(sizeof(kMake)));
  std::memcpy(make->data, kMake, sizeof(kMake));
  make->size = make->components = sizeof(kMake);
  exif_entry_unref(make);
  ExifEntry* turn = exif_entry_new();
  exif_content_add_entry(ed->ifd[EXIF_IFD_0], turn);
  exif_entry_initialize(turn, EXIF_TAG_ORIENTATION);
  exif_set_short(turn->data, EXIF_BYTE_ORDER_MOTOROLA, static_cast<ExifShort>(orientation));
  exif_entry_unref(turn);
  ExifEntry* compression = exif_entry_new();
  exif_content_add_entry(ed->ifd[EXIF_IFD_1], compression);
  exif_entry_initialize(compression, EXIF_TAG_COMPRESSION);
  exif_entry_unref(compression);
  const Bytes thumbnail = photoJpeg(16, 16, 9);
  ed->data = static_cast<unsigned char*>(std::malloc(thumbnail.size()));
  std::memcpy(ed->data, thumbnail.data(), thumbnail.size());
  ed->size = static_cast<unsigned int>(thumbnail.size());
  unsigned char* saved = nullptr;
  unsigned int size = 0;
  exif_data_save_data(ed, &saved, &size);
  Bytes out(saved + 6, saved + size);  // without "Exif\0\0"
  std::free(saved);
  exif_data_unref(ed);
  return out;
}

struct ExifFacts {
  bool parsed = false;
  int orientation = 0;
  std::string make;
  bool thumbnail = false;
};

ExifFacts readExif(const Bytes& tiff) {
  ExifFacts facts;
  const Bytes seg = exifSegment(tiff);
  ExifData* ed = exif_data_new_from_data(seg.data(), static_cast<unsigned int>(seg.size()));
  if (ed == nullptr) return facts;
  facts.parsed = ed->ifd[EXIF_IFD_0]->count > 0;
  if (ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION)) {
    facts.orientation = exif_get_short(e->data, exif_data_get_byte_order(ed));
  }
  if (ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_MAKE)) {
    facts.make.assign(reinterpret_cast<const char*>(e->data),
                      strnlen(reinterpret_cast<const char*>(e->data), e->size));
  }
  facts.thumbnail = ed->data != nullptr || ed->ifd[EXIF_IFD_1]->count > 0;
  exif_data_unref(ed);
  return facts;
}

const char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";  // sent with its NUL
const std::string kXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><dc:title>Br\xC3\xBC"
    "cke</dc:title></x:xmpmeta>";

Bytes xmpSegment(const std::string& xmp) {
  return withPrefix(kXmpPrefix, sizeof(kXmpPrefix), Bytes(xmp.begin(), xmp.end()));
}

TEST(JpegDecode, IccExifAndXmpAreRead) {
  const Bytes srgb = profileBytes(cmsCreate_sRGBProfile());
  JpegSettings s;
  s.segments = iccSegments(srgb, 200);
  std::reverse(s.segments.begin(), s.segments.end());  // parts may come in any order
  ASSERT_GT(s.segments.size(), 1u);
  s.segments.emplace_back(JPEG_APP0 + 1, exifSegment(cameraExif(1)));
  s.segments.emplace_back(JPEG_APP0 + 1, xmpSegment(kXmp));
  const DecodedImage d = decode(photoJpeg(24, 16, 2, s));
  EXPECT_EQ(d.metadata.icc, srgb);
  EXPECT_EQ(d.metadata.xmp, kXmp);
  const ExifFacts facts = readExif(d.metadata.exif);
  EXPECT_TRUE(facts.parsed);
  EXPECT_EQ(facts.make, "NuboCam");
  EXPECT_EQ(facts.orientation, 1);
  EXPECT_FALSE(facts.thumbnail) << "the thumbnail would show the picture as it was";
  EXPECT_EQ(d.metadata.exif.size() < cameraExif(1).size(), true);
}

TEST(JpegDecode, MalformedMetadataIsDroppedNotFatal) {
  const Bytes srgb = profileBytes(cmsCreate_sRGBProfile());
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  const Bytes grey = profileBytes(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
  cmsFreeToneCurve(gamma);
  Bytes badIccSize = srgb;
  badIccSize[3] ^= 1;  // the header's size no longer matches
  auto missingPart = iccSegments(srgb, 200);
  missingPart.erase(missingPart.begin() + 1);
  auto twice = iccSegments(srgb, 200);
  twice.push_back(twice.front());
  const std::vector<std::vector<std::pair<int, Bytes>>> cases = {
      missingPart,
      twice,
      iccSegments(badIccSize, 60000),
      iccSegments(grey, 60000),  // a grey profile does not describe colour pixels
      {{JPEG_APP0 + 2, withPrefix("ICC_PROFILE", 12, {0, 1, 1, 2, 3})}},  // part number 0
      {{JPEG_APP0 + 1, exifSegment({'I', 'I', 42, 0, 200, 0, 0, 0, 1, 2, 3})}},
      {{JPEG_APP0 + 1, exifSegment({'X', 'Y', 1, 2, 3, 4, 5, 6, 7, 8})}},
      {{JPEG_APP0 + 1, xmpSegment("<a>\xC3</a>")}},  // not UTF-8
      {{JPEG_APP0 + 1, xmpSegment(std::string("<a>\0</a>", 8))}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    JpegSettings s;
    s.segments = cases[i];
    const DecodedImage d = decode(photoJpeg(16, 16, 3, s));
    EXPECT_EQ(d.width, 16) << "case " << i;
    EXPECT_TRUE(d.metadata.empty()) << "case " << i;
  }
  // Random EXIF bodies: never a crash, never a failed load.
  std::mt19937 rng(17);
  const Bytes camera = cameraExif(6);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes exif = camera;
    for (int k = 0; k < 6; ++k) exif[8 + rng() % (exif.size() - 8)] = static_cast<uint8_t>(rng());
    JpegSettings s;
    s.segments = {{JPEG_APP0 + 1, exifSegment(exif)}};
    const DecodedImage d = decode(photoJpeg(16, 8, 3, s));
    EXPECT_TRUE(d.width == 16 || d.width == 8);
  }
}

// --- metadata from PNG ------------------------------------------------------------------

void appendChunk(Bytes* png, const char* type, const Bytes& body, bool goodCrc = true) {
  for (int i = 3; i >= 0; --i) png->push_back(static_cast<uint8_t>(body.size() >> (8 * i)));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), body.begin(), body.end());
  uint32_t crc = static_cast<uint32_t>(crc32(0, png->data() + start, png->size() - start));
  if (!goodCrc) crc ^= 1;
  for (int i = 3; i >= 0; --i) png->push_back(static_cast<uint8_t>(crc >> (8 * i)));
}

Bytes deflated(const Bytes& data) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  EXPECT_EQ(compress(out.data(), &size, data.data(), data.size()), Z_OK);
  out.resize(size);
  return out;
}

// A 2 x 2 PNG (grey or RGB) with extra chunks before its image data.
Bytes pngWith(bool grey, const std::vector<std::pair<const char*, Bytes>>& chunks,
              bool goodCrc = true) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  appendChunk(&png, "IHDR",
              {0, 0, 0, 2, 0, 0, 0, 2, 8, static_cast<uint8_t>(grey ? 0 : 2), 0, 0, 0});
  for (const auto& chunk : chunks) appendChunk(&png, chunk.first, chunk.second, goodCrc);
  const Bytes raw =
      grey ? Bytes{0, 10, 20, 0, 30, 40} : Bytes{0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};
  appendChunk(&png, "IDAT", deflated(raw));
  appendChunk(&png, "IEND", {});
  return png;
}

Bytes iccpBody(const Bytes& icc) {
  Bytes body = {'s', 'R', 'G', 'B', 0, 0};
  const Bytes z = deflated(icc);
  body.insert(body.end(), z.begin(), z.end());
  return body;
}

Bytes itxtBody(const std::string& xmp, bool compressed) {
  static const char kKey[] = "XML:com.adobe.xmp";
  Bytes body(kKey, kKey + sizeof(kKey));
  body.insert(body.end(), {static_cast<uint8_t>(compressed ? 1 : 0), 0, 0, 0});  // no language
  const Bytes text(xmp.begin(), xmp.end());
  const Bytes stored = compressed ? deflated(text) : text;
  body.insert(body.end(), stored.begin(), stored.end());
  return body;
}

TEST(PngMetadata, IccpExifAndXmpAreRead) {
  const Bytes srgb = profileBytes(cmsCreate_sRGBProfile());
  for (bool compressed : {false, true}) {
    const Bytes png = pngWith(
        false,
        {{"iCCP", iccpBody(srgb)}, {"eXIf", cameraExif(1)}, {"iTXt", itxtBody(kXmp, compressed)}});
    const DecodedImage d = decode(png);
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(d.metadata.icc, srgb);
    EXPECT_EQ(d.metadata.xmp, kXmp);
    EXPECT_EQ(readExif(d.metadata.exif).make, "NuboCam");
  }
  // Wrong checksums, an RGB profile on a grey PNG, other iTXt keys: dropped.
  EXPECT_TRUE(decode(pngWith(false, {{"iCCP", iccpBody(srgb)}, {"iTXt", itxtBody(kXmp, false)}},
                             /*goodCrc=*/false))
                  .metadata.empty());
  EXPECT_TRUE(decode(pngWith(true, {{"iCCP", iccpBody(srgb)}})).metadata.empty());
  Bytes otherKey = itxtBody(kXmp, false);
  otherKey[0] = 'Y';
  EXPECT_TRUE(decode(pngWith(false, {{"iTXt", otherKey}})).metadata.empty());
  Bytes cutIccp = iccpBody(srgb);
  cutIccp.resize(cutIccp.size() - 10);
  EXPECT_TRUE(decode(pngWith(false, {{"iCCP", cutIccp}})).metadata.empty());
}

// --- orientation --------------------------------------------------------------------------

// Where the stored picture's first row and first column are shown, for EXIF
// orientations 1..8 (the TIFF definition).
enum Side { kTop, kBottom, kLeft, kRight };
struct Placement {
  Side firstRow, firstColumn;
};
const Placement kPlacements[9] = {{kTop, kLeft},     {kTop, kLeft},     {kTop, kRight},
                                  {kBottom, kRight}, {kBottom, kLeft},  {kLeft, kTop},
                                  {kRight, kTop},    {kRight, kBottom}, {kLeft, kBottom}};

// Where stored pixel (x, y) of a w x h picture (y from the top) is shown.
std::pair<int, int> shownAt(int orientation, int x, int y, int w, int h) {
  const Placement p = kPlacements[orientation];
  if (p.firstRow == kTop || p.firstRow == kBottom) {
    return {p.firstColumn == kLeft ? x : w - 1 - x, p.firstRow == kTop ? y : h - 1 - y};
  }
  return {p.firstRow == kLeft ? y : h - 1 - y, p.firstColumn == kTop ? x : w - 1 - x};
}

TEST(Upright, EveryOrientationIsTurnedUpright) {
  const int w = 24, h = 16;
  const Bytes plain = photoJpeg(w, h, 12);
  const DecodedImage stored = decode(plain);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    Bytes file = plain;
    const Bytes seg = exifSegment(exifWithOrientation(orientation));
    const Bytes marker = {0xFF, 0xE1, static_cast<uint8_t>((seg.size() + 2) >> 8),
                          static_cast<uint8_t>(seg.size() + 2)};
    file.insert(file.begin() + 2, seg.begin(), seg.end());
    file.insert(file.begin() + 2, marker.begin(), marker.end());
    const DecodedImage d = decode(file);
    const bool sideways = orientation >= 5;
    ASSERT_EQ(d.width, sideways ? h : w) << orientation;
    ASSERT_EQ(d.height, sideways ? w : h) << orientation;
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const auto [sx, sy] = shownAt(orientation, x, y, w, h);
        wrong += pixelAt(d, sx, sy) != pixelAt(stored, x, y);
      }
    }
    EXPECT_EQ(wrong, 0) << "orientation " << orientation;
    EXPECT_EQ(readExif(d.metadata.exif).orientation, 1) << orientation;
  }
}

TEST(Upright, XmpOrientationCountsOnlyWithoutExifAndEndsAtOne) {
  const int w = 24, h = 16;
  const Bytes plain = photoJpeg(w, h, 13);
  const DecodedImage stored = decode(plain);
  auto withSegments = [&](const std::vector<Bytes>& payloads) {
    Bytes file = plain;
    for (const Bytes& seg : payloads) {
      const Bytes marker = {0xFF, 0xE1, static_cast<uint8_t>((seg.size() + 2) >> 8),
                            static_cast<uint8_t>(seg.size() + 2)};
      Bytes both = marker;
      both.insert(both.end(), seg.begin(), seg.end());
      file.insert(file.begin() + 2, both.begin(), both.end());
    }
    return decode(file);
  };
  auto turnedAs = [&](const DecodedImage& d, int orientation) {
    const bool sideways = orientation >= 5;
    if (d.width != (sideways ? h : w)) return false;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const auto [sx, sy] = shownAt(orientation, x, y, w, h);
        if (pixelAt(d, sx, sy) != pixelAt(stored, x, y)) return false;
      }
    }
    return true;
  };
  const std::string element =
      "<x:xmpmeta><rdf:Description><tiff:Orientation>6</tiff:Orientation>"
      "</rdf:Description></x:xmpmeta>";
  const std::string attribute = "<x:xmpmeta><rdf:Description tiff:Orientation = '3'/></x:xmpmeta>";
  DecodedImage d = withSegments({xmpSegment(element)});
  EXPECT_TRUE(turnedAs(d, 6));
  EXPECT_NE(d.metadata.xmp.find("<tiff:Orientation>1</tiff:Orientation>"), std::string::npos);
  d = withSegments({xmpSegment(attribute), exifSegment(exifWithOrientation(3))});
  EXPECT_TRUE(turnedAs(d, 3)) << "turned once, not twice";
  EXPECT_NE(d.metadata.xmp.find("tiff:Orientation = '1'"), std::string::npos);
  d = withSegments({xmpSegment(element), exifSegment(exifWithOrientation(1))});
  EXPECT_TRUE(turnedAs(d, 1)) << "EXIF decides";
  EXPECT_EQ(d.metadata.xmp.find(">6<"), std::string::npos);
}

TEST(Upright, PngWithExifOrientationIsTurnedToo) {
  const Bytes png = pngWith(false, {{"eXIf", exifWithOrientation(6)}});
  const DecodedImage plain = decode(pngWith(false, {}));
  const DecodedImage d = decode(png);
  ASSERT_EQ(d.width, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      const auto [sx, sy] = shownAt(6, x, y, 2, 2);
      EXPECT_EQ(pixelAt(d, sx, sy), pixelAt(plain, x, y));
    }
  }
  EXPECT_NE(d.rgb, plain.rgb);
}

}  // namespace
}  // namespace nubo
