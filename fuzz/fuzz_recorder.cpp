// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the recorder drivers and disc utilities with a drive whose every answer comes from
// the input: the result of each command (success, failure, CHECK CONDITION with sense) and
// the bytes of each data-in buffer, always exactly as long as the command asked for. Every
// run of the steps must end (no crash, no endless retry) whatever the drive says.

#include "recorder/DiscUtilities.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"
#include "recorder/SubChannel.h"
#include "vcd/Sector.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace lumivox;

class InputDrive final : public ScsiTransport {
public:
    InputDrive(const std::uint8_t* data, std::size_t size, ManualResetEvent& cancel)
        : data_(data), size_(size), cancel_(cancel)
    { }

    int ExecuteCommand(const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t, std::uint8_t* dataIn,
                       std::size_t inLength) override
    {
        failure_.clear();
        if (++commands_ > 20000 || at_ >= size_) {
            failure_ = "the drive is gone";
            return kScsiFailure;
        }
        const std::uint8_t selector = data_[at_++];
        if (dataIn && inLength) {
            const std::size_t n = std::min(inLength, size_ - at_);
            std::memcpy(dataIn, data_ + at_, n);
            std::memset(dataIn + n, 0, inLength - n);
            at_ += n;
        }
        switch (selector % 4) {
        case 0:
        case 1:
            return kScsiSuccess;
        case 2: {
            sense_ = SenseData{};
            const std::size_t n = std::min(kSenseBytes, size_ - at_);
            std::memcpy(sense_.bytes.data(), data_ + at_, n);
            at_ += n;
            // A drive that keeps saying "busy" is waited for; after a few such answers the
            // run is cancelled so that the waits return at once.
            if (sense_.Key() == kSenseNotReady && ++notReady_ > 4)
                cancel_.Set();
            return kScsiCheckCondition;
        }
        default:
            failure_ = "ioctl failed";
            return kScsiFailure;
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    int commands_ = 0;
    int notReady_ = 0;
    ManualResetEvent& cancel_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    ManualResetEvent cancel;
    InputDrive drive(data + 1, size - 1, cancel);
    DeviceRecord record;
    IdentifyDrive(drive, &record);

    std::vector<std::uint8_t> sheet;
    BuildCueSheet({{0, CueKind::TrackStart},
                   {300, CueKind::PregapStart},
                   {450, CueKind::TrackStart},
                   {500, CueKind::IndexMark},
                   {600, CueKind::LeadOutStart}},
                  &sheet);
    auto driver = MakeDriver(data[0] & 1 ? DriverKind::Raw : DriverKind::Mmc, drive);
    RunSettings settings;
    settings.mode = data[0] & 2 ? DiscMode::Simulate : DiscMode::Write;
    settings.burnProof = data[0] & 4;
    settings.speedIndex = data[0] >> 4;
    driver->SetRun(settings, nullptr, &cancel);
    driver->SetCueSheet(sheet.data(), sheet.size());
    driver->CurrentProfile();
    driver->RawLeadInStart();
    std::string error;
    if (driver->PrepareDisc(&error) && driver->StartDisc(&error)) {
        std::vector<std::uint8_t> sectors(27 * kRawSectorSize);
        std::int32_t address = 0;
        for (int piece = 0; piece < 23 && driver->WriteBlocks(address, sectors.data(), 27, &error); ++piece)
            address += 27;
        driver->SetEndAddress(address);
        driver->FinishDisc(&error);
    }
    std::vector<std::uint8_t> read(4 * kRawSectorSize);
    driver->ReadCd(0, 4, read.data());
    CheckBlankDisc(*driver);
    cancel.Set();
    EraseDisc(*driver, data[0] & 8, &cancel, {}, &error);
    return 0;
}
