// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An MMC CD-R/RW writer in software, so that burning can be tried and tested without a
// drive. It answers every command the drivers and disc utilities send, keeps its disc in
// a folder between runs, checks what a real drive checks (CHECK CONDITION with sense),
// and models a 2 MB drive buffer drained in real time at the chosen speed.
//
// Device name: "emulated:DIR?disc=cdr|cdrw|none|written|appendable&lead-in=97:27:00
//   &capacity=79:59:74&vendor=TEXT&product=TEXT&speed=X&not-ready=N&fail-write=K&fail-opc=1
//   &busy=N&erase-seconds=S&raw-types=132&corrupt=K&ideal=1&ua=0|1&settle-ms=N&cue-busy=N
//   &sync-busy=N&sense=fixed|descriptor&deferred=1&recovered=K&max-transfer=BYTES
//   &profile=cdr|cdrw|dvdr|cdrom|none&atip=MM:SS:FF&command-ms=N&di-capacity=none
//   &caps=no-cdr-write,no-burn-proof&type=cd|disk&inject=RULE|RULE..."
// (all options optional; lead-in=none reports no lead-in start in READ DISC INFORMATION,
// di-capacity=none no last possible lead-out there, while the ATIP keeps the capacity).
// profile=cdrom puts a pressed CD-ROM in the drive; type=disk makes it answer as a disk.
// An inject RULE is OP@N:ACTION or OP@N+:ACTION: the N-th command of operation code OP
// (two hex digits; counted from 1 for this object, the INQUIRY and MODE SENSE of its
// opening included), or with "+" that one and every later one, gets ACTION instead of
// its usual answer: KK/AA/QQ (CHECK CONDITION with that hex sense, not carried out),
// reset (a power-on reset: answered 06/29/00, the drive forgets its settings and open
// session), short=BYTES (carried out, only BYTES of data-in arrive), hold=MS (answered MS
// milliseconds late). Rules are looked at in order: holds add up, the first short counts,
// and the first sense or reset answers.
// By default it answers like a typical drive: UNIT ATTENTION on the first command after
// it is opened or a disc is loaded, NOT READY 04/01 "becoming ready" for settle-ms (1.5 s,
// times LUMIVOX_EMULATED_TIME_SCALE when that is set) after opening, loading and closing a
// session. ideal=1 turns both off. Opened for a burn or an erase it is exclusive: a
// second user is refused while the first holds DIR/drive.lock. The disc model is kept in DIR/drive.ini; when that file exists it
// wins over disc=, so a burned disc stays "written" for the next run and an erased one blank.
//
// After a burn DIR holds disc.bin + disc.cue (the disc as a reader reads it back, from
// address 0 to the last block before the lead-out), cuesheet.bin, writes.log,
// subchannel.bin (raw writing) and commands.log. A test write changes no disc file.

#include "base/FileDescriptor.h"
#include "recorder/Scsi.h"
#include "recorder/SubChannel.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

inline constexpr const char* kEmulatedPrefix = "emulated:";

// One inject rule of the device name.
struct InjectedAnswer {
    enum class Kind { Sense, Reset, Short, Hold };
    std::uint8_t opcode = 0;
    std::int64_t nth = 1; // the N-th command of this opcode, from 1
    bool onward = false; // and every later one
    Kind kind = Kind::Sense;
    std::uint8_t key = 0, asc = 0, ascq = 0; // Sense
    std::size_t bytes = 0; // Short: data-in bytes that arrive
    double ms = 0; // Hold
};

struct EmulatedOptions {
    std::string folder;
    std::string disc = "cdr"; // cdr, cdrw, none, written, appendable
    std::int32_t leadInStart = 97 * 4500 + 27 * 75; // MSF as a block count
    std::int32_t lastLeadOutStart = 79 * 4500 + 59 * 75 + 74;
    std::string vendor = "LUMIVOX ";
    std::string product = "EMULATED CD-RW  ";
    double speed = 0; // × 75 blocks/s; 0: no pacing
    int notReady = 0; // first N data-area WRITEs answer 02/04/08
    std::int64_t failWrite = -1; // the WRITE covering this block answers 03/0C/00
    bool failOpc = false;
    int busy = 0; // first N TEST UNIT READY answer 02/04/07
    double eraseSeconds = 0;
    std::string rawTypes = "132"; // raw data block types accepted, in no particular order
    std::int64_t corrupt = -1; // the disc keeps this block with one byte changed (a bad spot)
    bool unitAttention = true; // ua: UNIT ATTENTION after open / load
    double settleMs = -1; // NOT READY 04/01 after open, load, session close; <0: default
    int cueBusy = 0; // SEND CUE SHEET answers 02/04/08 this often first
    int syncBusy = 0; // SYNCHRONIZE CACHE answers 02/04/08 this often first
    bool descriptorSense = false;
    bool deferredError = false; // 71h 03/0C/00 on the first command after the last WRITE
    std::int64_t recovered = -1; // this WRITE (1 = first) completes with 01/17/01
    std::size_t maxTransfer = 0; // larger transfers fail as the kernel fails them; 0 no limit
    std::string profile; // cdr, cdrw, dvdr, cdrom (a pressed disc), none; empty: as the disc
    bool leadInKnown = true; // false: lead-in=none
    std::int32_t atipLeadIn = -1; // READ TOC format 4 lead-in start; <0: as lead-in
    double commandMs = 0; // every command takes this long
    bool discInfoCapacity = true; // false: di-capacity=none
    bool cdWriter = true; // false: caps=no-cdr-write, a reader
    bool burnProof = true; // false: caps=no-burn-proof
    bool disk = false; // type=disk: INQUIRY says a disk, and it answers as one
    std::vector<InjectedAnswer> inject;
};

// Parses "emulated:DIR?..."; false with *error for an unknown option or a bad value.
bool ParseEmulatedName(const std::string& name, EmulatedOptions* options, std::string* error);

class EmulatedRecorder final : public ScsiTransport {
public:
    static std::unique_ptr<EmulatedRecorder> Open(const std::string& name, std::string* error,
                                                  DriveAccess access = DriveAccess::Shared);
    ~EmulatedRecorder() override;

    int ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                       std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength) override;
    std::size_t MaxTransfer() const override { return options_.maxTransfer; }

    // How often Burn-Proof let the drive pause and resume because its buffer ran dry.
    int BufferRecoveries() const { return recoveries_; }
    // The lowest buffer fill seen while streaming, in blocks (capacity when never streamed).
    double LowestBufferLevel() const { return lowestLevel_; }

private:
    explicit EmulatedRecorder(EmulatedOptions options);
    enum class Media { None, Cdr, Cdrw, Pressed };

    int Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
    int Dispatch(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut, std::size_t outLength,
                 std::uint8_t* dataIn, std::size_t inLength);
    int DiskDispatch(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength);
    int MediumCheck();
    void PowerOnReset(); // an injected reset
    void DefaultWriteParameters();
    void LoadState();
    void SaveState() const;
    void Log(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* out, std::size_t outLength,
             int result);
    void Settle(); // NOT READY 04/01 from now for the settle time
    int ReadToc(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength);
    int GetConfiguration(std::uint8_t* in, std::size_t inLength);
    bool CheckRawQ(std::int32_t address, const std::uint8_t* sub);
    std::string PathOf(const char* name) const;

    int Inquiry(std::uint8_t* in, std::size_t inLength);
    int ModeSense(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength);
    int ModeSelect(const std::uint8_t* out, std::size_t outLength);
    int ReadDiscInformation(std::uint8_t* in, std::size_t inLength);
    int ReadTrackInformation(std::uint8_t* in, std::size_t inLength);
    int SendCueSheet(const std::uint8_t* out, std::size_t outLength);
    int Write(const std::uint8_t* cdb, const std::uint8_t* out, std::size_t outLength);
    int SynchronizeCache();
    int Blank(const std::uint8_t* cdb);
    int ReadCd(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength);
    bool Pace(std::uint32_t blocks, bool* underrun);
    void BeginSession();
    void EndSession(bool complete);
    void NoteRawBlock(std::int32_t address, const std::uint8_t* sub);

    EmulatedOptions options_;
    Media media_ = Media::Cdr;
    bool complete_ = false; // the disc is not blank
    bool appendable_ = false; // ... and not closed: status "incomplete"
    bool trayOpen_ = false;
    bool prevented_ = false; // PREVENT MEDIUM REMOVAL in force
    std::FILE* commandLog_ = nullptr;

    std::uint8_t writeParameters_[kWriteParametersLength]{};
    std::vector<std::uint8_t> cueSheet_;
    bool sessionOpen_ = false; // writing has begun (cue sheet sent, or first raw block)
    bool sessionBroken_ = false; // a loss of streaming ruined this session
    bool wroteBlocks_ = false; // a block of this session reached the disc (lead-in and pregap count)
    std::int64_t nextAddress_ = 0;
    std::int64_t sessionEnd_ = 0; // first address past what may be written
    std::int64_t discBlocks_ = 0; // blocks of disc.bin
    FileDescriptor discFile_, subchannelFile_;
    std::FILE* writesLog_ = nullptr;
    std::unique_ptr<SubchannelFormat> rawFormat_;
    std::vector<CueRecord> rawCues_; // track changes seen in the raw Q channel
    int rawTrack_ = -1, rawIndex_ = -1;

    int notReadyLeft_ = 0, busyLeft_ = 0, cueBusyLeft_ = 0, syncBusyLeft_ = 0;
    std::int64_t writeCount_ = 0;
    bool attention_ = false; // UNIT ATTENTION pending
    std::uint8_t attentionAsc_ = 0x29; // 29: power on / reset, 28: medium changed
    std::chrono::steady_clock::time_point settleUntil_{};
    bool lastWasWrite_ = false; // for the deferred error
    bool deferredSent_ = false;
    std::int64_t leadOutBlocks_ = 0; // raw lead-out blocks received
    std::int32_t lastRawAbsolute_ = -1;
    FileDescriptor lock_;
    std::chrono::steady_clock::time_point eraseUntil_{};
    std::chrono::system_clock::time_point eraseEnd_{}; // the same, kept in drive.ini for later users
    std::array<std::int64_t, 256> received_{}; // commands received, by opcode

    // Drive buffer model.
    bool streaming_ = false;
    double level_ = 0; // blocks in the buffer
    double lowestLevel_ = 0;
    std::chrono::steady_clock::time_point last_{};
    int recoveries_ = 0;
};

} // namespace lumivox
