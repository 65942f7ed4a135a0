// The JPEG quality estimate on fuzzed bytes: reading the quantisation tables
// either succeeds with tables a decoder could use or fails; the estimate is
// then -1 or a quality 1..100, and an exact match really is libjpeg's table.
#include <array>

#include "fuzz/fuzz_check.h"
#include "jpegutil/jpeg_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo;
  JpegQuantTables tables;
  const Status status = readJpegQuantTables(data, size, &tables);
  const int quality = estimateJpegQuality(data, size);
  if (!status.ok()) {
    FUZZ_CHECK(!status.message().empty(), "a refusal gives a reason");
    FUZZ_CHECK(quality == -1, "no quality for an unreadable file");
    return 0;
  }
  FUZZ_CHECK(tables.componentCount >= 1, "a frame has components");
  for (int c = 0; c < kMaxQuantTables; ++c) {
    const int slot = tables.componentTable[c];
    FUZZ_CHECK(slot >= -1 && slot < kMaxQuantTables, "table slots 0..3");
  }
  bool exact = false;
  FUZZ_CHECK(estimateQualityFromTables(tables, &exact) == quality,
             "the estimate from bytes is the estimate from the tables");
  FUZZ_CHECK(quality == -1 || (quality >= 1 && quality <= 100), "quality -1 or 1..100");
  if (quality >= 1 && exact) {
    const int slot = tables.componentTable[0];
    FUZZ_CHECK(slot >= 0 && tables.present[slot], "an exact match has a table to match");
    const auto& table = tables.table[slot];
    FUZZ_CHECK(table == libjpegQuantTable(quality, false, true) ||
                   table == libjpegQuantTable(quality, false, false),
               "an exact match is libjpeg's luminance table");
  }
  return 0;
}
