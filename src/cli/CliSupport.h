#pragma once
// Choices shared by the commands that render or make a disc: which template a
// --template value names, and the TV norm when neither --pal nor --ntsc is given.

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"

#include <string>

namespace lumivox::cli {

// Makes the template a --template value names current: an installed template by file
// name ("classic.ini", or "classic"), or a template file anywhere when the value names
// an existing file or contains a folder. False with *error naming the file and reason.
bool ChooseTemplate(DiscMenuState& state, const std::string& value, std::string* error);

// The "PAL" setting of config.ini: true for PAL, false (also without a file) for NTSC.
bool PalFromSettings();

// How slides are fitted: "SquarePixelSlides=1" in config.ini asks for square pixels.
SlideGeometry SlideGeometryFromSettings();

} // namespace lumivox::cli
