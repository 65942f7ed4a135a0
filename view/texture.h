// Display textures of the padded picture buffers: upload with the right row
// alignment, and a reduced copy for pictures larger than the GL can hold.
#ifndef NUBO_VIEW_TEXTURE_H_
#define NUBO_VIEW_TEXTURE_H_

#include <cstdint>
#include <vector>

namespace nubo {

// The smallest power-of-two factor by which a paddedWidth x paddedHeight texture
// must be reduced on each axis to fit maxTextureSize (1 when it fits as it is).
int textureReduction(int paddedWidth, int paddedHeight, int maxTextureSize);

// Reduces an RGB buffer of paddedWidth x paddedHeight pixels (rows without gaps)
// by factor on each axis, averaging each factor x factor square (rounded to
// nearest), into (paddedWidth / factor) x (paddedHeight / factor) pixels.
// Padding stays white, so texture coordinates keep their meaning.
std::vector<uint8_t> reduceRgb(const uint8_t* rgb, int paddedWidth, int paddedHeight, int factor);

// Row alignment to unpack an RGB texture with rows of width pixels: 4 when a
// row is a multiple of 4 bytes, else 1.
int unpackAlignment(int width);

// Creates a texture (nearest filtering, clamped to the edge, white border) from
// an RGB buffer of width x height pixels and returns its name; 0 on failure.
// Needs a current GL context.
unsigned createPictureTexture(const uint8_t* rgb, int width, int height);

// Replaces the image of texture with an RGB buffer of width x height pixels.
void uploadPictureTexture(unsigned texture, const uint8_t* rgb, int width, int height);

// The largest texture side the current GL context accepts.
int maxTextureSize();

}  // namespace nubo

#endif  // NUBO_VIEW_TEXTURE_H_
