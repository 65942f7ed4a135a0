// The codebook a picture is cleaned with: the data folder's index of codebooks
// by JPEG quality, the band a file's estimated quality falls in, the line that
// reports the choice, and a cache of the codebooks loaded. The window and
// nubo-clean both choose through here, so they choose alike.
#ifndef NUBO_CODEBOOKS_CODEBOOK_CHOICE_H_
#define NUBO_CODEBOOKS_CODEBOOK_CHOICE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/codebook.h"
#include "engine/status.h"

namespace nubo {

// One line of the codebook index: qualities minQuality..maxQuality (inclusive)
// use the codebook in file (relative to the data folder).
struct CodebookBand {
  int minQuality = 0;
  int maxQuality = 0;
  std::string file;
};

// Name of the index file and of the quality-independent codebook in the data folder.
constexpr const char* kCodebookIndexName = "index";
constexpr const char* kDefaultCodebookName = "data";

// Parses the text of an index file. Format, one band per line:
//   <min-quality> <max-quality> <codebook-file>
// qualities integers 1..100 with min <= max, bands must not overlap; the file
// name is relative to the data folder (no absolute paths, no "..", no spaces).
// Blank lines and lines starting with '#' (after blanks) are ignored; CR LF
// line ends are accepted. Errors name the line: "index line 3: ...".
Status parseCodebookIndex(const std::string& text, std::vector<CodebookBand>* bands);

// What selectCodebook decided.
struct CodebookChoice {
  std::string path;           // codebook file to load
  int estimatedQuality = -1;  // -1 when the input is not a JPEG
  std::string reason;         // one line, for logs and the status bar
};

// Pure decision: the band containing estimatedQuality gives dataDir + "/" +
// file; no band, or estimatedQuality -1, gives dataDir + "/data".
void chooseCodebook(const std::string& dataDir, const std::vector<CodebookBand>& bands,
                    int estimatedQuality, CodebookChoice* choice);

// Estimates the quality of the input file's bytes and chooses a codebook from
// dataDir/index. A missing index, non-JPEG input, no covering band or a
// chosen codebook file that does not exist give the default dataDir + "/data"
// with ok status. An index that exists but cannot be read or parsed returns
// the error and still fills *choice with the default, so callers may warn and
// go on.
Status selectCodebook(const std::string& dataDir, const uint8_t* inputFileBytes, size_t size,
                      CodebookChoice* choice);

// selectCodebook for a file on disk: reads the start of inputPath (enough for
// the JPEG header) first. An unreadable input gives the default codebook and
// the read error.
Status selectCodebookForFile(const std::string& dataDir, const std::string& inputPath,
                             CodebookChoice* choice);

// The lines that report a choice on standard error, each ending in '\n':
// "<program>: warning: <status>" when status is an error other than
// kCannotOpen (a broken index), then "<program>: <inputName>: estimated JPEG
// quality <q>, codebook <path>" or "<program>: <inputName>: not a JPEG,
// codebook <path>".
std::string codebookChoiceReport(const std::string& program, const std::string& inputName,
                                 const Status& status, const CodebookChoice& choice);

// Writes codebookChoiceReport(...) to standard error.
void reportCodebookChoice(const std::string& program, const std::string& inputName,
                          const Status& status, const CodebookChoice& choice);

// loadCodebook, and for a file that cannot be opened the line "can't open
// file <path>" on standard output (flushed), as both programs print it.
Status loadCodebookReportingMissing(Codebook* codebook, const std::string& path);

// Codebooks loaded once per file and shared by every picture that uses them
// (a batch switches between a few quality bands).
class CodebookCache {
 public:
  using Loader = std::function<Status(Codebook*, const std::string&)>;
  // What a failed load leaves behind: nubo-clean remembers it for the rest of
  // the run (one message per missing file); the window tries again next time
  // (the file may have been put there meanwhile).
  enum class Failures { kRemembered, kRetried };

  explicit CodebookCache(Loader loader = loadCodebookReportingMissing,
                         Failures failures = Failures::kRemembered);

  // The codebook at path, loaded on the first request only. Null on failure,
  // with *status set either way; a remembered failure gives the same status
  // every time without a second attempt.
  const Codebook* get(const std::string& path, Status* status);

 private:
  struct Entry {
    Codebook codebook;
    Status status;
  };
  Loader loader_;
  Failures failures_;
  std::map<std::string, Entry> cache_;
};

}  // namespace nubo

#endif  // NUBO_CODEBOOKS_CODEBOOK_CHOICE_H_
