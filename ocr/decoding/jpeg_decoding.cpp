#include "decoding/jpeg_decoding.h"

#include <jpeglib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <string_view>

#include <leptonica/allheaders.h>

#include "decoding/exif_orientation.h"
#include "decoding/pixel_limit.h"
#include "decoding/rgb_pix.h"
#include "decoding/upright_image.h"

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

// Files written by Adobe software (most CMYK JPEGs) store the inks
// inverted: 255 is no ink.
void cmykRowToRgb(const JSAMPLE* cmyk, JDIMENSION width, bool inverted, JSAMPLE* rgb) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned black = inverted ? cmyk[3] : 255U - cmyk[3];
    for (int channel = 0; channel < 3; ++channel) {
      const unsigned ink = inverted ? cmyk[channel] : 255U - cmyk[channel];
      rgb[channel] = static_cast<JSAMPLE>(ink * black / 255U);
    }
  }
}

// The declared pixel density, so that the engine measures its layout gaps in
// real units; 0 when the file gives only an aspect ratio.
l_int32 dotsPerInch(const jpeg_decompress_struct& info) {
  constexpr double kCentimetresPerInch = 2.54;
  switch (info.density_unit) {
    case 1:
      return info.X_density;
    case 2:
      return static_cast<l_int32>(std::lround(info.X_density * kCentimetresPerInch));
    default:
      return 0;
  }
}

constexpr std::string_view kExifHeader{"Exif\0\0", 6};

// Reads each APP1 segment in the decoder's place and notes the first that
// holds EXIF data (in `client_data`), seen in place: the decoder reads the
// file's bytes in memory, so nothing is copied.
boolean findExifSegment(j_decompress_ptr info) {
  jpeg_source_mgr& source = *info->src;
  const std::size_t available = source.bytes_in_buffer;
  const std::size_t length =
      available >= 2 ? (std::size_t{source.next_input_byte[0]} << 8U) | source.next_input_byte[1]
                     : 0;
  if (length < 2 || length > available) {
    (*info->err->error_exit)(reinterpret_cast<j_common_ptr>(info));  // damaged: does not return
    return FALSE;
  }
  const std::string_view data(reinterpret_cast<const char*>(source.next_input_byte) + 2,
                              length - 2);
  auto* exif = static_cast<std::string_view*>(info->client_data);
  if (exif->empty() && data.starts_with(kExifHeader)) {
    *exif = data;
  }
  (*source.skip_input_data)(info, static_cast<long>(length));
  return TRUE;
}

void refuseEndlessScans(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxProgressiveScans) {
    jumpToRecovery(info);
  }
}

// Everything between setjmp and a possible longjmp is plain C data, so the
// jump skips no destructor.
Pix* decodeIntoPix(const unsigned char* data, unsigned long size, int& orientation) {
  jpeg_decompress_struct info{};
  QuietErrorManager errors;
  std::string_view exif;
  info.client_data = &exif;
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
  jpeg_set_marker_processor(&info, JPEG_APP0 + 1, findExifSegment);
  jpeg_read_header(&info, TRUE);
  orientation = exifOrientation(exif);
  if (!fitsPixelLimit(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  // A grey photo or scan stays grey: a quarter of the memory of RGB.
  const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
  info.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&info);
  const auto width = static_cast<int>(info.output_width);
  const auto height = static_cast<int>(info.output_height);
  pix = (grey ? createGreyPix(width, height) : createRgbPix(width, height)).release();
  if (pix == nullptr) {
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  pixSetResolution(pix, dotsPerInch(info), dotsPerInch(info));
  // Rows live in the decoder's own memory pool, freed with it on any exit.
  JSAMPARRAY rows = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                              info.output_width * 4, 2);
  while (info.output_scanline < info.output_height) {
    const auto y = static_cast<int>(info.output_scanline);
    jpeg_read_scanlines(&info, rows, 1);
    if (cmyk) {
      cmykRowToRgb(rows[0], info.output_width, info.saw_Adobe_marker != 0, rows[1]);
    }
    if (grey) {
      copyGreyRowToPix(rows[0], y, pix);
    } else {
      copyRgbRowToPix(rows[cmyk ? 1 : 0], y, pix);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pix;
}

}  // namespace

Image decodeJpeg(std::string_view bytes) {
  int orientation = kUprightOrientation;
  Image pix{decodeIntoPix(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          orientation)};
  return turnUpright(std::move(pix), orientation);
}

}  // namespace mivo::ocr
