// lumivox-cli drives: the CD writers of this machine.

#include "Command.h"
#include "RecorderCli.h"

#include <cstdio>

namespace lumivox::cli {
namespace {

int RunDrives(const std::vector<std::string>& args) {
    const bool all = !args.empty() && args[0] == "--all";
    if (args.size() > (all ? 1u : 0u)) {
        std::fprintf(stderr, "lumivox-cli drives: unexpected argument '%s'\n", args.back().c_str());
        return kRecorderExitUsage;
    }
    std::vector<std::string> problems;
    const std::vector<DeviceRecord> drives = EnumerateDrives(&problems);
    int writers = 0;
    for (const DeviceRecord& drive : drives) {
        if (!drive.writer && !all) continue;
        writers += drive.writer;
        std::printf("%s  %s%s%s\n", DeviceLine(drive).c_str(), drive.devicePath.c_str(), drive.writer ? "" : "  (reads only)",
                    drive.readOnly ? "  (opened read-only)" : "");
    }
    for (const std::string& problem : problems) std::fprintf(stderr, "lumivox-cli drives: %s\n", problem.c_str());
    if (writers == 0) {
        std::fprintf(stderr, "No CD-Writer is Found\n");
        return kRecorderExitFailed;
    }
    return 0;
}

const CommandRegistration registration({
    "drives",
    "[--all]",
    "Lists the CD writers (vendor, product, (host:target:lun) and device node); --all lists readers\n"
    "too. Set LUMIVOX_EMULATED_RECORDER=emulated:FOLDER to list the emulated recorder as well.\n"
    "Exit status 1 when no writer is found.",
    RunDrives,
});

} // namespace
} // namespace lumivox::cli
