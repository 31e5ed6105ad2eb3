// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PLTIFFDecoder.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeFinish.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <tiffio.h>

namespace lumivox {

namespace {

// The memory view seen by libtiff's client I/O: reads and seeks, no writes.
struct MemoryFile {
    const std::uint8_t* data;
    toff_t size;
    toff_t pos;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count)
{
    auto* f = static_cast<MemoryFile*>(handle);
    if (count <= 0 || f->pos >= f->size)
        return 0;
    const toff_t n = std::min<toff_t>(static_cast<toff_t>(count), f->size - f->pos);
    std::memcpy(buffer, f->data + f->pos, n);
    f->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* f = static_cast<MemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = f->pos;
    else if (whence == SEEK_END)
        base = f->size;
    // Offsets are unsigned; a "negative" relative seek arrives wrapped around.
    const toff_t target = base + offset;
    if (target > f->size)
        return static_cast<toff_t>(-1);
    f->pos = target;
    return target;
}

int CloseProc(thandle_t)
{
    return 0;
}
toff_t SizeProc(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->size;
}

// Strips are read straight out of the view instead of being copied.
int MapProc(thandle_t handle, void** base, toff_t* size)
{
    auto* f = static_cast<MemoryFile*>(handle);
    *base = const_cast<std::uint8_t*>(f->data);
    *size = f->size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t)
{ }

std::string Format(const char* fmt, va_list ap)
{
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, fmt, ap);
    return buffer;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// With four 8-bit samples the bytes of each pixel are taken as they are stored.
void PutContigCopy(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h, int32_t fromskew,
                   int32_t toskew, unsigned char* pp)
{
    const int samples = img->samplesperpixel;
    for (uint32_t row = 0; row < h; ++row) {
        for (uint32_t x = 0; x < w; ++x, pp += samples)
            *cp++ = static_cast<uint32_t>(pp[0]) | (static_cast<uint32_t>(pp[1]) << 8) |
                    (static_cast<uint32_t>(pp[2]) << 16) | (static_cast<uint32_t>(pp[3]) << 24);
        cp += toskew;
        pp += static_cast<std::ptrdiff_t>(fromskew) * samples;
    }
}

int ResolutionToDpi(float value, uint16_t unit)
{
    if (!(value > 0.0f) || value > 1.0e6f)
        return 0;
    // Any unit but inches is taken as centimetres (the only other unit TIFF has).
    const double dpi = unit == RESUNIT_INCH ? value : value * 2.54;
    return static_cast<int>(dpi + 0.5);
}

} // namespace

// Library messages go to the decoder that opened the file (per-file handlers, so
// decoders on different threads never see each other's messages).
struct TiffHandlers {
    static int Warning(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
    {
        auto* self = static_cast<PLTIFFDecoder*>(user);
        if (self->warnings_.size() < 4096)
            self->warnings_ +=
                "Warning in LIBTIFF(" + std::string(module ? module : "") + "): " + Format(fmt, ap) + "\n";
        return 1;
    }
    static int Error(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
    {
        auto* self = static_cast<PLTIFFDecoder*>(user);
        if (self->errors_.size() < 4096) {
            if (!self->errors_.empty())
                self->errors_ += "\n";
            if (module && *module)
                self->errors_ += std::string(module) + ": ";
            self->errors_ += Format(fmt, ap);
        }
        return 1;
    }
};

namespace {

// errors: the library's messages so far (the text of a failure).
bool DecodeStripsReduced(TIFF* tif, TIFFRGBAImage& img, PicBitmap& target, const DecodeOptions& options,
                         bool cmykProfile, const std::vector<std::uint8_t>& icc, uint32_t width, uint32_t height,
                         bool hasAlpha, const std::string& errors)
{
    // A picture far larger than it is shown is shrunk strip by strip as it is read, when
    // its strips are of a sensible size (a strip is read whole); otherwise it is read
    // whole like any other.
    const int factor = StreamingReduction(options, width, height);
    if (factor == 1)
        return false;
    uint32_t rowsPerStrip = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
    constexpr std::uint64_t kMaxBandBytes = std::uint64_t(64) << 20;
    if (std::uint64_t(rowsPerStrip) * width * 4 > kMaxBandBytes)
        return false;
    const int w = static_cast<int>(width);
    RowReducer reducer(target, w, static_cast<int>(height), factor, hasAlpha && !cmykProfile);
    std::vector<uint32_t> band(static_cast<std::size_t>(rowsPerStrip) * width);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    for (uint32_t first = 0; first < height; first += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, height - first);
        img.row_offset = static_cast<int>(first);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, band.data(), width, rows)) {
            if (first < height / 3)
                throw PLTextException(PL_ERRWRONG_SIGNATURE,
                                      errors.empty() ? std::string("Error reading TIFF image.") : errors);
            std::fill(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(rows * width), 0u);
        }
        // The band comes bottom row first.
        for (uint32_t r = 0; r < rows; ++r) {
            const auto* words =
                reinterpret_cast<const std::uint8_t*>(&band[static_cast<std::size_t>(rows - 1 - r) * width]);
            if (cmykProfile) {
                CmykRowToSrgb(icc.data(), icc.size(), words, row.data(), w, false);
            } else {
                // Words hold red in the low byte; the bitmap wants blue first.
                for (int x = 0; x < w; ++x) {
                    row[4 * x + 0] = words[4 * x + 2];
                    row[4 * x + 1] = words[4 * x + 1];
                    row[4 * x + 2] = words[4 * x + 0];
                    row[4 * x + 3] = words[4 * x + 3];
                }
            }
            reducer.Put(static_cast<int>(first + r), row.data());
        }
    }
    if (!icc.empty() && !cmykProfile && img.photometric != PHOTOMETRIC_SEPARATED)
        ConvertToSrgb(target, icc.data(), icc.size());
    return true;
}

} // namespace

void PLTIFFDecoder::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    warnings_.clear();
    errors_.clear();
    MemoryFile file{source.Data() + source.Position(), static_cast<toff_t>(source.Remaining()), 0};

    TIFFOpenOptions* openOptions = TIFFOpenOptionsAlloc();
    if (openOptions == nullptr)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    TIFFOpenOptionsSetErrorHandlerExtR(openOptions, &TiffHandlers::Error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(openOptions, &TiffHandlers::Warning, this);
    // The library reads a whole strip or tile into one buffer of its own, beside the
    // picture; one strip may hold the whole picture at 8 bytes a pixel. Real writers keep
    // strips and tiles to a few megabytes, so a buffer past kMaxTiffBuffer is refused
    // (the library names what it would have allocated).
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        openOptions, static_cast<tmsize_t>(std::min<std::uint64_t>(options.maxPixels * 8, kMaxTiffBuffer)));
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("MemSource", "r", &file, ReadProc, WriteProc, SeekProc,
                                                            CloseProc, SizeProc, MapProc, UnmapProc, openOptions));
    TIFFOpenOptionsFree(openOptions);
    auto libraryError = [&](int code, const char* fallback) {
        return PLTextException(code, errors_.empty() ? std::string(fallback) : errors_);
    };
    if (!tif)
        throw libraryError(PL_ERRWRONG_SIGNATURE, "Cannot open TIFF file.");

    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 1;
    uint16_t samplesPerPixel = 1;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    PicBitmap::CheckSize(width, height, options.maxPixels);

    float xres = 0.0f;
    float yres = 0.0f;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    const int dpiX = TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xres) ? ResolutionToDpi(xres, unit) : 0;
    const int dpiY = TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres) ? ResolutionToDpi(yres, unit) : 0;

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    // An embedded ICC profile says in which colours the samples are meant.
    std::uint32_t iccSize = 0;
    void* iccData = nullptr;
    std::vector<std::uint8_t> icc;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &iccData) && iccData != nullptr && iccSize > 0)
        icc.assign(static_cast<const std::uint8_t*>(iccData), static_cast<const std::uint8_t*>(iccData) + iccSize);

    if ((samplesPerPixel == 1 || samplesPerPixel == 2) && bitsPerSample >= 1 && bitsPerSample <= 8 &&
        !TIFFIsTiled(tif.get())) {
        // Low-colour path.
        uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
        if (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK &&
            photometric != PHOTOMETRIC_PALETTE)
            photometric = PHOTOMETRIC_MINISWHITE;
        const bool oneBit = samplesPerPixel == 1 && bitsPerSample == 1;
        // A picture far larger than it is shown is shrunk row by row as it is read.
        const int factor = StreamingReduction(options, w, h);
        std::optional<RowReducer> reducer;
        std::uint8_t streamPalette[256 * 4] = {};
        std::vector<std::uint8_t> indices;
        std::vector<std::uint8_t> colours;
        if (factor > 1) {
            reducer.emplace(target, w, h, factor, false);
            indices.resize(static_cast<std::size_t>(w));
            colours.resize(static_cast<std::size_t>(w) * 4);
        } else {
            target.Create(w, h, oneBit ? 1 : 8, false);
        }
        target.SetResolution(dpiX, dpiY);

        const int entries = 1 << bitsPerSample;
        std::uint8_t* pal = reducer ? streamPalette : target.Palette();
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t* red = nullptr;
            uint16_t* green = nullptr;
            uint16_t* blue = nullptr;
            if (!TIFFGetField(tif.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
                throw libraryError(PL_ERRWRONG_SIGNATURE, "Palette image without a colour map.");
            // Old writers stored 8-bit values in the 16-bit map; scale only when needed.
            bool eightBit = true;
            for (int i = 0; i < entries; ++i)
                if (red[i] >= 256 || green[i] >= 256 || blue[i] >= 256)
                    eightBit = false;
            for (int i = 0; i < entries; ++i) {
                pal[i * 4 + 0] = static_cast<std::uint8_t>(eightBit ? blue[i] : blue[i] >> 8);
                pal[i * 4 + 1] = static_cast<std::uint8_t>(eightBit ? green[i] : green[i] >> 8);
                pal[i * 4 + 2] = static_cast<std::uint8_t>(eightBit ? red[i] : red[i] >> 8);
                pal[i * 4 + 3] = 255;
            }
        } else {
            // The ramp's step is truncated (36 for 3 bits, whose ramp ends at 252); white
            // is zero walks the same ramp from its far end.
            const int step = 255 / (entries - 1);
            for (int i = 0; i < entries; ++i) {
                const int v = (photometric == PHOTOMETRIC_MINISWHITE ? entries - 1 - i : i) * step;
                pal[i * 4 + 0] = pal[i * 4 + 1] = pal[i * 4 + 2] = static_cast<std::uint8_t>(v);
                pal[i * 4 + 3] = 255;
            }
        }

        uint16_t planar = PLANARCONFIG_CONTIG;
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
        // With separate planes the first plane holds the first sample of every pixel.
        const int samplesInLine = planar == PLANARCONFIG_SEPARATE ? 1 : samplesPerPixel;
        const tmsize_t lineSize = TIFFScanlineSize(tif.get());
        const std::size_t needed = (static_cast<std::size_t>(w) * samplesInLine * bitsPerSample + 7) / 8;
        if (lineSize <= 0 || static_cast<std::size_t>(lineSize) < needed)
            throw libraryError(PL_ERRWRONG_SIGNATURE, "Invalid scan line size.");
        std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
        const unsigned mask = (1u << bitsPerSample) - 1;
        // With a reducer the row's indices are turned into colours and handed over; a
        // blank row is index 0, as in a bitmap created filled.
        auto handOver = [&](int y) {
            if (!reducer)
                return;
            PaletteRowToBgra(indices.data(), pal, w, colours.data());
            reducer->Put(y, colours.data());
        };
        for (int y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif.get(), line.data(), static_cast<uint32_t>(y), 0) < 0) {
                // A picture that fails in its first third is refused. Later, a damaged
                // strip leaves its rows blank and the next strip is read as usual, so one
                // bad strip does not cost everything below it.
                if (y < h / 3)
                    throw libraryError(PL_ERRINTERNAL, "Error reading TIFF scan line.");
                if (reducer) {
                    std::fill(indices.begin(), indices.end(), 0);
                    handOver(y);
                }
                continue;
            }
            if (reducer) {
                for (int x = 0; x < w; ++x) {
                    const std::size_t bit = static_cast<std::size_t>(x) * samplesInLine * bitsPerSample;
                    const unsigned word = (static_cast<unsigned>(line[bit / 8]) << 8) |
                                          (bit / 8 + 1 < line.size() ? line[bit / 8 + 1] : 0);
                    indices[static_cast<std::size_t>(x)] =
                        static_cast<std::uint8_t>((word >> (16 - bitsPerSample - bit % 8)) & mask);
                }
                handOver(y);
                continue;
            }
            std::uint8_t* dst = target.Row(y);
            if (oneBit) {
                std::memcpy(dst, line.data(), needed);
            } else if (bitsPerSample == 8 && samplesInLine == 1) {
                std::memcpy(dst, line.data(), static_cast<std::size_t>(w));
            } else {
                // Unpack samples of any width, first sample of each pixel only.
                for (int x = 0; x < w; ++x) {
                    const std::size_t bit = static_cast<std::size_t>(x) * samplesInLine * bitsPerSample;
                    const unsigned word = (static_cast<unsigned>(line[bit / 8]) << 8) |
                                          (bit / 8 + 1 < line.size() ? line[bit / 8 + 1] : 0);
                    dst[x] = static_cast<std::uint8_t>((word >> (16 - bitsPerSample - bit % 8)) & mask);
                }
            }
        }
        if (!icc.empty())
            ConvertToSrgb(target, icc.data(), icc.size());
        return;
    }

    // Full-colour path through the library's RGBA reader. It reads a strip or tile at a
    // time into a buffer of the decoded strip's size; one past the library's limit is
    // refused before the picture's bitmap is made, which costs more still.
    {
        const bool tiled = TIFFIsTiled(tif.get()) != 0;
        const std::uint64_t piece = tiled ? TIFFTileSize64(tif.get()) : TIFFStripSize64(tif.get());
        if (piece > kMaxTiffBuffer)
            throw PLTextException(PL_ERRNO_MEMORY, std::string("TIFF: one ") + (tiled ? "tile" : "strip") +
                                                       " of the picture holds " + std::to_string(piece >> 20) +
                                                       " MB, more than the " + std::to_string(kMaxTiffBuffer >> 20) +
                                                       " MB read at once.");
    }
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif.get(), message))
        throw PLTextException(PL_ERRWRONG_SIGNATURE, message[0] ? message : errors_);
    TIFFRGBAImage img;
    // Strip by strip, a failing strip must say so (stop on error) rather than repeat the
    // previous strip's rows; a tiled picture is read whole, going on past bad tiles.
    const bool byStrip = !TIFFIsTiled(tif.get());
    if (!TIFFRGBAImageBegin(&img, tif.get(), byStrip ? 1 : 0, message))
        throw PLTextException(PL_ERRWRONG_SIGNATURE, message[0] ? message : errors_);
    struct EndOnExit {
        TIFFRGBAImage* img;
        ~EndOnExit() { TIFFRGBAImageEnd(img); }
    } endOnExit{&img};
    // Ink amounts of a CMYK picture with its own profile are kept as stored and converted
    // by that profile below; without one the library's fixed formula stands.
    const bool cmykProfile = samplesPerPixel == 4 && bitsPerSample == 8 && img.isContig &&
                             img.photometric == PHOTOMETRIC_SEPARATED && !icc.empty() &&
                             IsCmykProfile(icc.data(), icc.size());
    if (samplesPerPixel == 4 && bitsPerSample == 8 && img.isContig &&
        (img.photometric == PHOTOMETRIC_RGB || cmykProfile))
        img.put.contig = PutContigCopy;
    const bool hasAlpha = img.alpha != 0 || samplesPerPixel == 4;
    if (byStrip &&
        DecodeStripsReduced(tif.get(), img, target, options, cmykProfile, icc, width, height, hasAlpha, errors_)) {
        target.SetResolution(dpiX, dpiY);
        return;
    }
    try {
        target.Create(w, h, 32, hasAlpha);
    } catch (const PLTextException& e) {
        if (e.GetCode() == PL_ERRNO_MEMORY)
            throw PLTextException(PL_ERRNO_MEMORY, "Out of memory allocating TIFF buffer.");
        throw;
    }
    target.SetResolution(dpiX, dpiY);
    // The reader fills the picture bottom row first with 32-bit words, which is exactly
    // the bitmap's own layout; it goes straight into the pixel block.
    auto* raster = reinterpret_cast<uint32_t*>(target.Pixels());
    if (!byStrip) {
        if (!TIFFRGBAImageGet(&img, raster, width, height))
            throw libraryError(PL_ERRWRONG_SIGNATURE, "Error reading TIFF image.");
    } else {
        // Each band of rows of one strip comes bottom row first, and the bands of the
        // picture lie contiguously in the bitmap (the last band at its start). A strip
        // that fails in the first third of the picture refuses it, as on the low-colour
        // path; later, its rows stay blank and the next strip is read as usual.
        uint32_t rowsPerStrip = height;
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, height);
        for (uint32_t row = 0; row < height; row += rowsPerStrip) {
            const uint32_t rows = std::min(rowsPerStrip, height - row);
            img.row_offset = static_cast<int>(row);
            img.col_offset = 0;
            uint32_t* band = raster + static_cast<std::size_t>(height - row - rows) * width;
            if (!TIFFRGBAImageGet(&img, band, width, rows)) {
                if (row < height / 3)
                    throw libraryError(PL_ERRWRONG_SIGNATURE, "Error reading TIFF image.");
                std::memset(band, 0, static_cast<std::size_t>(rows) * width * 4);
            }
        }
    }
    if (cmykProfile) {
        std::vector<std::uint8_t> ink(static_cast<std::size_t>(w) * 4);
        for (int y = 0; y < h; ++y) {
            std::memcpy(ink.data(), target.Row(y), ink.size());
            CmykRowToSrgb(icc.data(), icc.size(), ink.data(), target.Row(y), w, false);
        }
        target.SetHasAlpha(false);
        ReduceBy(target, StreamingReduction(options, w, h));
        return;
    }
    // Words hold red in the low byte; the bitmap wants blue first.
    std::uint8_t* p = target.Pixels();
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (std::size_t i = 0; i < count; ++i, p += 4)
        std::swap(p[0], p[2]);
    if (!icc.empty() && img.photometric != PHOTOMETRIC_SEPARATED)
        ConvertToSrgb(target, icc.data(), icc.size());
    // A tiled picture, or one of huge strips, is read whole and then shrunk like the others.
    ReduceBy(target, StreamingReduction(options, w, h));
}

} // namespace lumivox
