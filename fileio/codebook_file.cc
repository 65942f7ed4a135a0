// Codebook files on top of parseCodebook and serializeCodebook.
#include "fileio/codebook_file.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fileio/file_util.h"

namespace nubo {

namespace {

// Codebooks are a few megabytes; anything near this is not one of ours.
constexpr size_t kMaxCodebookBytes = size_t{1} << 30;

}  // namespace

Status loadCodebook(Codebook* codebook, const std::string& path) {
  *codebook = Codebook();
  std::vector<uint8_t> bytes;
  Status status = readWholeFile(path, kMaxCodebookBytes, &bytes);
  if (!status.ok()) {
    if (status.code() == StatusCode::kCannotOpen) {
      return Status(StatusCode::kCannotOpen, "can't open file " + path);
    }
    return Status(status.code(), "codebook " + path + ": " + status.message());
  }
  status = parseCodebook(bytes.data(), bytes.size(), codebook);
  if (!status.ok()) return Status(status.code(), "codebook " + path + ": " + status.message());
  return Status::Ok();
}

Status writeCodebook(const CodebookTree& tree, const std::string& path) {
  std::vector<uint8_t> bytes;
  Status s = serializeCodebook(tree, &bytes);
  if (!s.ok()) return s;
  return writeFileAtomically(path, bytes.data(), bytes.size(), /*overwrite=*/true);
}

}  // namespace nubo
