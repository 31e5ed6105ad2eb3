// SPDX-License-Identifier: GPL-2.0-or-later
// Picture decoding benchmark: full-mode JPEG decode to a 32-bit PicBitmap against
// `djpeg -dct float -nosmooth` on the same file, reduced-mode decode, PicResizer to
// 704 x 396, and the peak memory of decode + resize against the decoded bitmap's size.
//
//   bench_picture [FILE.jpg]
// Without a file, a 12-megapixel photo-like JPEG (quality 90) is generated first.

#include "picture/PicReader.h"
#include "picture/PicResizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumivox;

namespace {

double BestOf(int runs, const std::function<void()>& job)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        job();
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
        best = std::min(best, d.count());
    }
    return best;
}

// A synthetic photograph: smooth sky and ground gradients, soft shapes and sensor-like
// noise, so that the entropy-coded data is as dense as a real camera picture's.
void WritePhotoLikeJpeg(const std::string& path, int width, int height)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(2);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::mt19937 random(42);
    std::normal_distribution<float> noise(0.0f, 6.0f);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    const float horizon = height * 0.55f;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            float r, g, b;
            if (y < horizon + 40 * std::sin(x * 0.004f)) {
                const float t = y / horizon;
                r = 90 + 100 * t;
                g = 140 + 80 * t;
                b = 230 - 20 * t;
            } else {
                const float t = (y - horizon) / (height - horizon);
                r = 70 + 60 * std::sin(x * 0.013f + y * 0.007f) * (1 - t);
                g = 110 + 50 * std::sin(x * 0.021f) * std::cos(y * 0.017f);
                b = 40 + 30 * t;
            }
            const float dx = x - width * 0.7f, dy = y - height * 0.3f;
            if (dx * dx + dy * dy < 250.0f * 250.0f) {
                r = 250;
                g = 235;
                b = 180;
            }
            const float n = noise(random);
            auto clamp = [](float v) { return static_cast<JSAMPLE>(std::clamp(v, 0.0f, 255.0f)); };
            row[static_cast<std::size_t>(x) * 3 + 0] = clamp(r + n);
            row[static_cast<std::size_t>(x) * 3 + 1] = clamp(g + n);
            row[static_cast<std::size_t>(x) * 3 + 2] = clamp(b + n);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
}

long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::atol(line.c_str() + key.size());
    return -1;
}

bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

bool HaveDjpeg()
{
    return std::system("command -v djpeg >/dev/null 2>&1") == 0;
}

double RunDjpeg(const std::string& path, bool eighth)
{
    return BestOf(5, [&] {
        const pid_t pid = fork();
        if (pid == 0) {
            if (eighth)
                execlp("djpeg", "djpeg", "-dct", "float", "-nosmooth", "-scale", "1/8", "-outfile", "/dev/null",
                       path.c_str(), static_cast<char*>(nullptr));
            else
                execlp("djpeg", "djpeg", "-dct", "float", "-nosmooth", "-outfile", "/dev/null", path.c_str(),
                       static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
    });
}

} // namespace

int main(int argc, char** argv)
{
    std::string path;
    if (argc > 1) {
        path = argv[1];
    } else {
        path = (std::filesystem::temp_directory_path() / "lumivox_bench_12mp.jpg").string();
        if (!std::filesystem::exists(path)) {
            std::printf("generating %s (4256 x 2832, quality 90)...\n", path.c_str());
            WritePhotoLikeJpeg(path, 4256, 2832);
        }
    }

    PicReader reader;
    PicBitmap full;
    try {
        reader.DecodeFile(path, full, 32); // warm the page cache
    } catch (const PLTextException& e) {
        std::fprintf(stderr, "bench_picture: %s: %s\n", path.c_str(), e.GetText().c_str());
        return 1;
    }
    const double bitmapMb = static_cast<double>(full.Stride()) * full.Height() / (1024.0 * 1024.0);
    std::printf("file: %s, %d x %d (%.1f megapixels), bitmap %.1f MB\n", path.c_str(), full.Width(), full.Height(),
                full.Width() * static_cast<double>(full.Height()) / 1e6, bitmapMb);

    const double fullTime = BestOf(5, [&] { reader.DecodeFile(path, full, 32); });
    reader.SetMode(DecodeMode::Reduced);
    PicBitmap reduced;
    const double reducedTime = BestOf(10, [&] { reader.DecodeFile(path, reduced, 32); });
    reader.SetMode(DecodeMode::Full);
    PicBitmap resized;
    const double resizeTime = BestOf(5, [&] { PicResizer(704, 396).Apply(full, resized); });

    std::printf("\n%-40s %10s %10s\n", "", "seconds", "ratio");
    const bool djpeg = HaveDjpeg();
    double djpegEighth = 0;
    if (djpeg) {
        const double djpegTime = RunDjpeg(path, false);
        djpegEighth = RunDjpeg(path, true);
        std::printf("%-40s %10.4f\n", "djpeg -dct float -nosmooth", djpegTime);
        std::printf("%-40s %10.4f %9.2fx faster than djpeg full\n", "djpeg ... -scale 1/8 (library floor)", djpegEighth,
                    djpegTime / djpegEighth);
        std::printf("%-40s %10.4f %9.2fx of djpeg (target <= 1.30)\n", "full decode to 32-bit PicBitmap", fullTime,
                    fullTime / djpegTime);
    } else {
        std::printf("%-40s %10.4f   (djpeg missing: run scripts/setup.sh --bench)\n", "full decode to 32-bit PicBitmap",
                    fullTime);
    }
    std::printf("%-40s %10.4f %9.2fx faster than full (target >= 8)\n", "reduced decode", reducedTime,
                fullTime / reducedTime);
    if (djpeg)
        std::printf("%-40s %10s %9.2fx of djpeg -scale 1/8\n", "", "", reducedTime / djpegEighth);
    std::printf("%-40s %10.4f %9.2fx of full decode (target <= 1.00)\n", "PicResizer to 704 x 396", resizeTime,
                resizeTime / fullTime);

    // Peak memory of one decode + resize, measured from a clean slate.
    full = PicBitmap();
    resized = PicBitmap();
    reduced = PicBitmap();
    if (ResetPeak()) {
        const long baseKb = StatusKb("VmRSS");
        {
            PicBitmap picture;
            reader.DecodeFile(path, picture, 32);
            PicBitmap frame;
            PicResizer(704, 396).Apply(picture, frame);
        }
        const long peakKb = StatusKb("VmHWM");
        const double peakMb = (peakKb - baseKb) / 1024.0;
        std::printf("%-40s %9.1f MB %8.2fx of the bitmap (target <= 2.50)\n", "peak memory of decode + resize", peakMb,
                    peakMb / bitmapMb);
    } else {
        std::printf("peak memory: /proc/self/clear_refs not writable, not measured\n");
    }
    return 0;
}
