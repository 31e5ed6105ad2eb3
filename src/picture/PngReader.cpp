// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PngReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeFinish.h"
#include "picture/PicReader.h"

#include <algorithm>
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
    bool cancelled = false;
    std::size_t nextLook = 0; // where the input is next looked at for a cancel
};

// Input read between two looks at the run's cancel, and rows decoded between two: a few
// milliseconds of work each, so a cancelled run never waits for a large picture.
constexpr std::size_t kBytesPerLook = 256u << 10;
constexpr png_uint_32 kRowsPerLook = 16;

// Stops the decode (through OnError's jump) when the run was cancelled.
void StopIfCancelled(png_structp png, ReadState& state)
{
    if (DecodeWatchScope::StepCancelled()) {
        state.cancelled = true;
        png_error(png, kDecodeCancelled);
    }
}

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
    if (state->pos >= state->nextLook) {
        state->nextLook = state->pos + kBytesPerLook;
        StopIfCancelled(png, *state);
    }
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
    ReadState state{source.Data() + source.Position(), source.Remaining(), 0, false, "PNG error", false, kBytesPerLook};
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
    std::vector<std::uint16_t> blockSums;
    std::optional<SrgbRows> toSrgb;
    if (setjmp(png_jmpbuf(rs.png)) != 0) {
        if (state.cancelled)
            throw PLTextException(PL_ERRINTERNAL, kDecodeCancelled);
        if (state.ranOut)
            MappedFileSource::ThrowEndOfFile();
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, std::string("PNG: ") + state.message);
    }
    png_set_read_fn(rs.png, &state, OnRead);
    png_set_user_limits(rs.png, PicBitmap::kMaxSide, PicBitmap::kMaxSide);
    png_set_chunk_cache_max(rs.png, kMaxChunks);
    png_set_chunk_malloc_max(rs.png, kMaxChunkBytes);
    // Text and chunks the library does not know are never used here: they are skipped
    // unread (a file of a thousand compressed text chunks would otherwise be inflated
    // chunk by chunk before the first row).
    static constexpr png_byte kText[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(rs.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(rs.png, PNG_HANDLE_CHUNK_NEVER, kText, 3);
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
    const bool interlaced = png_get_interlace_type(rs.png, rs.info) != PNG_INTERLACE_NONE;
    const int dpi = DotsPerInch(rs.png, rs.info);
    // A picture far larger than it is shown is shrunk as it is read, its profile applied
    // to each row as it comes.
    const int factor = StreamingReduction(options, width, height);
    if (factor > 1) {
        png_read_update_info(rs.png, rs.info);
        if (png_get_rowbytes(rs.png, rs.info) != static_cast<png_size_t>(width) * 4)
            png_error(rs.png, "unexpected row layout");
        if (!icc.empty())
            toSrgb.emplace(reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size());
        rowPixels.resize(static_cast<std::size_t>(width) * 4);
        auto prepare = [&](int count) {
            if (toSrgb && toSrgb->Active())
                toSrgb->Convert(rowPixels.data(), count);
            if (hasAlpha)
                CompositeRowOverBlack(rowPixels.data(), count);
        };
        if (!interlaced) {
            reducer.emplace(*target, static_cast<int>(width), static_cast<int>(height), factor, hasAlpha);
            target->SetResolution(dpi, dpi);
            for (png_uint_32 y = 0; y < height; ++y) {
                if (y % kRowsPerLook == 0)
                    StopIfCancelled(rs.png, state);
                png_read_row(rs.png, rowPixels.data(), nullptr);
                prepare(static_cast<int>(width));
                reducer->Put(static_cast<int>(y), rowPixels.data());
            }
            return;
        }
        // Interlaced, the picture comes in seven passes, each a sparse grid of its pixels:
        // each pixel is added to its block's sums as its pass brings it, so only the sums
        // (16 bits a sample: at most 64 pixels of 255 each) are held, not the picture.
        const png_uint_32 outW = (width + factor - 1) / factor;
        const png_uint_32 outH = (height + factor - 1) / factor;
        target->Create(static_cast<int>(outW), static_cast<int>(outH), 32, hasAlpha);
        target->SetResolution(dpi, dpi);
        blockSums.assign(static_cast<std::size_t>(outW) * outH * 4, 0);
        for (int pass = 0; pass < 7; ++pass) {
            const png_uint_32 cols = PNG_PASS_COLS(width, pass);
            const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
            if (cols == 0 || rows == 0)
                continue; // the library skips an empty pass
            for (png_uint_32 r = 0; r < rows; ++r) {
                if (r % kRowsPerLook == 0)
                    StopIfCancelled(rs.png, state);
                png_read_row(rs.png, rowPixels.data(), nullptr);
                prepare(static_cast<int>(cols));
                const png_uint_32 y = PNG_ROW_FROM_PASS_ROW(r, pass);
                std::uint16_t* sums = &blockSums[static_cast<std::size_t>(y / factor) * outW * 4];
                const std::uint8_t* p = rowPixels.data();
                for (png_uint_32 c = 0; c < cols; ++c, p += 4) {
                    std::uint16_t* s = sums + static_cast<std::size_t>(PNG_COL_FROM_PASS_COL(c, pass) / factor) * 4;
                    s[0] = static_cast<std::uint16_t>(s[0] + p[0]);
                    s[1] = static_cast<std::uint16_t>(s[1] + p[1]);
                    s[2] = static_cast<std::uint16_t>(s[2] + p[2]);
                    s[3] = static_cast<std::uint16_t>(s[3] + p[3]);
                }
            }
        }
        // Averaged and rounded as a reduction of the whole picture would be.
        for (png_uint_32 by = 0; by < outH; ++by) {
            const png_uint_32 blockRows = std::min<png_uint_32>(height, (by + 1) * factor) - by * factor;
            std::uint8_t* out = target->Row(static_cast<int>(by));
            const std::uint16_t* sums = &blockSums[static_cast<std::size_t>(by) * outW * 4];
            for (png_uint_32 bx = 0; bx < outW; ++bx) {
                const std::uint32_t count = (std::min<png_uint_32>(width, (bx + 1) * factor) - bx * factor) * blockRows;
                for (int c = 0; c < 4; ++c)
                    out[4 * bx + c] = static_cast<std::uint8_t>((sums[4 * bx + c] + count / 2) / count);
            }
        }
        return;
    }
    const int passes = png_set_interlace_handling(rs.png);
    png_read_update_info(rs.png, rs.info);
    if (png_get_rowbytes(rs.png, rs.info) != static_cast<png_size_t>(width) * 4)
        png_error(rs.png, "unexpected row layout");
    // Interlaced passes fill each row in steps, so the rows start zeroed.
    target->Create(static_cast<int>(width), static_cast<int>(height), 32, hasAlpha);
    target->SetResolution(dpi, dpi);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            if (y % kRowsPerLook == 0)
                StopIfCancelled(rs.png, state);
            png_read_row(rs.png, target->Row(static_cast<int>(y)), nullptr);
        }

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
