// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli erase: blanks a CD-RW.

#include "Command.h"
#include "RecorderCli.h"

#include "recorder/DiscUtilities.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

constexpr const char* kName = "lumivox-cli erase";

int RunErase(const std::vector<std::string>& args)
{
    std::string device;
    bool full = false;
    for (const std::string& arg : args) {
        if (arg == "--full")
            full = true;
        else if (arg == "--quick")
            full = false;
        else if (device.empty() && !arg.empty() && arg[0] != '-')
            device = arg;
        else {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", kName, arg.c_str());
            return kRecorderExitUsage;
        }
    }
    if (device.empty()) {
        std::fprintf(stderr, "%s: give the DEVICE\n", kName);
        return kRecorderExitUsage;
    }
    OpenedDrive drive;
    std::string error;
    if (!OpenDrive(device, &drive, &error, DriveAccess::Exclusive)) {
        std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
        return kRecorderExitFailed;
    }
    ManualResetEvent cancel;
    CancelOnSignal signalWatcher(cancel, kName);
    std::int64_t lastSecond = -1;
    const bool ok = EraseDisc(
        *drive.driver, full, &cancel,
        [&](std::int64_t ms) {
            // One line each ten seconds; the dialog's own text.
            if (ms / 10000 == lastSecond)
                return;
            lastSecond = ms / 10000;
            std::fprintf(stderr, "%s\n", OneLineText(ErasingText(ms)).c_str());
        },
        &error);
    if (!ok) {
        std::fprintf(stderr, "%s: %s: %s\n", kName, device.c_str(), OneLineText(error).c_str());
        return signalWatcher.Signalled() ? kRecorderExitCancelled : kRecorderExitFailed;
    }
    std::printf("The disc in %s is blank.\n", device.c_str());
    return 0;
}

const CommandRegistration registration({
    "erase",
    "DEVICE [--full]",
    "Erases a CD-RW: quickly (the disc appears empty; data is not physically erased), or with\n"
    "--full the whole disc (about 10 - 20 min). Ctrl-C stops waiting.",
    RunErase,
});

} // namespace
} // namespace lumivox::cli
