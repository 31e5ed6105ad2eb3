// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The progress messages of a production run and of the burning that follows it, their
// typed payload, and the one-call interface they travel through (ProgressListener).
//
// The numbers are the window-message numbers the progress dialog has always used
// (WM_USER + n), kept so that the messages stay recognisable in logs and tests. The core
// knows nothing of windows: a run or a burn calls a ProgressListener, and the user interface
// turns each call into a queued signal on its own thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace lumivox {

inline constexpr int kUserMessageBase = 1024; // WM_USER

enum ProgressMessage : int {
    // Production thread, first action: the menu music and the menu pages are being made.
    UM_MENU_ENCODE_BEGIN = kUserMessageBase + 100, // 1124, no parameters
    UM_MENU_ENCODE_END = kUserMessageBase + 101, // 1125, no parameters
    // The menu stage failed (music conversion, a page's encoding or multiplexing); the
    // run then ends as failed with its message.
    UM_MENU_ENCODE_FAILED = kUserMessageBase + 102, // 1126, no parameters
    // Before each slide: first = slides already encoded in this run, second = pictures
    // in all albums.
    UM_SLIDE_PROGRESS = kUserMessageBase + 103, // 1127
    // After each menu page: first = pages made, second = pages of the menu.
    // (1128 and 1129 belong to the erase dialog.)
    UM_MENU_PAGE_PROGRESS = kUserMessageBase + 110, // 1134
    // The slides are done; the disc layout is being built and computed.
    UM_AUTHORING_BEGIN = kUserMessageBase + 111, // 1135, no parameters

    // Recorder driver while finishing the disc.
    UM_DRIVE_WAIT = kUserMessageBase + 500, // 1524, no parameters
    UM_FLUSH_CACHE = kUserMessageBase + 501, // 1525, no parameters

    // Burning (the burn thread of the recorder sink).
    UM_RECORDER_INIT = kUserMessageBase + 2000, // 3024, no parameters
    UM_LEAD_IN = kUserMessageBase + 2001, // 3025, no parameters
    // first = sectors written so far, second = the job's total sectors. Posted by the
    // burn thread when burning, and by the run itself while it writes a disc image file.
    UM_WRITE_PROGRESS = kUserMessageBase + 2002, // 3026
    UM_LEAD_OUT = kUserMessageBase + 2003, // 3027, no parameters
    UM_BURN_DONE = kUserMessageBase + 2004, // 3028, no parameters
    // The driver's error text travels in the observer's text argument.
    UM_BURN_FAILED = kUserMessageBase + 2005, // 3029
};

// The message's name as written above ("UM_SLIDE_PROGRESS"), or "UM_<number>".
std::string ProgressMessageName(int message);

// Tenths of a percent shown for done of total, as the progress dialog computes them:
// (done × 1000 + 1000) / total, integer division, with a total of 0 or less taken as 100.
// Used for UM_SLIDE_PROGRESS (which is posted before each slide, so the last one shows
// 100.0 %) and UM_WRITE_PROGRESS.
int ProgressTenths(std::int64_t done, std::int64_t total);

// What a progress message is about, so that the command line, the desktop program's
// progress dialog and the recorder never derive it from the message number and two
// integers.
enum class ProgressStage {
    MenuMusic, // the menu music is being converted
    MenuPages, // menu pages are rendered and encoded: done of total pages
    Slides, // slides are rendered and encoded: done of total slides
    Authoring, // the disc layout is built and computed
    Recorder, // the recorder is being prepared (disc checks, cue sheet, OPC)
    LeadIn, // the lead-in is being written
    Writing, // the image is written (to a file or the disc): done of total sectors
    LeadOut, // the lead-out is being written
    Finishing, // the drive flushes its cache and closes the session
    Verifying, // the written disc is read back: done of total sectors
    Done, // the run or burn ended; see the message for how
};

// The payload every progress message carries.
struct ProgressEvent {
    ProgressMessage message = UM_MENU_ENCODE_BEGIN;
    ProgressStage stage = ProgressStage::MenuPages;
    std::int64_t done = 0; // first parameter of the message (0 when it has none)
    std::int64_t total = 0; // second parameter of the message (0 when it has none)
    std::string text; // UM_BURN_FAILED: the driver's error text; otherwise empty

    // Tenths of a percent as the progress dialog shows them (ProgressTenths), or -1 for
    // a message that carries no count.
    int Tenths() const;
};

// The stage a message belongs to (UM_MENU_ENCODE_BEGIN is MenuPages here; a run that
// converts music first reports ProgressStage::MenuMusic itself).
ProgressStage StageOfMessage(ProgressMessage message);
// The event of a message with its parameters, stage taken from StageOfMessage.
ProgressEvent MakeProgressEvent(ProgressMessage message, std::int64_t done = 0, std::int64_t total = 0,
                                std::string text = {});

// Receives progress messages. Calls come on the worker that reports (production thread,
// burn thread); an implementation returns quickly (posts, queues or prints) and never calls
// back into the reporter.
class ProgressListener {
public:
    virtual ~ProgressListener() = default;
    virtual void OnProgress(const ProgressEvent& event) { (void)event; }
};

} // namespace lumivox
