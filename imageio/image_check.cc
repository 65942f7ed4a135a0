// Structural checks of JPEG, PNG, BMP and TIFF files (see image_check.h).
// Everything here reads the bytes defensively: every offset is compared with
// the file size before it is used, in 64-bit arithmetic.
#include "imageio/image_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>

#include "imageio/image_io.h"

namespace nubo {
namespace {

// Each side of a picture may be at most this long: a longer side alone would
// exceed kMaxPaddedPixels once padded, and the bound keeps every product of
// sides and bytes per pixel far from 64-bit overflow.
constexpr int64_t kMaxSide = kMaxPaddedPixels;

uint32_t be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t le16(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

Status invalid(const std::string& why) { return Status(StatusCode::kInvalidData, why); }

// Below this, a picture's memory is not worth asking the system about.
constexpr uint64_t kAskMemoryFrom = uint64_t{64} << 20;

// Checks the picture size common to all formats: the padded limit, then the
// memory that decoding will take.
Status checkDimensions(int64_t width, int64_t height, CheckedImage* out, uint64_t availableMemory) {
  if (width <= 0 || height <= 0) return invalid("picture has no pixels (width or height is 0)");
  if (width > kMaxSide || height > kMaxSide || !fitsPaddedLimit(width, height)) {
    return Status(StatusCode::kTooLarge, "picture too large: " + std::to_string(width) + " x " +
                                             std::to_string(height) + " pixels");
  }
  Status s = checkPictureMemory(width, height, decodeMemoryBytes(width, height), availableMemory);
  if (!s.ok()) return s;
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  return Status::Ok();
}

// --- PNG ---------------------------------------------------------------------

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// The CRC-32 used by PNG chunks (polynomial 0xEDB88320, reflected).
uint32_t pngCrc(const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool validPngDepth(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 0:  // grey
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:  // palette
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:  // RGB
    case 4:  // grey + alpha
    case 6:  // RGBA
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

Status checkPng(const uint8_t* data, size_t size, CheckedImage* out, uint64_t memory) {
  size_t pos = sizeof(kPngSignature);
  bool seenIhdr = false, seenPlte = false, seenIdat = false;
  uint32_t colourType = 0;
  for (;;) {
    if (size - pos < 12) return invalid("damaged PNG file: it ends before the IEND chunk");
    const uint32_t length = be32(data + pos);
    const uint8_t* type = data + pos + 4;
    // PNG limits chunk lengths to 2^31 - 1.
    if (length > 0x7FFFFFFFu || length > size - pos - 12) {
      return invalid("damaged PNG file: a chunk runs past the end of the file");
    }
    for (int i = 0; i < 4; ++i) {
      const uint8_t ch = type[i] & 0xDF;  // upper-case the letter
      if (ch < 'A' || ch > 'Z') return invalid("damaged PNG file: invalid chunk name");
    }
    const uint8_t* body = type + 4;
    const bool critical = (type[0] & 0x20) == 0;
    if (critical && pngCrc(type, length + 4) != be32(body + length)) {
      return invalid("damaged PNG file: checksum error");
    }
    const bool isIhdr = std::memcmp(type, "IHDR", 4) == 0;
    if (!seenIhdr) {
      if (!isIhdr) return invalid("damaged PNG file: IHDR is not the first chunk");
      if (length != 13) return invalid("damaged PNG file: bad IHDR length");
      const uint32_t width = be32(body), height = be32(body + 4);
      const uint32_t depth = body[8];
      colourType = body[9];
      if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        return invalid("damaged PNG file: invalid picture size");
      }
      if (!validPngDepth(colourType, depth)) return invalid("damaged PNG file: invalid bit depth");
      if (body[10] != 0 || body[11] != 0 || body[12] > 1) {
        return invalid("damaged PNG file: unknown compression, filter or interlace method");
      }
      Status s = checkDimensions(width, height, out, memory);
      if (!s.ok()) return s;
      seenIhdr = true;
    } else if (isIhdr) {
      return invalid("damaged PNG file: more than one IHDR chunk");
    } else if (std::memcmp(type, "PLTE", 4) == 0) {
      if (length == 0 || length % 3 != 0 || length > 256 * 3) {
        return invalid("damaged PNG file: bad palette");
      }
      seenPlte = true;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      seenIdat = true;
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      break;
    } else if (critical) {
      return invalid("unsupported PNG file: unknown critical chunk");
    }
    pos += 12 + size_t{length};
  }
  if (!seenIdat) return invalid("damaged PNG file: no image data");
  if (colourType == 3 && !seenPlte) return invalid("damaged PNG file: palette missing");
  return Status::Ok();
}

// --- BMP ---------------------------------------------------------------------

constexpr size_t kBmpFileHeader = 14;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;
// The info header that the decoder reads (BITMAPINFOHEADER).
constexpr uint32_t kBmpInfoHeader = 40;

Status checkBmp(const uint8_t* data, size_t size, CheckedImage* out, uint64_t memory) {
  if (size < kBmpFileHeader + 4) return invalid("damaged BMP file: header cut short");
  const uint32_t pixelOffset = le32(data + 10);
  const uint32_t headerSize = le32(data + 14);
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
      headerSize != 108 && headerSize != 124) {
    return invalid("unsupported BMP file: unknown header size " + std::to_string(headerSize));
  }
  if (size - kBmpFileHeader < headerSize) return invalid("damaged BMP file: header cut short");
  const uint8_t* info = data + kBmpFileHeader;

  int64_t width, height;
  uint32_t planes, bits, compression = kBiRgb, coloursUsed = 0;
  size_t paletteEntry = 4;
  bool topDown = false;
  if (headerSize == 12) {  // OS/2 BITMAPCOREHEADER: 16-bit unsigned sizes
    width = le16(info + 4);
    height = le16(info + 6);
    planes = le16(info + 8);
    bits = le16(info + 10);
    paletteEntry = 3;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
      return invalid("damaged BMP file: invalid bit depth");
    }
  } else {
    width = static_cast<int32_t>(le32(info + 4));
    height = static_cast<int32_t>(le32(info + 8));
    planes = le16(info + 12);
    bits = le16(info + 14);
    compression = le32(info + 16);
    coloursUsed = le32(info + 32);
    if (height < 0) {
      topDown = true;
      height = -height;  // int64_t: safe even for INT32_MIN
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
      return invalid("damaged BMP file: invalid bit depth");
    }
    const bool valid = compression == kBiRgb || (compression == kBiRle8 && bits == 8 && !topDown) ||
                       (compression == kBiRle4 && bits == 4 && !topDown) ||
                       (compression == kBiBitfields && (bits == 16 || bits == 32));
    if (!valid) return invalid("unsupported BMP file: unknown compression");
  }
  if (planes != 1) return invalid("damaged BMP file: invalid plane count");
  Status s = checkDimensions(width, height, out, memory);
  if (!s.ok()) return s;

  // Colour masks follow a 40-byte header; longer headers hold them inside.
  const size_t masks = (compression == kBiBitfields && headerSize == kBmpInfoHeader) ? 12 : 0;
  if (pixelOffset < kBmpFileHeader + headerSize + masks || pixelOffset >= size) {
    return invalid("damaged BMP file: pixel data offset outside the file");
  }
  size_t paletteColours = 0;
  if (bits <= 8) {
    const uint32_t maxColours = 1u << bits;
    if (coloursUsed > maxColours) return invalid("damaged BMP file: palette too large");
    paletteColours = coloursUsed != 0 ? coloursUsed : maxColours;
    if (headerSize == 12) {
      // OS/2 files give no colour count: the palette fills the gap before the pixels.
      paletteColours = std::min<size_t>(maxColours, (pixelOffset - kBmpFileHeader - 12) / 3);
      if (paletteColours == 0) return invalid("damaged BMP file: palette missing");
    }
  }
  const uint64_t paletteEnd = kBmpFileHeader + headerSize + masks + paletteColours * paletteEntry;
  if (paletteEnd > size) return invalid("damaged BMP file: palette cut short");
  if (compression == kBiRgb || compression == kBiBitfields) {
    const uint64_t rowBytes = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    if (rowBytes * static_cast<uint64_t>(height) > size - pixelOffset) {
      return invalid("damaged BMP file: pixel data cut short");
    }
  }

  const uint32_t fullPalette = bits <= 8 ? 1u << bits : 0;
  if (headerSize != kBmpInfoHeader || paletteColours < fullPalette) {
    // The decoder reads only 40-byte info headers (and some OS/2 files), and
    // trusts pixel indices to lie within the palette: rebuild the file with a
    // 40-byte header, the colour masks right after it and a full palette of
    // 4-byte entries, padded with black.
    std::vector<uint8_t>& r = out->rewritten;
    r.assign(kBmpFileHeader + kBmpInfoHeader, 0);
    std::memcpy(r.data(), data, kBmpFileHeader);
    if (headerSize != 12) std::memcpy(&r[kBmpFileHeader], info, kBmpInfoHeader);
    putLe32(&r[14], kBmpInfoHeader);
    putLe32(&r[18], static_cast<uint32_t>(width));
    putLe32(&r[22], static_cast<uint32_t>(topDown ? -height : height));
    putLe16(&r[26], 1);
    putLe16(&r[28], bits);
    putLe32(&r[30], compression);
    putLe32(&r[46], fullPalette);
    if (compression == kBiBitfields) {
      const uint8_t* colourMasks = info + kBmpInfoHeader;  // where every layout keeps them
      r.insert(r.end(), colourMasks, colourMasks + 12);
    }
    const uint8_t* palette = info + headerSize + masks;
    for (size_t i = 0; i < fullPalette; ++i) {
      if (i < paletteColours) {
        r.insert(r.end(), palette + paletteEntry * i, palette + paletteEntry * i + 3);
      } else {
        r.insert(r.end(), 3, 0);
      }
      r.push_back(0);
    }
    putLe32(&r[10], static_cast<uint32_t>(r.size()));
    r.insert(r.end(), data + pixelOffset, data + size);
    putLe32(&r[2], static_cast<uint32_t>(r.size()));
  }
  return Status::Ok();
}

// --- JPEG --------------------------------------------------------------------

// Walks every marker segment of the file, the ones after the frame header and
// between scans too: the decoder's reader never returns from skipping a
// segment that runs past the end of the data.
Status checkJpeg(const uint8_t* data, size_t size, CheckedImage* out, uint64_t memory) {
  size_t pos = 2;  // after SOI
  bool frame = false, scan = false;
  for (;;) {
    // Stray bytes and entropy-coded data, skipped as libjpeg does, then fill bytes.
    while (pos < size && data[pos] != 0xFF) ++pos;
    while (pos < size && data[pos] == 0xFF) ++pos;
    if (pos >= size) break;  // a file cut in its scan data decodes in part
    const uint8_t marker = data[pos++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0x00 && scan) continue;  // a stuffed 0xFF in entropy-coded data
    if (marker == 0xD9) break;             // end of image
    if (marker == 0xD8 || marker == 0x00 || (marker == 0xDA && !frame)) {
      return invalid(frame ? "damaged JPEG file: misplaced marker"
                           : "damaged JPEG file: no frame header");
    }
    if (size - pos < 2) return invalid("damaged JPEG file: file ends early");
    const uint32_t length = be16(data + pos);
    if (length < 2) return invalid("damaged JPEG file: invalid segment length");
    if (length > size - pos) {
      // Cut inside a segment between scans: what came before still decodes.
      if (scan) break;
      return invalid("damaged JPEG file: file ends early");
    }
    // SOF markers are C0..CF except C4 (DHT), C8 (reserved) and CC (DAC).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (frame) return invalid("damaged JPEG file: more than one frame header");
      // Baseline, extended, progressive and their arithmetic-coded variants.
      if (marker != 0xC0 && marker != 0xC1 && marker != 0xC2 && marker != 0xC9 && marker != 0xCA) {
        return invalid("unsupported JPEG file: lossless or hierarchical coding");
      }
      if (length < 8) return invalid("damaged JPEG file: frame header cut short");
      const uint8_t* sof = data + pos + 2;
      const uint32_t components = sof[5];
      if (sof[0] != 8) return invalid("unsupported JPEG file: not 8 bits per sample");
      if (components != 1 && components != 3 && components != 4) {  // grey, colour, CMYK/YCCK
        return invalid("unsupported JPEG file: " + std::to_string(components) + " components");
      }
      if (length < 8 + 3 * components) return invalid("damaged JPEG file: frame header cut short");
      Status s = checkDimensions(be16(sof + 3), be16(sof + 1), out, memory);
      if (!s.ok()) return s;
      frame = true;
    }
    if (marker == 0xDA) scan = true;
    pos += length;
  }
  // Headers that end before the first scan: a cut file with nothing to show.
  if (!frame || !scan) return invalid("damaged JPEG file: file ends early");
  return Status::Ok();
}

// --- TIFF --------------------------------------------------------------------

// Bytes per value of each TIFF field type; 0 for unknown types, which the
// decoder skips.
uint32_t tiffTypeSize(uint32_t type) {
  switch (type) {
    case 1:  // BYTE
    case 2:  // ASCII
    case 6:  // SBYTE
    case 7:  // UNDEFINED
      return 1;
    case 3:  // SHORT
    case 8:  // SSHORT
      return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
    case 13:  // IFD
      return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
    case 16:  // LONG8
    case 17:  // SLONG8
    case 18:  // IFD8
      return 8;
    default:
      return 0;
  }
}

// Tags whose values are offsets into the file: strip and tile offsets and
// the SubIFD, Exif, GPS and interoperability directories.
bool isOffsetTag(uint32_t tag) {
  return tag == 273 || tag == 324 || tag == 330 || tag == 34665 || tag == 34853 || tag == 40965;
}

// Walks every directory of a TIFF file. The decoder's memory reader goes
// wrong when asked to seek far beyond the end of the data, so every offset
// that the TIFF library may seek to must lie within the file.
Status checkTiff(const uint8_t* data, size_t size, CheckedImage* out, uint64_t memory) {
  if (size < 8) return invalid("damaged TIFF file: header cut short");
  const bool little = data[0] == 'I';
  auto u16 = [little](const uint8_t* p) { return little ? le16(p) : be16(p); };
  auto u32 = [little](const uint8_t* p) { return little ? le32(p) : be32(p); };
  const Status outside = invalid("damaged TIFF file: an offset points outside the file");
  // Real files hold a few pages of a few dozen entries; the bounds keep the
  // walk short on crafted files whose directories overlap.
  constexpr int kMaxDirectories = 1000;
  constexpr uint64_t kMaxEntries = 100000;
  uint64_t entriesSeen = 0;
  std::set<uint32_t> visited;
  uint32_t ifd = u32(data + 4);
  if (ifd == 0) return invalid("damaged TIFF file: no picture");
  for (int directory = 0; ifd != 0; ++directory) {
    if (directory == kMaxDirectories) return invalid("damaged TIFF file: too many directories");
    if (ifd < 8 || ifd > size - 2) return outside;
    if (!visited.insert(ifd).second) return invalid("damaged TIFF file: directory loop");
    const uint32_t entries = u16(data + ifd);
    entriesSeen += entries;
    if (entriesSeen > kMaxEntries) return invalid("damaged TIFF file: too many entries");
    if (uint64_t{entries} * 12 > size - ifd - 2) {
      return invalid("damaged TIFF file: directory cut short");
    }
    std::set<uint32_t> present;  // tags with at least one SHORT or LONG value
    int64_t width = 0, height = 0;
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = data + ifd + 2 + size_t{i} * 12;
      const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
      if ((type == 3 || type == 4) && count > 0) present.insert(tag);
      const uint64_t bytes = uint64_t{count} * tiffTypeSize(type);
      const uint8_t* values = e + 8;
      if (bytes > 4) {
        const uint32_t at = u32(e + 8);
        if (at > size || bytes > size - at) return outside;
        values = data + at;
      }
      if (isOffsetTag(tag) && (type == 3 || type == 4 || type == 13)) {
        for (uint32_t k = 0; k < count; ++k) {
          const uint32_t offset = type == 3 ? u16(values + 2 * k) : u32(values + 4 * k);
          if (offset > size) return outside;
        }
      }
      if (tag == 256 || tag == 257) {  // ImageWidth, ImageLength
        // The TIFF library keeps the first of two entries of a tag: a second
        // one must not hide the size it will allocate for.
        if ((tag == 256 ? width : height) != 0) {
          return invalid("damaged TIFF file: picture size given twice");
        }
        int64_t value;
        if (type == 3 && count == 1) {
          value = u16(values);
        } else if (type == 4 && count == 1) {
          value = u32(values);
        } else {
          return invalid("damaged TIFF file: invalid picture size entry");
        }
        (tag == 256 ? width : height) = value;
      }
    }
    // The decoder reads these fields without checking that they exist.
    auto has = [&present](std::initializer_list<uint32_t> tags) {
      for (uint32_t tag : tags) {
        if (present.count(tag) == 0) return false;
      }
      return true;
    };
    if (!has({256, 257, 258, 262, 277}) ||                       // size, samples, colour model
        !(has({273, 278, 279}) || has({322, 323, 324, 325}))) {  // strips or tiles
      return invalid("damaged TIFF file: required fields missing");
    }
    // The decoder reads every page: each must fit, the first gives the size.
    CheckedImage page;
    const Status fits = checkDimensions(width, height, directory == 0 ? out : &page, memory);
    if (!fits.ok()) return fits;
    const size_t next = ifd + 2 + size_t{entries} * 12;
    ifd = size - next >= 4 ? u32(data + next) : 0;  // a missing link ends the chain
  }
  return Status::Ok();
}

}  // namespace

bool fitsPaddedLimit(int64_t width, int64_t height) {
  if (width > kMaxPaddedPixels || height > kMaxPaddedPixels) return false;
  int64_t paddedW = 1, paddedH = 1;
  while (paddedW < width) paddedW <<= 1;
  while (paddedH < height) paddedH <<= 1;
  return paddedW * paddedH <= kMaxPaddedPixels;
}

FileType sniffFileType(const uint8_t* data, size_t size) {
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return FileType::kJpeg;
  if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return FileType::kPng;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return FileType::kBmp;
  if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                    (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42))) {
    return FileType::kTiff;
  }
  return FileType::kUnknown;
}

uint64_t decodeMemoryBytes(int64_t width, int64_t height) {
  return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * (8 + 3 + 3);
}

uint64_t workingMemoryBytes(int64_t width, int64_t height) {
  int64_t paddedW = 1, paddedH = 1;
  while (paddedW < width) paddedW <<= 1;
  while (paddedH < height) paddedH <<= 1;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  return static_cast<uint64_t>(paddedW) * static_cast<uint64_t>(paddedH) * 6 + pixels * 3;
}

uint64_t availableMemoryBytes() {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (f == nullptr) return 0;
  char line[256];
  uint64_t kib = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned long long value = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &value) == 1) {
      kib = value;
      break;
    }
  }
  std::fclose(f);
  return kib * 1024;
}

Status checkPictureMemory(int64_t width, int64_t height, uint64_t needed,
                          uint64_t availableMemory) {
  if (availableMemory == kAskSystemForMemory) {
    availableMemory = needed > kAskMemoryFrom ? availableMemoryBytes() : 0;
  }
  if (availableMemory == 0 || needed <= availableMemory) return Status::Ok();
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  return Status(StatusCode::kTooLarge,
                "picture too large: " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels need about " + std::to_string((needed + kMiB - 1) / kMiB) +
                    " MB of memory, only " + std::to_string(availableMemory / kMiB) +
                    " MB is available");
}

Status checkImageFile(const uint8_t* data, size_t size, CheckedImage* out,
                      uint64_t availableMemory) {
  *out = CheckedImage();
  if (size == 0) return invalid("the file is empty");
  out->type = sniffFileType(data, size);
  switch (out->type) {
    case FileType::kJpeg:
      return checkJpeg(data, size, out, availableMemory);
    case FileType::kPng:
      return checkPng(data, size, out, availableMemory);
    case FileType::kBmp:
      return checkBmp(data, size, out, availableMemory);
    case FileType::kTiff:
      return checkTiff(data, size, out, availableMemory);
    case FileType::kUnknown:
      break;
  }
  return invalid("unsupported image format");
}

}  // namespace nubo
