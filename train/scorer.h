// Scoring: a picture compressed with libjpeg, cleaned by the engine's real pass
// and compared with the original by luminance PSNR.
#ifndef NUBO_TRAIN_SCORER_H_
#define NUBO_TRAIN_SCORER_H_

#include "engine/codebook.h"
#include "engine/status.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"

namespace nubo {
namespace train {

// Luminance PSNR (BT.601 Y on 8-bit RGB) of the decoded and the cleaned picture.
struct PictureScore {
  double decodedPsnr = 0;
  double cleanedPsnr = 0;  // the cleaner with --convert-all (every pixel converted back)
  double keptPsnr = 0;     // the cleaner by default (untouched pixels keep their bytes)
};

// Compresses picture at quality, cleans it with codebook on pool and scores the
// decoded picture and the cleaned one in both modes of the cleaner.
Status scorePicture(const DecodedImage& picture, int quality, const Codebook& codebook,
                    ThreadPool* pool, PictureScore* score);

}  // namespace train
}  // namespace nubo

#endif  // NUBO_TRAIN_SCORER_H_
