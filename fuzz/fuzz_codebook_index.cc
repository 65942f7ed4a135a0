// The data folder's codebook index on fuzzed text: an index either parses into
// bands that keep every promise of the format (qualities 1..100, no overlap,
// plain relative file names) or is refused naming a line; the codebook chosen
// for each quality is the band's that holds it, else the default.
#include <string>
#include <vector>

#include "codebooks/codebook_choice.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubo;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<CodebookBand> bands;
  const Status status = parseCodebookIndex(text, &bands);
  if (!status.ok()) {
    FUZZ_CHECK(!status.message().empty(), "a refusal gives a reason");
    return 0;
  }
  for (size_t i = 0; i < bands.size(); ++i) {
    const CodebookBand& b = bands[i];
    FUZZ_CHECK(b.minQuality >= 1 && b.minQuality <= b.maxQuality && b.maxQuality <= 100,
               "qualities 1..100, min <= max");
    FUZZ_CHECK(!b.file.empty() && b.file[0] != '/', "a relative file name");
    FUZZ_CHECK(("/" + b.file + "/").find("/../") == std::string::npos,
               "no way out of the data folder");
    FUZZ_CHECK(b.file.find_first_of(" \t\r\n") == std::string::npos, "no blanks in names");
    for (size_t j = 0; j < i; ++j) {
      FUZZ_CHECK(b.maxQuality < bands[j].minQuality || b.minQuality > bands[j].maxQuality,
                 "bands do not overlap");
    }
  }
  for (int quality = -1; quality <= 101; ++quality) {
    CodebookChoice choice;
    chooseCodebook("dir", bands, quality, &choice);
    std::string expected = std::string("dir/") + kDefaultCodebookName;
    for (const CodebookBand& b : bands) {
      if (quality >= b.minQuality && quality <= b.maxQuality) expected = "dir/" + b.file;
    }
    FUZZ_CHECK(choice.path == expected, "the band holding the quality gives the codebook");
    FUZZ_CHECK(choice.estimatedQuality == quality, "the quality is reported");
    FUZZ_CHECK(!choice.reason.empty(), "the choice is explained");
  }
  return 0;
}
