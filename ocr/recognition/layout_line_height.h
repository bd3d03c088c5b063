#pragma once

struct Pix;

namespace tesseract {
class TessBaseAPI;
}

namespace mivo::ocr {

// The median height in pixels of the text lines the engine's page layout
// finds on PAGE, without reading them; 0 when it finds none. The layout
// tells text from texture, pictures and speckle, which a count of blobs
// cannot. The engine keeps PAGE and its layout, so reading PAGE next does
// not lay it out again.
int medianLayoutLineHeight(tesseract::TessBaseAPI& api, Pix* page);

}  // namespace mivo::ocr
