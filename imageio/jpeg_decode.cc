// JPEG decoding with libjpeg (see jpeg_decode.h).
//
// libjpeg reports fatal errors through error_exit, which must not return: ours
// longjmps. Every setjmp lives in one of the few C-style functions below whose
// frames hold only plain data, so a jump never skips a C++ destructor; the C++
// code around them allocates, copies and converts between the calls.
#include "imageio/jpeg_decode.h"

#include <lcms2.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "imageio/metadata_read.h"

namespace nubo {
namespace {

// --- libjpeg sessions ------------------------------------------------------------

struct JpegErrors {
  jpeg_error_mgr pub;  // must stay first: libjpeg sees only this part
  jmp_buf jump;
  char error[JMSG_LENGTH_MAX];
  char firstWarning[JMSG_LENGTH_MAX];  // first warning about corrupt data
  bool damaged;                        // some corrupt-data warning was given
  bool endedEarly;                     // the data ran out (libjpeg then fakes an end marker)
};

void onJpegError(j_common_ptr cinfo) {
  JpegErrors* err = reinterpret_cast<JpegErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->error);
  std::longjmp(err->jump, 1);
}

// Warnings (level -1) are collected; trace messages dropped; nothing printed.
void onJpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  JpegErrors* err = reinterpret_cast<JpegErrors*>(cinfo->err);
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JPEG_EOF) {
    err->endedEarly = true;
  } else if (code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM) {
    // The two left out describe headers libjpeg reads anyway, not damage.
    if (!err->damaged) (*cinfo->err->format_message)(cinfo, err->firstWarning);
    err->damaged = true;
  }
  cinfo->err->num_warnings++;
}

// Real progressive files have a dozen scans or so; a crafted one can repeat a
// scan without end and keep the decoder busy for minutes.
constexpr int kMaxScans = 1000;

struct JpegSession {
  jpeg_decompress_struct cinfo;
  JpegErrors err;
  jpeg_progress_mgr progress;
};

void onJpegProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    JpegErrors* err = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::snprintf(err->error, sizeof(err->error), "more than %d scans", kMaxScans);
    std::longjmp(err->jump, 1);
  }
}

// The longjmp-safe steps. Each returns false after a libjpeg error, whose text
// is then in session->err.error. Their frames hold no C++ objects.

bool jpegReadHeader(JpegSession* s, const uint8_t* data, size_t size) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->progress.progress_monitor = onJpegProgress;
  s->cinfo.progress = &s->progress;
  jpeg_mem_src(&s->cinfo, data, static_cast<unsigned long>(size));  // NOLINT(runtime/int)
  jpeg_save_markers(&s->cinfo, JPEG_APP0 + 1, 0xFFFF);              // EXIF, XMP
  jpeg_save_markers(&s->cinfo, JPEG_APP0 + 2, 0xFFFF);              // ICC
  jpeg_read_header(&s->cinfo, TRUE);
  return true;
}

// Decodes every row into out: bytesPerPixel bytes a pixel, the top row at
// out + (height - 1) * stride and each next row stride bytes lower.
bool jpegReadRows(JpegSession* s, J_COLOR_SPACE space, uint8_t* out, size_t stride) {
  if (setjmp(s->err.jump)) return false;
  jpeg_decompress_struct* cinfo = &s->cinfo;
  cinfo->out_color_space = space;
  cinfo->dct_method = JDCT_ISLOW;
  cinfo->do_fancy_upsampling = TRUE;
  jpeg_start_decompress(cinfo);
  const size_t height = cinfo->output_height;
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = out + (height - 1 - cinfo->output_scanline) * stride;
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

// Owns a session: destroys libjpeg's part with it (which cannot fail).
class Decompressor {
 public:
  Decompressor() : session_(new JpegSession) {
    std::memset(session_.get(), 0, sizeof(JpegSession));
    JpegErrors* err = &session_->err;
    jpeg_std_error(&err->pub);
    err->pub.error_exit = onJpegError;
    err->pub.emit_message = onJpegMessage;
    session_->cinfo.err = &err->pub;
  }
  ~Decompressor() { jpeg_destroy_decompress(&session_->cinfo); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  JpegSession* get() { return session_.get(); }

 private:
  std::unique_ptr<JpegSession> session_;
};

// --- the file's own structure ---------------------------------------------------

// Offset of the first byte after the first scan header (SOS); size when the
// file ends before one is complete; 0 when an end marker comes first.
size_t firstScanData(const uint8_t* data, size_t size) {
  size_t pos = 2;  // after SOI
  for (;;) {
    while (pos < size && data[pos] != 0xFF) ++pos;
    while (pos < size && data[pos] == 0xFF) ++pos;
    if (pos >= size) return size;
    const uint8_t marker = data[pos++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (marker == 0xD9) return 0;
    if (size - pos < 2) return size;
    const size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
    if (length < 2 || length > size - pos) return size;
    if (marker == 0xDA) return pos + length;
    pos += length;
  }
}

// The ICC profile spread over APP2 "ICC_PROFILE\0" segments: each carries its
// number (1..count) and the count, and must appear exactly once. Empty when
// there is none or the set is incomplete or inconsistent.
std::vector<uint8_t> assembleIcc(jpeg_saved_marker_ptr markers) {
  static const char kTag[] = "ICC_PROFILE";   // 12 bytes with its NUL
  constexpr size_t kHead = sizeof(kTag) + 2;  // tag, sequence number, count
  const uint8_t* parts[256] = {};
  size_t sizes[256] = {};
  int count = 0;
  size_t total = 0;
  for (jpeg_saved_marker_ptr m = markers; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 2 || m->data_length < kHead ||
        std::memcmp(m->data, kTag, sizeof(kTag)) != 0) {
      continue;
    }
    const int seq = m->data[sizeof(kTag)], n = m->data[sizeof(kTag) + 1];
    if (n == 0 || seq == 0 || seq > n || (count != 0 && n != count) || parts[seq] != nullptr) {
      return {};
    }
    count = n;
    parts[seq] = m->data + kHead;
    sizes[seq] = m->data_length - kHead;
    total += sizes[seq];
  }
  if (count == 0 || total > kMaxIccBytes) return {};
  std::vector<uint8_t> icc;
  icc.reserve(total);
  for (int seq = 1; seq <= count; ++seq) {
    if (parts[seq] == nullptr) return {};
    icc.insert(icc.end(), parts[seq], parts[seq] + sizes[seq]);
  }
  return icc;
}

void readMetadata(jpeg_saved_marker_ptr markers, ImageMetadata* metadata) {
  static const char kExif[] = "Exif\0";                       // 6 bytes with the last NUL
  static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // 29 bytes with its NUL
  for (jpeg_saved_marker_ptr m = markers; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    const uint8_t* d = m->data;
    const size_t n = m->data_length;
    if (metadata->exif.empty() && n > sizeof(kExif) && std::memcmp(d, kExif, sizeof(kExif)) == 0) {
      metadata->exif.assign(d + sizeof(kExif), d + n);
    } else if (metadata->xmp.empty() && n > sizeof(kXmp) &&
               std::memcmp(d, kXmp, sizeof(kXmp)) == 0) {
      metadata->xmp.assign(reinterpret_cast<const char*>(d) + sizeof(kXmp), n - sizeof(kXmp));
      if (!xmpUsable(metadata->xmp)) metadata->xmp.clear();
    }
  }
  metadata->icc = assembleIcc(markers);
}

// --- CMYK to RGB ---------------------------------------------------------------

// Converts width x height CMYK pixels (4 bytes each, rows as in rgb) to RGB
// through the CMYK profile icc, into sRGB. inverted: the bytes hold 255 minus
// the ink. False when the profile cannot be used.
bool cmykThroughProfile(const std::vector<uint8_t>& icc, bool inverted, const uint8_t* cmyk,
                        size_t pixels, uint8_t* rgb) {
  if (!iccProfileFits(icc, ProfileColours::kCmyk)) return false;
  cmsHPROFILE in = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  if (in == nullptr) return false;
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM transform = srgb == nullptr
                                ? nullptr
                                : cmsCreateTransform(in, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                                                     srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  cmsCloseProfile(in);
  if (srgb != nullptr) cmsCloseProfile(srgb);
  if (transform == nullptr) return false;
  // In slices: cmsDoTransform counts pixels in 32 bits.
  constexpr size_t kSlice = size_t{1} << 20;
  for (size_t done = 0; done < pixels; done += kSlice) {
    const size_t n = pixels - done < kSlice ? pixels - done : kSlice;
    cmsDoTransform(transform, cmyk + done * 4, rgb + done * 3, static_cast<cmsUInt32Number>(n));
  }
  cmsDeleteTransform(transform);
  return true;
}

// The conversion common viewers use without a profile:
// R = 255 (1 - C)(1 - K), G = 255 (1 - M)(1 - K), B = 255 (1 - Y)(1 - K), rounded.
void cmykPlain(bool inverted, const uint8_t* cmyk, size_t pixels, uint8_t* rgb) {
  for (size_t i = 0; i < pixels; ++i, cmyk += 4, rgb += 3) {
    // Amounts of paper left white, 0..255.
    const unsigned c = inverted ? cmyk[0] : 255u - cmyk[0];
    const unsigned m = inverted ? cmyk[1] : 255u - cmyk[1];
    const unsigned y = inverted ? cmyk[2] : 255u - cmyk[2];
    const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
    rgb[0] = static_cast<uint8_t>((c * k + 127) / 255);
    rgb[1] = static_cast<uint8_t>((m * k + 127) / 255);
    rgb[2] = static_cast<uint8_t>((y * k + 127) / 255);
  }
}

Status damaged(const std::string& why) {
  return Status(StatusCode::kInvalidData, "damaged JPEG file: " + why);
}

}  // namespace

Status decodeJpeg(const uint8_t* data, size_t size, DecodedImage* out) {
  *out = DecodedImage();
  Decompressor decompressor;
  JpegSession* s = decompressor.get();
  const bool endsBeforeScan = firstScanData(data, size) >= size;
  auto failure = [&]() {
    if (s->err.endedEarly || endsBeforeScan) return damaged("file ends early");
    if (s->err.pub.msg_code == JERR_OUT_OF_MEMORY) {
      return tooLittleMemory();
    }
    return Status(StatusCode::kInvalidData,
                  std::string("cannot decode JPEG file: ") + s->err.error);
  };
  if (!jpegReadHeader(s, data, size)) return failure();
  if (endsBeforeScan) return damaged("file ends early");
  jpeg_decompress_struct& cinfo = s->cinfo;

  J_COLOR_SPACE space;
  int bytesPerPixel;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      space = JCS_GRAYSCALE, bytesPerPixel = 1;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      space = JCS_RGB, bytesPerPixel = 3;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      space = JCS_CMYK, bytesPerPixel = 4;
      break;
    default:
      return Status(StatusCode::kInvalidData, "unsupported JPEG file: unknown colour space");
  }
  const int width = static_cast<int>(cinfo.image_width);
  const int height = static_cast<int>(cinfo.image_height);
  readMetadata(cinfo.marker_list, &out->metadata);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);

  // Grey and RGB rows go straight into the output (grey spread out below);
  // CMYK needs a buffer of its own.
  std::vector<uint8_t> cmyk;
  out->rgb.resize(pixels * 3);
  uint8_t* target = out->rgb.data();
  if (space == JCS_CMYK) {
    cmyk.resize(pixels * 4);
    target = cmyk.data();
  }
  const size_t stride = static_cast<size_t>(width) * (space == JCS_GRAYSCALE ? 3 : bytesPerPixel);
  if (!jpegReadRows(s, space, target, stride)) {
    // An error after the last row (met while reading on to the end marker,
    // such as a marker that damage made up in the scan data) leaves a whole
    // picture: keep it, as damaged.
    const bool allRows = cinfo.output_height > 0 && cinfo.output_scanline == cinfo.output_height;
    if (!allRows || s->err.endedEarly) return failure();
    if (!s->err.damaged) std::memcpy(s->err.firstWarning, s->err.error, sizeof(s->err.error));
    s->err.damaged = true;
  }
  if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height ||
      cinfo.output_components != bytesPerPixel) {
    return Status(StatusCode::kInvalidData, "cannot decode JPEG file: unexpected pixel layout");
  }

  if (space == JCS_GRAYSCALE) {
    // Each row holds width grey bytes at its start: spread them from the end.
    for (size_t r = 0; r < static_cast<size_t>(height); ++r) {
      uint8_t* row = out->rgb.data() + r * stride;
      for (size_t x = static_cast<size_t>(width); x-- > 0;) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
      }
    }
    if (!iccProfileFits(out->metadata.icc, ProfileColours::kGrey)) out->metadata.icc.clear();
  } else if (space == JCS_RGB) {
    if (!iccProfileFits(out->metadata.icc, ProfileColours::kRgb)) out->metadata.icc.clear();
  } else {
    // Adobe's applications write CMYK and YCCK with the ink inverted and mark
    // such files with their APP14 segment; common viewers read them so.
    const bool inverted = cinfo.saw_Adobe_marker != 0;
    if (!cmykThroughProfile(out->metadata.icc, inverted, cmyk.data(), pixels, out->rgb.data())) {
      cmykPlain(inverted, cmyk.data(), pixels, out->rgb.data());
    }
    out->metadata.icc.clear();  // the pixels are no longer in the profile's colours
  }

  out->width = width;
  out->height = height;
  if (s->err.endedEarly) {
    out->warning = "damaged JPEG data (file ends early)";
  } else if (s->err.damaged) {
    std::string why = s->err.firstWarning;
    static const char kPrefix[] = "Corrupt JPEG data: ";
    if (why.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0) why.erase(0, sizeof(kPrefix) - 1);
    out->warning = "damaged JPEG data (" + why + ")";
  }
  return Status::Ok();
}

}  // namespace nubo
