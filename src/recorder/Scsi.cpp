// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/Scsi.h"

#include "recorder/EmulatedRecorder.h"
#include "recorder/SgIoTransport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumivox {

SenseData SenseData::Make(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, bool descriptor, bool deferred)
{
    SenseData sense;
    if (descriptor) {
        sense.bytes[0] = deferred ? 0x73 : 0x72;
        sense.bytes[1] = key;
        sense.bytes[2] = asc;
        sense.bytes[3] = ascq;
        return sense; // additional length 0: no descriptors
    }
    sense.bytes[0] = deferred ? 0x71 : 0x70;
    sense.bytes[2] = key;
    sense.bytes[7] = 10; // additional sense length: bytes 8-17
    sense.bytes[12] = asc;
    sense.bytes[13] = ascq;
    return sense;
}

std::string CommandName(std::uint8_t opcode)
{
    switch (opcode) {
    case kOpTestUnitReady:
        return "TEST UNIT READY";
    case kOpInquiry:
        return "INQUIRY";
    case kOpStartStopUnit:
        return "START STOP UNIT";
    case kOpWrite10:
        return "WRITE(10)";
    case kOpSynchronizeCache:
        return "SYNCHRONIZE CACHE";
    case kOpReadToc:
        return "READ TOC/PMA/ATIP";
    case kOpGetConfiguration:
        return "GET CONFIGURATION";
    case kOpReadDiscInformation:
        return "READ DISC INFORMATION";
    case kOpReadTrackInformation:
        return "READ TRACK INFORMATION";
    case kOpSendOpcInformation:
        return "SEND OPC INFORMATION";
    case kOpModeSelect10:
        return "MODE SELECT(10)";
    case kOpModeSense10:
        return "MODE SENSE(10)";
    case kOpCloseTrackSession:
        return "CLOSE TRACK/SESSION";
    case kOpSendCueSheet:
        return "SEND CUE SHEET";
    case kOpBlank:
        return "BLANK";
    case kOpSetCdSpeed:
        return "SET CD SPEED";
    case kOpReadCd:
        return "READ CD";
    default:
        break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "command %02X", opcode);
    return text;
}

std::chrono::milliseconds WriteTimeoutFor(int speedIndex)
{
    constexpr double kLeadInBlocks = 11475; // a session-at-once lead-in from 97:27:00
    constexpr double kBufferBlocks = 4.0 * 1024 * 1024 / 2352; // a generous drive buffer
    static const double kSpeeds[] = {1, 2, 4, 8, 12, 24, 24}; // "maximum" is at least 24×
    const double speed = kSpeeds[(speedIndex >= 0 && speedIndex <= 6) ? speedIndex : 0];
    const double seconds = 1.5 * (kLeadInBlocks + kBufferBlocks) / (75.0 * speed);
    return std::max<std::chrono::milliseconds>(std::chrono::seconds(200),
                                               std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
}

std::chrono::milliseconds CommandTimeout(const std::uint8_t* cdb, std::size_t cdbLength,
                                         std::chrono::milliseconds writeTimeout)
{
    using std::chrono::minutes;
    using std::chrono::seconds;
    if (!cdb || cdbLength == 0)
        return seconds(30);
    const bool immediate = cdbLength > 1 && (cdb[1] & 0x01);
    switch (cdb[0]) {
    case kOpWrite10:
        return writeTimeout;
    case kOpSendOpcInformation:
        return seconds(60); // calibration takes a few seconds
    case kOpSendCueSheet:
        return seconds(60);
    case kOpReadCd:
        return seconds(60);
    case kOpStartStopUnit:
        return seconds(60); // spinning up or down, moving the tray
    case kOpSynchronizeCache:
        // Without the immediate bit it may write the rest of the buffer and the lead-out.
        return (cdbLength > 1 && (cdb[1] & 0x02)) ? seconds(60) : minutes(20);
    case kOpCloseTrackSession:
        return immediate ? seconds(60) : minutes(20);
    case kOpBlank:
        return (cdbLength > 1 && (cdb[1] & 0x10)) ? seconds(60) : minutes(90);
    default:
        return seconds(30);
    }
}

bool IsTransientNotReady(const SenseData& sense)
{
    if (sense.Key() != kSenseNotReady || sense.Asc() != 0x04)
        return false;
    const std::uint8_t q = sense.Ascq();
    return q == 0x01 || q == 0x04 || q == 0x07 || q == 0x08;
}

bool IsResetOrChange(const SenseData& sense)
{
    if (sense.Deferred())
        return false;
    return sense.Key() == kSenseUnitAttention ||
           (sense.Key() == kSenseNotReady && sense.Asc() == 0x04 && sense.Ascq() == 0x01);
}

int ExecuteRetrying(ScsiTransport& transport, const std::uint8_t* cdb, std::size_t cdbLength,
                    const std::uint8_t* dataOut, std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength,
                    const RetryPolicy& policy)
{
    int attentions = 0, aborted = 0;
    const auto start = std::chrono::steady_clock::now();
    ManualResetEvent never;
    const ManualResetEvent& wake = policy.cancel ? *policy.cancel : never;
    for (;;) {
        // A cancel is looked at before every sending: a WRITE or a cue sheet sent after it
        // could turn a blank disc into a partly written one.
        if (wake.IsSet())
            return kScsiCancelled;
        const int result = transport.ExecuteCommand(cdb, cdbLength, dataOut, outLength, dataIn, inLength);
        if (result != kScsiCheckCondition)
            return result;
        const SenseData sense = transport.GetSenseData();
        if (sense.Deferred())
            return result; // an earlier WRITE failed: the caller says so
        if (sense.Recovered()) {
            if (policy.notes && policy.notes->size() < 20)
                policy.notes->push_back(CommandName(cdb[0]) + ": the drive recovered from an error (" +
                                        SenseText(sense) + ")");
            return kScsiSuccess;
        }
        if (sense.Key() == kSenseUnitAttention && attentions < policy.unitAttentionRetries) {
            ++attentions; // the disc changed or the drive was reset; the command was not carried out
            continue;
        }
        if (sense.Key() == kSenseAbortedCommand && aborted < policy.abortedRetries) {
            ++aborted; // not carried out (a bus or bridge hiccup): the same command once more
            continue;
        }
        if (!policy.waitWhileNotReady || !IsTransientNotReady(sense))
            return result;
        if (sense.Ascq() == 0x01 && !policy.waitWhileBecomingReady)
            return result;
        const auto limit = sense.Ascq() == 0x01 ? policy.becomingReadyLimit : policy.notReadyLimit;
        if (std::chrono::steady_clock::now() - start > limit)
            return result;
        if (wake.WaitFor(policy.poll))
            return kScsiCancelled;
    }
}

std::string SenseMeaning(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
{
    // The additional sense codes a CD recorder reports while writing (SPC-3 Annex D, MMC).
    struct Entry {
        std::uint8_t asc, ascq;
        const char* text;
    };
    static const Entry kEntries[] = {
        {0x04, 0x00, "logical unit not ready"},
        {0x04, 0x01, "becoming ready"},
        {0x04, 0x04, "format in progress"},
        {0x04, 0x07, "operation in progress"},
        {0x04, 0x08, "long write in progress"},
        {0x0C, 0x00, "write error"},
        {0x0C, 0x09, "loss of streaming"},
        {0x17, 0x01, "recovered data with retries"},
        {0x0C, 0x0A, "padding blocks added"},
        {0x11, 0x00, "unrecovered read error"},
        {0x1A, 0x00, "parameter list length error"},
        {0x20, 0x00, "invalid command operation code"},
        {0x21, 0x00, "logical block address out of range"},
        {0x21, 0x02, "invalid address for write"},
        {0x24, 0x00, "invalid field in CDB"},
        {0x26, 0x00, "invalid field in parameter list"},
        {0x27, 0x00, "write protected"},
        {0x2A, 0x01, "mode parameters changed"},
        {0x47, 0x00, "SCSI parity error"},
        {0x4B, 0x00, "data phase error"},
        {0x53, 0x02, "medium removal prevented"},
        {0x28, 0x00, "medium may have changed"},
        {0x29, 0x00, "power on or reset occurred"},
        {0x2C, 0x00, "command sequence error"},
        {0x30, 0x00, "incompatible medium installed"},
        {0x30, 0x05, "cannot write medium, incompatible format"},
        {0x3A, 0x00, "medium not present"},
        {0x3A, 0x01, "medium not present, tray closed"},
        {0x3A, 0x02, "medium not present, tray open"},
        {0x64, 0x00, "illegal mode for this track"},
        {0x72, 0x00, "session fixation error"},
        {0x73, 0x00, "CD control error (power calibration)"},
        {0x73, 0x03, "power calibration area error"},
    };
    for (const Entry& entry : kEntries)
        if (entry.asc == asc && entry.ascq == ascq)
            return entry.text;
    for (const Entry& entry : kEntries)
        if (entry.asc == asc && entry.ascq == 0)
            return entry.text;
    static const char* const kKeys[16] = {"no sense",       "recovered error", "not ready",      "medium error",
                                          "hardware error", "illegal request", "unit attention", "data protect",
                                          "blank check",    "vendor specific", "copy aborted",   "aborted command",
                                          "equal",          "volume overflow", "miscompare",     "reserved"};
    return kKeys[key & 0x0F];
}

std::string SenseText(const SenseData& sense)
{
    char text[160];
    std::snprintf(text, sizeof text, "%ssense %02X/%02X/%02X (%s)", sense.Deferred() ? "deferred " : "", sense.Key(),
                  sense.Asc(), sense.Ascq(), SenseMeaning(sense.Key(), sense.Asc(), sense.Ascq()).c_str());
    return text;
}

std::string DeviceLine(const DeviceRecord& record)
{
    char address[48];
    std::snprintf(address, sizeof address, "(%d:%d:%d)", record.host, record.target, record.lun);
    return record.vendor + record.product + address;
}

namespace {
std::string Trimmed(const std::uint8_t* bytes, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size; ++i)
        text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? char(bytes[i]) : ' ';
    return text;
}
} // namespace

namespace {
const char* PeripheralTypeName(std::uint8_t type)
{
    switch (type) {
    case 0x00:
        return "a disk";
    case 0x01:
        return "a tape drive";
    case 0x04:
        return "a write-once device";
    case 0x07:
        return "an optical memory device";
    case 0x08:
        return "a medium changer";
    case 0x0C:
        return "a storage array controller";
    case 0x0D:
        return "an enclosure";
    case 0x0E:
        return "a simplified direct-access device";
    default:
        return "not a CD/DVD drive";
    }
}
} // namespace

bool IdentifyDrive(ScsiTransport& transport, DeviceRecord* record, std::string* why)
{
    std::uint8_t inquiry[100]{};
    InquiryCdb cdb;
    cdb.allocation.Set(sizeof inquiry);
    // Some bridges fail the first INQUIRY after opening; the system call is tried again.
    int result = kScsiFailure;
    for (int attempt = 0; attempt < 3 && (result == kScsiFailure || result == kScsiCheckCondition); ++attempt) {
        result = Execute(transport, cdb, nullptr, 0, inquiry, sizeof inquiry);
        if (result == kScsiCheckCondition && transport.GetSenseData().Key() != kSenseUnitAttention)
            break;
    }
    if (result != kScsiSuccess) {
        if (why)
            *why = transport.FailureText().empty() ? "does not answer INQUIRY" : transport.FailureText();
        return false;
    }
    // Everything after INQUIRY is a CD command: on a disk 51h is XPWRITE and A1h ATA
    // PASS-THROUGH, and START STOP UNIT stops or ejects it. Only a CD/DVD drive (peripheral
    // qualifier 0, device type 05h) is sent anything more.
    const std::uint8_t qualifier = inquiry[0] >> 5, type = inquiry[0] & 0x1F;
    if (qualifier != 0 || type != kPeripheralCdDvd) {
        if (why) {
            char text[128];
            std::snprintf(text, sizeof text, "is not a CD/DVD drive (peripheral device type %02Xh, %s)", type,
                          qualifier != 0 ? "not connected" : PeripheralTypeName(type));
            *why = text;
        }
        return false;
    }
    record->vendor = Trimmed(inquiry + 8, 8);
    record->product = Trimmed(inquiry + 16, 16);
    record->revision = Trimmed(inquiry + 32, 4);
    std::uint8_t mode[8 + kCapabilitiesLength + 108]{};
    ModeSense10Cdb sense;
    sense.page = kPageCapabilities;
    sense.allocation.Set(sizeof mode);
    record->writer = false;
    RetryPolicy quick; // a fresh drive answers its first MODE SENSE with UNIT ATTENTION
    quick.waitWhileNotReady = false; // page 2A needs no disc: nothing to wait for
    if (ExecuteRetrying(transport, reinterpret_cast<const std::uint8_t*>(&sense), sizeof sense, nullptr, 0, mode,
                        sizeof mode, quick) == kScsiSuccess) {
        const ModeHeader10* header = reinterpret_cast<const ModeHeader10*>(mode);
        const std::size_t offset = 8 + header->blockDescriptorLength.Get();
        if (offset + 4 <= sizeof mode && (mode[offset] & 0x3F) == kPageCapabilities)
            record->writer = (mode[offset + 3] & 0x01) != 0;
    }
    return true;
}

std::unique_ptr<ScsiTransport> OpenTransport(const std::string& device, std::string* error, DriveAccess access)
{
    if (device.empty()) {
        if (error)
            *error = "no recorder given (a device node such as /dev/sr0, or emulated:FOLDER)";
        return nullptr;
    }
    if (device.rfind(kEmulatedPrefix, 0) == 0)
        return EmulatedRecorder::Open(device, error, access);
    return SgIoTransport::Open(device, error, access);
}

std::vector<DeviceRecord> EnumerateDrives(std::vector<std::string>* problems)
{
    std::vector<DeviceRecord> drives;
    for (const std::string& node : SgIoTransport::CandidateNodes()) {
        if (drives.size() >= kMaxDrives)
            break;
        std::string error;
        auto transport = SgIoTransport::Open(node, &error);
        if (!transport) {
            if (problems)
                problems->push_back(error);
            continue;
        }
        drives.push_back(transport->Device());
    }
    if (const char* emulated = std::getenv("LUMIVOX_EMULATED_RECORDER"); emulated && *emulated) {
        std::string error;
        if (drives.size() >= kMaxDrives)
            return drives;
        auto transport = OpenTransport(emulated, &error);
        if (transport)
            drives.push_back(transport->Device());
        else if (problems)
            problems->push_back(error);
    }
    return drives;
}

bool DriveManager::OpenDevices(int writerIndex)
{
    drives_ = EnumerateDrives();
    writers_.clear();
    for (const DeviceRecord& drive : drives_)
        if (drive.writer)
            writers_.push_back(drive);
    transport_.reset();
    selected_ = -1;
    if (writers_.empty())
        return false;
    if (writerIndex < 0 || writerIndex >= static_cast<int>(writers_.size()))
        writerIndex = 0;
    return SelectDevice(writerIndex);
}

bool DriveManager::SelectDevice(int writerIndex, std::string* error)
{
    if (writerIndex < 0 || writerIndex >= static_cast<int>(writers_.size())) {
        if (error)
            *error = "No CD-Writer is Found";
        return false;
    }
    std::string why;
    auto transport = OpenTransport(writers_[static_cast<std::size_t>(writerIndex)].devicePath, &why);
    if (!transport) {
        if (error)
            *error = why;
        return false;
    }
    transport_ = std::move(transport);
    selected_ = writerIndex;
    return true;
}

} // namespace lumivox
