#pragma once

#include <leptonica/allheaders.h>

namespace mivo::ocr {

// The grey level most of an 8-bit picture has: the ground its text stands on.
// White when the picture cannot be read.
l_int32 groundLevel(Pix* grey);

}  // namespace mivo::ocr
