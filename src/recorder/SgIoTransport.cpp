// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/SgIoTransport.h"

#include <string_view>
#include <cstdlib>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace lumivox {
namespace {

// BUSY and transient host errors: sent again this often, this far apart.
constexpr int kTransientRetries = 5;
constexpr auto kTransientPause = std::chrono::milliseconds(200);

// A drive is often named by a link (/dev/cdrom, /dev/cdrw, /dev/disk/by-id/...): its sysfs
// entries are found under the node the link leads to.
std::string ResolvedNode(const std::string& node)
{
    std::error_code ec;
    const auto resolved = std::filesystem::canonical(node, ec);
    return ec ? node : resolved.string();
}

// The block device of an sg node (/dev/sg1 -> sr0), else the node's own name.
std::string BlockNameOf(const std::string& node)
{
    const std::string name = std::filesystem::path(ResolvedNode(node)).filename();
    if (name.rfind("sg", 0) != 0)
        return name;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator("/sys/class/scsi_generic/" + name + "/device/block", ec))
        return entry.path().filename();
    return name;
}

// Mount table fields escape blanks as octal (\040).
std::string Unescaped(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
            out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::string GroupOf(const struct stat& info)
{
    if (const struct group* g = ::getgrgid(info.st_gid))
        return g->gr_name;
    return std::to_string(info.st_gid);
}

// host:channel:target:lun from /sys/class/block/srN/device -> .../H:C:T:L.
void ReadAddress(const std::string& node, DeviceRecord* record)
{
    const std::string name = std::filesystem::path(ResolvedNode(node)).filename();
    std::error_code ec;
    std::string link;
    if (name.rfind("sr", 0) == 0)
        link = "/sys/class/block/" + name + "/device";
    else if (name.rfind("sg", 0) == 0)
        link = "/sys/class/scsi_generic/" + name + "/device";
    else
        return;
    const auto target = std::filesystem::canonical(link, ec);
    if (ec)
        return;
    int h = 0, c = 0, t = 0, l = 0;
    if (std::sscanf(target.filename().c_str(), "%d:%d:%d:%d", &h, &c, &t, &l) == 4) {
        record->host = h;
        record->channel = c;
        record->target = t;
        record->lun = l;
    }
}

} // namespace

int OpenRetryingWhileBusy(const std::function<int()>& open, std::chrono::milliseconds limit,
                          std::chrono::milliseconds pause)
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const int result = open();
        if (result != -EBUSY || std::chrono::steady_clock::now() >= giveUp)
            return result;
        std::this_thread::sleep_for(pause);
    }
}

std::vector<std::string> SgIoTransport::CandidateNodes()
{
    // "LUMIVOX_SYSTEM_DRIVES=0" keeps the machine's own drives out of the list: the test
    // suite sets it, so that no test ever sends a command to a real drive.
    if (const char* system = std::getenv("LUMIVOX_SYSTEM_DRIVES"); system && std::string_view(system) == "0")
        return {};
    std::vector<std::pair<int, std::string>> found;
    if (DIR* dir = ::opendir("/sys/class/block")) {
        while (const dirent* entry = ::readdir(dir)) {
            int number = 0;
            if (std::sscanf(entry->d_name, "sr%d", &number) == 1)
                found.emplace_back(number, entry->d_name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (const auto& [number, name] : found)
        nodes.push_back("/dev/" + name);
    return nodes;
}

SgIoTransport::Outcome SgIoTransport::Classify(unsigned status, unsigned hostStatus, unsigned driverStatus)
{
    constexpr unsigned kDidTimeOut = 0x03, kDidBusBusy = 0x02, kDidSoftError = 0x0B, kDidImmRetry = 0x0C,
                       kDidRequeue = 0x0D;
    if (hostStatus == kDidTimeOut || (driverStatus & 0x0F) == 0x06 /* DRIVER_TIMEOUT */)
        return Outcome::TimedOut;
    if (status == 0x02 || (driverStatus & 0x08) /* DRIVER_SENSE */)
        return Outcome::CheckCondition;
    if (status == 0x08 /* BUSY */ || status == 0x28 /* TASK SET FULL */)
        return Outcome::Retry;
    if (hostStatus == kDidBusBusy || hostStatus == kDidSoftError || hostStatus == kDidImmRetry ||
        hostStatus == kDidRequeue || (driverStatus & 0x0F) == 0x01 /* DRIVER_BUSY */)
        return Outcome::Retry;
    if (status != 0 || hostStatus != 0 || (driverStatus & 0x0F) != 0)
        return Outcome::Failure;
    return Outcome::Success;
}

std::string SgIoTransport::MountPointOf(const std::string& node, const std::string& mountsPath)
{
    struct stat drive { };
    if (::stat(node.c_str(), &drive) != 0)
        return {};
    // An sg node and its sr node are one drive: compare with the block device.
    std::string blockNode = node;
    if (const std::string block = BlockNameOf(node);
        block != std::filesystem::path(ResolvedNode(node)).filename().string()) {
        blockNode = "/dev/" + block;
        struct stat info { };
        if (::stat(blockNode.c_str(), &info) == 0)
            drive = info;
    }
    std::ifstream mounts(mountsPath);
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string source, target;
        if (!(fields >> source >> target))
            continue;
        source = Unescaped(source);
        struct stat info { };
        if (source.empty() || source[0] != '/' || ::stat(source.c_str(), &info) != 0)
            continue;
        if ((S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode)) && (info.st_mode & S_IFMT) == (drive.st_mode & S_IFMT) &&
            info.st_rdev == drive.st_rdev)
            return Unescaped(target);
    }
    return {};
}

std::size_t SgIoTransport::MaxTransferOf(const std::string& node)
{
    std::ifstream file("/sys/class/block/" + BlockNameOf(node) + "/queue/max_hw_sectors_kb");
    std::size_t kb = 0;
    if (!(file >> kb) || kb == 0)
        return 0;
    return kb * 1024;
}

std::unique_ptr<SgIoTransport> SgIoTransport::Open(const std::string& node, std::string* error, DriveAccess access)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = node + ": " + why;
        return nullptr;
    };
    struct stat info { };
    if (::stat(node.c_str(), &info) != 0)
        return fail(std::strerror(errno));
    if (!S_ISBLK(info.st_mode) && !S_ISCHR(info.st_mode))
        return fail("is not a CD/DVD drive device node");
    const bool exclusive = access == DriveAccess::Exclusive;
    if (access != DriveAccess::Shared) {
        if (const std::string mounted = MountPointOf(node, "/proc/self/mounts"); !mounted.empty()) {
            if (error)
                *error = "The disc in " + node + " is mounted at " + mounted + "; unmount it before " +
                         (exclusive ? "burning or erasing it." : "opening or closing the tray.");
            return nullptr;
        }
    }
    const int excl = exclusive ? O_EXCL : 0;
    bool readOnly = false;
    int openError = 0;
    // Desktop daemons and udev probes hold a drive for a moment after a disc change: an
    // exclusive open that meets them is tried again for a few seconds before it is refused.
    const int fd = OpenRetryingWhileBusy(
        [&] {
            int opened = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | excl);
            openError = errno;
            readOnly = false;
            if (opened < 0 && openError != EBUSY) {
                opened = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | excl);
                readOnly = opened >= 0;
                if (opened < 0)
                    openError = errno;
            }
            return opened < 0 ? -openError : opened;
        },
        exclusive ? kBusyOpenLimit : std::chrono::milliseconds(0));
    if (fd < 0) {
        if (openError == EACCES || openError == EPERM)
            return fail("permission denied; members of the group \"" + GroupOf(info) +
                        "\" may use the drive (add your user to it and log in again)");
        if (openError == EBUSY) {
            if (error)
                *error = "The drive " + node + " is in use by another program or holds a mounted disc.";
            return nullptr;
        }
        return fail(std::strerror(openError));
    }
    FileDescriptor owned(fd);
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < 30000)
        return fail("does not accept SCSI commands (SG_IO)");
    std::unique_ptr<SgIoTransport> transport(new SgIoTransport(std::move(owned)));
    transport->device_.devicePath = node;
    transport->device_.readOnly = readOnly;
    transport->maxTransfer_ = MaxTransferOf(node);
    ReadAddress(node, &transport->device_);
    if (std::string why; !IdentifyDrive(*transport, &transport->device_, &why))
        return fail(why);
    return transport;
}

int SgIoTransport::ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                                  std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength)
{
    failure_.clear();
    sense_ = SenseData{}; // a message never carries the sense of an earlier command
    resid_ = 0;
    if (cdbLength == 0 || cdbLength > 16) {
        failure_ = "command block of " + std::to_string(cdbLength) + " bytes";
        return kScsiFailure;
    }
    if (maxTransfer_ && std::max(outLength, inLength) > maxTransfer_) {
        failure_ = CommandName(cdb[0]) + " of " +
                   std::to_string(std::max(outLength, inLength)) + " bytes is more than the drive takes at once (" +
                   std::to_string(maxTransfer_) + ")";
        return kScsiFailure;
    }
    std::uint8_t command[16]{};
    std::memcpy(command, cdb, cdbLength);
    const auto timeout = CommandTimeout(command, cdbLength, writeTimeout_);
    for (int attempt = 0;; ++attempt) {
        std::uint8_t sense[32]{};
        sg_io_hdr_t request{};
        request.interface_id = 'S';
        request.cmd_len = static_cast<unsigned char>(cdbLength);
        request.cmdp = command;
        request.mx_sb_len = sizeof sense;
        request.sbp = sense;
        request.timeout = static_cast<unsigned>(timeout.count());
        if (dataOut && outLength) {
            request.dxfer_direction = SG_DXFER_TO_DEV;
            request.dxferp = const_cast<std::uint8_t*>(dataOut);
            request.dxfer_len = static_cast<unsigned>(outLength);
        } else if (dataIn && inLength) {
            request.dxfer_direction = SG_DXFER_FROM_DEV;
            request.dxferp = dataIn;
            request.dxfer_len = static_cast<unsigned>(inLength);
        } else {
            request.dxfer_direction = SG_DXFER_NONE;
        }
        int rc;
        do
            rc = ::ioctl(fd_.Get(), SG_IO, &request);
        while (rc < 0 && errno == EINTR);
        if (rc < 0) {
            // ENODEV / ENXIO: the drive vanished (a USB drive unplugged mid-burn).
            failure_ = std::strerror(errno);
            return kScsiFailure;
        }
        // A short answer: only the bytes that came are the drive's; the rest stays zero.
        if (request.dxfer_direction == SG_DXFER_FROM_DEV && request.resid > 0 &&
            static_cast<std::size_t>(request.resid) <= inLength) {
            resid_ = static_cast<std::size_t>(request.resid);
            std::memset(dataIn + inLength - resid_, 0, resid_);
        }
        switch (Classify(request.status, request.host_status, request.driver_status)) {
        case Outcome::Success:
            return kScsiSuccess;
        case Outcome::CheckCondition:
            sense_ = SenseData{};
            std::memcpy(sense_.bytes.data(), sense, std::min<std::size_t>(kSenseBytes, request.sb_len_wr));
            return kScsiCheckCondition;
        case Outcome::Retry:
            if (attempt < kTransientRetries) {
                std::this_thread::sleep_for(kTransientPause);
                continue;
            }
            break;
        case Outcome::TimedOut:
            failure_ = CommandName(command[0]) + " timed out after " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                       " s; the drive does not answer";
            return kScsiFailure;
        case Outcome::Failure:
            break;
        }
        char text[128];
        std::snprintf(text, sizeof text, "%s failed (status %u, host %u, driver %u)", CommandName(command[0]).c_str(),
                      unsigned(request.status), unsigned(request.host_status), unsigned(request.driver_status));
        failure_ = text;
        return kScsiFailure;
    }
}

} // namespace lumivox
