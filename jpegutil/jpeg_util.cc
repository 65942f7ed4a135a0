// libjpeg-based compression, decoding, quantisation table reading and quality
// estimate (see jpeg_util.h).
#include "jpegutil/jpeg_util.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace nubo {
namespace {

// ---------------------------------------------------------------------------
// libjpeg error handling: its default error_exit prints and calls exit(); ours
// keeps the message and jumps back to the function that called libjpeg.
// ---------------------------------------------------------------------------

struct ErrorManager {
  jpeg_error_mgr pub;  // must stay first: libjpeg sees only this part
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings and trace messages are dropped: libraries do not print.
void onJpegMessage(j_common_ptr /*cinfo*/) {}

void installErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = onJpegError;
  err->pub.output_message = onJpegMessage;
  err->message[0] = '\0';
}

// Runs work(), which creates cinfo, drives libjpeg with it and destroys it,
// with libjpeg's errors caught: on one, cinfo is destroyed, undo() runs and
// the result is kInvalidData with libjpeg's message. work must hold no object
// with a destructor across its libjpeg calls: an error jumps back here past
// them.
template <typename Info, typename Work, typename Undo>
Status catchingJpegErrors(Info* cinfo, const Work& work, const Undo& undo) {
  ErrorManager err;
  installErrorManager(&err);
  cinfo->err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy(reinterpret_cast<j_common_ptr>(cinfo));  // either kind of cinfo
    undo();
    return Status(StatusCode::kInvalidData, std::string("libjpeg: ") + err.message);
  }
  return work();
}

// libjpeg's mem destination allocates with malloc; the caller frees.
struct MemoryTarget {
  unsigned char* buffer = nullptr;
  unsigned long size = 0;  // NOLINT(runtime/int): libjpeg's type
};

// Largest JPEG side libjpeg accepts (JPEG_MAX_DIMENSION in jmorecfg.h).
constexpr int kMaxJpegSide = 65500;
// Largest picture decodeJpegGrey allocates, in pixels (256 Mpixel).
constexpr int64_t kMaxDecodedPixels = int64_t{1} << 28;

Status compressPixels(const uint8_t* pixels, int width, int height, int components,
                      J_COLOR_SPACE colourSpace, int quality, bool topRowFirst,
                      std::vector<uint8_t>* out) {
  if (pixels == nullptr || out == nullptr) {
    return Status(StatusCode::kInvalidArgument, "no pixels or no output buffer");
  }
  if (width <= 0 || height <= 0 || width > kMaxJpegSide || height > kMaxJpegSide) {
    return Status(StatusCode::kInvalidArgument, "picture size outside what JPEG can store");
  }
  if (quality < 1 || quality > 100) {
    return Status(StatusCode::kInvalidArgument, "JPEG quality must be 1..100");
  }
  out->clear();

  jpeg_compress_struct cinfo;
  MemoryTarget target;
  return catchingJpegErrors(
      &cinfo,
      [&]() {
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &target.buffer, &target.size);
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = components;
        cinfo.in_color_space = colourSpace;
        jpeg_set_defaults(&cinfo);  // YCbCr 4:2:0 for RGB input, Huffman tables, JFIF
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.dct_method = JDCT_ISLOW;
        jpeg_start_compress(&cinfo, TRUE);
        const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(components);
        while (cinfo.next_scanline < cinfo.image_height) {
          const size_t y = cinfo.next_scanline;
          const size_t row = topRowFirst ? y : static_cast<size_t>(height) - 1 - y;
          // libjpeg only reads the rows; its API is not const-correct.
          JSAMPROW rowPointer = const_cast<JSAMPLE*>(pixels + row * stride);
          jpeg_write_scanlines(&cinfo, &rowPointer, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::unique_ptr<unsigned char, decltype(&std::free)> owned(target.buffer, &std::free);
        out->assign(target.buffer, target.buffer + target.size);
        return Status::Ok();
      },
      [&]() { std::free(target.buffer); });
}

bool looksLikeJpeg(const uint8_t* data, size_t size) {
  // SOI marker followed by the start of another marker.
  return data != nullptr && size >= 4 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// Empties *out, opens the JPEG in data and reads its header, then returns
// read(&cinfo) and frees the decompressor. Not a JPEG, or any libjpeg error on
// the way (read's included): kInvalidData with libjpeg's message, *out empty.
// read must hold no object with a destructor across its libjpeg calls.
template <typename Out, typename Read>
Status withJpegHeader(const uint8_t* data, size_t size, Out* out, Read read) {
  *out = Out();
  if (!looksLikeJpeg(data, size)) return Status(StatusCode::kInvalidData, "not a JPEG file");

  jpeg_decompress_struct cinfo;
  return catchingJpegErrors(
      &cinfo,
      [&]() {
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));  // NOLINT(runtime/int)
        jpeg_read_header(&cinfo, TRUE);
        const Status status = read(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        return status;
      },
      [&]() { *out = Out(); });
}

// Natural-order standard tables of the JPEG standard's annex K, which
// jpeg_set_quality scales.
constexpr std::array<uint16_t, 64> kStdLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<uint16_t, 64> kStdChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

int64_t squaredDifference(const std::array<uint16_t, 64>& a, const std::array<uint16_t, 64>& b) {
  int64_t sum = 0;
  for (int i = 0; i < 64; ++i) {
    const int64_t d = static_cast<int64_t>(a[i]) - static_cast<int64_t>(b[i]);
    sum += d * d;
  }
  return sum;
}

}  // namespace

Status compressJpeg(const uint8_t* rgb, int width, int height, int quality, bool topRowFirst,
                    std::vector<uint8_t>* out) {
  return compressPixels(rgb, width, height, 3, JCS_RGB, quality, topRowFirst, out);
}

Status compressJpegGrey(const uint8_t* grey, int width, int height, int quality,
                        std::vector<uint8_t>* out) {
  return compressPixels(grey, width, height, 1, JCS_GRAYSCALE, quality, true, out);
}

Status decodeJpegGrey(const uint8_t* data, size_t size, GreyImage* out) {
  if (out == nullptr) return Status(StatusCode::kInvalidArgument, "no output picture");
  return withJpegHeader(data, size, out, [out](jpeg_decompress_struct* cinfo) {
    if (static_cast<int64_t>(cinfo->image_width) * cinfo->image_height > kMaxDecodedPixels) {
      return Status(StatusCode::kTooLarge, "JPEG picture too large");
    }
    cinfo->out_color_space = JCS_GRAYSCALE;  // for YCbCr files: the Y component as stored
    cinfo->dct_method = JDCT_ISLOW;
    jpeg_start_decompress(cinfo);
    out->width = static_cast<int>(cinfo->output_width);
    out->height = static_cast<int>(cinfo->output_height);
    out->pixels.resize(static_cast<size_t>(out->width) * static_cast<size_t>(out->height));
    while (cinfo->output_scanline < cinfo->output_height) {
      JSAMPROW rowPointer =
          out->pixels.data() + static_cast<size_t>(cinfo->output_scanline) * out->width;
      jpeg_read_scanlines(cinfo, &rowPointer, 1);
    }
    jpeg_finish_decompress(cinfo);
    return Status::Ok();
  });
}

Status readJpegQuantTables(const uint8_t* data, size_t size, JpegQuantTables* out) {
  if (out == nullptr) return Status(StatusCode::kInvalidArgument, "no output tables");
  return withJpegHeader(data, size, out, [out](jpeg_decompress_struct* cinfo) {
    out->componentCount = cinfo->num_components;
    for (int t = 0; t < kMaxQuantTables; ++t) {
      const JQUANT_TBL* table = cinfo->quant_tbl_ptrs[t];
      if (table == nullptr) continue;
      out->present[t] = true;
      for (int k = 0; k < 64; ++k) out->table[t][k] = table->quantval[k];
    }
    for (int c = 0; c < cinfo->num_components && c < kMaxQuantTables; ++c) {
      const int slot = cinfo->comp_info[c].quant_tbl_no;
      // The frame header may name a slot no DQT filled; libjpeg only notices later.
      out->componentTable[c] =
          (slot >= 0 && slot < kMaxQuantTables && out->present[slot]) ? slot : -1;
    }
    return Status::Ok();
  });
}

std::array<uint16_t, 64> libjpegQuantTable(int quality, bool chroma, bool forceBaseline) {
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  // jpeg_quality_scaling: percentage scale of the standard table.
  const int64_t scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  const std::array<uint16_t, 64>& base = chroma ? kStdChrominance : kStdLuminance;
  // 32767 is the largest value libjpeg stores; 255 the baseline (8-bit) limit.
  const int64_t maxValue = forceBaseline ? 255 : 32767;
  std::array<uint16_t, 64> scaled{};
  for (int i = 0; i < 64; ++i) {
    int64_t v = (base[i] * scale + 50) / 100;  // rounded as jpeg_add_quant_table does
    if (v < 1) v = 1;
    if (v > maxValue) v = maxValue;
    scaled[i] = static_cast<uint16_t>(v);
  }
  return scaled;
}

int estimateQualityFromTables(const JpegQuantTables& tables, bool* exact) {
  if (exact != nullptr) *exact = false;
  const int lumaSlot = tables.componentTable[0];
  if (lumaSlot < 0 || lumaSlot >= kMaxQuantTables || !tables.present[lumaSlot]) return -1;
  // The luminance table alone: cleaning changes only luminance, so how coarse
  // the colour tables are says nothing about the ringing it removes.
  int bestQuality = -1;
  int64_t bestError = 0;
  for (int q = 1; q <= 100; ++q) {
    for (bool baseline : {true, false}) {
      const int64_t error =
          squaredDifference(tables.table[lumaSlot], libjpegQuantTable(q, false, baseline));
      // "<=" with rising q: among equal matches the highest quality wins.
      if (bestQuality < 0 || error <= bestError) {
        bestQuality = q;
        bestError = error;
      }
    }
  }
  if (exact != nullptr) *exact = (bestError == 0);
  return bestQuality;
}

int estimateJpegQuality(const uint8_t* data, size_t size) {
  JpegQuantTables tables;
  if (!readJpegQuantTables(data, size, &tables).ok()) return -1;
  return estimateQualityFromTables(tables);
}

}  // namespace nubo
