#pragma once

#include <leptonica/allheaders.h>

#include "recognition/leptonica_handles.h"

namespace mivo::ocr {

// The counts of an 8-bit picture's grey levels over about a million of its
// pixels, evenly spread: shares of the picture and its most common level
// come out as from every pixel, at a fraction of the cost on an enlarged
// page.
NumaHandle greyHistogram(Pix* grey);

// The grey level most of an 8-bit picture has: the ground its text stands on.
// White when the picture cannot be read.
l_int32 groundLevel(Pix* grey);

}  // namespace mivo::ocr
