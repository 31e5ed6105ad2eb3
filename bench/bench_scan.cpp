// SPDX-License-Identifier: GPL-2.0-or-later
// Scanning speed and memory of the program-stream scanner against `cat FILE > /dev/null`
// on the same warm file.
//
// Builds a program stream of about 600 MB in /tmp by concatenating one generated Video
// CD sequence (made by ffmpeg when it is installed, otherwise synthetic sector packs),
// then measures side by side: cat, the scan, and the packet-by-packet read of the image
// writer. Targets: the scan at no less than half cat's speed, peak memory under 10 MB.
//
// Usage: bench_scan [MEGABYTES]   (default 600)

#include "vcd/MpegSource.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakResidentKiB()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (!std::strncmp(line, "VmHWM:", 6))
            kib = std::atol(line + 6);
    std::fclose(status);
    return kib;
}

// One sector pack of synthetic video: pack header, PES with a time stamp and a
// sequence header, picture and slice bytes.
std::vector<std::uint8_t> SyntheticSegment(int packs)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < packs; ++i) {
        std::vector<std::uint8_t> pack = {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0x1B, 0x91};
        const std::uint64_t pts = 90000 + 3600ull * i;
        const std::uint8_t header[] = {0,
                                       0,
                                       1,
                                       0xE0,
                                       0x09,
                                       0x02,
                                       static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
                                       static_cast<std::uint8_t>(pts >> 22),
                                       static_cast<std::uint8_t>((pts >> 14) | 1),
                                       static_cast<std::uint8_t>(pts >> 7),
                                       static_cast<std::uint8_t>((pts << 1) | 1)};
        pack.insert(pack.end(), header, header + sizeof header);
        const std::uint8_t es[] = {0,    0,    1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0x00, 0x2C,
                                   0xE0, 0xA0, 0, 0,    1,    0x00, 0x00, 0x08, 0xFF, 0xF8};
        pack.insert(pack.end(), es, es + sizeof es);
        std::uint32_t noise = 0x12345678u + i;
        while (pack.size() < lumivox::kMpegPacketSize) {
            noise = noise * 1664525u + 1013904223u;
            pack.push_back(static_cast<std::uint8_t>(noise >> 24));
        }
        pack[16] = static_cast<std::uint8_t>((pack.size() - 18) >> 8); // PES length
        pack[17] = static_cast<std::uint8_t>(pack.size() - 18);
        out.insert(out.end(), pack.begin(), pack.end());
    }
    return out;
}

bool MakeSegment(const std::string& path)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1") == 0) {
        const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25 "
                                    "-f lavfi -i sine -t 20 -target pal-vcd '" +
                                    path + "'";
        if (std::system(command.c_str()) == 0)
            return true;
    }
    const std::vector<std::uint8_t> bytes = SyntheticSegment(4000);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool Concatenate(const std::string& segment, const std::string& path, std::uint64_t targetBytes)
{
    FILE* in = std::fopen(segment.c_str(), "rb");
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!in || !out)
        return false;
    std::vector<char> segmentBytes;
    char chunk[1 << 16];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        segmentBytes.insert(segmentBytes.end(), chunk, chunk + got);
    std::fclose(in);
    std::uint64_t written = 0;
    bool ok = !segmentBytes.empty();
    while (ok && written < targetBytes) {
        ok = std::fwrite(segmentBytes.data(), 1, segmentBytes.size(), out) == segmentBytes.size();
        written += segmentBytes.size();
    }
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace lumivox;
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 600;
    const std::string stem = "/tmp/lumivox-bench-scan-" + std::to_string(getpid());
    const std::string segment = stem + "-segment.mpg";
    const std::string big = stem + ".mpg";
    if (!MakeSegment(segment) || !Concatenate(segment, big, megabytes << 20)) {
        std::fprintf(stderr, "bench_scan: cannot make the test stream in /tmp\n");
        std::remove(segment.c_str());
        std::remove(big.c_str());
        return 1;
    }
    std::remove(segment.c_str());
    const std::string cat = "cat '" + big + "' > /dev/null";
    if (std::system(cat.c_str()) != 0) // warms the page cache
        std::fprintf(stderr, "bench_scan: cat failed\n");

    const long baseline = PeakResidentKiB();
    double catBest = 1e9, scanBest = 1e9, readBest = 1e9;
    std::uint32_t packets = 0;
    double playingTime = 0;
    std::uint64_t size = 0;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        if (std::system(cat.c_str()) != 0)
            std::fprintf(stderr, "bench_scan: cat failed\n");
        catBest = std::min(catBest, Seconds(start));

        auto source = CreateMpegSource(big);
        start = Clock::now();
        if (!source || ScanMpegSource(*source) != 0) {
            std::fprintf(stderr, "bench_scan: scan failed\n");
            std::remove(big.c_str());
            return 1;
        }
        scanBest = std::min(scanBest, Seconds(start));
        packets = source->PacketCount();
        playingTime = source->PlayingTime();
        size = source->FileSize();

        std::uint8_t buffer[kMpegPacketSize];
        PacketInfo info;
        start = Clock::now();
        for (std::uint32_t i = 0; i < packets; ++i)
            if (ReadPacket(*source, i, buffer, &info) != 0) {
                std::fprintf(stderr, "bench_scan: packet %u cannot be read\n", i);
                break;
            }
        readBest = std::min(readBest, Seconds(start));
    }
    const long peak = PeakResidentKiB();
    std::remove(big.c_str());

    const double mib = size / 1048576.0;
    std::printf("stream: %.0f MiB, %u packets, playing time %.1f s\n", mib, packets, playingTime);
    std::printf("cat FILE > /dev/null   %7.3f s  %8.0f MiB/s\n", catBest, mib / catBest);
    std::printf("ScanMpegSource         %7.3f s  %8.0f MiB/s  %.2f x cat speed (target >= 0.50)\n", scanBest,
                mib / scanBest, catBest / scanBest);
    std::printf("ReadPacket, all        %7.3f s  %8.0f MiB/s  %.2f x cat speed\n", readBest, mib / readBest,
                catBest / readBest);
    std::printf("peak resident memory   %ld KiB (%ld KiB before scanning; target < 10240)\n", peak, baseline);
    return 0;
}
