// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli burn: writes a BIN/CUE image made earlier to a CD-R/RW.

#include "Command.h"
#include "Options.h"
#include "RecorderCli.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

constexpr const char* kName = "lumivox-cli burn";

int RunBurn(const std::vector<std::string>& args)
{
    BurnOptions options;
    SharedOptions shared;
    std::string cue;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (TakeSharedOption(args, &i, kQuietOption | kJsonOption, &shared, &error)) {
        } else if (TakeBurnOption(args, &i, &options, &error)) {
            if (!error.empty()) {
                std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
                return kRecorderExitUsage;
            }
        } else if (args[i] == "--device" && i + 1 < args.size()) {
            options.device = args[++i];
        } else if (!args[i].empty() && args[i][0] != '-' && cue.empty()) {
            cue = args[i];
        } else {
            std::fprintf(stderr, "%s: unexpected argument '%s' (see lumivox-cli help burn)\n", kName, args[i].c_str());
            return kRecorderExitUsage;
        }
    }
    if (cue.empty() || options.device.empty()) {
        std::fprintf(stderr, "%s: give the image and the drive: burn DISC.cue --device DEVICE\n", kName);
        return kRecorderExitUsage;
    }
    ManualResetEvent cancel, leaveNow;
    CancelOnSignal signalWatcher(cancel, kName, &leaveNow);
    options.leaveNow = &leaveNow;
    BurnProgressPrinter printer(shared.quiet);
    BurnResult result;
    std::string error;
    const bool ok = BurnImageFile(cue, options, &printer, &cancel, &result, &error);
    const int status =
        ReportBurn(kName, options.device, options, result, ok, error, signalWatcher.Signalled(), shared.json);
    if (shared.json)
        std::fputs(BurnJson(options.device, options, result, status).c_str(), stdout);
    return status;
}

const CommandRegistration registration({
    "burn",
    "DISC.cue --device DEVICE [--speed 0-6] [--simulate] [--burn-proof] [--driver auto|mmc|raw] [--no-verify] "
    "[--quiet] [--json]",
    std::string("Writes a Video CD image (BIN/CUE, Mode 2, 2,352-byte sectors) to a blank CD-R/RW in one\n"
                "disc-at-once pass, then reads the disc back and compares every sector. DEVICE is a\n"
                "drive's node (/dev/sr0) or an emulated recorder (emulated:FOLDER?options). Ctrl-C cancels.\n"
                "A second Ctrl-C stops waiting for a drive that is finishing the disc.\n"
                "Exit status: 0 written (and verified), 1 failed, 2 usage, 130 cancelled.\n\n") +
        kBurnOptionsHelp +
        "\n  --quiet, -q       no progress lines, only warnings, errors and the result\n"
        "  --json            the result as one JSON object on standard output: \"device\",\n"
        "                    \"status\" (written, simulated, failed, cancelled), \"verified\",\n"
        "                    \"verify\" (passed, failed, not-run, unsupported), \"disc\" (untouched,\n"
        "                    partly-written, closed, unknown), \"exit_status\"",
    RunBurn,
});

} // namespace
} // namespace lumivox::cli
