// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The orientation a camera records in a JPEG's EXIF block (APP1 "Exif", a TIFF
// structure whose IFD0 may hold tag 0x0112 Orientation): how the stored pixels must be
// turned to stand upright. Cameras store the sensor's rows as they come and write this
// tag instead of turning the picture, so a portrait photo arrives lying on its side.

#include <cstddef>
#include <string>

namespace lumivox {

// Orientation tag values (TIFF 6.0 / EXIF 2.3): 1 upright, 2 mirrored, 3 upside down,
// 4 mirrored upside down, 5 to 8 the same four with rows and columns exchanged.
constexpr int kOrientationUpright = 1;

// The orientation recorded in the JPEG file at path, 1 when the file is no JPEG, has
// no EXIF block or no valid tag, or cannot be read. Reads at most the file's leading
// segments (a bounded amount), never the image data; safe against any file contents.
int ReadJpegOrientation(const std::string& path);
// The same for a JPEG's bytes in memory.
int ReadJpegOrientation(const unsigned char* data, std::size_t size);

// The clockwise turn (0, 90, 180, 270) that makes a picture of that orientation stand
// upright. The mirrored orientations (2, 4, 5, 7) get the turn that puts their top at
// the top; their left and right stay exchanged, since a project holds turns only.
int RotationForOrientation(int orientation);

} // namespace lumivox
