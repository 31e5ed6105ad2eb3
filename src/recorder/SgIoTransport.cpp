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

namespace lumivox {
namespace {

// A command may take long (BLANK without the immediate bit, a full-speed flush); the
// time-out only guards against a drive that never answers.
constexpr unsigned kCommandTimeoutMs = 1000u * 1000u;

std::string GroupOf(const struct stat& info) {
    if (const struct group* g = ::getgrgid(info.st_gid)) return g->gr_name;
    return std::to_string(info.st_gid);
}

// host:channel:target:lun from /sys/class/block/srN/device -> .../H:C:T:L.
void ReadAddress(const std::string& node, DeviceRecord* record) {
    const std::string name = std::filesystem::path(node).filename();
    std::error_code ec;
    std::string link;
    if (name.rfind("sr", 0) == 0) link = "/sys/class/block/" + name + "/device";
    else if (name.rfind("sg", 0) == 0) link = "/sys/class/scsi_generic/" + name + "/device";
    else return;
    const auto target = std::filesystem::canonical(link, ec);
    if (ec) return;
    int h = 0, c = 0, t = 0, l = 0;
    if (std::sscanf(target.filename().c_str(), "%d:%d:%d:%d", &h, &c, &t, &l) == 4) {
        record->host = h;
        record->channel = c;
        record->target = t;
        record->lun = l;
    }
}

} // namespace

std::vector<std::string> SgIoTransport::CandidateNodes() {
    // "LUMIVOX_SYSTEM_DRIVES=0" keeps the machine's own drives out of the list: the test
    // suite sets it, so that no test ever sends a command to a real drive.
    if (const char* system = std::getenv("LUMIVOX_SYSTEM_DRIVES"); system && std::string_view(system) == "0")
        return {};
    std::vector<std::pair<int, std::string>> found;
    if (DIR* dir = ::opendir("/sys/class/block")) {
        while (const dirent* entry = ::readdir(dir)) {
            int number = 0;
            if (std::sscanf(entry->d_name, "sr%d", &number) == 1) found.emplace_back(number, entry->d_name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (const auto& [number, name] : found) nodes.push_back("/dev/" + name);
    return nodes;
}

std::unique_ptr<SgIoTransport> SgIoTransport::Open(const std::string& node, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = node + ": " + why;
        return nullptr;
    };
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) return fail(std::strerror(errno));
    if (!S_ISBLK(info.st_mode) && !S_ISCHR(info.st_mode)) return fail("is not a CD/DVD drive device node");
    bool readOnly = false;
    int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    int openError = errno;
    if (fd < 0) {
        fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        readOnly = fd >= 0;
        if (fd < 0) openError = errno;
    }
    if (fd < 0) {
        if (openError == EACCES || openError == EPERM)
            return fail("permission denied; members of the group \"" + GroupOf(info) +
                        "\" may use the drive (add your user to it and log in again)");
        return fail(std::strerror(openError));
    }
    FileDescriptor owned(fd);
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < 30000)
        return fail("does not accept SCSI commands (SG_IO)");
    std::unique_ptr<SgIoTransport> transport(new SgIoTransport(std::move(owned)));
    transport->device_.devicePath = node;
    transport->device_.readOnly = readOnly;
    ReadAddress(node, &transport->device_);
    if (!IdentifyDrive(*transport, &transport->device_)) {
        const std::string why = transport->failure_.empty() ? "does not answer INQUIRY" : transport->failure_;
        return fail(why);
    }
    return transport;
}

int SgIoTransport::ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                                  std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength) {
    failure_.clear();
    if (cdbLength == 0 || cdbLength > 16) {
        failure_ = "command block of " + std::to_string(cdbLength) + " bytes";
        return kScsiFailure;
    }
    std::uint8_t command[16]{};
    std::memcpy(command, cdb, cdbLength);
    std::uint8_t sense[32]{};
    sg_io_hdr_t request{};
    request.interface_id = 'S';
    request.cmd_len = static_cast<unsigned char>(cdbLength);
    request.cmdp = command;
    request.mx_sb_len = sizeof sense;
    request.sbp = sense;
    request.timeout = kCommandTimeoutMs;
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
    do rc = ::ioctl(fd_.Get(), SG_IO, &request);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        // ENODEV / ENXIO: the drive vanished (a USB drive unplugged mid-burn).
        failure_ = device_.devicePath + ": " + std::strerror(errno);
        return kScsiFailure;
    }
    if (request.status == 0x02 /* CHECK CONDITION */ || (request.driver_status & 0x08 /* DRIVER_SENSE */)) {
        sense_ = SenseData{};
        std::memcpy(sense_.bytes.data(), sense, std::min<std::size_t>(kSenseBytes, request.sb_len_wr));
        return kScsiCheckCondition;
    }
    if (request.status != 0 || request.host_status != 0 || (request.driver_status & 0x0F) != 0) {
        char text[96];
        std::snprintf(text, sizeof text, ": command %02X failed (status %u, host %u, driver %u)", command[0],
                      unsigned(request.status), unsigned(request.host_status), unsigned(request.driver_status));
        failure_ = device_.devicePath + text;
        return kScsiFailure;
    }
    return kScsiSuccess;
}

} // namespace lumivox
