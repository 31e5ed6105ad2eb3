// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/RecorderFeed.h"

#include "recorder/DiscUtilities.h"
#include "recorder/SubChannel.h"
#include "vcd/Sector.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "base/FileDescriptor.h"

namespace lumivox {

std::unique_ptr<RecorderSink> OpenRecorderFeed(const BurnOptions& options, std::int64_t totalSectors,
                                               ProgressListener* listener, ManualResetEvent* cancel, std::string* error)
{
    std::string why;
    auto transport = OpenTransport(options.device, &why, DriveAccess::Exclusive);
    if (!transport) {
        *error = why;
        return nullptr;
    }
    const DeviceRecord& device = transport->Device();
    if (!device.writer) {
        *error = options.device + ": the drive cannot write CD-R discs";
        return nullptr;
    }
    if (device.readOnly && ::geteuid() != 0) {
        // Through a read-only descriptor the kernel passes only reading commands, unless
        // the caller may send any (root); a burn would fail at its first write command.
        *error = options.device + ": the drive opens only for reading; you need write access to " +
                 "the device node to burn";
        return nullptr;
    }
    std::unique_ptr<RecorderSink> sink(new RecorderSink());
    sink->options_ = options;
    sink->options_.speedIndex = SpeedIndexFromSetting(options.speedIndex);
    sink->listener_ = listener;
    sink->cancel_ = cancel;
    RecorderSink* raw = sink.get();
    if (cancel)
        raw->forwardCancel_.emplace(*cancel, [raw] { raw->abort_.Set(); });
    if (options.leaveNow)
        raw->forwardLeave_.emplace(*options.leaveNow, [raw] { raw->abort_.Set(); });
    sink->driver_ = MakeDriver(ChooseDriverKind(options.driver, device.product), *transport);
    sink->transport_ = std::move(transport);
    // The checks below wait for a drive that is still becoming ready; cancel ends the wait.
    sink->driver_->SetRun(RunSettings{}, nullptr, &sink->abort_);
    // A DVD or BD, or a disc that cannot be written, is refused before anything is written.
    const int profile = sink->driver_->CurrentProfile();
    if (profile > 0 && profile != 0x09 && profile != 0x0A) {
        *error = options.device + ": the drive holds a " + ProfileName(profile) +
                 (profile == 0x08 ? " (a pressed disc, which cannot be written)" : "") +
                 "; a Video CD is burned on a CD-R or CD-RW disc.";
        return nullptr;
    }
    const BlankCheckResult blank = CheckBlankDisc(*sink->driver_);
    if (blank.state != BlankState::Blank) {
        *error = options.device + ": " + (raw->abort_.IsSet() ? std::string("Cancelled") : blank.message);
        return nullptr;
    }
    // A drive that leaves the disc's size out of its disc information still has it from the
    // disc's pre-groove (the ATIP).
    DiscInfo info = blank.info;
    sink->driver_->CompleteCapacity(&info);
    const char* fallback = nullptr;
    if (sink->driver_->IsRaw() && sink->driver_->RawLeadInStart() < 0)
        fallback = "The drive gives no lead-in start for raw writing; writing session-at-once instead.";
    else if (sink->driver_->IsRaw() && info.capacity < 0)
        fallback = "The drive does not tell how much the disc holds, which raw writing needs; writing "
                   "session-at-once instead.";
    if (fallback) {
        // Raw writing needs the lead-in start and the disc's size; the drive itself knows
        // both when it writes session-at-once.
        sink->driver_ = MakeDriver(DriverKind::Mmc, *sink->transport_);
        if (listener) {
            ProgressEvent event = MakeProgressEvent(UM_RECORDER_INIT);
            event.text = fallback;
            listener->OnProgress(event);
        }
    }
    sink->discCapacity_ = info.capacity;
    sink->discErasable_ = info.erasable;
    if (totalSectors >= 0 && info.capacity >= 0 && totalSectors > info.capacity) {
        *error = options.device + ": " + CapacityText(info.capacity, totalSectors);
        return nullptr;
    }
    sink->queue_ = std::make_unique<BurnQueue>(&sink->abort_);
    return sink;
}

RecorderSink::~RecorderSink()
{
    if (thread_) {
        abort_.Set();
        thread_->Join();
    }
}

int RecorderSink::SetCueList(const std::vector<CueRecord>& cues)
{
    if (started_ || failed_) {
        error_ = options_.device + ": the burn was already started";
        return -1;
    }
    if (BuildCueSheet(cues, &cueSheet_) != 0) {
        error_ =
            options_.device + ": the track list does not end with a lead-out or needs more than 300 cue sheet entries";
        failed_ = true;
        return -1;
    }
    totalSectors_ = cues.back().sector;
    if (discCapacity_ >= 0 && totalSectors_ > static_cast<std::uint32_t>(discCapacity_)) {
        error_ = options_.device + ": " + CapacityText(discCapacity_, totalSectors_);
        failed_ = true;
        return -1;
    }
    hashes_.reserve(std::min<std::uint32_t>(totalSectors_, 500000));
    BurnThread::Setup setup;
    setup.driver = driver_.get();
    setup.queue = queue_.get();
    setup.cueSheet = cueSheet_;
    setup.totalSectors = totalSectors_;
    setup.settings.mode = options_.mode;
    setup.settings.burnProof = options_.burnProof;
    setup.settings.speedIndex = options_.speedIndex;
    setup.listener = listener_;
    setup.cancel = &abort_;
    setup.leaveNow = options_.leaveNow;
    setup.verify = options_.verify;
    setup.eject = options_.eject;
    setup.discErasable = discErasable_;
    setup.hashes = &hashes_;
    thread_ = std::make_unique<BurnThread>(std::move(setup));
    thread_->Start();
    started_ = true;
    staging_ = queue_->TakeFree();
    return 0;
}

// The burn thread has ended or the run was cancelled: the image writer stops at once.
int RecorderSink::Refuse()
{
    if (!failed_) {
        failed_ = true;
        if (thread_ && thread_->Ended()) {
            const BurnResult& result = thread_->Result();
            error_ = options_.device + ": " +
                     (result.status == BurnStatus::Cancelled ? std::string("Cancelled")
                      : result.text.empty()                  ? std::string("the burn ended early")
                                                             : result.text);
        } else if (cancel_ && cancel_->IsSet()) {
            error_ = options_.device + ": Cancelled";
        } else if (error_.empty()) {
            error_ = options_.device + ": the burn is not running";
        }
        Finish();
    }
    return -1;
}

bool RecorderSink::Flush(BurnBuffer::Kind kind)
{
    staging_->kind = kind;
    staging_->byteCount = staged_ * static_cast<std::uint32_t>(kRawSectorSize);
    staged_ = 0;
    if (!queue_->Push(std::move(staging_)))
        return false;
    staging_ = queue_->TakeFree();
    return true;
}

int RecorderSink::WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber)
{
    return WriteSectors(sector, sectorNumber, 1);
}

int RecorderSink::WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count)
{
    if (!started_ || failed_ || closed_)
        return Refuse();
    if (thread_->Ended() || abort_.IsSet())
        return Refuse();
    if (firstSector != nextSector_ || count > totalSectors_ - std::min(nextSector_, totalSectors_)) {
        error_ = options_.device + ": sector " + std::to_string(firstSector) + " came where sector " +
                 std::to_string(nextSector_) + " of " + std::to_string(totalSectors_) + " belongs";
        return Refuse();
    }
    const bool raw = driver_->IsRaw();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* sector = sectors + std::size_t(i) * kRawSectorSize;
        if (options_.verify && options_.mode == DiscMode::Write)
            hashes_.push_back(SectorHash(sector));
        if (raw) {
            std::uint8_t* slot = staging_->data.data() + std::size_t(staged_) * kRawSectorSize;
            std::memcpy(slot, sector, kRawSectorSize);
            PrepareRawSector(slot, runningAddress_);
        } else {
            std::memcpy(staging_->data.data() + std::size_t(staged_) * 2336, sector + 16, 2336);
        }
        ++runningAddress_;
        if (++staged_ == kBufferSectors && !Flush(BurnBuffer::Kind::Full))
            return Refuse();
    }
    nextSector_ += count;
    return 0;
}

void RecorderSink::Finish()
{
    if (thread_) {
        if (failed_ && !thread_->Ended())
            abort_.Set();
        thread_->Join();
        result_ = thread_->Result();
        // The sink stopped the run for a fault of its own: that is the run's end, not a cancel.
        const bool userCancel = cancel_ && cancel_->IsSet();
        if (failed_ && !userCancel && result_.status != BurnStatus::Failed) {
            result_.status = BurnStatus::Failed;
            result_.text = error_;
        }
    } else {
        result_.status = BurnStatus::Failed;
        result_.text = error_;
    }
}

int RecorderSink::CloseSink()
{
    if (closed_)
        return failed_ ? -1 : 0;
    if (!started_ || failed_) {
        closed_ = true;
        if (!failed_) {
            error_ = options_.device + ": the burn was never started";
            failed_ = true;
        }
        Finish();
        return -1;
    }
    if (nextSector_ != totalSectors_) {
        error_ = options_.device + ": the image is incomplete: " + std::to_string(nextSector_) + " of " +
                 std::to_string(totalSectors_) + " sectors were given";
        closed_ = true;
        failed_ = true;
        Finish();
        return -1;
    }
    closed_ = true;
    if (!Flush(BurnBuffer::Kind::Last) || !Flush(BurnBuffer::Kind::End)) {
        Refuse();
        return -1;
    }
    Finish();
    if (result_.status != BurnStatus::Succeeded) {
        failed_ = true;
        error_ = options_.device + ": " + result_.text;
        return -1;
    }
    if (result_.verify == VerifyStatus::Failed) {
        failed_ = true;
        error_ = options_.device + ": " + result_.verifyText;
        return -1;
    }
    return 0;
}

// ---- BIN/CUE images -----------------------------------------------------------------------

namespace {

bool ParseCueTime(const std::string& text, std::uint32_t* sector)
{
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3 || m > 99 || s > 59 || f > 74)
        return false;
    *sector = m * 4500 + s * 75 + f;
    return true;
}

} // namespace

bool ReadCueImage(const std::string& cuePath, CueImage* image, std::string* error)
{
    auto fail = [&](const std::string& why) {
        *error = cuePath + ": " + why;
        return false;
    };
    std::error_code ec;
    const auto cueSize = std::filesystem::file_size(cuePath, ec);
    if (ec)
        return fail(ec.message());
    if (cueSize > 1024 * 1024)
        return fail("too large for a CUE sheet");
    std::ifstream in(cuePath);
    if (!in)
        return fail(std::strerror(errno));
    std::string line, binName;
    int lineNumber = 0, track = 0, lastIndex = -1;
    std::uint32_t lastSector = 0;
    bool anyIndex = false;
    image->cues.clear();
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (keyword.empty() || keyword == "REM" || keyword == "TITLE" || keyword == "PERFORMER" ||
            keyword == "CATALOG" || keyword == "FLAGS")
            continue;
        if (keyword == "FILE") {
            if (!binName.empty())
                return fail(where + "more than one FILE; one BIN file is burned");
            const std::size_t open = line.find('"'), close = line.rfind('"');
            if (open == std::string::npos || close <= open + 1)
                return fail(where + "FILE without a quoted name");
            binName = line.substr(open + 1, close - open - 1);
            if (line.find("BINARY", close) == std::string::npos)
                return fail(where + "only BINARY files can be burned");
        } else if (keyword == "TRACK") {
            int number = 0;
            std::string mode;
            words >> number >> mode;
            if (binName.empty())
                return fail(where + "TRACK before FILE");
            if (number != track + 1 || number > 99)
                return fail(where + "tracks must be numbered 1, 2, 3, ...");
            if (mode != "MODE2/2352")
                return fail(where + "only MODE2/2352 tracks (Video CD) can be burned");
            track = number;
            lastIndex = -1;
        } else if (keyword == "INDEX") {
            int number = -1;
            std::string time;
            words >> number >> time;
            std::uint32_t sector = 0;
            if (track == 0)
                return fail(where + "INDEX before TRACK");
            if (number < 0 || number > 99 || !ParseCueTime(time, &sector))
                return fail(where + "bad INDEX line");
            if (number != lastIndex + 1 && !(lastIndex == -1 && number == 1))
                return fail(where + "indexes must count up from 00 or 01");
            if (anyIndex && sector <= lastSector)
                return fail(where + "index times must increase");
            if (!anyIndex && sector != 0)
                return fail(where + "the first index must be at 00:00:00");
            CueRecord record;
            record.sector = sector;
            record.kind = number == 0 ? CueKind::PregapStart : number == 1 ? CueKind::TrackStart : CueKind::IndexMark;
            image->cues.push_back(record);
            lastIndex = number;
            lastSector = sector;
            anyIndex = true;
        } else if (keyword == "PREGAP" || keyword == "POSTGAP") {
            return fail(where + keyword + " asks for sectors the BIN does not hold");
        } else {
            return fail(where + "unknown keyword \"" + keyword + "\"");
        }
        if (lineNumber > 10000)
            return fail("too many lines for a CUE sheet");
    }
    if (binName.empty() || image->cues.empty())
        return fail("no FILE with a TRACK and an INDEX 01");
    if (image->cues.back().kind == CueKind::PregapStart)
        return fail("the last track has no INDEX 01");
    std::filesystem::path bin(binName);
    if (bin.is_relative())
        bin = std::filesystem::path(cuePath).parent_path() / bin;
    image->binPath = bin.string();
    struct stat info { };
    if (::stat(image->binPath.c_str(), &info) != 0)
        return fail(image->binPath + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return fail(image->binPath + " is not a file");
    if (info.st_size % 2352 != 0 || info.st_size == 0)
        return fail(image->binPath + " is not a whole number of 2,352-byte sectors");
    if (info.st_size / 2352 > 450000)
        return fail(image->binPath + " is larger than any CD");
    image->totalSectors = static_cast<std::uint32_t>(info.st_size / 2352);
    if (lastSector >= image->totalSectors)
        return fail("an INDEX lies beyond the end of " + image->binPath);
    CueRecord leadOut;
    leadOut.sector = image->totalSectors;
    leadOut.kind = CueKind::LeadOutStart;
    image->cues.push_back(leadOut);
    return true;
}

bool BurnImageFile(const std::string& cuePath, const BurnOptions& options, ProgressListener* listener,
                   ManualResetEvent* cancel, BurnResult* result, std::string* error)
{
    CueImage image;
    if (!ReadCueImage(cuePath, &image, error))
        return false;
    auto feed = OpenRecorderFeed(options, image.totalSectors, listener, cancel, error);
    if (!feed)
        return false;
    // The BIN a CUE names may be anything; a pipe or a device must not hang the burn.
    std::string openError;
    FileDescriptor bin = OpenRegularFile(image.binPath, &openError);
    if (!bin) {
        *error = image.binPath + ": " + openError;
        return false;
    }
    if (feed->SetCueList(image.cues) != 0) {
        *error = feed->ErrorText();
        return false;
    }
    constexpr std::uint32_t kChunk = 27 * 16;
    std::vector<std::uint8_t> data(std::size_t(kChunk) * 2352);
    bool ok = true;
    for (std::uint32_t at = 0; at < image.totalSectors && ok;) {
        const std::uint32_t count = std::min(kChunk, image.totalSectors - at);
        const std::size_t bytes = std::size_t(count) * 2352;
        std::size_t got = 0;
        while (got < bytes) {
            const ssize_t n = ::pread(bin.Get(), data.data() + got, bytes - got, static_cast<off_t>(at) * 2352 + got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got != bytes) {
            // The feed, going away unclosed, stops its burn thread.
            *error = image.binPath + ": cannot read sector " + std::to_string(at);
            result->status = BurnStatus::Failed;
            result->text = *error;
            return false;
        }
        ok = feed->WriteSectors(data.data(), at, count) == 0;
        at += count;
    }
    const int closed = ok ? feed->CloseSink() : -1;
    if (!ok)
        feed->CloseSink();
    *result = feed->Result();
    if (closed != 0) {
        *error = feed->ErrorText();
        return false;
    }
    return true;
}

} // namespace lumivox
