// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/RecorderDriver.h"

#include "recorder/DiscUtilities.h"

#include "vcd/Sector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumivox {
namespace {

constexpr std::size_t kSessionBlock = 2336; // Mode 2 sector without sync and header
constexpr std::uint32_t kPieceBlocks = 27; // blocks per WRITE(10)
constexpr std::int32_t kPregapBlocks = 150;
constexpr std::int32_t kFirstLeadOut = 6750; // a first session's lead-out: 01:30:00
constexpr std::chrono::milliseconds kReadyPoll{200};

const char* const kWriteError = "Error while writing cd";

} // namespace

std::string ProfileName(int profile)
{
    switch (profile) {
    case 0x00:
        return "";
    case 0x08:
        return "CD-ROM";
    case 0x09:
        return "CD-R";
    case 0x0A:
        return "CD-RW";
    case 0x10:
        return "DVD-ROM";
    case 0x11:
        return "DVD-R";
    case 0x12:
        return "DVD-RAM";
    case 0x13:
    case 0x14:
        return "DVD-RW";
    case 0x15:
    case 0x16:
        return "DVD-R DL";
    case 0x1A:
        return "DVD+RW";
    case 0x1B:
        return "DVD+R";
    case 0x2B:
        return "DVD+R DL";
    case 0x40:
        return "BD-ROM";
    case 0x41:
    case 0x42:
        return "BD-R";
    case 0x43:
        return "BD-RE";
    default:
        break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "disc of profile %04Xh", static_cast<unsigned>(profile));
    return text;
}

std::string CapacityText(std::int64_t discBlocks, std::int64_t imageBlocks)
{
    const std::int64_t mb = 1024 * 1024 / 2048; // blocks per megabyte of 2,048-byte data
    char text[128];
    std::snprintf(text, sizeof text, "The disc holds %d MB; this Video CD needs %d MB.",
                  static_cast<int>(discBlocks / mb), static_cast<int>((imageBlocks + mb - 1) / mb));
    return text;
}

std::unique_ptr<BaseDriver> MakeDriver(DriverKind kind, ScsiTransport& transport)
{
    if (kind == DriverKind::Raw)
        return std::make_unique<RawDriver>(transport);
    return std::make_unique<MmcDriver>(transport);
}

bool OpenDrive(const std::string& device, DriverChoice choice, OpenedDrive* drive, std::string* error,
               DriveAccess access)
{
    drive->driver.reset();
    drive->transport = OpenTransport(device, error, access);
    if (!drive->transport)
        return false;
    drive->driver = MakeDriver(ChooseDriverKind(choice, drive->transport->Device().product), *drive->transport);
    return true;
}

// ---- BaseDriver -------------------------------------------------------------------------

bool BaseDriver::PrepareDisc(std::string* error)
{
    *error = "The recorder has no driver.";
    return false;
}
bool BaseDriver::StartDisc(std::string*)
{
    return true;
}
bool BaseDriver::WriteBlocks(std::int32_t, const std::uint8_t*, std::uint32_t, std::string* error)
{
    *error = kWriteError;
    return false;
}
bool BaseDriver::FinishDisc(std::string* error)
{
    *error = kWriteError;
    return false;
}

void BaseDriver::SetRun(const RunSettings& settings, ProgressListener* listener, const ManualResetEvent* cancel,
                        const ManualResetEvent* leaveNow)
{
    settings_ = settings;
    settings_.speedIndex = SpeedIndexFromSetting(settings.speedIndex);
    listener_ = listener;
    cancel_ = cancel;
    leaveNow_ = leaveNow;
    warnings_.clear();
    notes_.clear();
    writingBegun_ = false;
    holdsRunState_ = false;
    foundBlank_ = false;
    finishing_ = false;
    sessionClosed_ = false;
    transport_.SetWriteTimeout(WriteTimeoutFor(settings_.speedIndex));
}

int BaseDriver::SendBytes(const std::uint8_t* cdb, std::size_t length, const void* out, std::size_t outLength, void* in,
                          std::size_t inLength)
{
    RetryPolicy policy;
    policy.cancel = StopEvent();
    policy.notes = &notes_;
    if (holdsRunState_) {
        // A reset would have lost the cue sheet and the write state: sending again to a
        // drive that forgot them could only write the wrong thing or be refused later.
        policy.unitAttentionRetries = 0;
        policy.waitWhileBecomingReady = false;
    }
    lastResult_ = ExecuteRetrying(transport_, cdb, length, static_cast<const std::uint8_t*>(out), outLength,
                                  static_cast<std::uint8_t*>(in), inLength, policy);
    return lastResult_;
}

BaseDriver::IdleOutcome BaseDriver::LeaveIdle(std::chrono::milliseconds limit)
{
    SynchronizeCacheCdb flush;
    flush.flags = 0x02; // IMMED: answer at once, so that a second cancel is not held up by it
    if (Execute(transport_, flush) == kScsiFailure)
        return IdleOutcome::Failed;
    ManualResetEvent never;
    const ManualResetEvent& leave = leaveNow_ ? *leaveNow_ : never;
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (leave.IsSet())
            return IdleOutcome::Abandoned;
        const int result = Execute(transport_, TestUnitReadyCdb{});
        if (result == kScsiSuccess)
            return IdleOutcome::Ready;
        if (result == kScsiFailure)
            return IdleOutcome::Failed;
        const SenseData sense = transport_.GetSenseData();
        if (sense.Key() != kSenseNotReady && sense.Key() != kSenseUnitAttention)
            return IdleOutcome::Failed;
        if (sense.Key() == kSenseNotReady && !IsTransientNotReady(sense))
            return IdleOutcome::Failed;
        if (std::chrono::steady_clock::now() >= giveUp)
            return IdleOutcome::StillBusy;
        if (leave.WaitFor(kReadyPoll))
            return IdleOutcome::Abandoned;
    }
}

void BaseDriver::LockTray(bool locked)
{
    const std::uint8_t cdb[6] = {kOpPreventAllowMediumRemoval, 0, 0, 0, static_cast<std::uint8_t>(locked ? 1 : 0), 0};
    transport_.ExecuteCommand(cdb, sizeof cdb, nullptr, 0, nullptr, 0);
}

void BaseDriver::SetCueSheet(const std::uint8_t* sheet, std::size_t length)
{
    cueSheet_.assign(sheet, sheet + std::min(length, kCueSheetMaxBytes));
}

void BaseDriver::Post(ProgressMessage message, std::int64_t done, std::int64_t total)
{
    if (listener_)
        listener_->OnProgress(MakeProgressEvent(message, done, total));
}

bool BaseDriver::WaitOrCancel(std::chrono::milliseconds delay) const
{
    if (!StopEvent()) {
        ManualResetEvent never;
        return never.WaitFor(delay);
    }
    return StopEvent()->WaitFor(delay);
}

std::string BaseDriver::Problem(const char* what, int result) const
{
    if (result == kScsiCheckCondition && holdsRunState_) {
        const SenseData sense = transport_.GetSenseData();
        if (IsResetOrChange(sense)) {
            char code[16];
            std::snprintf(code, sizeof code, "%02X/%02X/%02X", sense.Key(), sense.Asc(), sense.Ascq());
            if (sense.Key() == kSenseUnitAttention && sense.Asc() == 0x28)
                return std::string("The disc may have been changed while writing (") + code + ").";
            if (sense.Key() == kSenseUnitAttention && sense.Asc() != 0x29)
                return std::string("The drive's settings changed while writing (") + code + ").";
            return std::string("The drive was reset while writing (") + code + ").";
        }
    }
    return std::string(what) + ": " + LastProblem(result);
}

std::string BaseDriver::LastProblem(int result) const
{
    if (result == kScsiCancelled)
        return "Cancelled";
    if (result == kScsiCheckCondition) {
        const SenseData sense = transport_.GetSenseData();
        if (sense.Deferred())
            return "the drive could not write data it had taken (" + SenseText(sense) + ")";
        return SenseText(sense);
    }
    if (!transport_.FailureText().empty())
        return transport_.FailureText();
    return "the drive did not carry out the command";
}

bool BaseDriver::IsLongOperation(int result) const
{
    if (result != kScsiCheckCondition)
        return false;
    const SenseData sense = transport_.GetSenseData();
    return sense.Key() == kSenseNotReady && sense.Asc() == 0x04 && (sense.Ascq() == 0x07 || sense.Ascq() == 0x08);
}

int BaseDriver::TestUnitReady()
{
    RetryPolicy policy;
    policy.waitWhileNotReady = false; // the answer is the state asked for
    policy.notes = &notes_;
    const TestUnitReadyCdb command;
    if (holdsRunState_)
        policy.unitAttentionRetries = 0; // a reset while the drive holds the run is its end
    const int result = ExecuteRetrying(transport_, reinterpret_cast<const std::uint8_t*>(&command), sizeof command,
                                       nullptr, 0, nullptr, 0, policy);
    lastResult_ = result;
    if (result == kScsiSuccess)
        return kUnitReady;
    if (result == kScsiCheckCondition) {
        const SenseData sense = transport_.GetSenseData();
        if (sense.Key() == kSenseNotReady && !sense.Deferred() && !(holdsRunState_ && IsResetOrChange(sense)))
            return kUnitNotReady;
    }
    return kUnitFailed;
}

bool BaseDriver::StartStopUnit(bool eject)
{
    // START STOP UNIT with LoEj under a mounted file system pulls the disc from the system.
    if (eject && !transport_.MountedAt().empty())
        return false;
    StartStopUnitCdb cdb;
    cdb.loadEject = eject ? kStartStopEject : kStartStopLoad;
    return Send(cdb) == kScsiSuccess;
}

int BaseDriver::SynchronizeCache()
{
    return Send(SynchronizeCacheCdb{});
}

bool BaseDriver::ReadDiscInfo(DiscInfo* info)
{
    std::uint8_t data[kDiscInfoLength]{};
    ReadDiscInformationCdb cdb;
    cdb.allocation.Set(sizeof data);
    if (Send(cdb, nullptr, 0, data, sizeof data) != kScsiSuccess)
        return false;
    // Only what the drive sent counts: its own length, and what the transfer delivered.
    const std::size_t got = std::min<std::size_t>(
        {sizeof data - std::min(transport_.LastResidual(), sizeof data), std::size_t(data[0] << 8 | data[1]) + 2});
    if (got <= kDiscInfoStatus)
        return false;
    info->blank = (data[kDiscInfoStatus] & 3) == 0;
    info->erasable = (data[kDiscInfoStatus] & 0x10) != 0;
    const std::uint8_t* leadIn = data + kDiscInfoLeadInStart;
    const bool leadInGiven =
        got >= kDiscInfoLeadInStart + 3 && !(leadIn[0] == 0xFF && leadIn[1] == 0xFF && leadIn[2] == 0xFF);
    info->leadInStart = leadInGiven ? leadIn[0] * 4500 + leadIn[1] * 75 + leadIn[2] : -1;
    if (got < kDiscInfoLastLeadOutStart + 3) {
        info->capacity = -1;
        return true;
    }
    const std::uint8_t* last = data + kDiscInfoLastLeadOutStart;
    // FF FF FF says "not known"; so does a lead-out before the first block, which some
    // drives report for a disc whose size they have not read.
    const int lastLeadOut = last[0] * 4500 + last[1] * 75 + last[2];
    if ((last[0] == 0xFF && last[1] == 0xFF && last[2] == 0xFF) || lastLeadOut <= 150)
        info->capacity = -1;
    else
        info->capacity = lastLeadOut - 150;
    return true;
}

std::int32_t BaseDriver::ReadAtipTime(std::size_t offset)
{
    std::uint8_t cdb[10]{kOpReadToc, 0x02 /* MSF */, 0x04 /* ATIP */};
    std::uint8_t data[28]{};
    cdb[8] = sizeof data;
    if (SendBytes(cdb, sizeof cdb, nullptr, 0, data, sizeof data) != kScsiSuccess)
        return -1;
    // Only what the drive sent counts: its own length, and what the transfer delivered.
    const std::size_t got = sizeof data - std::min(transport_.LastResidual(), sizeof data);
    if (got < offset + 3 || (std::size_t(data[0] << 8 | data[1]) + 2) < offset + 3)
        return -1;
    const std::uint8_t* msf = data + offset;
    if (msf[0] > 99 || msf[1] > 59 || msf[2] > 74)
        return -1;
    return msf[0] * 4500 + msf[1] * 75 + msf[2];
}

std::int32_t BaseDriver::ReadAtipLeadIn()
{
    return ReadAtipTime(8); // bytes 8-10: the start of the lead-in (MMC READ TOC/PMA/ATIP format 4)
}

std::int32_t BaseDriver::ReadAtipCapacity()
{
    // Bytes 12-14: the last possible start of the lead-out.
    const std::int32_t lastLeadOut = ReadAtipTime(12);
    // The 90:00:00 rule makes a time from 90 minutes on an address before the disc: none.
    if (lastLeadOut <= 150 || lastLeadOut >= kLeadInEarliest)
        return -1;
    return lastLeadOut - 150;
}

void BaseDriver::CompleteCapacity(DiscInfo* info)
{
    if (info->capacity < 0)
        info->capacity = ReadAtipCapacity();
}

int BaseDriver::CurrentProfile()
{
    std::uint8_t cdb[10]{kOpGetConfiguration, 0x02 /* one feature */};
    std::uint8_t data[8]{};
    cdb[8] = sizeof data;
    if (SendBytes(cdb, sizeof cdb, nullptr, 0, data, sizeof data) != kScsiSuccess)
        return -1;
    if (transport_.LastResidual() > 0 || (data[0] | data[1] | data[2] | data[3]) == 0)
        return -1;
    return data[6] << 8 | data[7];
}

bool BaseDriver::SupportsBurnProof()
{
    std::uint8_t page[kCapabilitiesLength]{};
    if (!ModeSense10(kPageCapabilities, page, sizeof page, nullptr))
        return false;
    return (page[4] & 0x80) != 0;
}

std::int32_t BaseDriver::RawLeadInStart()
{
    DiscInfo info;
    if (ReadDiscInfo(&info) && UsableLeadIn(info.leadInStart))
        return info.leadInStart;
    const std::int32_t atip = ReadAtipLeadIn();
    return UsableLeadIn(atip) ? atip : -1;
}

std::uint32_t BaseDriver::ReadTrackInfo()
{
    std::uint8_t data[kTrackInfoLength]{};
    ReadTrackInformationCdb cdb;
    cdb.number.Set(0xFF);
    cdb.allocation.Set(sizeof data);
    if (Send(cdb, nullptr, 0, data, sizeof data) != kScsiSuccess)
        return 0;
    const bool usable = (data[6] & 0x40) && (data[7] & 0x01) && !(data[6] & 0xB0);
    if (!usable)
        return 0;
    BigEndian32 nwa;
    std::memcpy(&nwa, data + 12, 4);
    return nwa.Get();
}

bool BaseDriver::ModeSense10(std::uint8_t pageCode, std::uint8_t* page, std::size_t wanted, std::uint8_t* header23)
{
    std::vector<std::uint8_t> data(wanted + 108);
    ModeSense10Cdb cdb;
    cdb.page = pageCode & 0x3F;
    cdb.allocation.Set(static_cast<std::uint32_t>(data.size()));
    if (Send(cdb, nullptr, 0, data.data(), data.size()) != kScsiSuccess)
        return false;
    ModeHeader10 header;
    std::memcpy(&header, data.data(), sizeof header);
    const std::size_t available = std::min<std::size_t>(header.dataLength.Get() + 2, data.size());
    const std::size_t offset = 8 + header.blockDescriptorLength.Get();
    if (offset + 2 > available)
        return false;
    const std::size_t length = std::min<std::size_t>(std::size_t(data[offset + 1]) + 2, wanted);
    if (offset + length > available)
        return false;
    std::memset(page, 0, wanted);
    std::memcpy(page, data.data() + offset, length);
    if (header23) {
        header23[0] = data[2];
        header23[1] = data[3];
    }
    return true;
}

bool BaseDriver::ModeSelect10(const std::uint8_t* page, std::size_t length, const std::uint8_t*)
{
    // The header's mode data length, medium type and device-specific byte are reserved
    // in MODE SELECT: sent as zero, whatever MODE SENSE returned in them.
    std::vector<std::uint8_t> data(8 + length, 0);
    std::memcpy(data.data() + 8, page, length);
    ModeSelect10Cdb cdb;
    cdb.parameterLength.Set(static_cast<std::uint32_t>(data.size()));
    return Send(cdb, data.data(), data.size()) == kScsiSuccess;
}

int BaseDriver::SetCdSpeed(int speedIndex)
{
    SetCdSpeedCdb cdb;
    cdb.readSpeed.Set(0xFFFF);
    cdb.writeSpeed.Set(WriteSpeedOfIndex(speedIndex));
    return Send(cdb);
}

int BaseDriver::SendOpc()
{
    return Send(SendOpcCdb{});
}

int BaseDriver::Blank(bool full, bool immediate)
{
    BlankCdb cdb;
    cdb.typeAndImmediate = static_cast<std::uint8_t>((immediate ? 0x10 : 0) + (full ? 0 : 1));
    return Send(cdb);
}

int BaseDriver::ReadCd(std::int32_t address, std::uint32_t blocks, std::uint8_t* out)
{
    ReadCdCdb cdb;
    cdb.address.SetSigned(address);
    cdb.blocks.Set(blocks);
    shortRead_ = 0;
    const std::size_t wanted = std::size_t(blocks) * kRawSectorSize;
    const int result = Send(cdb, nullptr, 0, out, wanted);
    if (result == kScsiSuccess && transport_.LastResidual() > 0) {
        // A short answer is a failed read: only the sectors that came could be compared.
        shortRead_ = wanted - std::min(wanted, transport_.LastResidual());
        return kScsiFailure;
    }
    return result;
}

void BaseDriver::EjectAfterRun()
{
    StartStopUnit(true);
    if (settings_.mode == DiscMode::Simulate)
        StartStopUnit(false);
}

bool BaseDriver::WriteCommand(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks,
                              std::size_t blockSize, std::string* error)
{
    // Pieces no larger than the system passes to the drive in one command.
    std::uint32_t piece = blocks;
    if (const std::size_t limit = transport_.MaxTransfer(); limit && std::size_t(piece) * blockSize > limit)
        piece = static_cast<std::uint32_t>(std::max<std::size_t>(1, limit / blockSize));
    for (std::uint32_t done = 0; done < blocks; done += piece) {
        const std::uint32_t count = std::min(piece, blocks - done);
        if (Cancelled()) {
            *error = "Cancelled";
            return false;
        }
        Write10Cdb cdb;
        cdb.address.SetSigned(address + static_cast<std::int32_t>(done));
        cdb.blocks.Set(count);
        // NOT READY "long write in progress": the drive is still busy with earlier data;
        // Send gives it the same command again shortly.
        const int result = Send(cdb, data + std::size_t(done) * blockSize, std::size_t(count) * blockSize);
        if (result == kScsiCancelled) {
            *error = "Cancelled";
            return false;
        }
        if (result != kScsiSuccess) {
            *error = Problem(kWriteError, result);
            return false;
        }
        // Only a WRITE the drive took touches the disc; one it refused leaves it as it was.
        writingBegun_ = true;
        holdsRunState_ = true;
    }
    return true;
}

bool BaseDriver::WaitUntilReady(std::string* error)
{
    const auto giveUp = std::chrono::steady_clock::now() + kDriveWaitLimit;
    for (;;) {
        const int ready = TestUnitReady();
        if (ready == kUnitReady)
            return true;
        if (ready == kUnitFailed) {
            // A deferred error here is the failure of data the drive had taken.
            *error = Problem(kWriteError, lastResult_);
            return false;
        }
        if (const SenseData sense = transport_.GetSenseData(); !IsTransientNotReady(sense)) {
            // No disc, an open tray: nothing that waiting mends.
            *error = std::string(kWriteError) + ": the drive is not ready (" + SenseText(sense) + ").";
            return false;
        }
        if (std::chrono::steady_clock::now() > giveUp) {
            *error = std::string(kWriteError) + ": the drive stayed not ready for 10 minutes (" +
                     SenseText(transport_.GetSenseData()) + ")";
            return false;
        }
        if (WaitOrCancel(kReadyPoll)) {
            *error = "Cancelled";
            return false;
        }
    }
}

bool BaseDriver::SetWriteParameters(int writeType, int dataBlockType, bool raw)
{
    std::uint8_t page[kWriteParametersLength]{};
    std::uint8_t header23[2]{};
    if (!ModeSense10(kPageWriteParameters, page, sizeof page, header23))
        return false;
    page[0] &= 0x7F; // parameters savable: not sent back
    page[2] =
        static_cast<std::uint8_t>((page[2] & 0x20) | writeType | (settings_.mode == DiscMode::Simulate ? 0x10 : 0) |
                                  (settings_.burnProof && burnProofOffered_ ? 0x40 : 0));
    if (raw) {
        page[3] = 0;
        page[4] = static_cast<std::uint8_t>(dataBlockType);
        page[8] = 0;
    } else {
        page[3] &= 0x3F;
        page[4] = static_cast<std::uint8_t>((page[4] & 0xF0) | dataBlockType);
        page[8] = 0x20; // CD-ROM XA session format
    }
    const std::size_t length = std::min<std::size_t>(std::size_t(page[1]) + 2, sizeof page);
    return ModeSelect10(page, length, header23);
}

bool BaseDriver::CheckCapacity(const DiscInfo& info, std::string* error)
{
    if (cueSheet_.size() < 8)
        return true;
    if (info.capacity < 0) {
        // Raw writing leaves the size to the host: an image too big would be written up to
        // the disc's end and fail in its lead-out. Session-at-once hands the size to the
        // drive in the cue sheet, which it refuses when the image does not fit.
        if (IsRaw()) {
            *error = "The drive does not tell how much this disc holds, so raw writing cannot check that the "
                     "Video CD fits (choose session-at-once writing).";
            return false;
        }
        warnings_.push_back("The drive does not tell how much this disc holds; the drive checks the size itself.");
        return true;
    }
    CueSheetEntry leadOut;
    std::memcpy(&leadOut, cueSheet_.data() + cueSheet_.size() - 8, 8);
    const std::int64_t needed = leadOut.Time() - 150;
    if (needed <= info.capacity)
        return true;
    *error = CapacityText(info.capacity, needed);
    return false;
}

// ---- MmcDriver --------------------------------------------------------------------------

bool BaseDriver::CheckBurnProof()
{
    burnProofOffered_ = settings_.burnProof && SupportsBurnProof();
    if (settings_.burnProof && !burnProofOffered_)
        notes_.push_back("The drive does not offer buffer-underrun-free recording (Burn-Proof); writing without it.");
    return burnProofOffered_;
}

bool BaseDriver::CheckBlank(DiscInfo* info, std::string* error)
{
    if (!ReadDiscInfo(info)) {
        *error = "The disc could not be read: " + LastFailure();
        return false;
    }
    if (!info->blank) {
        *error = NotEmptyText(info->erasable);
        return false;
    }
    foundBlank_ = true;
    return true;
}

void BaseDriver::SelectSpeed()
{
    if (SetCdSpeed(settings_.speedIndex) == kScsiSuccess || lastResult_ == kScsiCancelled)
        return;
    // Some drives refuse a speed they do not offer for the disc; they then write at a
    // speed of their own choosing, which is no reason to give up a blank disc.
    warnings_.push_back("The drive did not take the chosen writing speed (" + LastFailure() +
                        "); it writes at a speed of its own.");
    if (listener_) {
        ProgressEvent event = MakeProgressEvent(UM_RECORDER_INIT);
        event.text = warnings_.back();
        listener_->OnProgress(event);
    }
}

bool MmcDriver::PrepareDisc(std::string* error)
{
    CheckBurnProof();
    DiscInfo info;
    if (!CheckBlank(&info, error))
        return false;
    SelectSpeed();
    if (!ReadDiscInfo(&info)) {
        *error = "Error while getting session information";
        return false;
    }
    CompleteCapacity(&info);
    leadInStart_ = info.leadInStart;
    return CheckCapacity(info, error);
}

bool MmcDriver::StartDisc(std::string* error)
{
    if (Cancelled()) {
        *error = "Cancelled";
        return false;
    }
    if (!SetWriteParameters(2, 0, false)) {
        *error = lastResult_ == kScsiCancelled
                     ? "Cancelled"
                     : Problem("Error while setting write parameters", lastResult_) +
                           " The drive refuses session-at-once writing of this disc; raw writing may work.";
        return false;
    }
    if (settings_.mode != DiscMode::Simulate && SendOpc() != kScsiSuccess && !Cancelled()) {
        warnings_.push_back("Power calibration failed.\n");
        if (listener_) {
            ProgressEvent event = MakeProgressEvent(UM_RECORDER_INIT);
            event.text = warnings_.back();
            listener_->OnProgress(event);
        }
    }
    ReadTrackInfo();
    if (!cueSheet_.empty()) {
        // The last moment a cancel leaves the disc blank for certain.
        if (Cancelled()) {
            *error = "Cancelled";
            return false;
        }
        SendCueSheetCdb cdb;
        cdb.length.Set(static_cast<std::uint32_t>(cueSheet_.size()));
        // NOT READY 04/07 or 04/08 means the sheet was not taken: Send gives it again.
        const int result = Send(cdb, cueSheet_.data(), cueSheet_.size());
        if (result == kScsiCancelled) {
            *error = "Cancelled";
            return false;
        }
        if (result != kScsiSuccess) {
            *error = "Error while starting DAO. The drive refused the cue sheet: " + LastProblem(result);
            return false;
        }
        holdsRunState_ = true; // nothing is on the disc yet, but a reset would lose the sheet
    }
    // The 150-block pregap of track 1, in ten-block writes.
    const std::vector<std::uint8_t> zeros(10 * kSessionBlock, 0);
    for (std::int32_t address = -kPregapBlocks; address < 0; address += 10)
        if (!WriteCommand(address, zeros.data(), 10, kSessionBlock, error))
            return false;
    return true;
}

bool MmcDriver::WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error)
{
    if (Cancelled()) {
        *error = "Cancelled";
        return false;
    }
    return WriteCommand(address, data, blocks, kSessionBlock, error);
}

bool MmcDriver::FinishDisc(std::string* error)
{
    Post(UM_DRIVE_WAIT);
    if (!WaitUntilReady(error))
        return false;
    Post(UM_FLUSH_CACHE);
    if (const int result = SynchronizeCache(); result != kScsiSuccess) {
        *error = Problem(kWriteError, result);
        return false;
    }
    sessionClosed_ = true;
    holdsRunState_ = false;
    return true;
}

// ---- RawDriver --------------------------------------------------------------------------

bool RawDriver::PrepareDisc(std::string* error)
{
    CheckBurnProof();
    DiscInfo info;
    if (!CheckBlank(&info, error))
        return false;
    SelectSpeed();
    if (!ReadDiscInfo(&info)) {
        *error = "Error while getting session information";
        return false;
    }
    CompleteCapacity(&info);
    if (!CheckCapacity(info, error))
        return false;
    // The lead-in begins where the drive says, from its disc information or else the
    // ATIP; a guessed address is one the drive refuses.
    leadInStart_ = UsableLeadIn(info.leadInStart) ? info.leadInStart : ReadAtipLeadIn();
    if (!UsableLeadIn(leadInStart_)) {
        *error = "The drive gives no lead-in start for this disc; raw writing is not possible (choose "
                 "session-at-once).";
        return false;
    }
    leadInLength_ = kLeadInEnd - leadInStart_; // up to 100:00:00, which is address −150
    leadOutLength_ = kFirstLeadOut;
    leadInFirst_ = leadInStart_ - 450150;
    static const int kBlockTypes[] = {1, 3, 2}; // 16-byte P-Q first, then the 96-byte forms
    int accepted = 0;
    for (int type : kBlockTypes)
        if (SetWriteParameters(3, type, true)) {
            accepted = type;
            break;
        }
    if (!accepted) {
        *error = lastResult_ == kScsiCancelled ? "Cancelled"
                                               : Problem("Error while setting write parameters", lastResult_) +
                                                     " The drive refuses raw writing of this disc; session-at-once "
                                                     "writing may work.";
        return false;
    }
    if (accepted == 1)
        format_ = std::make_unique<PqSubcode16>();
    else
        format_ = std::make_unique<PwSubcode96>();
    std::string diagnostic;
    if (!encoder_.Start(format_.get(), 32, cueSheet_.data(), cueSheet_.size(), leadInFirst_, &diagnostic)) {
        *error = "Error while starting DAO. " + diagnostic;
        return false;
    }
    blockSize_ = kRawSectorSize + format_->Size();
    writeBuffer_.assign(kPieceBlocks * blockSize_, 0);
    if (settings_.mode != DiscMode::Simulate)
        SendOpc(); // the drive calibrates on its own if this fails
    return true;
}

bool RawDriver::WriteZeroStretch(std::int32_t address, std::int32_t count, std::uint32_t headerStart,
                                 std::string* error)
{
    sectorBuffer_.resize(kPieceBlocks * kRawSectorSize);
    for (std::int32_t done = 0; done < count;) {
        if (Cancelled()) {
            *error = "Cancelled";
            return false;
        }
        const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::int32_t>(kPieceBlocks, count - done));
        for (std::uint32_t i = 0; i < piece; ++i)
            MakeRawZeroSector(sectorBuffer_.data() + i * kRawSectorSize,
                              headerStart + static_cast<std::uint32_t>(done) + i);
        if (!WriteBlocks(address + done, sectorBuffer_.data(), piece, error))
            return false;
        done += static_cast<std::int32_t>(piece);
    }
    return true;
}

bool RawDriver::StartDisc(std::string* error)
{
    if (!WriteZeroStretch(leadInFirst_, leadInLength_, 0, error))
        return false;
    return WriteZeroStretch(-kPregapBlocks, kPregapBlocks, 0, error);
}

bool RawDriver::WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error)
{
    if (blocks > kPieceBlocks) {
        for (std::uint32_t done = 0; done < blocks; done += kPieceBlocks)
            if (!WriteBlocks(address + static_cast<std::int32_t>(done), data + done * kRawSectorSize,
                             std::min(kPieceBlocks, blocks - done), error))
                return false;
        return true;
    }
    if (Cancelled()) {
        *error = "Cancelled";
        return false;
    }
    for (std::uint32_t i = 0; i < blocks; ++i) {
        std::uint8_t* block = writeBuffer_.data() + i * blockSize_;
        std::memcpy(block, data + i * kRawSectorSize, kRawSectorSize);
        encoder_.Encode(address + static_cast<std::int32_t>(i), block + kRawSectorSize);
    }
    return WriteCommand(address, writeBuffer_.data(), blocks, blockSize_, error);
}

bool RawDriver::FinishDisc(std::string* error)
{
    if (!WriteZeroStretch(endAddress_, leadOutLength_, static_cast<std::uint32_t>(endAddress_ + 150), error))
        return false;
    Post(UM_FLUSH_CACHE);
    if (const int result = SynchronizeCache(); result != kScsiSuccess) {
        *error = Problem(kWriteError, result);
        return false;
    }
    // The lead-out is the host's: once the drive has flushed it the session is closed.
    sessionClosed_ = true;
    holdsRunState_ = false;
    Post(UM_DRIVE_WAIT);
    return WaitUntilReady(error);
}

} // namespace lumivox
