// SPDX-License-Identifier: GPL-2.0-or-later
// Burning benchmark: a photo album disc of 1,900 one-unit segments (about 660 MB of image,
// as bench_author builds it) burned through the recorder feed to the emulated recorder at
// speed=0, side by side with the BIN/CUE file sink on the same layout, in one run; then a
// shorter disc at speed=52 to show that the drive buffer never runs dry.
// Targets: the burn path at least 0.7 x the file sink's sectors per second and above
// 3,900 sectors/s (52x); the producer never waits while the queue has room; peak memory
// under 64 MB beyond the queue's 6.4 MB; at 52x no buffer underrun.
//
// Usage: bench_burn [folder]   (default: a new folder under /tmp, removed afterwards)
// LUMIVOX_BENCH_PACED_SEGMENTS sets the segments of the 52x disc (200 by default, 0 skips it).

#include "recorder/EmulatedRecorder.h"
#include "recorder/RecorderFeed.h"
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

} // namespace

namespace {

double PeakMegabytes()
{
    struct rusage usage { };
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

struct Project {
    LayoutProject layout;
    std::size_t files = 0;
};

// albums of 99 pictures (the last one shorter) on menu pages of four albums.
Project WriteProject(const fs::path& base, int segments)
{
    Project project;
    const fs::path work = base / "work", program = base / "program";
    fs::create_directories(work);
    fs::create_directories(program);
    LayoutProject& p = project.layout;
    p.cdLabel = "BENCH";
    p.albumsPerPage = 4;
    int pictures = segments - 5;
    while (pictures > 0) {
        p.albumPictureCounts.push_back(std::min(99, pictures));
        pictures -= 99;
    }
    const int albums = static_cast<int>(p.albumPictureCounts.size());
    const int pages = (albums + 3) / 4;
    p.workFolder = work.string() + "/";
    p.programFolder = program.string() + "/";
    const std::vector<std::uint8_t> segment = Segment();
    char name[64];
    for (int page = 1; page <= pages; ++page) {
        std::snprintf(name, sizeof name, "menu_%02d.mpg", page);
        WriteWhole(p.workFolder + name, segment);
        ++project.files;
    }
    for (int a = 0; a < albums; ++a)
        for (int q = 1; q <= p.albumPictureCounts[a]; ++q) {
            std::snprintf(name, sizeof name, "menu_%02d_pic_%02d.mpg", a + 1, q);
            WriteWhole(p.workFolder + name, segment);
            ++project.files;
        }
    std::vector<std::uint8_t> track;
    for (int i = 0; i < 60; ++i) {
        const auto pk = Pack(0xE0, i == 0, false, 600u * i);
        track.insert(track.end(), pk.begin(), pk.end());
    }
    WriteWhole(program / "avseq01.ntsc", track);
    return project;
}

struct BurnFigures {
    double seconds = 0;
    long sectors = 0;
    double producerWait = 0, consumerWait = 0;
    int recoveries = 0;
    double lowestBuffer = 0;
    bool ok = false;
    std::string error;
};

BurnFigures BurnOnce(const LayoutProject& project, const std::string& device, DriverChoice driver)
{
    BurnFigures figures;
    const auto start = std::chrono::steady_clock::now();
    auto layout = BuildProjectLayout(project);
    figures.sectors = ComputeLayout(*layout);
    BurnOptions options;
    options.device = device;
    options.driver = driver;
    options.verify = false;
    options.eject = false;
    auto feed = OpenRecorderFeed(options, figures.sectors, nullptr, nullptr, &figures.error);
    if (!feed)
        return figures;
    figures.ok = WriteImage(*layout, *feed) == 0;
    if (!figures.ok)
        figures.error = layout->errorText;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.producerWait = feed->Queue().ProducerWaitSeconds();
    figures.consumerWait = feed->Queue().ConsumerWaitSeconds();
    if (auto* emulated = dynamic_cast<EmulatedRecorder*>(&feed->Transport())) {
        figures.recoveries = emulated->BufferRecoveries();
        figures.lowestBuffer = emulated->LowestBufferLevel();
    }
    DestroyLayout(layout);
    return figures;
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
        char pattern[] = "/tmp/lumivox-bench-burn-XXXXXX";
        if (!::mkdtemp(pattern)) {
            std::perror("mkdtemp");
            return 1;
        }
        base = pattern;
        made = true;
    }
    std::printf("generating 1,900 segment files in %s ...\n", base.c_str());
    const Project full = WriteProject(fs::path(base) / "full", 1900);
    const fs::path out = fs::path(base) / "out";
    fs::create_directories(out);
    if (std::system(("cat '" + full.layout.workFolder + "'*.mpg > /dev/null").c_str()) != 0)
        return 1;
    ::sync();

    // Recorder feed first, so the peak memory below is the burn's own.
    const double before = PeakMegabytes();
    BurnFigures mmc = BurnOnce(full.layout, std::string(kEmulatedPrefix) + (out / "mmc").string(), DriverChoice::Mmc);
    const double burnPeak = PeakMegabytes();
    fs::remove_all(out / "mmc");
    ::sync();
    BurnFigures raw = BurnOnce(full.layout, std::string(kEmulatedPrefix) + (out / "raw").string(), DriverChoice::Raw);
    fs::remove_all(out / "raw");
    ::sync();
    if (!mmc.ok || !raw.ok) {
        std::fprintf(stderr, "burn failed: %s%s\n", mmc.error.c_str(), raw.error.c_str());
        return 1;
    }

    double fileTime = 0;
    long total = 0;
    {
        const auto start = std::chrono::steady_clock::now();
        auto layout = BuildProjectLayout(full.layout);
        total = ComputeLayout(*layout);
        BinCueSink sink((out / "disc.bin").string());
        if (WriteImage(*layout, sink) != 0) {
            std::fprintf(stderr, "%s\n", layout->errorText.c_str());
            return 1;
        }
        fileTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        DestroyLayout(layout);
        fs::remove(out / "disc.bin");
        fs::remove(out / "disc.cue");
    }

    const double imageMb = total * 2352.0 / 1e6;
    std::printf("image: %ld sectors, %.0f MB, %zu segment files\n", total, imageMb, full.files);
    std::printf("file sink        : %6.2f s  %7.0f sectors/s\n", fileTime, total / fileTime);
    for (const auto& [name, f] :
         {std::pair<const char*, const BurnFigures&>{"burn, mmc (SAO) ", mmc}, {"burn, raw       ", raw}})
        std::printf("%s : %6.2f s  %7.0f sectors/s  %.2f x file sink (target >= 0.7, > 3900/s); "
                    "producer waited %.2f s (queue full), drive waited %.2f s\n",
                    name, f.seconds, f.sectors / f.seconds, fileTime / f.seconds, f.producerWait, f.consumerWait);
    std::printf("memory : %.1f MB peak resident during the burn, %.1f MB above the start (target < 64 + 6.4)\n",
                burnPeak, burnPeak - before);

    const char* pacedText = std::getenv("LUMIVOX_BENCH_PACED_SEGMENTS");
    const int pacedSegments = pacedText ? std::atoi(pacedText) : 200;
    if (pacedSegments > 5) {
        const Project paced = WriteProject(fs::path(base) / "paced", pacedSegments);
        BurnFigures f = BurnOnce(paced.layout, std::string(kEmulatedPrefix) + (out / "paced").string() + "?speed=52",
                                 DriverChoice::Mmc);
        if (!f.ok)
            std::printf("52x    : FAILED: %s\n", f.error.c_str());
        else
            std::printf("52x    : %ld sectors in %.2f s (%.0f sectors/s); lowest drive buffer %.0f of %.0f blocks; "
                        "%d Burn-Proof recoveries (target: never dry)\n",
                        f.sectors, f.seconds, f.sectors / f.seconds, f.lowestBuffer, 2.0 * 1024 * 1024 / 2352,
                        f.recoveries);
    }
    if (made)
        fs::remove_all(base);
    else
        fs::remove_all(out);
    return 0;
}
