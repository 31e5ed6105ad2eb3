// SPDX-License-Identifier: GPL-2.0-or-later
// Menu-music conversion speed: a 4-minute 44.1 kHz stereo MP3 converted to the Layer II
// file in-process (ConvertBackgroundMusic, MP3 decode + Layer II encode) against
// `ffmpeg -i song.mp3 -c:a mp2 -b:a 192k` on the same file. Each side runs several times
// and the best wall-clock time counts. Target: at most 1.5 × ffmpeg's time.
//
//   bench_music [RUNS] [SONG.mp3]    (a song is made with ffmpeg when none is given)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "production/MusicConversion.h"

namespace {

using Clock = std::chrono::steady_clock;

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Best wall-clock time of several runs; *cpuPerRun gets the mean processor time of a run
// (of this process for in-process work, of the children for a command), which a loaded
// machine disturbs less.
template <typename Work>
double BestSeconds(int runs, int who, double* cpuPerRun, Work work)
{
    double best = 1e9;
    const double cpuBefore = CpuSeconds(who);
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!work())
            return -1;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    *cpuPerRun = (CpuSeconds(who) - cpuBefore) / runs;
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char folderPattern[] = "/tmp/lumivox-bench-music-XXXXXX";
    if (!mkdtemp(folderPattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = std::string(folderPattern) + "/";
    std::string song = argc > 2 ? argv[2] : folder + "song.mp3";
    if (argc <= 2) {
        std::printf("making a 4-minute 44.1 kHz stereo MP3 with ffmpeg...\n");
        const std::string make =
            "ffmpeg -nostdin -loglevel error -y "
            "-f lavfi -i \"aevalsrc=0.25*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)+0.15*sin(2*PI*330*t):s=44100:d=240\" "
            "-f lavfi -i \"anoisesrc=c=pink:r=44100:a=0.05:seed=1:d=240\" -filter_complex amix=inputs=2:normalize=0 "
            "-ac 2 -c:a libmp3lame -b:a 192k " +
            song;
        if (Shell(make) != 0) {
            std::fprintf(stderr, "bench_music: ffmpeg with libmp3lame is needed (scripts/setup.sh --bench)\n");
            return 1;
        }
    }

    const std::string ours = folder + "bkmusic.mp2";
    double oursCpu = 0, ffmpegCpu = 0;
    const double oursSeconds = BestSeconds(runs, RUSAGE_SELF, &oursCpu, [&] {
        std::string error;
        if (!lumivox::ConvertBackgroundMusic(ours, song, folder, &error)) {
            std::fprintf(stderr, "bench_music: %s\n", error.c_str());
            return false;
        }
        return true;
    });
    const std::string reference =
        "ffmpeg -nostdin -loglevel error -y -i " + song + " -c:a mp2 -b:a 192k " + folder + "ffmpeg.mp2";
    const double ffmpegSeconds = BestSeconds(runs, RUSAGE_CHILDREN, &ffmpegCpu, [&] { return Shell(reference) == 0; });

    std::error_code ignored;
    std::filesystem::remove_all(folderPattern, ignored);
    if (oursSeconds < 0 || ffmpegSeconds <= 0) {
        std::fprintf(stderr, "bench_music: a run failed\n");
        return 1;
    }
    const double ratio = oursSeconds / ffmpegSeconds;
    std::printf("menu music, 4 min 44.1 kHz stereo MP3 -> Layer II 192 kbit/s (best of %d)\n", runs);
    std::printf("                                    wall (best)   processor (mean)\n");
    std::printf("  lumivox ConvertBackgroundMusic   %7.3f s     %7.3f s\n", oursSeconds, oursCpu);
    std::printf("  ffmpeg -c:a mp2 -b:a 192k        %7.3f s     %7.3f s\n", ffmpegSeconds, ffmpegCpu);
    std::printf("  wall-clock ratio %.2fx (target <= 1.50x): %s\n", ratio, ratio <= 1.5 ? "met" : "NOT met");
    std::printf("  processor-time ratio %.2fx (the encoder's psychoacoustic model 1 against ffmpeg's\n"
                "  model-free mp2 encoder; parts of the song are encoded on all cores at once)\n",
                oursCpu / ffmpegCpu);
    return 0;
}
