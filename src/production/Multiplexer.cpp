// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/Multiplexer.h"

#include "production/MjpegJob.h"
#include "production/MjpegLog.h"
#include "production/SlideshowTrack.h"

#include <format_codes.h>
#include <mplex/audiostrm.hpp>
#include <mplex/bits.hpp>
#include <mplex/interact.hpp>
#include <mplex/multiplexor.hpp>
#include <mplex/outputstrm.hpp>
#include <mplex/stream_params.hpp>
#include <mplex/videostrm.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lumivox {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The multiplexer keeps its audio streams in private lists. For Video CD stills it only
// builds the still streams, so the menu music is added to those lists after construction,
// exactly as its own video-program set-up adds audio. The lists are reached through the
// standard explicit-instantiation rule for member pointers (access is not checked there).
template <typename Tag, typename Tag::type Member>
struct PrivateMember {
    friend typename Tag::type Get(Tag) { return Member; }
};
struct ElementaryStreams {
    using type = std::vector<ElementaryStream*> Multiplexor::*;
    friend type Get(ElementaryStreams);
};
struct AudioStreams {
    using type = std::vector<ElementaryStream*> Multiplexor::*;
    friend type Get(AudioStreams);
};
template struct PrivateMember<ElementaryStreams, &Multiplexor::estreams>;
template struct PrivateMember<AudioStreams, &Multiplexor::astreams>;

// An input file read through stdio with the multiplexer's own buffering.
class InputFile : public IBitStream {
public:
    explicit InputFile(const std::string& path) : path_(path)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_)
            MjpegFatal(Format("Unable to open file %s for reading.\n", path.c_str()));
        streamname = path_.c_str();
        SetBufSize(BUFFER_SIZE);
        eobs = false;
        byteidx = 0;
        if (!ReadIntoBuffer() && buffered == 0)
            empty_ = true;
    }
    ~InputFile() override
    {
        if (file_)
            std::fclose(file_);
    }
    bool Empty() const { return empty_; }

private:
    size_t ReadStreamBytes(uint8_t* buffer, size_t count) override { return std::fread(buffer, 1, count, file_); }
    bool EndOfStream() override { return std::feof(file_) != 0; }

    std::string path_;
    std::FILE* file_ = nullptr;
    bool empty_ = false;
};

// The one output file of a segment.
class OutputFile : public OutputStream {
public:
    explicit OutputFile(std::string path) : path_(std::move(path)) { }
    ~OutputFile() override
    {
        if (file_)
            std::fclose(file_);
    }
    int Open() override
    {
        segment_len = 0;
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_)
            MjpegFatal(Format("Could not open for writing: %s\n", path_.c_str()));
        return 0;
    }
    void Close() override
    {
        if (!file_)
            return;
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok)
            MjpegFatal(Format("Failed write: %s (%s)\n", path_.c_str(), std::strerror(errno)));
    }
    uint64_t SegmentSize() override { return segment_len; }
    void NextSegment() override
    {
        MjpegFatal(Format("The segment %s would need more than one output file\n", path_.c_str()));
    }
    void Write(uint8_t* data, unsigned int length) override
    {
        if (!file_ || std::fwrite(data, 1, length, file_) != length)
            MjpegFatal(Format("Failed write: %s (%s)\n", path_.c_str(), std::strerror(errno)));
        segment_len += length;
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

// The body of one multiplexing job (runs in the job's child process). Objects are left to
// the end of the child process, as the multiplexer's own ownership is undocumented.
// The text the multiplexer ends with when a still would be decoded before all of it has
// arrived. The output file is complete by then, but it would not play as it should.
constexpr const char* kUnderRunText = "MUX STATUS: Frame data under-runs detected!";
// The multiplexer's own run-in for stills is too short for a high-resolution still and
// its companion together: both must be in the player's buffers before the first is shown.
// Start from twice the time the stills take at the single-speed rate (75 sectors of 2,324
// bytes a second), in 25 Hz frame intervals, plus a small margin; the multiplexer accepts
// at most 100.
constexpr int kLongestRunInFrames = 100;

int EstimateRunInFrames(const std::vector<std::string>& videoPaths, double scale)
{
    std::uintmax_t bytes = 0;
    for (const auto& path : videoPaths) {
        std::error_code ignored;
        std::uintmax_t size = std::filesystem::file_size(path, ignored);
        if (!ignored)
            bytes += size;
    }
    double seconds = std::ceil(static_cast<double>(bytes) / kVcdPackBytes) / 75.0;
    int frames = static_cast<int>(std::ceil(seconds * 2 * 25 * scale)) + 5;
    return std::min(frames, kLongestRunInFrames);
}

void MultiplexInJob(const std::string& outputPath, const std::vector<std::string>& inputs, double runInScale)
{
    int verbosity = MjpegVerbosity() < 0 ? 0 : MjpegVerbosity();
    auto* job = new MultiplexJob();
    job->mux_format = kMultiplexFormatVcdStills;
    job->verbose = verbosity;
    job->outfile_pattern = outputPath.c_str();
    job->max_segment_size = 0;
    job->vdr_index_pathname = nullptr;
    MjpegLog(MjpegLogLevel::Information, Format("mplex version %s (%s)\n", kMultiplexerVersion, kMultiplexerDate));

    unsigned mpegAudio = 0;
    unsigned ac3Audio = 0;
    unsigned video = 0;
    bool badFile = false;
    IBitStream* music = nullptr;
    std::vector<std::string> videoPaths;
    for (const std::string& path : inputs) {
        auto* input = new InputFile(path);
        IBitStreamUndo undo;
        input->PrepareUndo(undo);
        StreamKind kind;
        const char* text = nullptr;
        if (input->Empty()) {
            text = nullptr;
        } else if (MPAStream::Probe(*input)) {
            kind = MPEG_AUDIO;
            text = "File %s looks like an MPEG Audio stream.\n";
        } else if (input->UndoChanges(undo), AC3Stream::Probe(*input)) {
            kind = AC3_AUDIO;
            text = "File %s looks like an AC3 Audio stream.\n";
        } else if (input->UndoChanges(undo), VideoStream::Probe(*input)) {
            kind = MPEG_VIDEO;
            text = "File %s looks like an MPEG Video stream.\n";
        }
        if (!text) {
            badFile = true;
            MjpegLog(MjpegLogLevel::Error, Format("File %s unrecogniseable!\n", path.c_str()));
            continue;
        }
        input->UndoChanges(undo);
        MjpegLog(MjpegLogLevel::Information, Format(text, path.c_str()));
        switch (kind) {
        case MPEG_AUDIO:
            ++mpegAudio;
            music = input; // carried next to the stills, not as a job stream
            break;
        case AC3_AUDIO:
            ++ac3Audio;
            break;
        default:
            ++video;
            job->streams.push_back(new JobStream(input, MPEG_VIDEO));
            videoPaths.push_back(path);
            job->video_param.push_back(VideoParams::Checked(kStillVideoBufferKb));
            break;
        }
    }
    if (badFile)
        MjpegFatal("Unrecogniseable file(s)... exiting.\n");

    MjpegLog(MjpegLogLevel::Information,
             Format("Found %u video streams %u MPEG audio streams and %u AC3 streams\n", video, mpegAudio, ac3Audio));
    MjpegLog(MjpegLogLevel::Information, "Multiplexing stills stream!\n");

    // Video CD stills carry one normal and one high-resolution still at most; the
    // multiplexer has room for two still streams only, with or without audio.
    if (video > 2)
        MjpegFatal("VCD stills: no more than two streams (one normal one hi-res) possible\n");
    // A Video CD has one MPEG audio stream (0xC0) and no AC3.
    if (mpegAudio > 1)
        MjpegFatal("VCD stills: no more than one MPEG audio stream possible\n");
    if (ac3Audio > 0)
        MjpegFatal("VCD stills: AC3 audio cannot be carried on a Video CD\n");

    job->video_tracks = video;
    job->audio_tracks = 0;
    job->lpcm_tracks = 0;
    job->subtitle_tracks = 0;
    for (VideoParams* params : job->video_param)
        params->Force(kMultiplexFormatVcdStills);
    job->run_in_frames = static_cast<unsigned>(EstimateRunInFrames(videoPaths, runInScale));

    auto* output = new OutputFile(outputPath);
    auto* multiplexor = new Multiplexor(*job, *output, nullptr);
    if (music) {
        auto* audio = new MPAStream(*music, *multiplexor);
        audio->Init(0);
        (multiplexor->*Get(ElementaryStreams{})).push_back(audio);
        (multiplexor->*Get(AudioStreams{})).push_back(audio);
    }
    multiplexor->Multiplex();
    output->Close();
}

int RunMultiplex(const std::string& outputPath, const std::vector<std::string>& inputs, std::string* error)
{
    MjpegJobResult result;
    // Each attempt is a fresh process; a longer run-in is tried only when the stills
    // would not have arrived in time.
    for (double scale : {1.0, 1.5, 2.25}) {
        MjpegRequestWriter request;
        request.Text(outputPath);
        request.F64(scale);
        request.U32(static_cast<std::uint32_t>(inputs.size()));
        for (const std::string& input : inputs)
            request.Text(input);
        result = RunMjpegHelperJob("multiplex", {request.Bytes()});
        if (result.ok || result.error.rfind(kUnderRunText, 0) != 0)
            break;
        MjpegLog(MjpegLogLevel::Warning, "Run-in too short for the stills; multiplexing again\n");
    }
    if (result.ok)
        return 0;
    if (error)
        *error = result.error;
    return -1;
}

} // namespace

void RunMultiplexJobInThisProcess(MjpegRequestReader& request)
{
    std::string outputPath = request.Text();
    double scale = request.F64();
    std::uint32_t count = request.U32();
    if (!(scale >= 1.0 && scale <= 4.0))
        MjpegFatal("malformed job request\n");
    std::vector<std::string> inputs;
    for (std::uint32_t i = 0; i < count; ++i)
        inputs.push_back(request.Text());
    MultiplexInJob(outputPath, inputs, scale);
}

// The slideshow track: one motion video and one Layer II stream, in the multiplexer's
// Video CD format (2,324-byte packs at the single-speed rate).
void RunTrackMultiplexJobInThisProcess(MjpegRequestReader& request)
{
    std::string outputPath = request.Text();
    std::string videoPath = request.Text();
    std::string audioPath = request.Text();
    auto* job = new MultiplexJob();
    job->mux_format = MPEG_FORMAT_VCD;
    job->verbose = MjpegVerbosity() < 0 ? 0 : MjpegVerbosity();
    job->outfile_pattern = outputPath.c_str();
    job->max_segment_size = 0;
    job->vdr_index_pathname = nullptr;
    auto* video = new InputFile(videoPath);
    auto* audio = new InputFile(audioPath);
    if (video->Empty() || !VideoStream::Probe(*video))
        MjpegFatal(Format("File %s unrecogniseable!\n", videoPath.c_str()));
    {
        IBitStreamUndo undo;
        audio->PrepareUndo(undo);
        if (audio->Empty() || !MPAStream::Probe(*audio))
            MjpegFatal(Format("File %s unrecogniseable!\n", audioPath.c_str()));
        audio->UndoChanges(undo);
    }
    delete video; // probing moved it; read it afresh
    video = new InputFile(videoPath);
    job->streams.push_back(new JobStream(video, MPEG_VIDEO));
    job->streams.push_back(new JobStream(audio, MPEG_AUDIO));
    job->video_param.push_back(VideoParams::Default(MPEG_FORMAT_VCD));
    job->video_tracks = 1;
    job->audio_tracks = 1;
    job->lpcm_tracks = 0;
    job->subtitle_tracks = 0;
    auto* output = new OutputFile(outputPath);
    auto* multiplexor = new Multiplexor(*job, *output, nullptr);
    multiplexor->Multiplex();
    output->Close();
}

int MultiplexMain(int argc, const char* const argv[], std::string* error)
{
    if (argc < 3 || !argv)
        return 0;
    std::vector<std::string> inputs;
    for (int i = 2; i < argc; ++i)
        inputs.emplace_back(argv[i] ? argv[i] : "");
    return RunMultiplex(argv[1] ? argv[1] : "", inputs, error);
}

int MultiplexMain(const std::vector<std::string>& arguments, std::string* error)
{
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    return MultiplexMain(static_cast<int>(argv.size()), argv.data(), error);
}

int MultiplexStill(const std::string& outputPath, const std::string& stillPath, const std::string& companionPath,
                   std::string* error)
{
    return RunMultiplex(outputPath, {stillPath, companionPath}, error);
}

int MultiplexSegment(const std::string& outputPath, const std::string& stillPath, const std::string& companionPath,
                     const std::string& musicPath, std::string* error)
{
    std::vector<std::string> inputs{stillPath, companionPath};
    if (!musicPath.empty())
        inputs.push_back(musicPath);
    return RunMultiplex(outputPath, inputs, error);
}

} // namespace lumivox
