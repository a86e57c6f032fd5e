// An application's icon file turned into the PNG image the catalogue keeps: the icon's first image
// decoded (4-bit with its palette, or 32-bit), drawn on a transparent background of its own size
// and written as 8-bit RGBA. The AND mask of a paletted icon becomes transparency; a 32-bit icon
// keeps its alpha (one whose alpha is zero throughout has none and is drawn opaque, through its
// mask when it has one).
#pragma once

#include <string>

#include "diag/TextCodecs.h"

namespace vantrel {

// The PNG bytes; empty when the icon file does not decode (short, not an icon, another bit depth
// or compression, wider or higher than 256) or the image cannot be written.
std::string IconToPng(const TBytes& prmIconFile);

}  // namespace vantrel
