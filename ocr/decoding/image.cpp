#include "decoding/image.h"

#include <leptonica/allheaders.h>

namespace mivo::ocr {

void PixDeleter::operator()(Pix* pix) const { pixDestroy(&pix); }

}  // namespace mivo::ocr
