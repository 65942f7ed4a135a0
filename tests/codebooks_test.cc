// Tests of the codebook choice both programs share: the index, the band by the
// estimated JPEG quality, the report line and the cache of loaded codebooks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codebooks/codebook_choice.h"
#include "tests/test_codebooks.h"
#include "tests/test_jpegs.h"

namespace nubo {
namespace {

using testing::compressColour;
using testing::compressGrey;
using testing::compressPerComponent;

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
        (std::filesystem::temp_directory_path() / "nubo-codebooks-XXXXXX").string();
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
TEST(CodebookReport, NamesQualityAndCodebookAfterAnyWarning) {
  CodebookChoice choice;
  choice.path = "d/q30.cb";
  choice.estimatedQuality = 30;
  EXPECT_EQ(codebookChoiceReport("nubo-clean", "a.jpg", Status::Ok(), choice),
            "nubo-clean: a.jpg: estimated JPEG quality 30, codebook d/q30.cb\n");
  choice.path = "d/data";
  choice.estimatedQuality = -1;
  // An unreadable input is said by the load, not here; a broken index is warned of.
  EXPECT_EQ(codebookChoiceReport("nubo", "b.png", Status(StatusCode::kCannotOpen, "gone"), choice),
            "nubo: b.png: not a JPEG, codebook d/data\n");
  EXPECT_EQ(codebookChoiceReport("nubo", "b.png",
                                 Status(StatusCode::kInvalidData, "codebook index i: bad"), choice),
            "nubo: warning: codebook index i: bad\nnubo: b.png: not a JPEG, codebook d/data\n");
}

TEST(CodebookCache, LoadsEachFileOnceAndRemembersFailures) {
  std::map<std::string, int> loads;
  CodebookCache cache([&](Codebook* codebook, const std::string& path) {
    ++loads[path];
    if (path == "missing.cb") return Status(StatusCode::kCannotOpen, "can't open file " + path);
    *codebook = testing::codebookOf(testing::randomTree(2, path == "a.cb" ? 3 : 5, 1));
    return Status::Ok();
  });
  Status status;
  // A batch: pictures of two bands in turn, and a band whose codebook is missing.
  const Codebook* first = cache.get("a.cb", &status);
  ASSERT_NE(first, nullptr);
  for (int picture = 0; picture < 30; ++picture) {
    const char* path = picture % 3 == 0 ? "a.cb" : picture % 3 == 1 ? "b.cb" : "missing.cb";
    const Codebook* got = cache.get(path, &status);
    if (picture % 3 == 2) {
      EXPECT_EQ(got, nullptr);
      EXPECT_EQ(status.code(), StatusCode::kCannotOpen);
      EXPECT_EQ(status.message(), "can't open file missing.cb");
    } else {
      ASSERT_NE(got, nullptr);
      EXPECT_TRUE(status.ok());
      EXPECT_EQ(got->codewords.size(),
                testing::codebookOf(testing::randomTree(2, picture % 3 == 0 ? 3 : 5, 1))
                    .codewords.size());
    }
  }
  EXPECT_EQ(cache.get("a.cb", &status), first);  // the same codebook, not a copy
  EXPECT_EQ(loads, (std::map<std::string, int>{{"a.cb", 1}, {"b.cb", 1}, {"missing.cb", 1}}));
}

TEST(CodebookCache, RetriesFailedLoadsWhenAskedTo) {
  int loads = 0;
  bool present = false;
  CodebookCache cache(
      [&](Codebook* codebook, const std::string&) {
        ++loads;
        if (!present) return Status(StatusCode::kCannotOpen, "gone");
        *codebook = testing::codebookOf(testing::randomTree(2, 3, 1));
        return Status::Ok();
      },
      CodebookCache::Failures::kRetried);
  Status status;
  EXPECT_EQ(cache.get("q.cb", &status), nullptr);
  EXPECT_EQ(cache.get("q.cb", &status), nullptr);
  EXPECT_EQ(status.code(), StatusCode::kCannotOpen);
  present = true;  // the file was put there meanwhile
  const Codebook* got = cache.get("q.cb", &status);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(cache.get("q.cb", &status), got);  // kept once loaded
  EXPECT_EQ(loads, 3);
}

}  // namespace
}  // namespace nubo
