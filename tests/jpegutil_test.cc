// Tests of the libjpeg helpers: compression settings, quality estimate at every
// quality, rejection of non-JPEG data, codebook index parsing and choice.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jpegutil/jpeg_util.h"

// libjpeg's header needs FILE and size_t first.
#include <jpeglib.h>

namespace nubo {
namespace {

// A deterministic picture with edges and texture, so every DCT band is used.
std::vector<uint8_t> testPicture(int width, int height, int channels) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        state = state * 1664525u + 1013904223u;  // LCG constants from Numerical Recipes
        const int edge = (x / 8 + y / 8) % 2 ? 180 : 40;
        const int noise = static_cast<int>(state >> 27);  // 0..31
        pixels[(static_cast<size_t>(y) * width + x) * channels + c] =
            static_cast<uint8_t>(edge + noise + 10 * c);
      }
    }
  }
  return pixels;
}

std::vector<uint8_t> compressColour(int quality) {
  static const std::vector<uint8_t> rgb = testPicture(40, 24, 3);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(compressJpeg(rgb.data(), 40, 24, quality, true, &jpeg).ok());
  return jpeg;
}

std::vector<uint8_t> compressGrey(int quality) {
  static const std::vector<uint8_t> grey = testPicture(40, 24, 1);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(compressJpegGrey(grey.data(), 40, 24, quality, &jpeg).ok());
  return jpeg;
}

// Qualities whose libjpeg tables equal those of quality q: an estimate cannot
// tell them apart, so any of them is a correct answer.
bool sameTables(int q, int other, bool colour) {
  if (libjpegQuantTable(q, false, true) != libjpegQuantTable(other, false, true)) return false;
  return !colour || libjpegQuantTable(q, true, true) == libjpegQuantTable(other, true, true);
}

TEST(CompressJpeg, WritesLibjpegTablesFor420Colour) {
  for (int q : {1, 10, 23, 50, 75, 100}) {
    const std::vector<uint8_t> jpeg = compressColour(q);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    EXPECT_EQ(tables.componentCount, 3);
    ASSERT_EQ(tables.componentTable[0], 0);
    ASSERT_EQ(tables.componentTable[1], 1);
    EXPECT_EQ(tables.componentTable[2], 1);
    EXPECT_EQ(tables.table[0], libjpegQuantTable(q, false, true)) << "quality " << q;
    EXPECT_EQ(tables.table[1], libjpegQuantTable(q, true, true)) << "quality " << q;
  }
  // The SOF0 frame header gives the sampling factors: Y 2x2, Cb and Cr 1x1.
  const std::vector<uint8_t> jpeg = compressColour(50);
  bool found = false;
  for (size_t i = 0; i + 18 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      EXPECT_EQ(jpeg[i + 9], 3);      // components
      EXPECT_EQ(jpeg[i + 11], 0x22);  // Y sampling
      EXPECT_EQ(jpeg[i + 14], 0x11);  // Cb sampling
      EXPECT_EQ(jpeg[i + 17], 0x11);  // Cr sampling
      found = true;
      break;
    }
  }
  EXPECT_TRUE(found) << "no baseline frame header";
}

TEST(CompressJpeg, RowOrderFlagFlipsInput) {
  const int w = 16;
  const int h = 12;
  const std::vector<uint8_t> topFirst = testPicture(w, h, 3);
  std::vector<uint8_t> bottomFirst(topFirst.size());
  const size_t stride = static_cast<size_t>(w) * 3;
  for (int y = 0; y < h; ++y) {
    std::copy(topFirst.begin() + y * stride, topFirst.begin() + (y + 1) * stride,
              bottomFirst.begin() + (h - 1 - y) * stride);
  }
  std::vector<uint8_t> a;
  std::vector<uint8_t> b;
  ASSERT_TRUE(compressJpeg(topFirst.data(), w, h, 60, true, &a).ok());
  ASSERT_TRUE(compressJpeg(bottomFirst.data(), w, h, 60, false, &b).ok());
  EXPECT_EQ(a, b);
}

TEST(CompressJpeg, RejectsBadArguments) {
  const std::vector<uint8_t> rgb = testPicture(8, 8, 3);
  std::vector<uint8_t> out;
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 0, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 101, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 0, 8, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, -1, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(nullptr, 8, 8, 50, true, &out).ok());
  EXPECT_FALSE(compressJpeg(rgb.data(), 8, 8, 50, true, nullptr).ok());
  EXPECT_FALSE(compressJpegGrey(rgb.data(), 70000, 1, 50, &out).ok());
}

TEST(DecodeJpegGrey, GivesLuminanceOfGreyAndColourFiles) {
  const std::vector<uint8_t> grey = testPicture(40, 24, 1);
  GreyImage decoded;
  const std::vector<uint8_t> greyJpeg = compressGrey(100);
  ASSERT_TRUE(decodeJpegGrey(greyJpeg.data(), greyJpeg.size(), &decoded).ok());
  ASSERT_EQ(decoded.width, 40);
  ASSERT_EQ(decoded.height, 24);
  ASSERT_EQ(decoded.pixels.size(), grey.size());
  for (size_t i = 0; i < grey.size(); ++i) {
    // Quality 100 still rounds DCT coefficients: a step or two of error.
    EXPECT_NEAR(decoded.pixels[i], grey[i], 2) << "pixel " << i;
  }
  const std::vector<uint8_t> colourJpeg = compressColour(90);
  ASSERT_TRUE(decodeJpegGrey(colourJpeg.data(), colourJpeg.size(), &decoded).ok());
  EXPECT_EQ(decoded.width, 40);
  EXPECT_EQ(decoded.height, 24);

  const uint8_t notJpeg[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  EXPECT_FALSE(decodeJpegGrey(notJpeg, sizeof(notJpeg), &decoded).ok());
  EXPECT_TRUE(decoded.pixels.empty());
}

TEST(QualityEstimate, ReturnsEveryQualityOfColourFiles) {
  for (int q = 1; q <= 100; ++q) {
    const std::vector<uint8_t> jpeg = compressColour(q);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    bool exact = false;
    const int estimate = estimateQualityFromTables(tables, &exact);
    EXPECT_TRUE(exact) << "quality " << q;
    EXPECT_TRUE(estimate == q || sameTables(q, estimate, true))
        << "quality " << q << " estimated " << estimate;
    EXPECT_EQ(estimateJpegQuality(jpeg.data(), jpeg.size()), estimate);
  }
}

TEST(QualityEstimate, ReturnsEveryQualityOfGreyFiles) {
  for (int q = 1; q <= 100; ++q) {
    const std::vector<uint8_t> jpeg = compressGrey(q);
    const int estimate = estimateJpegQuality(jpeg.data(), jpeg.size());
    EXPECT_TRUE(estimate == q || sameTables(q, estimate, false))
        << "quality " << q << " estimated " << estimate;
  }
}

TEST(QualityEstimate, LibjpegTablesDifferAtEveryQuality) {
  // Documents why the estimate is exact for libjpeg files: no two qualities
  // share both tables, nor even the luminance table alone.
  for (int q = 1; q < 100; ++q) {
    EXPECT_FALSE(sameTables(q, q + 1, false)) << "qualities " << q << " and " << q + 1;
  }
}

TEST(QualityEstimate, NearestQualityForForeignTables) {
  JpegQuantTables tables;
  tables.componentCount = 3;
  tables.present = {true, true, false, false};
  tables.componentTable = {0, 1, 1, -1};
  tables.table[0] = libjpegQuantTable(37, false, true);
  tables.table[1] = libjpegQuantTable(37, true, true);
  tables.table[0][5] += 3;  // an encoder rounding differently
  tables.table[1][0] -= 1;
  bool exact = true;
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 37);
  EXPECT_FALSE(exact);

  // Tables written without the baseline clamp (16-bit entries) at low quality.
  tables.table[0] = libjpegQuantTable(8, false, false);
  tables.table[1] = libjpegQuantTable(8, true, false);
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 8);
  EXPECT_TRUE(exact);

  // One table for all components: judged on luminance only.
  tables.componentTable = {0, 0, 0, -1};
  tables.table[0] = libjpegQuantTable(64, false, true);
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), 64);

  tables.componentTable = {-1, -1, -1, -1};
  EXPECT_EQ(estimateQualityFromTables(tables, &exact), -1);
}

// Compresses the test picture with libjpeg at separate luminance and colour
// qualities, as "cjpeg -quality LUMA,COLOUR" does.
std::vector<uint8_t> compressPerComponent(int lumaQuality, int colourQuality) {
  static const std::vector<uint8_t> rgb = testPicture(40, 24, 3);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 40;
  cinfo.image_height = 24;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, lumaQuality, TRUE);
  const std::array<uint16_t, 64> colour = libjpegQuantTable(colourQuality, true, true);
  unsigned int table[64];
  for (int k = 0; k < 64; ++k) table[k] = colour[k];
  jpeg_add_quant_table(&cinfo, 1, table, 100, TRUE);  // scale 100: the values as they are
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + cinfo.next_scanline * 40 * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  std::free(buffer);
  return jpeg;
}

TEST(QualityEstimate, TheLuminanceTableAloneDecides) {
  for (const auto& [luma, colour] :
       std::vector<std::pair<int, int>>{{90, 20}, {20, 90}, {75, 5}, {95, 50}, {50, 50}}) {
    const std::vector<uint8_t> jpeg = compressPerComponent(luma, colour);
    JpegQuantTables tables;
    ASSERT_TRUE(readJpegQuantTables(jpeg.data(), jpeg.size(), &tables).ok());
    ASSERT_EQ(tables.table[tables.componentTable[1]], libjpegQuantTable(colour, true, true));
    bool exact = false;
    EXPECT_EQ(estimateQualityFromTables(tables, &exact), luma) << luma << "," << colour;
    EXPECT_TRUE(exact);
  }
}

TEST(QualityEstimate, RejectsNonJpegData) {
  const uint8_t png[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
  const uint8_t soiOnly[] = {0xFF, 0xD8};
  const uint8_t soiGarbage[] = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  JpegQuantTables tables;
  EXPECT_EQ(estimateJpegQuality(png, sizeof(png)), -1);
  EXPECT_EQ(estimateJpegQuality(soiOnly, sizeof(soiOnly)), -1);
  EXPECT_EQ(estimateJpegQuality(soiGarbage, sizeof(soiGarbage)), -1);
  EXPECT_EQ(estimateJpegQuality(nullptr, 0), -1);
  EXPECT_EQ(readJpegQuantTables(png, sizeof(png), &tables).code(), StatusCode::kInvalidData);
  EXPECT_EQ(readJpegQuantTables(soiGarbage, sizeof(soiGarbage), &tables).code(),
            StatusCode::kInvalidData);
}

TEST(QualityEstimate, SurvivesTruncatedAndDamagedHeaders) {
  const std::vector<uint8_t> jpeg = compressColour(42);
  // Every cut inside the header must fail cleanly (or succeed) without crashing.
  for (size_t cut = 0; cut < 700 && cut < jpeg.size(); ++cut) {
    const int q = estimateJpegQuality(jpeg.data(), cut);
    EXPECT_TRUE(q == -1 || q == 42) << "cut at " << cut;
  }
  uint32_t state = 99;
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<uint8_t> damaged = jpeg;
    for (int k = 0; k < 3; ++k) {
      state = state * 1664525u + 1013904223u;
      damaged[2 + (state >> 8) % (damaged.size() - 2)] = static_cast<uint8_t>(state >> 24);
    }
    const int q = estimateJpegQuality(damaged.data(), damaged.size());
    EXPECT_TRUE(q >= -1 && q <= 100);
    GreyImage grey;
    (void)decodeJpegGrey(damaged.data(), damaged.size(), &grey);
  }
}

TEST(CodebookIndex, ParsesBandsCommentsAndLineEnds) {
  const std::string text =
      "# codebooks by JPEG quality\n"
      "\n"
      "1 19 q10.cb\r\n"
      "   20\t39   sub/q30.cb  \n"
      "  # indented comment\n"
      "40 100 q50.cb";  // no final line end
  std::vector<CodebookBand> bands;
  ASSERT_TRUE(parseCodebookIndex(text, &bands).ok());
  ASSERT_EQ(bands.size(), 3u);
  EXPECT_EQ(bands[0].minQuality, 1);
  EXPECT_EQ(bands[0].maxQuality, 19);
  EXPECT_EQ(bands[0].file, "q10.cb");
  EXPECT_EQ(bands[1].minQuality, 20);
  EXPECT_EQ(bands[1].maxQuality, 39);
  EXPECT_EQ(bands[1].file, "sub/q30.cb");
  EXPECT_EQ(bands[2].file, "q50.cb");

  ASSERT_TRUE(parseCodebookIndex("", &bands).ok());
  EXPECT_TRUE(bands.empty());
  ASSERT_TRUE(parseCodebookIndex("# nothing yet\n\n", &bands).ok());
  EXPECT_TRUE(bands.empty());
}

TEST(CodebookIndex, RejectsBrokenLinesWithLineNumber) {
  const std::vector<std::string> broken = {
      "10 20",             // missing file
      "10 20 a.cb extra",  // too many fields
      "ten 20 a.cb",       // not a number
      "0 20 a.cb",         // below 1
      "10 101 a.cb",       // above 100
      "-5 20 a.cb",        // sign
      "1e1 20 a.cb",       // not plain digits
      "0010 20 a.cb",      // too many digits
      "99999999999999999999 20 a.cb",
      "30 20 a.cb",         // min above max
      "10 20 /etc/passwd",  // absolute
      "10 20 ../a.cb",      // leaves the data folder
      "10 20 sub/../../a.cb",
      "10 20 sub\\a.cb",  // backslash
      "10 20 dir/",       // a folder
      std::string("10 20 a\x01.cb"),
      std::string("10 20 a\0b.cb", 12),
      "10 20 " + std::string(300, 'x'),
  };
  for (const std::string& line : broken) {
    std::vector<CodebookBand> bands;
    const Status status = parseCodebookIndex("# header\n" + line + "\n", &bands);
    EXPECT_EQ(status.code(), StatusCode::kInvalidData) << line;
    EXPECT_NE(status.message().find("index line 2:"), std::string::npos) << status.message();
    EXPECT_TRUE(bands.empty());
  }
  std::vector<CodebookBand> bands;
  const Status overlap = parseCodebookIndex("1 30 a.cb\n31 40 b.cb\n40 50 c.cb\n", &bands);
  EXPECT_FALSE(overlap.ok());
  EXPECT_NE(overlap.message().find("index line 3: qualities overlap line 2"), std::string::npos)
      << overlap.message();
}

TEST(CodebookIndex, SurvivesArbitraryBytes) {
  uint32_t state = 7;
  for (int trial = 0; trial < 500; ++trial) {
    std::string text;
    for (int i = 0; i < 64; ++i) {
      state = state * 1664525u + 1013904223u;
      // Mostly index-like characters so that some lines get far into parsing.
      const char alphabet[] = "0123456789 \t\n\r#./ab";
      text.push_back((state >> 28) < 14 ? alphabet[(state >> 8) % (sizeof(alphabet) - 1)]
                                        : static_cast<char>(state >> 16));
    }
    std::vector<CodebookBand> bands;
    const Status status = parseCodebookIndex(text, &bands);
    for (const CodebookBand& band : bands) {
      EXPECT_TRUE(status.ok());
      EXPECT_GE(band.minQuality, 1);
      EXPECT_LE(band.maxQuality, 100);
      EXPECT_LE(band.minQuality, band.maxQuality);
    }
  }
}

// A scratch data folder, removed at the end of the test.
class CodebookSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "nubo-jpegutil-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  void write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
  }
  std::string dir_;
};

TEST_F(CodebookSelection, PicksBandOfEstimatedQuality) {
  write("index", "# test\n1 19 low.cb\n20 39 mid.cb\n40 100 high.cb\n");
  write("low.cb", "x");
  write("mid.cb", "x");
  write("high.cb", "x");
  write("data", "x");
  for (const auto& [quality, file] : std::vector<std::pair<int, std::string>>{{5, "low.cb"},
                                                                              {19, "low.cb"},
                                                                              {20, "mid.cb"},
                                                                              {30, "mid.cb"},
                                                                              {39, "mid.cb"},
                                                                              {40, "high.cb"},
                                                                              {95, "high.cb"}}) {
    const std::vector<uint8_t> jpeg = compressColour(quality);
    CodebookChoice choice;
    ASSERT_TRUE(selectCodebook(dir_, jpeg.data(), jpeg.size(), &choice).ok());
    EXPECT_EQ(choice.estimatedQuality, quality);
    EXPECT_EQ(choice.path, dir_ + "/" + file) << choice.reason;
    EXPECT_FALSE(choice.reason.empty());
  }
  const std::vector<uint8_t> grey = compressGrey(25);
  CodebookChoice choice;
  ASSERT_TRUE(selectCodebook(dir_, grey.data(), grey.size(), &choice).ok());
  EXPECT_EQ(choice.path, dir_ + "/mid.cb");
  // Sharp luminance, coarse colour: the band of its luminance quality.
  const std::vector<uint8_t> sharpLuma = compressPerComponent(90, 20);
  ASSERT_TRUE(selectCodebook(dir_, sharpLuma.data(), sharpLuma.size(), &choice).ok());
  EXPECT_EQ(choice.estimatedQuality, 90);
  EXPECT_EQ(choice.path, dir_ + "/high.cb");
}

TEST_F(CodebookSelection, FallsBackToGeneralCodebook) {
  write("index", "20 39 mid.cb\n40 60 missing.cb\n");
  write("mid.cb", "x");
  const std::string general = dir_ + "/data";

  const uint8_t png[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
  CodebookChoice choice;
  ASSERT_TRUE(selectCodebook(dir_, png, sizeof(png), &choice).ok());
  EXPECT_EQ(choice.path, general);
  EXPECT_EQ(choice.estimatedQuality, -1);

  const std::vector<uint8_t> q10 = compressColour(10);  // no band covers it
  ASSERT_TRUE(selectCodebook(dir_, q10.data(), q10.size(), &choice).ok());
  EXPECT_EQ(choice.path, general);
  EXPECT_EQ(choice.estimatedQuality, 10);

  const std::vector<uint8_t> q50 = compressColour(50);  // its codebook file is absent
  ASSERT_TRUE(selectCodebook(dir_, q50.data(), q50.size(), &choice).ok());
  EXPECT_EQ(choice.path, general);
  EXPECT_NE(choice.reason.find("not readable"), std::string::npos) << choice.reason;

  std::filesystem::remove(dir_ + "/index");  // no index at all
  const std::vector<uint8_t> q30 = compressColour(30);
  ASSERT_TRUE(selectCodebook(dir_, q30.data(), q30.size(), &choice).ok());
  EXPECT_EQ(choice.path, general);
  EXPECT_EQ(choice.estimatedQuality, 30);
}

TEST_F(CodebookSelection, BrokenIndexReportsErrorAndStillChooses) {
  write("index", "20 39 mid.cb\n20 x\n");
  write("mid.cb", "x");
  const std::vector<uint8_t> q30 = compressColour(30);
  CodebookChoice choice;
  const Status status = selectCodebook(dir_, q30.data(), q30.size(), &choice);
  EXPECT_EQ(status.code(), StatusCode::kInvalidData);
  EXPECT_NE(status.message().find("index line 2"), std::string::npos) << status.message();
  EXPECT_EQ(choice.path, dir_ + "/data");
}

TEST_F(CodebookSelection, ReadsInputFileFromDisk) {
  write("index", "20 39 mid.cb\n");
  write("mid.cb", "x");
  const std::vector<uint8_t> q30 = compressColour(30);
  write("in.jpg", std::string(q30.begin(), q30.end()));
  write("in.png", "\x89PNG\r\n\x1a\n rest");
  CodebookChoice choice;
  ASSERT_TRUE(selectCodebookForFile(dir_, dir_ + "/in.jpg", &choice).ok());
  EXPECT_EQ(choice.path, dir_ + "/mid.cb");
  ASSERT_TRUE(selectCodebookForFile(dir_, dir_ + "/in.png", &choice).ok());
  EXPECT_EQ(choice.path, dir_ + "/data");
  EXPECT_EQ(selectCodebookForFile(dir_, dir_ + "/absent.jpg", &choice).code(),
            StatusCode::kCannotOpen);
  EXPECT_EQ(choice.path, dir_ + "/data");
}

}  // namespace
}  // namespace nubo
