// Codebook files: the engine's codebook parser and serialiser applied to a
// file read whole or written through a temporary file.
#ifndef NUBO_FILEIO_CODEBOOK_FILE_H_
#define NUBO_FILEIO_CODEBOOK_FILE_H_

#include <string>

#include "engine/codebook.h"
#include "engine/status.h"

namespace nubo {

// Reads and parses the codebook file at path. A file that cannot be opened gives
// StatusCode::kCannotOpen (the caller prints "can't open file %s\n"); any other
// failure names the file and the problem in the message.
Status loadCodebook(Codebook* codebook, const std::string& path);

// Writes the serialised tree to path through a temporary file in the same folder,
// renamed over path once complete. Fails on a malformed tree, writing nothing.
Status writeCodebook(const CodebookTree& tree, const std::string& path);

}  // namespace nubo

#endif  // NUBO_FILEIO_CODEBOOK_FILE_H_
