#include "test_images.h"

#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>

#include <leptonica/allheaders.h>
#include <libheif/heif.h>
#include <webp/mux.h>

namespace mivo::ocr::testing {
namespace {

struct PixDestroyer {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixHandle = std::unique_ptr<Pix, PixDestroyer>;

PixHandle readPix(const std::filesystem::path& path) {
  PixHandle pix{pixRead(path.c_str())};
  if (!pix) {
    throw std::runtime_error("cannot read " + path.string());
  }
  return pix;
}

void require(bool ok, const std::string& what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

}  // namespace

// The orientation goes into the file as rotation and mirroring boxes.
void writeHeic(Pix* source, const std::filesystem::path& target, int orientation) {
  const bool alpha = pixGetDepth(source) == 32 && pixGetSpp(source) == 4;
  const PixHandle rgb{alpha ? pixClone(source) : pixConvertTo32(source)};
  const int width = static_cast<int>(pixGetWidth(rgb.get()));
  const int height = static_cast<int>(pixGetHeight(rgb.get()));
  heif_image* image = nullptr;
  require(
      heif_image_create(width, height, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image)
              .code == heif_error_Ok,
      "heif_image_create");
  heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      l_int32 red = 0;
      l_int32 green = 0;
      l_int32 blue = 0;
      pixGetRGBPixel(rgb.get(), x, y, &red, &green, &blue);
      std::uint8_t* pixel = plane + y * stride + (alpha ? 4 : 3) * x;
      pixel[0] = static_cast<std::uint8_t>(red);
      pixel[1] = static_cast<std::uint8_t>(green);
      pixel[2] = static_cast<std::uint8_t>(blue);
      if (alpha) {
        l_uint32 value = 0;
        pixGetPixel(rgb.get(), x, y, &value);
        pixel[3] = static_cast<std::uint8_t>(value & 0xFFU);
      }
    }
  }
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  require(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code ==
              heif_error_Ok,
          "no HEVC encoder");
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = static_cast<heif_orientation>(orientation);
  const bool encoded =
      heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok &&
      heif_context_write_to_file(context, target.c_str()).code == heif_error_Ok;
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  heif_context_free(context);
  heif_image_release(image);
  require(encoded, "HEIC encoding failed");
}

namespace {

void appendChunk(std::string& png, const std::string& type, const std::string& data) {
  const auto putBigEndian = [&png](std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      png += static_cast<char>((value >> shift) & 0xFFU);
    }
  };
  putBigEndian(static_cast<std::uint32_t>(data.size()));
  const std::string typed = type + data;
  png += typed;
  putBigEndian(static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

void putInteger(std::string& bytes, std::uint32_t value, int length, bool bigEndian) {
  for (int index = 0; index < length; ++index) {
    const int shift = 8 * (bigEndian ? length - 1 - index : index);
    bytes += static_cast<char>((value >> shift) & 0xFFU);
  }
}

std::string encoded(Pix* pix, l_int32 format) {
  l_uint8* data = nullptr;
  std::size_t size = 0;
  require(pixWriteMem(&data, &size, pix, format) == 0, "cannot encode the picture");
  std::string bytes(reinterpret_cast<const char*>(data), size);
  lept_free(data);
  return bytes;
}

std::string exifOf(int orientation) {
  return tiffStructure(true, {{0x0112, 3, 1, static_cast<std::uint32_t>(orientation)}});
}

// An APP1 segment right after the start of image.
std::string jpegWithOrientation(Pix* pix, int orientation) {
  const std::string jpeg = encoded(pix, IFF_JFIF_JPEG);
  const std::string exif = std::string("Exif\0\0", 6) + exifOf(orientation);
  std::string segment = "\xFF\xE1";
  putInteger(segment, static_cast<std::uint32_t>(exif.size() + 2), 2, true);
  return jpeg.substr(0, 2) + segment + exif + jpeg.substr(2);
}

// An eXIf chunk right after the header chunk.
std::string pngWithOrientation(Pix* pix, int orientation) {
  const std::string original = encoded(pix, IFF_PNG);
  constexpr std::size_t kSignatureAndHeader = 8 + 25;
  std::string png = original.substr(0, kSignatureAndHeader);
  appendChunk(png, "eXIf", exifOf(orientation));
  return png + original.substr(kSignatureAndHeader);
}

std::string webpWithOrientation(Pix* pix, int orientation) {
  const std::string original = encoded(pix, IFF_WEBP);
  const std::string exif = exifOf(orientation);
  const WebPData image{reinterpret_cast<const std::uint8_t*>(original.data()), original.size()};
  const WebPData exifChunk{reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size()};
  WebPMux* mux = WebPMuxCreate(&image, 1);
  WebPData assembled{};
  const bool ok = mux != nullptr && WebPMuxSetChunk(mux, "EXIF", &exifChunk, 1) == WEBP_MUX_OK &&
                  WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
  WebPMuxDelete(mux);
  require(ok, "cannot add the EXIF chunk");
  std::string webp(reinterpret_cast<const char*>(assembled.bytes), assembled.size);
  WebPDataClear(&assembled);
  return webp;
}

void writeTiffWithOrientation(Pix* pix, int orientation, const std::filesystem::path& target) {
  const PixHandle grey{pixConvertTo8(pix, 0)};
  const auto width = static_cast<std::uint32_t>(pixGetWidth(grey.get()));
  const auto height = static_cast<std::uint32_t>(pixGetHeight(grey.get()));
  TIFF* tiff = TIFFOpen(target.c_str(), "w");
  require(tiff != nullptr, "cannot write the TIFF");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation);
  std::vector<std::uint8_t> row(width);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      l_uint32 value = 0;
      pixGetPixel(grey.get(), static_cast<l_int32>(x), static_cast<l_int32>(y), &value);
      row[x] = static_cast<std::uint8_t>(value);
    }
    TIFFWriteScanline(tiff, row.data(), y, 0);
  }
  TIFFClose(tiff);
}

}  // namespace

std::string tiffStructure(bool bigEndian, const std::vector<TiffEntry>& entries) {
  std::string tiff = bigEndian ? "MM" : "II";
  putInteger(tiff, 42, 2, bigEndian);
  putInteger(tiff, 8, 4, bigEndian);  // the first directory right after the header
  putInteger(tiff, static_cast<std::uint32_t>(entries.size()), 2, bigEndian);
  for (const TiffEntry& entry : entries) {
    putInteger(tiff, entry.tag, 2, bigEndian);
    putInteger(tiff, entry.type, 2, bigEndian);
    putInteger(tiff, entry.count, 4, bigEndian);
    if (entry.type == 3) {
      putInteger(tiff, entry.value, 2, bigEndian);
      putInteger(tiff, 0, 2, bigEndian);
    } else {
      putInteger(tiff, entry.value, 4, bigEndian);
    }
  }
  putInteger(tiff, 0, 4, bigEndian);  // no next directory
  return tiff;
}

void writeWithOrientation(Pix* stored, const std::string& format, int orientation,
                          const std::filesystem::path& target) {
  if (format == "heic") {
    writeHeic(stored, target, orientation);
  } else if (format == "tif") {
    writeTiffWithOrientation(stored, orientation, target);
  } else {
    const std::map<std::string, std::string (*)(Pix*, int)> kWriters{
        {"jpg", jpegWithOrientation}, {"png", pngWithOrientation}, {"webp", webpWithOrientation}};
    std::ofstream(target, std::ios::binary) << kWriters.at(format)(stored, orientation);
  }
}

void convertImage(const std::filesystem::path& source, const std::string& format,
                  const std::filesystem::path& target) {
  const PixHandle pix = readPix(source);
  if (format == "heic") {
    writeHeic(pix.get(), target);
    return;
  }
  static const std::map<std::string, l_int32> kFormats{
      {"png", IFF_PNG}, {"jpg", IFF_JFIF_JPEG}, {"tif", IFF_TIFF_ZIP}, {"bmp", IFF_BMP},
      {"gif", IFF_GIF}, {"webp", IFF_WEBP},     {"pnm", IFF_PNM}};
  require(pixWrite(target.c_str(), pix.get(), kFormats.at(format)) == 0, "cannot write " + format);
}

void writeTwoPageTiff(const std::filesystem::path& firstPage,
                      const std::filesystem::path& secondPage,
                      const std::filesystem::path& target) {
  require(pixWriteTiff(target.c_str(), readPix(firstPage).get(), IFF_TIFF_ZIP, "w") == 0 &&
              pixWriteTiff(target.c_str(), readPix(secondPage).get(), IFF_TIFF_ZIP, "a") == 0,
          "cannot write the two-page TIFF");
}

void writeWithBannerBelow(const std::filesystem::path& page, const std::filesystem::path& banner,
                          const std::filesystem::path& target) {
  const PixHandle top = readPix(page);
  const PixHandle band{pixConvertTo8(readPix(banner).get(), 0)};
  require(top && band, "cannot read the pictures to stack");
  const int width = std::max(pixGetWidth(top.get()), pixGetWidth(band.get()));
  const int height = pixGetHeight(top.get()) + pixGetHeight(band.get());
  const PixHandle stacked{pixCreate(width, height, 8)};
  pixSetAll(stacked.get());
  // Mid grey behind the banner's dark letters.
  for (int y = 0; y < pixGetHeight(band.get()); ++y) {
    for (int x = 0; x < pixGetWidth(band.get()); ++x) {
      l_uint32 value = 0;
      pixGetPixel(band.get(), x, y, &value);
      if (value >= 128) {
        pixSetPixel(band.get(), x, y, 127);
      }
    }
  }
  pixRasterop(stacked.get(), 0, 0, pixGetWidth(top.get()), pixGetHeight(top.get()), PIX_SRC,
              top.get(), 0, 0);
  pixRasterop(stacked.get(), 0, pixGetHeight(top.get()), pixGetWidth(band.get()),
              pixGetHeight(band.get()), PIX_SRC, band.get(), 0, 0);
  require(pixWrite(target.c_str(), stacked.get(), IFF_PNG) == 0, "cannot write the stacked PNG");
}

void writeBlankPng(int width, int height, const std::filesystem::path& target) {
  const PixHandle pix{pixCreate(width, height, 32)};
  pixSetAll(pix.get());
  require(pixWrite(target.c_str(), pix.get(), IFF_PNG) == 0, "cannot write the blank PNG");
}

void writePngDeclaring(std::uint32_t width, std::uint32_t height,
                       const std::filesystem::path& target) {
  std::string header;
  for (const std::uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      header += static_cast<char>((value >> shift) & 0xFFU);
    }
  }
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9));
  appendChunk(png, "IEND", "");
  std::ofstream(target, std::ios::binary) << png;
}

void writePngWithTextChunk(const std::filesystem::path& source, std::size_t textBytes,
                           const std::filesystem::path& target) {
  std::ifstream file(source, std::ios::binary);
  const std::string original{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
  constexpr std::size_t kSignatureAndHeader = 8 + 25;
  std::string png = original.substr(0, kSignatureAndHeader);
  appendChunk(png, "tEXt", "Comment" + std::string(1, '\0') + std::string(textBytes, 'x'));
  png += original.substr(kSignatureAndHeader);
  std::ofstream(target, std::ios::binary) << png;
}

void writePngDeclaringHugeText(const std::filesystem::path& target) {
  std::string png = "\x89PNG\r\n\x1a\n";
  appendChunk(png, "IHDR", std::string("\0\0\0\x01\0\0\0\x01\x08\0\0\0\0", 13));
  png += std::string("\x7f\xff\xff\xf0tEXtComment", 15) + std::string(1, '\0');
  png.resize(57, 'x');
  std::ofstream(target, std::ios::binary) << png;
}

}  // namespace mivo::ocr::testing
