// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli blank-check: whether a blank disc is in the drive.

#include "Command.h"
#include "Options.h"
#include "RecorderCli.h"

#include "base/TextUtil.h"

#include "recorder/DiscUtilities.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunBlankCheck(const std::vector<std::string>& args)
{
    SharedOptions shared;
    std::vector<std::string> devices;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (!TakeSharedOption(args, &i, kQuietOption | kJsonOption, &shared, &error))
            devices.push_back(args[i]);
    }
    if (devices.size() != 1 || devices[0].empty() || devices[0][0] == '-') {
        std::fprintf(stderr, "lumivox-cli blank-check: give one DEVICE\n");
        return kRecorderExitUsage;
    }
    const std::string& device = devices[0];
    OpenedDrive drive;
    std::string error;
    if (!OpenDrive(device, &drive, &error)) {
        std::fprintf(stderr, "lumivox-cli blank-check: %s\n", error.c_str());
        return kRecorderExitFailed;
    }
    BlankCheckResult result = CheckBlankDisc(*drive.driver);
    if (result.state == BlankState::NotEmpty)
        result.message = NotEmptyText(result.info.erasable, kEraseWithCommand);
    const bool blank = result.state == BlankState::Blank;
    const int freeMb = blank && result.info.capacity > 0 ? result.info.capacity / 512 : 0;
    if (shared.json)
        std::printf("{\"device\": %s, \"blank\": %s, \"free_mb\": %d, \"message\": %s}\n", JsonQuote(device).c_str(),
                    blank ? "true" : "false", freeMb, JsonQuote(OneLineText(result.message)).c_str());
    else if (!shared.quiet && !blank)
        std::printf("%s\n", result.message.c_str());
    else if (!shared.quiet)
        std::printf("A blank disc is in %s (%d MB free).\n", device.c_str(), freeMb);
    return blank ? 0 : kRecorderExitFailed;
}

const CommandRegistration registration({
    "blank-check",
    "DEVICE [--quiet] [--json]",
    "Exit status 0 when a blank CD-R/RW is in the drive; otherwise 1 with the reason (a drive with\n"
    "no readable disc is ejected); 2 for a wrong command line.\n"
    "  --quiet, -q   print nothing: the exit status tells\n"
    "  --json        one JSON object: \"device\", \"blank\", \"free_mb\", \"message\" (why not blank)",
    RunBlankCheck,
});

} // namespace
} // namespace lumivox::cli
