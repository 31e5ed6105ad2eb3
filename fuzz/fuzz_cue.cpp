// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: CUE sheets given to lumivox-cli burn. The sheet is read with its BIN beside
// it; whatever the text says, reading ends with a cue list or an error, never a crash.

#include "recorder/RecorderFeed.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/lumivox-fuzz-cue-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    const std::string cue = folder + "/disc.cue";
    const std::string bin = folder + "/disc.bin";
    static const bool binMade = [&] {
        // A BIN of 600 sectors, so that sector counts and index positions can be checked.
        if (std::FILE* file = std::fopen(bin.c_str(), "wb")) {
            std::string sector(2352, '\0');
            for (int i = 0; i < 600; ++i)
                std::fwrite(sector.data(), 1, sector.size(), file);
            std::fclose(file);
        }
        return true;
    }();
    (void)binMade;
    if (std::FILE* file = std::fopen(cue.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    lumivox::CueImage image;
    std::string error;
    lumivox::ReadCueImage(cue, &image, &error);
    return 0;
}
