// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli load: closes the drive's tray.

#include "Command.h"
#include "RecorderCli.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunLoad(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "lumivox-cli load: give one DEVICE\n");
        return kRecorderExitUsage;
    }
    OpenedDrive drive;
    std::string error;
    if (!OpenDrive(args[0], &drive, &error, DriveAccess::Control)) {
        std::fprintf(stderr, "lumivox-cli load: %s\n", error.c_str());
        return kRecorderExitFailed;
    }
    if (!drive.driver->StartStopUnit(false)) {
        std::fprintf(stderr, "lumivox-cli load: %s: the tray did not close (%s)\n", args[0].c_str(),
                     drive.driver->LastProblem(kScsiCheckCondition).c_str());
        return kRecorderExitFailed;
    }
    return 0;
}

const CommandRegistration registration({"load", "DEVICE", "Closes the tray (loads the disc).", RunLoad});

} // namespace
} // namespace lumivox::cli
