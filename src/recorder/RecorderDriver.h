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
    std::int32_t leadInStart = 0; // MSF as a block count (m × 4500 + s × 75 + f)
    std::int32_t capacity = -1;   // blocks that fit (last possible lead-out start − 150); −1 unknown
};

// How long a drive may stay NOT READY before the run gives up: the final wait for its
// buffer to reach the disc, and a WRITE that keeps being answered "long write in progress".
inline constexpr std::chrono::minutes kDriveWaitLimit{10};

class BaseDriver {
public:
    BaseDriver(ScsiTransport& transport, const char* name) : transport_(transport), name_(name) {}
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

    // Run context, set before PrepareDisc.
    void SetRun(const RunSettings& settings, ProgressListener* listener, const ManualResetEvent* cancel);
    void SetCueSheet(const std::uint8_t* sheet, std::size_t length);
    void SetEndAddress(std::int32_t address) { endAddress_ = address; }
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Command operations.
    // 0 ready; 2 busy (NOT READY); 0 for UNIT ATTENTION; 1 otherwise.
    int TestUnitReady();
    bool StartStopUnit(bool eject);
    int SynchronizeCache();
    bool ReadDiscInfo(DiscInfo* info);
    // The next writable address of the invisible track when blank and valid, else 0.
    std::uint32_t ReadTrackInfo();
    // Copies up to `wanted` bytes of the page into page; header23 gets bytes 2-3 of the header.
    bool ModeSense10(std::uint8_t pageCode, std::uint8_t* page, std::size_t wanted, std::uint8_t* header23);
    bool ModeSelect10(const std::uint8_t* page, std::size_t length, const std::uint8_t* header23);
    int SetCdSpeed(int speedIndex);
    int SendOpc();
    int Blank(bool full, bool immediate);
    bool ReadCd(std::int32_t address, std::uint32_t blocks, std::uint8_t* out);
    // Ejects, and loads again after a simulation.
    void EjectAfterRun();

    // The sense of the last CHECK CONDITION, or the transport's failure text.
    std::string LastProblem(int result) const;

protected:
    void Post(ProgressMessage message, std::int64_t done = 0, std::int64_t total = 0);
    bool Cancelled() const { return cancel_ && cancel_->IsSet(); }
    // Waits `delay` unless cancelled first; true when cancelled.
    bool WaitOrCancel(std::chrono::milliseconds delay) const;
    // WRITE(10) of `blocks` blocks of `blockSize` bytes, retried while the drive answers
    // NOT READY 04/07 or 04/08. False with "Error while writing cd" and the sense.
    bool WriteCommand(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::size_t blockSize,
                      std::string* error);
    // Waits while TEST UNIT READY says NOT READY, looking at cancel, up to kDriveWaitLimit.
    bool WaitUntilReady(std::string* error);
    // The write parameters page with write type, block type, session format; false when refused.
    bool SetWriteParameters(int writeType, int dataBlockType, bool raw);
    bool CheckCapacity(const DiscInfo& info, std::string* error) const;
    bool IsLongOperation(int result) const;

    ScsiTransport& transport_;
    const char* name_;
    RunSettings settings_;
    ProgressListener* listener_ = nullptr;
    const ManualResetEvent* cancel_ = nullptr;
    std::vector<std::uint8_t> cueSheet_;
    std::int32_t leadInStart_ = 0;
    std::int32_t leadInLength_ = 0, leadOutLength_ = 0;
    std::int32_t endAddress_ = 0;
    std::vector<std::string> warnings_;
};

class MmcDriver final : public BaseDriver {
public:
    explicit MmcDriver(ScsiTransport& transport) : BaseDriver(transport, "MMC") {}
    bool PrepareDisc(std::string* error) override;
    bool StartDisc(std::string* error) override;
    bool WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error) override;
    bool FinishDisc(std::string* error) override;
};

class RawDriver final : public BaseDriver {
public:
    explicit RawDriver(ScsiTransport& transport) : BaseDriver(transport, "RAW") {}
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
bool OpenDrive(const std::string& device, DriverChoice choice, OpenedDrive* drive, std::string* error);

// "The disc holds %d MB; this Video CD needs %d MB." (2,048-byte blocks; the disc's
// figure rounded down, the image's rounded up).
std::string CapacityText(std::int64_t discBlocks, std::int64_t imageBlocks);

} // namespace lumivox
