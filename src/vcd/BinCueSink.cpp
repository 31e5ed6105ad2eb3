#include "vcd/BinCueSink.h"

#include "vcd/Sector.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lumivox {
namespace {

// Sectors gathered before one write call: large, page-aligned writes keep the image writer
// close to the speed of a plain file copy, and 1,024 sectors (2.4 MB) keep memory small.
constexpr std::size_t kBufferedSectors = 1024;
constexpr std::size_t kBufferAlignment = 4096;

std::string CueTime(std::uint32_t sector) {
    const Msf msf = AddressToMsf(sector);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", unsigned(msf.minute), unsigned(msf.second), unsigned(msf.frame));
    return text;
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, int& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
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

BinCueSink::BinCueSink(std::string binPath) : binPath_(std::move(binPath)) {
    const std::size_t slash = binPath_.find_last_of('/');
    const std::size_t dot = binPath_.find_last_of('.');
    cuePath_ = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? binPath_.substr(0, dot)
                                                                                       : binPath_) + ".cue";
    binTemp_ = binPath_ + ".part";
    cueTemp_ = cuePath_ + ".part";
}

void BinCueSink::FreeDeleter::operator()(std::uint8_t* p) const { std::free(p); }

BinCueSink::~BinCueSink() {
    if (!committed_) Discard();
}

void BinCueSink::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(binTemp_.c_str());
    }
    ::unlink(cueTemp_.c_str());
    buffer_.reset();
}

int BinCueSink::Fail(const std::string& path, const std::string& what, int error) {
    error_ = "Cannot " + what + " the disc image \"" + path + "\": " + std::strerror(error);
    failed_ = true;
    Discard();
    return -1;
}

std::string BinCueSink::CueSheetText(const std::string& binFileName, const std::vector<CueRecord>& cues) {
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
            if (pregapPending && pregap < cue.sector) text += "    INDEX 00 " + CueTime(pregap) + "\n";
            pregapPending = false;
            text += "    INDEX 01 " + CueTime(cue.sector) + "\n";
            index = 1;
            break;
        case CueKind::IndexMark:
            ++index;
            std::snprintf(line, sizeof line, "    INDEX %02d ", index);
            text += line + CueTime(cue.sector) + "\n";
            break;
        case CueKind::LeadOutStart: break;
        }
    }
    return text;
}

int BinCueSink::SetCueList(const std::vector<CueRecord>& cues) {
    if (failed_ || fd_ >= 0 || committed_) {
        error_ = "The disc image \"" + binPath_ + "\" was already started.";
        return -1;
    }
    if (cues.empty() || cues.back().kind != CueKind::LeadOutStart) {
        error_ = "The track list of the disc image \"" + binPath_ + "\" does not end with a lead-out.";
        return -1;
    }
    // A CUE sheet has no way to quote these characters in a file name.
    const std::string name = FileName(binPath_);
    if (name.empty() || name.find_first_of("\"\n") != std::string::npos) {
        error_ = "The disc image name \"" + binPath_ + "\" cannot be used in a CUE sheet.";
        return -1;
    }
    cues_ = cues;
    expectedSectors_ = cues.back().sector;
    fd_ = ::open(binTemp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return Fail(binTemp_, "create", errno);
    void* memory = nullptr;
    bufferSize_ = kBufferedSectors * kRawSectorSize;
    if (::posix_memalign(&memory, kBufferAlignment, bufferSize_) != 0) return Fail(binTemp_, "buffer", ENOMEM);
    buffer_.reset(static_cast<std::uint8_t*>(memory));
    buffered_ = 0;
    nextSector_ = 0;
    return 0;
}

bool BinCueSink::Flush() {
    int error = 0;
    if (buffered_ > 0 && !WriteAll(fd_, buffer_.get(), buffered_, error)) {
        Fail(binTemp_, "write", error);
        return false;
    }
    buffered_ = 0;
    return true;
}

int BinCueSink::WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "The disc image \"" + binPath_ + "\" is not open.";
        return -1;
    }
    // The image is one file of consecutive sectors; anything else would misplace data.
    if (sectorNumber != nextSector_ || sectorNumber >= expectedSectors_) {
        error_ = "The disc image \"" + binPath_ + "\" got sector " + std::to_string(sectorNumber) + " where sector " +
                 std::to_string(nextSector_) + " belongs.";
        failed_ = true;
        Discard();
        return -1;
    }
    std::memcpy(buffer_.get() + buffered_, sector, kRawSectorSize);
    buffered_ += kRawSectorSize;
    ++nextSector_;
    if (buffered_ == bufferSize_ && !Flush()) return -1;
    return 0;
}

int BinCueSink::CloseSink() {
    if (fd_ < 0) {
        if (error_.empty()) error_ = "The disc image \"" + binPath_ + "\" is not open.";
        return -1;
    }
    if (nextSector_ != expectedSectors_) {
        error_ = "The disc image \"" + binPath_ + "\" is incomplete: " + std::to_string(nextSector_) + " of " +
                 std::to_string(expectedSectors_) + " sectors were written.";
        failed_ = true;
        Discard();
        return -1;
    }
    if (!Flush()) return -1;
    if (::close(fd_) != 0) {
        const int error = errno;
        fd_ = -1;
        ::unlink(binTemp_.c_str());
        return Fail(binTemp_, "write", error);
    }
    fd_ = -1;
    buffer_.reset();

    const std::string sheet = CueSheetText(FileName(binPath_), cues_);
    const int cueFd = ::open(cueTemp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (cueFd < 0) {
        const int error = errno;
        ::unlink(binTemp_.c_str());
        return Fail(cueTemp_, "create", error);
    }
    int error = 0;
    const bool written = WriteAll(cueFd, reinterpret_cast<const std::uint8_t*>(sheet.data()), sheet.size(), error);
    if (::close(cueFd) != 0 && written) error = errno;
    if (!written || error != 0) {
        ::unlink(binTemp_.c_str());
        return Fail(cueTemp_, "write", error);
    }
    if (::rename(binTemp_.c_str(), binPath_.c_str()) != 0) {
        error = errno;
        ::unlink(binTemp_.c_str());
        return Fail(binPath_, "rename", error);
    }
    if (::rename(cueTemp_.c_str(), cuePath_.c_str()) != 0) {
        error = errno;
        ::unlink(binPath_.c_str());
        return Fail(cuePath_, "rename", error);
    }
    committed_ = true;
    return 0;
}

} // namespace lumivox
