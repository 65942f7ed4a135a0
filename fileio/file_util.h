// Whole-file reading with a size cap, and writing through a temporary file so
// that a target is never left half-written: the file access of the programs,
// the tools and the trainer (the engine itself takes and gives bytes only).
#ifndef NUBO_FILEIO_FILE_UTIL_H_
#define NUBO_FILEIO_FILE_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/status.h"

namespace nubo {

// Reads the whole file at path. kCannotOpen when it cannot be opened (or is a
// folder), kTooLarge beyond maxBytes, kIoError when reading fails part-way.
Status readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out);

// Writes bytes to a temporary file in path's folder, flushes it to disk and
// renames it over path. On any failure the temporary file is removed and path
// keeps its old content. With overwrite false an existing path is refused and
// left untouched.
Status writeFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                           bool overwrite);
// The same for bytes held in a vector.
Status writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           bool overwrite);

}  // namespace nubo

#endif  // NUBO_FILEIO_FILE_UTIL_H_
