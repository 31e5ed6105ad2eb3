// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli drives: the CD writers of this machine.

#include "Command.h"
#include "Options.h"
#include "RecorderCli.h"

#include "base/TextUtil.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunDrives(const std::vector<std::string>& args)
{
    bool all = false;
    SharedOptions shared;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string error;
        if (TakeSharedOption(args, &i, kQuietOption | kJsonOption, &shared, &error))
            continue;
        if (args[i] != "--all") {
            std::fprintf(stderr, "lumivox-cli drives: unexpected argument '%s'\n", args[i].c_str());
            return kRecorderExitUsage;
        }
        all = true;
    }
    // INQUIRY's fields are padded with spaces.
    auto trimmed = [](std::string text) {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return JsonQuote(text);
    };
    std::vector<std::string> problems;
    const std::vector<DeviceRecord> drives = EnumerateDrives(&problems);
    int writers = 0;
    std::string json;
    for (const DeviceRecord& drive : drives) {
        if (!drive.writer && !all)
            continue;
        writers += drive.writer;
        if (shared.json)
            json += Format("%s{\"device\": %s, \"vendor\": %s, \"product\": %s, \"revision\": %s, "
                           "\"address\": \"%d:%d:%d\", \"writer\": %s, \"read_only\": %s}",
                           json.empty() ? "" : ", ", JsonQuote(drive.devicePath).c_str(), trimmed(drive.vendor).c_str(),
                           trimmed(drive.product).c_str(), trimmed(drive.revision).c_str(), drive.host, drive.target,
                           drive.lun, drive.writer ? "true" : "false", drive.readOnly ? "true" : "false");
        else if (!shared.quiet)
            std::printf("%s  %s%s%s\n", DeviceLine(drive).c_str(), drive.devicePath.c_str(),
                        drive.writer ? "" : "  (reads only)", drive.readOnly ? "  (opened read-only)" : "");
    }
    if (shared.json)
        std::printf("[%s]\n", json.c_str());
    for (const std::string& problem : problems)
        std::fprintf(stderr, "lumivox-cli drives: %s\n", problem.c_str());
    if (writers == 0) {
        if (!shared.json && !shared.quiet)
            std::fprintf(stderr, "No CD-Writer is Found\n");
        return kRecorderExitFailed;
    }
    return 0;
}

const CommandRegistration registration({
    "drives",
    "[--all] [--quiet] [--json]",
    "Lists the CD writers (vendor, product, (host:target:lun) and device node); --all lists readers\n"
    "too. Set LUMIVOX_EMULATED_RECORDER=emulated:FOLDER to list the emulated recorder as well.\n"
    "  --quiet, -q   no list: the exit status tells whether a writer is there\n"
    "  --json        the list as a JSON array of objects with the keys \"device\", \"vendor\",\n"
    "                \"product\", \"revision\", \"address\", \"writer\" and \"read_only\"\n"
    "Exit status 1 when no writer is found, 2 for a wrong command line.",
    RunDrives,
});

} // namespace
} // namespace lumivox::cli
