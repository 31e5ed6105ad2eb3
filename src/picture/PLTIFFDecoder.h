// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PLTIFFDecoder: TIFF files (and the TIFF previews inside EPS files) through libtiff's
// client I/O over the memory view. Files of one or two samples of at most 8 bits take
// the low-colour path (1- or 8-bit bitmap with a grey ramp or the file's colour map);
// every other file goes through the library's RGBA reader into a 32-bit bitmap.

#include "picture/PicDecoder.h"

#include <cstdint>
#include <string>

namespace lumivox {

class PLTIFFDecoder : public PicDecoder {
public:
    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;

    // The largest buffer the library may take for one strip or tile (and for anything
    // else it allocates at once): a file that needs more is refused.
    static constexpr std::uint64_t kMaxTiffBuffer = std::uint64_t(128) << 20;

    // Library warnings of the last decode, each as "Warning in LIBTIFF(%s): %s\n".
    const std::string& Warnings() const { return warnings_; }

private:
    friend struct TiffHandlers;
    std::string warnings_;
    std::string errors_;
};

} // namespace lumivox
