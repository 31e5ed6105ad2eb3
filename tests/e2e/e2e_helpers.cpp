// SPDX-License-Identifier: GPL-2.0-or-later
#include "e2e/e2e_helpers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace lumivox::e2e {

namespace fs = std::filesystem;

CommandResult RunShell(const std::string& commandLine)
{
    CommandResult result;
    const std::string full = "exec 2>&1; " + commandLine;
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe)
        return result;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string CliPath()
{
    return std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli";
}

CommandResult RunCli(const std::string& arguments)
{
    return RunShell("QT_QPA_PLATFORM=offscreen " + Quote(CliPath()) + " " + arguments);
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool HaveProgram(const std::string& name)
{
    return RunShell("command -v " + Quote(name) + " >/dev/null").status == 0;
}

bool HaveSystemPython()
{
    return RunShell("/usr/bin/python3 -c 'import pycdlib, PIL'").status == 0;
}

TempFolder::TempFolder()
{
    std::random_device random;
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("lumivox-e2e-" + std::to_string(getpid()) + "-" + std::to_string(random() % 1000000));
        std::error_code code;
        if (fs::create_directory(path_, code))
            break;
    }
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!std::getenv("LUMIVOX_KEEP_TEST_FILES"))
        fs::remove_all(path_, ignored);
}

std::vector<std::uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> FrameLuma(const PicBitmap& frame)
{
    std::vector<std::uint8_t> luma;
    if (frame.BitsPerPixel() != 32)
        return luma;
    luma.reserve(static_cast<std::size_t>(frame.Width()) * frame.Height());
    for (int y = 0; y < frame.Height(); ++y) {
        const std::uint8_t* row = frame.Row(y);
        for (int x = 0; x < frame.Width(); ++x) {
            const int b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
            luma.push_back(static_cast<std::uint8_t>((29 * b + 150 * g + 77 * r) / 256));
        }
    }
    return luma;
}

std::vector<std::uint8_t> DecodeLuma(const fs::path& file, int streamId, int width, int height)
{
    fs::path raw = file;
    raw += ".luma";
    char map[32] = "0:v:0";
    if (streamId)
        std::snprintf(map, sizeof map, "0:i:0x%x", static_cast<unsigned>(streamId));
    const CommandResult run = RunShell("ffmpeg -nostdin -v error -y -i " + Quote(file.string()) + " -map " + map +
                                       " -frames:v 1 -f rawvideo -pix_fmt yuv420p " + Quote(raw.string()));
    // The planes as they are in the stream: asking ffmpeg for grey would rescale the
    // luminance from video range to full range, which the still never used.
    std::vector<std::uint8_t> luma;
    if (run.status == 0)
        luma = ReadFile(raw);
    std::error_code ignored;
    fs::remove(raw, ignored);
    const std::size_t lumaBytes = static_cast<std::size_t>(width) * height;
    const std::size_t chromaBytes = static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
    if (luma.size() != lumaBytes + 2 * chromaBytes)
        luma.clear();
    else
        luma.resize(lumaBytes);
    return luma;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

std::vector<std::string> ProbeStreams(const fs::path& file)
{
    const CommandResult run =
        RunShell("ffprobe -v error -show_entries stream=id,codec_type,codec_name,width,height,sample_rate,"
                 "channels -of compact=p=0 " +
                 Quote(file.string()) + " 2>/dev/null");
    std::vector<std::string> lines;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

PackLayout CheckPacks(const std::vector<std::uint8_t>& stream, std::size_t packSize)
{
    PackLayout layout;
    if (stream.empty() || stream.size() % packSize != 0) {
        layout.firstProblem = "the size " + std::to_string(stream.size()) + " is not a whole number of " +
                              std::to_string(packSize) + "-byte packs";
        return layout;
    }
    // Each pack is walked through its parts: the 12-byte MPEG-1 pack header (ISO/IEC
    // 11172-1 2.4.3.2), an optional system header and PES packets, each with its 16-bit
    // length, and at the very end possibly the 4-byte program end code. The parts must
    // fill the sector, except for zero bytes after the last packet (a Video CD audio
    // pack is 2,304 bytes followed by 20 zero bytes).
    for (std::size_t at = 0; at < stream.size(); at += packSize) {
        const std::uint8_t* p = &stream[at];
        const std::string where = "pack " + std::to_string(at / packSize) + " (byte " + std::to_string(at) + ")";
        if (!(p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xBA) || (p[4] & 0xF0) != 0x20) {
            layout.firstProblem = where + ": no MPEG-1 pack header";
            return layout;
        }
        std::size_t offset = 12;
        while (offset < packSize) {
            if (std::all_of(p + offset, p + packSize, [](std::uint8_t b) { return b == 0; }))
                break;
            if (offset + 4 > packSize || p[offset] != 0 || p[offset + 1] != 0 || p[offset + 2] != 1) {
                layout.firstProblem = where + ": no start code at offset " + std::to_string(offset);
                return layout;
            }
            const int code = p[offset + 3];
            if (code == 0xB9) {
                offset += 4;
                continue;
            }
            if (code < 0xBB || offset + 6 > packSize) {
                layout.firstProblem =
                    where + ": unexpected start code " + std::to_string(code) + " at offset " + std::to_string(offset);
                return layout;
            }
            offset += 6 + (static_cast<std::size_t>(p[offset + 4]) << 8 | p[offset + 5]);
        }
        if (offset > packSize) {
            layout.firstProblem = where + ": its last packet runs to " + std::to_string(offset) +
                                  ", past the end of the " + std::to_string(packSize) + "-byte sector";
            return layout;
        }
        ++layout.packs;
    }
    return layout;
}

} // namespace lumivox::e2e
