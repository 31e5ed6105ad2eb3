// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli scan: what the Video CD authoring learns of an MPEG program stream.

#include "Command.h"

#include "base/TextUtil.h"
#include "vcd/MpegSource.h"

#include <cstdio>
#include <string>

namespace lumivox::cli {
namespace {

const char* const kVideoStreamNames[kMpegVideoStreamCount] = {"motion video", "normal-resolution still",
                                                              "high-resolution still"};

std::string RateText(double frameRate)
{
    return Format("%.3f", frameRate);
}

void PrintText(const MpegSource& source)
{
    const MpegStreamInfo& info = source.StreamInfo();
    std::printf("File: %s (%llu bytes)\n", source.Path().c_str(), static_cast<unsigned long long>(source.FileSize()));
    std::printf("Packets: %u\n", source.PacketCount());
    for (int k = 0; k < kPacketKindCount; ++k) {
        const auto kind = static_cast<PacketKind>(k);
        if (source.PacketKindCount(kind))
            std::printf("  %-17s %u\n", PacketKindName(kind), source.PacketKindCount(kind));
    }
    if (source.PacketCount())
        std::printf("Pack headers: %s, multiplex rate %u bit/s\n", info.mpeg2 ? "MPEG-2" : "MPEG-1",
                    info.multiplexRate);
    for (int s = 0; s < kMpegVideoStreamCount; ++s) {
        const MpegVideoStreamInfo& video = info.video[s];
        if (!video.present)
            continue;
        std::printf("Video stream 0x%02X (%s): %u packets\n", kMpegFirstVideoStreamId + s, kVideoStreamNames[s],
                    video.packetCount);
        if (video.sequenceHeaderSeen)
            std::printf("  %u x %u at %s frames/s, norm %s, bit rate %u bit/s, buffer %u bytes\n", video.horizontalSize,
                        video.verticalSize, RateText(video.frameRate).c_str(), MpegNormName(GetNorm(video)),
                        video.bitRate, video.bufferSize);
        else
            std::printf("  no sequence header\n");
        std::printf("  %llu access points\n", static_cast<unsigned long long>(video.accessPointCount));
    }
    for (int s = 0; s < kMpegAudioStreamCount; ++s) {
        const MpegAudioStreamInfo& audio = info.audio[s];
        if (!audio.present)
            continue;
        std::printf("Audio stream 0x%02X: %u packets\n", kMpegFirstAudioStreamId + s, audio.packetCount);
        if (audio.frameHeaderSeen)
            std::printf("  MPEG-%s Layer %s, %d Hz, %d bit/s, %s\n",
                        audio.version == 25  ? "2.5"
                        : audio.version == 2 ? "2"
                                             : "1",
                        audio.layer == 1   ? "I"
                        : audio.layer == 2 ? "II"
                                           : "III",
                        audio.samplingRate, audio.bitRate, MpegAudioModeName(audio.mode));
        else
            std::printf("  no frame header\n");
    }
    std::printf("First presentation time: %.6f s\n", source.FirstPresentationTime());
    std::printf("Playing time: %.6f s\n", source.PlayingTime());
}

void PrintJson(const MpegSource& source)
{
    const MpegStreamInfo& info = source.StreamInfo();
    std::string out = "{";
    out += "\"file\": " + JsonQuote(source.Path());
    out += Format(", \"size\": %llu", static_cast<unsigned long long>(source.FileSize()));
    out += Format(", \"packets\": %u", source.PacketCount());
    out += ", \"kinds\": {";
    for (int k = 0; k < kPacketKindCount; ++k) {
        const auto kind = static_cast<PacketKind>(k);
        std::string name = PacketKindName(kind);
        for (char& c : name)
            if (c == ' ')
                c = '_';
        out += Format("%s\"%s\": %u", k ? ", " : "", name.c_str(), source.PacketKindCount(kind));
    }
    out += "}";
    out += Format(", \"mpeg2_packs\": %s, \"multiplex_rate\": %u", info.mpeg2 ? "true" : "false", info.multiplexRate);
    out += ", \"video\": [";
    bool first = true;
    for (int s = 0; s < kMpegVideoStreamCount; ++s) {
        const MpegVideoStreamInfo& video = info.video[s];
        if (!video.present)
            continue;
        out += first ? "{" : ", {";
        first = false;
        out += Format("\"stream\": \"0x%02X\", \"kind\": \"%s\", \"packets\": %u", kMpegFirstVideoStreamId + s,
                      kVideoStreamNames[s], video.packetCount);
        if (video.sequenceHeaderSeen)
            out += Format(", \"width\": %u, \"height\": %u, \"frame_rate\": %.6f, \"bit_rate\": %u, "
                          "\"buffer_size\": %u",
                          video.horizontalSize, video.verticalSize, video.frameRate, video.bitRate, video.bufferSize);
        out += Format(", \"norm\": \"%s\", \"access_points\": %llu", MpegNormName(GetNorm(video)),
                      static_cast<unsigned long long>(video.accessPointCount));
        out += "}";
    }
    out += "], \"audio\": [";
    first = true;
    for (int s = 0; s < kMpegAudioStreamCount; ++s) {
        const MpegAudioStreamInfo& audio = info.audio[s];
        if (!audio.present)
            continue;
        out += first ? "{" : ", {";
        first = false;
        out += Format("\"stream\": \"0x%02X\", \"packets\": %u", kMpegFirstAudioStreamId + s, audio.packetCount);
        if (audio.frameHeaderSeen)
            out += Format(", \"version\": \"%s\", \"layer\": %d, \"sampling_rate\": %d, \"bit_rate\": %d, "
                          "\"mode\": \"%s\"",
                          audio.version == 25  ? "2.5"
                          : audio.version == 2 ? "2"
                                               : "1",
                          audio.layer, audio.samplingRate, audio.bitRate, MpegAudioModeName(audio.mode));
        out += "}";
    }
    out += "]";
    out += Format(", \"first_presentation_time\": %.6f, \"playing_time\": %.6f", source.FirstPresentationTime(),
                  source.PlayingTime());
    out += "}\n";
    std::fputs(out.c_str(), stdout);
}

int RunScan(const std::vector<std::string>& args)
{
    std::string path;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "lumivox-cli scan: unknown option '%s'\n", arg.c_str());
            return 2;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "lumivox-cli scan: only one file can be scanned at a time\n");
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "lumivox-cli scan: no file given (see lumivox-cli help scan)\n");
        return 2;
    }
    std::unique_ptr<MpegSource> source = CreateMpegSource(path);
    if (!source) {
        std::fprintf(stderr, "lumivox-cli scan: %s: no such file\n", path.c_str());
        return 1;
    }
    if (ScanMpegSource(*source) != 0) {
        std::fprintf(stderr, "lumivox-cli scan: %s: cannot be read\n", path.c_str());
        return 1;
    }
    if (json)
        PrintJson(*source);
    else
        PrintText(*source);
    if (source->PacketCount() == 0) {
        std::fprintf(stderr, "lumivox-cli scan: %s: not an MPEG program stream (no pack header at its start)\n",
                     path.c_str());
        return 1;
    }
    return 0;
}

const CommandRegistration kRegistration{Command{
    "scan",
    "FILE.mpg [--json]",
    "Reads an MPEG-1 program stream the way the Video CD authoring does and prints what it\n"
    "learns: the file is cut into packets of at most 2,324 bytes (one per disc sector), each\n"
    "classified as video, audio, zero, overlay graphics, empty (padding or system header) or\n"
    "invalid. For every video stream (0xE0 motion, 0xE1 normal-resolution still, 0xE2\n"
    "high-resolution still) it prints the picture size, frame rate, norm (FILM SIF, PAL SIF,\n"
    "NTSC SIF, PAL 2/3 D-1, NTSC 2/3 D-1 or unknown), bit rate, buffer size and the number of\n"
    "access points (I pictures with a presentation time); for every audio stream (0xC0-0xC2)\n"
    "the layer, sampling rate, bit rate and mode; then the first presentation time and the\n"
    "playing time (last minus first presentation time) in seconds.\n\n"
    "Cutting stops at the first bytes that are neither a pack header nor all zero; a file\n"
    "that does not start with a pack header has no packets.\n\n"
    "Options:\n"
    "  --json   print one JSON object with the keys \"file\", \"size\", \"packets\", \"kinds\",\n"
    "           \"mpeg2_packs\", \"multiplex_rate\", \"video\", \"audio\",\n"
    "           \"first_presentation_time\" and \"playing_time\"\n\n"
    "Exit status: 0 when the file has packets, 1 when it does not exist, cannot be read or\n"
    "has no packets (the report is printed all the same), 2 for a usage error.",
    RunScan,
}};

} // namespace
} // namespace lumivox::cli
