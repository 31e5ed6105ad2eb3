// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The recorder feed: the image sink that writes the disc while the image is produced, and
// the entry point that checks drive and disc before a burn. Both the production run
// (make --burn) and the burning of an image file (burn DISC.cue) go through it.
//
//   std::string error;
//   auto feed = OpenRecorderFeed(options, totalSectors, &listener, &cancel, &error);
//   if (!feed) { report error; }            // drive missing, disc not blank, too small ...
//   WriteImage(layout, *feed);              // SetCueList starts the burn thread
//   (CloseSink waits for the burn to end; then)
//   const BurnResult& result = feed->Result();

#include "base/Event.h"
#include "base/Progress.h"
#include "recorder/BurnThread.h"
#include "recorder/DriveDatabase.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"
#include "vcd/ImageSink.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivox {

struct BurnOptions {
    std::string device; // "/dev/sr0", "emulated:DIR?..."
    int speedIndex = 6; // 0-6: 1×, 2×, 4×, 8×, 12×, 24×, maximum
    DiscMode mode = DiscMode::Write;
    bool burnProof = false;
    DriverChoice driver = DriverChoice::Auto;
    bool verify = true; // read the data area back after a real burn
    bool eject = true; // eject when done (and load again after a simulation)
    // Set by a second cancel (a second Ctrl-C, a second Cancel): the run stops waiting for
    // the drive at once, even while the drive finishes the disc. May be null; must outlive
    // the feed.
    const ManualResetEvent* leaveNow = nullptr;
};

// The ImageSink that feeds the recorder. All ImageSink calls come from one thread (the
// image writer's); the burn thread it starts is the only one that talks to the drive.
class RecorderSink final : public ImageSink {
public:
    ~RecorderSink() override; // a sink not closed stops its burn thread and waits for it

    // Builds the cue sheet, checks the image against the disc's capacity and starts the
    // burn thread. −1 when the list does not end with a lead-out, needs more than 300 cue
    // sheet entries, or does not fit the disc (ErrorText says which); nothing starts then.
    int SetCueList(const std::vector<CueRecord>& cues) override;
    // Stages the sector (raw preparation for the raw driver), 27 to a buffer, waiting while
    // 100 buffers are queued. −1 once the burn has ended (failure or cancel).
    int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) override;
    int WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count) override;
    // Queues the last partial buffer and the end marker and waits for the burn (and the
    // verification) to end. 0 when the disc was written (and read back) correctly.
    int CloseSink() override;
    std::string ErrorText() const override { return error_; }

    // How the burn ended; complete after CloseSink returned (or the sink failed).
    const BurnResult& Result() const { return result_; }
    // The disc in the drive is a CD-RW (it can be erased), as found when the feed opened.
    bool DiscErasable() const { return discErasable_; }
    const DeviceRecord& Device() const { return transport_->Device(); }
    const char* DriverName() const { return driver_->Name(); }
    bool RawSectors() const { return driver_->IsRaw(); }
    const BurnQueue& Queue() const { return *queue_; }
    ScsiTransport& Transport() { return *transport_; }

private:
    friend std::unique_ptr<RecorderSink> OpenRecorderFeed(const BurnOptions&, std::int64_t, ProgressListener*,
                                                          ManualResetEvent*, std::string*);
    RecorderSink() = default;
    bool Flush(BurnBuffer::Kind kind);
    int Refuse();
    void Finish();

    BurnOptions options_;
    ProgressListener* listener_ = nullptr;
    ManualResetEvent* cancel_ = nullptr;
    // What the burn thread, its driver and the queue watch: set by the user's cancel event,
    // and by the sink itself when it stops a run that cannot go on (so that no wait of the
    // driver outlives the sink).
    ManualResetEvent abort_;
    std::optional<ManualResetEvent::Subscription> forwardCancel_, forwardLeave_;
    std::unique_ptr<ScsiTransport> transport_;
    std::unique_ptr<BaseDriver> driver_;
    std::unique_ptr<BurnQueue> queue_;
    std::unique_ptr<BurnThread> thread_;
    std::int32_t discCapacity_ = -1;
    bool discErasable_ = false;
    std::vector<std::uint8_t> cueSheet_;
    std::vector<std::uint64_t> hashes_;
    std::unique_ptr<BurnBuffer> staging_;
    std::uint32_t staged_ = 0;
    std::uint32_t runningAddress_ = 150;
    std::uint32_t nextSector_ = 0;
    std::uint32_t totalSectors_ = 0;
    bool started_ = false, closed_ = false, failed_ = false;
    std::string error_;
    BurnResult result_;
};

// Opens the device, chooses the driver (options.driver, else the drive database), checks
// that it writes CD-R and that a blank disc is in it (the messages of the blank check; the
// tray is ejected when no disc can be read) and, when totalSectors >= 0, that the image
// fits. Null with *error: one line naming the device and the reason. listener and cancel
// may be null; both must outlive the sink.
std::unique_ptr<RecorderSink> OpenRecorderFeed(const BurnOptions& options, std::int64_t totalSectors,
                                               ProgressListener* listener, ManualResetEvent* cancel,
                                               std::string* error);

// A BIN/CUE image as this program writes it: the BIN path, the cue list rebuilt from the
// TRACK / INDEX lines, and the sector count. False with *error naming the file.
struct CueImage {
    std::string binPath;
    std::vector<CueRecord> cues;
    std::uint32_t totalSectors = 0;
};
bool ReadCueImage(const std::string& cuePath, CueImage* image, std::string* error);

// Burns an image file through the recorder feed (OpenRecorderFeed, SetCueList, the BIN's
// sectors, CloseSink). False with *error (the open failure or the burn's text); *result
// tells the burn's end when it started.
bool BurnImageFile(const std::string& cuePath, const BurnOptions& options, ProgressListener* listener,
                   ManualResetEvent* cancel, BurnResult* result, std::string* error);

} // namespace lumivox
