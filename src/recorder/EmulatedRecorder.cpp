// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/EmulatedRecorder.h"

#include "base/IniFile.h"
#include "vcd/BinCueSink.h"
#include "vcd/Sector.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace lumivox {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kBufferBytes = 2.0 * 1024 * 1024; // the modelled drive buffer
constexpr double kBufferBlocks = kBufferBytes / 2352.0;
constexpr std::int32_t kMaxLeadOut = 6750;
constexpr double kDefaultSettleMs = 1500; // a typical drive's spin-up after loading or closing

// The factor LUMIVOX_EMULATED_TIME_SCALE puts on the realistic delays (the test suite runs
// them shortened); 1 when unset or unreadable.
// A decimal number with a point, whatever the locale of the program (the desktop
// program runs under the user's, where "1.5" may not be a number).
bool ParseDecimal(std::string_view text, double* value)
{
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return false;
    *value = v;
    return true;
}

double TimeScale()
{
    const char* text = std::getenv("LUMIVOX_EMULATED_TIME_SCALE");
    double scale = 1;
    if (!text || !ParseDecimal(text, &scale) || !(scale >= 0) || scale > 100)
        return 1;
    return scale;
}

std::uint8_t ToBcd(int v)
{
    return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10));
}

bool ParseMsf(const std::string& text, std::int32_t* blocks)
{
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3 || m > 99 || s > 59 || f > 74)
        return false;
    *blocks = static_cast<std::int32_t>(m * 4500 + s * 75 + f);
    return true;
}

bool ParseNumber(const std::string& text, double* value)
{
    double v = 0;
    if (!ParseDecimal(text, &v) || !(v >= 0) || v > 1e9)
        return false;
    *value = v;
    return true;
}

std::string Padded(std::string text, std::size_t size)
{
    text.resize(size, ' ');
    return text;
}

void PutMsf(std::uint8_t* out, std::int32_t blocks)
{
    out[0] = static_cast<std::uint8_t>(blocks / 4500);
    out[1] = static_cast<std::uint8_t>(blocks / 75 % 60);
    out[2] = static_cast<std::uint8_t>(blocks % 75);
}

int FromBcd(std::uint8_t v)
{
    return (v >> 4) * 10 + (v & 15);
}

// A whole number of digits only, at most 10^9.
bool ParseCount(const std::string& text, std::int64_t* value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoll(text);
    return *value <= 1000000000;
}

// Exactly two hex digits.
bool ParseHexByte(const std::string& text, std::uint8_t* value)
{
    if (text.size() != 2 || !std::isxdigit(static_cast<unsigned char>(text[0])) ||
        !std::isxdigit(static_cast<unsigned char>(text[1])))
        return false;
    *value = static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
    return true;
}

// One inject rule: OP@N:ACTION or OP@N+:ACTION.
bool ParseInjectRule(const std::string& rule, InjectedAnswer* answer)
{
    const std::size_t at = rule.find('@');
    const std::size_t colon = rule.find(':');
    if (at == std::string::npos || colon == std::string::npos || colon < at)
        return false;
    if (!ParseHexByte(rule.substr(0, at), &answer->opcode))
        return false;
    std::string count = rule.substr(at + 1, colon - at - 1);
    answer->onward = !count.empty() && count.back() == '+';
    if (answer->onward)
        count.pop_back();
    if (!ParseCount(count, &answer->nth) || answer->nth < 1)
        return false;
    const std::string action = rule.substr(colon + 1);
    if (action == "reset") {
        answer->kind = InjectedAnswer::Kind::Reset;
        return true;
    }
    if (action.rfind("short=", 0) == 0) {
        std::int64_t bytes = 0;
        if (!ParseCount(action.substr(6), &bytes))
            return false;
        answer->kind = InjectedAnswer::Kind::Short;
        answer->bytes = static_cast<std::size_t>(bytes);
        return true;
    }
    if (action.rfind("hold=", 0) == 0) {
        answer->kind = InjectedAnswer::Kind::Hold;
        return ParseNumber(action.substr(5), &answer->ms) && answer->ms <= 600000;
    }
    answer->kind = InjectedAnswer::Kind::Sense;
    return action.size() == 8 && action[2] == '/' && action[5] == '/' &&
           ParseHexByte(action.substr(0, 2), &answer->key) && answer->key <= 0x0F &&
           ParseHexByte(action.substr(3, 2), &answer->asc) && ParseHexByte(action.substr(6, 2), &answer->ascq);
}

} // namespace

bool ParseEmulatedName(const std::string& name, EmulatedOptions* options, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = name + ": " + why;
        return false;
    };
    if (name.rfind(kEmulatedPrefix, 0) != 0)
        return fail("not an emulated recorder name");
    std::string rest = name.substr(std::strlen(kEmulatedPrefix));
    const std::size_t question = rest.find('?');
    options->folder = rest.substr(0, question);
    if (options->folder.empty())
        return fail("no folder given for the emulated recorder");
    std::string query = question == std::string::npos ? "" : rest.substr(question + 1);
    std::size_t start = 0;
    while (start < query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        const std::string key = pair.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
        double number = 0;
        if (key == "disc") {
            if (value != "cdr" && value != "cdrw" && value != "none" && value != "written" && value != "appendable")
                return fail("disc must be cdr, cdrw, none, written or appendable");
            options->disc = value;
        } else if (key == "lead-in") {
            if (value == "none")
                options->leadInKnown = false;
            else if (!ParseMsf(value, &options->leadInStart))
                return fail("lead-in must be MM:SS:FF or none");
            else
                options->leadInKnown = true;
        } else if (key == "capacity") {
            if (!ParseMsf(value, &options->lastLeadOutStart))
                return fail("capacity must be MM:SS:FF");
        } else if (key == "vendor") {
            options->vendor = Padded(value, 8);
        } else if (key == "product") {
            options->product = Padded(value, 16);
        } else if (key == "speed" && ParseNumber(value, &number) && number <= 100) {
            options->speed = number;
        } else if (key == "not-ready" && ParseNumber(value, &number)) {
            options->notReady = static_cast<int>(number);
        } else if (key == "fail-write" && ParseNumber(value, &number)) {
            options->failWrite = static_cast<std::int64_t>(number);
        } else if (key == "fail-opc") {
            options->failOpc = value != "0";
        } else if (key == "busy" && ParseNumber(value, &number)) {
            options->busy = static_cast<int>(number);
        } else if (key == "erase-seconds" && ParseNumber(value, &number) && number <= 7200) {
            options->eraseSeconds = number;
        } else if (key == "corrupt" && ParseNumber(value, &number)) {
            options->corrupt = static_cast<std::int64_t>(number);
        } else if (key == "raw-types" && !value.empty() && value.find_first_not_of("123") == std::string::npos) {
            options->rawTypes = value;
        } else if (key == "ideal" && (value == "0" || value == "1")) {
            if (value == "1") {
                options->unitAttention = false;
                options->settleMs = 0;
            }
        } else if (key == "ua" && (value == "0" || value == "1")) {
            options->unitAttention = value == "1";
        } else if (key == "settle-ms" && ParseNumber(value, &number) && number <= 600000) {
            options->settleMs = number;
        } else if (key == "cue-busy" && ParseNumber(value, &number)) {
            options->cueBusy = static_cast<int>(number);
        } else if (key == "sync-busy" && ParseNumber(value, &number)) {
            options->syncBusy = static_cast<int>(number);
        } else if (key == "sense" && (value == "fixed" || value == "descriptor")) {
            options->descriptorSense = value == "descriptor";
        } else if (key == "deferred" && (value == "0" || value == "1")) {
            options->deferredError = value == "1";
        } else if (key == "recovered" && ParseNumber(value, &number) && number >= 1) {
            options->recovered = static_cast<std::int64_t>(number);
        } else if (key == "max-transfer" && ParseNumber(value, &number) && number >= 2448) {
            options->maxTransfer = static_cast<std::size_t>(number);
        } else if (key == "profile" &&
                   (value == "cdr" || value == "cdrw" || value == "dvdr" || value == "cdrom" || value == "none")) {
            options->profile = value;
        } else if (key == "atip") {
            if (!ParseMsf(value, &options->atipLeadIn))
                return fail("atip must be MM:SS:FF");
        } else if (key == "command-ms" && ParseNumber(value, &number) && number <= 60000) {
            options->commandMs = number;
        } else if (key == "di-capacity" && value == "none") {
            options->discInfoCapacity = false;
        } else if (key == "type" && (value == "cd" || value == "disk")) {
            options->disk = value == "disk";
        } else if (key == "caps") {
            for (std::size_t from = 0; from <= value.size();) {
                std::size_t comma = value.find(',', from);
                if (comma == std::string::npos)
                    comma = value.size();
                const std::string cap = value.substr(from, comma - from);
                from = comma + 1;
                if (cap == "no-cdr-write")
                    options->cdWriter = false;
                else if (cap == "no-burn-proof")
                    options->burnProof = false;
                else
                    return fail("caps takes no-cdr-write and no-burn-proof, not \"" + cap + "\"");
            }
        } else if (key == "inject") {
            for (std::size_t from = 0; from <= value.size();) {
                std::size_t bar = value.find('|', from);
                if (bar == std::string::npos)
                    bar = value.size();
                const std::string rule = value.substr(from, bar - from);
                from = bar + 1;
                InjectedAnswer answer;
                if (!ParseInjectRule(rule, &answer))
                    return fail("inject rule \"" + rule +
                                "\" is not OP@N:ACTION or OP@N+:ACTION (OP two hex digits, N from 1; ACTION "
                                "KK/AA/QQ in hex, reset, short=BYTES or hold=MS)");
                options->inject.push_back(answer);
            }
        } else {
            return fail("unknown or bad option \"" + pair + "\"");
        }
    }
    return true;
}

std::unique_ptr<EmulatedRecorder> EmulatedRecorder::Open(const std::string& name, std::string* error,
                                                         DriveAccess access)
{
    EmulatedOptions options;
    if (!ParseEmulatedName(name, &options, error))
        return nullptr;
    std::error_code ec;
    fs::create_directories(options.folder, ec);
    if (!fs::is_directory(options.folder)) {
        if (error)
            *error = name + ": cannot use the folder " + options.folder;
        return nullptr;
    }
    FileDescriptor lock;
    if (access == DriveAccess::Exclusive) {
        // One user at a time, as the exclusive open of a real drive: the lock goes with the
        // descriptor, so a killed program leaves none behind.
        lock.Reset(::open((fs::path(options.folder) / "drive.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (!lock || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (error)
                *error = "The drive " + name + " is in use.";
            return nullptr;
        }
    }
    std::unique_ptr<EmulatedRecorder> recorder(new EmulatedRecorder(options));
    recorder->lock_ = std::move(lock);
    recorder->commandLog_ = std::fopen(recorder->PathOf("commands.log").c_str(), "a");
    if (!recorder->commandLog_) {
        if (error)
            *error = name + ": cannot write " + recorder->PathOf("commands.log") + ": " + std::strerror(errno);
        return nullptr;
    }
    recorder->device_.devicePath = name;
    // A device that is no CD drive is refused as a real one is; its INQUIRY is in commands.log.
    if (std::string why; !IdentifyDrive(*recorder, &recorder->device_, &why)) {
        if (error)
            *error = name + ": " + why;
        return nullptr;
    }
    recorder->Settle(); // opened just after the disc went in: it spins up first
    return recorder;
}

EmulatedRecorder::EmulatedRecorder(EmulatedOptions options) : options_(std::move(options))
{
    media_ = options_.disc == "none" ? Media::None : options_.disc == "cdrw" ? Media::Cdrw : Media::Cdr;
    complete_ = options_.disc == "written" || options_.disc == "appendable";
    appendable_ = options_.disc == "appendable";
    LoadState();
    if (options_.profile == "cdrom") {
        // A pressed disc: closed for good, whatever drive.ini held.
        media_ = Media::Pressed;
        complete_ = true;
        appendable_ = false;
    }
    notReadyLeft_ = options_.notReady;
    busyLeft_ = options_.busy;
    cueBusyLeft_ = options_.cueBusy;
    syncBusyLeft_ = options_.syncBusy;
    if (options_.settleMs < 0)
        options_.settleMs = kDefaultSettleMs * TimeScale();
    attention_ = options_.unitAttention; // power on
    DefaultWriteParameters();
    lowestLevel_ = kBufferBlocks;
}

void EmulatedRecorder::DefaultWriteParameters()
{
    // Page 05 as a drive reports it before anyone set it: track-at-once, Mode 1.
    std::memset(writeParameters_, 0, sizeof writeParameters_);
    writeParameters_[0] = 0x80 | kPageWriteParameters;
    writeParameters_[1] = kWriteParametersLength - 2;
    writeParameters_[2] = 0x01;
    writeParameters_[3] = 0x04;
    writeParameters_[4] = 0x08;
}

// What a bus reset or a power glitch leaves: no cue sheet, no write parameters, no open
// session and no lock, and a drive that spins up again. Blocks already on the disc stay,
// so a disc written on is no longer blank, and the broken session gets no disc.cue.
void EmulatedRecorder::PowerOnReset()
{
    if (sessionOpen_)
        EndSession(false);
    cueSheet_.clear();
    DefaultWriteParameters();
    prevented_ = false;
    streaming_ = false;
    level_ = 0;
    lastWasWrite_ = false;
    deferredSent_ = false;
    attention_ = false; // the answer to this command is the UNIT ATTENTION
    Settle();
}

EmulatedRecorder::~EmulatedRecorder()
{
    if (sessionOpen_)
        EndSession(false);
    if (commandLog_)
        std::fclose(commandLog_);
}

std::string EmulatedRecorder::PathOf(const char* name) const
{
    return (fs::path(options_.folder) / name).string();
}

void EmulatedRecorder::LoadState()
{
    const std::string path = PathOf("drive.ini");
    if (!fs::exists(path))
        return;
    IniFile ini;
    if (ini.Load(path) != IniLoadStatus::Loaded)
        return;
    const std::string disc = ini.GetString("DRIVE", "disc", "cdr");
    media_ = disc == "none"    ? Media::None
             : disc == "cdrw"  ? Media::Cdrw
             : disc == "cdrom" ? Media::Pressed
                               : Media::Cdr;
    const std::string status = ini.GetString("DRIVE", "status", "blank");
    complete_ = status != "blank";
    appendable_ = status == "appendable";
    trayOpen_ = ini.GetString("DRIVE", "tray", "closed") == "open";
    // An erase another user started may still be running: busy until its end.
    const std::string until = ini.GetString("DRIVE", "erase-until", "");
    if (!until.empty() && until.size() <= 15 && until.find_first_not_of("0123456789") == std::string::npos) {
        const auto end = std::chrono::system_clock::time_point(std::chrono::milliseconds(std::stoll(until)));
        const auto now = std::chrono::system_clock::now();
        if (end > now) {
            eraseEnd_ = end;
            eraseUntil_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(end - now);
        }
    }
}

void EmulatedRecorder::SaveState() const
{
    IniFile ini;
    ini.SetString("DRIVE", "disc",
                  media_ == Media::None      ? "none"
                  : media_ == Media::Cdrw    ? "cdrw"
                  : media_ == Media::Pressed ? "cdrom"
                                             : "cdr");
    ini.SetString("DRIVE", "status", !complete_ ? "blank" : appendable_ ? "appendable" : "complete");
    ini.SetString("DRIVE", "tray", trayOpen_ ? "open" : "closed");
    if (eraseEnd_ > std::chrono::system_clock::now()) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(eraseEnd_.time_since_epoch()).count();
        ini.SetString("DRIVE", "erase-until", std::to_string(ms));
    }
    ini.Save(PathOf("drive.ini"));
}

int EmulatedRecorder::Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
{
    sense_ = SenseData::Make(key, asc, ascq, options_.descriptorSense);
    return kScsiCheckCondition;
}

void EmulatedRecorder::Settle()
{
    const auto duration =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(options_.settleMs));
    settleUntil_ = Clock::now() + duration;
}

int EmulatedRecorder::MediumCheck()
{
    if (trayOpen_)
        return Check(kSenseNotReady, 0x3A, 0x02);
    if (media_ == Media::None)
        return Check(kSenseNotReady, 0x3A, 0x00);
    if (Clock::now() < eraseUntil_)
        return Check(kSenseNotReady, 0x04, 0x07);
    if (Clock::now() < settleUntil_)
        return Check(kSenseNotReady, 0x04, 0x01);
    return kScsiSuccess;
}

void EmulatedRecorder::Log(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* out,
                           std::size_t outLength, int result)
{
    if (!commandLog_)
        return;
    for (std::size_t i = 0; i < cdbLength; ++i)
        std::fprintf(commandLog_, "%s%02X", i ? " " : "", cdb[i]);
    std::fprintf(commandLog_, " out=%zu result=%d", outLength, result);
    if (result == kScsiCheckCondition)
        std::fprintf(commandLog_, " sense=%02X/%02X/%02X%s", sense_.Key(), sense_.Asc(), sense_.Ascq(),
                     sense_.Deferred() ? " deferred" : "");
    if (cdbLength && cdb[0] == kOpModeSelect10 && out) {
        std::fputs(" data=", commandLog_);
        for (std::size_t i = 0; i < std::min<std::size_t>(outLength, 128); ++i)
            std::fprintf(commandLog_, "%02X", out[i]);
    }
    std::fputc('\n', commandLog_);
    std::fflush(commandLog_); // readable while the drive is open, and complete if the program dies
}

int EmulatedRecorder::ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                                     std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength)
{
    failure_.clear();
    sense_ = SenseData{}; // a message never carries the sense of an earlier command
    if (!cdb || cdbLength < 6 || cdbLength > 16) {
        failure_ = "command block of " + std::to_string(cdbLength) + " bytes";
        Log(cdb, cdb ? std::min<std::size_t>(cdbLength, 16) : 0, nullptr, outLength, kScsiFailure);
        return kScsiFailure;
    }
    resid_ = 0;
    if (options_.maxTransfer && std::max(outLength, inLength) > options_.maxTransfer) {
        // What the kernel says when a transfer is over the drive's limit.
        failure_ = CommandName(cdb[0]) + ": " + std::strerror(EINVAL);
        Log(cdb, cdbLength, dataOut, outLength, kScsiFailure);
        return kScsiFailure;
    }
    if (options_.commandMs > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(options_.commandMs));
    if (dataIn && inLength)
        std::memset(dataIn, 0, inLength);
    int result;
    const std::uint8_t op = cdb[0];
    // Injected answers come first: a reset or a bus error meets whatever the drive had pending.
    const std::int64_t nth = ++received_[op];
    const InjectedAnswer* answer = nullptr;
    const InjectedAnswer* shortened = nullptr;
    double holdMs = 0;
    for (const InjectedAnswer& rule : options_.inject) {
        if (rule.opcode != op || nth < rule.nth || (nth > rule.nth && !rule.onward))
            continue;
        if (rule.kind == InjectedAnswer::Kind::Hold)
            holdMs += rule.ms;
        else if (rule.kind == InjectedAnswer::Kind::Short)
            shortened = shortened ? shortened : &rule;
        else
            answer = answer ? answer : &rule;
    }
    if (holdMs > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(holdMs));
    if (answer && answer->kind == InjectedAnswer::Kind::Reset) {
        PowerOnReset();
        result = Check(kSenseUnitAttention, 0x29, 0x00);
    } else if (answer) {
        result = Check(answer->key, answer->asc, answer->ascq);
    } else if (attention_ && op != kOpInquiry && op != 0x03 /* REQUEST SENSE */ && op != kOpGetConfiguration) {
        attention_ = false;
        result = Check(kSenseUnitAttention, attentionAsc_, 0x00);
    } else if (options_.deferredError && lastWasWrite_ && op != kOpWrite10 && !deferredSent_) {
        // The drive reports a failure of data it had taken: the session is lost.
        deferredSent_ = true;
        sessionBroken_ = true;
        sense_ = SenseData::Make(kSenseMediumError, 0x0C, 0x00, options_.descriptorSense, true);
        result = kScsiCheckCondition;
    } else {
        result = Dispatch(cdb, cdbLength, dataOut, outLength, dataIn, inLength);
    }
    if (shortened && dataIn && shortened->bytes < inLength) {
        // The bridge or the cable lost the end of the transfer: the host sees it in the residual.
        std::memset(dataIn + shortened->bytes, 0, inLength - shortened->bytes);
        resid_ = std::max(resid_, inLength - shortened->bytes);
    }
    lastWasWrite_ = op == kOpWrite10 ? (result == kScsiSuccess || lastWasWrite_) : false;
    Log(cdb, cdbLength, dataOut, outLength, result);
    return result;
}

int EmulatedRecorder::Dispatch(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* out,
                               std::size_t outLength, std::uint8_t* in, std::size_t inLength)
{
    const std::size_t expected = cdb[0] < 0x20 ? 6 : cdb[0] < 0x60 ? 10 : 12;
    if (cdbLength < expected)
        return Check(kSenseIllegalRequest, 0x24, 0x00);
    if (options_.disk)
        return DiskDispatch(cdb, in, inLength);
    if (!options_.cdWriter &&
        (cdb[0] == kOpWrite10 || cdb[0] == kOpSendCueSheet || cdb[0] == kOpBlank || cdb[0] == kOpSendOpcInformation))
        return Check(kSenseIllegalRequest, 0x20, 0x00); // a reader knows no writing commands
    switch (cdb[0]) {
    case kOpReadToc:
        return ReadToc(cdb, in, inLength);
    case kOpGetConfiguration:
        return GetConfiguration(in, inLength);
    case kOpTestUnitReady:
        if (busyLeft_ > 0) {
            --busyLeft_;
            return Check(kSenseNotReady, 0x04, 0x07);
        }
        return MediumCheck();
    case kOpInquiry:
        return Inquiry(in, inLength);
    case kOpModeSense10:
        return ModeSense(cdb, in, inLength);
    case kOpModeSelect10:
        return ModeSelect(out, outLength);
    case kOpReadDiscInformation:
        return ReadDiscInformation(in, inLength);
    case kOpReadTrackInformation:
        return ReadTrackInformation(in, inLength);
    case kOpSetCdSpeed:
        return kScsiSuccess;
    case kOpSendOpcInformation:
        if (int r = MediumCheck())
            return r;
        if (options_.failOpc)
            return Check(kSenseIllegalRequest, 0x73, 0x00);
        return kScsiSuccess;
    case kOpSendCueSheet:
        if (cueBusyLeft_ > 0 && !MediumCheck()) {
            --cueBusyLeft_;
            return Check(kSenseNotReady, 0x04, 0x08);
        }
        return SendCueSheet(out, outLength);
    case kOpWrite10:
        return Write(cdb, out, outLength);
    case kOpSynchronizeCache:
        if (syncBusyLeft_ > 0 && sessionOpen_) {
            --syncBusyLeft_;
            return Check(kSenseNotReady, 0x04, 0x08);
        }
        return SynchronizeCache();
    case kOpPreventAllowMediumRemoval:
        prevented_ = (cdb[4] & 0x01) != 0;
        return kScsiSuccess;
    case kOpStartStopUnit:
        if ((cdb[4] & 0x03) == kStartStopEject || (cdb[4] & 0x03) == kStartStopLoad) {
            // The tray stays locked while a session is being written or the host prevents removal.
            if ((sessionOpen_ || prevented_) && (cdb[4] & 0x03) == kStartStopEject)
                return Check(kSenseIllegalRequest, 0x53, 0x02);
            const bool load = (cdb[4] & 0x03) == kStartStopLoad;
            if (load && trayOpen_) {
                attention_ = options_.unitAttention;
                attentionAsc_ = 0x28; // medium may have changed
                Settle();
            }
            trayOpen_ = !load;
            SaveState();
        }
        return kScsiSuccess;
    case kOpBlank:
        return Blank(cdb);
    case kOpReadCd:
        return ReadCd(cdb, in, inLength);
    default:
        return Check(kSenseIllegalRequest, 0x20, 0x00);
    }
}

// type=disk: a SCSI or USB disk. Some opcodes the CD drivers send mean other things there
// (51h XPWRITE, A1h ATA PASS-THROUGH, 2Ah a WRITE of the disk's own blocks): none is
// carried out, and the commands only CD drives know are unknown to it.
int EmulatedRecorder::DiskDispatch(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength)
{
    switch (cdb[0]) {
    case kOpInquiry:
        return Inquiry(in, inLength);
    case kOpTestUnitReady:
    case 0x03: // REQUEST SENSE
    case kOpStartStopUnit:
    case kOpPreventAllowMediumRemoval:
    case kOpSynchronizeCache:
        return kScsiSuccess;
    case kOpModeSense10:
        return Check(kSenseIllegalRequest, 0x24, 0x00); // no CD pages on a disk
    case kOpModeSelect10:
        return Check(kSenseIllegalRequest, 0x26, 0x00);
    case kOpWrite10:
    case kOpReadDiscInformation:
    case kOpBlank:
        return Check(kSenseIllegalRequest, 0x24, 0x00);
    default:
        return Check(kSenseIllegalRequest, 0x20, 0x00);
    }
}

int EmulatedRecorder::Inquiry(std::uint8_t* in, std::size_t inLength)
{
    std::uint8_t data[96]{};
    data[0] = options_.disk ? 0x00 : 0x05; // direct-access block device, or CD/DVD device
    data[1] = options_.disk ? 0x00 : 0x80; // removable medium (a disk's is not)
    data[2] = 0x05;
    data[3] = 0x02;
    data[4] = sizeof data - 5;
    std::memcpy(data + 8, Padded(options_.vendor, 8).data(), 8);
    std::memcpy(data + 16, Padded(options_.product, 16).data(), 16);
    std::memcpy(data + 32, "1.00", 4);
    if (in)
        std::memcpy(in, data, std::min(inLength, sizeof data));
    return kScsiSuccess;
}

int EmulatedRecorder::ModeSense(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength)
{
    std::uint8_t page[kWriteParametersLength]{};
    std::size_t pageLength = 0;
    switch (cdb[2] & 0x3F) {
    case kPageWriteParameters:
        if (!options_.cdWriter)
            return Check(kSenseIllegalRequest, 0x24, 0x00); // a reader has no page 05
        std::memcpy(page, writeParameters_, sizeof writeParameters_);
        pageLength = sizeof writeParameters_;
        break;
    case kPageCapabilities:
        page[0] = kPageCapabilities;
        page[1] = kCapabilitiesLength - 2;
        page[2] = 0x03; // reads CD-R and CD-RW
        page[3] = options_.cdWriter ? 0x07 : 0x00; // writes CD-R, CD-RW, test write
        page[4] = options_.burnProof ? 0x80 : 0x00; // buffer-underrun-free recording (Burn-Proof)
        page[6] = 0x29; // tray, eject
        pageLength = kCapabilitiesLength;
        break;
    default:
        return Check(kSenseIllegalRequest, 0x24, 0x00);
    }
    std::uint8_t data[8 + kWriteParametersLength]{};
    ModeHeader10 header;
    header.dataLength.Set(static_cast<std::uint32_t>(6 + pageLength));
    std::memcpy(data, &header, sizeof header);
    std::memcpy(data + 8, page, pageLength);
    if (in)
        std::memcpy(in, data, std::min(inLength, 8 + pageLength));
    return kScsiSuccess;
}

int EmulatedRecorder::ModeSelect(const std::uint8_t* out, std::size_t outLength)
{
    if (!out || outLength < 8)
        return Check(kSenseIllegalRequest, 0x1A, 0x00);
    ModeHeader10 header;
    std::memcpy(&header, out, sizeof header);
    // Mode data length, medium type and the device-specific byte are reserved in MODE SELECT.
    for (int i = 0; i < 6; ++i)
        if (out[i] != 0)
            return Check(kSenseIllegalRequest, 0x26, 0x00);
    const std::size_t offset = 8 + header.blockDescriptorLength.Get();
    if (offset + 2 > outLength)
        return Check(kSenseIllegalRequest, 0x1A, 0x00);
    const std::uint8_t* page = out + offset;
    const std::size_t length = std::size_t(page[1]) + 2;
    if (offset + length > outLength)
        return Check(kSenseIllegalRequest, 0x1A, 0x00);
    if ((page[0] & 0x3F) == kPageCapabilities)
        return kScsiSuccess;
    if ((page[0] & 0x3F) != kPageWriteParameters || length < 10 || !options_.cdWriter)
        return Check(kSenseIllegalRequest, 0x26, 0x00);
    const int writeType = page[2] & 0x0F;
    const int blockType = page[4] & 0x0F;
    if (writeType != 1 && writeType != 2 && writeType != 3)
        return Check(kSenseIllegalRequest, 0x26, 0x00);
    if (writeType == 3 &&
        (blockType < 1 || blockType > 3 || options_.rawTypes.find(char('0' + blockType)) == std::string::npos))
        return Check(kSenseIllegalRequest, 0x26, 0x00);
    if ((page[2] & 0x40) && !options_.burnProof)
        return Check(kSenseIllegalRequest, 0x26, 0x00); // BUFE on a drive without Burn-Proof
    if (sessionOpen_)
        return Check(kSenseIllegalRequest, 0x2C, 0x00);
    std::memcpy(writeParameters_ + 2, page + 2, std::min(length, kWriteParametersLength) - 2);
    return kScsiSuccess;
}

int EmulatedRecorder::ReadDiscInformation(std::uint8_t* in, std::size_t inLength)
{
    if (int r = MediumCheck())
        return r;
    std::uint8_t data[kDiscInfoLength]{};
    data[1] = kDiscInfoLength - 2;
    // Status: empty (00), incomplete with an empty last session (01), or complete with a
    // complete last session (0E); bit 4 erasable.
    const std::uint8_t status = !complete_ ? 0x00 : appendable_ ? 0x01 : 0x0E;
    data[2] = static_cast<std::uint8_t>(status | (media_ == Media::Cdrw ? 0x10 : 0));
    data[3] = 1;
    data[4] = appendable_ ? 2 : 1; // sessions, the empty one to come included
    data[5] = appendable_ ? 2 : 1; // first and last track of the last session
    data[6] = appendable_ ? 2 : 1;
    data[8] = complete_ && media_ != Media::Pressed ? 0x20 : 0x00; // CD-ROM XA, or CD-DA / CD-ROM
    if (complete_ && !appendable_) {
        std::memset(data + 16, 0xFF, 8);
    } else {
        if (appendable_) {
            // The next session's lead-in follows the first session's lead-out.
            std::error_code ec;
            const auto size = fs::file_size(PathOf("disc.bin"), ec);
            const std::int64_t blocks = ec ? 0 : static_cast<std::int64_t>(size / 2352);
            PutMsf(data + kDiscInfoLeadInStart, static_cast<std::int32_t>(std::min<std::int64_t>(
                                                    blocks + 150 + kMaxLeadOut, options_.lastLeadOutStart)));
        } else if (options_.leadInKnown) {
            PutMsf(data + kDiscInfoLeadInStart, options_.leadInStart);
        } else {
            std::memset(data + kDiscInfoLeadInStart - 1, 0xFF, 4); // not known (MMC: FFh FFh FFh)
        }
        if (options_.discInfoCapacity)
            PutMsf(data + kDiscInfoLastLeadOutStart, options_.lastLeadOutStart);
        else
            std::memset(data + kDiscInfoLastLeadOutStart - 1, 0xFF, 4); // only the ATIP has it
    }
    if (in)
        std::memcpy(in, data, std::min(inLength, sizeof data));
    return kScsiSuccess;
}

int EmulatedRecorder::ReadTrackInformation(std::uint8_t* in, std::size_t inLength)
{
    if (int r = MediumCheck())
        return r;
    std::uint8_t data[36]{};
    data[1] = sizeof data - 2;
    data[2] = 1;
    data[3] = 1;
    data[5] = 0x04;
    if (!complete_) {
        data[6] = 0x42; // blank, data mode 2
        data[7] = 0x01; // next writable address valid
        BigEndian32 free;
        free.Set(static_cast<std::uint32_t>(options_.lastLeadOutStart - 150));
        std::memcpy(data + 16, &free, 4);
    } else {
        data[6] = 0x02;
    }
    if (in)
        std::memcpy(in, data, std::min(inLength, sizeof data));
    return kScsiSuccess;
}

void EmulatedRecorder::BeginSession()
{
    sessionOpen_ = true;
    sessionBroken_ = false;
    wroteBlocks_ = false;
    streaming_ = false;
    level_ = 0;
    discBlocks_ = 0;
    rawCues_.clear();
    rawTrack_ = rawIndex_ = -1;
    leadOutBlocks_ = 0;
    lastRawAbsolute_ = -1;
    const bool simulate = (writeParameters_[2] & 0x10) != 0;
    if (writesLog_)
        std::fclose(writesLog_);
    writesLog_ = std::fopen(PathOf("writes.log").c_str(), "w");
    if (!simulate) {
        // From the first write on the disc is no longer blank, whatever happens to the
        // program: a killed burn leaves a disc that cannot be written again.
        const bool wasComplete = complete_;
        complete_ = true;
        SaveState();
        complete_ = wasComplete;
        discFile_.Reset(::open(PathOf("disc.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        ::unlink(PathOf("disc.cue").c_str());
        if ((writeParameters_[2] & 0x0F) == 3)
            subchannelFile_.Reset(
                ::open(PathOf("subchannel.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    }
}

void EmulatedRecorder::EndSession(bool complete)
{
    sessionOpen_ = false;
    streaming_ = false;
    if (writesLog_) {
        std::fclose(writesLog_);
        writesLog_ = nullptr;
    }
    const bool hadDisc = discFile_.IsValid();
    discFile_.Reset();
    subchannelFile_.Reset();
    if (!hadDisc)
        return;
    // Whatever reached the disc (lead-in and pregap included) makes it a written disc,
    // finished or not; a session that never got a block leaves it blank.
    complete_ = wroteBlocks_;
    appendable_ = false;
    SaveState();
    if (!complete)
        return;
    std::vector<CueRecord> cues =
        (writeParameters_[2] & 0x0F) == 3 ? rawCues_ : CueListFromSheet(cueSheet_.data(), cueSheet_.size());
    std::ofstream cue(PathOf("disc.cue"), std::ios::trunc);
    cue << BinCueSink::CueSheetText("disc.bin", cues);
}

int EmulatedRecorder::SendCueSheet(const std::uint8_t* out, std::size_t outLength)
{
    if (int r = MediumCheck())
        return r;
    if (media_ == Media::Pressed)
        return Check(kSenseIllegalRequest, 0x30, 0x05); // a pressed disc cannot be written
    if (complete_ || sessionOpen_)
        return Check(kSenseIllegalRequest, 0x2C, 0x00); // one cue sheet per session
    if ((writeParameters_[2] & 0x0F) != 2)
        return Check(kSenseIllegalRequest, 0x2C, 0x00);
    if (!out || outLength == 0 || outLength % 8 != 0 || outLength > 8 * 300)
        return Check(kSenseIllegalRequest, 0x1A, 0x00);
    std::string diagnostic;
    PQChannelEncoder check;
    PqSubcode16 format;
    if (!check.Start(&format, 32, out, outLength, 0, &diagnostic))
        return Check(kSenseIllegalRequest, 0x26, 0x00);
    {
        std::ofstream file(PathOf("cuesheet.bin"), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out), static_cast<std::streamsize>(outLength));
    }
    CueSheetEntry leadOut;
    std::memcpy(&leadOut, out + outLength - 8, 8);
    const std::int64_t leadOutAddress = leadOut.Time() - 150;
    if (leadOutAddress > options_.lastLeadOutStart - 150)
        return Check(kSenseIllegalRequest, 0x21, 0x00);
    cueSheet_.assign(out, out + outLength);
    BeginSession();
    nextAddress_ = -150;
    sessionEnd_ = leadOutAddress;
    return kScsiSuccess;
}

// The drive buffer. Like a real writer, the drive starts writing once its buffer is full
// (or the host flushes it) and from then on takes speed × 75 blocks a second off it.
// Returns false when it ran dry without Burn-Proof (loss of streaming). Holds the caller
// while the buffer is full, as a drive holds a WRITE until it has room.
bool EmulatedRecorder::Pace(std::uint32_t blocks, bool* underrun)
{
    *underrun = false;
    if (options_.speed <= 0)
        return true;
    const double rate = options_.speed * 75.0;
    auto now = Clock::now();
    if (streaming_) {
        level_ -= std::chrono::duration<double>(now - last_).count() * rate;
        last_ = now;
        if (level_ < 0) {
            if (!(writeParameters_[2] & 0x40)) {
                *underrun = true;
                return false;
            }
            ++recoveries_; // Burn-Proof: the drive stops, waits for data and links on
            level_ = 0;
        }
        lowestLevel_ = std::min(lowestLevel_, level_);
    } else if (level_ + blocks > kBufferBlocks) {
        streaming_ = true;
        last_ = now;
    }
    if (streaming_) {
        const double excess = level_ + blocks - kBufferBlocks;
        if (excess > 0) {
            const double wait = excess / rate;
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            now = Clock::now();
            level_ -= std::chrono::duration<double>(now - last_).count() * rate;
            last_ = now;
            level_ = std::max(level_, 0.0);
        }
    }
    level_ += blocks;
    return true;
}

void EmulatedRecorder::NoteRawBlock(std::int32_t address, const std::uint8_t* sub)
{
    bool p = false;
    std::uint8_t q[12];
    rawFormat_->Decode(sub, &p, q);
    if ((q[0] & 0x0F) != 1 || q[1] == 0 || address < 0)
        return;
    const int track = q[1] == kCueLeadOutTrack ? kCueLeadOutTrack : FromBcd(q[1]);
    const int index = FromBcd(q[2]);
    if (track == rawTrack_ && index == rawIndex_)
        return;
    CueRecord record;
    record.sector = static_cast<std::uint32_t>(address);
    if (track == kCueLeadOutTrack)
        record.kind = CueKind::LeadOutStart;
    else if (index == 0)
        record.kind = CueKind::PregapStart;
    else if (index == 1)
        record.kind = CueKind::TrackStart;
    else
        record.kind = CueKind::IndexMark;
    rawCues_.push_back(record);
    rawTrack_ = track;
    rawIndex_ = index;
}

int EmulatedRecorder::Write(const std::uint8_t* cdb, const std::uint8_t* out, std::size_t outLength)
{
    if (int r = MediumCheck())
        return r;
    Write10Cdb command;
    std::memcpy(&command, cdb, sizeof command);
    const std::int64_t address = command.address.GetSigned();
    const std::uint32_t blocks = command.blocks.Get();
    const int writeType = writeParameters_[2] & 0x0F;
    const bool simulate = (writeParameters_[2] & 0x10) != 0;
    if (media_ == Media::Pressed)
        return Check(kSenseIllegalRequest, 0x30, 0x05);
    if (complete_)
        return Check(kSenseIllegalRequest, 0x2C, 0x00); // the disc is not blank
    std::size_t blockSize = 0;
    if (writeType == 2) {
        if (!sessionOpen_ || cueSheet_.empty())
            return Check(kSenseIllegalRequest, 0x2C, 0x00); // no cue sheet
        blockSize = 2336;
    } else if (writeType == 3) {
        const int type = writeParameters_[4] & 0x0F;
        blockSize = 2352 + (type == 1 ? 16 : 96);
        if (!sessionOpen_) {
            // Raw writing begins with the lead-in at the start the drive reported, and nowhere else.
            const std::int32_t reported = options_.leadInKnown ? options_.leadInStart : options_.atipLeadIn;
            if (reported < 90 * 4500 || address != reported - 450150)
                return Check(kSenseIllegalRequest, 0x21, 0x02);
            BeginSession();
            nextAddress_ = address;
            sessionEnd_ = options_.lastLeadOutStart - 150 + kMaxLeadOut;
            if (type == 1)
                rawFormat_ = std::make_unique<PqSubcode16>();
            else
                rawFormat_ = std::make_unique<PwSubcode96>();
        }
    } else {
        return Check(kSenseIllegalRequest, 0x64, 0x00);
    }
    if (sessionBroken_)
        return Check(kSenseIllegalRequest, 0x2C, 0x00);
    if (blocks == 0)
        return kScsiSuccess;
    if (!out || outLength != blocks * blockSize)
        return Check(kSenseIllegalRequest, 0x24, 0x00); // wrong block size
    if (address != nextAddress_)
        return Check(kSenseIllegalRequest, 0x21, 0x02);
    if (address + blocks > sessionEnd_)
        return Check(kSenseIllegalRequest, 0x21, 0x00);
    if (address >= 0 && notReadyLeft_ > 0) {
        --notReadyLeft_;
        return Check(kSenseNotReady, 0x04, 0x08);
    }
    if (options_.failWrite >= 0 && options_.failWrite >= address && options_.failWrite < address + blocks)
        return Check(kSenseMediumError, 0x0C, 0x00);
    bool underrun = false;
    if (!Pace(blocks, &underrun)) {
        sessionBroken_ = true;
        return Check(kSenseMediumError, 0x0C, 0x09);
    }
    if (writesLog_)
        std::fprintf(writesLog_, "%lld %u %zu\n", static_cast<long long>(address), blocks, blockSize);
    std::vector<std::uint8_t> sector(2352);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const std::int64_t at = address + b;
        const std::uint8_t* block = out + b * blockSize;
        bool dataBlock = at >= 0;
        if (writeType == 2) {
            if (dataBlock) {
                std::memset(sector.data(), 0, 16);
                std::memset(sector.data() + 1, 0xFF, 10);
                WriteBcdAddress(sector.data() + 12, static_cast<std::uint32_t>(at));
                sector[15] = 2; // the drive adds sync and a Mode 2 header
                std::memcpy(sector.data() + 16, block, 2336);
            }
        } else {
            if (!CheckRawQ(static_cast<std::int32_t>(at), block + 2352)) {
                sessionBroken_ = true;
                return Check(kSenseIllegalRequest, 0x24, 0x00);
            }
            NoteRawBlock(static_cast<std::int32_t>(at), block + 2352);
            if (subchannelFile_ && ::write(subchannelFile_.Get(), block + 2352, blockSize - 2352) < 0) {
                failure_ = PathOf("subchannel.bin") + ": " + std::strerror(errno);
                return kScsiFailure;
            }
            dataBlock = dataBlock && rawTrack_ != kCueLeadOutTrack;
            if (dataBlock) {
                std::memcpy(sector.data(), block, 2352);
                ScrambleSector(sector.data()); // descrambles
            }
        }
        // Lead-in and pregap blocks are burned as well as data: any of them ends the blank disc.
        if (!simulate)
            wroteBlocks_ = true;
        if (dataBlock && at == options_.corrupt)
            sector[1000] ^= 0x5A;
        if (dataBlock && !simulate && discFile_) {
            if (::pwrite(discFile_.Get(), sector.data(), 2352, static_cast<off_t>(at) * 2352) != 2352) {
                failure_ = PathOf("disc.bin") + ": " + std::strerror(errno);
                return kScsiFailure;
            }
            discBlocks_ = std::max<std::int64_t>(discBlocks_, at + 1);
        }
    }
    nextAddress_ = address + blocks;
    if (++writeCount_ == options_.recovered)
        return Check(kSenseRecoveredError, 0x17, 0x01); // written, after retries
    return kScsiSuccess;
}

// The Q channel of a raw block as a drive checks it before recording: a good CRC, the
// lead-in's track 0, and in the program area and lead-out an absolute time equal to the
// block's address, track and index numbers that never go back.
bool EmulatedRecorder::CheckRawQ(std::int32_t address, const std::uint8_t* sub)
{
    bool p = false;
    std::uint8_t q[12];
    rawFormat_->Decode(sub, &p, q);
    if ((q[10] << 8 | q[11]) != QCrc(q))
        return false;
    if ((q[0] & 0x0F) != 1)
        return true; // catalog number or ISRC
    if (address < -150)
        return q[1] == 0;
    const int absolute = address + 150;
    if (q[7] != ToBcd(absolute / 4500) || q[8] != ToBcd(absolute / 75 % 60) || q[9] != ToBcd(absolute % 75))
        return false;
    if (q[1] == 0)
        return false;
    const int track = q[1] == kCueLeadOutTrack ? 100 : FromBcd(q[1]);
    const int index = FromBcd(q[2]);
    const int position = track * 100 + index;
    if (position < lastRawAbsolute_)
        return false;
    lastRawAbsolute_ = position;
    if (track == 100)
        ++leadOutBlocks_;
    return true;
}

int EmulatedRecorder::SynchronizeCache()
{
    if (int r = MediumCheck())
        return r;
    if (!sessionOpen_)
        return kScsiSuccess;
    if (options_.speed > 0 && level_ > 0) {
        // The drive answers once its buffer is on the disc.
        const double rate = options_.speed * 75.0;
        const double left =
            streaming_ ? level_ - std::chrono::duration<double>(Clock::now() - last_).count() * rate : level_;
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(left / rate));
    }
    const bool raw = (writeParameters_[2] & 0x0F) == 3;
    // A raw session is closed by the host's lead-out; without a whole one the disc cannot be read.
    const bool finished = !sessionBroken_ && (raw ? leadOutBlocks_ >= kMaxLeadOut : nextAddress_ >= sessionEnd_);
    const bool shortLeadOut = raw && !sessionBroken_ && nextAddress_ > 0 && !finished;
    EndSession(finished);
    Settle(); // the drive re-reads the disc it has just closed
    if (shortLeadOut)
        return Check(kSenseMediumError, 0x72, 0x00);
    return kScsiSuccess;
}

int EmulatedRecorder::Blank(const std::uint8_t* cdb)
{
    if (int r = MediumCheck())
        return r;
    if (media_ != Media::Cdrw)
        return Check(kSenseIllegalRequest, 0x30, 0x05);
    if (sessionOpen_)
        EndSession(false);
    complete_ = false;
    appendable_ = false;
    for (const char* name : {"disc.bin", "disc.cue", "subchannel.bin"})
        ::unlink(PathOf(name).c_str());
    const std::chrono::duration<double> duration(options_.eraseSeconds);
    if (cdb[1] & 0x10) {
        // Answered at once, busy until the end; drive.ini keeps the end for a later user
        // (another process), who meets the drive still erasing.
        eraseUntil_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(duration);
        eraseEnd_ = std::chrono::system_clock::now() +
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(duration);
        SaveState();
    } else {
        SaveState();
        std::this_thread::sleep_for(duration);
    }
    return kScsiSuccess;
}

int EmulatedRecorder::ReadToc(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength)
{
    if (int r = MediumCheck())
        return r;
    if ((cdb[2] & 0x0F) != 4 || media_ == Media::Pressed)
        return Check(kSenseIllegalRequest, 0x24, 0x00); // only the ATIP is asked for; a pressed disc has none
    const std::int32_t leadIn = options_.atipLeadIn >= 0 ? options_.atipLeadIn
                                : options_.leadInKnown   ? options_.leadInStart
                                                         : -1;
    if (leadIn < 0)
        return Check(kSenseIllegalRequest, 0x24, 0x00); // no ATIP on this disc
    std::uint8_t data[28]{};
    data[1] = sizeof data - 2;
    data[6] = media_ == Media::Cdrw ? 0x40 : 0x00;
    PutMsf(data + 8, leadIn);
    PutMsf(data + 12, options_.lastLeadOutStart);
    if (in)
        std::memcpy(in, data, std::min(inLength, sizeof data));
    if (inLength > sizeof data)
        resid_ = inLength - sizeof data;
    return kScsiSuccess;
}

int EmulatedRecorder::GetConfiguration(std::uint8_t* in, std::size_t inLength)
{
    std::string profile = options_.profile;
    if (profile.empty())
        profile = media_ == Media::None      ? "none"
                  : media_ == Media::Cdrw    ? "cdrw"
                  : media_ == Media::Pressed ? "cdrom"
                                             : "cdr";
    if (trayOpen_)
        profile = "none";
    const std::uint16_t code = profile == "cdr"     ? 0x0009
                               : profile == "cdrw"  ? 0x000A
                               : profile == "dvdr"  ? 0x0011
                               : profile == "cdrom" ? 0x0008
                                                    : 0;
    std::uint8_t data[8]{};
    data[3] = 4;
    data[6] = static_cast<std::uint8_t>(code >> 8);
    data[7] = static_cast<std::uint8_t>(code);
    if (in)
        std::memcpy(in, data, std::min(inLength, sizeof data));
    return kScsiSuccess;
}

int EmulatedRecorder::ReadCd(const std::uint8_t* cdb, std::uint8_t* in, std::size_t inLength)
{
    if (int r = MediumCheck())
        return r;
    ReadCdCdb command;
    std::memcpy(&command, cdb, sizeof command);
    const std::int64_t address = command.address.GetSigned();
    const std::uint32_t blocks = command.blocks.Get();
    if (command.fields != kReadCdWholeSector)
        return Check(kSenseIllegalRequest, 0x24, 0x00);
    if (!in || inLength < std::size_t(blocks) * 2352)
        return Check(kSenseIllegalRequest, 0x24, 0x00);
    std::error_code ec;
    const auto size = fs::file_size(PathOf("disc.bin"), ec);
    const std::int64_t written = (!complete_ || ec) ? 0 : static_cast<std::int64_t>(size / 2352);
    if (address < 0 || address + blocks > written)
        return Check(kSenseIllegalRequest, 0x21, 0x00);
    FileDescriptor file(::open(PathOf("disc.bin").c_str(), O_RDONLY | O_CLOEXEC));
    const std::size_t bytes = std::size_t(blocks) * 2352;
    if (!file || ::pread(file.Get(), in, bytes, static_cast<off_t>(address) * 2352) != static_cast<ssize_t>(bytes))
        return Check(kSenseMediumError, 0x11, 0x00);
    return kScsiSuccess;
}

} // namespace lumivox
