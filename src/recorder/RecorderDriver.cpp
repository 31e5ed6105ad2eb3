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

void BaseDriver::SetRun(const RunSettings& settings, ProgressListener* listener, const ManualResetEvent* cancel)
{
    settings_ = settings;
    settings_.speedIndex = SpeedIndexFromSetting(settings.speedIndex);
    listener_ = listener;
    cancel_ = cancel;
    warnings_.clear();
    notes_.clear();
    writingBegun_ = false;
}

int BaseDriver::SendBytes(const std::uint8_t* cdb, std::size_t length, const void* out, std::size_t outLength, void* in,
                          std::size_t inLength)
{
    RetryPolicy policy;
    policy.cancel = cancel_;
    policy.notes = &notes_;
    lastResult_ = ExecuteRetrying(transport_, cdb, length, static_cast<const std::uint8_t*>(out), outLength,
                                  static_cast<std::uint8_t*>(in), inLength, policy);
    return lastResult_;
}

void BaseDriver::LeaveIdle()
{
    // Once, without waiting: the drive may be in any state, and its answer changes nothing.
    Execute(transport_, SynchronizeCacheCdb{});
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
    if (!cancel_) {
        ManualResetEvent never;
        return never.WaitFor(delay);
    }
    return cancel_->WaitFor(delay);
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
    const int result = ExecuteRetrying(transport_, reinterpret_cast<const std::uint8_t*>(&command), sizeof command,
                                       nullptr, 0, nullptr, 0, policy);
    lastResult_ = result;
    if (result == kScsiSuccess)
        return kUnitReady;
    if (result == kScsiCheckCondition) {
        const SenseData sense = transport_.GetSenseData();
        if (sense.Key() == kSenseNotReady && !sense.Deferred())
            return kUnitNotReady;
    }
    return kUnitFailed;
}

bool BaseDriver::StartStopUnit(bool eject)
{
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

std::int32_t BaseDriver::ReadAtipLeadIn()
{
    std::uint8_t cdb[10]{kOpReadToc, 0x02 /* MSF */, 0x04 /* ATIP */};
    std::uint8_t data[28]{};
    cdb[8] = sizeof data;
    if (SendBytes(cdb, sizeof cdb, nullptr, 0, data, sizeof data) != kScsiSuccess)
        return -1;
    const std::size_t got = sizeof data - std::min(transport_.LastResidual(), sizeof data);
    if (got < 11 || (std::size_t(data[0] << 8 | data[1]) + 2) < 11)
        return -1;
    if (data[9] > 59 || data[10] > 74)
        return -1;
    return data[8] * 4500 + data[9] * 75 + data[10];
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

bool BaseDriver::ReadCd(std::int32_t address, std::uint32_t blocks, std::uint8_t* out)
{
    ReadCdCdb cdb;
    cdb.address.SetSigned(address);
    cdb.blocks.Set(blocks);
    // A short answer is a failed read: only the sectors that came could be compared.
    return Send(cdb, nullptr, 0, out, std::size_t(blocks) * kRawSectorSize) == kScsiSuccess &&
           transport_.LastResidual() == 0;
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
        Write10Cdb cdb;
        cdb.address.SetSigned(address + static_cast<std::int32_t>(done));
        cdb.blocks.Set(count);
        writingBegun_ = true;
        // NOT READY "long write in progress": the drive is still busy with earlier data;
        // Send gives it the same command again shortly.
        const int result = Send(cdb, data + std::size_t(done) * blockSize, std::size_t(count) * blockSize);
        if (result == kScsiCancelled) {
            *error = "Cancelled";
            return false;
        }
        if (result != kScsiSuccess) {
            *error = std::string(kWriteError) + ": " + LastProblem(result);
            return false;
        }
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
            *error = std::string(kWriteError) + ": " + LastFailure();
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

bool BaseDriver::CheckCapacity(const DiscInfo& info, std::string* error) const
{
    if (cueSheet_.size() < 8 || info.capacity < 0)
        return true;
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

bool MmcDriver::PrepareDisc(std::string* error)
{
    CheckBurnProof();
    DiscInfo info;
    if (!ReadDiscInfo(&info)) {
        *error = "The disc could not be read: " + LastFailure();
        return false;
    }
    if (!info.blank) {
        *error = NotEmptyText(info.erasable);
        return false;
    }
    if (SetCdSpeed(settings_.speedIndex) != kScsiSuccess) {
        *error = "Error while selecting writing speed";
        return false;
    }
    if (!ReadDiscInfo(&info)) {
        *error = "Error while getting session information";
        return false;
    }
    leadInStart_ = info.leadInStart;
    return CheckCapacity(info, error);
}

bool MmcDriver::StartDisc(std::string* error)
{
    if (!SetWriteParameters(2, 0, false)) {
        *error = "Error while setting write parameters";
        return false;
    }
    if (settings_.mode != DiscMode::Simulate && SendOpc() != kScsiSuccess) {
        warnings_.push_back("Power calibration failed.\n");
        if (listener_) {
            ProgressEvent event = MakeProgressEvent(UM_RECORDER_INIT);
            event.text = warnings_.back();
            listener_->OnProgress(event);
        }
    }
    ReadTrackInfo();
    if (!cueSheet_.empty()) {
        SendCueSheetCdb cdb;
        cdb.length.Set(static_cast<std::uint32_t>(cueSheet_.size()));
        // NOT READY 04/07 or 04/08 means the sheet was not taken: Send gives it again.
        const int result = Send(cdb, cueSheet_.data(), cueSheet_.size());
        if (result == kScsiCancelled) {
            *error = "Cancelled";
            return false;
        }
        if (result != kScsiSuccess) {
            *error = "Error while starting DAO.: " + LastProblem(result);
            return false;
        }
        writingBegun_ = true;
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
        *error = std::string(kWriteError) + ": " + LastProblem(result);
        return false;
    }
    return true;
}

// ---- RawDriver --------------------------------------------------------------------------

bool RawDriver::PrepareDisc(std::string* error)
{
    CheckBurnProof();
    if (SetCdSpeed(settings_.speedIndex) != kScsiSuccess) {
        *error = "Error while selecting writing speed";
        return false;
    }
    DiscInfo info;
    if (!ReadDiscInfo(&info)) {
        *error = "Error while getting session information";
        return false;
    }
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
        *error = "Error while setting write parameters";
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
        *error = std::string(kWriteError) + ": " + LastProblem(result);
        return false;
    }
    Post(UM_DRIVE_WAIT);
    return WaitUntilReady(error);
}

} // namespace lumivox
