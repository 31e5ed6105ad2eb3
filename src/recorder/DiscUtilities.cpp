#include "recorder/DiscUtilities.h"

#include <cstdio>

namespace lumivox {

BlankCheckResult CheckBlankDisc(BaseDriver& driver) {
    BlankCheckResult result;
    if (!driver.ReadDiscInfo(&result.info)) {
        driver.StartStopUnit(true);
        result.state = BlankState::NotReady;
        result.message = "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.";
        return result;
    }
    if (!result.info.blank) {
        result.state = BlankState::NotEmpty;
        result.message =
            "CD-R/RW disc is not empty. You may click button <Erase ReWritable...> the blank CD-RW disc.";
        return result;
    }
    result.state = BlankState::Blank;
    return result;
}

std::string ErasingText(std::int64_t elapsedMs) {
    char text[96];
    std::snprintf(text, sizeof text, "Erasing ReWritable, Please wait...\nElapsed time: %02d:%02d min",
                  static_cast<int>(elapsedMs / 60000), static_cast<int>(elapsedMs / 1000 % 60));
    return text;
}

std::chrono::milliseconds SteadyEraseClock::Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

bool SteadyEraseClock::Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel) {
    return cancel.WaitFor(delay);
}

bool EraseDisc(BaseDriver& driver, bool full, const ManualResetEvent* cancel,
               const std::function<void(std::int64_t)>& onElapsed, std::string* error, EraseClock* clock) {
    SteadyEraseClock steady;
    EraseClock& time = clock ? *clock : steady;
    if (driver.TestUnitReady() == 2) {
        *error = kNoRewritableDiscText;
        return false;
    }
    if (const int result = driver.Blank(full, true); result != kScsiSuccess) {
        // A refused BLANK (a CD-R, a drive that cannot erase) is said as such, not followed by "done".
        *error = "The disc could not be erased: " + driver.LastProblem(result);
        return false;
    }
    const std::chrono::milliseconds start = time.Now();
    ManualResetEvent never;
    const ManualResetEvent& wait = cancel ? *cancel : never;
    for (;;) {
        const std::chrono::milliseconds elapsed = time.Now() - start;
        if (onElapsed) onElapsed(elapsed.count());
        if (driver.TestUnitReady() != 2) return true;
        if (elapsed > kEraseLimit) {
            *error = "The drive is still erasing after 90 minutes; it may need to be switched off and on.";
            return false;
        }
        if (time.Wait(std::chrono::seconds(1), wait)) {
            *error = "Cancelled";
            return false;
        }
    }
}

} // namespace lumivox
