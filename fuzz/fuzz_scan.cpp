// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the program-stream scanner: any file must scan and read back packet by packet
// without crashing, looping or reading out of bounds, and the packets must tile a
// prefix of the file.

#include "vcd/MpegSource.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        char name[] = "/tmp/lumivox-fuzz-scan-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        return std::string(name);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lumivox;
    const std::string& path = InputPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    if (size)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    auto source = CreateMpegSource(path);
    if (!source || ScanMpegSource(*source) != 0)
        std::abort();
    if (source->PacketCount() > size)
        std::abort();
    std::uint8_t buffer[kMpegPacketSize];
    PacketInfo info;
    std::size_t total = 0;
    for (std::uint32_t i = 0; i < source->PacketCount(); ++i) {
        if (ReadPacket(*source, i, buffer, &info) != 0 || info.length == 0 || info.length > kMpegPacketSize)
            std::abort();
        GetPacketKind(info);
        total += info.length;
    }
    if (total > size)
        std::abort();
    // Going back restarts from the beginning of the file.
    if (source->PacketCount() > 1 && ReadPacket(*source, source->PacketCount() / 2, buffer, &info) != 0)
        std::abort();
    if (source->PacketCount() && ReadPacket(*source, 0, buffer, &info) != 0)
        std::abort();
    if (ReadPacket(*source, source->PacketCount(), buffer, &info) != -1)
        std::abort();
    for (const MpegVideoStreamInfo& video : source->StreamInfo().video)
        MpegNormName(GetNorm(video));
    return 0;
}
