// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/BmpReader.h"

#include "picture/DecodeFinish.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace lumivox {

namespace {

// Information header sizes: OS/2 1.x, Windows 3.x, and the later Windows headers that
// extend the 3.x layout (bit-field masks at byte 40, 4-byte palette entries).
constexpr std::uint32_t kOs2V1HeaderSize = 12;
bool IsWindowsHeader(std::uint32_t size)
{
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Compression field values.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;

[[noreturn]] void ThrowNotBitmap()
{
    throw PLTextException(PL_ERRWRONG_SIGNATURE, "Bitmap decoder: This isn't a bitmap.");
}
[[noreturn]] void ThrowCorrupt(const char* what)
{
    throw PLTextException(PL_ERRWRONG_SIGNATURE, std::string("Bitmap decoder: ") + what);
}
[[noreturn]] void ThrowDelta()
{
    throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Encountered delta escape.");
}

bool IsBitmapSignature(const std::uint8_t* p)
{
    static const char* const kSignatures[] = {"BM", "BA", "IC", "CI", "CP"};
    for (const char* s : kSignatures)
        if (p[0] == s[0] && p[1] == s[1])
            return true;
    return false;
}

struct BmpInfo {
    long long width = 0;
    long long height = 0;
    int bitsPerPixel = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t pixelsPerMetreX = 0;
    std::uint32_t pixelsPerMetreY = 0;
    std::uint32_t coloursUsed = 0;
    std::uint32_t greenMask = 0;
    bool hasMasks = false;
    bool hasResolution = false;
    bool topDown = false;
};

int ResolutionFromPixelsPerMetre(std::uint32_t ppm, bool present)
{
    if (!present || ppm < 1)
        return 150;
    const long dpi = std::lround(ppm * 0.025400052);
    return dpi <= 1 ? 150 : static_cast<int>(std::min<long>(dpi, 1000000));
}

// Writes decoded palette indices. An index past the palette the file gave is kept: the
// target's palette holds the grey ramp in every entry the file did not fill, so such a
// pixel shows that grey rather than the picture being lost.
//
// With a reducer the indices of one row are held at a time: when the decoder moves on to
// a later row, the row is turned into colours by palette and handed over, and so is every
// row it skipped (index 0, as in a bitmap created filled).
class IndexWriter {
public:
    IndexWriter(PicBitmap& target, const BmpInfo& info, const std::uint8_t* palette = nullptr,
                RowReducer* reducer = nullptr)
        : target_(target), width_(static_cast<int>(info.width)), height_(static_cast<int>(info.height)),
          topDown_(info.topDown), palette_(palette), reducer_(reducer)
    {
        if (reducer_) {
            indices_.assign(static_cast<std::size_t>(width_), 0);
            colours_.resize(static_cast<std::size_t>(width_) * 4);
        }
    }

    std::uint8_t* FileRow(int row)
    {
        if (!reducer_)
            return target_.Row(topDown_ ? row : height_ - 1 - row);
        if (row > current_)
            Advance(row);
        return indices_.data();
    }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Hands over what is left (the rows an early end of the data never reached).
    void Finish()
    {
        if (reducer_)
            Advance(height_);
    }

private:
    void Advance(int row)
    {
        for (; current_ < row && current_ < height_; ++current_) {
            PaletteRowToBgra(indices_.data(), palette_, width_, colours_.data());
            reducer_->Put(topDown_ ? current_ : height_ - 1 - current_, colours_.data());
            std::fill(indices_.begin(), indices_.end(), 0);
        }
        current_ = row;
    }

    PicBitmap& target_;
    int width_;
    int height_;
    bool topDown_;
    const std::uint8_t* palette_;
    RowReducer* reducer_;
    int current_ = 0;
    std::vector<std::uint8_t> indices_;
    std::vector<std::uint8_t> colours_;
};

// Run-length data that runs past the end of a row (a run or literal longer than the
// pixels left) is clipped at the row's end; the literal bytes are still consumed so that
// the codes after it are read where the writer put them.
void DecodeRle(MappedFileSource& source, IndexWriter& out, bool fourBit)
{
    const int width = out.Width();
    const int height = out.Height();
    int row = 0;
    int x = 0;
    auto room = [&](int n) { return std::max(0, std::min(n, width - x)); };
    while (row < height) {
        const std::uint8_t* pair = source.ReadNBytes(2);
        const int n = pair[0];
        const int value = pair[1];
        if (n > 0) {
            const int fit = room(n);
            std::uint8_t* dst = out.FileRow(row) + x;
            if (fourBit) {
                const int hi = value >> 4;
                const int lo = value & 0x0F;
                for (int i = 0; i < fit; ++i)
                    dst[i] = static_cast<std::uint8_t>((i & 1) ? lo : hi);
            } else {
                std::memset(dst, value, static_cast<std::size_t>(fit));
            }
            x += fit;
            continue;
        }
        switch (value) {
        case 0: // end of row
            ++row;
            x = 0;
            break;
        case 1: // end of bitmap
            return;
        case 2:
            ThrowDelta();
        default: { // literal run of `value` pixels
            const int fit = room(value);
            std::uint8_t* dst = out.FileRow(row) + x;
            if (fourBit) {
                const int bytes = (value + 1) / 2;
                const std::uint8_t* p = source.ReadNBytes(static_cast<std::size_t>(bytes));
                for (int i = 0; i < fit; ++i)
                    dst[i] = static_cast<std::uint8_t>((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4));
                if (bytes & 1)
                    source.Skip(1);
            } else {
                const std::uint8_t* p = source.ReadNBytes(static_cast<std::size_t>(value));
                std::memcpy(dst, p, static_cast<std::size_t>(fit));
                if (value & 1)
                    source.Skip(1);
            }
            x += fit;
            break;
        }
        }
    }
}

void DecodeIndexed(MappedFileSource& source, IndexWriter& out, int bitsPerPixel, std::size_t rowBytes)
{
    const int width = out.Width();
    for (int row = 0; row < out.Height(); ++row) {
        const std::uint8_t* src = source.ReadNBytes(rowBytes);
        std::uint8_t* dst = out.FileRow(row);
        switch (bitsPerPixel) {
        case 1:
            for (int x = 0; x < width; ++x)
                dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            for (int x = 0; x < width; ++x)
                dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
            break;
        default:
            std::memcpy(dst, src, static_cast<std::size_t>(width));
            break;
        }
    }
}

} // namespace

void BmpReader::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    // Bitmap-array headers (OS/2) come before the file header of the first bitmap.
    while (source.Remaining() >= 14 && source.Data()[source.Position()] == 'B' &&
           source.Data()[source.Position() + 1] == 'A')
        source.Skip(14);

    // File header: signature, file size, two reserved words, offset of the pixel data.
    const std::uint8_t* fileHeader = source.ReadNBytes(14);
    if (!IsBitmapSignature(fileHeader))
        ThrowNotBitmap();
    const std::uint32_t pixelOffset =
        static_cast<std::uint32_t>(fileHeader[10]) | (static_cast<std::uint32_t>(fileHeader[11]) << 8) |
        (static_cast<std::uint32_t>(fileHeader[12]) << 16) | (static_cast<std::uint32_t>(fileHeader[13]) << 24);

    const std::size_t infoStart = source.Position();
    const std::uint32_t infoSize = source.ReadLE32();
    BmpInfo info;
    bool threeBytePalette = false;
    if (infoSize == kOs2V1HeaderSize) {
        info.width = source.ReadLE16();
        info.height = source.ReadLE16();
        source.ReadLE16(); // planes
        info.bitsPerPixel = source.ReadLE16();
        threeBytePalette = true;
    } else {
        if (infoSize < 16)
            ThrowNotBitmap();
        // The Windows 3.x fields; an OS/2 2.x header may stop early, in which case the
        // missing fields keep their defaults.
        const std::uint8_t* h = source.ReadNBytes(infoSize - 4 < 36 ? infoSize - 4 : 36);
        const std::size_t have = infoSize - 4 < 36 ? infoSize - 4 : 36;
        auto field = [&](std::size_t offset) -> std::uint32_t {
            if (offset + 4 > have)
                return 0;
            return static_cast<std::uint32_t>(h[offset]) | (static_cast<std::uint32_t>(h[offset + 1]) << 8) |
                   (static_cast<std::uint32_t>(h[offset + 2]) << 16) |
                   (static_cast<std::uint32_t>(h[offset + 3]) << 24);
        };
        info.width = static_cast<std::int32_t>(field(0));
        info.height = static_cast<std::int32_t>(field(4));
        info.bitsPerPixel = h[10] | (h[11] << 8);
        info.compression = field(12);
        info.pixelsPerMetreX = field(20);
        info.pixelsPerMetreY = field(24);
        info.coloursUsed = field(28);
        info.hasResolution = have >= 28;
        if (IsWindowsHeader(infoSize)) {
            if (infoSize >= 52) {
                // Later headers carry the bit-field masks inside the header.
                const std::uint8_t* masks = source.ReadNBytes(12);
                info.greenMask = static_cast<std::uint32_t>(masks[4]) | (static_cast<std::uint32_t>(masks[5]) << 8) |
                                 (static_cast<std::uint32_t>(masks[6]) << 16) |
                                 (static_cast<std::uint32_t>(masks[7]) << 24);
                info.hasMasks = true;
                source.Seek(infoStart + infoSize);
            } else if (info.compression != kBiRgb && (info.bitsPerPixel == 16 || info.bitsPerPixel == 32)) {
                source.ReadLE32(); // red mask
                info.greenMask = source.ReadLE32();
                source.ReadLE32(); // blue mask
                info.hasMasks = true;
            }
        } else {
            // OS/2 2.x (16 to 64 bytes): skip the rest of its header. Its palette entries
            // are 4 bytes (blue, green, red, reserved) like the Windows ones; only the
            // 12-byte OS/2 1.x header has 3-byte entries. Reading them as 3 bytes would
            // shift every colour after the first.
            source.Seek(infoStart + infoSize);
        }
    }
    const std::size_t headerEnd = source.Position();

    if (info.height < 0) {
        // A negative height marks rows stored top row first.
        info.topDown = true;
        info.height = -info.height;
    }
    if (info.width <= 0 || info.height <= 0)
        ThrowCorrupt("Picture has no pixels.");
    switch (info.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        throw PLTextException(PL_ERRFORMAT_UNKNOWN, "Decoding bmp: Illegal bpp value.");
    }
    if (info.compression == kBiJpeg || info.compression == kBiPng)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Library not compiled for this file type.");
    const bool indexed = info.bitsPerPixel <= 8;
    const bool rle = indexed && info.bitsPerPixel >= 4 && info.compression != kBiRgb;
    if (rle && info.compression != kBiRle8 && info.compression != kBiRle4)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Library not compiled for this file type.");
    if (rle && info.topDown)
        ThrowCorrupt("Run-length data cannot be stored top row first.");

    // Palette: the 8-bit target's grey ramp, with the file's entries over the first ones.
    std::uint8_t palette[256 * 4];
    for (int i = 0; i < 256; ++i) {
        palette[i * 4 + 0] = palette[i * 4 + 1] = palette[i * 4 + 2] = static_cast<std::uint8_t>(i);
        palette[i * 4 + 3] = 255;
    }
    if (indexed) {
        const int maxEntries = 1 << info.bitsPerPixel;
        long long count = maxEntries;
        if (!threeBytePalette && info.coloursUsed != 0)
            count = std::min<long long>(info.coloursUsed, maxEntries);
        const std::size_t entrySize = threeBytePalette ? 3 : 4;
        const std::uint8_t* p = source.ReadNBytes(static_cast<std::size_t>(count) * entrySize);
        for (long long i = 0; i < count; ++i) {
            palette[i * 4 + 0] = p[i * entrySize + 0];
            palette[i * 4 + 1] = p[i * entrySize + 1];
            palette[i * 4 + 2] = p[i * entrySize + 2];
        }
    }
    // The pixel data starts at the file header's offset when that points inside the
    // file past the header; files whose offset is missing or wrong keep it right after
    // the palette.
    if (pixelOffset >= headerEnd && pixelOffset < source.Size())
        source.Seek(pixelOffset);

    PicBitmap::CheckSize(info.width, info.height, options.maxPixels);
    const std::size_t rowBytes =
        static_cast<std::size_t>(PicBitmap::StrideFor(static_cast<int>(info.width), info.bitsPerPixel));
    // Uncompressed rows must all be in the file: refuse a short file before allocating.
    if (!rle && rowBytes * static_cast<std::size_t>(info.height) > source.Remaining())
        MappedFileSource::ThrowEndOfFile();

    const int width = static_cast<int>(info.width);
    const int height = static_cast<int>(info.height);
    // A picture far larger than it is shown is shrunk row by row as it is decoded, so a
    // huge bitmap (a few run-length bytes can declare 17,000 x 17,000) never takes its
    // full size in memory.
    const int factor = StreamingReduction(options, width, height);
    std::optional<RowReducer> reducer;
    std::vector<std::uint8_t> rowPixels;
    if (factor > 1) {
        reducer.emplace(target, width, height, factor, info.bitsPerPixel == 32);
        rowPixels.resize(static_cast<std::size_t>(width) * 4);
    } else {
        target.Create(width, height, indexed ? 8 : 32, info.bitsPerPixel == 32);
    }
    const int dpiX = ResolutionFromPixelsPerMetre(info.pixelsPerMetreX, info.hasResolution);
    const int dpiY = ResolutionFromPixelsPerMetre(info.pixelsPerMetreY, info.hasResolution);
    target.SetResolution(dpiX, dpiY);

    if (indexed) {
        if (!reducer)
            std::memcpy(target.Palette(), palette, sizeof palette);
        IndexWriter out(target, info, palette, reducer ? &*reducer : nullptr);
        if (rle)
            DecodeRle(source, out, info.bitsPerPixel == 4);
        else
            DecodeIndexed(source, out, info.bitsPerPixel, rowBytes);
        out.Finish();
        return;
    }

    const bool sixBitGreen =
        info.bitsPerPixel == 16 && info.hasMasks && info.compression != kBiRgb && info.greenMask != 0x3E0;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* src = source.ReadNBytes(rowBytes);
        const int y = info.topDown ? row : height - 1 - row;
        std::uint8_t* dst = reducer ? rowPixels.data() : target.Row(y);
        switch (info.bitsPerPixel) {
        case 16:
            for (int x = 0; x < width; ++x) {
                const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                dst[4 * x + 0] = static_cast<std::uint8_t>((v & 0x1F) << 3);
                if (sixBitGreen) {
                    dst[4 * x + 1] = static_cast<std::uint8_t>(((v >> 6) & 0x1F) << 3);
                    dst[4 * x + 2] = static_cast<std::uint8_t>(((v >> 11) & 0x1F) << 3);
                } else {
                    dst[4 * x + 1] = static_cast<std::uint8_t>(((v >> 5) & 0x1F) << 3);
                    dst[4 * x + 2] = static_cast<std::uint8_t>(((v >> 10) & 0x1F) << 3);
                }
                dst[4 * x + 3] = 255;
            }
            break;
        case 24:
            for (int x = 0; x < width; ++x) {
                dst[4 * x + 0] = src[3 * x + 0];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x + 2];
                dst[4 * x + 3] = 255;
            }
            break;
        default:
            std::memcpy(dst, src, static_cast<std::size_t>(width) * 4);
            break;
        }
        if (reducer)
            reducer->Put(y, dst);
    }
}

} // namespace lumivox
