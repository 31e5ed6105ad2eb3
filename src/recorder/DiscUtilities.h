// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Disc utilities: the blank check before a burn, erasing a CD-RW, eject and close tray.

#include "base/CoreText.h"
#include "base/Event.h"
#include "recorder/RecorderDriver.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace lumivox {

// Messages of the erase dialog (WM_USER + 104 and + 105).
inline constexpr int UM_ERASE_ELAPSED = 1128; // elapsed milliseconds
inline constexpr int UM_ERASE_DONE = 1129;

enum class BlankState { Blank, NotEmpty, NotReady };

struct BlankCheckResult {
    BlankState state = BlankState::NotReady;
    std::string message; // empty for a blank disc
    DiscInfo info;
};

// READ DISC INFORMATION: a blank disc may be burned; a written one gets NotEmptyText; when
// the command fails the tray is ejected and the message asks for a blank disc.
BlankCheckResult CheckBlankDisc(BaseDriver& driver);

// Why a written disc cannot be burned and what to do: a CD-RW names how to erase it
// (eraseHow, by default the desktop program's button), a CD-R says it cannot be erased.
inline constexpr const char* kEraseWithButton = "with \"Erase CD-RW\" on the Burn page";
std::string NotEmptyText(bool erasable, const char* eraseHow = kEraseWithButton);
inline constexpr const char* kNotEmptyCdrText = QT_TRANSLATE_NOOP(
    "lumivox::core", "The CD-R disc in the drive has already been written, and a CD-R cannot be erased. "
                     "Please insert a blank CD-R or CD-RW disc.");

inline constexpr const char* kNoRewritableDiscText =
    QT_TRANSLATE_NOOP("lumivox::core", "No CD-RW disc found. Please insert the CD-RW disc to be erased.");
inline constexpr const char* kCdrCannotBeErasedText = QT_TRANSLATE_NOOP(
    "lumivox::core",
    "The disc in the drive is a CD-R, and a CD-R cannot be erased. Please insert the CD-RW disc to be erased.");
inline constexpr const char* kPressedDiscText = QT_TRANSLATE_NOOP(
    "lumivox::core", "The disc in the drive is a pressed CD-ROM, which cannot be written. Please insert a blank "
                     "CD-R or CD-RW disc.");
// A cancel while the drive erases stops only the waiting: BLANK went out with the
// immediate bit and the drive carries on by itself.
inline constexpr const char* kEraseLeftRunningText = QT_TRANSLATE_NOOP(
    "lumivox::core", "Cancelled. The drive goes on erasing the disc: leave it in the drive until the drive is "
                     "ready again; an erase cut short leaves a disc that must be erased again.");
inline constexpr std::chrono::minutes kEraseLimit{90};

// "Erasing ReWritable, Please wait...\nElapsed time: %02d:%02d min".
std::string ErasingText(std::int64_t elapsedMs);

// The time an erase waits by: steady_clock and the cancel event's timed wait by default;
// a test or the desktop program may give its own.
class RecorderClock {
public:
    virtual ~RecorderClock() = default;
    virtual std::chrono::milliseconds Now() = 0;
    // Waits delay; true when cancel was set first.
    virtual bool Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel) = 0;
};
RecorderClock& SteadyRecorderClock();

// Erases a CD-RW (quick: minimal blanking; full: the whole disc) and waits, once a second,
// until the drive is ready again; onElapsed (may be empty) gets the elapsed milliseconds at
// each look (UM_ERASE_ELAPSED). A drive still busy or becoming ready is waited for first;
// "no disc" (kNoRewritableDiscText) is said only when the drive reports no medium. False
// with *error when BLANK is refused, the drive reports a failure while erasing, the wait is
// cancelled ("Cancelled" before BLANK was sent, kEraseLeftRunningText after), the drive
// stops reporting a passing NOT READY (the disc taken out), or the drive stays busy past
// kEraseLimit.
bool EraseDisc(BaseDriver& driver, bool full, const ManualResetEvent* cancel,
               const std::function<void(std::int64_t)>& onElapsed, std::string* error, RecorderClock* clock = nullptr);

} // namespace lumivox
