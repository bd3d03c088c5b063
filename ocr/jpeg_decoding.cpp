#include "jpeg_decoding.h"

#include "pixel_limit.h"
#include "rgb_pix.h"

#include <leptonica/allheaders.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace mivo::ocr {
namespace {

// Progressive files can hold thousands of tiny scans that take minutes to
// decode; real photos and screenshots have around ten.
constexpr int kMaxProgressiveScans = 500;

struct QuietErrorManager {
  jpeg_error_mgr manager{};
  jpeg_progress_mgr progress{};
  std::jmp_buf recovery{};
};

[[noreturn]] void jumpToRecovery(j_common_ptr info) {
  auto* errors = reinterpret_cast<QuietErrorManager*>(info->err);
  std::longjmp(errors->recovery, 1);
}

void discardMessage(j_common_ptr /*info*/) {}

void refuseEndlessScans(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxProgressiveScans) {
    jumpToRecovery(info);
  }
}

// Everything between setjmp and a possible longjmp is plain C data, so the
// jump skips no destructor.
Pix* decodeIntoPix(const unsigned char* data, unsigned long size) {
  jpeg_decompress_struct info{};
  QuietErrorManager errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jumpToRecovery;
  errors.manager.output_message = discardMessage;
  errors.progress.progress_monitor = refuseEndlessScans;
  Pix* volatile pix = nullptr;
  if (setjmp(errors.recovery) != 0) {
    jpeg_destroy_decompress(&info);
    Pix* failed = pix;
    pixDestroy(&failed);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  info.progress = &errors.progress;
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  if (!fitsPixelLimit(info.image_width, info.image_height) ||
      info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  pix = createRgbPix(static_cast<int>(info.output_width), static_cast<int>(info.output_height))
            .release();
  if (pix == nullptr) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                             info.output_width * 3, 1);
  while (info.output_scanline < info.output_height) {
    const auto y = static_cast<int>(info.output_scanline);
    jpeg_read_scanlines(&info, row, 1);
    copyRgbRowToPix(row[0], y, pix);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pix;
}

}  // namespace

Image decodeJpeg(std::string_view bytes) {
  return Image{decodeIntoPix(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())};
}

}  // namespace mivo::ocr
