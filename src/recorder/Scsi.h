// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one command interface all recorder code speaks (ScsiTransport), a drive's identity
// (DeviceRecord), sense data, and the packed command blocks the drivers and the emulated
// recorder share. Command fields are big-endian (SCSI / MMC); the BigEndian* fields keep
// the bytes as they travel so a struct is exactly the command block.

#include "base/ByteFields.h"
#include "base/Event.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

// ExecuteCommand results.
inline constexpr int kScsiSuccess = 0;
inline constexpr int kScsiFailure = 1; // the command could not be carried out at all
inline constexpr int kScsiCheckCondition = 2; // the drive refused it; GetSenseData says why
inline constexpr int kScsiCancelled = 3; // ExecuteRetrying: the cancel event ended a wait

// Sense keys (SPC-3 4.5.6).
inline constexpr std::uint8_t kSenseNoSense = 0x0;
inline constexpr std::uint8_t kSenseRecoveredError = 0x1;
inline constexpr std::uint8_t kSenseNotReady = 0x2;
inline constexpr std::uint8_t kSenseMediumError = 0x3;
inline constexpr std::uint8_t kSenseHardwareError = 0x4;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x5;
inline constexpr std::uint8_t kSenseUnitAttention = 0x6;
inline constexpr std::uint8_t kSenseAbortedCommand = 0xB; // not carried out: a bus or bridge hiccup

// MMC operation codes.
inline constexpr std::uint8_t kOpTestUnitReady = 0x00;
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kOpReadToc = 0x43;
inline constexpr std::uint8_t kOpGetConfiguration = 0x46;
inline constexpr std::uint8_t kOpCloseTrackSession = 0x5B;
inline constexpr std::uint8_t kOpStartStopUnit = 0x1B;
inline constexpr std::uint8_t kOpPreventAllowMediumRemoval = 0x1E;
inline constexpr std::uint8_t kOpWrite10 = 0x2A;
inline constexpr std::uint8_t kOpSynchronizeCache = 0x35;
inline constexpr std::uint8_t kOpReadDiscInformation = 0x51;
inline constexpr std::uint8_t kOpReadTrackInformation = 0x52;
inline constexpr std::uint8_t kOpSendOpcInformation = 0x54;
inline constexpr std::uint8_t kOpModeSelect10 = 0x55;
inline constexpr std::uint8_t kOpModeSense10 = 0x5A;
inline constexpr std::uint8_t kOpSendCueSheet = 0x5D;
inline constexpr std::uint8_t kOpBlank = 0xA1;
inline constexpr std::uint8_t kOpSetCdSpeed = 0xBB;
inline constexpr std::uint8_t kOpReadCd = 0xBE;

// Mode pages (MMC 7.x).
inline constexpr std::uint8_t kPageWriteParameters = 0x05;
inline constexpr std::uint8_t kPageCapabilities = 0x2A;

inline constexpr std::size_t kSenseBytes = 16; // what a transport keeps of the last sense

// Sense as the drive returned it: fixed format (response code 70h current, 71h deferred:
// key in byte 2, ASC/ASCQ in bytes 12/13) or descriptor format (72h current, 73h
// deferred: key, ASC, ASCQ in bytes 1-3).
struct SenseData {
    std::array<std::uint8_t, kSenseBytes> bytes{};
    std::uint8_t ResponseCode() const { return bytes[0] & 0x7F; }
    bool Descriptor() const { return ResponseCode() == 0x72 || ResponseCode() == 0x73; }
    // The error belongs to an earlier command (a buffered WRITE), not to the one answered.
    bool Deferred() const { return ResponseCode() == 0x71 || ResponseCode() == 0x73; }
    std::uint8_t Key() const { return (Descriptor() ? bytes[1] : bytes[2]) & 0x0F; }
    std::uint8_t Asc() const { return Descriptor() ? bytes[2] : bytes[12]; }
    std::uint8_t Ascq() const { return Descriptor() ? bytes[3] : bytes[13]; }
    // The command succeeded after the drive corrected something.
    bool Recovered() const { return Key() == kSenseRecoveredError && !Deferred(); }
    // Sense with the given key and additional sense: fixed format (SPC-3 4.5.3) unless
    // descriptor; current unless deferred.
    static SenseData Make(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, bool descriptor = false,
                          bool deferred = false);
};

// "sense 03/0C/09 (loss of streaming)": key/ASC/ASCQ and their standard meaning.
std::string SenseText(const SenseData& sense);
std::string SenseMeaning(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

// A drive found on the machine (or the emulated recorder).
struct DeviceRecord {
    std::string vendor; // INQUIRY bytes 8-15
    std::string product; // INQUIRY bytes 16-31; the drive database's key
    std::string revision; // INQUIRY bytes 32-35
    int host = 0, channel = 0, target = 0, lun = 0;
    bool writer = false; // CD-R write capability (mode page 2A byte 3 bit 0)
    std::string devicePath; // "/dev/sr0", or "emulated:DIR?..."
    bool readOnly = false; // opened only for reading
};

// The line of the recorder list: vendor, product and "(host:target:lun)".
std::string DeviceLine(const DeviceRecord& record);

// Sends single command blocks to one drive. Calls come from one thread at a time.
class ScsiTransport {
public:
    virtual ~ScsiTransport() = default;
    // Sends cdb; data flows out (dataOut, outLength) or in (dataIn, inLength), not both.
    // Returns kScsiSuccess, kScsiFailure (the system call failed; FailureText says why) or
    // kScsiCheckCondition (the sense is kept for GetSenseData).
    virtual int ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                               std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength) = 0;
    // The largest data transfer of one command the system passes to the drive; 0 unknown.
    virtual std::size_t MaxTransfer() const { return 0; }
    // How long the system lets a WRITE take before it gives up on the drive (and resets
    // it): set for a run from its write speed (WriteTimeoutFor).
    void SetWriteTimeout(std::chrono::milliseconds timeout) { writeTimeout_ = timeout; }
    std::chrono::milliseconds WriteTimeout() const { return writeTimeout_; }
    // Where a file system of the drive's disc is mounted; empty when none is (or the
    // transport cannot tell). A mounted disc is never ejected from under the system.
    virtual std::string MountedAt() const { return {}; }
    // Bytes of the last data-in transfer that did not arrive (the kernel's resid).
    std::size_t LastResidual() const { return resid_; }
    SenseData GetSenseData() const { return sense_; }
    // Why the last kScsiFailure happened ("device vanished ..."); empty otherwise.
    const std::string& FailureText() const { return failure_; }
    const DeviceRecord& Device() const { return device_; }

protected:
    SenseData sense_;
    std::string failure_;
    std::size_t resid_ = 0;
    DeviceRecord device_;
    std::chrono::milliseconds writeTimeout_{std::chrono::seconds(200)};
};

// The name of a command for messages ("WRITE(10)"), and how long the system waits for it:
// about 30 s for the short commands, writeTimeout for a WRITE, long for those that may
// have to write the rest of the disc (SYNCHRONIZE CACHE without the immediate bit, CLOSE,
// BLANK without the immediate bit).
std::string CommandName(std::uint8_t opcode);
std::chrono::milliseconds CommandTimeout(const std::uint8_t* cdb, std::size_t cdbLength,
                                         std::chrono::milliseconds writeTimeout = std::chrono::seconds(200));

// A WRITE may be held while the drive writes the whole lead-in (about 11,475 blocks once
// its buffer is full in session-at-once: 153 s at 1×) and then its buffer: the time-out
// allows half as much again at the run's speed, and never less than 200 s.
std::chrono::milliseconds WriteTimeoutFor(int speedIndex);

// How ExecuteRetrying treats the answers every drive gives in everyday use: UNIT
// ATTENTION after a disc change or a reset is answered by sending the command again (a
// few times); NOT READY "becoming ready", "format / operation / long write in progress"
// (04/01, 04/04, 04/07, 04/08) means the command was not carried out, so it is sent again
// after a pause until the drive takes it; RECOVERED ERROR is success, kept as a note.
//
// Once a drive holds a run's state (a cue sheet taken, a WRITE accepted) those answers
// mean something else: UNIT ATTENTION and "becoming ready" say that the drive was reset or
// its disc changed, and that state is lost. The driver then asks for neither to be retried
// (unitAttentionRetries 0, waitWhileBecomingReady false). ABORTED COMMAND says the command
// was not carried out (a bus or USB bridge hiccup): it is sent once more.
//
// A cancel already set when the command is due ends it unsent (kScsiCancelled).
struct RetryPolicy {
    const ManualResetEvent* cancel = nullptr; // wakes and ends a wait (kScsiCancelled)
    bool waitWhileNotReady = true; // false for TEST UNIT READY, which reports it
    bool waitWhileBecomingReady = true; // 04/01; false once the drive holds a run's state
    int unitAttentionRetries = 3;
    int abortedRetries = 1;
    std::chrono::milliseconds poll{100};
    std::chrono::milliseconds notReadyLimit{std::chrono::minutes(10)}; // busy writing or formatting
    std::chrono::milliseconds becomingReadyLimit{std::chrono::minutes(2)}; // spinning up (04/01)
    std::vector<std::string>* notes = nullptr; // "recovered error" notes go here
};
bool IsTransientNotReady(const SenseData& sense);
// UNIT ATTENTION, or NOT READY "becoming ready": what a drive says after a reset or a disc
// change, when whatever the host had set up in it is gone.
bool IsResetOrChange(const SenseData& sense);
int ExecuteRetrying(ScsiTransport& transport, const std::uint8_t* cdb, std::size_t cdbLength,
                    const std::uint8_t* dataOut, std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength,
                    const RetryPolicy& policy);

// Opening a drive for a burn or an erase makes the program its only user (and is refused
// while its disc is mounted); ejecting or closing the tray (Control) shares the drive but
// is refused while its disc is mounted too; listing drives and reading them opens shared.
enum class DriveAccess { Shared, Exclusive, Control };

// Opens the drive a device name names: "emulated:DIR?options" or a device node such as
// /dev/sr0 or /dev/sg1. Null with *error (one line naming the device and the reason).
std::unique_ptr<ScsiTransport> OpenTransport(const std::string& device, std::string* error,
                                             DriveAccess access = DriveAccess::Shared);

// Every CD/DVD drive of the machine (sysfs /sys/class/block/sr*), then the emulated
// recorder named by LUMIVOX_EMULATED_RECORDER; at most 16. Each record carries the INQUIRY
// identity and the writer flag; a drive that could not be opened is left out and its
// reason added to *problems when given.
std::vector<DeviceRecord> EnumerateDrives(std::vector<std::string>* problems = nullptr);
inline constexpr std::size_t kMaxDrives = 16;

// The drives of the machine and the selected writer, for a program that lets the user
// choose one (the desktop program's burn page).
class DriveManager {
public:
    // Finds the drives (EnumerateDrives), keeps the writers, and selects writerIndex (0
    // when it is beyond the last). False when there is no writer to use.
    bool OpenDevices(int writerIndex);
    // Makes that writer current, opening it; on failure the old selection stays and
    // *error says why.
    bool SelectDevice(int writerIndex, std::string* error = nullptr);
    const std::vector<DeviceRecord>& Drives() const { return drives_; }
    const std::vector<DeviceRecord>& Writers() const { return writers_; }
    int SelectedWriter() const { return selected_; }
    // The selected writer's transport; null when none is open.
    ScsiTransport* Transport() const { return transport_.get(); }

private:
    std::vector<DeviceRecord> drives_, writers_;
    int selected_ = -1;
    std::unique_ptr<ScsiTransport> transport_;
};

// INQUIRY's peripheral device type of a CD/DVD drive (SPC-3 table 83).
inline constexpr std::uint8_t kPeripheralCdDvd = 0x05;

// Reads INQUIRY and mode page 2A through an open transport into *record. A device that is
// not a CD/DVD drive (INQUIRY's peripheral device type other than 05h: a disk, a tape) is
// refused before any other command is sent to it: false with *why naming its type ("is
// not a CD/DVD drive (peripheral device type 00h, a disk)"); so is one that does not
// answer INQUIRY.
bool IdentifyDrive(ScsiTransport& transport, DeviceRecord* record, std::string* why = nullptr);

// ---- Packed command blocks and big-endian fields ----------------------------------------

#pragma pack(push, 1)
// The big-endian fields of command blocks and drive answers are those of
// base/ByteFields.h (BigEndian16, BigEndian24, BigEndian32; byte arrays, alignment 1).

// SPC-3 6.33 TEST UNIT READY.
struct TestUnitReadyCdb {
    std::uint8_t opcode = kOpTestUnitReady;
    std::uint8_t reserved[4]{};
    std::uint8_t control = 0;
};
// SPC-3 6.4 INQUIRY.
struct InquiryCdb {
    std::uint8_t opcode = kOpInquiry;
    std::uint8_t evpd = 0;
    std::uint8_t page = 0;
    BigEndian16 allocation;
    std::uint8_t control = 0;
};
// MMC START STOP UNIT: byte 4 = 0x02 eject, 0x03 load.
struct StartStopUnitCdb {
    std::uint8_t opcode = kOpStartStopUnit;
    std::uint8_t immediate = 0;
    std::uint8_t reserved[2]{};
    std::uint8_t loadEject = 0;
    std::uint8_t control = 0;
};
inline constexpr std::uint8_t kStartStopEject = 0x02;
inline constexpr std::uint8_t kStartStopLoad = 0x03;
// MMC WRITE(10).
struct Write10Cdb {
    std::uint8_t opcode = kOpWrite10;
    std::uint8_t flags = 0;
    BigEndian32 address;
    std::uint8_t group = 0;
    BigEndian16 blocks;
    std::uint8_t control = 0;
};
// SBC SYNCHRONIZE CACHE(10).
struct SynchronizeCacheCdb {
    std::uint8_t opcode = kOpSynchronizeCache;
    std::uint8_t flags = 0;
    BigEndian32 address;
    std::uint8_t group = 0;
    BigEndian16 blocks;
    std::uint8_t control = 0;
};
// MMC READ DISC INFORMATION.
struct ReadDiscInformationCdb {
    std::uint8_t opcode = kOpReadDiscInformation;
    std::uint8_t type = 0;
    std::uint8_t reserved[5]{};
    BigEndian16 allocation;
    std::uint8_t control = 0;
};
// MMC READ TRACK INFORMATION: byte 1 = address type (1: track number).
struct ReadTrackInformationCdb {
    std::uint8_t opcode = kOpReadTrackInformation;
    std::uint8_t addressType = 1;
    BigEndian32 number;
    std::uint8_t reserved = 0;
    BigEndian16 allocation;
    std::uint8_t control = 0;
};
// MMC SEND OPC INFORMATION: byte 1 bit 0 = DoOPC.
struct SendOpcCdb {
    std::uint8_t opcode = kOpSendOpcInformation;
    std::uint8_t doOpc = 1;
    std::uint8_t reserved[5]{};
    BigEndian16 parameterLength;
    std::uint8_t control = 0;
};
// SPC-3 MODE SENSE(10).
struct ModeSense10Cdb {
    std::uint8_t opcode = kOpModeSense10;
    std::uint8_t flags = 0;
    std::uint8_t page = 0;
    std::uint8_t subpage = 0;
    std::uint8_t reserved[3]{};
    BigEndian16 allocation;
    std::uint8_t control = 0;
};
// SPC-3 MODE SELECT(10): byte 1 bit 4 = page format.
struct ModeSelect10Cdb {
    std::uint8_t opcode = kOpModeSelect10;
    std::uint8_t flags = 0x10;
    std::uint8_t reserved[5]{};
    BigEndian16 parameterLength;
    std::uint8_t control = 0;
};
// The 8-byte header of MODE SENSE(10) / MODE SELECT(10) data.
struct ModeHeader10 {
    BigEndian16 dataLength;
    std::uint8_t mediumType = 0;
    std::uint8_t deviceSpecific = 0;
    std::uint8_t reserved[2]{};
    BigEndian16 blockDescriptorLength;
};
// MMC SEND CUE SHEET: cue sheet length in bytes 6-8.
struct SendCueSheetCdb {
    std::uint8_t opcode = kOpSendCueSheet;
    std::uint8_t reserved[5]{};
    BigEndian24 length;
    std::uint8_t control = 0;
};
// MMC BLANK: byte 1 = immediate bit (0x10) + blanking type (0 whole disc, 1 minimal).
struct BlankCdb {
    std::uint8_t opcode = kOpBlank;
    std::uint8_t typeAndImmediate = 0;
    BigEndian32 address;
    std::uint8_t reserved[5]{};
    std::uint8_t control = 0;
};
// MMC SET CD SPEED: read and write speed in kB/s, 0xFFFF = maximum.
struct SetCdSpeedCdb {
    std::uint8_t opcode = kOpSetCdSpeed;
    std::uint8_t rotation = 0;
    BigEndian16 readSpeed;
    BigEndian16 writeSpeed;
    std::uint8_t reserved[5]{};
    std::uint8_t control = 0;
};
// MMC READ CD: expected sector type in byte 1, start address, block count (bytes 6-8),
// byte 9 = what of each sector to return (0xF8: sync, headers, user data, EDC/ECC).
struct ReadCdCdb {
    std::uint8_t opcode = kOpReadCd;
    std::uint8_t sectorType = 0;
    BigEndian32 address;
    BigEndian24 blocks;
    std::uint8_t fields = 0xF8;
    std::uint8_t subchannel = 0;
    std::uint8_t control = 0;
};
inline constexpr std::uint8_t kReadCdWholeSector = 0xF8;
#pragma pack(pop)

static_assert(sizeof(TestUnitReadyCdb) == 6);
static_assert(sizeof(InquiryCdb) == 6);
static_assert(sizeof(StartStopUnitCdb) == 6);
static_assert(sizeof(Write10Cdb) == 10);
static_assert(sizeof(SynchronizeCacheCdb) == 10);
static_assert(sizeof(ReadDiscInformationCdb) == 10);
static_assert(sizeof(ReadTrackInformationCdb) == 10);
static_assert(sizeof(SendOpcCdb) == 10);
static_assert(sizeof(ModeSense10Cdb) == 10);
static_assert(sizeof(ModeSelect10Cdb) == 10);
static_assert(sizeof(ModeHeader10) == 8);
static_assert(sizeof(SendCueSheetCdb) == 10);
static_assert(sizeof(BlankCdb) == 12);
static_assert(sizeof(SetCdSpeedCdb) == 12);
static_assert(sizeof(ReadCdCdb) == 12);

// Sends a packed command block.
template <typename Cdb>
int Execute(ScsiTransport& transport, const Cdb& cdb, const void* dataOut = nullptr, std::size_t outLength = 0,
            void* dataIn = nullptr, std::size_t inLength = 0)
{
    return transport.ExecuteCommand(reinterpret_cast<const std::uint8_t*>(&cdb), sizeof cdb,
                                    static_cast<const std::uint8_t*>(dataOut), outLength,
                                    static_cast<std::uint8_t*>(dataIn), inLength);
}

// Layout of the READ DISC INFORMATION answer this program reads (MMC 6.22.3, 34 bytes).
inline constexpr std::size_t kDiscInfoLength = 34;
inline constexpr std::size_t kDiscInfoStatus = 2; // bits 1-0: 0 empty, 1 incomplete, 2 complete; bit 4 erasable
inline constexpr std::size_t kDiscInfoLeadInStart = 17; // MSF in 17-19
inline constexpr std::size_t kDiscInfoLastLeadOutStart = 21; // MSF in 21-23
// Layout of the READ TRACK INFORMATION answer (MMC 6.27.3, first 16 bytes).
inline constexpr std::size_t kTrackInfoLength = 16;
// Page 05 as read and written (MMC 7.5, 56 bytes with its 2-byte header).
inline constexpr std::size_t kWriteParametersLength = 56;
// Page 2A bytes read for the writer flag.
inline constexpr std::size_t kCapabilitiesLength = 32;

} // namespace lumivox
