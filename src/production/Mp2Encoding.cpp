// SPDX-License-Identifier: GPL-2.0-or-later
// EncodeWaveToMp2: the Layer II encoding of the menu music through libtwolame, with the
// settings its command-line front end gives a file when no option is passed.
//
// Layer II frames stand alone (there is no bit reservoir), so a long input is encoded in
// parts on several threads and the parts are joined. Each later part's encoder first runs
// over some frames before its start and their output is dropped: its filter bank and
// psychoacoustic model then hold the same history as the single encoder would, and the
// frames at the joint are the ones a single pass makes.

#include "production/MusicConversion.h"

#include <twolame.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "base/Parallel.h"
#include "base/TextUtil.h"
#include "production/WaveFile.h"

namespace lumivox {

namespace {

// Bit rates of the front end's defaults: the eleventh entries (index 10) of the Layer II
// tables of ISO/IEC 11172-3 and 13818-3.
constexpr int kMpeg1Kbps = 192;
constexpr int kMpeg2Kbps = 96;
constexpr int kPsychoacousticModel = 1;
constexpr std::size_t kSamplesPerFrame = TWOLAME_SAMPLES_PER_FRAME;
// Samples per channel handed to the encoder at once, and room for what it returns: one
// frame per 1152 samples, at most 1,152 bytes each (192 kbit/s at 32 kHz is 864).
constexpr std::size_t kEncodeBlockFrames = kSamplesPerFrame * 32;
constexpr std::size_t kEncodeOutputBytes = 34 * 1441;
constexpr std::size_t kOutputFileBuffer = 1 << 16;
// Frames run through the second half's encoder before its start, at the least: more than
// the 512-tap analysis filter and the psychoacoustic model's window look back.
constexpr std::size_t kPrimingFrames = 3;
// A part shorter than this many frames (about 6 s) is not worth a thread of its own; the
// frames held in memory are limited (50,000 frames are at most about 50 MB).
constexpr std::uint64_t kMinFramesPerPart = 256;
constexpr std::uint64_t kMaxHeldBackFrames = 50'000;

const char* const kCancelled = "cancelled";

struct TwolameDeleter {
    void operator()(twolame_options* options) const { twolame_close(&options); }
};
using Encoder = std::unique_ptr<twolame_options, TwolameDeleter>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

Encoder MakeEncoder(int rate, int channels)
{
    Encoder encoder(twolame_init());
    if (!encoder)
        return nullptr;
    const bool mpeg1 = rate >= 32000;
    twolame_options* options = encoder.get();
    twolame_set_verbosity(options, 0);
    twolame_set_num_channels(options, channels);
    twolame_set_in_samplerate(options, rate);
    twolame_set_out_samplerate(options, rate);
    twolame_set_version(options, mpeg1 ? TWOLAME_MPEG1 : TWOLAME_MPEG2);
    twolame_set_mode(options, channels == 1 ? TWOLAME_MONO : TWOLAME_JOINT_STEREO);
    twolame_set_bitrate(options, mpeg1 ? kMpeg1Kbps : kMpeg2Kbps);
    twolame_set_psymodel(options, kPsychoacousticModel);
    twolame_set_error_protection(options, 0);
    twolame_set_emphasis(options, TWOLAME_EMPHASIS_N);
    twolame_set_copyright(options, 0);
    twolame_set_original(options, 0);
    // 44.1 and 22.05 kHz need an extra byte in some frames to keep the exact bit rate.
    twolame_set_padding(options, TWOLAME_PAD_ALL);
    if (twolame_init_params(options) != 0)
        return nullptr;
    return encoder;
}

// Frames after which the padding pattern of a stream repeats: the denominator of the
// exact frame length coefficient × bit rate / sample rate.
std::uint64_t PaddingPeriod(int rate)
{
    const bool mpeg1 = rate >= 32000;
    const std::uint64_t numerator = (mpeg1 ? 144ull * kMpeg1Kbps : 72ull * kMpeg2Kbps) * 1000;
    std::uint64_t a = numerator, b = static_cast<std::uint64_t>(rate);
    while (b) {
        const std::uint64_t t = a % b;
        a = b;
        b = t;
    }
    return static_cast<std::uint64_t>(rate) / a;
}

using Sink = std::function<bool(const unsigned char*, std::size_t)>;

// One stretch of the input: frames [first, first + count) of samples, preceded by
// `priming` frames whose output is dropped, completed with silence at the end when
// `finish` is set (only the last stretch).
struct Stretch {
    std::uint64_t first = 0;
    std::uint64_t count = UINT64_MAX;
    std::size_t priming = 0;
    bool finish = true;
};

bool EncodeStretch(const std::string& wavePath, const Stretch& stretch, const Sink& sink,
                   const std::atomic<bool>* cancel, std::string* error)
{
    PcmInput input;
    if (!input.Open(wavePath, error))
        return false;
    const int channels = input.Channels();
    Encoder encoder = MakeEncoder(input.SampleRate(), channels);
    if (!encoder) {
        *error =
            wavePath + Format(": the Layer II encoder refuses %d Hz with %d channel(s)", input.SampleRate(), channels);
        return false;
    }
    const std::uint64_t primingSamples = stretch.priming * kSamplesPerFrame;
    if (!input.SeekToFrame(stretch.first - primingSamples)) {
        *error = wavePath + ": cannot be read";
        return false;
    }
    std::vector<std::int16_t> samples(kEncodeBlockFrames * static_cast<std::size_t>(channels));
    std::vector<unsigned char> encoded(kEncodeOutputBytes);

    // The priming frames: exactly that many whole frames come out, and are dropped.
    for (std::uint64_t primingLeft = primingSamples; primingLeft > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(primingLeft, kEncodeBlockFrames));
        const long got = input.Read(samples.data(), want);
        if (got != static_cast<long>(want) ||
            twolame_encode_buffer_interleaved(encoder.get(), samples.data(), static_cast<int>(got), encoded.data(),
                                              static_cast<int>(encoded.size())) < 0) {
            *error = wavePath + ": cannot be read";
            return false;
        }
        primingLeft -= want;
    }

    std::uint64_t left = stretch.count;
    while (left > 0) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            *error = kCancelled;
            return false;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kEncodeBlockFrames));
        const long frames = input.Read(samples.data(), want);
        if (frames < 0) {
            *error = wavePath + ": cannot be read";
            return false;
        }
        if (frames == 0)
            break;
        left -= static_cast<std::uint64_t>(frames);
        const int bytes = twolame_encode_buffer_interleaved(encoder.get(), samples.data(), static_cast<int>(frames),
                                                            encoded.data(), static_cast<int>(encoded.size()));
        if (bytes < 0) {
            *error = wavePath + ": the Layer II encoder failed";
            return false;
        }
        if (!sink(encoded.data(), static_cast<std::size_t>(bytes)))
            return false;
    }
    if (stretch.finish) {
        const int bytes = twolame_encode_flush(encoder.get(), encoded.data(), static_cast<int>(encoded.size()));
        if (bytes < 0) {
            *error = wavePath + ": the Layer II encoder failed";
            return false;
        }
        if (!sink(encoded.data(), static_cast<std::size_t>(bytes)))
            return false;
    }
    return true;
}

} // namespace

namespace mp2_testing {
std::function<void(std::size_t part)> partHook;
} // namespace mp2_testing

bool EncodeWaveToMp2(const std::string& wavePath, const std::string& mp2Path, std::string* error,
                     const std::atomic<bool>* cancel)
{
    return EncodeWaveToMp2(wavePath, mp2Path, error, cancel, WorkerBudget());
}

bool EncodeWaveToMp2(const std::string& wavePath, const std::string& mp2Path, std::string* error,
                     const std::atomic<bool>* cancel, int maxThreads)
{
    std::string reason;
    const auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };

    // Check the input (and that the encoder takes it) before the output is touched.
    PcmInput probe;
    if (!probe.Open(wavePath, &reason))
        return fail(reason);
    if (!MakeEncoder(probe.SampleRate(), probe.Channels()))
        return fail(wavePath + Format(": the Layer II encoder refuses %d Hz with %d channel(s)", probe.SampleRate(),
                                      probe.Channels()));
    const std::uint64_t totalSamples = probe.FramesRemaining();
    const std::uint64_t totalFrames = totalSamples / kSamplesPerFrame;

    std::unique_ptr<std::FILE, FileCloser> output(std::fopen(mp2Path.c_str(), "wb"));
    if (!output)
        return fail(mp2Path + ": cannot be created: " + std::strerror(errno));
    std::setvbuf(output.get(), nullptr, _IOFBF, kOutputFileBuffer);
    bool writeFailed = false;
    const Sink toFile = [&](const unsigned char* bytes, std::size_t count) {
        if (count && std::fwrite(bytes, 1, count, output.get()) != count) {
            writeFailed = true;
            return false;
        }
        return true;
    };
    const auto writeFailure = [&] { return fail(mp2Path + ": cannot be written: " + std::strerror(errno)); };

    // Parts of at least kMinFramesPerPart frames, one per thread; the parts after the
    // first are held in memory until the first is written, so very long inputs run in
    // fewer parts.
    std::uint64_t parts = static_cast<std::uint64_t>(std::max(1, maxThreads));
    parts = std::min(parts, totalFrames / kMinFramesPerPart);
    while (parts > 1 && totalFrames - totalFrames / parts > kMaxHeldBackFrames)
        --parts;
    if (parts <= 1) {
        if (!EncodeStretch(wavePath, Stretch{}, toFile, cancel, &reason))
            return writeFailed ? writeFailure() : fail(reason);
    } else {
        // The encoder pads a frame whenever the bytes owed by the exact bit rate reach one
        // (44.1 and 22.05 kHz), a pattern that repeats every PaddingPeriod frames from the
        // start of the stream. Priming a whole number of periods short of a part's start
        // puts its encoder in step with that pattern, so that the joined stream is the
        // very stream a single pass makes.
        const std::uint64_t period = PaddingPeriod(probe.SampleRate());
        const auto partStart = [&](std::uint64_t part) { return totalFrames * part / parts; };
        std::vector<Stretch> stretches(parts);
        for (std::uint64_t part = 0; part < parts; ++part) {
            Stretch& stretch = stretches[part];
            const std::uint64_t first = partStart(part);
            stretch.first = first * kSamplesPerFrame;
            stretch.priming =
                part == 0 ? 0 : static_cast<std::size_t>(kPrimingFrames + (first - kPrimingFrames) % period);
            stretch.finish = part + 1 == parts;
            if (!stretch.finish)
                stretch.count = (partStart(part + 1) - first) * kSamplesPerFrame;
        }

        struct PartResult {
            std::vector<unsigned char> bytes;
            std::string reason;
            bool ok = false;
        };
        std::vector<PartResult> results(parts);
        // Part 0 goes straight to the file; the others are held in memory until it is
        // written. Whatever a part throws is carried here once every part has ended.
        try {
            ParallelFor(static_cast<std::size_t>(parts), maxThreads, [&](std::size_t part) {
                PartResult& result = results[part];
                if (mp2_testing::partHook)
                    mp2_testing::partHook(part);
                const Sink toMemory = [&](const unsigned char* bytes, std::size_t count) {
                    result.bytes.insert(result.bytes.end(), bytes, bytes + count);
                    return true;
                };
                try {
                    result.ok =
                        EncodeStretch(wavePath, stretches[part], part == 0 ? toFile : toMemory, cancel, &result.reason);
                } catch (const std::bad_alloc&) {
                    result.reason = wavePath + ": not enough memory to encode it";
                }
            });
        } catch (const std::exception& failure) {
            return fail(wavePath + ": the music could not be encoded: " + failure.what());
        }
        if (!results[0].ok)
            return writeFailed ? writeFailure() : fail(results[0].reason);
        for (std::uint64_t part = 1; part < parts; ++part) {
            if (!results[part].ok)
                return fail(results[part].reason);
            if (!toFile(results[part].bytes.data(), results[part].bytes.size()))
                return writeFailure();
        }
    }
    if (std::fclose(output.release()) != 0)
        return writeFailure();
    return true;
}

} // namespace lumivox
