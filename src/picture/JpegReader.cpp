// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/JpegReader.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeBudget.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace lumivox {

namespace {

// The library reports a fatal error by calling error_exit, which must not return. We
// jump back to the guard around the library call that failed (no C++ frames with
// destructors lie in between) and turn the saved message into PLTextException.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool stopped; // by the progress monitor: cancelled, or beyond the scan limit
};

// Scans of a progressive file: cameras and editors write about ten; every scan is one
// more pass over the whole picture, so a file of thousands of them would take minutes.
constexpr int kMaxScans = 300;
// What the library may hold for one picture (a progressive file keeps every coefficient
// of the picture): enough for any camera's, and a bound on what a worker takes.
constexpr std::uint64_t kMaxLibraryMemory = std::uint64_t(512) << 20;

// Called by the library between rows and scans: the place to stop a decode that was
// cancelled or that goes beyond the scan limit.
void ProgressMonitor(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    const char* reason = nullptr;
    char text[JMSG_LENGTH_MAX];
    if (DecodeWatchScope::StepCancelled()) {
        reason = kDecodeCancelled;
    } else if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        std::snprintf(text, sizeof text, "The picture has more than %d scans.", kMaxScans);
        reason = text;
    }
    if (reason == nullptr)
        return;
    std::snprintf(err->message, sizeof err->message, "%s", reason);
    err->stopped = true;
    std::longjmp(err->jump, 1);
}

void ErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data the library can step over) are counted, never printed.
void OutputMessage(j_common_ptr)
{ }

template <class F>
bool Guarded(ErrorManager& err, F&& call)
{
    if (setjmp(err.jump) != 0)
        return false;
    call();
    return true;
}

// Source manager over the memory view: the whole file is handed over at once. When the
// library asks for more, the file is truncated: it gets a fake end-of-image marker, warns
// of the premature end and fills the rest of the picture, so a camera file cut short
// still shows what it holds. Whether the data ran out before the last row of blocks is
// remembered, so that a library error after that point reads as the end of the file.
struct MemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
    bool hitEnd;
    bool truncated;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr)
{ }

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    if (!src->hitEnd) {
        src->hitEnd = true;
        src->truncated = cinfo->total_iMCU_rows == 0 || cinfo->input_iMCU_row + 1 < cinfo->total_iMCU_rows;
    }
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kFakeEoi;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    if (count <= 0)
        return;
    while (static_cast<std::size_t>(count) > src->pub.bytes_in_buffer) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr)
{ }

// Adobe writes CMYK (and YCCK, which the library turns into CMYK) inverted: a stored 255
// is no ink. Other writers store plain ink amounts.
void CmykRowToBgra(const JSAMPLE* src, std::uint8_t* dst, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, src += 4, dst += 4) {
        int c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
        dst[3] = 255;
    }
}

void RgbRowToBgra(const JSAMPLE* src, std::uint8_t* dst, JDIMENSION width)
{
    for (JDIMENSION x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 255;
    }
}

int DensityToDpi(unsigned density, int unit)
{
    if (density <= 1)
        return 72;
    // Unit 2 is dots per centimetre.
    return unit == 2 ? static_cast<int>(density * 2.54 + 0.5) : static_cast<int>(density);
}

enum class Output { Grey, Bgra, Rgb, Cmyk };

} // namespace

struct JpegReader::State {
    ErrorManager error;
    MemorySource source;
    jpeg_progress_mgr progress;
    jpeg_decompress_struct cinfo;
    bool created = false;
};

JpegReader::JpegReader() : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.cinfo.err = jpeg_std_error(&s.error.pub);
    s.error.pub.error_exit = ErrorExit;
    s.error.pub.output_message = OutputMessage;
    s.error.message[0] = '\0';
    if (!Guarded(s.error, [&] { jpeg_create_decompress(&s.cinfo); }))
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, s.error.message);
    s.created = true;
    s.progress.progress_monitor = ProgressMonitor;
    s.cinfo.progress = &s.progress;
    s.source.pub.init_source = InitSource;
    s.source.pub.fill_input_buffer = FillInputBuffer;
    s.source.pub.skip_input_data = SkipInputData;
    s.source.pub.resync_to_restart = jpeg_resync_to_restart;
    s.source.pub.term_source = TermSource;
}

JpegReader::~JpegReader()
{
    if (state_->created)
        jpeg_destroy_decompress(&state_->cinfo);
}

void JpegReader::Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options)
{
    Run(source, options, &target, nullptr);
}

void JpegReader::DecodeRows(MappedFileSource& source, const DecodeOptions& options, PicRowTarget& rows)
{
    Run(source, options, nullptr, &rows);
}

void JpegReader::Run(MappedFileSource& source, const DecodeOptions& options, PicBitmap* bitmap, PicRowTarget* rows)
{
    State& s = *state_;
    j_decompress_ptr cinfo = &s.cinfo;
    // Whatever happens, the object goes back to its idle state for the next file.
    struct AbortOnExit {
        j_decompress_ptr cinfo;
        ~AbortOnExit() { jpeg_abort_decompress(cinfo); }
    } abortOnExit{cinfo};

    s.source.data = source.Data() + source.Position();
    s.source.size = source.Remaining();
    s.error.stopped = false;
    s.source.hitEnd = false;
    s.source.truncated = false;
    s.source.pub.next_input_byte = s.source.data;
    s.source.pub.bytes_in_buffer = s.source.size;
    cinfo->src = &s.source.pub;

    auto fail = [&]() -> PLTextException {
        if (!s.error.stopped && s.source.hitEnd && s.source.truncated)
            return PLTextException(PL_ERREND_OF_FILE, "End of file reached while decoding.\n");
        if (!s.error.stopped && s.error.pub.msg_code == JERR_OUT_OF_MEMORY)
            return PLTextException(PL_ERRNO_MEMORY, "Picture size " + std::to_string(cinfo->image_width) + " x " +
                                                        std::to_string(cinfo->image_height) +
                                                        " needs more memory than a picture may take.");
        return PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, s.error.message);
    };

    // APP2 markers carry the ICC profile, in chunks the library joins up for us.
    if (!Guarded(s.error, [&] {
            jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(cinfo, TRUE);
        }))
        throw fail();
    std::string icc;
    {
        JOCTET* profile = nullptr;
        unsigned int profileSize = 0;
        if (Guarded(s.error, [&] { jpeg_read_icc_profile(cinfo, &profile, &profileSize); }) && profile)
            icc.assign(reinterpret_cast<const char*>(profile), profileSize);
        std::free(profile);
    }
    PicBitmap::CheckSize(cinfo->image_width, cinfo->image_height, options.maxPixels);
    // Progressive files buffer every coefficient of the picture; bound what the library
    // may take (beyond it, it fails instead of asking for a backing store).
    cinfo->mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(
        {options.maxPixels * 8 + (64u << 20), kMaxLibraryMemory, static_cast<std::uint64_t>(LONG_MAX / 2)}));

    cinfo->dct_method = JDCT_FLOAT;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    if (options.mode == DecodeMode::Reduced && cinfo->image_width >= 320 && cinfo->image_height >= 240) {
        cinfo->scale_denom = 8;
    } else if (options.usefulWidth > 0 && options.usefulHeight > 0) {
        // A picture at least twice the size it is shown at (a camera's photo on a TV frame)
        // is decoded at the smallest of an eighth, a quarter, three eighths and a half that
        // keeps it so: much of the time, with the frame's pixels within 40 dB of a full
        // decode's, and a decoded picture near twice the frame however large the photo (a
        // 16-megapixel photo takes 9 MB at three eighths, not 16 MB at a half). The
        // library's scales above a half are no faster than its full decode.
        const auto scaled = [](JDIMENSION side, unsigned eighths) {
            return (std::uint64_t(side) * eighths + 7) / 8; // the library rounds up
        };
        for (unsigned eighths = 1; eighths <= 4; ++eighths)
            if (scaled(cinfo->image_width, eighths) >= 2 * std::uint64_t(options.usefulWidth) &&
                scaled(cinfo->image_height, eighths) >= 2 * std::uint64_t(options.usefulHeight)) {
                cinfo->scale_num = eighths;
                cinfo->scale_denom = 8;
                break;
            }
    }

    Output output = Output::Rgb;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        output = Output::Grey;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        output = Output::Cmyk;
        break;
    default:
#ifdef JCS_EXTENSIONS
        // The library writes blue, green, red, 255 straight into the bitmap rows.
        cinfo->out_color_space = JCS_EXT_BGRA;
        output = Output::Bgra;
#else
        cinfo->out_color_space = JCS_RGB;
        output = Output::Rgb;
#endif
        break;
    }
    if (!Guarded(s.error, [&] { jpeg_calc_output_dimensions(cinfo); }))
        throw fail();
    // A progressive file keeps every coefficient of the picture at its full size, however
    // small it is decoded: that counts against the decodes' shared budget as a bitmap
    // would, so that workers meeting huge progressive photos at once take turns.
    if (cinfo->progressive_mode) {
        std::size_t coefficients = 0;
        for (int c = 0; c < cinfo->num_components; ++c)
            coefficients += static_cast<std::size_t>(cinfo->comp_info[c].width_in_blocks) *
                            static_cast<std::size_t>(cinfo->comp_info[c].height_in_blocks) * sizeof(JBLOCK);
        ReserveDecodeMemory(coefficients);
    }

    const int width = static_cast<int>(cinfo->output_width);
    const int height = static_cast<int>(cinfo->output_height);
    const bool inverted = cinfo->saw_Adobe_marker != 0;
    // A CMYK picture with its own profile is converted by it; the fixed formula is for
    // those without.
    const bool cmykProfile = output == Output::Cmyk && !icc.empty() &&
                             IsCmykProfile(reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size());
    // Rows of the library's output that are not blue, green, red, 255 already.
    const auto toBgra = [&](const JSAMPLE* in, std::uint8_t* out) {
        if (cmykProfile)
            CmykRowToSrgb(reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size(), in, out, width, inverted);
        else if (output == Output::Cmyk)
            CmykRowToBgra(in, out, cinfo->output_width, inverted);
        else
            RgbRowToBgra(in, out, cinfo->output_width);
    };
    if (rows != nullptr) {
        // A batch of the library's rows at a time, each handed over as it is made: the
        // decoded picture is never held whole.
        const int batch = std::max(cinfo->rec_outbuf_height, 1);
        const std::size_t samples = output == Output::Grey ? 1 : output == Output::Rgb ? 3 : 4;
        const std::size_t lineBytes = static_cast<std::size_t>(width) * samples;
        std::vector<JSAMPLE> lines(lineBytes * static_cast<std::size_t>(batch));
        std::vector<JSAMPROW> linePointers(static_cast<std::size_t>(batch));
        for (int i = 0; i < batch; ++i)
            linePointers[static_cast<std::size_t>(i)] = lines.data() + lineBytes * static_cast<std::size_t>(i);
        std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * 4, 0);
        const SrgbRows srgb(output == Output::Cmyk ? nullptr : reinterpret_cast<const std::uint8_t*>(icc.data()),
                            output == Output::Cmyk ? 0 : icc.size());
        rows->Begin(width, height, false);
        int handed = 0;
        if (!Guarded(s.error, [&] { jpeg_start_decompress(cinfo); }))
            throw fail();
        while (cinfo->output_scanline < cinfo->output_height) {
            JDIMENSION read = 0;
            if (!Guarded(s.error, [&] { read = jpeg_read_scanlines(cinfo, linePointers.data(), batch); }))
                throw fail();
            if (read == 0)
                break;
            for (JDIMENSION i = 0; i < read; ++i, ++handed) {
                JSAMPLE* line = linePointers[i];
                std::uint8_t* pixels = output == Output::Bgra ? line : bgra.data();
                if (output == Output::Bgra) {
                    // The library's row is blue, green, red, 255 already.
                } else if (output == Output::Grey) {
                    for (int x = 0; x < width; ++x) {
                        pixels[4 * x + 0] = pixels[4 * x + 1] = pixels[4 * x + 2] = line[x];
                        pixels[4 * x + 3] = 255;
                    }
                } else {
                    toBgra(line, pixels);
                }
                srgb.Convert(pixels, width);
                rows->Row(pixels);
            }
        }
        // Rows a decode that stopped early did not reach are black, as in a bitmap.
        std::fill(bgra.begin(), bgra.end(), 0);
        for (; handed < height; ++handed)
            rows->Row(bgra.data());
        if (!Guarded(s.error, [&] { jpeg_finish_decompress(cinfo); }))
            throw fail();
        return;
    }
    PicBitmap& target = *bitmap;
    // Straight to the bitmap, libjpeg writes every row before the decode ends, so the
    // rows need no zeroing first; rows a failed decode did not reach are zeroed below.
    const bool direct = output == Output::Grey || output == Output::Bgra;
    if (direct)
        target.CreateUnfilled(width, height, output == Output::Grey ? 8 : 32, false);
    else
        target.Create(width, height, output == Output::Grey ? 8 : 32, false);
    struct ZeroUnreached {
        j_decompress_ptr cinfo;
        PicBitmap& target;
        bool active;
        ~ZeroUnreached()
        {
            if (!active)
                return;
            for (int y = static_cast<int>(std::min(cinfo->output_scanline, cinfo->output_height)); y < target.Height();
                 ++y)
                std::memset(target.Row(y), 0, static_cast<std::size_t>(target.Stride()));
        }
    } zeroUnreached{cinfo, target, direct};
    target.SetResolution(DensityToDpi(cinfo->X_density, cinfo->density_unit),
                         DensityToDpi(cinfo->Y_density, cinfo->density_unit));

    std::vector<JSAMPLE> line;
    if (output == Output::Rgb || output == Output::Cmyk)
        line.resize(static_cast<std::size_t>(width) * (output == Output::Cmyk ? 4 : 3));
    JSAMPROW* targetRows = const_cast<JSAMPROW*>(target.RowTable());

    if (!Guarded(s.error, [&] { jpeg_start_decompress(cinfo); }))
        throw fail();
    if (direct) {
        if (!Guarded(s.error, [&] {
                while (cinfo->output_scanline < cinfo->output_height)
                    jpeg_read_scanlines(cinfo, targetRows + cinfo->output_scanline,
                                        cinfo->output_height - cinfo->output_scanline);
            }))
            throw fail();
    } else {
        JSAMPROW lineRow = line.data();
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION y = cinfo->output_scanline;
            if (!Guarded(s.error, [&] { jpeg_read_scanlines(cinfo, &lineRow, 1); }))
                throw fail();
            if (cinfo->output_scanline == y)
                break;
            toBgra(line.data(), target.Row(static_cast<int>(y)));
        }
    }
    if (direct && cinfo->output_scanline >= cinfo->output_height)
        zeroUnreached.active = false;
    if (!Guarded(s.error, [&] { jpeg_finish_decompress(cinfo); }))
        throw fail();
    if (!icc.empty() && output != Output::Cmyk)
        ConvertToSrgb(target, icc);
}

} // namespace lumivox
