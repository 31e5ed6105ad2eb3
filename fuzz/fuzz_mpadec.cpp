// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the MPEG audio side of the menu music: header parsing, frame-by-frame decoding,
// the first-frame scan and the whole MP3-to-WAVE decoding over arbitrary bytes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mpadec/MpegAudioDecoder.h"
#include "production/MusicConversion.h"

using namespace lumivox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every header position, and a decoder started at the first usable Layer III one.
    MpegAudioDecoder decoder;
    bool started = false;
    std::vector<std::uint8_t> pcm(8192);
    for (std::size_t at = 0; at < size;) {
        int bitrate = 0;
        MpegFrameHeader header;
        const int length = ParseFrameHeader(data + at, size - at, &bitrate, &header);
        if (!started && length > 0 && header.layerCode == kMpegLayerCodeIII)
            started = decoder.InitDecoder(header, length, 0, 0, 0, 24000);
        if (started) {
            const DecodeFrameResult result = decoder.DecodeFrame(data + at, size - at, pcm.data(), pcm.size());
            if (result.consumed > 0) {
                if (static_cast<std::size_t>(result.produced) > pcm.size() ||
                    static_cast<std::size_t>(result.consumed) > size - at)
                    __builtin_trap();
                at += static_cast<std::size_t>(result.consumed);
                continue;
            }
        }
        ++at;
    }

    // The scan and the full decoding read a file: an in-memory one.
    const int fd = memfd_create("fuzz_mpadec", 0);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        lseek(fd, 0, SEEK_SET);
        FirstFrameScan(fd);
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        std::string error;
        DecodeMp3ToWave(path, "/dev/null", &error);
    }
    close(fd);
    return 0;
}
