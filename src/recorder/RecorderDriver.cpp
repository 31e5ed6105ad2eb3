#include "recorder/RecorderDriver.h"

#include "vcd/Sector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumivox {
namespace {

constexpr std::size_t kSessionBlock = 2336;     // Mode 2 sector without sync and header
constexpr std::uint32_t kPieceBlocks = 27;      // blocks per WRITE(10)
constexpr std::int32_t kPregapBlocks = 150;
constexpr std::int32_t kLeadInLimit = 80 * 4500; // lead-in starts at or after 80:00:00 on a real disc
constexpr std::chrono::milliseconds kBusyRetry{100};
constexpr std::chrono::seconds kReadyPoll{1};

const char* const kWriteError = "Error while writing cd";

} // namespace

std::string CapacityText(std::int64_t discBlocks, std::int64_t imageBlocks) {
    const std::int64_t mb = 1024 * 1024 / 2048; // blocks per megabyte of 2,048-byte data
    char text[128];
    std::snprintf(text, sizeof text, "The disc holds %d MB; this Video CD needs %d MB.",
                  static_cast<int>(discBlocks / mb), static_cast<int>((imageBlocks + mb - 1) / mb));
    return text;
}

std::unique_ptr<BaseDriver> MakeDriver(DriverKind kind, ScsiTransport& transport) {
    if (kind == DriverKind::Raw) return std::make_unique<RawDriver>(transport);
    return std::make_unique<MmcDriver>(transport);
}

bool OpenDrive(const std::string& device, DriverChoice choice, OpenedDrive* drive, std::string* error) {
    drive->driver.reset();
    drive->transport = OpenTransport(device, error);
    if (!drive->transport) return false;
    drive->driver = MakeDriver(ChooseDriverKind(choice, drive->transport->Device().product), *drive->transport);
    return true;
}

// ---- BaseDriver -------------------------------------------------------------------------

bool BaseDriver::PrepareDisc(std::string* error) {
    *error = "The recorder has no driver.";
    return false;
}
bool BaseDriver::StartDisc(std::string*) { return true; }
bool BaseDriver::WriteBlocks(std::int32_t, const std::uint8_t*, std::uint32_t, std::string* error) {
    *error = kWriteError;
    return false;
}
bool BaseDriver::FinishDisc(std::string* error) {
    *error = kWriteError;
    return false;
}

void BaseDriver::SetRun(const RunSettings& settings, ProgressListener* listener, const ManualResetEvent* cancel) {
    settings_ = settings;
    settings_.speedIndex = SpeedIndexFromSetting(settings.speedIndex);
    listener_ = listener;
    cancel_ = cancel;
    warnings_.clear();
}

void BaseDriver::SetCueSheet(const std::uint8_t* sheet, std::size_t length) {
    cueSheet_.assign(sheet, sheet + std::min(length, kCueSheetMaxBytes));
}

void BaseDriver::Post(ProgressMessage message, std::int64_t done, std::int64_t total) {
    if (listener_) listener_->OnProgress(MakeProgressEvent(message, done, total));
}

bool BaseDriver::WaitOrCancel(std::chrono::milliseconds delay) const {
    if (!cancel_) {
        ManualResetEvent never;
        return never.WaitFor(delay);
    }
    return cancel_->WaitFor(delay);
}

std::string BaseDriver::LastProblem(int result) const {
    if (result == kScsiCheckCondition) return SenseText(transport_.GetSenseData());
    if (!transport_.FailureText().empty()) return transport_.FailureText();
    return "the drive did not carry out the command";
}

bool BaseDriver::IsLongOperation(int result) const {
    if (result != kScsiCheckCondition) return false;
    const SenseData sense = transport_.GetSenseData();
    return sense.Key() == kSenseNotReady && sense.Asc() == 0x04 && (sense.Ascq() == 0x07 || sense.Ascq() == 0x08);
}

int BaseDriver::TestUnitReady() {
    const int result = Execute(transport_, TestUnitReadyCdb{});
    if (result == kScsiSuccess) return 0;
    if (result == kScsiCheckCondition) {
        const std::uint8_t key = transport_.GetSenseData().Key();
        if (key == kSenseNotReady) return 2;
        if (key == kSenseUnitAttention) return 0;
    }
    return 1;
}

bool BaseDriver::StartStopUnit(bool eject) {
    StartStopUnitCdb cdb;
    cdb.loadEject = eject ? kStartStopEject : kStartStopLoad;
    return Execute(transport_, cdb) == kScsiSuccess;
}

int BaseDriver::SynchronizeCache() { return Execute(transport_, SynchronizeCacheCdb{}); }

bool BaseDriver::ReadDiscInfo(DiscInfo* info) {
    std::uint8_t data[kDiscInfoLength]{};
    ReadDiscInformationCdb cdb;
    cdb.allocation.Set(sizeof data);
    if (Execute(transport_, cdb, nullptr, 0, data, sizeof data) != kScsiSuccess) return false;
    info->blank = (data[kDiscInfoStatus] & 3) == 0;
    info->erasable = (data[kDiscInfoStatus] & 0x10) != 0;
    const std::uint8_t* leadIn = data + kDiscInfoLeadInStart;
    info->leadInStart = leadIn[0] * 4500 + leadIn[1] * 75 + leadIn[2];
    const std::uint8_t* last = data + kDiscInfoLastLeadOutStart;
    // FF FF FF says "not known"; so does a lead-out before the first block, which some
    // drives report for a disc whose size they have not read.
    const int lastLeadOut = last[0] * 4500 + last[1] * 75 + last[2];
    if ((last[0] == 0xFF && last[1] == 0xFF && last[2] == 0xFF) || lastLeadOut <= 150) info->capacity = -1;
    else info->capacity = lastLeadOut - 150;
    return true;
}

std::uint32_t BaseDriver::ReadTrackInfo() {
    std::uint8_t data[kTrackInfoLength]{};
    ReadTrackInformationCdb cdb;
    cdb.number.Set(0xFF);
    cdb.allocation.Set(sizeof data);
    if (Execute(transport_, cdb, nullptr, 0, data, sizeof data) != kScsiSuccess) return 0;
    const bool usable = (data[6] & 0x40) && (data[7] & 0x01) && !(data[6] & 0xB0);
    if (!usable) return 0;
    BigEndian32 nwa;
    std::memcpy(&nwa, data + 12, 4);
    return nwa.Get();
}

bool BaseDriver::ModeSense10(std::uint8_t pageCode, std::uint8_t* page, std::size_t wanted, std::uint8_t* header23) {
    std::vector<std::uint8_t> data(wanted + 108);
    ModeSense10Cdb cdb;
    cdb.page = pageCode & 0x3F;
    cdb.allocation.Set(static_cast<std::uint32_t>(data.size()));
    if (Execute(transport_, cdb, nullptr, 0, data.data(), data.size()) != kScsiSuccess) return false;
    ModeHeader10 header;
    std::memcpy(&header, data.data(), sizeof header);
    const std::size_t available = std::min<std::size_t>(header.dataLength.Get() + 2, data.size());
    const std::size_t offset = 8 + header.blockDescriptorLength.Get();
    if (offset + 2 > available) return false;
    const std::size_t length = std::min<std::size_t>(std::size_t(data[offset + 1]) + 2, wanted);
    if (offset + length > available) return false;
    std::memset(page, 0, wanted);
    std::memcpy(page, data.data() + offset, length);
    if (header23) {
        header23[0] = data[2];
        header23[1] = data[3];
    }
    return true;
}

bool BaseDriver::ModeSelect10(const std::uint8_t* page, std::size_t length, const std::uint8_t* header23) {
    std::vector<std::uint8_t> data(8 + length, 0);
    if (header23) {
        data[2] = header23[0];
        data[3] = header23[1];
    }
    std::memcpy(data.data() + 8, page, length);
    ModeSelect10Cdb cdb;
    cdb.parameterLength.Set(static_cast<std::uint32_t>(data.size()));
    return Execute(transport_, cdb, data.data(), data.size()) == kScsiSuccess;
}

int BaseDriver::SetCdSpeed(int speedIndex) {
    SetCdSpeedCdb cdb;
    cdb.readSpeed.Set(0xFFFF);
    cdb.writeSpeed.Set(WriteSpeedOfIndex(speedIndex));
    return Execute(transport_, cdb);
}

int BaseDriver::SendOpc() { return Execute(transport_, SendOpcCdb{}); }

int BaseDriver::Blank(bool full, bool immediate) {
    BlankCdb cdb;
    cdb.typeAndImmediate = static_cast<std::uint8_t>((immediate ? 0x10 : 0) + (full ? 0 : 1));
    return Execute(transport_, cdb);
}

bool BaseDriver::ReadCd(std::int32_t address, std::uint32_t blocks, std::uint8_t* out) {
    ReadCdCdb cdb;
    cdb.address.SetSigned(address);
    cdb.blocks.Set(blocks);
    return Execute(transport_, cdb, nullptr, 0, out, std::size_t(blocks) * kRawSectorSize) == kScsiSuccess;
}

void BaseDriver::EjectAfterRun() {
    StartStopUnit(true);
    if (settings_.mode == DiscMode::Simulate) StartStopUnit(false);
}

bool BaseDriver::WriteCommand(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks,
                              std::size_t blockSize, std::string* error) {
    Write10Cdb cdb;
    cdb.address.SetSigned(address);
    cdb.blocks.Set(blocks);
    const auto giveUp = std::chrono::steady_clock::now() + kDriveWaitLimit;
    for (;;) {
        const int result = Execute(transport_, cdb, data, std::size_t(blocks) * blockSize);
        if (result == kScsiSuccess) return true;
        if (!IsLongOperation(result) || std::chrono::steady_clock::now() > giveUp) {
            *error = std::string(kWriteError) + ": " + LastProblem(result);
            return false;
        }
        // The drive is still busy with earlier data: the same command again shortly.
        if (WaitOrCancel(kBusyRetry)) {
            *error = "Cancelled";
            return false;
        }
    }
}

bool BaseDriver::WaitUntilReady(std::string* error) {
    const auto giveUp = std::chrono::steady_clock::now() + kDriveWaitLimit;
    for (;;) {
        const int ready = TestUnitReady();
        if (ready != 2) return true;
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

bool BaseDriver::SetWriteParameters(int writeType, int dataBlockType, bool raw) {
    std::uint8_t page[kWriteParametersLength]{};
    std::uint8_t header23[2]{};
    if (!ModeSense10(kPageWriteParameters, page, sizeof page, header23)) return false;
    page[0] &= 0x7F; // parameters savable: not sent back
    page[2] = static_cast<std::uint8_t>((page[2] & 0x20) | writeType |
                                        (settings_.mode == DiscMode::Simulate ? 0x10 : 0) |
                                        (settings_.burnProof ? 0x40 : 0));
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

bool BaseDriver::CheckCapacity(const DiscInfo& info, std::string* error) const {
    if (cueSheet_.size() < 8 || info.capacity < 0) return true;
    CueSheetEntry leadOut;
    std::memcpy(&leadOut, cueSheet_.data() + cueSheet_.size() - 8, 8);
    const std::int64_t needed = leadOut.Time() - 150;
    if (needed <= info.capacity) return true;
    *error = CapacityText(info.capacity, needed);
    return false;
}

// ---- MmcDriver --------------------------------------------------------------------------

bool MmcDriver::PrepareDisc(std::string* error) {
    DiscInfo info;
    if (!ReadDiscInfo(&info) || !info.blank) {
        *error = "Disc is not empty";
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

bool MmcDriver::StartDisc(std::string* error) {
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
        const int result = Execute(transport_, cdb, cueSheet_.data(), cueSheet_.size());
        if (result != kScsiSuccess) {
            if (IsLongOperation(result) && transport_.GetSenseData().AdditionalLength() >= 6) {
                if (WaitOrCancel(kBusyRetry)) {
                    *error = "Cancelled";
                    return false;
                }
            } else {
                *error = "Error while starting DAO.";
                return false;
            }
        }
    }
    // The 150-block pregap of track 1, in ten-block writes.
    const std::vector<std::uint8_t> zeros(10 * kSessionBlock, 0);
    for (std::int32_t address = -kPregapBlocks; address < 0; address += 10)
        if (!WriteCommand(address, zeros.data(), 10, kSessionBlock, error)) return false;
    return true;
}

bool MmcDriver::WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error) {
    if (Cancelled()) {
        *error = "Cancelled";
        return false;
    }
    return WriteCommand(address, data, blocks, kSessionBlock, error);
}

bool MmcDriver::FinishDisc(std::string* error) {
    Post(UM_DRIVE_WAIT);
    if (!WaitUntilReady(error)) return false;
    Post(UM_FLUSH_CACHE);
    if (const int result = SynchronizeCache(); result != kScsiSuccess) {
        *error = std::string(kWriteError) + ": " + LastProblem(result);
        return false;
    }
    return true;
}

// ---- RawDriver --------------------------------------------------------------------------

bool RawDriver::PrepareDisc(std::string* error) {
    if (SetCdSpeed(settings_.speedIndex) != kScsiSuccess) {
        *error = "Error while selecting writing speed";
        return false;
    }
    DiscInfo info;
    if (!ReadDiscInfo(&info)) {
        *error = "Error while getting session information";
        return false;
    }
    if (!CheckCapacity(info, error)) return false;
    leadInStart_ = info.leadInStart;
    if (leadInStart_ < kLeadInLimit || leadInStart_ >= 450000) {
        // No usable lead-in position: 4,500 lead-in blocks that end right before the
        // pregap, so that lead-in, pregap and data follow each other without a gap.
        leadInLength_ = 4500;
        leadOutLength_ = 2250;
        leadInFirst_ = -kPregapBlocks - leadInLength_;
    } else {
        leadInLength_ = 450000 - leadInStart_; // up to 100:00:00, which is address −150
        leadOutLength_ = 6750;
        leadInFirst_ = leadInStart_ - 450150;
    }
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
    if (accepted == 1) format_ = std::make_unique<PqSubcode16>();
    else format_ = std::make_unique<PwSubcode96>();
    std::string diagnostic;
    if (!encoder_.Start(format_.get(), 32, cueSheet_.data(), cueSheet_.size(), leadInFirst_, &diagnostic)) {
        *error = "Error while starting DAO. " + diagnostic;
        return false;
    }
    blockSize_ = kRawSectorSize + format_->Size();
    writeBuffer_.assign(kPieceBlocks * blockSize_, 0);
    if (settings_.mode != DiscMode::Simulate) SendOpc(); // the drive calibrates on its own if this fails
    return true;
}

bool RawDriver::WriteZeroStretch(std::int32_t address, std::int32_t count, std::uint32_t headerStart,
                                 std::string* error) {
    sectorBuffer_.resize(kPieceBlocks * kRawSectorSize);
    for (std::int32_t done = 0; done < count;) {
        if (Cancelled()) {
            *error = "Cancelled";
            return false;
        }
        const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::int32_t>(kPieceBlocks, count - done));
        for (std::uint32_t i = 0; i < piece; ++i)
            MakeRawZeroSector(sectorBuffer_.data() + i * kRawSectorSize, headerStart + static_cast<std::uint32_t>(done) + i);
        if (!WriteBlocks(address + done, sectorBuffer_.data(), piece, error)) return false;
        done += static_cast<std::int32_t>(piece);
    }
    return true;
}

bool RawDriver::StartDisc(std::string* error) {
    if (!WriteZeroStretch(leadInFirst_, leadInLength_, 0, error)) return false;
    return WriteZeroStretch(-kPregapBlocks, kPregapBlocks, 0, error);
}

bool RawDriver::WriteBlocks(std::int32_t address, const std::uint8_t* data, std::uint32_t blocks, std::string* error) {
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

bool RawDriver::FinishDisc(std::string* error) {
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
