// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PngReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeFinish.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <png.h>

namespace lumivox {

namespace {

// Ancillary chunks beyond this many, or any chunk larger than this, are refused by the
// library: a hostile file cannot make it hold more than a few megabytes besides pixels.
constexpr png_uint_32 kMaxChunks = 1000;
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

// The library reports fatal errors through this function, which must not return: the
// message is kept and control goes back to the setjmp in the decoding function (whose
// frame holds nothing that needs destroying after that point).
struct ReadState {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    bool ranOut;
    char message[256];
};

void OnError(png_structp png, png_const_charp text)
{
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp)
{ }

void OnRead(png_structp png, png_bytep out, png_size_t count)
{
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (count > state->size - state->pos) {
        state->ranOut = true;
        png_error(png, "End of file reached while decoding.");
    }
    std::memcpy(out, state->data + state->pos, count);
    state->pos += count;
}

struct ReadStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStruct() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

int DotsPerInch(png_structp png, png_infop info)
{
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (!png_get_pHYs(png, info, &x, &y, &unit) || unit != PNG_RESOLUTION_METER || x == 0)
        return 72;
    return static_cast<int>(x * 0.0254 + 0.5);
}

void Read(MappedFileSource& source, PicBitmap* target, const DecodeOptions& options)
{
    ReadState state{source.Data() + source.Position(), source.Remaining(), 0, false, "PNG error"};
    ReadStruct rs;
    std::string icc;
    rs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (rs.png == nullptr)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    rs.info = png_create_info_struct(rs.png);
    if (rs.info == nullptr)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    png_uint_32 width = 0, height = 0;
    bool hasAlpha = false;
    // Made before the jump point, so that a failure's unwinding frees them.
    std::optional<RowReducer> reducer;
    std::vector<std::uint8_t> rowPixels;
    if (setjmp(png_jmpbuf(rs.png)) != 0) {
        if (state.ranOut)
            MappedFileSource::ThrowEndOfFile();
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, std::string("PNG: ") + state.message);
    }
    png_set_read_fn(rs.png, &state, OnRead);
    png_set_user_limits(rs.png, PicBitmap::kMaxSide, PicBitmap::kMaxSide);
    png_set_chunk_cache_max(rs.png, kMaxChunks);
    png_set_chunk_malloc_max(rs.png, kMaxChunkBytes);
    png_read_info(rs.png, rs.info);
    width = png_get_image_width(rs.png, rs.info);
    height = png_get_image_height(rs.png, rs.info);
    PicBitmap::CheckSize(width, height, options.maxPixels);
    if (target == nullptr)
        return;

    const int colourType = png_get_color_type(rs.png, rs.info);
    hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(rs.png, rs.info, PNG_INFO_tRNS) != 0;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(rs.png, rs.info, &name, &compression, &profile, &profileSize) && profile && profileSize > 0)
        icc.assign(reinterpret_cast<const char*>(profile), profileSize);

    // Everything arrives as blue, green, red, alpha with 8 bits a sample.
    png_set_expand(rs.png);
    png_set_scale_16(rs.png);
    png_set_gray_to_rgb(rs.png);
    png_set_bgr(rs.png);
    if (!hasAlpha)
        png_set_filler(rs.png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(rs.png);
    png_read_update_info(rs.png, rs.info);
    if (png_get_rowbytes(rs.png, rs.info) != static_cast<png_size_t>(width) * 4)
        png_error(rs.png, "unexpected row layout");

    const int dpi = DotsPerInch(rs.png, rs.info);
    // A picture far larger than it is shown is shrunk row by row as it is read (one pass,
    // and colours as stored; a profile is applied to the whole picture).
    const int factor = passes == 1 && icc.empty() ? StreamingReduction(options, width, height) : 1;
    if (factor > 1) {
        reducer.emplace(*target, static_cast<int>(width), static_cast<int>(height), factor, hasAlpha);
        target->SetResolution(dpi, dpi);
        rowPixels.resize(static_cast<std::size_t>(width) * 4);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(rs.png, rowPixels.data(), nullptr);
            if (hasAlpha)
                CompositeRowOverBlack(rowPixels.data(), static_cast<int>(width));
            reducer->Put(static_cast<int>(y), rowPixels.data());
        }
        return;
    }
    // Interlaced passes fill each row in steps, so the rows start zeroed.
    target->Create(static_cast<int>(width), static_cast<int>(height), 32, hasAlpha);
    target->SetResolution(dpi, dpi);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(rs.png, target->Row(static_cast<int>(y)), nullptr);

    if (!icc.empty())
        ConvertToSrgb(*target, icc);
    if (hasAlpha)
        CompositeOverBlack(*target);
    if (options.mode == DecodeMode::Reduced)
        ReduceLikeJpeg(*target);
}

} // namespace

void PngReader::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    Read(source, &target, options);
}

std::pair<int, int> PngReader::Probe(MappedFileSource& source, const DecodeOptions& options)
{
    const unsigned char* header = source.Data() + source.Position();
    const std::size_t available = source.Remaining();
    Read(source, nullptr, options);
    // Read has checked the signature and the IHDR chunk that must follow it: its width and
    // height are the big-endian words at bytes 16 and 20 of the file.
    auto word = [header](std::size_t at) {
        return static_cast<int>((std::uint32_t(header[at]) << 24) | (std::uint32_t(header[at + 1]) << 16) |
                                (std::uint32_t(header[at + 2]) << 8) | std::uint32_t(header[at + 3]));
    };
    if (available < 24)
        return {0, 0};
    return {word(16), word(20)};
}

} // namespace lumivox
