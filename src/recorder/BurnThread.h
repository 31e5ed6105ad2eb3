// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The disc-at-once run: the bounded queue of sector buffers between the image writer and
// the recorder (BurnQueue), and the thread that empties it onto the disc (BurnThread).

#include "base/Event.h"
#include "base/Progress.h"
#include "recorder/RecorderDriver.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumivox {

inline constexpr std::uint32_t kBufferSectors = 27; // sectors per buffer and per WRITE
inline constexpr std::size_t kMaxQueuedBuffers = 100; // about 2,700 sectors, 36 s at 1×

// One queue item. The byte count is always counted in 2,352-byte sectors, whatever the
// stride of the data (2,352 raw, 2,336 session-at-once).
struct BurnBuffer {
    enum class Kind : std::uint8_t { Full = 1, Last = 2, End = 3 };
    Kind kind = Kind::Full;
    std::uint32_t byteCount = 0;
    std::vector<std::uint8_t> data; // room for 27 sectors of 2,352 bytes
    std::uint32_t Blocks() const { return byteCount / 2352; }
};

// Producer (image writer) and consumer (burn thread) wait on one condition variable,
// woken by the other side and by the cancel event; never by polling.
class BurnQueue {
public:
    explicit BurnQueue(const ManualResetEvent* cancel);
    ~BurnQueue();

    // Appends a buffer once fewer than kMaxQueuedBuffers are queued. False (the buffer is
    // dropped) when the consumer has ended, the queue was stopped or cancel was set.
    bool Push(std::unique_ptr<BurnBuffer> buffer);
    // Takes the head buffer, waiting for one; null when stopped or cancelled.
    std::unique_ptr<BurnBuffer> Pop();
    // The consumer is gone: producers stop waiting.
    void ConsumerEnded();
    // Nothing more will be given or taken: both sides stop waiting.
    void Stop();
    std::size_t Count() const;

    // Buffers are reused, so a run allocates at most kMaxQueuedBuffers + 2 of them.
    std::unique_ptr<BurnBuffer> TakeFree();
    void GiveBack(std::unique_ptr<BurnBuffer> buffer);

    // Time the producer waited for room, and the consumer for data, in seconds.
    double ProducerWaitSeconds() const;
    double ConsumerWaitSeconds() const;

private:
    const ManualResetEvent* cancel_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<BurnBuffer>> queue_;
    std::vector<std::unique_ptr<BurnBuffer>> free_;
    bool consumerEnded_ = false;
    bool stopped_ = false;
    double producerWait_ = 0, consumerWait_ = 0;
    std::optional<ManualResetEvent::Subscription> wake_; // last: goes first, before the mutex
};

enum class BurnStatus { Succeeded, Failed, Cancelled };
// Unsupported: the drive cannot read the disc back whole (it refuses READ CD of whole
// sectors, or gives only their user data); the disc was written but could not be checked.
enum class VerifyStatus { NotRun, Passed, Failed, Unsupported };

// What became of the disc: as it was (still blank), written on but not finished (unusable
// unless erased), written and closed, or not known (the program stopped waiting for a
// drive that may still be writing).
enum class DiscOutcome { Untouched, PartlyWritten, Closed, Unknown };

// How a burn ended.
struct BurnResult {
    BurnStatus status = BurnStatus::Failed;
    std::string text; // failure text (driver's text and sense); empty on success
    VerifyStatus verify = VerifyStatus::NotRun;
    std::int64_t firstMismatch = -1; // first image sector that read back differently
    std::string verifyText; // why verification failed
    std::vector<std::string> warnings; // "Power calibration failed.\n"
    std::vector<std::string> notes; // recovered errors and the like; never a failure
    bool discUnusable = false; // writing had begun when the run failed or was cancelled
    DiscOutcome disc = DiscOutcome::Untouched;
    // After a burn that did not finish: what became of the disc (still blank, or partly
    // written and whether it can be erased); empty when not known or nothing was to be burned.
    std::string discState;
    std::int64_t sectorsWritten = 0;
    bool Succeeded() const { return status == BurnStatus::Succeeded && verify != VerifyStatus::Failed; }
};

// A 64-bit hash of one 2,352-byte sector, kept per sector during a run for verification.
std::uint64_t SectorHash(const std::uint8_t* sector);

// Runs prepare, lead-in, the queued data, finish, optional verification and eject on its
// own thread. Posts UM_RECORDER_INIT, UM_LEAD_IN, UM_WRITE_PROGRESS, UM_LEAD_OUT,
// UM_DRIVE_WAIT, UM_FLUSH_CACHE, Verifying progress, then UM_BURN_DONE or UM_BURN_FAILED
// (nothing for a cancel).
//
// A cancel before the drive has accepted a WRITE leaves the disc blank: nothing more is
// sent. Once every data block has been handed over (the point of no return) a cancel no
// longer stops the lead-out and the flush, which finish the disc; it skips verification and
// the run ends cancelled with the disc written and closed. A second cancel (leaveNow) stops
// every wait at once.
class BurnThread {
public:
    struct Setup {
        BaseDriver* driver = nullptr;
        BurnQueue* queue = nullptr;
        std::vector<std::uint8_t> cueSheet;
        std::int64_t totalSectors = 0;
        RunSettings settings;
        ProgressListener* listener = nullptr;
        const ManualResetEvent* cancel = nullptr;
        // A second cancel: stop waiting for the drive even while it finishes the disc.
        const ManualResetEvent* leaveNow = nullptr;
        bool verify = false;
        bool eject = true;
        bool discErasable = false; // a CD-RW: a partly written disc can be erased and used again
        // Filled by the producer; read only after the end marker has been taken.
        const std::vector<std::uint64_t>* hashes = nullptr;
    };
    explicit BurnThread(Setup setup);
    ~BurnThread(); // joins

    void Start();
    void Join();
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Valid once Ended() (or after Join).
    const BurnResult& Result() const { return result_; }

private:
    void Run();
    bool RunSteps();
    void Verify();
    void Post(ProgressMessage message, std::int64_t done = 0, std::int64_t total = 0, std::string text = {});
    bool Cancelled() const { return setup_.cancel && setup_.cancel->IsSet(); }

    // How the run left the drive and the disc, for a run that did not finish as asked.
    void DescribeDisc(bool finished);

    Setup setup_;
    BurnResult result_;
    bool dataComplete_ = false; // every data block was handed to the drive
    std::atomic<bool> ended_{false};
    std::jthread thread_;
};

} // namespace lumivox
