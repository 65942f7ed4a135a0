// Checking and reading the metadata we carry (see metadata_read.h). EXIF is
// left to libexif: a small C library, packaged by Debian, that reads and
// rewrites EXIF (orientation, thumbnail, maker notes kept as they are); the
// checks here bound what it is given.
#include "imageio/metadata_read.h"

#include <lcms2.h>
#include <libexif/exif-data.h>
#include <zlib.h>

#include <cstring>
#include <string>

namespace nubo {
namespace {

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Inflates a zlib stream of at most max bytes of output into *out; false when
// the stream is damaged, incomplete or longer.
bool inflateBounded(const uint8_t* in, size_t size, size_t max, std::vector<uint8_t>* out) {
  out->clear();
  z_stream zs;
  std::memset(&zs, 0, sizeof(zs));
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(in);  // zlib does not write the input
  zs.avail_in = static_cast<uInt>(size);
  if (zs.avail_in != size) {
    inflateEnd(&zs);
    return false;
  }
  constexpr size_t kStep = size_t{1} << 16;
  int result = Z_OK;
  while (result == Z_OK) {
    const size_t have = out->size();
    if (have > max) break;
    out->resize(have + kStep);
    zs.next_out = out->data() + have;
    zs.avail_out = static_cast<uInt>(kStep);
    result = inflate(&zs, Z_NO_FLUSH);
    out->resize(have + kStep - zs.avail_out);
    if (result == Z_BUF_ERROR && zs.avail_in == 0) break;  // input ran out
  }
  inflateEnd(&zs);
  if (result != Z_STREAM_END || out->size() > max) {
    out->clear();
    return false;
  }
  return true;
}

bool validUtf8(const uint8_t* s, size_t n) {
  for (size_t i = 0; i < n;) {
    const uint8_t c = s[i];
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t code;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};  // shortest forms only
    if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

bool iccProfileFits(const std::vector<uint8_t>& icc, ProfileColours colours) {
  // A profile is a 128-byte header and a tag count at least; the header
  // states the whole size and carries the signature "acsp" at byte 36.
  if (icc.size() < 132 || icc.size() > kMaxIccBytes || be32(icc.data()) != icc.size() ||
      std::memcmp(icc.data() + 36, "acsp", 4) != 0) {
    return false;
  }
  // The header's signatures, read as numbers (files may hold any value).
  const uint32_t kind = be32(icc.data() + 12), space = be32(icc.data() + 16);
  const uint32_t pcs = be32(icc.data() + 20);
  // Only profiles that describe a picture's colours can be embedded in one.
  const bool pictureProfile = kind == cmsSigInputClass || kind == cmsSigDisplayClass ||
                              kind == cmsSigOutputClass || kind == cmsSigColorSpaceClass;
  if (!pictureProfile || (pcs != cmsSigXYZData && pcs != cmsSigLabData)) return false;
  const uint32_t wanted = colours == ProfileColours::kGrey  ? cmsSigGrayData
                          : colours == ProfileColours::kRgb ? cmsSigRgbData
                                                            : cmsSigCmykData;
  if (space != wanted) return false;
  // And the colour library must be able to read it.
  cmsHPROFILE profile = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  if (profile == nullptr) return false;
  cmsCloseProfile(profile);
  return true;
}

bool xmpUsable(const std::string& xmp) {
  return !xmp.empty() && xmp.size() <= kMaxXmpBytes &&
         validUtf8(reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size());
}

ImageMetadata readPngMetadata(const uint8_t* data, size_t size) {
  ImageMetadata metadata;
  bool grey = false, seenIcc = false, seenExif = false;
  size_t pos = 8;  // after the signature
  while (size - pos >= 12) {
    const uint32_t length = be32(data + pos);
    if (length > size - pos - 12) break;
    const uint8_t* type = data + pos + 4;
    const uint8_t* body = type + 4;
    pos += 12 + size_t{length};
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IHDR", 4) == 0 && length == 13) {
      grey = body[9] == 0 || body[9] == 4;  // grey, grey with alpha
      continue;
    }
    const bool icc = std::memcmp(type, "iCCP", 4) == 0;
    const bool exif = std::memcmp(type, "eXIf", 4) == 0;
    const bool text = std::memcmp(type, "iTXt", 4) == 0;
    if (!icc && !exif && !text) continue;
    if (crc32(0, type, 4 + length) != be32(body + length)) continue;
    if (icc && !seenIcc) {
      seenIcc = true;
      // Profile name (1..79 bytes), NUL, compression method 0, zlib stream.
      const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(body, 0, length));
      if (nul == nullptr || nul == body || nul - body > 79 || size_t(nul - body) + 2 > length ||
          nul[1] != 0) {
        continue;
      }
      const size_t at = static_cast<size_t>(nul - body) + 2;
      if (inflateBounded(body + at, length - at, kMaxIccBytes, &metadata.icc) &&
          !iccProfileFits(metadata.icc, grey ? ProfileColours::kGrey : ProfileColours::kRgb)) {
        metadata.icc.clear();
      }
    } else if (exif && !seenExif) {
      seenExif = true;
      if (length <= kMaxExifBytes) metadata.exif.assign(body, body + length);
    } else if (text && metadata.xmp.empty()) {
      // Keyword, NUL, compression flag, method, language, NUL, translated keyword, NUL, text.
      static const char kKeyword[] = "XML:com.adobe.xmp";
      if (length < sizeof(kKeyword) + 4 || std::memcmp(body, kKeyword, sizeof(kKeyword)) != 0) {
        continue;
      }
      const uint8_t* p = body + sizeof(kKeyword);
      const uint8_t* end = body + length;
      const bool compressed = p[0] != 0;
      if (p[0] > 1 || (compressed && p[1] != 0)) continue;
      p += 2;
      const uint8_t* languageEnd = static_cast<const uint8_t*>(std::memchr(p, 0, end - p));
      if (languageEnd == nullptr) continue;
      p = languageEnd + 1;
      const uint8_t* translatedEnd = static_cast<const uint8_t*>(std::memchr(p, 0, end - p));
      if (translatedEnd == nullptr) continue;
      p = translatedEnd + 1;
      std::vector<uint8_t> inflated;
      if (compressed) {
        if (!inflateBounded(p, static_cast<size_t>(end - p), kMaxXmpBytes, &inflated)) continue;
        metadata.xmp.assign(inflated.begin(), inflated.end());
      } else {
        metadata.xmp.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
      }
      if (!xmpUsable(metadata.xmp)) metadata.xmp.clear();
    }
  }
  return metadata;
}

int normaliseXmpOrientation(std::string* xmp) {
  static const char kName[] = "tiff:Orientation";
  int found = 0;
  for (size_t at = xmp->find(kName); at != std::string::npos; at = xmp->find(kName, at + 1)) {
    size_t p = at + sizeof(kName) - 1;
    auto skipSpace = [&] {
      while (p < xmp->size() &&
             ((*xmp)[p] == ' ' || (*xmp)[p] == '\t' || (*xmp)[p] == '\r' || (*xmp)[p] == '\n')) {
        ++p;
      }
    };
    skipSpace();
    if (p >= xmp->size()) break;
    char end;
    if ((*xmp)[p] == '=') {  // attribute: tiff:Orientation="6"
      ++p;
      skipSpace();
      if (p >= xmp->size() || ((*xmp)[p] != '"' && (*xmp)[p] != '\'')) continue;
      end = (*xmp)[p++];
    } else if ((*xmp)[p] == '>') {  // element: <tiff:Orientation>6</tiff:Orientation>
      ++p;
      end = '<';
    } else {
      continue;
    }
    skipSpace();
    const size_t digits = p;
    while (p < xmp->size() && (*xmp)[p] >= '0' && (*xmp)[p] <= '9' && p - digits < 3) ++p;
    const size_t count = p - digits;
    skipSpace();
    if (count == 0 || p >= xmp->size() || (*xmp)[p] != end) continue;
    if (found == 0) {
      const int value = std::stoi(xmp->substr(digits, count));
      found = value >= 1 && value <= 8 ? value : 1;
    }
    xmp->replace(digits, count, "1");
  }
  return found;
}

namespace {

// Whether the data holds any entry besides the thumbnail's directory: EXIF
// without one carries nothing worth writing.
bool holdsEntries(ExifData* ed) {
  for (int i = 0; i < EXIF_IFD_COUNT; ++i) {
    if (i != EXIF_IFD_1 && ed->ifd[i] != nullptr && ed->ifd[i]->count > 0) return true;
  }
  return false;
}

}  // namespace

int normaliseExif(std::vector<uint8_t>* exif) {
  if (exif->empty()) return 0;
  const bool tiffHeader = exif->size() >= 8 && (std::memcmp(exif->data(), "II*\0", 4) == 0 ||
                                                std::memcmp(exif->data(), "MM\0*", 4) == 0);
  if (!tiffHeader || exif->size() > kMaxExifBytes) {
    exif->clear();
    return 0;
  }
  // libexif reads the form of a JPEG APP1 segment: "Exif\0\0", then TIFF.
  static const uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> segment(kPrefix, kPrefix + sizeof(kPrefix));
  segment.insert(segment.end(), exif->begin(), exif->end());
  exif->clear();

  ExifMem* mem = exif_mem_new_default();
  if (mem == nullptr) return 0;
  ExifData* ed = exif_data_new_mem(mem);
  if (ed == nullptr) {
    exif_mem_unref(mem);
    return 0;
  }
  // Keep the data as it is: unknown tags, maker notes, no added entries.
  exif_data_unset_option(ed, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_unset_option(ed, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(ed, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
  exif_data_load_data(ed, segment.data(), static_cast<unsigned int>(segment.size()));

  int orientation = 0;
  ExifContent* ifd0 = ed->ifd[EXIF_IFD_0];
  if (ifd0 != nullptr && holdsEntries(ed)) {
    // Data that already says "upright" and holds no thumbnail is kept byte for
    // byte: nothing is lost, and reading our own output gives it back unchanged.
    bool changed = false;
    const ExifByteOrder order = exif_data_get_byte_order(ed);
    ExifEntry* entry = exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION);
    if (entry != nullptr) {
      if (entry->format == EXIF_FORMAT_SHORT && entry->components == 1 && entry->size >= 2 &&
          entry->data != nullptr) {
        const int value = exif_get_short(entry->data, order);
        orientation = value >= 1 && value <= 8 ? value : 1;
        if (value != 1) {
          exif_set_short(entry->data, order, 1);
          changed = true;
        }
      } else {
        exif_content_remove_entry(ifd0, entry);  // malformed: says nothing we can trust
        changed = true;
      }
    }
    // The thumbnail and the directory that describes it.
    if (ed->data != nullptr) {
      changed = true;
      exif_mem_free(mem, ed->data);
      ed->data = nullptr;
      ed->size = 0;
    }
    ExifContent* ifd1 = ed->ifd[EXIF_IFD_1];
    while (ifd1 != nullptr && ifd1->count > 0) {
      changed = true;
      exif_content_remove_entry(ifd1, ifd1->entries[ifd1->count - 1]);
    }
    unsigned char* saved = nullptr;
    unsigned int savedSize = 0;
    if (!changed) {
      exif->assign(segment.begin() + sizeof(kPrefix), segment.end());
    } else if (holdsEntries(ed)) {
      exif_data_save_data(ed, &saved, &savedSize);
    }
    if (saved != nullptr && savedSize > sizeof(kPrefix) + 8 && savedSize - 6 <= kMaxExifBytes &&
        std::memcmp(saved, kPrefix, sizeof(kPrefix)) == 0) {
      exif->assign(saved + sizeof(kPrefix), saved + savedSize);
    }
    exif_mem_free(mem, saved);
  }
  exif_data_unref(ed);
  exif_mem_unref(mem);
  return orientation;
}

}  // namespace nubo
