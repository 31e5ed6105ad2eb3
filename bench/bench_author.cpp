// SPDX-License-Identifier: GPL-2.0-or-later
// Authoring benchmark: a photo album disc of 1,900 one-unit segments (about 660 MB of image)
// written to the BIN/CUE file sink, side by side with `cat` of the same segment files into
// the same output folder. Target: at most 2.5 × cat's time, peak memory under 64 MB.
//
// Usage: bench_author [folder]   (default: a new folder under /tmp; removed afterwards unless
// LUMIVOX_BENCH_KEEP is set, which leaves the segment files for profiling runs;
// LUMIVOX_BENCH_ROUNDS sets the number of rounds, 5 by default)

#include "vcd/BinCueSink.h"
#include "vcd/VideoCdLayout.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace lumivox;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPack = 2324;

void PutTimeStamp(std::vector<std::uint8_t>& b, std::uint64_t t)
{
    b.push_back(static_cast<std::uint8_t>(0x21 | ((t >> 30) & 7) << 1));
    b.push_back(static_cast<std::uint8_t>(t >> 22));
    b.push_back(static_cast<std::uint8_t>(((t >> 15) & 0x7F) << 1 | 1));
    b.push_back(static_cast<std::uint8_t>(t >> 7));
    b.push_back(static_cast<std::uint8_t>((t & 0x7F) << 1 | 1));
}

// One pack of a still stream (MPEG-1 pack header, one PES packet filling the pack).
std::vector<std::uint8_t> Pack(std::uint8_t stream, bool first, bool last, std::uint64_t scr)
{
    std::vector<std::uint8_t> b = {0, 0, 1, 0xBA};
    PutTimeStamp(b, scr);
    b.insert(b.end(), {0x80, 0x1B, 0x91});
    const std::size_t length = kPack - b.size() - 6;
    b.insert(b.end(), {0, 0, 1, stream, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    if (first) {
        PutTimeStamp(b, 45000);
        const bool high = stream == 0xE2;
        const unsigned w = high ? 704 : 352, h = high ? 480 : 240;
        b.insert(b.end(), {0,
                           0,
                           1,
                           0xB3,
                           static_cast<std::uint8_t>(w >> 4),
                           static_cast<std::uint8_t>((w & 15) << 4 | h >> 8),
                           static_cast<std::uint8_t>(h),
                           0x14,
                           0x03,
                           0x70,
                           0x2A,
                           0x20,
                           0,
                           0,
                           1,
                           0,
                           0,
                           0x0F,
                           0xFF,
                           0xF8});
    } else {
        b.push_back(0x0F);
    }
    if (last)
        b.insert(b.end(), {0, 0, 1, 0xB7});
    b.resize(kPack, 0xFF);
    return b;
}

// A segment of exactly 150 packets: one normal-resolution still packet, 149 high-resolution.
std::vector<std::uint8_t> Segment()
{
    std::vector<std::uint8_t> file;
    for (int i = 0; i < 150; ++i) {
        const auto p = Pack(i == 0 ? 0xE1 : 0xE2, i <= 1, i == 0 || i == 149, 600u * i);
        file.insert(file.end(), p.begin(), p.end());
    }
    return file;
}

bool WriteWhole(const fs::path& path, const std::vector<std::uint8_t>& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    std::string base;
    bool made = false;
    if (argc > 1) {
        base = argv[1];
        fs::create_directories(base);
    } else {
        char pattern[] = "/tmp/lumivox-bench-author-XXXXXX";
        if (!::mkdtemp(pattern)) {
            std::perror("mkdtemp");
            return 1;
        }
        base = pattern;
        made = true;
    }
    const fs::path work = fs::path(base) / "work", program = fs::path(base) / "program", out = fs::path(base) / "out";
    fs::create_directories(work);
    fs::create_directories(program);
    fs::create_directories(out);

    // 20 albums (19 × 99 + 14 pictures) on 5 menu pages: 1,900 segments of one unit each.
    LayoutProject project;
    project.cdLabel = "BENCH";
    project.albumsPerPage = 4;
    project.albumPictureCounts.assign(19, 99);
    project.albumPictureCounts.push_back(14);
    project.workFolder = work.string() + "/";
    project.programFolder = program.string() + "/";

    std::printf("generating 1,900 segment files in %s ...\n", work.c_str());
    const std::vector<std::uint8_t> segment = Segment();
    std::vector<std::string> files;
    char name[64];
    for (int page = 1; page <= 5; ++page) {
        std::snprintf(name, sizeof name, "menu_%02d.mpg", page);
        files.push_back(project.workFolder + name);
    }
    for (int a = 0; a < 20; ++a)
        for (int q = 1; q <= project.albumPictureCounts[a]; ++q) {
            std::snprintf(name, sizeof name, "menu_%02d_pic_%02d.mpg", a + 1, q);
            files.push_back(project.workFolder + name);
        }
    for (const std::string& file : files)
        if (!WriteWhole(file, segment)) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    std::vector<std::uint8_t> track;
    for (int i = 0; i < 60; ++i) {
        const auto p = Pack(0xE0, i == 0, false, 600u * i);
        track.insert(track.end(), p.begin(), p.end());
    }
    WriteWhole(program / "avseq01.ntsc", track);

    // Warm the page cache and let the segment files reach the disk, then time cat and the
    // authoring in turn, best of several rounds each: other work on the machine comes and
    // goes, and the best round of each is the one least disturbed.
    const std::string catInput = "'" + work.string() + "'/*.mpg";
    const std::string catOutput = "'" + (out / "cat.out").string() + "'";
    if (std::system(("cat " + catInput + " > /dev/null").c_str()) != 0)
        return 1;
    ::sync();
    const char* roundsText = std::getenv("LUMIVOX_BENCH_ROUNDS");
    const int rounds = roundsText ? std::max(1, std::atoi(roundsText)) : 5;
    double catTime = 1e9, authorTime = 1e9;
    long total = 0;
    for (int round = 0; round < rounds; ++round) {
        // Each side starts with no dirty pages of the other waiting for writeback.
        ::sync();
        auto start = std::chrono::steady_clock::now();
        if (std::system(("cat " + catInput + " > " + catOutput).c_str()) != 0)
            return 1;
        const double catRound = Seconds(std::chrono::steady_clock::now() - start);
        catTime = std::min(catTime, catRound);
        fs::remove(out / "cat.out");

        ::sync();
        start = std::chrono::steady_clock::now();
        auto layout = BuildProjectLayout(project);
        if (layout->segments.size() != 1900) {
            std::fprintf(stderr, "only %zu segments were accepted\n", layout->segments.size());
            return 1;
        }
        const auto built = std::chrono::steady_clock::now();
        total = ComputeLayout(*layout);
        if (total < 0) {
            std::fprintf(stderr, "%s\n", layout->errorText.c_str());
            return 1;
        }
        {
            BinCueSink sink((out / "disc.bin").string());
            if (WriteImage(*layout, sink) != 0) {
                std::fprintf(stderr, "%s\n", layout->errorText.c_str());
                return 1;
            }
        }
        DestroyLayout(layout);
        std::printf("  round %d: cat %.2f s; author: scan %.2f s, place and write %.2f s\n", round + 1, catRound,
                    Seconds(built - start), Seconds(std::chrono::steady_clock::now() - built));
        authorTime = std::min(authorTime, Seconds(std::chrono::steady_clock::now() - start));
        fs::remove(out / "disc.bin");
        fs::remove(out / "disc.cue");
    }

    struct rusage usage { };
    ::getrusage(RUSAGE_SELF, &usage);
    const double imageMb = total * 2352.0 / 1e6;
    const double segmentMb = static_cast<double>(files.size() * segment.size()) / 1e6;
    std::printf("segments: %zu files, %.0f MB; image: %ld sectors, %.0f MB\n", files.size(), segmentMb, total, imageMb);
    std::printf("cat    : %6.2f s  (%.0f MB/s)\n", catTime, segmentMb / catTime);
    std::printf("author : %6.2f s  (%.0f MB/s of image)\n", authorTime, imageMb / authorTime);
    std::printf("ratio  : %.2f x cat (target <= 2.5)\n", authorTime / catTime);
    std::printf("memory : %.1f MB peak resident (target < 64)\n", usage.ru_maxrss / 1024.0);

    if (std::getenv("LUMIVOX_BENCH_KEEP"))
        return 0;
    if (made)
        fs::remove_all(base);
    else {
        fs::remove_all(work);
        fs::remove_all(program);
        fs::remove_all(out);
    }
    return 0;
}
