#include "decoding/webp_decoding.h"

#include <memory>

#include <webp/demux.h>

#include "decoding/exif_orientation.h"
#include "decoding/leptonica_decoding.h"
#include "decoding/upright_image.h"

namespace mivo::ocr {
namespace {

struct DemuxerDeleter {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};

int orientation(std::string_view bytes) {
  const WebPData data{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
  const std::unique_ptr<WebPDemuxer, DemuxerDeleter> demuxer{WebPDemux(&data)};
  WebPChunkIterator chunk{};
  if (!demuxer || WebPDemuxGetChunk(demuxer.get(), "EXIF", 1, &chunk) == 0) {
    return kUprightOrientation;
  }
  const int found = exifOrientation(
      std::string_view(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size));
  WebPDemuxReleaseChunkIterator(&chunk);
  return found;
}

}  // namespace

Image decodeWebP(std::string_view bytes) {
  return turnUpright(decodeWithLeptonica(bytes), orientation(bytes));
}

}  // namespace mivo::ocr
