// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared helpers of the rendering tests: deterministic test pictures, template files
// written on the fly, and the tolerant comparison against reference PNG files.

#include "picture/FrameRenderer.h"
#include "picture/PicBitmap.h"

#include <QtGui/QImage>

#include <filesystem>
#include <map>
#include <string>

namespace lumivox::test {

// A fresh empty folder under the system's temporary folder, removed by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A picture with four coloured quadrants, a white disc in the top-left quadrant and a
// black bar along the left half of the top, so that turning, flipping and misplacement all show.
QImage MakeTestPicture(int width, int height, unsigned seed = 0);
PicBitmap ToBitmap(const QImage& image);
// Writes image as a 24-bit Windows bitmap file.
void WriteBmp(const QImage& image, const std::string& path);
// A slide thumbnail (fits 104 x 78) of a test picture.
PicBitmap MakeThumbnail(int width, int height, unsigned seed);

// Writes an INI file from section -> list of "key=value" lines.
void WriteText(const std::string& path, const std::string& text);

// The bundled default template (from the source tree, so the references follow the
// committed artwork).
std::string BundledTemplate(const std::string& fileName);

// Compares actual with the reference PNG tests/data/render/<name>.png. A pixel counts as
// different only when no pixel of the reference's 3 x 3 neighbourhood is within
// tolerance of it, so a glyph drawn one pixel off passes while a moved element fails.
// With LUMIVOX_UPDATE_GOLDEN=1 in the environment the reference is (re)written instead.
// Returns an empty string on a match, else a description of the difference (the actual
// picture is then saved beside the test executable for inspection).
std::string CompareWithGolden(const QImage& actual, const std::string& name, int tolerance = 40,
                              int allowedPixels = 40);

// Number of pixels of image in rect whose colour differs from colour by more than
// tolerance in any channel.
int CountNotColour(const QImage& image, const QRect& rect, QRgb colour, int tolerance = 0);

} // namespace lumivox::test
