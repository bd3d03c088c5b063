#pragma once

#include "decoding/image.h"

namespace mivo::ocr {

// The image as the engine should see it: 8-bit grey (what the engine makes
// of any input) with a dark ground turned light. The engine reads light text
// on a dark theme only on a second try, each line turned over after it
// failed the right way round, which costs a third of the time on dark code.
Image lightGroundGrey(const Image& image);

// Whether the glyph-sized blobs of a grey page are small enough for its text
// to need enlarging: a cheap first test, which texture and speckle also
// pass, before the engine measures the page's text lines.
bool mayHoldSmallText(Pix* grey);

// The height of the page's text lines as its glyph-sized blobs suggest,
// for text too small for the engine's layout to find; 0 when the page's ink
// is not sparse enough to be print (texture, a photo).
int lineHeightFromGlyphs(Pix* grey);

// medianGlyphHeight() of a page whose ink is sparse enough to be print; 0
// for texture, whose specks would pass for glyphs.
int medianPrintGlyphHeight(Pix* grey);

// The factor by which to enlarge a grey page whose text lines are
// LINE_HEIGHT pixels tall (the engine's measure) so that they reach the
// size the engine reads best; 1 when they are there already, when there is
// no text, or when the gain is too small for the work. The enlarged page
// stays within a bound of pixels, which bounds the engine's time and memory.
double enlargementFor(int lineHeight, Pix* grey);

// Median height in pixels of the glyph-sized dark-on-light (or light-on-
// dark) blobs of a grey image; 0 when there are none.
int medianGlyphHeight(Pix* grey);

}  // namespace mivo::ocr
