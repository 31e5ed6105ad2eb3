// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Recorder drivers: the steps of a disc-at-once run and the disc utilities as MMC
// commands for one recorder. BaseDriver holds the command operations; MmcDriver writes
// session-at-once from a cue sheet (2,336-byte blocks), RawDriver writes raw 2,352-byte
// scrambled blocks with host-made sub-channel, lead-in and lead-out.
//
// Operations return true or false and put the user-visible text into *error. All of them
// run on one thread at a time (the burn thread during a run).

#include "base/Event.h"
#include "base/Progress.h"
#include "recorder/DriveDatabase.h"
#include "recorder/Scsi.h"
#include "recorder/SubChannel.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

enum class DiscMode { Write, Simulate };

// The run settings a burn hands its driver.
struct RunSettings {
    DiscMode mode = DiscMode::Write;
    bool burnProof = false;
    int speedIndex = 0; // "BurnSpeed" 0-6
};

// What READ DISC INFORMATION says about the disc.
struct DiscInfo {
    bool blank = false;
    bool erasable = false;
    std::int32_t leadInStart = -1; // MSF as a block count (m × 4500 + s × 75 + f); −1 not given
    std::int32_t capacity = -1; // blocks that fit (last possible lead-out start − 150); −1 unknown
};

// How long a drive may stay NOT READY before the run gives up: the final wait for its
// buffer to reach the disc, and a WRITE that keeps being answered "long write in progress".
inline constexpr std::chrono::minutes kDriveWaitLimit{10};

// TEST UNIT READY's three answers.
inline constexpr int kUnitReady = 0;
inline constexpr int kUnitFailed = 1; // the sense (LastProblem) says why
inline constexpr int kUnitNotReady = 2; // the sense gives the reason (no disc, becoming ready, busy)

// A usable raw lead-in start: the 90:00:00 rule makes MSF times from 90:00:00 on negative
// addresses (MSF − 450,150); only those lie before the program area.
inline constexpr std::int32_t kLeadInEarliest = 90 * 4500;
inline constexpr std::int32_t kLeadInEnd = 100 * 4500;
inline bool UsableLeadIn(std::int32_t msfBlocks)
{
    return msfBlocks >= kLeadInEarliest && msfBlocks < kLeadInEnd;
}

// The MMC name of a current profile (GET CONFIGURATION), "" for 0 (no disc).
std::string ProfileName(int profile);

class BaseDriver {
public:
    BaseDriver(ScsiTransport& transport, const char* name) : transport_(transport), name_(name) { }
    virtual ~BaseDriver() = default;
    BaseDriver(const BaseDriver&) = delete;
    BaseDriver& operator=(const BaseDriver&) = delete;

    const char* Name() const { return name_; }
    ScsiTransport& Transport() { return transport_; }

    // The recorder family's steps (what each does: MmcDriver, RawDriver).
    virtual bool IsRaw() const { return false; }
    virtual bool PrepareDisc(std::string* error);
    virtual bool StartDisc(std::string* error);
    // Writes `blocks` sectors at `address`; the data holds them at the driver's stride
    // (2,336 bytes session-at-once, 2,352 raw).
    virtual bool WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error);
    // Everything after the last data block up to the flushed cache; the eject is separate.
    virtual bool FinishDisc(std::string* error);

    // Run context, set before PrepareDisc. cancel stops the run up to its point of no
    // return; leaveNow (a second cancel; may be null) also ends the finishing waits.
    void SetRun(const RunSettings& settings, ProgressListener* listener, const ManualResetEvent* cancel,
                const ManualResetEvent* leaveNow = nullptr);
    void SetCueSheet(const std::uint8_t* sheet, std::size_t length);
    void SetEndAddress(std::int32_t address) { endAddress_ = address; }
    const std::vector<std::string>& Warnings() const { return warnings_; }
    // Recovered errors and the like: worth telling, never a failure.
    const std::vector<std::string>& Notes() const { return notes_; }
    // Writing has begun on the disc: the drive accepted a WRITE. Before that the disc is
    // as it was.
    bool WritingBegun() const { return writingBegun_; }
    // The drive holds this run's state (a cue sheet taken or a WRITE accepted) and has not
    // closed the session yet: a reset or a disc change now is the end of the run.
    bool HoldsRunState() const { return holdsRunState_; }
    // PrepareDisc found the disc blank (READ DISC INFORMATION) just before writing.
    bool DiscFoundBlank() const { return foundBlank_; }
    // The last data block was handed over: from here on only leaveNow stops the finishing
    // (lead-out, flush), since stopping it would ruin a disc that is one step from done.
    void BeginFinishing() { finishing_ = true; }
    // The drive accepted the flush: the session is closed and the run's state is gone.
    bool SessionClosed() const { return sessionClosed_; }

    // How leaving the drive after a cancel or a failure went.
    enum class IdleOutcome { Ready, StillBusy, Abandoned, Failed };
    // After a cancel or a failed write once writing has begun: SYNCHRONIZE CACHE with the
    // immediate bit, so the drive ends the session and unlocks its tray instead of waiting
    // for data, then TEST UNIT READY until the drive is ready, for at most `limit` or until
    // leaveNow is set. Its answers change nothing about the run's outcome.
    IdleOutcome LeaveIdle(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // PREVENT ALLOW MEDIUM REMOVAL: the tray stays shut while a run writes; every way out
    // of the run allows it again. Sent once, whatever the cancel; the answer is not needed.
    void LockTray(bool locked);

    // Command operations.
    // kUnitReady, kUnitNotReady (with the reason in the sense) or kUnitFailed; UNIT
    // ATTENTION is answered by asking again.
    int TestUnitReady();
    bool StartStopUnit(bool eject);
    int SynchronizeCache();
    bool ReadDiscInfo(DiscInfo* info);
    // The lead-in start from the ATIP (READ TOC/PMA/ATIP format 4) as an MSF block count; −1
    // when the drive gives none.
    std::int32_t ReadAtipLeadIn();
    // The last possible lead-out start from the ATIP (bytes 12-14) less 150: the blocks
    // that fit; −1 when the drive gives none.
    std::int32_t ReadAtipCapacity();
    // info->capacity from the ATIP when READ DISC INFORMATION did not give it.
    void CompleteCapacity(DiscInfo* info);
    // The current profile (GET CONFIGURATION); −1 when the drive does not say.
    int CurrentProfile();
    // Whether the drive offers buffer-underrun-free recording (page 2A).
    bool SupportsBurnProof();
    // The next writable address of the invisible track when blank and valid, else 0.
    std::uint32_t ReadTrackInfo();
    // Copies up to `wanted` bytes of the page into page; header23 gets bytes 2-3 of the header.
    bool ModeSense10(std::uint8_t pageCode, std::uint8_t* page, std::size_t wanted, std::uint8_t* header23);
    bool ModeSelect10(const std::uint8_t* page, std::size_t length, const std::uint8_t* header23);
    int SetCdSpeed(int speedIndex);
    int SendOpc();
    int Blank(bool full, bool immediate);
    // READ CD of whole 2,352-byte sectors. kScsiSuccess only when every byte came; a short
    // answer is kScsiFailure with ShortRead() the bytes that came.
    int ReadCd(std::int32_t address, std::uint32_t blocks, std::uint8_t* out);
    std::size_t ShortRead() const { return shortRead_; }
    // The lead-in start raw writing would use: READ DISC INFORMATION, else the ATIP; −1 none.
    std::int32_t RawLeadInStart();
    // Ejects, and loads again after a simulation.
    void EjectAfterRun();

    // The sense of the last CHECK CONDITION, or the transport's failure text.
    std::string LastProblem(int result) const;
    // What went wrong, for a user: "what: problem", or, when the drive holds the run's
    // state and answered that it was reset or its disc changed, that.
    std::string Problem(const char* what, int result) const;
    // LastProblem of the last command sent through Send or TestUnitReady.
    std::string LastFailure() const { return LastProblem(lastResult_); }

    // Sends a command with the everyday retries (ExecuteRetrying): UNIT ATTENTION, NOT
    // READY while the drive becomes ready or is busy, recovered errors kept as notes; a
    // cancel ends a wait with kScsiCancelled.
    template <typename Cdb>
    int Send(const Cdb& cdb, const void* out = nullptr, std::size_t outLength = 0, void* in = nullptr,
             std::size_t inLength = 0)
    {
        return SendBytes(reinterpret_cast<const std::uint8_t*>(&cdb), sizeof cdb, out, outLength, in, inLength);
    }

protected:
    int SendBytes(const std::uint8_t* cdb, std::size_t length, const void* out, std::size_t outLength, void* in,
                  std::size_t inLength);
    void Post(ProgressMessage message, std::int64_t done = 0, std::int64_t total = 0);
    // The event that stops what is under way: the cancel, or once finishing only leaveNow.
    const ManualResetEvent* StopEvent() const { return finishing_ ? leaveNow_ : cancel_; }
    bool Cancelled() const { return StopEvent() && StopEvent()->IsSet(); }
    // SET CD SPEED; a refusal is a warning and the drive writes at its own speed.
    void SelectSpeed();
    // READ DISC INFORMATION just before writing: false with *error unless the disc is blank.
    bool CheckBlank(DiscInfo* info, std::string* error);
    // Waits `delay` unless cancelled first; true when cancelled.
    bool WaitOrCancel(std::chrono::milliseconds delay) const;
    // WRITE(10) of `blocks` blocks of `blockSize` bytes, retried while the drive answers
    // NOT READY 04/07 or 04/08. False with "Error while writing cd" and the sense.
    bool WriteCommand(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::size_t blockSize,
                      std::string* error);
    // Waits while TEST UNIT READY says NOT READY for a passing reason (busy writing,
    // becoming ready before the drive holds the run), looking at the stop event, up to
    // kDriveWaitLimit; any other reason ends the wait at once with *error.
    bool WaitUntilReady(std::string* error);
    // The write parameters page with write type, block type, session format; false when refused.
    bool SetWriteParameters(int writeType, int dataBlockType, bool raw);
    bool CheckCapacity(const DiscInfo& info, std::string* error);
    // The MSF time at offset of the ATIP (READ TOC/PMA/ATIP format 4) as a block count; −1
    // when the drive gives none.
    std::int32_t ReadAtipTime(std::size_t offset);
    bool IsLongOperation(int result) const;
    // Burn-Proof is asked for only when page 2A offers it (a note says when not).
    bool CheckBurnProof();
    bool burnProofOffered_ = false;

    ScsiTransport& transport_;
    const char* name_;
    RunSettings settings_;
    ProgressListener* listener_ = nullptr;
    const ManualResetEvent* cancel_ = nullptr;
    const ManualResetEvent* leaveNow_ = nullptr;
    std::vector<std::uint8_t> cueSheet_;
    std::int32_t leadInStart_ = 0;
    std::int32_t leadInLength_ = 0, leadOutLength_ = 0;
    std::int32_t endAddress_ = 0;
    std::vector<std::string> warnings_;
    std::vector<std::string> notes_;
    bool writingBegun_ = false;
    bool holdsRunState_ = false;
    bool foundBlank_ = false;
    bool finishing_ = false;
    bool sessionClosed_ = false;
    std::size_t shortRead_ = 0;
    int lastResult_ = kScsiSuccess;
};

class MmcDriver final : public BaseDriver {
public:
    explicit MmcDriver(ScsiTransport& transport) : BaseDriver(transport, "MMC") { }
    bool PrepareDisc(std::string* error) override;
    bool StartDisc(std::string* error) override;
    bool WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error) override;
    bool FinishDisc(std::string* error) override;
};

class RawDriver final : public BaseDriver {
public:
    explicit RawDriver(ScsiTransport& transport) : BaseDriver(transport, "RAW") { }
    bool IsRaw() const override { return true; }
    bool PrepareDisc(std::string* error) override;
    bool StartDisc(std::string* error) override;
    bool WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error) override;
    bool FinishDisc(std::string* error) override;

    std::int32_t LeadInFirstAddress() const { return leadInFirst_; }
    std::int32_t LeadInLength() const { return leadInLength_; }
    std::int32_t LeadOutLength() const { return leadOutLength_; }
    std::size_t BlockSize() const { return blockSize_; }

private:
    // Writes `count` scrambled zero sectors from `address`, headers counting from headerStart.
    bool WriteZeroStretch(std::int32_t address, std::int32_t count, std::uint32_t headerStart, std::string* error);

    std::unique_ptr<SubchannelFormat> format_;
    PQChannelEncoder encoder_;
    std::size_t blockSize_ = 0;
    std::int32_t leadInFirst_ = 0;
    std::vector<std::uint8_t> writeBuffer_;
    std::vector<std::uint8_t> sectorBuffer_;
};

std::unique_ptr<BaseDriver> MakeDriver(DriverKind kind, ScsiTransport& transport);

// A drive opened for commands: its transport and the driver the choice (or, for Auto, the
// drive database by the drive's product) gives it. The driver refers to the transport,
// so it is declared after it and goes first.
struct OpenedDrive {
    std::unique_ptr<ScsiTransport> transport;
    std::unique_ptr<BaseDriver> driver;
};
// Opens device (a node or "emulated:…") with its driver. False with *error naming the
// device and the reason.
// An erase asks for DriveAccess::Exclusive (no other user, no mounted disc).
bool OpenDrive(const std::string& device, DriverChoice choice, OpenedDrive* drive, std::string* error,
               DriveAccess access = DriveAccess::Shared);

// "The disc holds %d MB; this Video CD needs %d MB." (2,048-byte blocks; the disc's
// figure rounded down, the image's rounded up).
std::string CapacityText(std::int64_t discBlocks, std::int64_t imageBlocks);

} // namespace lumivox
