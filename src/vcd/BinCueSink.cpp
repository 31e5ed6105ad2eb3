// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/BinCueSink.h"

#include "vcd/Sector.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace lumivox {
namespace {

// Sectors gathered before one write call: large, page-aligned writes keep the image writer
// close to the speed of a plain file copy. Three buffers of 1,792 sectors (4.2 MB each)
// let one be filled while another is written, and keep memory small.
constexpr std::size_t kBufferedSectors = 1792;
constexpr std::size_t kBufferCount = 3;
constexpr std::size_t kBufferAlignment = 4096;

std::string CueTime(std::uint32_t sector)
{
    const Msf msf = AddressToMsf(sector);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", unsigned(msf.minute), unsigned(msf.second), unsigned(msf.frame));
    return text;
}

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, int& error)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (written == 0) {
            error = ENOSPC;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

BinCueSink::BinCueSink(std::string binPath) : binPath_(std::move(binPath))
{
    const std::size_t slash = binPath_.find_last_of('/');
    const std::size_t dot = binPath_.find_last_of('.');
    cuePath_ =
        (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? binPath_.substr(0, dot) : binPath_) +
        ".cue";
}

void BinCueSink::FreeDeleter::operator()(std::uint8_t* p) const
{
    std::free(p);
}

BinCueSink::~BinCueSink()
{
    if (!committed_)
        Discard();
}

void BinCueSink::StopWriter()
{
    if (!writer_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandon_ = true;
        finishing_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void BinCueSink::Discard()
{
    StopWriter();
    fd_ = -1;
    bin_.Abandon();
    cue_.Abandon();
    buffers_.clear();
}

void BinCueSink::WriterLoop()
{
    for (;;) {
        Block block;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !full_.empty() || finishing_; });
            if (full_.empty())
                return;
            block = full_.front();
            full_.pop_front();
            if (abandon_ || writeError_ != 0) {
                free_.push_back(block.buffer);
                changed_.notify_all();
                continue;
            }
        }
        int error = 0;
        const bool written = WriteAll(fd_, buffers_[block.buffer].get(), block.size, error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!written && writeError_ == 0)
                writeError_ = error;
            free_.push_back(block.buffer);
        }
        changed_.notify_all();
    }
}

int BinCueSink::Fail(const std::string& path, const std::string& what, int error)
{
    error_ = "Cannot " + what + " the disc image \"" + path + "\": " + std::strerror(error);
    failed_ = true;
    Discard();
    return -1;
}

std::string BinCueSink::CueSheetText(const std::string& binFileName, const std::vector<CueRecord>& cues)
{
    std::string text = "FILE \"" + binFileName + "\" BINARY\n";
    int track = 0, index = 1;
    bool pregapPending = false;
    std::uint32_t pregap = 0;
    char line[64];
    for (const CueRecord& cue : cues) {
        switch (cue.kind) {
        case CueKind::PregapStart:
            pregapPending = true;
            pregap = cue.sector;
            break;
        case CueKind::TrackStart:
            ++track;
            std::snprintf(line, sizeof line, "  TRACK %02d MODE2/2352\n", track);
            text += line;
            if (pregapPending && pregap < cue.sector)
                text += "    INDEX 00 " + CueTime(pregap) + "\n";
            pregapPending = false;
            text += "    INDEX 01 " + CueTime(cue.sector) + "\n";
            index = 1;
            break;
        case CueKind::IndexMark:
            ++index;
            std::snprintf(line, sizeof line, "    INDEX %02d ", index);
            text += line + CueTime(cue.sector) + "\n";
            break;
        case CueKind::LeadOutStart:
            break;
        }
    }
    return text;
}

int BinCueSink::Reserve()
{
    if (failed_ || committed_) {
        error_ = "The disc image \"" + binPath_ + "\" was already written or has failed.";
        return -1;
    }
    if (bin_.IsOpen())
        return 0;
    // A CUE sheet has no way to quote these characters in a file name.
    const std::string name = FileName(binPath_);
    if (name.empty() || name.find_first_of("\"\n\r") != std::string::npos) {
        error_ = "The disc image name \"" + binPath_ + "\" cannot be used in a CUE sheet.";
        return -1;
    }
    if (!cue_.Open(cuePath_, &error_) || !bin_.Open(binPath_, &error_)) {
        cue_.Abandon();
        return -1;
    }
    return 0;
}

int BinCueSink::SetCueList(const std::vector<CueRecord>& cues)
{
    if (failed_ || fd_ >= 0 || committed_) {
        error_ = "The disc image \"" + binPath_ + "\" was already started.";
        return -1;
    }
    if (cues.empty() || cues.back().kind != CueKind::LeadOutStart) {
        error_ = "The track list of the disc image \"" + binPath_ + "\" does not end with a lead-out.";
        return -1;
    }
    if (Reserve() != 0)
        return -1;
    cues_ = cues;
    expectedSectors_ = cues.back().sector;
    fd_ = bin_.Descriptor();
    for (std::size_t b = 0; b < kBufferCount; ++b) {
        void* memory = nullptr;
        if (::posix_memalign(&memory, kBufferAlignment, kBufferedSectors * kRawSectorSize) != 0)
            return Fail(binPath_, "buffer", ENOMEM);
        buffers_.emplace_back(static_cast<std::uint8_t*>(memory));
        if (b > 0)
            free_.push_back(b);
    }
    current_ = 0;
    buffered_ = 0;
    nextSector_ = 0;
    try {
        writer_ = std::thread(&BinCueSink::WriterLoop, this);
    } catch (const std::system_error&) {
        // No thread to be had: Submit writes each block itself.
    }
    return 0;
}

// Passes the filled buffer on and takes a free one; without the writing thread, writes it
// here. False (the sink has failed) when a write went wrong.
bool BinCueSink::Submit()
{
    if (buffered_ == 0)
        return true;
    if (!writer_.joinable()) {
        int error = 0;
        if (!WriteAll(fd_, buffers_[current_].get(), buffered_, error)) {
            Fail(binPath_, "write", error);
            return false;
        }
        buffered_ = 0;
        return true;
    }
    int error = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        full_.push_back({current_, buffered_});
        changed_.notify_all();
        changed_.wait(lock, [this] { return !free_.empty(); });
        current_ = free_.back();
        free_.pop_back();
        error = writeError_;
    }
    buffered_ = 0;
    if (error != 0) {
        Fail(binPath_, "write", error);
        return false;
    }
    return true;
}

// Writes what is buffered and waits until every block is stored; ends the writing thread.
bool BinCueSink::Drain()
{
    if (!Submit())
        return false;
    if (!writer_.joinable())
        return true;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    writer_.join();
    error = writeError_;
    if (error != 0) {
        Fail(binPath_, "write", error);
        return false;
    }
    return true;
}

// The image is one file of consecutive sectors; anything else would misplace data.
bool BinCueSink::CheckRun(std::uint32_t firstSector, std::uint32_t count)
{
    if (fd_ < 0) {
        if (error_.empty())
            error_ = "The disc image \"" + binPath_ + "\" is not open.";
        return false;
    }
    if (firstSector != nextSector_ || firstSector >= expectedSectors_ || count > expectedSectors_ - firstSector) {
        // The first sector of the run that has no place: out of order, or past the end.
        const std::uint32_t wrong =
            firstSector != nextSector_ || firstSector >= expectedSectors_ ? firstSector : expectedSectors_;
        error_ = "The disc image \"" + binPath_ + "\" got sector " + std::to_string(wrong) + " where sector " +
                 std::to_string(firstSector != nextSector_ ? nextSector_ : wrong) + " belongs.";
        failed_ = true;
        Discard();
        return false;
    }
    return true;
}

int BinCueSink::WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber)
{
    return WriteSectors(sector, sectorNumber, 1);
}

int BinCueSink::WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count)
{
    if (!CheckRun(firstSector, count))
        return -1;
    const std::size_t capacity = kBufferedSectors * kRawSectorSize;
    std::size_t size = std::size_t(count) * kRawSectorSize;
    while (size > 0) {
        const std::size_t part = std::min(size, capacity - buffered_);
        std::memcpy(buffers_[current_].get() + buffered_, sectors, part);
        buffered_ += part;
        sectors += part;
        size -= part;
        if (buffered_ == capacity && !Submit())
            return -1;
    }
    nextSector_ += count;
    return 0;
}

int BinCueSink::CloseSink()
{
    if (fd_ < 0) {
        if (error_.empty())
            error_ = "The disc image \"" + binPath_ + "\" is not open.";
        return -1;
    }
    if (nextSector_ != expectedSectors_) {
        error_ = "The disc image \"" + binPath_ + "\" is incomplete: " + std::to_string(nextSector_) + " of " +
                 std::to_string(expectedSectors_) + " sectors were written.";
        failed_ = true;
        Discard();
        return -1;
    }
    if (!Drain())
        return -1;
    buffers_.clear();
    fd_ = -1;
    // The image is complete and synced before the sheet that names it takes its place;
    // a failure after the image was renamed leaves no sheet pointing to a wrong image.
    const std::string sheet = CueSheetText(FileName(binPath_), cues_);
    std::string error;
    if (!cue_.Write(sheet, &error) || !bin_.Commit(&error)) {
        error_ = error;
        failed_ = true;
        Discard();
        return -1;
    }
    if (!cue_.Commit(&error)) {
        error_ = error;
        failed_ = true;
        ::unlink(binPath_.c_str());
        Discard();
        return -1;
    }
    committed_ = true;
    return 0;
}

} // namespace lumivox
