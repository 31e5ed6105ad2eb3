// SPDX-License-Identifier: GPL-2.0-or-later
#include "RecorderCli.h"

#include "base/TextUtil.h"
#include "recorder/DiscUtilities.h"

#include <cstdio>
#include <cstdlib>

namespace lumivox::cli {

const char* const kBurnOptionsHelp =
    "  --speed N         write speed: 0 1x, 1 2x, 2 4x, 3 8x, 4 12x, 5 24x, 6 maximum (default 6)\n"
    "  --simulate        a test burn: the drive goes through every step with the laser off\n"
    "  --burn-proof      let the drive pause instead of failing when its buffer runs dry\n"
    "  --driver D        auto (default: by the drive's name), mmc (session-at-once) or raw\n"
    "  --no-verify       do not read the disc back after burning\n"
    "  --no-eject        leave the disc in the drive when done";

bool TakeBurnOption(const std::vector<std::string>& args, std::size_t* i, BurnOptions* options, std::string* error)
{
    const std::string& arg = args[*i];
    auto value = [&](std::string* out) {
        if (*i + 1 >= args.size()) {
            *error = arg + " needs a value";
            return false;
        }
        *out = args[++*i];
        return true;
    };
    std::string text;
    if (arg == "--speed") {
        if (!value(&text))
            return true;
        if (text.size() != 1 || text[0] < '0' || text[0] > '6')
            *error = "--speed takes 0 to 6";
        else
            options->speedIndex = text[0] - '0';
    } else if (arg == "--simulate") {
        options->mode = DiscMode::Simulate;
    } else if (arg == "--burn-proof") {
        options->burnProof = true;
    } else if (arg == "--driver") {
        if (!value(&text))
            return true;
        if (text == "auto")
            options->driver = DriverChoice::Auto;
        else if (text == "mmc")
            options->driver = DriverChoice::Mmc;
        else if (text == "raw")
            options->driver = DriverChoice::Raw;
        else
            *error = "--driver takes auto, mmc or raw";
    } else if (arg == "--no-verify") {
        options->verify = false;
    } else if (arg == "--no-eject") {
        options->eject = false;
    } else {
        return false;
    }
    return true;
}

void BurnProgressPrinter::OnProgress(const ProgressEvent& event)
{
    const char* text = nullptr;
    switch (event.message) {
    case UM_RECORDER_INIT:
        text = event.text.empty() ? "Initializing the CD recorder..." : nullptr;
        break;
    case UM_LEAD_IN:
        text = "Writing lead in...";
        break;
    case UM_LEAD_OUT:
        text = "Writing lead out...";
        break;
    case UM_DRIVE_WAIT:
        text = "Please wait...";
        break;
    case UM_FLUSH_CACHE:
        text = "Flush cache...";
        break;
    case UM_BURN_DONE:
    case UM_BURN_FAILED:
        return; // the command's last line says how it ended
    case UM_WRITE_PROGRESS: {
        const int tenths = event.Tenths();
        const int step = tenths / 100;
        if (!quiet_ && (event.stage != lastStage_ || step != lastStep_)) {
            std::fprintf(stderr, "%s %d.%d%%\n",
                         event.stage == ProgressStage::Verifying ? "Verifying..." : "Writing CD...", tenths / 10,
                         tenths % 10);
            lastStep_ = step;
            lastStage_ = event.stage;
        }
        return;
    }
    default:
        break;
    }
    if (!event.text.empty())
        std::fprintf(stderr, "warning: %s\n", OneLineText(event.text).c_str());
    if (text && !quiet_)
        std::fprintf(stderr, "%s\n", text);
}

std::string OneLineText(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

std::string CliDiscText(std::string text)
{
    const std::string button = kEraseWithButton;
    for (std::size_t at; (at = text.find(button)) != std::string::npos;)
        text.replace(at, button.size(), kEraseWithCommand);
    return text;
}

int ReportBurn(const char* commandName, const std::string& device, const BurnOptions& options, const BurnResult& result,
               bool ok, const std::string& error, bool signalled, bool resultSilent)
{
    if (ok && result.Succeeded()) {
        for (const std::string& note : result.notes)
            std::fprintf(stderr, "note: %s\n", OneLineText(note).c_str());
        if (resultSilent)
            return 0;
        std::printf("%s\n", options.mode == DiscMode::Simulate
                                ? "The simulation is successfully finished, please click the <Burn Now> button to "
                                  "write the albums to the disc."
                                : "Congratulations! Your photo album CD has been made. You may play it on TV with "
                                  "DVD/VCD player.");
        if (result.verify == VerifyStatus::Passed)
            std::printf("Verified: every sector reads back as written.\n");
        return 0;
    }
    for (const std::string& note : result.notes)
        std::fprintf(stderr, "note: %s\n", OneLineText(note).c_str());
    if (signalled || result.status == BurnStatus::Cancelled) {
        std::fprintf(stderr, "%s: %s: cancelled%s%s\n", commandName, device.c_str(),
                     result.discState.empty() ? "" : ". ", CliDiscText(result.discState).c_str());
        return kRecorderExitCancelled;
    }
    std::string why = error;
    if (why.rfind(device + ": ", 0) == 0)
        why = why.substr(device.size() + 2);
    if (why.empty())
        why = result.status == BurnStatus::Succeeded ? result.verifyText : result.text;
    std::fprintf(stderr, "%s: %s: %s\n", commandName, device.c_str(), OneLineText(CliDiscText(why)).c_str());
    return kRecorderExitFailed;
}

std::string BurnJson(const std::string& device, const BurnOptions& options, const BurnResult& result, int exitStatus)
{
    const char* status = exitStatus == kRecorderExitCancelled ? "cancelled"
                         : exitStatus != 0                    ? "failed"
                         : options.mode == DiscMode::Simulate ? "simulated"
                                                              : "written";
    const char* verify = result.verify == VerifyStatus::Passed        ? "passed"
                         : result.verify == VerifyStatus::Failed      ? "failed"
                         : result.verify == VerifyStatus::Unsupported ? "unsupported"
                                                                      : "not-run";
    // A burn that failed its read-back still wrote and closed the disc; one that failed
    // midway did not: "disc" tells the two apart where "status" says "failed" for both.
    DiscOutcome disc = result.disc;
    if (options.mode == DiscMode::Simulate)
        disc = DiscOutcome::Untouched;
    else if (result.status == BurnStatus::Succeeded)
        disc = DiscOutcome::Closed;
    const char* discText = disc == DiscOutcome::Closed          ? "closed"
                           : disc == DiscOutcome::PartlyWritten ? "partly-written"
                           : disc == DiscOutcome::Unknown       ? "unknown"
                                                                : "untouched";
    return Format("{\"device\": %s, \"status\": \"%s\", \"verified\": %s, \"verify\": \"%s\", \"disc\": \"%s\", "
                  "\"exit_status\": %d}\n",
                  JsonQuote(device).c_str(), status, result.verify == VerifyStatus::Passed ? "true" : "false", verify,
                  discText, exitStatus);
}

} // namespace lumivox::cli
