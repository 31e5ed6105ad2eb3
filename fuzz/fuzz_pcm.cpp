// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the PCM side of the menu music: WAVE, AIFF and headerless input as the Layer II
// encoder reads it. Lying chunk sizes, huge "data" sizes and odd formats must be refused
// or read within the file, never crash, hang or allocate without bound.

#include "production/WaveFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace lumivox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("fuzz_pcm", 0);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    PcmInput input;
    std::string error;
    if (input.Open(path, &error)) {
        std::vector<std::int16_t> samples(2 * 1152);
        // Every byte read needs a byte of the file: a read loop longer than the file
        // means the reader invents samples.
        std::size_t frames = 0;
        for (long got; (got = input.Read(samples.data(), 1152)) > 0;) {
            frames += static_cast<std::size_t>(got);
            if (frames > size)
                __builtin_trap();
        }
        input.SeekToFrame(1);
        input.SeekToFrame(UINT64_MAX / 4);
    }
    close(fd);
    return 0;
}
