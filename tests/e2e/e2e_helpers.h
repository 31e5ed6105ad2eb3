// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared helpers of the end-to-end tests: running lumivox-cli and other programs,
// scratch folders, and luminance comparison of decoded stills with rendered frames.

#include "picture/PicBitmap.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumivox::e2e {

struct CommandResult {
    int status = -1; // exit status, -1 when the program did not end normally
    std::string output; // standard output and standard error together
};

// Runs a shell command line, capturing both output streams.
CommandResult RunShell(const std::string& commandLine);
// Runs build/bin/lumivox-cli with the given (already quoted) arguments.
CommandResult RunCli(const std::string& arguments);
std::string CliPath();
// Single-quotes text for the shell.
std::string Quote(const std::string& text);

bool HaveProgram(const std::string& name);
// /usr/bin/python3 with pycdlib and PIL importable.
bool HaveSystemPython();

// A fresh folder under the system temporary folder, removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// The luminance the still encoder computes from a 32-bit frame, rows from the top:
// Y = (29 B + 150 G + 77 R) / 256, truncated.
std::vector<std::uint8_t> FrameLuma(const PicBitmap& frame);
// The luminance plane of the first picture of a video stream, decoded by ffmpeg without
// any conversion; `streamId` picks a stream of a program stream (0x1E2), 0 takes the
// first video stream. Empty when ffmpeg fails or the size differs.
std::vector<std::uint8_t> DecodeLuma(const std::filesystem::path& file, int streamId, int width, int height);
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// One "key=value,key=value" line per stream, sorted, from ffprobe.
std::vector<std::string> ProbeStreams(const std::filesystem::path& file);

// Where a program stream's packs are: every pack must start with a pack start code at a
// multiple of packSize and its packets must end within packSize bytes, followed only by
// zero bytes; firstProblem names the first pack that does not.
struct PackLayout {
    std::size_t packs = 0;
    std::string firstProblem;
};
PackLayout CheckPacks(const std::vector<std::uint8_t>& stream, std::size_t packSize);

} // namespace lumivox::e2e
