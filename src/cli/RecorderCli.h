// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the recorder commands (burn, drives, erase, eject, load, blank-check) and
// make --burn share: the burn options, Ctrl-C as the cancel event, progress lines, and
// opening a drive with its driver.

#include "CliSupport.h"
#include "base/Event.h"
#include "base/Progress.h"
#include "recorder/RecorderDriver.h"
#include "recorder/RecorderFeed.h"

#include <atomic>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::cli {

// Exit statuses of the recorder commands: 0 done, 1 failed (or not blank), 2 usage, 130 cancelled.
inline constexpr int kRecorderExitFailed = 1;
inline constexpr int kRecorderExitUsage = 2;
inline constexpr int kRecorderExitCancelled = 130;

// Takes one burn option at args[*i] (--speed N, --simulate, --burn-proof,
// --driver auto|mmc|raw, --no-verify, --no-eject), advancing *i past its value. Returns
// false when args[*i] is not a burn option; sets *error for a bad value.
bool TakeBurnOption(const std::vector<std::string>& args, std::size_t* i, BurnOptions* options, std::string* error);
// The usage text of those options, for the commands' help.
extern const char* const kBurnOptionsHelp;

// The burner's texts name the desktop program's erase button; on the command line they
// name the erase command instead.
inline constexpr const char* kEraseWithCommand = "with \"lumivox-cli erase DEVICE\"";
std::string CliDiscText(std::string text);

// Ctrl-C and SIGTERM set the cancel event (see SignalWatcher).
using CancelOnSignal = SignalWatcher;

// The burn's progress messages as lines on standard error (writing in tenths of the image).
// Quiet (--quiet): only the warnings.
class BurnProgressPrinter final : public ProgressListener {
public:
    explicit BurnProgressPrinter(bool quiet = false) : quiet_(quiet) { }
    void OnProgress(const ProgressEvent& event) override;

private:
    const bool quiet_;
    int lastStep_ = -1;
    ProgressStage lastStage_ = ProgressStage::Done;
};

// Opens a drive and gives it the driver the drive database chooses (OpenDrive of the
// recorder library with DriverChoice::Auto).
inline bool OpenDrive(const std::string& device, OpenedDrive* drive, std::string* error,
                      DriveAccess access = DriveAccess::Shared)
{
    return lumivox::OpenDrive(device, DriverChoice::Auto, drive, error, access);
}

// A text on one line (the engine's texts may carry a second line).
std::string OneLineText(std::string text);

// Prints the end of a burn and returns the exit status. With resultSilent the lines of a
// burn that succeeded are left to the caller (--json); failures are named all the same.
int ReportBurn(const char* commandName, const std::string& device, const BurnOptions& options, const BurnResult& result,
               bool ok, const std::string& error, bool signalled, bool resultSilent = false);

// The end of a burn as one JSON object for --json: the device, "written", "simulated",
// "failed" or "cancelled", whether the disc was read back and matched, the exit status.
std::string BurnJson(const std::string& device, const BurnOptions& options, const BurnResult& result, int exitStatus);

} // namespace lumivox::cli
