#pragma once
// The Linux SCSI generic back end: command blocks go to a CD/DVD drive's device node
// (/dev/sr*, or /dev/sg*) through the SG_IO ioctl.

#include "base/FileDescriptor.h"
#include "recorder/Scsi.h"

#include <memory>
#include <string>
#include <vector>

namespace lumivox {

class SgIoTransport final : public ScsiTransport {
public:
    // Opens the node (read/write, else read-only), checks that it speaks SG_IO, reads its
    // identity. Null with *error: one line naming the node and the reason; a permission
    // problem names the group whose members may use the drive.
    static std::unique_ptr<SgIoTransport> Open(const std::string& node, std::string* error);
    // /dev/srN for every CD/DVD drive sysfs lists, in number order.
    static std::vector<std::string> CandidateNodes();

    int ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                       std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength) override;

private:
    explicit SgIoTransport(FileDescriptor fd) : fd_(std::move(fd)) {}
    FileDescriptor fd_;
};

} // namespace lumivox
