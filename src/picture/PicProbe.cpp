// SPDX-License-Identifier: GPL-2.0-or-later
// PicReader::ProbeFile: the cheap check of a picture that a project loaded for the
// command line makes instead of decoding it (its slide decodes it once, later), and the
// picture's own size, read from its header whatever scale the check decodes it at.

#include "base/MappedFile.h"
#include "picture/DecodeBudget.h"
#include "picture/HeifReader.h"
#include "picture/PicDecoder.h"
#include "picture/PngReader.h"
#include "picture/WebpReader.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <jpeglib.h>
#include <jerror.h>

namespace lumivox {

namespace {

struct ProbeErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ProbeErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ProbeErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void ProbeOutputMessage(j_common_ptr)
{ }

// Reads a JPEG's header (markers up to the first scan): the file is a JPEG the decoder
// accepts, of a size it takes. The entropy-coded data is not looked at.
PictureSize ProbeJpegHeader(const unsigned char* data, std::size_t size, std::uint64_t maxPixels)
{
    jpeg_decompress_struct cinfo{};
    ProbeErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ProbeErrorExit;
    err.pub.output_message = ProbeOutputMessage;
    // No C++ object with a destructor lives between setjmp and the library calls.
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, err.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const long long width = cinfo.image_width;
    const long long height = cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    PicBitmap::CheckSize(width, height, maxPixels);
    return {static_cast<int>(width), static_cast<int>(height)};
}

// The size a bitmap's information header gives, as the bitmap decoder reads it: the
// 12-byte OS/2 1.x header holds 16-bit fields, every later one 32-bit fields, and a
// negative height marks rows stored top row first.
std::optional<PictureSize> BitmapHeaderSize(const unsigned char* data, std::size_t size)
{
    auto le = [data](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | data[at + static_cast<std::size_t>(i)];
        return value;
    };
    if (size < 18)
        return std::nullopt;
    const std::uint32_t infoSize = le(14, 4);
    if (infoSize == 12 && size >= 22)
        return PictureSize{static_cast<int>(le(18, 2)), static_cast<int>(le(20, 2))};
    if (infoSize < 16 || size < 26)
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(le(18, 4));
    const auto height = static_cast<std::int32_t>(le(22, 4));
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return std::nullopt;
    return PictureSize{width, std::abs(height)};
}

// The size in the first image directory of a TIFF (the one its decoder reads): tags
// ImageWidth (256) and ImageLength (257), each a SHORT or a LONG, in the file's byte order.
std::optional<PictureSize> TiffHeaderSize(const unsigned char* data, std::size_t size)
{
    if (size < 8 || !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M')))
        return std::nullopt;
    const bool little = data[0] == 'I';
    auto number = [&](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::size_t byte = little ? at + static_cast<std::size_t>(bytes - 1 - i) : at + static_cast<std::size_t>(i);
            value = (value << 8) | data[byte];
        }
        return value;
    };
    const std::uint32_t directory = number(4, 4);
    if (directory < 8 || directory > size - 2)
        return std::nullopt;
    const std::uint32_t entries = number(directory, 2);
    std::uint32_t width = 0, height = 0;
    for (std::uint32_t e = 0; e < entries; ++e) {
        const std::size_t at = directory + 2 + std::size_t{12} * e;
        if (at + 12 > size)
            return std::nullopt;
        const std::uint32_t tag = number(at, 2);
        const std::uint32_t type = number(at + 2, 2);
        if ((tag != 256 && tag != 257) || number(at + 4, 4) != 1 || (type != 3 && type != 4))
            continue;
        // A single value lies in the entry itself, from its first byte.
        (tag == 256 ? width : height) = number(at + 8, type == 3 ? 2 : 4);
    }
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return std::nullopt;
    return PictureSize{static_cast<int>(width), static_cast<int>(height)};
}

// The TIFF preview of an EPS file (its offset and length are words 20 and 24 of the
// binary header), as the reader takes it.
std::optional<PictureSize> EpsPreviewSize(const unsigned char* data, std::size_t size)
{
    if (size < 30)
        return std::nullopt;
    auto le32 = [data](std::size_t at) {
        return static_cast<std::uint32_t>(data[at]) | (static_cast<std::uint32_t>(data[at + 1]) << 8) |
               (static_cast<std::uint32_t>(data[at + 2]) << 16) | (static_cast<std::uint32_t>(data[at + 3]) << 24);
    };
    const std::uint32_t offset = le32(20);
    const std::uint32_t length = le32(24);
    if (offset < 30 || offset > size || length > size - offset)
        return std::nullopt;
    return TiffHeaderSize(data + offset, length);
}

} // namespace

PictureSize PicReader::ProbeFile(const std::string& path)
{
    // A JPEG's header nearly always lies in its first bytes; the whole file is read only
    // when it does not (or for the other formats, which are checked by decoding).
    constexpr std::size_t kHeaderBytes = std::size_t(256) << 10;
    MappedFile file;
    std::string reason;
    if (!file.Open(path, &reason, kHeaderBytes))
        throw PLTextException(PL_ERRACCESS_DENIED, "Opening " + path + " failed: " + reason);
    if (file.Size() > 0 && Identify(file.Data(), file.Size()) == PicFormat::Jpeg) {
        try {
            return ProbeJpegHeader(file.Data(), file.Size(), maxPixels_);
        } catch (const PLTextException&) {
            if (file.Size() == file.FileSize())
                throw;
        }
    }
    // The whole file, when it is read, counts against the decode budget until the probe ends.
    const DecodeMemoryScope memory;
    if (file.Size() < file.FileSize()) {
        ReadPictureFile(path, file);
        if (file.Size() > 0 && Identify(file.Data(), file.Size()) == PicFormat::Jpeg) {
            return ProbeJpegHeader(file.Data(), file.Size(), maxPixels_);
        }
    }
    // A phone's HEIC costs as much to decode as a camera JPEG: its container is the check.
    // PNG and WebP headers are read the same way.
    const PicFormat format = file.Size() > 0 ? Identify(file.Data(), file.Size()) : PicFormat::Unknown;
    if (format == PicFormat::Heif || format == PicFormat::Png || format == PicFormat::Webp) {
        MappedFileSource source(file.Data(), file.Size());
        DecodeOptions options;
        options.maxPixels = maxPixels_;
        const auto [width, height] = format == PicFormat::Heif  ? HeifReader::Probe(source, options)
                                     : format == PicFormat::Png ? PngReader::Probe(source, options)
                                                                : WebpReader::Probe(source, options);
        return {width, height};
    }
    // Other formats are cheap to decode next to a camera JPEG at the reduced scale;
    // decoding them is the check, and the bitmap is dropped at once. That scale is an
    // eighth of a large picture, so the size comes from the file's own header.
    std::optional<PictureSize> ownSize;
    if (format == PicFormat::Bitmap)
        ownSize = BitmapHeaderSize(file.Data(), file.Size());
    else if (format == PicFormat::Tiff)
        ownSize = TiffHeaderSize(file.Data(), file.Size());
    else if (format == PicFormat::EpsTiff)
        ownSize = EpsPreviewSize(file.Data(), file.Size());
    const DecodeMode saved = mode_;
    // A header the decoder reads but this probe does not understand: the full decode
    // tells the size.
    mode_ = ownSize ? DecodeMode::Reduced : DecodeMode::Full;
    struct Restore {
        PicReader* reader;
        DecodeMode mode;
        ~Restore() { reader->mode_ = mode; }
    } restore{this, saved};
    PicBitmap scratch;
    DecodeMemory(file.Data(), file.Size(), scratch, 32);
    return ownSize.value_or(PictureSize{scratch.Width(), scratch.Height()});
}

} // namespace lumivox
