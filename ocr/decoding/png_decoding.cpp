#include "decoding/png_decoding.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <leptonica/allheaders.h>

#include "decoding/exif_orientation.h"
#include "decoding/onto_white.h"
#include "decoding/pixel_limit.h"
#include "decoding/upright_image.h"

namespace mivo::ocr {
namespace {

// Text, ICC profiles and private chunks are never used, yet a file of a few
// bytes can declare one of gigabytes, which the PNG library would allocate
// before finding the data missing. Only these ancillary chunks are read
// (eXIf for the orientation); no chunk but the image data may take more than
// a megabyte.
constexpr std::array<png_byte, 15> kUsedAncillaryChunks{'t', 'R',  'N', 'S', '\0', 'p', 'H', 'Y',
                                                        's', '\0', 'e', 'X', 'I',  'f', '\0'};
constexpr png_alloc_size_t kMaxChunkBytes = 1U << 20;
constexpr double kInchesPerMetre = 0.0254;

struct MemoryReader {
  const png_byte* data = nullptr;
  std::size_t size = 0;
  std::size_t offset = 0;
};

void readFromMemory(png_structp png, png_bytep target, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->size - reader->offset) {
    png_error(png, "truncated");
  }
  std::memcpy(target, reader->data + reader->offset, length);
  reader->offset += length;
}

[[noreturn]] void jumpToRecovery(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

void discardWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  MemoryReader input;

  explicit PngReader(std::string_view bytes)
      : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpToRecovery, discardWarning)),
        info(png != nullptr ? png_create_info_struct(png) : nullptr),
        input{reinterpret_cast<const png_byte*>(bytes.data()), bytes.size(), 0} {
    if (info != nullptr) {
      png_set_read_fn(png, &input, readFromMemory);
      png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
      png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedAncillaryChunks.data(),
                                  kUsedAncillaryChunks.size() / 5);
      png_set_chunk_malloc_max(png, kMaxChunkBytes);
    }
  }
  ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
};

// A page with neither colour nor transparency (most scans) stays grey: a
// quarter of the memory of RGB. Grey at any depth becomes 8-bit.
bool isOpaqueGrey(png_structp png, png_infop info) {
  const png_byte type = png_get_color_type(png, info);
  return (type & (PNG_COLOR_MASK_COLOR | PNG_COLOR_MASK_ALPHA)) == 0 &&
         png_get_valid(png, info, PNG_INFO_tRNS) == 0;
}

void requestGreyPixels(png_structp png, png_infop info) {
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
}

// Every other colour type and depth becomes 8-bit RGB with an alpha byte,
// laid out in memory as a 32-bit Leptonica pixel (red in the high byte), so
// rows can be read straight into the image.
void requestLeptonicaPixels(png_structp png, png_infop info) {
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  if constexpr (std::endian::native == std::endian::little) {
    png_set_bgr(png);
    png_set_swap_alpha(png);
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  } else {
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
}

// Reads the header and sets up the transformations. Plain C data only
// between setjmp and a possible longjmp, so the jump skips no destructor.
bool readHeader(PngReader& reader, png_uint_32& width, png_uint_32& height, bool& grey) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) {
    return false;
  }
  png_read_info(reader.png, reader.info);
  width = png_get_image_width(reader.png, reader.info);
  height = png_get_image_height(reader.png, reader.info);
  if (!fitsPixelLimit(width, height)) {
    return false;
  }
  grey = isOpaqueGrey(reader.png, reader.info);
  if (grey) {
    requestGreyPixels(reader.png, reader.info);
  } else {
    requestLeptonicaPixels(reader.png, reader.info);
  }
  return png_get_rowbytes(reader.png, reader.info) ==
         static_cast<png_size_t>(width) * (grey ? 1 : 4);
}

bool readRows(PngReader& reader, png_bytepp rows) {
  if (setjmp(png_jmpbuf(reader.png)) != 0) {
    return false;
  }
  png_read_image(reader.png, rows);
  return true;
}

// The declared pixel density, so that the engine measures its layout gaps in
// real units; 0 when the file does not say.
l_int32 dotsPerInch(const PngReader& reader) {
  png_uint_32 xPerUnit = 0;
  png_uint_32 yPerUnit = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  if (png_get_pHYs(reader.png, reader.info, &xPerUnit, &yPerUnit, &unit) == 0 ||
      unit != PNG_RESOLUTION_METER || xPerUnit != yPerUnit) {
    return 0;
  }
  return static_cast<l_int32>(std::lround(std::min<double>(xPerUnit, 1e6) * kInchesPerMetre));
}

// Only an eXIf chunk before the image data counts: the rest of the file is
// not read.
int orientation(const PngReader& reader) {
  png_uint_32 length = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(reader.png, reader.info, &length, &exif) == 0 || exif == nullptr) {
    return kUprightOrientation;
  }
  return exifOrientation(std::string_view(reinterpret_cast<const char*>(exif), length));
}

}  // namespace

Image decodePng(std::string_view bytes) {
  PngReader reader(bytes);
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  bool grey = false;
  if (reader.info == nullptr || !readHeader(reader, width, height, grey)) {
    return Image{};
  }
  Image pix{pixCreate(static_cast<l_int32>(width), static_cast<l_int32>(height), grey ? 8 : 32)};
  if (!pix) {
    return pix;
  }
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) {
    rows[y] = reinterpret_cast<png_bytep>(pixGetData(pix.get()) +
                                          static_cast<std::ptrdiff_t>(y) * pixGetWpl(pix.get()));
  }
  if (!readRows(reader, rows.data())) {
    return Image{};
  }
  if (grey) {
    pixEndianByteSwap(pix.get());  // bytes in file order to Leptonica's words
  } else {
    composeOntoWhite(pix.get());
    pixSetSpp(pix.get(), 3);
  }
  const l_int32 dpi = dotsPerInch(reader);
  pixSetResolution(pix.get(), dpi, dpi);
  return turnUpright(std::move(pix), orientation(reader));
}

}  // namespace mivo::ocr
