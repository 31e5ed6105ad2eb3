// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/WebpReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeBudget.h"
#include "picture/DecodeFinish.h"
#include "picture/PicReader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <webp/decode.h>
#include <webp/demux.h>

namespace lumivox {

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct OutputFree {
    WebPDecBuffer* buffer;
    ~OutputFree() { WebPFreeDecBuffer(buffer); }
};

[[noreturn]] void ThrowDamaged(const char* what)
{
    throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, std::string("WebP: ") + what);
}

// The container, parsed whole; a file cut short is named as such.
std::unique_ptr<WebPDemuxer, DemuxDeleter> OpenContainer(MappedFileSource& source, const DecodeOptions& options)
{
    WebPData data{source.Data() + source.Position(), source.Remaining()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&data, &state));
    // Shorter than the RIFF header and the first chunk's header, the file is cut short.
    constexpr std::size_t kFirstChunk = 20;
    if (data.size < kFirstChunk || (!demux && state == WEBP_DEMUX_PARSING_HEADER))
        MappedFileSource::ThrowEndOfFile();
    if (!demux || state == WEBP_DEMUX_PARSE_ERROR)
        ThrowDamaged("this is not a valid WebP file.");
    if (state != WEBP_DEMUX_DONE)
        MappedFileSource::ThrowEndOfFile();
    PicBitmap::CheckSize(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH),
                         WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT), options.maxPixels);
    return demux;
}

// Decodes one bitstream (a still file, or a frame of an animation) into target at
// outW x outH, scaled by the library while it decodes when that is smaller.
void DecodeBitstream(const std::uint8_t* data, std::size_t size, PicBitmap& target, int outW, int outH, bool hasAlpha)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        ThrowDamaged("library version mismatch.");
    const VP8StatusCode features = WebPGetFeatures(data, size, &config.input);
    if (features == VP8_STATUS_NOT_ENOUGH_DATA)
        MappedFileSource::ThrowEndOfFile();
    if (features != VP8_STATUS_OK)
        ThrowDamaged("the picture data is damaged.");
    const int w = config.input.width;
    const int h = config.input.height;
    if (outW != w || outH != h) {
        config.options.use_scaling = 1;
        config.options.scaled_width = outW;
        config.options.scaled_height = outH;
    }
    // A lossless picture is decoded whole inside the library, whatever its output size:
    // that waits its turn in the budget.
    if (config.input.format == 2)
        ReserveDecodeMemory(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    if (DecodeWatchScope::StepCancelled())
        throw PLTextException(PL_ERRINTERNAL, kDecodeCancelled);
    target.Create(outW, outH, 32, hasAlpha);
    // Written bottom row first, the output lands straight in the bitmap's rows.
    config.options.flip = 1;
    config.options.use_threads = 0;
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = target.Pixels();
    config.output.u.RGBA.stride = target.Stride();
    config.output.u.RGBA.size = static_cast<std::size_t>(target.Stride()) * static_cast<std::size_t>(outH);
    OutputFree release{&config.output};
    const VP8StatusCode status = WebPDecode(data, size, &config);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA)
        MappedFileSource::ThrowEndOfFile();
    if (status == VP8_STATUS_OUT_OF_MEMORY)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    if (status != VP8_STATUS_OK)
        ThrowDamaged("the picture data is damaged.");
}

int Reduce(int size, int factor)
{
    return (size + factor - 1) / factor;
}

// The first frame of an animation, drawn on its transparent canvas as the animation
// starts: only that frame's bitstream is decoded, at the canvas's reduction, so a huge
// canvas around a tiny frame costs its reduced size only.
void DecodeFirstFrame(WebPDemuxer* demux, PicBitmap& target, int factor, bool hasAlpha)
{
    const int canvasW = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH));
    const int canvasH = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT));
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux, 1, &frame))
        ThrowDamaged("the first frame of the animation is damaged.");
    struct Release {
        WebPIterator* it;
        ~Release() { WebPDemuxReleaseIterator(it); }
    } release{&frame};
    if (frame.width <= 0 || frame.height <= 0 || frame.x_offset + frame.width > canvasW ||
        frame.y_offset + frame.height > canvasH)
        ThrowDamaged("the first frame of the animation is damaged.");
    const bool covers = frame.width == canvasW && frame.height == canvasH;
    if (covers) {
        DecodeBitstream(frame.fragment.bytes, frame.fragment.size, target, Reduce(canvasW, factor),
                        Reduce(canvasH, factor), hasAlpha);
        return;
    }
    // The canvas outside the frame stays transparent.
    PicBitmap picture;
    DecodeBitstream(frame.fragment.bytes, frame.fragment.size, picture, Reduce(frame.width, factor),
                    Reduce(frame.height, factor), true);
    target.Create(Reduce(canvasW, factor), Reduce(canvasH, factor), 32, true);
    const int left = std::min(frame.x_offset / factor, target.Width() - picture.Width());
    const int top = std::min(frame.y_offset / factor, target.Height() - picture.Height());
    for (int y = 0; y < picture.Height(); ++y)
        std::memcpy(target.Row(top + y) + static_cast<std::size_t>(left) * 4, picture.Row(y),
                    static_cast<std::size_t>(picture.Width()) * 4);
}

} // namespace

std::pair<int, int> WebpReader::Probe(MappedFileSource& source, const DecodeOptions& options)
{
    const auto demux = OpenContainer(source, options);
    return {static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH)),
            static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT))};
}

void WebpReader::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    auto demux = OpenContainer(source, options);
    const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    std::string icc;
    WebPChunkIterator chunk;
    if ((flags & ICCP_FLAG) && WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        icc.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }

    const std::uint8_t* data = source.Data() + source.Position();
    const std::size_t size = source.Remaining();
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA)
        MappedFileSource::ThrowEndOfFile();
    if (status != VP8_STATUS_OK)
        ThrowDamaged("this is not a valid WebP file.");
    bool hasAlpha = features.has_alpha != 0;
    const bool animated = features.has_animation || (flags & ANIMATION_FLAG);
    // An animation's size is its canvas's.
    const int w = animated ? static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH)) : features.width;
    const int h = animated ? static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT)) : features.height;
    PicBitmap::CheckSize(w, h, options.maxPixels);
    // Reduced mode, or a picture far larger than it is shown: the library scales while it
    // decodes.
    const int factor = StreamingReduction(options, w, h);
    if (animated) {
        DecodeFirstFrame(demux.get(), target, factor, hasAlpha);
        hasAlpha = target.HasAlpha();
    } else {
        DecodeBitstream(data, size, target, Reduce(w, factor), Reduce(h, factor), hasAlpha);
    }
    target.SetResolution(72, 72);
    if (!icc.empty())
        ConvertToSrgb(target, icc);
    if (hasAlpha)
        CompositeOverBlack(target);
}

} // namespace lumivox
