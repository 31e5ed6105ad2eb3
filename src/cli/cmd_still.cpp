// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli still: one picture as the disc shows it — the slide frame rendered and
// encoded as a Video CD high-resolution still, either as the bare MPEG-1 video stream or
// as a complete still segment (the still, the companion still of the norm and, when
// given, the music) that other Video CD tools and players accept as it is.

#include "CliSupport.h"
#include "Command.h"
#include "Options.h"
#include "ScratchFolder.h"

#include "base/FileDescriptor.h"
#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/SafeOutput.h"
#include "base/TextUtil.h"
#include "mpadec/MpegAudioDecoder.h"
#include "picture/FrameRenderer.h"
#include "picture/PLTextException.h"
#include "picture/PicBitmap.h"
#include "picture/QtGuiHost.h"
#include "production/Multiplexer.h"
#include "production/MusicConversion.h"
#include "production/StillEncoder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace lumivox::cli {

namespace {

constexpr const char* kStillName = "lumivox-cli still";

int Fail(const std::string& message, int status = 1)
{
    std::fprintf(stderr, "%s: %s\n", kStillName, message.c_str());
    return status;
}

// The encoder's and multiplexer's texts name the file they were given: the user knows
// the output by its final name, not by the scratch file it is made in.
std::string ForUser(std::string text, const std::string& scratchPath, const std::string& output)
{
    for (std::size_t at; (at = text.find(scratchPath)) != std::string::npos;)
        text.replace(at, scratchPath.size(), output);
    return text;
}

// text for the user with path named once: the picture decoder's texts name the file
// themselves ("Opening PATH failed: ..."), others give only the reason.
std::string NamingFile(const std::string& path, const std::string& text)
{
    return text.find(path) != std::string::npos ? text : path + ": " + text;
}

std::string TrimLineEnds(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

enum class MusicKind { LayerII, Convertible, Unusable };

// What the music file holds: a Layer II stream the multiplexer takes as it is, an MP3 or
// WAVE file to convert the way the production run does, or nothing usable.
MusicKind ClassifyMusic(const std::string& path, std::string* reason)
{
    // A FIFO or device named as music is refused before anything reads from it; the
    // start of the file is read through the descriptor that was checked.
    std::string openReason;
    const FileDescriptor file = OpenRegularFile(path, &openReason);
    if (!file) {
        *reason = errno == ENOENT ? std::string("no such file") : openReason;
        return MusicKind::Unusable;
    }
    std::vector<std::uint8_t> start(kFreeFormatSearchBytes);
    std::size_t have = 0;
    while (have < start.size()) {
        const ssize_t got = ::read(file.Get(), start.data() + have, start.size() - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *reason = std::string("cannot be read: ") + std::strerror(errno);
            return MusicKind::Unusable;
        }
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    start.resize(have);
    MpegFrameHeader header;
    if (ParseFrameHeader(start.data(), start.size(), nullptr, &header) > 0 && header.layerCode == kMpegLayerCodeII)
        return MusicKind::LayerII;
    std::string extension = std::filesystem::path(path).extension().string();
    if (EqualsIgnoreCase(extension, ".mp3") || EqualsIgnoreCase(extension, ".wav"))
        return MusicKind::Convertible;
    *reason = start.empty() ? "the file is empty" : "not MPEG audio Layer II (an .mp3 or .wav file is converted first)";
    return MusicKind::Unusable;
}

int RunStill(const std::vector<std::string>& args)
{
    std::string picture;
    std::string output;
    std::string music;
    int rotation = 0;
    SharedOptions shared;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string sharedError;
        if (TakeSharedOption(args, &i, kNormOption, &shared, &sharedError))
            continue;
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        if (arg == "-o" || arg == "--output") {
            if (!value(output))
                return Fail(arg + " needs a file name", 2);
        } else if (arg == "--music") {
            if (!value(music))
                return Fail("--music needs a Layer II, MP3 or WAVE file", 2);
        } else if (arg == "--rotate") {
            std::string degrees;
            if (!value(degrees))
                return Fail("--rotate needs 90, 180 or 270", 2);
            if (degrees == "0" || degrees == "90" || degrees == "180" || degrees == "270")
                rotation = std::stoi(degrees);
            else
                return Fail("--rotate takes 90, 180 or 270 degrees, not '" + degrees + "'", 2);
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'", 2);
        } else if (picture.empty()) {
            picture = arg;
        } else {
            return Fail("only one picture can be made into a still ('" + picture + "', '" + arg + "')", 2);
        }
    }
    if (picture.empty())
        return Fail("no picture given (see lumivox-cli help still)", 2);
    if (output.empty())
        return Fail("no output given: use -o OUT.m1v or -o OUT.mpg", 2);
    const bool elementaryOnly = EqualsIgnoreCase(std::filesystem::path(output).extension().string(), ".m1v");
    if (elementaryOnly && !music.empty())
        return Fail(output + ": a bare .m1v still cannot carry music; write a segment (.mpg) instead", 2);
    const int norm = PalChosen(shared) ? 1 : 0;
    const TvNorm tvNorm = norm ? TvNorm::Pal : TvNorm::Ntsc;
    const TvNorm encoderNorm = norm ? TvNorm::Pal : TvNorm::Ntsc;

    // Everything that can be checked before the picture is decoded and encoded.
    std::error_code code;
    if (!std::filesystem::exists(picture, code))
        return Fail(picture + ": no such file");
    if (std::filesystem::is_directory(picture, code))
        return Fail(picture + ": a folder, not a picture");
    if (std::filesystem::is_directory(output, code))
        return Fail(output + ": a folder; give the file name to write");
    if (std::string refusal; !CheckOutputTarget(output, &refusal))
        return Fail(refusal);
    const std::string companion = ProgramFolder() + (norm ? "temp_x.npal" : "temp_x.ntsc");
    if (!elementaryOnly && !std::filesystem::is_regular_file(companion, code))
        return Fail(companion + ": the companion still is missing (reinstall Lumivox)");
    const std::filesystem::path outputFolder =
        std::filesystem::absolute(std::filesystem::path(output), code).parent_path();
    if (!std::filesystem::is_directory(outputFolder, code))
        return Fail(output + ": the folder " + outputFolder.string() + " does not exist");
    if (access(outputFolder.c_str(), W_OK) != 0)
        return Fail(output + ": the folder " + outputFolder.string() + " is not writable");
    // The still replaces the output once made: never one of the files it is made from.
    for (const std::string& input : {picture, music})
        if (!input.empty() && IsSameFile(input, output))
            return Fail(output + ": is one of the still's own input files; choose another output");
    MusicKind musicKind = MusicKind::Unusable;
    if (!music.empty()) {
        std::string reason;
        musicKind = ClassifyMusic(music, &reason);
        if (musicKind == MusicKind::Unusable)
            return Fail(music + ": " + reason);
    }

    EnsureGuiApplication(GuiPlatform::Offscreen);
    PicBitmap frame;
    try {
        RenderSlideFrame(picture, rotation, tvNorm, frame, SlideGeometryFromSettings());
    } catch (const PLTextException& e) {
        return Fail(NamingFile(picture, TrimLineEnds(e.GetText())));
    }

    std::string error;
    SafeOutput pending;
    if (!pending.Open(output, &error))
        return Fail(error);
    // The encoder and the multiplexer write files by name: they write them into the
    // private scratch folder, and the result reaches the output through the pending
    // file's own descriptor.
    ScratchFolder scratch;
    if (!scratch.Create("still", &error))
        return Fail(error);
    const std::string result = scratch.Folder() + (elementaryOnly ? "still.m1v" : "segment.mpg");
    if (elementaryOnly) {
        if (!EncodeStill(frame, encoderNorm, result, &error))
            return Fail(output + ": the still cannot be encoded: " + ForUser(TrimLineEnds(error), result, output));
    } else {
        const std::string still = scratch.Folder() + "temp_d.m1v";
        if (!EncodeStill(frame, encoderNorm, still, &error))
            return Fail(output + ": the still cannot be encoded: " + TrimLineEnds(error));
        std::string layerII = music;
        if (musicKind == MusicKind::Convertible) {
            layerII = Format(kMusicOutputFormat, scratch.Folder().c_str());
            if (!ConvertBackgroundMusic(layerII, music, scratch.Folder(), &error))
                return Fail(error.empty() ? music + ": cannot be converted" : TrimLineEnds(error));
        }
        if (MultiplexSegment(result, still, companion, layerII, &error) != 0)
            return Fail(output +
                        ": the segment cannot be multiplexed: " + ForUser(TrimLineEnds(error), result, output));
    }
    if (!pending.WriteFileContents(result, &error))
        return Fail(ForUser(error, result, output));
    if (!pending.Commit(&error))
        return Fail(error);
    std::printf("%s: %s of 704 x %d (%s)%s\n", output.c_str(),
                elementaryOnly ? "high-resolution still" : "still segment", FrameHeight(tvNorm), norm ? "PAL" : "NTSC",
                music.empty() ? "" : ", with music");
    return 0;
}

const CommandRegistration registration({
    "still",
    "PICTURE -o OUT [--pal|--ntsc] [--rotate 90|180|270] [--music FILE]",
    "Makes one picture into a Video CD still exactly as a disc shows it as a slide: the\n"
    "picture is decoded, turned, fitted into a black 704 x 480 (NTSC) or 704 x 576 (PAL)\n"
    "frame and encoded as an MPEG-1 high-resolution still of the Video CD stills profile.\n"
    "\n"
    "What is written depends on the name of OUT:\n"
    "  OUT.m1v   only the still: an MPEG-1 video elementary stream of one picture\n"
    "  other     the complete still segment (an MPEG-1 program stream of 2,324-byte\n"
    "            packs): the high-resolution still, the normal-resolution companion\n"
    "            still of the norm (352 x 240 or 352 x 288) installed with Lumivox,\n"
    "            and the music when --music is given. Such a file can be used as a\n"
    "            still item by other Video CD tools.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT     the file to write (created or replaced; on failure nothing\n"
    "                       is left under this name)\n"
    "  --pal, --ntsc        the TV norm; default: the PAL setting of config.ini (NTSC)\n"
    "  --rotate DEGREES     turn the picture clockwise by 90, 180 or 270 degrees first\n"
    "  --music FILE         music under the still (segments only): an MPEG audio Layer\n"
    "                       II file is used as it is; an .mp3 or .wav file is converted\n"
    "                       first, exactly as for a disc menu (see lumivox-cli help music)\n"
    "\n"
    "JPEG, TIFF, BMP, EPS (with a TIFF preview), PNG, WebP and HEIC/HEIF pictures are\n"
    "read, in the colours their embedded profile gives. Prints one line\n"
    "describing the result (exit status 0); otherwise one line naming the file and the\n"
    "reason, with exit status 1 (2 for a wrong command line).",
    RunStill,
});

} // namespace

} // namespace lumivox::cli
