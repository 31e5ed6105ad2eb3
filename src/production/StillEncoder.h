// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The still encoder: one rendered TV frame becomes one Video CD high-resolution still, an
// MPEG-1 video elementary stream holding a single picture, through mjpegtools' mpeg2enc
// library with the settings below forced for every picture:
//   format profile "VCD stills" (6, MPEG-1), target size 204,800 bytes, display aspect
//   code 2 (4:3), input frame-rate code 3 (25 Hz) for both norms — so the encoder assumes
//   PAL and writes pixel aspect code 8 — progressive input, then the TV norm from the
//   caller; the picture size comes from the frame.
// A still that comes out smaller than the target is padded up to it with zero stuffing
// before its sequence end code ("Padding still to size: %d extra bytes\n").
//
// The three operations are called in order for every frame: SetStillFrame,
// PrepareStillEncoder, EncodeStill. The encoder runs in a child process of its own (see
// MjpegLog.h), so a fatal encoder error fails EncodeStill with the encoder's text and
// leaves this process healthy for the next picture. Separate StillEncoder objects may be
// used from different threads at the same time; one object is not thread-safe.

#include "picture/PicBitmap.h"
#include "production/BlockTransforms.h"

#include "base/TvNorm.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumivox {

// What the Video CD stills profile requires of the high-resolution still.
inline constexpr int kStillTargetBytes = 204800;
inline constexpr int kStillFormatProfile = 6;
inline constexpr int kStillAspectCode = 2;
inline constexpr int kStillFrameRateCode = 3;

// The frame read into the encoder's planes: full-range luminance (width x height) and
// 4:2:0 chrominance (each plane (width + 1) / 2 x (height + 1) / 2), rows from the top.
struct StillPlanes {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y;
    std::vector<std::uint8_t> cb;
    std::vector<std::uint8_t> cr;
    int ChromaWidth() const { return (width + 1) / 2; }
    int ChromaHeight() const { return (height + 1) / 2; }
};

// The colour conversion of one pixel (full range, no 16-235 scaling), evaluated as
//   Y  = (29 B + 150 G + 77 R) / 256
//   Cb = (131 B - 87 G - 44 R) / 256 + 128
//   Cr = (-21 B - 110 G + 131 R) / 256 + 128
// in exact arithmetic and truncated toward zero. Results are not clamped: saturated
// colours reach -2 or 258.
struct YCbCrSample {
    int y;
    int cb;
    int cr;
};
YCbCrSample ConvertRgbToYCbCr(int red, int green, int blue);

// Reads a device-independent bitmap into planes: rows from the top of the picture (the
// last stored row of the bottom-up bitmap first), each pixel converted as above and
// clamped to 0-255, chrominance then reduced to 4:2:0 with the MPEG-1 decimation filters
// (half-sample phase, horizontally then vertically). Accepts 8 bits with palette, 16
// (5-5-5, or bit fields when the header says so, masks in place of the palette), 24 and
// 32 bits per pixel (blue, green, red byte order). Returns false with the encoder's text
// for anything else.
bool ReadStillFrame(const std::uint8_t* bitmapInfoHeader, const std::uint8_t* palette, const std::uint8_t* pixelRows,
                    StillPlanes& planes, std::string* error);

class StillEncoder {
public:
    // Remembers where the frame is: the 40-byte bitmap information header (width, height
    // and bits per pixel are taken from it), the palette or colour masks (null when the
    // format has none) and the first stored (bottom) pixel row. Nothing is copied; the
    // memory must stay valid until PrepareStillEncoder returns.
    void SetStillFrame(const std::uint8_t* bitmapInfoHeader, const std::uint8_t* palette,
                       const std::uint8_t* pixelRows);
    void SetStillFrame(const PicBitmap& frame) { SetStillFrame(frame.Header(), frame.Palette(), frame.Pixels()); }

    // Resets the per-picture state, allocates the three planes and reads the frame into
    // them. Returns false with the text when the frame cannot be read ("Horizontal size
    // from input stream illegal\n", the pixel-format text, "malloc failed\n").
    bool PrepareStillEncoder(std::string* error);

    // Applies the forced settings, creates the output file (truncating it), encodes the
    // prepared picture into it and closes it. Returns false with the encoder's fatal text
    // (for example "Couldn't create output file %s") and no usable output on failure.
    bool EncodeStill(const std::string& outputPath, TvNorm norm, std::string* error);

    const StillPlanes& Planes() const { return planes_; }
    // Takes planes read before (ReadStillFrame) as the prepared picture, in place of a
    // frame and PrepareStillEncoder.
    void SetPreparedPlanes(StillPlanes planes)
    {
        planes_ = std::move(planes);
        prepared_ = true;
    }

    // The block transforms the encoder uses (the fast pair unless told otherwise; the
    // reference pair serves to compare quality with).
    void SetTransforms(StillTransforms which) { transforms_ = which; }

private:
    const std::uint8_t* header_ = nullptr;
    const std::uint8_t* palette_ = nullptr;
    const std::uint8_t* pixels_ = nullptr;
    StillPlanes planes_;
    bool prepared_ = false;
    StillTransforms transforms_ = StillTransforms::Fast;
};

// The three operations in one call, for a rendered frame.
bool EncodeStill(const PicBitmap& frame, TvNorm norm, const std::string& outputPath, std::string* error);

} // namespace lumivox
