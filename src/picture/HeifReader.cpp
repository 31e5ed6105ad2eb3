// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/HeifReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeBudget.h"
#include "picture/DecodeFinish.h"
#include "picture/HeifCanvas.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <libheif/heif.h>

namespace lumivox {

namespace {

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};

void Check(const heif_error& error)
{
    if (error.code == heif_error_Ok)
        return;
    if (error.code == heif_error_Invalid_input && error.subcode == heif_suberror_End_of_data)
        MappedFileSource::ThrowEndOfFile();
    if (error.code == heif_error_Memory_allocation_error)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED,
                          std::string("HEIF: ") + (error.message && *error.message ? error.message : "damaged file."));
}

struct Opened {
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> primary;
};

// The file's boxes, read over the memory view without copying it, and its primary
// image, whose size is checked before anything is decoded.
Opened Open(MappedFileSource& source, const DecodeOptions& options)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { heif_init(nullptr); });
    Opened opened;
    opened.context.reset(heif_context_alloc());
    if (!opened.context)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    heif_context_set_maximum_image_size_limit(opened.context.get(), PicBitmap::kMaxSide);
    // Tiles are decoded on the calling thread: each thread that decodes has its own reader.
    heif_context_set_max_decoding_threads(opened.context.get(), 0);
    CheckHeifCanvases(source.Data() + source.Position(), source.Remaining(), options.maxPixels);
    Check(heif_context_read_from_memory_without_copy(opened.context.get(), source.Data() + source.Position(),
                                                     source.Remaining(), nullptr));
    heif_image_handle* handle = nullptr;
    Check(heif_context_get_primary_image_handle(opened.context.get(), &handle));
    opened.primary.reset(handle);
    PicBitmap::CheckSize(heif_image_handle_get_ispe_width(handle), heif_image_handle_get_ispe_height(handle),
                         options.maxPixels);
    PicBitmap::CheckSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle), options.maxPixels);
    // From here on libheif holds what it builds while decoding (a canvas, a tile) to no
    // longer a side than the picture's own: a canvas the boxes above did not show is bounded
    // by the picture, not by the largest picture there may be. The coded picture is whole
    // coding blocks (of up to 64 pixels a side), so a picture of 410 pixels decodes as 416
    // before it is cropped: the bound is the picture's side rounded up to whole blocks.
    const int longest = std::max({heif_image_handle_get_ispe_width(handle), heif_image_handle_get_ispe_height(handle),
                                  heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)});
    constexpr int kLargestCodingBlock = 64;
    heif_context_set_maximum_image_size_limit(
        opened.context.get(), (longest + kLargestCodingBlock - 1) / kLargestCodingBlock * kLargestCodingBlock + 1);
    return opened;
}

} // namespace

std::pair<int, int> HeifReader::Probe(MappedFileSource& source, const DecodeOptions& options)
{
    const Opened opened = Open(source, options);
    // The size as shown: after the rotation and crop properties.
    return {heif_image_handle_get_width(opened.primary.get()), heif_image_handle_get_height(opened.primary.get())};
}

namespace {

// Decodes one image (the primary or a thumbnail) with its transformations into target,
// in sRGB by the colour box of colours (the image's own, or the primary's when the
// image has none).
void DecodeImage(heif_image_handle* handle, heif_image_handle* colours, PicBitmap& target, const DecodeOptions& options)
{
    const bool hasAlpha = heif_image_handle_has_alpha_channel(handle) != 0;
    std::unique_ptr<heif_decoding_options, OptionsDeleter> decoding(heif_decoding_options_alloc());
    if (!decoding)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    decoding->ignore_transformations = 0;
    if (decoding->version >= 2)
        decoding->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    Check(heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                            hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, decoding.get()));
    std::unique_ptr<heif_image, ImageDeleter> image(decoded);

    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved) != 8)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "HEIF: the picture data cannot be read.");
    PicBitmap::CheckSize(w, h, options.maxPixels);
    const int channels = hasAlpha ? 4 : 3;
    if (stride < w * channels)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "HEIF: the picture data cannot be read.");

    target.CreateUnfilled(w, h, 32, hasAlpha);
    target.SetResolution(72, 72);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        std::uint8_t* dst = target.Row(y);
        for (int x = 0; x < w; ++x, src += channels, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = hasAlpha ? src[3] : 255;
        }
    }
    image.reset();

    if (heif_image_handle_get_color_profile_type(handle) != heif_color_profile_type_not_present)
        colours = handle;
    switch (heif_image_handle_get_color_profile_type(colours)) {
    case heif_color_profile_type_rICC:
    case heif_color_profile_type_prof: {
        std::vector<std::uint8_t> icc(heif_image_handle_get_raw_color_profile_size(colours));
        if (!icc.empty() && heif_image_handle_get_raw_color_profile(colours, icc.data()).code == heif_error_Ok)
            ConvertToSrgb(target, icc.data(), icc.size());
        break;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* raw = nullptr;
        if (heif_image_handle_get_nclx_color_profile(colours, &raw).code == heif_error_Ok && raw) {
            std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(raw);
            ConvertNclxToSrgb(target, nclx->color_primaries, nclx->transfer_characteristics);
        }
        break;
    }
    default:
        break;
    }
    if (hasAlpha)
        CompositeOverBlack(target);
}

// Phones store a small copy of each photo beside it. For thumbnails it spares decoding
// twelve megapixels of HEVC, when it is detailed enough: its long side at least what
// reduced mode would give (an eighth) or 320 pixels, standing the way the photo stands.
bool DecodeStoredThumbnail(heif_image_handle* primary, PicBitmap& target, const DecodeOptions& options)
{
    const int w = heif_image_handle_get_width(primary);
    const int h = heif_image_handle_get_height(primary);
    const int wanted = std::min(std::max(w, h) / 8, 320);
    heif_item_id ids[8];
    const int count = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, 8);
    for (int i = 0; i < count; ++i) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[i], &raw).code != heif_error_Ok || raw == nullptr)
            continue;
        std::unique_ptr<heif_image_handle, HandleDeleter> thumbnail(raw);
        const int tw = heif_image_handle_get_width(raw);
        const int th = heif_image_handle_get_height(raw);
        if (std::max(tw, th) < wanted || (tw > th) != (w > h) || tw > w || th > h)
            continue;
        try {
            DecodeImage(raw, primary, target, options);
        } catch (const PLTextException&) {
            continue; // a damaged thumbnail: the photo itself is decoded instead
        }
        // The copy must have come out standing as the photo does.
        if ((target.Width() > target.Height()) == (w > h))
            return true;
    }
    return false;
}

} // namespace

void HeifReader::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    Opened opened = Open(source, options);
    heif_image_handle* handle = opened.primary.get();
    const bool reduce = options.mode == DecodeMode::Reduced &&
                        ReducedModeShrinks(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
    if (reduce && DecodeStoredThumbnail(handle, target, options))
        return;
    // The library decodes the whole picture into planes of its own (a byte and a half a
    // pixel and more) before the bitmap is made: they wait their turn in the budget too.
    ReserveDecodeMemory(static_cast<std::size_t>(heif_image_handle_get_width(handle)) *
                        static_cast<std::size_t>(heif_image_handle_get_height(handle)) * 2);
    DecodeImage(handle, handle, target, options);
    if (reduce)
        ReduceLikeJpeg(target);
}

} // namespace lumivox
