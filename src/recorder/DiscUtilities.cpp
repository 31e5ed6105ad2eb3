// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/DiscUtilities.h"

#include <cstdio>

namespace lumivox {

BlankCheckResult CheckBlankDisc(BaseDriver& driver)
{
    BlankCheckResult result;
    if (!driver.ReadDiscInfo(&result.info)) {
        driver.StartStopUnit(true);
        result.state = BlankState::NotReady;
        result.message = "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.";
        return result;
    }
    if (!result.info.blank) {
        result.state = BlankState::NotEmpty;
        result.message = NotEmptyText(result.info.erasable);
        // A CD-R, written or not, carries its ATIP in the pre-groove; a pressed disc has none.
        // Without GET CONFIGURATION that is how the two are told apart.
        if (!result.info.erasable) {
            const int profile = driver.CurrentProfile();
            if (profile == 0x08 || (profile < 0 && driver.ReadAtipLeadIn() < 0))
                result.message = kPressedDiscText;
        }
        return result;
    }
    result.state = BlankState::Blank;
    return result;
}

std::string NotEmptyText(bool erasable, const char* eraseHow)
{
    // Only a CD-RW can be erased: a written CD-R is not sent to the erase button.
    if (!erasable)
        return kNotEmptyCdrText;
    return std::string("The CD-RW disc in the drive is not empty. Erase it ") + eraseHow +
           ", or insert a blank CD-R or CD-RW disc.";
}

std::string ErasingText(std::int64_t elapsedMs)
{
    char text[96];
    std::snprintf(text, sizeof text, "Erasing ReWritable, Please wait...\nElapsed time: %02d:%02d min",
                  static_cast<int>(elapsedMs / 60000), static_cast<int>(elapsedMs / 1000 % 60));
    return text;
}

namespace {
class SteadyClock final : public RecorderClock {
public:
    std::chrono::milliseconds Now() override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    bool Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel) override
    {
        return cancel.WaitFor(delay);
    }
};

constexpr std::chrono::seconds kEraseLook{1};
constexpr std::chrono::minutes kReadyLimit{2}; // a drive busy or spinning up before the erase
} // namespace

RecorderClock& SteadyRecorderClock()
{
    static SteadyClock clock;
    return clock;
}

bool EraseDisc(BaseDriver& driver, bool full, const ManualResetEvent* cancel,
               const std::function<void(std::int64_t)>& onElapsed, std::string* error, RecorderClock* clock)
{
    RecorderClock& time = clock ? *clock : SteadyRecorderClock();
    ManualResetEvent never;
    const ManualResetEvent& wait = cancel ? *cancel : never;
    // Before the erase: a drive still busy or becoming ready is waited for; no disc is said.
    for (const auto waitStart = time.Now();;) {
        const int ready = driver.TestUnitReady();
        if (ready == kUnitReady)
            break;
        const SenseData sense = driver.Transport().GetSenseData();
        if (ready == kUnitNotReady && sense.Asc() == 0x3A) {
            *error = kNoRewritableDiscText;
            return false;
        }
        if (ready == kUnitFailed || !IsTransientNotReady(sense)) {
            *error = "The drive is not ready to erase: " + driver.LastFailure();
            return false;
        }
        if (time.Now() - waitStart > kReadyLimit) {
            *error = "The drive stayed busy: " + SenseText(sense);
            return false;
        }
        if (time.Wait(std::chrono::milliseconds(200), wait)) {
            *error = "Cancelled";
            return false;
        }
    }
    // A CD-R is told as such rather than sent a BLANK that it can only refuse with a sense code.
    if (DiscInfo info; driver.ReadDiscInfo(&info) && !info.erasable) {
        *error = kCdrCannotBeErasedText;
        return false;
    }
    if (const int result = driver.Blank(full, true); result != kScsiSuccess) {
        // A refused BLANK (a CD-R, a drive that cannot erase) is said as such, not followed by "done".
        *error = "The disc could not be erased: " + driver.LastProblem(result);
        return false;
    }
    const auto start = time.Now();
    for (;;) {
        const auto elapsed = time.Now() - start;
        if (onElapsed)
            onElapsed(elapsed.count());
        const int ready = driver.TestUnitReady();
        if (ready == kUnitReady)
            return true;
        if (ready == kUnitFailed) {
            // Only "ready" ends the erase: a failure (or a vanished drive) is not a blank disc.
            *error = "The drive reported a failure while erasing: " + driver.LastFailure();
            return false;
        }
        if (const SenseData sense = driver.Transport().GetSenseData(); !IsTransientNotReady(sense)) {
            // The disc was taken out or the tray opened: nothing to wait for.
            *error = "The drive stopped erasing: " + SenseText(sense) +
                     ". The disc is unusable until it has been erased again.";
            return false;
        }
        if (elapsed > kEraseLimit) {
            *error = "The drive is still erasing after 90 minutes; it may need to be switched off and on.";
            return false;
        }
        if (time.Wait(kEraseLook, wait)) {
            *error = kEraseLeftRunningText;
            return false;
        }
    }
}

} // namespace lumivox
