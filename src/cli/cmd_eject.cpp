// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli eject: opens the drive's tray.

#include "Command.h"
#include "RecorderCli.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunEject(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "lumivox-cli eject: give one DEVICE\n");
        return kRecorderExitUsage;
    }
    OpenedDrive drive;
    std::string error;
    if (!OpenDrive(args[0], &drive, &error, DriveAccess::Control)) {
        std::fprintf(stderr, "lumivox-cli eject: %s\n", error.c_str());
        return kRecorderExitFailed;
    }
    if (!drive.driver->StartStopUnit(true)) {
        std::fprintf(stderr, "lumivox-cli eject: %s: the tray did not open (%s)\n", args[0].c_str(),
                     drive.driver->LastProblem(kScsiCheckCondition).c_str());
        return kRecorderExitFailed;
    }
    return 0;
}

const CommandRegistration registration({"eject", "DEVICE", "Ejects the disc (opens the tray).", RunEject});

} // namespace
} // namespace lumivox::cli
