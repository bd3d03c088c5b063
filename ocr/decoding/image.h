#pragma once

#include <memory>

// Leptonica's image type; only the decoder and the engine look inside.
struct Pix;

namespace mivo::ocr {

struct PixDeleter {
  void operator()(Pix* pix) const;
};

// A decoded image; empty when decoding failed.
using Image = std::unique_ptr<Pix, PixDeleter>;

}  // namespace mivo::ocr
