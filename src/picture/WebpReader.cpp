// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/WebpReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeBudget.h"
#include "picture/DecodeFinish.h"

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
struct AnimDeleter {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
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

// The first frame of an animation, drawn on its canvas as the animation starts.
void DecodeFirstFrame(MappedFileSource& source, PicBitmap& target, bool hasAlpha)
{
    WebPData data{source.Data() + source.Position(), source.Remaining()};
    WebPAnimDecoderOptions animOptions;
    if (!WebPAnimDecoderOptionsInit(&animOptions))
        ThrowDamaged("library version mismatch.");
    animOptions.color_mode = MODE_BGRA;
    animOptions.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> anim(WebPAnimDecoderNew(&data, &animOptions));
    if (!anim)
        ThrowDamaged("the animation cannot be read.");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(anim.get(), &info))
        ThrowDamaged("the animation cannot be read.");
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(anim.get(), &pixels, &timestamp) || pixels == nullptr)
        ThrowDamaged("the first frame of the animation is damaged.");
    const int w = static_cast<int>(info.canvas_width);
    const int h = static_cast<int>(info.canvas_height);
    target.CreateUnfilled(w, h, 32, hasAlpha);
    for (int y = 0; y < h; ++y)
        std::memcpy(target.Row(y), pixels + static_cast<std::size_t>(y) * w * 4, static_cast<std::size_t>(w) * 4);
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
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        ThrowDamaged("library version mismatch.");
    const VP8StatusCode features = WebPGetFeatures(data, size, &config.input);
    if (features == VP8_STATUS_NOT_ENOUGH_DATA)
        MappedFileSource::ThrowEndOfFile();
    if (features != VP8_STATUS_OK)
        ThrowDamaged("this is not a valid WebP file.");
    const bool hasAlpha = config.input.has_alpha != 0;
    bool reduced = false;

    if (config.input.has_animation || (flags & ANIMATION_FLAG)) {
        DecodeFirstFrame(source, target, hasAlpha);
    } else {
        const int w = config.input.width;
        const int h = config.input.height;
        PicBitmap::CheckSize(w, h, options.maxPixels);
        int outW = w, outH = h;
        if (options.mode == DecodeMode::Reduced && ReducedModeShrinks(w, h)) {
            outW = (w + 7) / 8;
            outH = (h + 7) / 8;
            config.options.use_scaling = 1;
            config.options.scaled_width = outW;
            config.options.scaled_height = outH;
            reduced = true;
        } else if (const int factor = StreamingReduction(options, w, h); factor > 1) {
            // Far larger than it is shown: the library scales while it decodes.
            outW = (w + factor - 1) / factor;
            outH = (h + factor - 1) / factor;
            config.options.use_scaling = 1;
            config.options.scaled_width = outW;
            config.options.scaled_height = outH;
        }
        // A lossless picture is decoded whole inside the library, whatever its output size:
        // that waits its turn in the budget.
        if (config.input.format == 2)
            ReserveDecodeMemory(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
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
    target.SetResolution(72, 72);
    if (!icc.empty())
        ConvertToSrgb(target, icc);
    if (hasAlpha)
        CompositeOverBlack(target);
    if (!reduced && options.mode == DecodeMode::Reduced)
        ReduceLikeJpeg(target);
}

} // namespace lumivox
