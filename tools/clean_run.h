// One command-line run on a decoded picture: cleaned band by band straight into
// the bytes of the output file, which is then written atomically. Peak memory
// is about the decoded picture plus the output file.
#ifndef NUBO_TOOLS_CLEAN_RUN_H_
#define NUBO_TOOLS_CLEAN_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/banded.h"
#include "engine/codebook.h"
#include "engine/progress.h"
#include "engine/ringing.h"
#include "engine/status.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"

namespace nubo {

// Wall-clock milliseconds of the stages of a run. The three band stages run
// interleaved on the pool: each is its thread time divided by the pool size.
struct RunTimes {
  double decodeMs = 0;
  double preprocessMs = 0;
  double passMs = 0;
  double backMs = 0;
  double encodeMs = 0;
  double writeMs = 0;
};

// Where the bytes of an output go, by its name: "-" is standard output; the
// names of our descriptors (/dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N) are written to the descriptor, whatever it stands for; a
// name that exists and is not a regular file or a folder (a device, a pipe) is
// written in place; any other name is a regular file, written atomically
// (writeFileAtomically).
enum class OutputKind { kStandardOutput, kInPlace, kRegularFile };
OutputKind outputKindOf(const std::string& path);

// Writes bytes to path as outputKindOf says. overwrite matters only for
// regular files: nothing else is replaced by writing to it.
Status writeOutput(const std::string& path, const std::vector<uint8_t>& bytes, bool overwrite);

// Cleans *picture (released once no longer needed) with codebook and writes the
// result to path (see writeOutput) in format, as loadInput, removeRinging and
// savePicture would (same bytes). threads in options is ignored: pool does the work. times may be
// null; when given, its encode and write fields and the band stages are set.
Status cleanToFile(DecodedImage* picture, const Codebook& codebook, const CleanOptions& options,
                   ThreadPool* pool, const std::string& path, ImageFormat format, bool overwrite,
                   const StatusCallback& showStatus, RunTimes* times);

// The first part of cleanToFile: the bytes of the output file in *result,
// nothing written (times: all but the write field).
Status cleanToBytes(DecodedImage* picture, const Codebook& codebook, const CleanOptions& options,
                    ThreadPool* pool, ImageFormat format, const StatusCallback& showStatus,
                    RunTimes* times, std::vector<uint8_t>* result);

}  // namespace nubo

#endif  // NUBO_TOOLS_CLEAN_RUN_H_
