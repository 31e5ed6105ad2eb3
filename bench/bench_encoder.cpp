// SPDX-License-Identifier: GPL-2.0-or-later
// One 704 x 480 high-resolution still: Lumivox's EncodeStill (frame read and colour
// conversion here, encoding in the lumivox-mjpeg helper) against the command a user would
// run on the same frame, `ppmtoy4m | mpeg2enc -f 6 -T 200`. Ours is measured three ways:
// reference block transforms with a helper started per encode, fast transforms likewise,
// and fast transforms in a helper kept from encode to encode (what a run does). Prints
// the median of several runs of each, side by side. Target: at most 1.0x the command's
// time.
//   bench_encoder [RUNS]

#include "production/MjpegJob.h"
#include "production/StillEncoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 704;
constexpr int kHeight = 480;

// A photo-like frame: gradients, texture and hard edges, so the encoder does real work.
void Colour(int x, int y, int& r, int& g, int& b)
{
    double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
    double texture = 14 * std::sin(x * 0.11) * std::cos(y * 0.07) + 8 * std::sin((x + 2 * y) * 0.31);
    r = static_cast<int>(std::clamp(90 + 120 * u + texture, 0.0, 255.0));
    g = static_cast<int>(std::clamp(140 + 60 * std::sin(v * 6) + texture, 0.0, 255.0));
    b = static_cast<int>(std::clamp(200 - 120 * v + texture / 2, 0.0, 255.0));
    if ((x / 64 + y / 48) % 5 == 0)
        r = g = b = 235;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Processor time (user + system) of this process and of its ended children, in ms: on a
// busy machine it shows the work done better than the wall clock does.
double CpuMs()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
                 usage.ru_stime.tv_usec / 1e3;
    }
    return total;
}

bool HaveCommand(const char* name)
{
    std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    fs::path folder = fs::temp_directory_path() / "lumivox-bench-encoder";
    fs::create_directories(folder);

    lumivox::PicBitmap frame;
    frame.Create(kWidth, kHeight, 32, false);
    std::ofstream ppm(folder / "frame.ppm", std::ios::binary);
    ppm << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = frame.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            int r, g, b;
            Colour(x, y, r, g, b);
            row[x * 4] = static_cast<std::uint8_t>(b);
            row[x * 4 + 1] = static_cast<std::uint8_t>(g);
            row[x * 4 + 2] = static_cast<std::uint8_t>(r);
            char pixel[3] = {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
            ppm.write(pixel, 3);
        }
    }
    ppm.close();

    bool haveCommand = HaveCommand("ppmtoy4m") && HaveCommand("mpeg2enc");
    std::string command = "ppmtoy4m -v 0 -F 25:1 -S 420mpeg2 '" + (folder / "frame.ppm").string() +
                          "' | mpeg2enc -v 0 -f 6 -T 200 -a 2 -o '" + (folder / "theirs.m1v").string() + "'";
    // Our variants: the library's reference block transforms with one helper program per
    // encode (as before), the fast transforms likewise, and the fast transforms in a kept
    // helper (as a production run's worker encodes). All are run alternately with the
    // command, so that a busy machine slows them alike.
    struct Variant {
        const char* name;
        lumivox::StillTransforms transforms;
        bool kept;
        std::vector<double> ms;
    } variants[] = {
        {"EncodeStill, reference DCT, helper per job", lumivox::StillTransforms::Reference, false, {}},
        {"EncodeStill, fast DCT, helper per job", lumivox::StillTransforms::Fast, false, {}},
        {"EncodeStill, fast DCT, kept helper", lumivox::StillTransforms::Fast, true, {}},
    };
    lumivox::MjpegHelperProcess kept;
    std::vector<double> theirs, theirsCpu;
    for (int i = 0; i < runs; ++i) {
        for (Variant& variant : variants) {
            auto start = Clock::now();
            std::optional<lumivox::MjpegHelperScope> scope;
            if (variant.kept)
                scope.emplace(&kept);
            lumivox::StillEncoder encoder;
            encoder.SetTransforms(variant.transforms);
            encoder.SetStillFrame(frame);
            std::string error;
            if (!encoder.PrepareStillEncoder(&error) ||
                !encoder.EncodeStill((folder / "ours.m1v").string(), lumivox::TvNorm::Ntsc, &error)) {
                std::fprintf(stderr, "bench_encoder: encode failed: %s\n", error.c_str());
                return 1;
            }
            variant.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        if (!haveCommand)
            continue;
        auto start = Clock::now();
        double cpu = CpuMs();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "bench_encoder: the reference command failed\n");
            return 1;
        }
        theirs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        theirsCpu.push_back(CpuMs() - cpu);
    }
    std::printf("704x480 still, %d runs each%24s %8s %8s\n", runs, "", "median", "best");
    for (const Variant& variant : variants)
        std::printf("%-48s %6.1f ms %6.1f ms\n", variant.name, Median(variant.ms),
                    *std::min_element(variant.ms.begin(), variant.ms.end()));
    const double reference = Median(variants[0].ms);
    for (std::size_t v = 1; v < std::size(variants); ++v)
        std::printf("ratio to the first, %-28s %6.2fx\n", variants[v].name + std::strlen("EncodeStill, "),
                    Median(variants[v].ms) / reference);
    if (!haveCommand) {
        std::printf("ppmtoy4m | mpeg2enc: not installed (scripts/setup.sh --bench)\n");
        return 0;
    }
    double theirsMs = Median(theirs);
    std::printf("%-48s %6.1f ms %6.1f ms  (%ju bytes)\n", "ppmtoy4m | mpeg2enc -f 6 -T 200", theirsMs,
                *std::min_element(theirs.begin(), theirs.end()),
                static_cast<std::uintmax_t>(fs::file_size(folder / "theirs.m1v")));
    const double ours = Median(variants[2].ms);
    std::printf("%-48s %6.2fx                (target <= 1.00x)\n", "ratio (kept helper, fast DCT / command)",
                ours / theirsMs);
    std::printf("processor time of the command, median: %.1f ms\n", Median(theirsCpu));
    fs::remove_all(folder);
    return 0;
}
