// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli music: converts a menu music file to the Layer II stream that goes under the
// disc menu, exactly as the production run does it (through "tmpwav.~av" in a temporary
// folder for MP3 sources).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "Command.h"
#include "ScratchFolder.h"
#include "base/SafeOutput.h"
#include "production/MusicConversion.h"

namespace lumivox::cli {

namespace {

int RunMusic(const std::vector<std::string>& args)
{
    std::string source;
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" || arg == "--output") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "lumivox-cli music: %s needs a file name\n", arg.c_str());
                return 2;
            }
            output = args[++i];
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "lumivox-cli music: unknown option '%s'\n", arg.c_str());
            return 2;
        } else if (source.empty()) {
            source = arg;
        } else {
            std::fprintf(stderr, "lumivox-cli music: only one source file can be converted\n");
            return 2;
        }
    }
    if (source.empty() || output.empty()) {
        std::fprintf(stderr, "lumivox-cli music: usage: lumivox-cli music SOURCE -o OUT.mp2\n");
        return 2;
    }

    std::string error;
    // The result replaces the output only once complete; were the output the source
    // itself, the music would be gone then.
    if (IsSameFile(source, output)) {
        std::fprintf(stderr, "lumivox-cli music: %s: is the source file itself; choose another output\n",
                     output.c_str());
        return 1;
    }
    SafeOutput result;
    if (!result.Open(output, &error)) {
        std::fprintf(stderr, "lumivox-cli music: %s\n", error.c_str());
        return 1;
    }
    ScratchFolder scratch;
    if (!scratch.Create("music", &error)) {
        std::fprintf(stderr, "lumivox-cli music: %s\n", error.c_str());
        return 1;
    }
    // The converter writes a file by its name: it does so in the private scratch folder,
    // and the result reaches the output through the pending file's own descriptor.
    const std::string converted = scratch.Folder() + "music.mp2";
    if (!ConvertBackgroundMusic(converted, source, scratch.Folder(), &error) ||
        !result.WriteFileContents(converted, &error)) {
        // The user knows the output by its own name, not by the scratch file's.
        for (std::size_t at; (at = error.find(converted)) != std::string::npos;)
            error.replace(at, converted.size(), output);
        std::fprintf(stderr, "lumivox-cli music: %s\n",
                     error.empty() ? (source + ": cannot be converted").c_str() : error.c_str());
        return 1;
    }
    if (!result.Commit(&error)) {
        std::fprintf(stderr, "lumivox-cli music: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", output.c_str());
    return 0;
}

const CommandRegistration registration({
    "music",
    "SOURCE -o OUT.mp2",
    "Converts a menu music file to the MPEG audio Layer II stream that plays under the disc\n"
    "menu, exactly as making a disc does.\n"
    "\n"
    "SOURCE is an MP3 file (name ending in .mp3) or a WAVE file (name ending in .wav), in\n"
    "any letter case; other names are refused. An MP3 is decoded first (an ID3v2 tag and a\n"
    "leading Xing VBR frame are skipped) into a temporary WAVE file, which is removed\n"
    "afterwards. The result keeps the source's sample rate and channel count:\n"
    "  32, 44.1 or 48 kHz  -> MPEG-1 Layer II at 192 kbit/s\n"
    "  16, 22.05 or 24 kHz -> MPEG-2 Layer II at 96 kbit/s\n"
    "joint stereo (mono for a mono source), no CRC, no emphasis. WAVE input must be 16-bit\n"
    "PCM with one or two channels at one of those six rates; 8-bit samples are refused.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   the Layer II file to write (created or replaced)\n"
    "\n"
    "Prints the output path on success (exit status 0); otherwise prints one line naming\n"
    "the file and the reason and exits with status 1 (2 for a wrong command line).",
    RunMusic,
});

} // namespace

} // namespace lumivox::cli
