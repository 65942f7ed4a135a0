// Turning a decoded picture upright from its EXIF orientation.
#ifndef NUBO_IMAGEIO_UPRIGHT_H_
#define NUBO_IMAGEIO_UPRIGHT_H_

#include "imageio/image_io.h"

namespace nubo {

// Rearranges image->rgb (bottom row first, R, G, B) so that a picture stored
// with EXIF orientation 1..8 shows upright; 5 to 8 swap width and height.
// Orientation 1 and values outside 1..8 leave the picture as it is. May throw
// std::bad_alloc (a second buffer of the picture's size is needed).
void turnUpright(int orientation, DecodedImage* image);

}  // namespace nubo

#endif  // NUBO_IMAGEIO_UPRIGHT_H_
