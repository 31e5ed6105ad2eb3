// SPDX-License-Identifier: GPL-2.0-or-later
#include "encoder/encoder_helpers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include <unistd.h>

namespace lumivox::test {
namespace fs = std::filesystem;

namespace {
void PutLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
} // namespace

std::vector<std::uint8_t> MakeHeader(int width, int height, int bitsPerPixel, std::uint32_t compression,
                                     std::uint32_t coloursUsed)
{
    std::vector<std::uint8_t> header(40, 0);
    PutLe32(&header[0], 40);
    PutLe32(&header[4], static_cast<std::uint32_t>(width));
    PutLe32(&header[8], static_cast<std::uint32_t>(height));
    PutLe16(&header[12], 1);
    PutLe16(&header[14], static_cast<std::uint16_t>(bitsPerPixel));
    PutLe32(&header[16], compression);
    PutLe32(&header[32], coloursUsed);
    return header;
}

DibFrame MakeFrame(int width, int height, int bitsPerPixel, const std::function<Rgb(int x, int y)>& colour,
                   std::uint8_t alpha)
{
    DibFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bitsPerPixel = bitsPerPixel;
    frame.header = MakeHeader(width, height, bitsPerPixel);
    std::size_t stride = ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
    frame.pixels.assign(stride * height, 0);
    int bytes = bitsPerPixel / 8;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = &frame.pixels[stride * (height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            Rgb c = colour(x, y);
            row[x * bytes] = static_cast<std::uint8_t>(c.b);
            row[x * bytes + 1] = static_cast<std::uint8_t>(c.g);
            row[x * bytes + 2] = static_cast<std::uint8_t>(c.r);
            if (bytes == 4)
                row[x * bytes + 3] = alpha;
        }
    }
    return frame;
}

Rgb PhotoLikeColour(int x, int y, int width, int height)
{
    double u = static_cast<double>(x) / width;
    double v = static_cast<double>(y) / height;
    // Sky-like gradient on top, warm ground below, soft texture and a few hard edges.
    double texture = 12 * std::sin(x * 0.09) * std::cos(y * 0.07) + 6 * std::sin((x + y) * 0.23);
    double r, g, b;
    if (v < 0.45) {
        r = 90 + 80 * v + 40 * u;
        g = 140 + 60 * v;
        b = 210 - 30 * u;
    } else {
        r = 150 + 50 * std::sin(u * 5) + texture;
        g = 110 + 30 * std::cos(v * 7) + texture;
        b = 60 + 20 * u + texture / 2;
    }
    // A dark "tree" and a bright "house wall" with sharp outlines.
    if (std::hypot(x - width * 0.25, y - height * 0.55) < height * 0.12) {
        r = 40 + texture;
        g = 80 + texture;
        b = 35;
    }
    if (x > width * 0.6 && x < width * 0.8 && y > height * 0.35 && y < height * 0.75) {
        r = 225;
        g = 215;
        b = 190;
    }
    auto clamp = [](double value) { return static_cast<int>(std::clamp(value, 0.0, 255.0)); };
    return {clamp(r), clamp(g), clamp(b)};
}

SequenceHeader ParseSequenceHeader(const std::vector<std::uint8_t>& s)
{
    SequenceHeader header;
    for (std::size_t i = 0; i + 12 <= s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB3) {
            const std::uint8_t* p = &s[i + 4];
            header.found = true;
            header.width = p[0] << 4 | p[1] >> 4;
            header.height = (p[1] & 0x0F) << 8 | p[2];
            header.aspectCode = p[3] >> 4;
            header.frameRateCode = p[3] & 0x0F;
            header.bitRate400 = static_cast<std::uint32_t>(p[4]) << 10 | p[5] << 2 | p[6] >> 6;
            header.vbvBufferSize = (p[6] & 0x1F) << 5 | p[7] >> 3;
            break;
        }
    }
    return header;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "lumivox-encoder-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()))
        path_ = buffer.data();
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!path_.empty())
        fs::remove_all(path_, ignored);
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

std::string RunCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return output;
    }
    std::array<char, 4096> buffer;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), got);
    int result = ::pclose(pipe);
    if (status)
        *status = result;
    return output;
}

bool HaveFfmpeg()
{
    static const bool have = [] {
        int a = 0, b = 0;
        RunCommand("ffmpeg -version >/dev/null 2>&1", &a);
        RunCommand("ffprobe -version >/dev/null 2>&1", &b);
        return a == 0 && b == 0;
    }();
    return have;
}

bool DecodeYuv420(const fs::path& file, int width, int height, std::vector<std::uint8_t>& yuv)
{
    fs::path out = file;
    out += ".yuv";
    int status = 0;
    RunCommand("ffmpeg -v error -y -i " + Quote(file.string()) + " -frames:v 1 -f rawvideo -pix_fmt yuv420p " +
                   Quote(out.string()) + " 2>&1",
               &status);
    if (status != 0)
        return false;
    yuv = ReadFile(out);
    std::size_t expected =
        static_cast<std::size_t>(width) * height + 2 * static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
    return yuv.size() == expected;
}

double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0)
        return 99.0;
    return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(count)));
}

std::vector<std::string> ProbeStreams(const fs::path& file)
{
    std::string text =
        RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,"
                   "channels,r_frame_rate,duration -of csv=p=0 " +
                   Quote(file.string()) + " 2>/dev/null");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

PackWalk WalkPacks(const std::vector<std::uint8_t>& f, std::size_t packSize)
{
    PackWalk walk;
    auto problem = [&](std::size_t at, const std::string& what) {
        if (walk.firstProblem.empty())
            walk.firstProblem = what + " at byte " + std::to_string(at);
    };
    if (f.empty() || f.size() % packSize != 0)
        problem(f.size(), "file size not a whole number of packs");
    for (std::size_t start = 0; start + packSize <= f.size(); start += packSize) {
        ++walk.packs;
        const std::uint8_t* p = &f[start];
        if (!(p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xBA)) {
            problem(start, "no pack header");
            continue;
        }
        if ((p[4] & 0xF0) != 0x20)
            problem(start, "not an MPEG-1 pack header");
        std::size_t pos = start + 12;
        std::size_t end = start + packSize;
        while (pos + 6 <= end) {
            if (!(f[pos] == 0 && f[pos + 1] == 0 && f[pos + 2] == 1)) {
                // Zero bytes after the program end code fill the last pack.
                if (f[pos] == 0) {
                    ++pos;
                    continue;
                }
                problem(pos, "no packet start code");
                break;
            }
            int id = f[pos + 3];
            if (id == 0xB9) {
                pos += 4;
                continue;
            }
            std::size_t length = static_cast<std::size_t>(f[pos + 4]) << 8 | f[pos + 5];
            std::size_t next = pos + 6 + length;
            if (next > end) {
                problem(pos, "packet runs past its pack");
                break;
            }
            if ((id & 0xE0) == 0xC0 || (id & 0xF0) == 0xE0) {
                if (std::find(walk.streamIds.begin(), walk.streamIds.end(), id) == walk.streamIds.end())
                    walk.streamIds.push_back(id);
                if ((id & 0xE0) == 0xC0) {
                    // MPEG-1 packet header: stuffing, STD buffer, time stamps.
                    std::size_t h = pos + 6;
                    while (h < next && f[h] == 0xFF)
                        ++h;
                    if (h < next && (f[h] & 0xC0) == 0x40)
                        h += 2;
                    if (h < next && (f[h] & 0xF0) == 0x20)
                        h += 5;
                    else if (h < next && (f[h] & 0xF0) == 0x30)
                        h += 10;
                    else if (h < next && f[h] == 0x0F)
                        h += 1;
                    if (h <= next)
                        walk.audioPayloadBytes += next - h;
                }
            }
            pos = next;
        }
    }
    return walk;
}

fs::path InstalledFile(const std::string& name)
{
    fs::path inBin = fs::path(LUMIVOX_BIN_DIR) / name;
    if (fs::exists(inBin))
        return inBin;
    return fs::path(LUMIVOX_SOURCE_DIR) / "data" / name;
}

} // namespace lumivox::test
