// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PicReader.h"

#include "base/FileDescriptor.h"
#include "base/MappedFile.h"
#include "picture/BmpReader.h"
#include "picture/DecodeBudget.h"
#include "picture/HeifReader.h"
#include "picture/JpegReader.h"
#include "picture/PLTIFFDecoder.h"
#include "picture/PngReader.h"
#include "picture/WebpReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace lumivox {

namespace {

// How much of the file identification looks at.
constexpr std::size_t kIdentifyBytes = 512;

// EPS binary header (DOS EPS): magic, then the PostScript, metafile and TIFF sections
// as offset/length pairs; the TIFF preview's offset is at byte 20, its length at 24.
constexpr std::size_t kEpsHeaderSize = 30;
constexpr std::size_t kEpsTiffOffset = 20;
constexpr std::size_t kEpsTiffLength = 24;

std::uint32_t Le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t Be32(const unsigned char* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

[[noreturn]] void ThrowRefused()
{
    throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Library not compiled for this file type.");
}

// Widens a 1- or 8-bit result to 32 bits (palette lookup, alpha 255).
void WidenTo32(PicBitmap& bitmap)
{
    PicBitmap wide;
    wide.Create(bitmap.Width(), bitmap.Height(), 32, false);
    wide.SetResolution(bitmap.ResolutionX(), bitmap.ResolutionY());
    const std::uint8_t* pal = bitmap.Palette();
    const int w = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* src = bitmap.Row(y);
        std::uint8_t* dst = wide.Row(y);
        for (int x = 0; x < w; ++x) {
            const int index = bitmap.BitsPerPixel() == 1 ? (src[x >> 3] >> (7 - (x & 7))) & 1 : src[x];
            dst[4 * x + 0] = pal[index * 4 + 0];
            dst[4 * x + 1] = pal[index * 4 + 1];
            dst[4 * x + 2] = pal[index * 4 + 2];
            dst[4 * x + 3] = 255;
        }
    }
    bitmap = std::move(wide);
}

void WidenOneBitTo8(PicBitmap& bitmap)
{
    PicBitmap wide;
    wide.Create(bitmap.Width(), bitmap.Height(), 8, false);
    wide.SetResolution(bitmap.ResolutionX(), bitmap.ResolutionY());
    std::memset(wide.Palette(), 0, 256 * 4);
    std::memcpy(wide.Palette(), bitmap.Palette(), 2 * 4);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* src = bitmap.Row(y);
        std::uint8_t* dst = wide.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
    }
    bitmap = std::move(wide);
}

// A HEIF file starts with its "ftyp" box: size, "ftyp", the major brand, a version, then
// compatible brands. Phones write "heic" (or "heix", "mif1" ...) as the major brand;
// other writers put "mif1" or "heic" among the compatible ones.
bool IsHeifBrand(const unsigned char* data, std::size_t n)
{
    if (n < 16 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"};
    auto isBrand = [&](const unsigned char* b) {
        for (const char* brand : kBrands)
            if (std::memcmp(b, brand, 4) == 0)
                return true;
        return false;
    };
    if (isBrand(data + 8))
        return true;
    const std::size_t boxSize = std::min<std::size_t>(Be32(data), n);
    for (std::size_t at = 16; at + 4 <= boxSize; at += 4)
        if (isBrand(data + at))
            return true;
    return false;
}

} // namespace

struct PicReader::Decoders {
    BmpReader bmp;
    PLTIFFDecoder tiff;
    JpegReader jpeg;
    PngReader png;
    WebpReader webp;
    HeifReader heif;
};

PicReader::PicReader() : decoders_(std::make_unique<Decoders>())
{ }
PicReader::~PicReader() = default;

void PicReader::SetMaxPixels(std::uint64_t maxPixels)
{
    maxPixels_ = std::min<std::uint64_t>(maxPixels, PicBitmap::kMaxPixels);
}

PicFormat PicReader::Identify(const unsigned char* data, std::size_t size)
{
    const std::size_t n = std::min(size, kIdentifyBytes);
    auto has = [&](std::size_t count) { return n >= count; };
    auto starts = [&](const char* text) {
        const std::size_t len = std::strlen(text);
        return has(len) && std::memcmp(data, text, len) == 0;
    };
    auto bytes = [&](std::size_t offset, std::initializer_list<unsigned char> values) {
        if (!has(offset + values.size()))
            return false;
        std::size_t i = offset;
        for (unsigned char v : values)
            if (data[i++] != v)
                return false;
        return true;
    };

    if (starts("BM") || starts("BA") || starts("IC") || starts("CI") || starts("CP"))
        return PicFormat::Bitmap;
    if (has(17) && data[1] <= 1 && (data[2] <= 3 || (data[2] >= 9 && data[2] <= 11))) {
        const unsigned char mapDepth = data[7];
        const unsigned char depth = data[16];
        const bool mapOk =
            mapDepth == 0 || mapDepth == 8 || mapDepth == 15 || mapDepth == 16 || mapDepth == 24 || mapDepth == 32;
        const bool depthOk = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
        if (mapOk && depthOk)
            return PicFormat::Targa;
    }
    if (bytes(0, {'I', 'I', 0x2A, 0x00}) || bytes(0, {'M', 'M', 0x00, 0x2A}))
        return PicFormat::Tiff;
    if (starts("GIF8"))
        return PicFormat::Gif;
    // A Macintosh picture starts after a 512-byte application header; its version
    // marker is the one test that reads just past the first 512 bytes.
    if (size > 540) {
        const unsigned char* m = data + 522;
        if ((m[0] == 0x00 && m[1] == 0x11 && m[2] == 0x02 && m[3] == 0xFF) ||
            (m[0] == 0x00 && m[1] == 0x11 && m[2] == 0x01) ||
            (m[0] == 0x11 && m[1] == 0x01 && m[2] == 0x01 && m[3] == 0x00))
            return PicFormat::Pict;
    }
    if (bytes(0, {0xFF, 0xD8, 0xFF}))
        return PicFormat::Jpeg;
    if (bytes(0, {0x89, 'P', 'N', 'G'}))
        return PicFormat::Png;
    if ((bytes(0, {0xC5, 0xD0, 0xD3, 0xC6}) || bytes(0, {0xC6, 0xD3, 0xD0, 0xC5})) && has(28) &&
        Le32(data + kEpsTiffOffset) != 0 && Le32(data + kEpsTiffLength) != 0)
        return PicFormat::EpsTiff;
    if (has(3) && data[0] == 10 && data[2] == 1)
        return PicFormat::Pcx;
    if (starts("P2") || starts("P5"))
        return PicFormat::Pgm;
    if (starts("P3") || starts("P6"))
        return PicFormat::Ppm;
    if (starts("8BPS"))
        return PicFormat::Photoshop;
    if (starts("RIFF") && bytes(8, {'W', 'E', 'B', 'P'}))
        return PicFormat::Webp;
    if (IsHeifBrand(data, n))
        return PicFormat::Heif;
    return PicFormat::Unknown;
}

namespace {
thread_local DecodeWatchScope* currentWatch = nullptr;
}

DecodeWatchScope::DecodeWatchScope(const std::atomic<bool>* cancel, std::function<void()> onStep)
    : cancel_(cancel), onStep_(std::move(onStep)), outer_(currentWatch)
{
    currentWatch = this;
}

DecodeWatchScope::~DecodeWatchScope()
{
    currentWatch = outer_;
}

bool DecodeWatchScope::StepCancelled()
{
    for (DecodeWatchScope* watch = currentWatch; watch != nullptr; watch = watch->outer_) {
        if (watch->onStep_)
            watch->onStep_();
        if (watch->cancel_ && watch->cancel_->load(std::memory_order_relaxed))
            return true;
    }
    return false;
}

namespace {

void OpenPictureFile(const std::string& path, MappedFile& file)
{
    PicReader::ReadPictureFile(path, file);
}

} // namespace

void PicReader::ReadPictureFile(const std::string& path, MappedFile& file)
{
    std::string reason;
    std::uint64_t size = 0;
    {
        const FileDescriptor fd = OpenRegularFile(path, &reason);
        // A FIFO, device or folder is named as such: it is refused, never read or waited
        // on. Whatever the reason, it is told (a missing file, a permission).
        if (!fd)
            throw PLTextException(PL_ERRACCESS_DENIED, "Opening " + path + " failed: " + reason);
        struct stat st { };
        if (::fstat(fd.Get(), &st) != 0)
            throw PLTextException(PL_ERRACCESS_DENIED,
                                  "Opening " + path + " failed: stat: " + std::strerror(errno));
        size = static_cast<std::uint64_t>(st.st_size);
    }
    // The size decides before a byte is read: a huge file costs nothing to refuse.
    if (size > kMaxPictureFileBytes)
        throw PLTextException(PL_ERRNO_MEMORY, "Opening " + path + " failed: the file is " +
                                                   std::to_string((size + (1u << 20) - 1) >> 20) + " MB, over the " +
                                                   std::to_string(kMaxPictureFileBytes >> 20) +
                                                   " MB a picture file may have");
    // The copy read is held for the whole decode: it waits its turn in the decode budget
    // like a bitmap, so several workers meeting large files take turns.
    ReserveDecodeMemory(static_cast<std::size_t>(size));
    // No more than was counted is read, also when the file grows meanwhile.
    if (!file.Open(path, &reason, static_cast<std::size_t>(size)))
        throw PLTextException(PL_ERRACCESS_DENIED, "Opening " + path + " failed: " + reason);
}

void PicReader::DecodeFile(const std::string& path, PicBitmap& target, int bitsPerPixel)
{
    const DecodeMemoryScope memory;
    MappedFile file;
    OpenPictureFile(path, file);
    DecodeMemory(file.Data(), file.Size(), target, bitsPerPixel);
}

void PicReader::DecodeFileRows(const std::string& path, PicRowTarget& target)
{
    const DecodeMemoryScope memory;
    MappedFile file;
    OpenPictureFile(path, file);
    DecodeMemoryRows(file.Data(), file.Size(), target);
}

void PicReader::DecodeMemoryRows(const unsigned char* data, std::size_t size, PicRowTarget& target)
{
    if (data != nullptr && Identify(data, size) == PicFormat::Jpeg) {
        MappedFileSource source(data, size);
        const DecodeMemoryScope memory;
        decoders_->jpeg.DecodeRows(source, Options(), target);
        return;
    }
    // The other decoders make the whole picture (those that can shrink it while they
    // decode do so already); its rows are handed over from there.
    const DecodeMemoryScope memory;
    PicBitmap picture;
    DecodeMemory(data, size, picture, 32);
    HandOverRows(picture, target);
}

DecodeOptions PicReader::Options() const
{
    DecodeOptions options;
    options.mode = mode_;
    options.maxPixels = maxPixels_;
    options.usefulWidth = usefulWidth_;
    options.usefulHeight = usefulHeight_;
    return options;
}

void HandOverRows(const PicBitmap& picture, PicRowTarget& target)
{
    if (picture.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    target.Begin(picture.Width(), picture.Height(), picture.HasAlpha());
    for (int y = 0; y < picture.Height(); ++y)
        target.Row(picture.Row(y));
}

void PicReader::DecodeMemory(const unsigned char* data, std::size_t size, PicBitmap& target, int bitsPerPixel)
{
    static const unsigned char kEmpty[1] = {0};
    if (data == nullptr) {
        data = kEmpty;
        size = 0;
    }
    MappedFileSource source(data, size);
    const DecodeMemoryScope memory;
    const DecodeOptions options = Options();

    switch (Identify(data, size)) {
    case PicFormat::Bitmap:
        decoders_->bmp.Decode(source, target, options);
        break;
    case PicFormat::Tiff:
        decoders_->tiff.Decode(source, target, options);
        break;
    case PicFormat::Jpeg:
        decoders_->jpeg.Decode(source, target, options);
        break;
    case PicFormat::Png:
        decoders_->png.Decode(source, target, options);
        break;
    case PicFormat::Webp:
        decoders_->webp.Decode(source, target, options);
        break;
    case PicFormat::Heif:
        decoders_->heif.Decode(source, target, options);
        break;
    case PicFormat::EpsTiff: {
        const std::uint32_t offset = Le32(data + kEpsTiffOffset);
        const std::uint32_t length = Le32(data + kEpsTiffLength);
        // The preview must lie wholly inside the file, after the EPS header.
        if (offset < kEpsHeaderSize || offset > size || length > size - offset)
            MappedFileSource::ThrowEndOfFile();
        MappedFileSource preview(data + offset, length);
        decoders_->tiff.Decode(preview, target, options);
        break;
    }
    case PicFormat::Unknown:
        throw PLTextException(PL_ERRUNKNOWN_FILE_TYPE, "Unknown file type.");
    default:
        ThrowRefused();
    }

    const int have = target.BitsPerPixel();
    if (have == bitsPerPixel)
        return;
    if (have > bitsPerPixel)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    if (bitsPerPixel == 32)
        WidenTo32(target);
    else if (bitsPerPixel == 8 && have == 1)
        WidenOneBitTo8(target);
    else
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
}

} // namespace lumivox
