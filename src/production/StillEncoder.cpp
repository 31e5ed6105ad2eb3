// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/StillEncoder.h"

#include "production/BlockTransforms.h"
#include "production/MjpegJob.h"
#include "production/MjpegLog.h"
#include "production/SlideshowTrack.h"

#include <mpeg2enc/elemstrmwriter.hh>
#include <mpeg2enc/encoderparams.hh>
#include <mpeg2enc/imageplanes.hh>
#include <mpeg2enc/mpeg2encoder.hh>
#include <mpeg2enc/mpeg2encoptions.hh>
#include <mpeg2enc/ontheflyratectlpass1.hh>
#include <mpeg2enc/ontheflyratectlpass2.hh>
#include <mpeg2enc/picturereader.hh>
#include <mpeg2enc/quantize.hh>
#include <mpeg2enc/seqencoder.hh>
#include <format_codes.h>
#include <yuv4mpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace lumivox {
namespace {

// BITMAPINFOHEADER fields (little-endian): width, height (positive = bottom-up), bits
// per pixel, compression, colours used.
constexpr int kHeaderWidth = 4;
constexpr int kHeaderHeight = 8;
constexpr int kHeaderBitCount = 14;
constexpr int kHeaderCompression = 16;
constexpr int kHeaderColoursUsed = 32;
constexpr std::uint32_t kCompressionRgb = 0;
constexpr std::uint32_t kCompressionBitFields = 3;
// MPEG-1 sizes are 12-bit fields (ISO/IEC 11172-2, sequence header).
constexpr int kLargestPictureSide = 4095;

constexpr const char* kPixelFormatText = "\ncan only handle 8 bit palettized, or 16, 24, or 32 bit RGB video!";

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t ReadLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Truncation toward zero of n / 256, as the floating-point formula does.
int TruncatedDivide256(int n)
{
    return n >= 0 ? n >> 8 : -((-n) >> 8);
}

std::uint8_t Clamp(int value)
{
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// A colour field of a 16- or 32-bit pixel, scaled to 0-255.
struct BitField {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit BitField(std::uint32_t m) : mask(m)
    {
        if (!mask)
            return;
        while (!((mask >> shift) & 1))
            ++shift;
        while (bits < 16 && ((mask >> (shift + bits)) & 1))
            ++bits;
    }
    int Expand(std::uint32_t pixel) const
    {
        if (!bits)
            return 0;
        std::uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8)
            return static_cast<int>(value >> (bits - 8));
        std::uint32_t largest = (1u << bits) - 1;
        return static_cast<int>((value * 255 + largest / 2) / largest);
    }
};

// The MPEG-1 decimation filter (half-sample phase shift) over one line of `count`
// samples spaced `step` apart: out[k] from in[2k - 5] ... in[2k + 6], edges repeated.
// Taps 5, 11, -21, -37, 70, 228 | 228, 70, -37, -21, 11, 5 (sum 512).
void Decimate(const std::uint8_t* in, int count, std::ptrdiff_t step, std::uint8_t* out, std::ptrdiff_t outStep)
{
    auto filter = [](auto at, int i) {
        return 228 * (at(i) + at(i + 1)) + 70 * (at(i - 1) + at(i + 2)) - 37 * (at(i - 2) + at(i + 3)) -
               21 * (at(i - 3) + at(i + 4)) + 11 * (at(i - 4) + at(i + 5)) + 5 * (at(i - 5) + at(i + 6));
    };
    auto edge = [&](int i) -> int {
        i = i < 0 ? 0 : i >= count ? count - 1 : i;
        return in[i * step];
    };
    auto inside = [&](int i) -> int { return in[i * step]; };
    for (int i = 0, k = 0; i < count; i += 2, ++k) {
        // Away from the edges no tap needs repeating (the common case, kept branch-free).
        int sum = i >= 5 && i + 6 < count ? filter(inside, i) : filter(edge, i);
        out[k * outStep] = Clamp((sum + 256) >> 9);
    }
}

// 4:4:4 -> 4:2:0 for one chrominance plane: horizontally, then vertically.
void Reduce420(const std::vector<std::uint8_t>& full, int width, int height, std::vector<std::uint8_t>& out)
{
    int chromaWidth = (width + 1) / 2;
    int chromaHeight = (height + 1) / 2;
    std::vector<std::uint8_t> half(static_cast<std::size_t>(chromaWidth) * height);
    for (int y = 0; y < height; ++y)
        Decimate(&full[static_cast<std::size_t>(y) * width], width, 1, &half[static_cast<std::size_t>(y) * chromaWidth],
                 1);
    out.resize(static_cast<std::size_t>(chromaWidth) * chromaHeight);
    // Vertically a whole row at a time, so that the inner loop runs along memory.
    static const int kTaps[6] = {228, 70, -37, -21, 11, 5};
    for (int k = 0; k < chromaHeight; ++k) {
        const std::uint8_t* above[6];
        const std::uint8_t* below[6];
        for (int t = 0; t < 6; ++t) {
            int up = std::clamp(2 * k - t, 0, height - 1);
            int down = std::clamp(2 * k + 1 + t, 0, height - 1);
            above[t] = &half[static_cast<std::size_t>(up) * chromaWidth];
            below[t] = &half[static_cast<std::size_t>(down) * chromaWidth];
        }
        std::uint8_t* target = &out[static_cast<std::size_t>(k) * chromaWidth];
        for (int x = 0; x < chromaWidth; ++x) {
            int sum = 0;
            for (int t = 0; t < 6; ++t)
                sum += kTaps[t] * (above[t][x] + below[t][x]);
            target[x] = Clamp((sum + 256) >> 9);
        }
    }
}

// Runs two independent pieces of work, the first on a second thread when one can be had.
// A failure to allocate in either is reported as std::bad_alloc on the calling thread.
template <typename First, typename Second>
void RunSideBySide(First first, Second second)
{
    bool firstFailed = false;
    try {
        std::jthread helper([&] {
            try {
                first();
            } catch (const std::bad_alloc&) {
                firstFailed = true;
            }
        });
        second();
    } catch (const std::system_error&) {
        first(); // no thread to be had: one after the other
        second();
    }
    if (firstFailed)
        throw std::bad_alloc();
}

// --- The encoder's input and output, seen from inside the job ------------------------

// Hands the prepared planes to the encoder as a one-frame stream.
class PlanesReader : public PictureReader {
public:
    PlanesReader(EncoderParams& params, const StillPlanes& planes, int frames = 1,
                 int frameRateCode = kStillFrameRateCode)
        : PictureReader(params), planes_(planes), frames_(frames), frameRateCode_(frameRateCode)
    { }

    void StreamPictureParams(MPEG2EncInVidParams& stream) override
    {
        stream.horizontal_size = planes_.width;
        stream.vertical_size = planes_.height;
        stream.aspect_ratio_code = kStillAspectCode;
        stream.frame_rate_code = frameRateCode_;
        stream.interlacing_code = Y4M_ILACE_NONE;
    }

protected:
    bool LoadFrame(ImagePlanes& image) override
    {
        if (delivered_ >= frames_)
            return true; // end of stream after the pictures
        ++delivered_;
        CopyPlane(planes_.y.data(), planes_.width, planes_.height, image.Plane(0), encparams.phy_width);
        CopyPlane(planes_.cb.data(), planes_.ChromaWidth(), planes_.ChromaHeight(), image.Plane(1),
                  encparams.phy_chrom_width);
        CopyPlane(planes_.cr.data(), planes_.ChromaWidth(), planes_.ChromaHeight(), image.Plane(2),
                  encparams.phy_chrom_width);
        return false;
    }

private:
    static void CopyPlane(const std::uint8_t* from, int width, int height, std::uint8_t* to, int stride)
    {
        for (int y = 0; y < height; ++y)
            std::memcpy(to + static_cast<std::size_t>(y) * stride, from + static_cast<std::size_t>(y) * width,
                        static_cast<std::size_t>(width));
    }

    const StillPlanes& planes_;
    int frames_;
    int frameRateCode_;
    int delivered_ = 0;
};

// Collects the elementary stream in memory: one still is at most a few hundred KB, and
// the padding goes in before the sequence end code once the picture is complete.
class MemoryStreamWriter : public ElemStrmWriter {
public:
    void WriteOutBufferUpto(const uint8_t* buffer, const uint32_t flushUpto) override
    {
        bytes.insert(bytes.end(), buffer, buffer + flushUpto);
        flushed += flushUpto;
    }
    uint64_t BitCount() override { return flushed * 8; }

    std::vector<std::uint8_t> bytes;
};

// What the Video CD stills profile promises in every sequence header of a high-resolution
// still: a bit rate of 8,000,000 bit/s (not the "variable" marker) and a 224 KB video
// buffer. The library writes the variable-rate marker and the still size instead.
constexpr std::uint32_t kStillBitRate = 8000000;
constexpr std::uint32_t kStillVbvBufferBytes = 224 * 1024;

// Sets the bit rate and video buffer size of every sequence header (ISO/IEC 11172-2
// 2.4.2.3: bit_rate 18 bits in 400 bit/s units, marker bit, vbv_buffer_size 10 bits in
// 16 Kbit units).
void SetSequenceHeaderRates(std::vector<std::uint8_t>& s, std::uint32_t bitRate, std::uint32_t vbvBytes)
{
    const std::uint32_t rate = (bitRate + 399) / 400;
    const std::uint32_t vbv = vbvBytes * 8 / 16384;
    for (std::size_t i = 0; i + 12 <= s.size(); ++i) {
        if (!(s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB3))
            continue;
        std::uint8_t* p = &s[i + 8]; // after start code, sizes, aspect and rate codes
        p[0] = static_cast<std::uint8_t>(rate >> 10);
        p[1] = static_cast<std::uint8_t>(rate >> 2);
        p[2] = static_cast<std::uint8_t>((rate & 3) << 6 | 0x20 | vbv >> 5);
        p[3] = static_cast<std::uint8_t>((p[3] & 0x07) | (vbv & 0x1F) << 3);
        i += 11;
    }
}

// Zero stuffing is allowed before any start code (ISO/IEC 11172-2, next_start_code), so
// the still grows to the target without changing what it decodes to.
void PadStill(std::vector<std::uint8_t>& stream)
{
    if (stream.size() >= static_cast<std::size_t>(kStillTargetBytes))
        return;
    std::size_t extra = kStillTargetBytes - stream.size();
    static const std::uint8_t kSequenceEnd[] = {0x00, 0x00, 0x01, 0xB7};
    std::size_t at = stream.size();
    if (stream.size() >= 4 && std::equal(stream.end() - 4, stream.end(), kSequenceEnd))
        at = stream.size() - 4;
    char text[64];
    std::snprintf(text, sizeof text, "Padding still to size: %d extra bytes\n", static_cast<int>(extra));
    MjpegLog(MjpegLogLevel::Information, text);
    stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), extra, 0);
}

// Builds the encoder's parts around its reader and encodes the whole stream into memory.
// The parts are left to the end of the job's process, like the encoder itself: they own
// and free each other in ways the library does not document.
std::vector<std::uint8_t>& EncodeIntoMemory(MPEG2Encoder& encoder, MPEG2EncOptions& options)
{
    auto* writer = new MemoryStreamWriter();
    encoder.writer = writer;
    encoder.quantizer = new Quantizer(encoder.parms);
    encoder.pass1ratectl = new OnTheFlyPass1(encoder.parms);
    encoder.pass2ratectl = new OnTheFlyPass2(encoder.parms);
    encoder.seqencoder = new SeqEncoder(encoder.parms, *encoder.reader, *encoder.quantizer, *encoder.writer,
                                        *encoder.pass1ratectl, *encoder.pass2ratectl);
    // The library requires this order.
    encoder.parms.Init(options);
    encoder.reader->Init();
    encoder.quantizer->Init();
    encoder.seqencoder->Init();
    encoder.seqencoder->EncodeStream();
    return writer->bytes;
}

// Writes the stream into the open file and closes it; a failed write ends the job.
void WriteStream(std::FILE* file, const std::string& outputPath, const std::vector<std::uint8_t>& stream)
{
    bool written = std::fwrite(stream.data(), 1, stream.size(), file) == stream.size();
    written = std::fflush(file) == 0 && written;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    if (!written)
        MjpegFatal("Couldn't write output file " + outputPath + ": " + std::strerror(error));
}

// The body of one encoding job (runs in the job's child process).
void EncodeInJob(const StillPlanes& planes, const std::string& outputPath, TvNorm norm, StillTransforms transforms)
{
    // Everything here is left to the end of the child process: the encoder objects own
    // and free each other in ways the library does not document.
    auto* options = new MPEG2EncOptions();
    options->verbose = std::max(MjpegVerbosity(), 0);
    options->format = kStillFormatProfile;
    options->still_size = kStillTargetBytes;
    options->aspect_ratio = kStillAspectCode;
    options->frame_rate = kStillFrameRateCode;
    options->fieldenc = 0; // progressive
    options->norm = 0; // let the encoder assume the norm from the 25 Hz rate
    options->in_img_width = planes.width;
    options->in_img_height = planes.height;

    auto* encoder = new MPEG2Encoder(*options);
    // The encoder's one-time set-up (in its constructor) has installed the reference
    // transforms; the fast pair replaces them from here on.
    InstallStillTransforms(transforms);
    auto* reader = new PlanesReader(encoder->parms, planes);
    encoder->reader = reader;
    MPEG2EncInVidParams stream{};
    reader->StreamPictureParams(stream);
    if (stream.horizontal_size <= 0)
        MjpegFatal("Horizontal size from input stream illegal\n");
    if (stream.vertical_size <= 0)
        MjpegFatal("Vertical size from input stream illegal\n");
    if (options->SetFormatPresets(stream))
        MjpegFatal("The encoder refused the VCD still settings for this picture");
    // The encoder has chosen the MPEG-1 pixel aspect code for the assumed norm; the
    // caller's norm applies only from here on.
    options->norm = norm == TvNorm::Pal ? 'p' : 'n';

    std::FILE* file = std::fopen(outputPath.c_str(), "w+b");
    if (!file)
        MjpegFatal("Couldn't create output file " + outputPath);

    std::vector<std::uint8_t>& still = EncodeIntoMemory(*encoder, *options);
    SetSequenceHeaderRates(still, kStillBitRate, kStillVbvBufferBytes);
    PadStill(still);
    WriteStream(file, outputPath, still);
}

// The I picture of one interval of the slideshow track, in the Video CD motion profile,
// encoded alone: the rate control gives a group of one picture the whole group's share of
// the rate, so the rate asked for sets the picture's size (4.2 Mbit/s gives 12 to 18 KB
// at 29.97 Hz and 15 to 22 KB at 25 Hz, well within the track's 40 KB buffer). The
// encoder's own buffer is made large enough for that rate (four pictures' worth), and
// every header then says the track's rate and buffer.
constexpr int kTrackEncodeBitRate = 4200000;
constexpr int kTrackEncodeBufferKb = 100;
constexpr std::uint32_t kTrackBitRate = 1152000; // 1,150 kbit/s as Video CD headers give it
constexpr std::uint32_t kTrackVbvBufferBytes = 40 * 1024; // the Video CD decoder's buffer
void EncodeTrackPictureInJob(const StillPlanes& planes, const std::string& outputPath, TvNorm norm,
                             StillTransforms transforms)
{
    auto* options = new MPEG2EncOptions();
    options->verbose = std::max(MjpegVerbosity(), 0);
    options->format = MPEG_FORMAT_VCD;
    options->aspect_ratio = kStillAspectCode;
    options->frame_rate = norm == TvNorm::Pal ? 3 : 4; // 25 or 29.97 Hz
    options->fieldenc = 0;
    options->norm = norm == TvNorm::Pal ? 'p' : 'n';
    options->in_img_width = planes.width;
    options->in_img_height = planes.height;
    options->num_cpus = 0; // encoded on this thread: the frame workers run in parallel already
    auto* encoder = new MPEG2Encoder(*options);
    // As for the stills: the fast pair replaces the reference transforms set up above.
    InstallStillTransforms(transforms);
    auto* reader = new PlanesReader(encoder->parms, planes, 1, options->frame_rate);
    encoder->reader = reader;
    MPEG2EncInVidParams stream{};
    reader->StreamPictureParams(stream);
    if (options->SetFormatPresets(stream))
        MjpegFatal("The encoder refused the Video CD settings for the track");
    options->bitrate = kTrackEncodeBitRate;
    options->video_buffer_size = kTrackEncodeBufferKb;
    options->Bgrp_size = 1; // an I picture only
    options->min_GOP_size = options->max_GOP_size = 1;

    std::vector<std::uint8_t>& picture = EncodeIntoMemory(*encoder, *options);
    SetSequenceHeaderRates(picture, kTrackBitRate, kTrackVbvBufferBytes);
    std::FILE* file = std::fopen(outputPath.c_str(), "wb");
    if (!file)
        MjpegFatal("Couldn't create output file " + outputPath);
    WriteStream(file, outputPath, picture);
}

StillPlanes ReadPlanesRequest(MjpegRequestReader& request, std::int32_t& norm, std::int32_t& transforms,
                              std::string& outputPath)
{
    StillPlanes planes;
    planes.width = request.I32();
    planes.height = request.I32();
    norm = request.I32();
    transforms = request.I32();
    outputPath = request.Text();
    std::uint32_t sizes[3] = {request.U32(), request.U32(), request.U32()};
    // The planes must be the frame's: the encoder reads them by the frame's size.
    if (planes.width <= 0 || planes.height <= 0 || planes.width > kLargestPictureSide ||
        planes.height > kLargestPictureSide ||
        sizes[0] != static_cast<std::uint32_t>(planes.width) * static_cast<std::uint32_t>(planes.height) ||
        sizes[1] != static_cast<std::uint32_t>(planes.ChromaWidth() * planes.ChromaHeight()) || sizes[2] != sizes[1] ||
        (norm != 0 && norm != 1) ||
        (transforms != static_cast<std::int32_t>(StillTransforms::Fast) &&
         transforms != static_cast<std::int32_t>(StillTransforms::Reference)))
        MjpegFatal("malformed job request\n");
    auto take = [&](std::vector<std::uint8_t>& plane, std::uint32_t size) {
        std::string_view bytes = request.Bytes(size);
        plane.assign(bytes.begin(), bytes.end());
    };
    take(planes.y, sizes[0]);
    take(planes.cb, sizes[1]);
    take(planes.cr, sizes[2]);
    return planes;
}

} // namespace

void RunTrackPictureJobInThisProcess(MjpegRequestReader& request)
{
    std::int32_t norm = 0;
    std::int32_t transforms = 0;
    std::string outputPath;
    StillPlanes planes = ReadPlanesRequest(request, norm, transforms, outputPath);
    if (planes.width != kTrackWidth || planes.height != TrackHeight(static_cast<TvNorm>(norm)))
        MjpegFatal("malformed job request\n");
    EncodeTrackPictureInJob(planes, outputPath, static_cast<TvNorm>(norm), static_cast<StillTransforms>(transforms));
}

void RunEncodeJobInThisProcess(MjpegRequestReader& request)
{
    std::int32_t norm = 0;
    std::int32_t transforms = 0;
    std::string outputPath;
    StillPlanes planes = ReadPlanesRequest(request, norm, transforms, outputPath);
    EncodeInJob(planes, outputPath, static_cast<TvNorm>(norm), static_cast<StillTransforms>(transforms));
}

YCbCrSample ConvertRgbToYCbCr(int red, int green, int blue)
{
    YCbCrSample sample;
    sample.y = TruncatedDivide256(29 * blue + 150 * green + 77 * red);
    sample.cb = TruncatedDivide256(131 * blue - 87 * green - 44 * red + 128 * 256);
    sample.cr = TruncatedDivide256(-21 * blue - 110 * green + 131 * red + 128 * 256);
    return sample;
}

bool ReadStillFrame(const std::uint8_t* header, const std::uint8_t* palette, const std::uint8_t* pixelRows,
                    StillPlanes& planes, std::string* error)
{
    auto fail = [&](const char* text) {
        if (error)
            *error = text;
        planes = StillPlanes{};
        return false;
    };
    if (!header || !pixelRows)
        return fail(kPixelFormatText);
    auto width = static_cast<std::int32_t>(ReadLe32(header + kHeaderWidth));
    auto height = static_cast<std::int32_t>(ReadLe32(header + kHeaderHeight));
    int bitCount = ReadLe16(header + kHeaderBitCount);
    std::uint32_t compression = ReadLe32(header + kHeaderCompression);
    if (width <= 0 || width > kLargestPictureSide)
        return fail("Horizontal size from input stream illegal\n");
    if (height <= 0 || height > kLargestPictureSide)
        return fail("Vertical size from input stream illegal\n");

    bool bitFields = compression == kCompressionBitFields && (bitCount == 16 || bitCount == 32);
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return fail(kPixelFormatText);
    if (compression != kCompressionRgb && !bitFields)
        return fail(kPixelFormatText);
    if ((bitCount == 8 || bitFields) && !palette)
        return fail(kPixelFormatText);

    int paletteEntries = 0;
    if (bitCount == 8) {
        std::uint32_t used = ReadLe32(header + kHeaderColoursUsed);
        paletteEntries = used == 0 || used > 256 ? 256 : static_cast<int>(used);
    }
    BitField red(0x7C00), green(0x03E0), blue(0x001F);
    if (bitFields) {
        red = BitField(ReadLe32(palette));
        green = BitField(ReadLe32(palette + 4));
        blue = BitField(ReadLe32(palette + 8));
    } else if (bitCount == 32) {
        red = BitField(0x00FF0000);
        green = BitField(0x0000FF00);
        blue = BitField(0x000000FF);
    }

    try {
        std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        planes.width = width;
        planes.height = height;
        planes.y.assign(area, 0);
        std::vector<std::uint8_t> cbFull(area), crFull(area);
        std::size_t stride = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;

        auto convertRows = [&](int firstRow, int endRow) {
            for (int row = firstRow; row < endRow; ++row) {
                // Row 0 of the picture is the last stored row of the bottom-up bitmap.
                const std::uint8_t* in = pixelRows + static_cast<std::size_t>(height - 1 - row) * stride;
                std::size_t outRow = static_cast<std::size_t>(row) * width;
                for (int x = 0; x < width; ++x) {
                    int r = 0, g = 0, b = 0;
                    if (bitCount == 32 && !bitFields) {
                        b = in[x * 4];
                        g = in[x * 4 + 1];
                        r = in[x * 4 + 2];
                    } else if (bitCount == 24) {
                        b = in[x * 3];
                        g = in[x * 3 + 1];
                        r = in[x * 3 + 2];
                    } else if (bitCount == 8) {
                        int index = in[x];
                        if (index < paletteEntries) {
                            const std::uint8_t* entry = palette + index * 4;
                            b = entry[0];
                            g = entry[1];
                            r = entry[2];
                        }
                    } else {
                        std::uint32_t pixel = bitCount == 16 ? ReadLe16(in + x * 2) : ReadLe32(in + x * 4);
                        r = red.Expand(pixel);
                        g = green.Expand(pixel);
                        b = blue.Expand(pixel);
                    }
                    YCbCrSample sample = ConvertRgbToYCbCr(r, g, b);
                    planes.y[outRow + x] = Clamp(sample.y);
                    cbFull[outRow + x] = Clamp(sample.cb);
                    crFull[outRow + x] = Clamp(sample.cr);
                }
            }
        };
        // The frame is read on two threads (the rows, then the two chrominance planes are
        // independent): it sits on the path of every slide, before the encoder starts.
        planes.cb.assign(static_cast<std::size_t>(planes.ChromaWidth()) * planes.ChromaHeight(), 0);
        planes.cr.assign(planes.cb.size(), 0);
        RunSideBySide([&] { convertRows(height / 2, height); }, [&] { convertRows(0, height / 2); });
        RunSideBySide([&] { Reduce420(cbFull, width, height, planes.cb); },
                      [&] { Reduce420(crFull, width, height, planes.cr); });
    } catch (const std::bad_alloc&) {
        return fail("malloc failed\n");
    }
    return true;
}

void StillEncoder::SetStillFrame(const std::uint8_t* bitmapInfoHeader, const std::uint8_t* palette,
                                 const std::uint8_t* pixelRows)
{
    header_ = bitmapInfoHeader;
    palette_ = palette;
    pixels_ = pixelRows;
    prepared_ = false;
}

bool StillEncoder::PrepareStillEncoder(std::string* error)
{
    prepared_ = ReadStillFrame(header_, palette_, pixels_, planes_, error);
    if (!prepared_)
        MjpegLog(MjpegLogLevel::Error, error ? *error : kPixelFormatText);
    return prepared_;
}

bool StillEncoder::EncodeStill(const std::string& outputPath, TvNorm norm, std::string* error)
{
    if (!prepared_) {
        if (error)
            *error = "no prepared frame to encode";
        return false;
    }
    // The planes go to the helper as they are; only the small fields are put together.
    MjpegRequestWriter head;
    head.I32(planes_.width);
    head.I32(planes_.height);
    head.I32(static_cast<std::int32_t>(norm));
    head.I32(static_cast<std::int32_t>(transforms_));
    head.Text(outputPath);
    head.U32(static_cast<std::uint32_t>(planes_.y.size()));
    head.U32(static_cast<std::uint32_t>(planes_.cb.size()));
    head.U32(static_cast<std::uint32_t>(planes_.cr.size()));
    auto view = [](const std::vector<std::uint8_t>& plane) {
        return std::string_view(reinterpret_cast<const char*>(plane.data()), plane.size());
    };
    MjpegJobResult result =
        RunMjpegHelperJob("encode", {head.Bytes(), view(planes_.y), view(planes_.cb), view(planes_.cr)});
    // Free the planes as the encoder frees its buffers after every picture.
    planes_ = StillPlanes{};
    prepared_ = false;
    if (!result.ok && error)
        *error = result.error;
    return result.ok;
}

bool EncodeStill(const PicBitmap& frame, TvNorm norm, const std::string& outputPath, std::string* error)
{
    StillEncoder encoder;
    encoder.SetStillFrame(frame);
    return encoder.PrepareStillEncoder(error) && encoder.EncodeStill(outputPath, norm, error);
}

} // namespace lumivox
