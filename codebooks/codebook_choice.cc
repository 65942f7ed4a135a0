// The codebook index, the choice by JPEG quality, its report line and the
// cache of loaded codebooks (see codebook_choice.h).
#include "codebooks/codebook_choice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "fileio/codebook_file.h"
#include "jpegutil/jpeg_util.h"

namespace nubo {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Parses a quality: 1 to 3 decimal digits, value 1..100.
bool parseQuality(const std::string& token, int* value) {
  if (token.empty() || token.size() > 3) return false;
  int v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 100) return false;
  *value = v;
  return true;
}

// Why a codebook file name is unacceptable, or empty when it is fine.
std::string checkCodebookName(const std::string& name) {
  // Longest name: the GUI keeps whole paths in 256-byte buffers.
  constexpr size_t kMaxNameBytes = 200;
  if (name.size() > kMaxNameBytes) return "codebook file name longer than 200 bytes";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "control character in codebook file name";
    if (c == '\\') return "backslash in codebook file name (use '/')";
  }
  if (name.front() == '/') return "codebook file name must be relative to the data folder";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") return "\"..\" in codebook file name";
    if (part.empty() && end == name.size()) return "codebook file name ends with '/'";
    start = end + 1;
  }
  return "";
}

bool fileIsReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

// Reads at most maxBytes of path into *bytes; *truncated tells whether more followed.
Status readFilePrefix(const std::string& path, size_t maxBytes, std::vector<uint8_t>* bytes,
                      bool* truncated, bool* missing) {
  bytes->clear();
  *truncated = false;
  *missing = false;
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *missing = (errno == ENOENT);
    return Status(StatusCode::kCannotOpen, "cannot open the file");
  }
  constexpr size_t kChunk = 65536;
  std::vector<uint8_t> chunk(kChunk);
  bool failed = false;
  while (bytes->size() < maxBytes) {
    const size_t want = std::min(kChunk, maxBytes - bytes->size());
    const size_t got = std::fread(chunk.data(), 1, want, f);
    bytes->insert(bytes->end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(got));
    if (got < want) {
      failed = std::ferror(f) != 0;
      break;
    }
  }
  if (!failed && bytes->size() == maxBytes) {
    *truncated = std::fgetc(f) != EOF;
  }
  std::fclose(f);
  if (failed) return Status(StatusCode::kIoError, "reading the file failed");
  return Status::Ok();
}

}  // namespace

Status parseCodebookIndex(const std::string& text, std::vector<CodebookBand>* bands) {
  if (bands == nullptr) return Status(StatusCode::kInvalidArgument, "no output bands");
  bands->clear();
  std::vector<CodebookBand> parsed;
  std::vector<int> lineOfBand;
  size_t start = 0;
  int lineNumber = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    const std::string where = "index line " + std::to_string(lineNumber) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();

    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && isBlank(line[i])) ++i;
      if (i >= line.size()) break;
      if (tokens.empty() && line[i] == '#') break;  // comment line
      size_t j = i;
      while (j < line.size() && !isBlank(line[j])) ++j;
      tokens.push_back(line.substr(i, j - i));
      i = j;
    }
    if (tokens.empty()) continue;
    if (tokens.size() != 3) {
      return Status(StatusCode::kInvalidData,
                    where + "expected <min-quality> <max-quality> <codebook-file>");
    }
    CodebookBand band;
    if (!parseQuality(tokens[0], &band.minQuality) || !parseQuality(tokens[1], &band.maxQuality)) {
      return Status(StatusCode::kInvalidData, where + "qualities must be whole numbers 1..100");
    }
    if (band.minQuality > band.maxQuality) {
      return Status(StatusCode::kInvalidData, where + "min-quality is above max-quality");
    }
    const std::string nameProblem = checkCodebookName(tokens[2]);
    if (!nameProblem.empty()) return Status(StatusCode::kInvalidData, where + nameProblem);
    band.file = tokens[2];
    for (size_t b = 0; b < parsed.size(); ++b) {
      if (band.minQuality <= parsed[b].maxQuality && parsed[b].minQuality <= band.maxQuality) {
        return Status(StatusCode::kInvalidData,
                      where + "qualities overlap line " + std::to_string(lineOfBand[b]));
      }
    }
    parsed.push_back(std::move(band));
    lineOfBand.push_back(lineNumber);
  }
  *bands = std::move(parsed);
  return Status::Ok();
}

void chooseCodebook(const std::string& dataDir, const std::vector<CodebookBand>& bands,
                    int estimatedQuality, CodebookChoice* choice) {
  choice->estimatedQuality = estimatedQuality;
  choice->path = joinPath(dataDir, kDefaultCodebookName);
  if (estimatedQuality < 0) {
    choice->reason = "not a JPEG: general codebook";
    return;
  }
  const std::string q = "JPEG quality " + std::to_string(estimatedQuality);
  for (const CodebookBand& band : bands) {
    if (estimatedQuality >= band.minQuality && estimatedQuality <= band.maxQuality) {
      choice->path = joinPath(dataDir, band.file);
      choice->reason = q + ": codebook " + band.file + " (qualities " +
                       std::to_string(band.minQuality) + "-" + std::to_string(band.maxQuality) +
                       ")";
      return;
    }
  }
  choice->reason = q + ": no codebook for this quality, general codebook";
}

Status selectCodebook(const std::string& dataDir, const uint8_t* inputFileBytes, size_t size,
                      CodebookChoice* choice) {
  if (choice == nullptr) return Status(StatusCode::kInvalidArgument, "no output choice");
  const int quality = estimateJpegQuality(inputFileBytes, size);
  chooseCodebook(dataDir, {}, quality, choice);  // the default, until the index says otherwise
  if (quality < 0) return Status::Ok();

  // An index is a few lines; anything beyond 1 MiB is not one.
  constexpr size_t kMaxIndexBytes = size_t{1} << 20;
  const std::string indexPath = joinPath(dataDir, kCodebookIndexName);
  std::vector<uint8_t> bytes;
  bool truncated = false;
  bool missing = false;
  Status read = readFilePrefix(indexPath, kMaxIndexBytes, &bytes, &truncated, &missing);
  if (!read.ok()) {
    if (missing) {
      choice->reason += " (no codebook index)";
      return Status::Ok();
    }
    return Status(read.code(), "codebook index " + indexPath + ": " + read.message());
  }
  if (truncated) {
    return Status(StatusCode::kTooLarge, "codebook index " + indexPath + ": larger than 1 MiB");
  }
  std::vector<CodebookBand> bands;
  Status parsed = parseCodebookIndex(std::string(bytes.begin(), bytes.end()), &bands);
  if (!parsed.ok()) {
    return Status(parsed.code(), "codebook index " + indexPath + ": " + parsed.message());
  }
  CodebookChoice chosen;
  chooseCodebook(dataDir, bands, quality, &chosen);
  if (chosen.path != choice->path && !fileIsReadable(chosen.path)) {
    choice->reason = "JPEG quality " + std::to_string(quality) + ": codebook " + chosen.path +
                     " not readable, general codebook";
    return Status::Ok();
  }
  *choice = std::move(chosen);
  return Status::Ok();
}

Status selectCodebookForFile(const std::string& dataDir, const std::string& inputPath,
                             CodebookChoice* choice) {
  if (choice == nullptr) return Status(StatusCode::kInvalidArgument, "no output choice");
  // JPEG tables sit in the header before the first scan; 16 MiB covers any
  // realistic run of metadata segments before it.
  constexpr size_t kMaxHeaderBytes = size_t{16} << 20;
  std::vector<uint8_t> bytes;
  bool truncated = false;
  bool missing = false;
  Status read = readFilePrefix(inputPath, kMaxHeaderBytes, &bytes, &truncated, &missing);
  if (!read.ok()) {
    chooseCodebook(dataDir, {}, -1, choice);
    choice->reason = "input unreadable: general codebook";
    return read;
  }
  return selectCodebook(dataDir, bytes.data(), bytes.size(), choice);
}

std::string codebookChoiceReport(const std::string& program, const std::string& inputName,
                                 const Status& status, const CodebookChoice& choice) {
  std::string report;
  if (!status.ok() && status.code() != StatusCode::kCannotOpen) {
    report += program + ": warning: " + status.message() + "\n";
  }
  report += program + ": " + inputName + ": ";
  if (choice.estimatedQuality >= 0) {
    report += "estimated JPEG quality " + std::to_string(choice.estimatedQuality) + ", ";
  } else {
    report += "not a JPEG, ";
  }
  return report + "codebook " + choice.path + "\n";
}

void reportCodebookChoice(const std::string& program, const std::string& inputName,
                          const Status& status, const CodebookChoice& choice) {
  std::fputs(codebookChoiceReport(program, inputName, status, choice).c_str(), stderr);
}

Status loadCodebookReportingMissing(Codebook* codebook, const std::string& path) {
  Status status = loadCodebook(codebook, path);
  if (status.code() == StatusCode::kCannotOpen) {
    std::printf("can't open file %s\n", path.c_str());
    std::fflush(stdout);
  }
  return status;
}

CodebookCache::CodebookCache(Loader loader, Failures failures)
    : loader_(std::move(loader)), failures_(failures) {}

const Codebook* CodebookCache::get(const std::string& path, Status* status) {
  auto it = cache_.find(path);
  if (it == cache_.end()) {
    Entry entry;
    entry.status = loader_(&entry.codebook, path);
    if (!entry.status.ok() && failures_ == Failures::kRetried) {
      *status = entry.status;
      return nullptr;
    }
    it = cache_.emplace(path, std::move(entry)).first;
  }
  *status = it->second.status;
  return it->second.status.ok() ? &it->second.codebook : nullptr;
}

}  // namespace nubo
