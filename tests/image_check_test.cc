// Tests of the JPEG file check beyond the frame header: every marker segment
// up to the end of the file must lie within it, since the decoder's reader
// never returns from skipping one that runs past the end (found by fuzzing;
// the fuzzer's file is tests/data/fuzz/load_picture/hang-*.jpg).
#include "imageio/image_check.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "imageio/image_io.h"

namespace nubo {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes fixture() {
  return readFile(std::string(NUBO_SOURCE_DIR) + "/tests/data/imageio/top_red_bottom_blue.jpg");
}

// Where the first marker `code` of the file starts.
size_t findMarker(const Bytes& jpeg, uint8_t code) {
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  }
  return 0;
}

Status check(const Bytes& bytes) {
  CheckedImage checked;
  return checkImageFile(bytes.data(), bytes.size(), &checked);
}

Bytes insertAt(Bytes jpeg, size_t at, const Bytes& what) {
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), what.begin(), what.end());
  return jpeg;
}

TEST(JpegCheck, SegmentsAfterTheFrameHeaderMustEndInTheFile) {
  const Bytes jpeg = fixture();
  ASSERT_TRUE(check(jpeg).ok());
  const size_t sos = findMarker(jpeg, 0xDA);
  const size_t eoi = jpeg.size() - 2;
  ASSERT_GT(sos, findMarker(jpeg, 0xC0));
  ASSERT_EQ(jpeg[eoi + 1], 0xD9);
  // A comment whose length runs past the end before the scan: nothing to show.
  const Bytes comment = {0xFF, 0xFE, 0x00, 0xD9};
  EXPECT_EQ(check(insertAt(jpeg, sos, comment)).message(), "damaged JPEG file: file ends early");
  // After the scan (and as the file's last bytes, without an end marker: the
  // fuzzer's case) the file is cut after its picture data: the decoder, which
  // stops at the end of the data, shows what is there and warns.
  EXPECT_TRUE(check(insertAt(jpeg, eoi, comment)).ok());
  Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(eoi));
  cut.insert(cut.end(), comment.begin(), comment.end());
  EXPECT_TRUE(check(cut).ok());
  DecodedImage decoded;
  ASSERT_TRUE(decodeImage(cut.data(), cut.size(), &decoded).ok());
  EXPECT_EQ(decoded.warning, "damaged JPEG data (file ends early)");
  // A length below 2 is never right.
  EXPECT_EQ(check(insertAt(jpeg, sos, {0xFF, 0xFE, 0x00, 0x01})).message(),
            "damaged JPEG file: invalid segment length");
  // The same comment with a length that fits is fine anywhere.
  const Bytes fits = {0xFF, 0xFE, 0x00, 0x04, 'o', 'k'};
  EXPECT_TRUE(check(insertAt(jpeg, sos, fits)).ok());
  EXPECT_TRUE(check(insertAt(jpeg, eoi, fits)).ok());
}

TEST(JpegCheck, FramingOfScansAndFrames) {
  const Bytes jpeg = fixture();
  const size_t sof = findMarker(jpeg, 0xC0), sos = findMarker(jpeg, 0xDA);
  // Headers without any scan: nothing to decode.
  const Bytes noScan(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(sos));
  EXPECT_EQ(check(noScan).message(), "damaged JPEG file: file ends early");
  // A second frame header.
  const size_t sofLength = (size_t{jpeg[sof + 2]} << 8) | jpeg[sof + 3];
  const Bytes frame(jpeg.begin() + static_cast<std::ptrdiff_t>(sof),
                    jpeg.begin() + static_cast<std::ptrdiff_t>(sof + 2 + sofLength));
  EXPECT_EQ(check(insertAt(jpeg, sos, frame)).message(),
            "damaged JPEG file: more than one frame header");
  // A scan before the frame header.
  Bytes early = jpeg;
  early[sof + 1] = 0xDA;
  EXPECT_FALSE(check(early).ok());
  // Bytes after the end marker are never read.
  Bytes trailing = jpeg;
  trailing.insert(trailing.end(), {0xFF, 0xFE, 0xFF, 0xFF, 1, 2, 3});
  EXPECT_TRUE(check(trailing).ok());
  // A file cut in its scan data still passes: the decoder fills in the rest.
  EXPECT_TRUE(check(Bytes(jpeg.begin(), jpeg.end() - 10)).ok());
}

// A little-endian TIFF of uncompressed RGB pages, one strip each; every page
// is given as its (tag, value) entries, all LONG.
Bytes tiff(const std::vector<std::vector<std::pair<uint16_t, uint32_t>>>& pages) {
  Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&out](uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  for (size_t p = 0; p < pages.size(); ++p) {
    put16(static_cast<uint32_t>(pages[p].size()));
    for (const auto& [tag, value] : pages[p]) {
      put16(tag);
      put16(4);  // LONG
      put32(1);
      put32(value);
    }
    const bool last = p + 1 == pages.size();
    put32(last ? 0 : static_cast<uint32_t>(out.size() + 4));
  }
  out.resize(out.size() + 64, 0x80);  // pixel data the strip entries point into
  return out;
}

std::vector<std::pair<uint16_t, uint32_t>> page(uint32_t width, uint32_t height) {
  return {{256, width}, {257, height}, {258, 8},      {262, 2},
          {273, 8},     {277, 3},      {278, height}, {279, 12}};
}

TEST(TiffCheck, EveryPageMustFitAndTheSizeBeGivenOnce) {
  CheckedImage checked;
  const Bytes good = tiff({page(2, 2), page(3, 1)});
  ASSERT_TRUE(checkImageFile(good.data(), good.size(), &checked).ok());
  EXPECT_EQ(checked.width, 2);  // the first page's size
  EXPECT_EQ(checked.height, 2);

  // A second width entry: the decoder would take the first, huge one.
  auto twice = page(2, 2);
  twice.insert(twice.begin(), {256, 3000000000u});
  const Status s = check(tiff({twice}));
  EXPECT_EQ(s.code(), StatusCode::kInvalidData);
  EXPECT_NE(s.message().find("given twice"), std::string::npos) << s.message();

  // A later page too large to decode.
  EXPECT_EQ(check(tiff({page(2, 2), page(100000, 100000)})).code(), StatusCode::kTooLarge);
}

}  // namespace
}  // namespace nubo
