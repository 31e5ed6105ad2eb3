// SPDX-License-Identifier: GPL-2.0-or-later
// PicReader::ProbeFile: the cheap check of a picture that a project loaded for the
// command line makes instead of decoding it (its slide decodes it once, later).

#include "base/MappedFile.h"
#include "picture/HeifReader.h"
#include "picture/PicDecoder.h"
#include "picture/PngReader.h"
#include "picture/WebpReader.h"

#include <csetjmp>
#include <cstdio>

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

} // namespace

PictureSize PicReader::ProbeFile(const std::string& path)
{
    // A JPEG's header nearly always lies in its first bytes; the whole file is read only
    // when it does not (or for the other formats, which are checked by decoding).
    constexpr std::size_t kHeaderBytes = std::size_t(256) << 10;
    MappedFile file;
    std::string reason;
    if (!file.Open(path, &reason, kHeaderBytes))
        throw PLTextException(PL_ERRACCESS_DENIED, "Opening " + path + " failed");
    if (file.Size() > 0 && Identify(file.Data(), file.Size()) == PicFormat::Jpeg) {
        try {
            return ProbeJpegHeader(file.Data(), file.Size(), maxPixels_);
        } catch (const PLTextException&) {
            if (file.Size() == file.FileSize())
                throw;
        }
    }
    if (file.Size() < file.FileSize()) {
        if (file.FileSize() > kMaxPictureFileBytes)
            throw PLTextException(PL_ERRNO_MEMORY, "Opening " + path + " failed: the file is over " +
                                                       std::to_string(kMaxPictureFileBytes >> 20) + " MB");
        if (!file.Open(path, &reason))
            throw PLTextException(PL_ERRACCESS_DENIED, "Opening " + path + " failed");
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
    // Other formats are cheap to decode next to a camera JPEG; decoding them is the
    // check, and the bitmap is dropped at once.
    const DecodeMode saved = mode_;
    mode_ = DecodeMode::Reduced;
    struct Restore {
        PicReader* reader;
        DecodeMode mode;
        ~Restore() { reader->mode_ = mode; }
    } restore{this, saved};
    PicBitmap scratch;
    DecodeMemory(file.Data(), file.Size(), scratch, 32);
    return {scratch.Width(), scratch.Height()};
}

} // namespace lumivox
