// lumivox-cli blank-check: whether a blank disc is in the drive.

#include "Command.h"
#include "RecorderCli.h"

#include "recorder/DiscUtilities.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunBlankCheck(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "lumivox-cli blank-check: give one DEVICE\n");
        return kRecorderExitUsage;
    }
    OpenedDrive drive;
    std::string error;
    if (!OpenDrive(args[0], &drive, &error)) {
        std::fprintf(stderr, "lumivox-cli blank-check: %s\n", error.c_str());
        return kRecorderExitFailed;
    }
    const BlankCheckResult result = CheckBlankDisc(*drive.driver);
    if (result.state != BlankState::Blank) {
        std::printf("%s\n", result.message.c_str());
        return kRecorderExitFailed;
    }
    std::printf("A blank disc is in %s (%d MB free).\n", args[0].c_str(),
                result.info.capacity < 0 ? 0 : result.info.capacity / 512);
    return 0;
}

const CommandRegistration registration({
    "blank-check",
    "DEVICE",
    "Exit status 0 when a blank CD-R/RW is in the drive; otherwise 1 with the reason (a drive with\n"
    "no readable disc is ejected).",
    RunBlankCheck,
});

} // namespace
} // namespace lumivox::cli
